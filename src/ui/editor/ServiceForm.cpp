#include "ui/editor/ServiceForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTreeWidget>

#include "registry/ServiceRecord.h"
#include "ui/editor/AlarmBoxes.h"
#include "ui/editor/FrameWidgets.h"
#include "ui/editor/SchedulePicker.h"
#include "ui/editor/ServiceKindPanel.h"
#include "ui/editor/TFrameEmailForm.h"
#include "ui/editor/TFrameFTPForm.h"
#include "ui/editor/TFramePingForm.h"
#include "ui/editor/TFrameURLForm.h"
#include "ui/support/FormSupport.h"

namespace vantor::ui {

namespace {

std::string Std(const QString& text) {
    return text.toStdString();
}

std::optional<FormProblem> Host(QLineEdit* edit, const char* label) {
    if (edit->text().isEmpty()) {
        return FormProblem{
            QStringLiteral("%1 host field is empty.").arg(QString::fromLatin1(label)), edit};
    }
    return std::nullopt;
}

std::optional<FormProblem> Integer(QLineEdit* edit, const char* label) {
    if (!IsInteger(edit->text())) {
        return FormProblem{
            QStringLiteral("%1 is invalid integer or empty.").arg(QString::fromLatin1(label)),
            edit};
    }
    return std::nullopt;
}

std::optional<FormProblem> LineBreaks(QWidget* frame) {
    for (QLineEdit* edit : frame->findChildren<QLineEdit*>()) {
        if (HasLineBreak(edit->text())) {
            return FormProblem{
                QStringLiteral("%1 must not hold a line break.").arg(edit->accessibleName()), edit};
        }
    }
    for (QTreeWidget* list : frame->findChildren<QTreeWidget*>()) {
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* item = list->topLevelItem(i);
            if (HasLineBreak(item->text(0)) || HasLineBreak(item->text(1))) {
                return FormProblem{QStringLiteral("Post field %1 must not hold a line break.")
                                       .arg(item->text(0).simplified()),
                                   list};
            }
        }
    }
    return std::nullopt;
}

template <class... Checks>
std::optional<FormProblem> First(Checks... checks) {
    std::optional<FormProblem> found;
    ((found = found ? found : checks()), ...);
    return found;
}

QString PortShown(std::string_view port) {
    return port == "0" ? QString() : FromStd(port);
}

std::string PortStored(const QString& text) {
    return text.isEmpty() ? std::string("0") : Std(text);
}

// The TLS of a mail or FTP service: with no security the box says nothing,
// and is set back to its default before it is read.
void ReadSecurity(QComboBox& security, QCheckBox& verify, registry::ServiceFields& f) {
    f.tls = Std(SecurityWord(security));
    if (f.tls.empty()) {
        verify.setChecked(true);
    }
    f.tlsVerify = verify.isChecked() ? "y" : "n";
}

void LoadSecurity(const registry::ServiceFields& tls, QComboBox& security, QCheckBox& verify) {
    ChooseWord(security, FromStd(tls.tls));
    verify.setChecked(tls.tlsVerify != "n");
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
    const QString kind = m_kinds.kind();
    const auto lines = [this] { return LineBreaks(m_kinds.currentFrame()); };
    if (kind == QStringLiteral("URL")) {
        const TFrameURLForm& f = *m_kinds.FrameURL;
        const bool proxy = f.CheckBoxURLProxy->isChecked();
        return First(
            [&] { return Host(f.EditURLURL, "URL"); },
            [&] { return Integer(f.EditURLPort, "URL Port"); },
            [&] { return proxy ? Host(f.EditURLProxyHost, "URL Proxy IP") : std::nullopt; },
            [&] { return proxy ? Integer(f.EditURLProxyPort, "URL Proxy Port") : std::nullopt; },
            lines);
    }
    if (kind == QStringLiteral("Email")) {
        const TFrameEmailForm& f = *m_kinds.FrameEmail;
        return First([&] { return Host(f.EditEmailHost, "Email Host"); },
                     [&] { return Integer(f.EditEmailPort, "Email Port"); }, lines);
    }
    if (kind == QStringLiteral("Ping")) {
        return First([&] { return Host(m_kinds.FramePing->EditPingHost, "Ping IP"); }, lines);
    }
    if (kind == QStringLiteral("FTP")) {
        const TFrameFTPForm& f = *m_kinds.FrameFTP;
        const bool proxy = f.CheckBoxProxy->isChecked();
        return First(
            [&] { return Host(f.EditFTPHost, "FTP Host"); },
            [&] { return Integer(f.EditFTPPort, "FTP Port"); },
            [&] { return proxy ? Host(f.EditFTPProxyIP, "FTP Proxy IP") : std::nullopt; },
            [&] { return proxy ? Integer(f.EditFTPProxyPort, "FTP Proxy Port") : std::nullopt; },
            lines);
    }
    return FormProblem{QStringLiteral("Please select service."), m_kinds.ComboBoxServiceKind};
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

engine::CheckInput ServiceForm::read() const {
    engine::CheckInput in;
    registry::ServiceFields& f = in.fields;
    f.scheduleBy = Std(m_schedule.chosenKind());
    f.scheduleHour = Std(m_schedule.hour());
    f.scheduleMinute = Std(m_schedule.minute());
    f.runState = m_runState != nullptr ? Std(m_runState->currentText()) : std::string("Start");
    const auto flag = [](const QCheckBox* box) {
        return std::string(box->isChecked() ? "y" : "n");
    };
    f.alarmEmail = flag(m_alarms.CheckBoxEmail);
    f.alarmSmpp = flag(m_alarms.CheckBoxSMS);
    f.alarmHttpSms = flag(m_alarms.CheckBoxSMSByHTTP);
    f.alarmSyslog = flag(m_alarms.CheckBoxSysLog);

    const QString kind = m_kinds.kind();
    if (kind == QStringLiteral("URL")) {
        TFrameURLForm& u = *m_kinds.FrameURL;
        if (!u.CheckBoxURLAuthentication->isChecked()) {
            u.EditURLAuthUsername->clear();
            u.EditURLAuthPassword->clear();
        }
        if (!u.CheckBoxURLProxy->isChecked()) {
            u.EditURLProxyHost->clear();
            u.EditURLProxyPort->clear();
            u.EditURLProxyUsername->clear();
            u.EditURLProxyPassword->clear();
        }
        if (!u.CheckBoxURLProxyAuthentication->isChecked()) {
            u.EditURLProxyUsername->clear();
            u.EditURLProxyPassword->clear();
        }
        f.service = "URL";
        f.ip = Std(u.EditURLURL->text());
        f.port = Std(u.EditURLPort->text());
        f.username = Std(u.EditURLAuthUsername->text());
        f.password = Std(u.EditURLAuthPassword->text());
        f.proxyIp = Std(u.EditURLProxyHost->text());
        f.proxyPort = PortStored(u.EditURLProxyPort->text());
        f.proxyUsername = Std(u.EditURLProxyUsername->text());
        f.proxyPassword = Std(u.EditURLProxyPassword->text());
        f.urlMethod = Std(u.ComboBoxService->currentText());
        f.tlsVerify = flag(u.CheckBoxVerifyCertificate);
        registry::UrlRequestFields& r = in.request;
        r.referer = Std(u.EditURLReferer->text());
        r.cookie = Std(u.EditURLCookie->text());
        r.headerData = Std(u.EditURLHeaderInfo->text());
        r.userAgent = Std(u.EditURLUserAgent->text());
        r.contentType = Std(u.EditURLContentType->text());
        r.accept = Std(u.EditURLAccept->text());
        r.acceptCharSet = Std(u.EditURLAcceptCharset->text());
        r.acceptEncoding = Std(u.EditURLAcceptEncoding->text());
        r.acceptLanguage = Std(u.EditURLAcceptLanguage->text());
        for (int i = 0; i < u.ListViewExtraFields->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* item = u.ListViewExtraFields->topLevelItem(i);
            in.extraFields.push_back({Std(item->text(0)), Std(item->text(1))});
        }
    } else if (kind == QStringLiteral("Ping")) {
        f.service = "Ping";
        f.ip = Std(m_kinds.FramePing->EditPingHost->text());
        f.port = PortStored(m_kinds.FramePing->EditPingPort->text());
    } else if (kind == QStringLiteral("Email")) {
        TFrameEmailForm& e = *m_kinds.FrameEmail;
        f.service = Std(e.ComboBoxEmailMethod->currentText());
        f.ip = Std(e.EditEmailHost->text());
        f.port = Std(e.EditEmailPort->text());
        ReadSecurity(*e.ComboBoxEmailSecurity, *e.CheckBoxEmailVerifyCertificate, f);
        f.username = Std(e.EditEmailUser->text());
        f.password = Std(e.EditEmailPassword->text());
    } else if (kind == QStringLiteral("FTP")) {
        TFrameFTPForm& t = *m_kinds.FrameFTP;
        if (!t.CheckBoxProxy->isChecked()) {
            t.EditFTPProxyIP->clear();
            t.EditFTPProxyPort->clear();
            t.ComboBoxProxyType->setCurrentIndex(0);
            t.EditFTPProxyUsername->clear();
            t.EditFTPProxyPassword->clear();
        }
        if (!t.CheckBoxProxyAuthentication->isChecked()) {
            t.EditFTPProxyUsername->clear();
            t.EditFTPProxyPassword->clear();
        }
        f.service = "FTP";
        f.ip = Std(t.EditFTPHost->text());
        f.port = Std(t.EditFTPPort->text());
        f.username = Std(t.EditFTPUserID->text());
        f.password = Std(t.EditFTPPassword->text());
        f.proxyIp = Std(t.EditFTPProxyIP->text());
        f.proxyPort = PortStored(t.EditFTPProxyPort->text());
        f.proxyUsername = Std(t.EditFTPProxyUsername->text());
        f.proxyPassword = Std(t.EditFTPProxyPassword->text());
        f.ftpProxyType = Std(t.ComboBoxProxyType->currentText());
        ReadSecurity(*t.ComboBoxFTPSecurity, *t.CheckBoxFTPVerifyCertificate, f);
    }
    return in;
}

void ServiceForm::load(const registry::ServiceRecord& record) const {
    const auto text = [&record](std::string_view element) { return FromStd(record.text(element)); };
    m_schedule.load(std::string(record.text("schedule_by")),
                    std::string(record.text("schedule_hour")),
                    std::string(record.text("schedule_minute")));
    if (m_runState != nullptr) {
        m_runState->setCurrentIndex(std::max(0, m_runState->findText(text("status"))));
    }
    const std::string service(record.text("service"));
    registry::ServiceFields tls;
    record.readTls(tls);
    if (service == "SMTP" || service == "POP3" || service == "IMAP") {
        m_kinds.setKind(QStringLiteral("Email"));
        TFrameEmailForm& e = *m_kinds.FrameEmail;
        e.ComboBoxEmailMethod->setCurrentText(FromStd(service));
        e.EditEmailHost->setText(text("ip"));
        e.EditEmailPort->setText(text("port"));
        e.EditEmailUser->setText(text("username"));
        e.EditEmailPassword->setText(text("password"));
        LoadSecurity(tls, *e.ComboBoxEmailSecurity, *e.CheckBoxEmailVerifyCertificate);
    } else {
        // A kind the list does not offer ("Database") chooses none.
        m_kinds.setKind(FromStd(service));
    }
    const bool hasProxy = !record.text("proxy_ip").empty() && !record.text("proxy_port").empty() &&
                          record.text("proxy_port") != "0";
    const bool hasProxyAuth =
        !record.text("proxy_username").empty() || !record.text("proxy_password").empty();
    if (service == "URL") {
        TFrameURLForm& u = *m_kinds.FrameURL;
        u.ComboBoxService->setCurrentText(text("url_method"));
        u.EditURLURL->setText(text("ip"));
        u.EditURLPort->setText(text("port"));
        u.CheckBoxVerifyCertificate->setChecked(tls.tlsVerify != "n");
        const bool auth = !record.text("username").empty() || !record.text("password").empty();
        u.CheckBoxURLAuthentication->setChecked(auth);
        if (auth) {
            u.EditURLAuthUsername->setText(text("username"));
            u.EditURLAuthPassword->setText(text("password"));
        }
        u.CheckBoxURLProxy->setChecked(hasProxy);
        if (hasProxy) {
            u.EditURLProxyHost->setText(text("proxy_ip"));
            u.EditURLProxyPort->setText(PortShown(record.text("proxy_port")));
        }
        u.CheckBoxURLProxyAuthentication->setChecked(hasProxyAuth);
        if (hasProxyAuth) {
            u.EditURLProxyUsername->setText(text("proxy_username"));
            u.EditURLProxyPassword->setText(text("proxy_password"));
        }
        const auto field = [&record](std::string_view name) {
            return FromStd(record.findUrlField(name).value_or(""));
        };
        u.EditURLReferer->setText(field("referer"));
        u.EditURLCookie->setText(field("cookie"));
        u.EditURLHeaderInfo->setText(field("headerData"));
        u.EditURLUserAgent->setText(field("userAgent"));
        u.EditURLContentType->setText(field("contentType"));
        u.EditURLAccept->setText(field("accept"));
        u.EditURLAcceptCharset->setText(field("acceptCharSet"));
        u.EditURLAcceptEncoding->setText(field("acceptEncoding"));
        u.EditURLAcceptLanguage->setText(field("acceptLanguage"));
        u.ListViewExtraFields->clear();
        for (const registry::ExtraField& extra : record.extraFields()) {
            u.ListViewExtraFields->addTopLevelItem(
                new QTreeWidgetItem(QStringList{FromStd(extra.name), FromStd(extra.value)}));
        }
        u.applyEnableRules();
    } else if (service == "Ping") {
        m_kinds.FramePing->EditPingHost->setText(text("ip"));
        m_kinds.FramePing->EditPingPort->setText(PortShown(record.text("port")));
    } else if (service == "FTP") {
        TFrameFTPForm& t = *m_kinds.FrameFTP;
        t.EditFTPHost->setText(text("ip"));
        t.EditFTPPort->setText(text("port"));
        t.EditFTPUserID->setText(text("username"));
        t.EditFTPPassword->setText(text("password"));
        LoadSecurity(tls, *t.ComboBoxFTPSecurity, *t.CheckBoxFTPVerifyCertificate);
        t.CheckBoxProxy->setChecked(hasProxy);
        if (hasProxy) {
            t.EditFTPProxyIP->setText(text("proxy_ip"));
            t.EditFTPProxyPort->setText(PortShown(record.text("proxy_port")));
        }
        t.CheckBoxProxyAuthentication->setChecked(hasProxyAuth);
        if (hasProxyAuth) {
            t.EditFTPProxyUsername->setText(text("proxy_username"));
            t.EditFTPProxyPassword->setText(text("proxy_password"));
        }
        t.ComboBoxProxyType->setCurrentIndex(
            std::max(0, t.ComboBoxProxyType->findText(text("ftp_proxytype"))));
        t.applyEnableRules();
    }
    m_alarms.CheckBoxEmail->setChecked(record.text("alarm_email") == "y");
    m_alarms.CheckBoxSMS->setChecked(record.text("alarm_smpp") == "y");
    m_alarms.CheckBoxSMSByHTTP->setChecked(record.text("alarm_httpsms") == "y");
    m_alarms.CheckBoxSysLog->setChecked(record.text("alarm_syslog") == "y");
}

QString ServiceForm::hostText() const {
    const QString kind = m_kinds.kind();
    if (kind == QStringLiteral("URL")) {
        return m_kinds.FrameURL->EditURLURL->text();
    }
    if (kind == QStringLiteral("Ping")) {
        return m_kinds.FramePing->EditPingHost->text();
    }
    if (kind == QStringLiteral("Email")) {
        return m_kinds.FrameEmail->EditEmailHost->text();
    }
    return m_kinds.FrameFTP->EditFTPHost->text();
}

QString ServiceForm::portText() const {
    const QString kind = m_kinds.kind();
    if (kind == QStringLiteral("URL")) {
        return m_kinds.FrameURL->EditURLPort->text();
    }
    if (kind == QStringLiteral("Ping")) {
        return m_kinds.FramePing->EditPingPort->text();
    }
    if (kind == QStringLiteral("Email")) {
        return m_kinds.FrameEmail->EditEmailPort->text();
    }
    return m_kinds.FrameFTP->EditFTPPort->text();
}

}  // namespace vantor::ui
