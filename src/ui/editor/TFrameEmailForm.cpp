// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/editor/TFrameEmailForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLineEdit>

#include "ui/editor/FrameWidgets.h"
#include "ui/support/FormSupport.h"

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
    ComboBoxEmailSecurity = AddSecurityList(*rows, "ComboBoxEmailSecurity");
    CheckBoxEmailVerifyCertificate =
        AddFieldBox(*rows, "CheckBoxEmailVerifyCertificate", QStringLiteral("Verify certificate"));
    EditEmailUser = AddEdit(*rows, "EditEmailUser", QStringLiteral("User ID"));
    EditEmailPassword = AddEdit(*rows, "EditEmailPassword", QStringLiteral("Password"), true);
    // The method's own port, over whatever was typed; so too when the
    // security changes.
    connect(ComboBoxEmailMethod, &QComboBox::activated, this, [this] { choosePort(); });
    connect(ComboBoxEmailSecurity, &QComboBox::activated, this, [this] { choosePort(); });
    connect(ComboBoxEmailSecurity, &QComboBox::currentIndexChanged, this,
            [this] { applyEnableRules(); });
    reset();
}

void TFrameEmailForm::reset() {
    ComboBoxEmailMethod->setCurrentIndex(0);
    EditEmailHost->clear();
    EditEmailPort->setText(QStringLiteral("25"));
    ChooseWord(*ComboBoxEmailSecurity, QString());
    CheckBoxEmailVerifyCertificate->setChecked(true);
    EditEmailUser->clear();
    EditEmailPassword->clear();
    applyEnableRules();
}

void TFrameEmailForm::applyEnableRules() {
    CheckBoxEmailVerifyCertificate->setEnabled(!SecurityWord(*ComboBoxEmailSecurity).isEmpty());
}

std::optional<FormProblem> TFrameEmailForm::check() const {
    return FirstProblem([&] { return RequireHost(EditEmailHost, "Email Host"); },
                        [&] { return RequireInteger(EditEmailPort, "Email Port"); });
}

// The method is the kind: "SMTP", "POP3" or "IMAP".
void TFrameEmailForm::read(registry::ServiceFields& f) {
    f.service = StdText(ComboBoxEmailMethod->currentText());
    f.ip = StdText(EditEmailHost->text());
    f.port = StdText(EditEmailPort->text());
    ReadSecurity(*ComboBoxEmailSecurity, *CheckBoxEmailVerifyCertificate, f);
    f.username = StdText(EditEmailUser->text());
    f.password = StdText(EditEmailPassword->text());
}

void TFrameEmailForm::load(const registry::ServiceFields& f) {
    ComboBoxEmailMethod->setCurrentText(FromStd(f.service));
    EditEmailHost->setText(FromStd(f.ip));
    EditEmailPort->setText(FromStd(f.port));
    EditEmailUser->setText(FromStd(f.username));
    EditEmailPassword->setText(FromStd(f.password));
    LoadSecurity(f, *ComboBoxEmailSecurity, *CheckBoxEmailVerifyCertificate);
}

QString TFrameEmailForm::hostText() const {
    return EditEmailHost->text();
}

QString TFrameEmailForm::portText() const {
    return EditEmailPort->text();
}

// STARTTLS starts on the plain port; implicit TLS has a port of its own.
void TFrameEmailForm::choosePort() {
    static const char* const ports[][2] = {{"25", "465"}, {"110", "995"}, {"143", "993"}};
    const int method = ComboBoxEmailMethod->currentIndex();
    if (method >= 0 && method < 3) {
        EditEmailPort->setText(
            QString::fromLatin1(ports[method][IsImplicitTls(*ComboBoxEmailSecurity) ? 1 : 0]));
    }
}

}  // namespace vantor::ui
