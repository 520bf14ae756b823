// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

#include "ui/editor/ServiceForm.h"
#include "ui/support/OwnedDialog.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;

namespace vantor::session {
class Session;
}

namespace vantor::ui {

class AlarmBoxes;
class SchedulePicker;
class ServiceKindPanel;

// "Setup New Service": schedule, kind and settings, a trial check, alarm
// methods, then the new record in service.xml.
class TFormSetupScheduling final : public OwnedDialog {
public:
    TFormSetupScheduling(session::Session& session, CommandLock& lock, QWidget* parent);
    ~TFormSetupScheduling() override;

    // Opens the help at a topic.
    std::function<void(const QString&)> onHelp;

    int currentStep() const { return m_step; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void reset();
    void next();
    void back();
    void goTo(int step);
    void tabClicked(int page);
    void fillTestLabels();
    void testConnection();
    void finish();
    bool validate(bool schedule, bool service, bool alarms = false);
    void status(const QString& text);

    session::Session& m_session;
    int m_step = 0;
    QTabWidget* m_pages;
    SchedulePicker* m_schedule;
    ServiceKindPanel* m_kinds;
    AlarmBoxes* m_alarms;
    ServiceForm m_form;
    QLabel* m_testService;
    QLabel* m_testHost;
    QLabel* m_testPort;
    QPushButton* m_test;
    QPlainTextEdit* m_memo;
    QPushButton* m_help;
    QPushButton* m_back;
    QPushButton* m_next;
    QPushButton* m_cancel;
    QLabel* m_status;
};

}  // namespace vantor::ui
