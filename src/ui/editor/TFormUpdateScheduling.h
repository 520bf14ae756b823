// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <functional>
#include <string>

#include "ui/editor/ServiceForm.h"
#include "ui/support/OwnedDialog.h"

class QComboBox;
class QLabel;
class QPushButton;
class QTabWidget;
class QTreeWidget;

namespace vantor::session {
class Session;
}

namespace vantor::ui {

class AlarmBoxes;
class SchedulePicker;
class ServiceKindPanel;

// "Update Services": every record in a list; the one loaded can be changed
// on three tabs and saved, or deleted.
class TFormUpdateScheduling final : public OwnedDialog {
public:
    TFormUpdateScheduling(session::Session& session, CommandLock& lock, QWidget* parent);

    // Loads the record with this key into the form.
    void loadRecord(const std::string& key);
    void showStatus(const QString& text);
    const std::string& loadedKey() const { return m_key; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void resetForm();
    void fillList();
    void save();
    void remove();
    bool validate();

    session::Session& m_session;
    std::string m_key;
    QTabWidget* m_tabs;
    SchedulePicker* m_schedule;
    QComboBox* m_runState;
    ServiceKindPanel* m_kinds;
    AlarmBoxes* m_alarms;
    ServiceForm m_form;
    QPushButton* m_save;
    QPushButton* m_delete;
    QTreeWidget* m_list;
    QLabel* m_status;
    std::array<bool, 8> m_descending{};
};

}  // namespace vantor::ui
