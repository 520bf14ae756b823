#include "ui/TFrameEmailForm.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLineEdit>

#include "ui/FrameWidgets.h"

namespace vantor::ui {

TFrameEmailForm::TFrameEmailForm(QWidget* parent) : QTabWidget(parent) {
    setObjectName("FrameEmailForm");
    QFormLayout* rows = nullptr;
    AddPage(*this, QStringLiteral("Email"), rows);
    ComboBoxEmailMethod =
        AddList(*rows, "ComboBoxEmailMethod", QStringLiteral("Method"),
                {QStringLiteral("SMTP"), QStringLiteral("POP3"), QStringLiteral("IMAP")});
    EditEmailHost = AddEdit(*rows, "EditEmailHost", QStringLiteral("Host"));
    EditEmailPort = AddEdit(*rows, "EditEmailPort", QStringLiteral("Port"));
    EditEmailUser = AddEdit(*rows, "EditEmailUser", QStringLiteral("User ID"));
    EditEmailPassword = AddEdit(*rows, "EditEmailPassword", QStringLiteral("Password"), true);
    // The method's own port, over whatever was typed.
    connect(ComboBoxEmailMethod, &QComboBox::activated, this, [this](int method) {
        static const char* const ports[] = {"25", "110", "143"};
        if (method >= 0 && method < 3) {
            EditEmailPort->setText(QString::fromLatin1(ports[method]));
        }
    });
    reset();
}

void TFrameEmailForm::reset() {
    ComboBoxEmailMethod->setCurrentIndex(0);
    EditEmailHost->clear();
    EditEmailPort->setText(QStringLiteral("25"));
    EditEmailUser->clear();
    EditEmailPassword->clear();
}

}  // namespace vantor::ui
