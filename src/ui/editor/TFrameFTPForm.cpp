// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/editor/TFrameFTPForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLineEdit>

#include "ui/editor/FrameWidgets.h"
#include "ui/support/FormSupport.h"

namespace vantor::ui {

TFrameFTPForm::TFrameFTPForm(QWidget* parent) : QTabWidget(parent) {
    setObjectName("FrameFTPForm");
    QFormLayout* rows = nullptr;
    AddPage(*this, QStringLiteral("FTP"), rows);
    EditFTPHost = AddEdit(*rows, "EditFTPHost", QStringLiteral("Host"));
    EditFTPPort = AddEdit(*rows, "EditFTPPort", QStringLiteral("Port"));
    ComboBoxFTPSecurity = AddSecurityList(*rows, "ComboBoxFTPSecurity");
    CheckBoxFTPVerifyCertificate =
        AddFieldBox(*rows, "CheckBoxFTPVerifyCertificate", QStringLiteral("Verify certificate"));
    EditFTPUserID = AddEdit(*rows, "EditFTPUserID", QStringLiteral("User ID"));
    EditFTPPassword = AddEdit(*rows, "EditFTPPassword", QStringLiteral("Password"), true);
    AddPage(*this, QStringLiteral("Proxy settings"), rows);
    CheckBoxProxy = AddBox(*rows, "CheckBoxProxy", QStringLiteral("Use Proxy Server"));
    EditFTPProxyIP = AddEdit(*rows, "EditFTPProxyIP", QStringLiteral("Proxy Server"));
    EditFTPProxyPort = AddEdit(*rows, "EditFTPProxyPort", QStringLiteral("Proxy Port"));
    // The proxy conventions the FTP check knows.
    ComboBoxProxyType = AddList(
        *rows, "ComboBoxProxyType", QStringLiteral("Proxy Type"),
        {QStringLiteral("fpcmNone"), QStringLiteral("fpcmUserSite"), QStringLiteral("fpcmSite"),
         QStringLiteral("fpcmOpen"), QStringLiteral("fpcmUserPass"),
         QStringLiteral("fpcmTransparent"), QStringLiteral("fpcmHttpProxyWithFtp")});
    CheckBoxProxyAuthentication =
        AddBox(*rows, "CheckBoxProxyAuthentication", QStringLiteral("Proxy Authentication"));
    EditFTPProxyUsername = AddEdit(*rows, "EditFTPProxyUsername", QStringLiteral("Username"));
    EditFTPProxyPassword = AddEdit(*rows, "EditFTPProxyPassword", QStringLiteral("Password"), true);
    // Implicit TLS has a port of its own, set over whatever was typed as the
    // mail methods do; STARTTLS (AUTH TLS) starts on the plain one.
    connect(ComboBoxFTPSecurity, &QComboBox::activated, this, [this] {
        EditFTPPort->setText(IsImplicitTls(*ComboBoxFTPSecurity) ? QStringLiteral("990")
                                                                 : QStringLiteral("21"));
    });
    connect(ComboBoxFTPSecurity, &QComboBox::currentIndexChanged, this,
            [this] { applyEnableRules(); });
    for (QCheckBox* box : {CheckBoxProxy, CheckBoxProxyAuthentication}) {
        connect(box, &QCheckBox::toggled, this, [this] { applyEnableRules(); });
    }
    reset();
}

void TFrameFTPForm::reset() {
    for (QLineEdit* edit : {EditFTPHost, EditFTPUserID, EditFTPPassword, EditFTPProxyIP,
                            EditFTPProxyPort, EditFTPProxyUsername, EditFTPProxyPassword}) {
        edit->clear();
    }
    EditFTPPort->setText(QStringLiteral("21"));
    ChooseWord(*ComboBoxFTPSecurity, QString());
    CheckBoxFTPVerifyCertificate->setChecked(true);
    ComboBoxProxyType->setCurrentIndex(0);
    CheckBoxProxy->setChecked(false);
    CheckBoxProxyAuthentication->setChecked(false);
    setCurrentIndex(0);
    applyEnableRules();
}

std::optional<FormProblem> TFrameFTPForm::check() const {
    const bool proxy = CheckBoxProxy->isChecked();
    return FirstProblem(
        [&] { return RequireHost(EditFTPHost, "FTP Host"); },
        [&] { return RequireInteger(EditFTPPort, "FTP Port"); },
        [&] { return proxy ? RequireHost(EditFTPProxyIP, "FTP Proxy IP") : std::nullopt; },
        [&] { return proxy ? RequireInteger(EditFTPProxyPort, "FTP Proxy Port") : std::nullopt; });
}

void TFrameFTPForm::read(registry::ServiceFields& f) {
    if (!CheckBoxProxy->isChecked()) {
        EditFTPProxyIP->clear();
        EditFTPProxyPort->clear();
        ComboBoxProxyType->setCurrentIndex(0);
        EditFTPProxyUsername->clear();
        EditFTPProxyPassword->clear();
    }
    if (!CheckBoxProxyAuthentication->isChecked()) {
        EditFTPProxyUsername->clear();
        EditFTPProxyPassword->clear();
    }
    f.service = "FTP";
    f.ip = StdText(EditFTPHost->text());
    f.port = StdText(EditFTPPort->text());
    f.username = StdText(EditFTPUserID->text());
    f.password = StdText(EditFTPPassword->text());
    f.proxyIp = StdText(EditFTPProxyIP->text());
    f.proxyPort = PortStored(EditFTPProxyPort->text());
    f.proxyUsername = StdText(EditFTPProxyUsername->text());
    f.proxyPassword = StdText(EditFTPProxyPassword->text());
    f.ftpProxyType = StdText(ComboBoxProxyType->currentText());
    ReadSecurity(*ComboBoxFTPSecurity, *CheckBoxFTPVerifyCertificate, f);
}

void TFrameFTPForm::load(const registry::ServiceFields& f) {
    EditFTPHost->setText(FromStd(f.ip));
    EditFTPPort->setText(FromStd(f.port));
    EditFTPUserID->setText(FromStd(f.username));
    EditFTPPassword->setText(FromStd(f.password));
    LoadSecurity(f, *ComboBoxFTPSecurity, *CheckBoxFTPVerifyCertificate);
    const bool proxy = HasProxy(f);
    CheckBoxProxy->setChecked(proxy);
    if (proxy) {
        EditFTPProxyIP->setText(FromStd(f.proxyIp));
        EditFTPProxyPort->setText(PortShown(f.proxyPort));
    }
    const bool proxyAuth = HasProxyLogin(f);
    CheckBoxProxyAuthentication->setChecked(proxyAuth);
    if (proxyAuth) {
        EditFTPProxyUsername->setText(FromStd(f.proxyUsername));
        EditFTPProxyPassword->setText(FromStd(f.proxyPassword));
    }
    ComboBoxProxyType->setCurrentIndex(
        std::max(0, ComboBoxProxyType->findText(FromStd(f.ftpProxyType))));
    applyEnableRules();
}

QString TFrameFTPForm::hostText() const {
    return EditFTPHost->text();
}

QString TFrameFTPForm::portText() const {
    return EditFTPPort->text();
}

void TFrameFTPForm::applyEnableRules() {
    CheckBoxFTPVerifyCertificate->setEnabled(!SecurityWord(*ComboBoxFTPSecurity).isEmpty());
    const bool proxy = CheckBoxProxy->isChecked();
    EditFTPProxyIP->setEnabled(proxy);
    EditFTPProxyPort->setEnabled(proxy);
    ComboBoxProxyType->setEnabled(proxy);
    CheckBoxProxyAuthentication->setEnabled(proxy);
    const bool auth = proxy && CheckBoxProxyAuthentication->isChecked();
    EditFTPProxyUsername->setEnabled(auth);
    EditFTPProxyPassword->setEnabled(auth);
}

}  // namespace vantor::ui
