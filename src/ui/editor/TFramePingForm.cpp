// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/editor/TFramePingForm.h"

#include <QFormLayout>

#include "ui/editor/FrameWidgets.h"
#include "ui/support/FormSupport.h"

namespace vantor::ui {

TFramePingForm::TFramePingForm(QWidget* parent) : QTabWidget(parent) {
    setObjectName("FramePingForm");
    QFormLayout* rows = nullptr;
    AddPage(*this, QStringLiteral("Ping"), rows);
    EditPingHost = AddEdit(*rows, "EditPingHost", QStringLiteral("Host"));
    EditPingPort = AddEdit(*rows, "EditPingPort", QStringLiteral("Port"));
}

void TFramePingForm::reset() {
    EditPingHost->clear();
    EditPingPort->clear();
}

std::optional<FormProblem> TFramePingForm::check() const {
    // An empty port is none; any other must be a number for the check.
    return FirstProblem([&] { return RequireHost(EditPingHost, "Ping IP"); },
                        [&] {
                            return EditPingPort->text().isEmpty()
                                       ? std::nullopt
                                       : RequireInteger(EditPingPort, "Ping Port");
                        });
}

void TFramePingForm::read(registry::ServiceFields& f) {
    f.service = "Ping";
    f.ip = StdText(EditPingHost->text());
    f.port = PortStored(EditPingPort->text());
}

void TFramePingForm::load(const registry::ServiceFields& f) {
    EditPingHost->setText(FromStd(f.ip));
    EditPingPort->setText(PortShown(f.port));
}

QString TFramePingForm::hostText() const {
    return EditPingHost->text();
}

QString TFramePingForm::portText() const {
    return EditPingPort->text();
}

}  // namespace vantor::ui
