#pragma once

#include <QString>
#include <optional>

#include "engine/MonitorEngine.h"

class QComboBox;
class QWidget;

namespace vantor::registry {
class ServiceRecord;
}

namespace vantor::ui {

class AlarmBoxes;
class SchedulePicker;
class ServiceKindPanel;

// What is wrong with the form, and where: the schedule, or a field of the
// service's frame.
struct FormProblem {
    QString message;
    QWidget* field = nullptr;  // null: the schedule
};

// The one place where a service's form (schedule, kind with its frame,
// alarm methods, and in the update dialog the run state) is checked, read
// into the fields of a record and filled from a record. The new-service
// wizard and the update dialog both go through it.
class ServiceForm final {
public:
    ServiceForm(SchedulePicker& schedule, ServiceKindPanel& kinds, AlarmBoxes& alarms,
                QComboBox* runState = nullptr);

    void reset();
    std::optional<FormProblem> checkSchedule() const;
    // The kind's fields: hosts not empty, ports whole numbers, no line
    // break anywhere (it would end a protocol line early).
    std::optional<FormProblem> checkService() const;
    // Brings the frame's page with the field to the front and puts the
    // focus in it.
    void point(const FormProblem& problem) const;

    // The service as entered. What a box of the frame switches off is
    // emptied in the frame first.
    engine::CheckInput read() const;
    void load(const registry::ServiceRecord& record) const;

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
