#include "ui/editor/TFramePingForm.h"

#include <QFormLayout>

#include "ui/editor/FrameWidgets.h"

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

}  // namespace vantor::ui
