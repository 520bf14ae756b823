// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/editor/ServiceForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTabWidget>

#include "engine/ServicePolicy.h"
#include "ui/editor/AlarmBoxes.h"
#include "ui/editor/FrameWidgets.h"
#include "ui/editor/SchedulePicker.h"
#include "ui/editor/ServiceKindPanel.h"
#include "ui/support/FormSupport.h"

namespace vantor::ui {

namespace {

std::string Flag(const QCheckBox* box) {
    return box->isChecked() ? "y" : "n";
}

}  // namespace

ServiceForm::ServiceForm(SchedulePicker& schedule, ServiceKindPanel& kinds, AlarmBoxes& alarms,
                         QComboBox* runState)
    : m_schedule(schedule), m_kinds(kinds), m_alarms(alarms), m_runState(runState) {}

void ServiceForm::reset() {
    m_schedule.reset();
    m_kinds.reset();
    m_alarms.reset();
    if (m_runState != nullptr) {
        m_runState->setCurrentIndex(0);
    }
}

std::optional<FormProblem> ServiceForm::checkSchedule() const {
    if (!m_schedule.complete()) {
        return FormProblem{QStringLiteral("Please select the scheduling method.")};
    }
    if (!IsInteger(m_schedule.hour()) || !IsInteger(m_schedule.minute())) {
        return FormProblem{QStringLiteral("Please select valid minute and hour.")};
    }
    return std::nullopt;
}

std::optional<FormProblem> ServiceForm::checkService() const {
    DetailFrame* frame = m_kinds.currentDetail();
    if (frame == nullptr) {
        return FormProblem{QStringLiteral("Please select service."), m_kinds.ComboBoxServiceKind};
    }
    return FirstProblem([frame] { return frame->check(); },
                        [frame] { return RefuseControlCharacters(&frame->tabs()); });
}

std::optional<FormProblem> ServiceForm::checkAlarms(
    const std::function<bool(const std::string&)>& exists) const {
    registry::ServiceFields f;
    m_alarms.read(f);
    if (!f.parent.empty()) {
        if (f.parent == registry::KeyOf(read())) {
            return FormProblem{QStringLiteral("A service cannot depend on itself."),
                               m_alarms.EditParent};
        }
        if (!exists(f.parent)) {
            return FormProblem{
                QStringLiteral("There is no service with the ID \"%1\" to depend on.")
                    .arg(QString::fromStdString(f.parent)),
                m_alarms.EditParent};
        }
    }
    if (const auto problem = engine::CheckOwnPolicy(f)) {
        return FormProblem{QString::fromStdString(problem->text),
                           m_alarms.control(problem->element)};
    }
    return std::nullopt;
}

bool ServiceForm::onAlarmPage(const FormProblem& problem) const {
    return problem.field != nullptr && m_alarms.isAncestorOf(problem.field);
}

void ServiceForm::point(const FormProblem& problem) const {
    if (problem.field == nullptr) {
        return;
    }
    if (QTabWidget* frame = m_kinds.currentFrame()) {
        ShowPageOf(*frame, problem.field);
    }
    problem.field->setFocus();
}

registry::ServiceFields ServiceForm::read() const {
    registry::ServiceFields f;
    f.scheduleBy = StdText(m_schedule.chosenKind());
    f.scheduleHour = StdText(m_schedule.hour());
    f.scheduleMinute = StdText(m_schedule.minute());
    f.runState = m_runState != nullptr ? StdText(m_runState->currentText()) : std::string("Start");
    f.alarmEmail = Flag(m_alarms.CheckBoxEmail);
    f.alarmSmpp = Flag(m_alarms.CheckBoxSMS);
    f.alarmHttpSms = Flag(m_alarms.CheckBoxSMSByHTTP);
    f.alarmSyslog = Flag(m_alarms.CheckBoxSysLog);
    m_alarms.read(f);
    if (DetailFrame* frame = m_kinds.currentDetail()) {
        frame->read(f);
    }
    return f;
}

void ServiceForm::load(const registry::ServiceFields& service) const {
    m_schedule.load(service.scheduleBy, service.scheduleHour, service.scheduleMinute);
    if (m_runState != nullptr) {
        m_runState->setCurrentIndex(
            std::max(0, m_runState->findText(QString::fromStdString(service.runState))));
    }
    m_kinds.load(service);
    m_alarms.CheckBoxEmail->setChecked(service.alarmEmail == "y");
    m_alarms.CheckBoxSMS->setChecked(service.alarmSmpp == "y");
    m_alarms.CheckBoxSMSByHTTP->setChecked(service.alarmHttpSms == "y");
    m_alarms.load(service);
    m_alarms.CheckBoxSysLog->setChecked(service.alarmSyslog == "y");
}

QString ServiceForm::hostText() const {
    DetailFrame* frame = m_kinds.currentDetail();
    return frame != nullptr ? frame->hostText() : QString();
}

QString ServiceForm::portText() const {
    DetailFrame* frame = m_kinds.currentDetail();
    return frame != nullptr ? frame->portText() : QString();
}

}  // namespace vantor::ui
