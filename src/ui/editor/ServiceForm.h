// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <functional>
#include <optional>

#include "registry/ServiceFields.h"
#include "ui/editor/DetailFrame.h"

class QComboBox;
class QWidget;

namespace vantor::ui {

class AlarmBoxes;
class SchedulePicker;
class ServiceKindPanel;

// What the new-service wizard and the update dialog share of a service's
// form: the schedule, the kind with its detail frame (which checks, reads
// and loads its own fields), the alarm methods and, in the update dialog,
// the run state.
class ServiceForm final {
public:
    ServiceForm(SchedulePicker& schedule, ServiceKindPanel& kinds, AlarmBoxes& alarms,
                QComboBox* runState = nullptr);

    void reset();
    std::optional<FormProblem> checkSchedule() const;
    // The kind's frame, then no line break or other control character
    // anywhere in it.
    std::optional<FormProblem> checkService() const;
    // The alarm page: a parent that is not in the list (exists says which
    // keys are) or is the service itself, a policy value that is not one.
    std::optional<FormProblem> checkAlarms(
        const std::function<bool(const std::string&)>& exists) const;
    bool onAlarmPage(const FormProblem& problem) const;
    // Brings the frame's page with the field to the front and puts the
    // focus in it.
    void point(const FormProblem& problem) const;

    // The service as entered.
    registry::ServiceFields read() const;
    void load(const registry::ServiceFields& service) const;

    // What the wizard's test labels show.
    QString hostText() const;
    QString portText() const;

private:
    SchedulePicker& m_schedule;
    ServiceKindPanel& m_kinds;
    AlarmBoxes& m_alarms;
    QComboBox* m_runState;
};

}  // namespace vantor::ui
