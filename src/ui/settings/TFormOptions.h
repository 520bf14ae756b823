// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

#include "ui/support/OwnedDialog.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace vantor::session {
class Session;
}

namespace vantor::ui {

// "Options": automatic start, the system log and alarm backup files, the
// length of the alarm list, and each kind of check's timeout and retry.
class TFormOptions final : public OwnedDialog {
public:
    TFormOptions(session::Session& session, CommandLock& lock, QWidget* parent);

    // The main window's status bar.
    std::function<void(const QString&)> onStatus;

protected:
    void showEvent(QShowEvent* event) override;
    // Cancel says so in the status bar; the close box closes without a word.
    void cancel();

private:
    struct Kind {
        QLineEdit* timeout;
        QCheckBox* retry;
    };
    void load();
    void apply();
    void setDefaults();
    void browse();
    void followEnable();
    void status(const QString& text);

    session::Session& m_session;
    QTabWidget* m_tabs;
    QComboBox* m_initStart;
    QLineEdit* m_logFilename;
    QComboBox* m_logHouseKeep;
    QComboBox* m_level;
    QComboBox* m_showLogItem;
    QCheckBox* m_backupEnable;
    QLineEdit* m_backupPath;
    QPushButton* m_browse;
    QLineEdit* m_backupFilename;
    QComboBox* m_backupHouseKeep;
    Kind m_url;
    Kind m_ping;
    Kind m_database;
    Kind m_ftp;
    Kind m_email;
    QPushButton* m_apply;
    QLabel* m_status;
};

}  // namespace vantor::ui
