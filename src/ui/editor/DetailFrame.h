// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <optional>
#include <string>

#include "registry/ServiceFields.h"

class QLineEdit;
class QTabWidget;
class QWidget;

namespace vantor::ui {

// What is wrong with the form, and where: the schedule, a field of the
// service's frame or of the alarm page.
struct FormProblem {
    QString message;
    QWidget* field = nullptr;  // null: the schedule
};

// The detail frame of one kind of service: it checks, reads and loads its
// own fields. The frames are tab widgets; this is what the editors ask of
// them.
class DetailFrame {
public:
    virtual ~DetailFrame() = default;
    virtual QTabWidget& tabs() = 0;
    // Back to the frame's defaults.
    virtual void reset() = 0;
    // The first field that is wrong (hosts empty, ports not whole numbers),
    // in the frame's order.
    virtual std::optional<FormProblem> check() const = 0;
    // The frame's fields into the service. What a box of the frame switches
    // off is emptied in the frame first.
    virtual void read(registry::ServiceFields& service) = 0;
    virtual void load(const registry::ServiceFields& service) = 0;
    // What the wizard's test labels show.
    virtual QString hostText() const = 0;
    virtual QString portText() const = 0;
};

// The checks the frames share.
std::optional<FormProblem> RequireHost(QLineEdit* edit, const char* label);
std::optional<FormProblem> RequireInteger(QLineEdit* edit, const char* label);
// A line break (it would end a protocol line early) or another control
// character (service.xml cannot hold one) in any field of the frame or its
// post fields, named by the field's label.
std::optional<FormProblem> RefuseControlCharacters(QWidget* frame);

// The first problem that a check in order finds.
template <class... Checks>
std::optional<FormProblem> FirstProblem(Checks... checks) {
    std::optional<FormProblem> found;
    ((found = found ? found : checks()), ...);
    return found;
}

// Text as the record holds it, and a port as a field shows it ("0" is none).
std::string StdText(const QString& text);
QString PortShown(std::string_view port);
std::string PortStored(const QString& text);

}  // namespace vantor::ui
