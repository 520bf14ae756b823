// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

#include "ui/settings/AlarmingPages.h"
#include "ui/support/OwnedDialog.h"

class QLabel;
class QPushButton;
class QTabWidget;

namespace vantor::alarm {
class SenderWorkItem;
}

namespace vantor::session {
class Session;
}

namespace vantor::ui {

// "Alarming Options": the four alarm methods of SysInit.ini, each on a page
// with a trial send of the values on the page.
class TFormAlarmingSettings final : public OwnedDialog {
public:
    TFormAlarmingSettings(session::Session& session, CommandLock& lock, QWidget* parent);

    // The main window's status bar, and its help at a topic.
    std::function<void(const QString&)> onStatus;
    std::function<void(const QString&)> onHelp;

    // Whether a trial send is out.
    bool trialRunning() const { return m_trialRunning; }

protected:
    void showEvent(QShowEvent* event) override;
    // Cancel says so in the status bar; the close box closes without a word.
    void cancel();

private:
    void load();
    void followEnable();
    void followPage();
    bool validatePage(int page);
    void apply();
    void runTrial();
    void trialDone(const alarm::SenderWorkItem& item, int page);
    void status(const QString& text);
    void refuse(const QString& message, QWidget* field);

    session::Session& m_session;
    QTabWidget* m_pages;
    AlarmingPages m_ui;
    // The fifth page: when verdicts alarm.
    class PolicyPage* m_policy = nullptr;
    QPushButton* m_test;
    QPushButton* m_apply;
    QLabel* m_status;
    bool m_trialRunning = false;
};

}  // namespace vantor::ui
