// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/settings/AlarmingPages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/AppSettings.h"
#include "ui/editor/FrameWidgets.h"
#include "ui/support/FormSupport.h"

namespace vantor::ui {

namespace {

const QString kPageHint = QStringLiteral(
    "Please refer to the help file, you can click on the Help button on the bottom to open help "
    "file...");

// The boxes and the settings they edit.
struct TextKey {
    const char* field;
    std::string app::AppSettings::*setting;
};
struct NumberKey {
    const char* field;
    int app::AppSettings::*setting;
};
using S = app::AppSettings;
constexpr TextKey kTextKeys[] = {
    {"EditSmtpIp", &S::smtpIp},
    {"ComboSmtpSecurity", &S::smtpSecurity},
    {"EditSmtpEmail", &S::smtpEmailAddress},
    {"EditSmtpAgent", &S::smtpMailAgent},
    {"EditSmtpFrom", &S::smtpFromAddress},
    {"EditSmtpUser", &S::smtpUsername},
    {"EditSmtpPassword", &S::smtpPassword},
    {"EditSmsIp", &S::smsIp},
    {"EditSmsPhone", &S::smsPhone},
    {"EditSmsUser", &S::smsUsername},
    {"EditSmsPassword", &S::smsPassword},
    {"EditSmsSystemType", &S::smsSystemType},
    {"EditSmsOa", &S::smsOa},
    {"MemoHttpUrl", &S::httpSmsUrl},
    {"EditHttpPhone", &S::httpSmsMsisdnFieldValue},
    {"EditHttpMsisdnName", &S::httpSmsMsisdnFieldName},
    {"EditHttpMessageName", &S::httpSmsMessageFieldName},
    {"EditHttpField1Name", &S::httpSmsExtraField1Name},
    {"EditHttpField1Value", &S::httpSmsExtraField1Value},
    {"EditHttpField2Name", &S::httpSmsExtraField2Name},
    {"EditHttpField2Value", &S::httpSmsExtraField2Value},
    {"EditHttpUser", &S::httpSmsUsername},
    {"EditHttpPassword", &S::httpSmsPassword},
    {"EditHttpProxyServer", &S::httpSmsProxyServer},
    {"EditHttpProxyUser", &S::httpSmsProxyUsername},
    {"EditHttpProxyPassword", &S::httpSmsProxyPassword},
    {"EditSyslogIp", &S::syslogIp},
};
constexpr NumberKey kNumberKeys[] = {
    {"EditSmtpPort", &S::smtpPort},
    {"EditSmtpTimeout", &S::smtpTimeout},
    {"EditSmsPort", &S::smsPort},
    {"EditSmsTimeout", &S::smsTimeout},
    {"EditSmsVersion", &S::smsVersion},
    {"EditSmsTon", &S::smsTon},
    {"EditSmsNpi", &S::smsNpi},
    {"EditSmsDestTon", &S::smsDestTon},
    {"EditSmsDestNpi", &S::smsDestNpi},
    {"EditSmsOrigTon", &S::smsOrigTon},
    {"EditSmsOrigNpi", &S::smsOrigNpi},
    {"EditHttpPort", &S::httpSmsPort},
    {"EditHttpTimeout", &S::httpSmsTimeout},
    {"EditHttpProxyPort", &S::httpSmsProxyPort},
    {"EditSyslogPort", &S::syslogPort},
    {"EditSyslogTimeout", &S::syslogTimeout},
};

// The alarm mail's security and the port each is usually served on.
constexpr const char* kSecurityWords[] = {"None", "STARTTLS", "TLS"};
constexpr const char* kSecurityPorts[] = {"25", "587", "465"};

QGroupBox* TestGroup(QWidget* parent, const QString& title, QWidget* message,
                     const QString& label) {
    auto* group = new QGroupBox(title, parent);
    auto* rows = new QFormLayout(group);
    rows->addRow(label, message);
    return group;
}

// The note beside a page's Enable box. A check box keeps its text on one
// line, and the longest note would set the window's width; the note wraps
// instead, and a click on it works the box as a click on the box's text
// would.
class EnableNote final : public QLabel {
public:
    EnableNote(const QString& text, QCheckBox* box, QWidget* parent)
        : QLabel(text, parent), m_box(box) {
        setWordWrap(true);
        setBuddy(box);
    }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && m_box->isEnabled() &&
            rect().contains(event->position().toPoint())) {
            m_box->click();
        }
        QLabel::mouseReleaseEvent(event);
    }

private:
    QCheckBox* m_box;
};

// The Enable row of a page: the box, named, and its note.
QWidget* EnableRow(QWidget* page, QCheckBox*& box, const char* name, const QString& note) {
    auto* row = new QWidget(page);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    box = new QCheckBox(row);
    box->setObjectName(QString::fromLatin1(name));
    box->setAccessibleName(note);
    layout->addWidget(box, 0, Qt::AlignTop);
    layout->addWidget(new EnableNote(note, box, row), 1);
    return row;
}

}  // namespace

AlarmingPages::AlarmingPages(QTabWidget& pages) {
    pages.addTab(buildEmail(), QStringLiteral("Email - SMTP"));
    pages.addTab(buildSms(), QStringLiteral("SMS - SMPP"));
    pages.addTab(buildHttpSms(), QStringLiteral("SMS by HTTP"));
    pages.addTab(buildSysLog(), QStringLiteral("BSD SysLog"));
    for (int page = 0; page < 4; ++page) {
        pages.widget(page)->setToolTip(kPageHint);
    }
    // Each box is named in messages by its label.
    for (auto& [name, field] : m_fields) {
        if (auto* rows = qobject_cast<QFormLayout*>(field.box->parentWidget()->layout())) {
            if (auto* label = qobject_cast<QLabel*>(rows->labelForField(field.box))) {
                field.box->setAccessibleName(label->text().trimmed());
            }
        }
    }
}

QLineEdit* AlarmingPages::edit(QWidget* parent, const char* name, int page, QTabWidget* tabs,
                               bool password) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QString::fromLatin1(name));
    if (password) {
        e->setEchoMode(QLineEdit::Password);
    }
    m_fields[name] = Field{e, page, tabs};
    return e;
}

QWidget* AlarmingPages::buildEmail() {
    auto* page = new QWidget;
    auto* rows = new QFormLayout(page);
    rows->addRow(
        QStringLiteral("Enable"),
        EnableRow(page, enable[Email], "CheckBoxEmailEnable",
                  QStringLiteral(
                      "Note : Enable this option, the alarm can be sent out via email by SMTP.")));
    rows->addRow(QStringLiteral("SMTP IP/Address"), edit(page, "EditSmtpIp", Email));
    QLineEdit* port = edit(page, "EditSmtpPort", Email);
    rows->addRow(QStringLiteral("Port"), port);
    // The words SysInit.ini holds; TLS is TLS from the first byte.
    auto* security = new QComboBox(page);
    security->setObjectName("ComboSmtpSecurity");
    for (const char* word : kSecurityWords) {
        security->addItem(QString::fromLatin1(word), QString::fromLatin1(word));
    }
    m_fields["ComboSmtpSecurity"] = Field{security, Email, nullptr};
    rows->addRow(QStringLiteral("Security"), security);
    // The port follows while it holds a default of one of them.
    QObject::connect(security, &QComboBox::activated, port, [port](int chosen) {
        if (chosen < 0 || chosen >= static_cast<int>(std::size(kSecurityPorts))) {
            return;  // a word SysInit.ini held that the list does not know
        }
        for (const char* standard : kSecurityPorts) {
            if (port->text() == QString::fromLatin1(standard)) {
                port->setText(QString::fromLatin1(kSecurityPorts[chosen]));
                return;
            }
        }
    });
    rows->addRow(QStringLiteral("Destination Email"), edit(page, "EditSmtpEmail", Email));
    rows->addRow(QStringLiteral("Mail Agent"), edit(page, "EditSmtpAgent", Email));
    rows->addRow(QStringLiteral("From Address"), edit(page, "EditSmtpFrom", Email));
    smtpAuth = new QCheckBox(page);
    smtpAuth->setObjectName("CheckBoxSmtpAuth");
    rows->addRow(QStringLiteral("Authentication"), smtpAuth);
    rows->addRow(QStringLiteral("Username"), edit(page, "EditSmtpUser", Email));
    rows->addRow(QStringLiteral("Password"), edit(page, "EditSmtpPassword", Email, nullptr, true));
    rows->addRow(QStringLiteral("Timeout (ms)"), edit(page, "EditSmtpTimeout", Email));
    smtpMessage = new QPlainTextEdit(page);
    smtpMessage->setObjectName("MemoSmtpMessage");
    smtpMessage->setMaximumHeight(70);
    testGroup[Email] = TestGroup(page, QStringLiteral("Test Connection (Email)"), smtpMessage,
                                 QStringLiteral("Message"));
    rows->addRow(testGroup[Email]);
    return page;
}

QWidget* AlarmingPages::buildSms() {
    auto* page = new QWidget;
    auto* rows = new QFormLayout(page);
    rows->addRow(
        QStringLiteral("Enable"),
        EnableRow(page, enable[Sms], "CheckBoxSmsEnable",
                  QStringLiteral(
                      "Note : Enable this option, the alarm can be sent out via SMS. Please note "
                      "that it will append only 160 English charaters into the SMS message.")));
    rows->addRow(QStringLiteral("SMSC IP"), edit(page, "EditSmsIp", Sms));
    rows->addRow(QStringLiteral("Port"), edit(page, "EditSmsPort", Sms));
    rows->addRow(QStringLiteral("Timeout (ms)"), edit(page, "EditSmsTimeout", Sms));
    smsTabs = new QTabWidget(page);
    smsTabs->setObjectName("SmsTabs");
    QFormLayout* tab = nullptr;
    AddPage(*smsTabs, QStringLiteral("Sending Information"), tab);
    tab->addRow(QStringLiteral("Phone Number"),
                edit(tab->parentWidget(), "EditSmsPhone", Sms, smsTabs));
    AddPage(*smsTabs, QStringLiteral("Authentication"), tab);
    smsAuth = new QCheckBox(QStringLiteral("Authentication"), tab->parentWidget());
    smsAuth->setObjectName("CheckBoxSmsAuth");
    tab->addRow(smsAuth);
    tab->addRow(QStringLiteral("Username"), edit(tab->parentWidget(), "EditSmsUser", Sms, smsTabs));
    tab->addRow(QStringLiteral("Password"),
                edit(tab->parentWidget(), "EditSmsPassword", Sms, smsTabs, true));
    AddPage(*smsTabs, QStringLiteral("Binding"), tab);
    tab->addRow(QStringLiteral("Version"),
                edit(tab->parentWidget(), "EditSmsVersion", Sms, smsTabs));
    tab->addRow(QStringLiteral("System Type"),
                edit(tab->parentWidget(), "EditSmsSystemType", Sms, smsTabs));
    tab->addRow(QStringLiteral("TON"), edit(tab->parentWidget(), "EditSmsTon", Sms, smsTabs));
    tab->addRow(QStringLiteral("NPI"), edit(tab->parentWidget(), "EditSmsNpi", Sms, smsTabs));
    AddPage(*smsTabs, QStringLiteral("Extra Information"), tab);
    tab->addRow(QStringLiteral("OA / SA"), edit(tab->parentWidget(), "EditSmsOa", Sms, smsTabs));
    tab->addRow(QStringLiteral("Dest. TON"),
                edit(tab->parentWidget(), "EditSmsDestTon", Sms, smsTabs));
    tab->addRow(QStringLiteral("Dest. NPI"),
                edit(tab->parentWidget(), "EditSmsDestNpi", Sms, smsTabs));
    tab->addRow(QStringLiteral("Orig. TON"),
                edit(tab->parentWidget(), "EditSmsOrigTon", Sms, smsTabs));
    tab->addRow(QStringLiteral("Orig. NPI"),
                edit(tab->parentWidget(), "EditSmsOrigNpi", Sms, smsTabs));
    rows->addRow(smsTabs);
    testGroup[Sms] = TestGroup(page, QStringLiteral("Test Connection (SMS)"),
                               edit(page, "EditSmsMessage", Sms), QStringLiteral("Message"));
    rows->addRow(testGroup[Sms]);
    return page;
}

QWidget* AlarmingPages::buildHttpSms() {
    auto* page = new QWidget;
    auto* rows = new QFormLayout(page);
    rows->addRow(
        QStringLiteral("Enable"),
        EnableRow(page, enable[HttpSms], "CheckBoxHttpEnable",
                  QStringLiteral(
                      "Note : Enable this option, the alarm can be sent out via SMS by HTTP.")));
    httpUrl = new QPlainTextEdit(page);
    httpUrl->setObjectName("MemoHttpUrl");
    httpUrl->setMaximumHeight(56);
    m_fields["MemoHttpUrl"] = Field{httpUrl, HttpSms, nullptr};
    rows->addRow(QStringLiteral("URL"), httpUrl);
    rows->addRow(QStringLiteral("Port"), edit(page, "EditHttpPort", HttpSms));
    httpMethod = new QComboBox(page);
    httpMethod->setObjectName("ComboHttpMethod");
    httpMethod->addItems({QStringLiteral("Get"), QStringLiteral("Post")});
    rows->addRow(QStringLiteral("Method"), httpMethod);
    rows->addRow(QStringLiteral("Phone No"), edit(page, "EditHttpPhone", HttpSms));
    rows->addRow(QStringLiteral("Timeout (ms)"), edit(page, "EditHttpTimeout", HttpSms));
    httpTabs = new QTabWidget(page);
    httpTabs->setObjectName("HttpTabs");
    QFormLayout* tab = nullptr;
    const auto at = [&](const char* name, bool password = false) {
        return edit(tab->parentWidget(), name, HttpSms, httpTabs, password);
    };
    AddPage(*httpTabs, QStringLiteral("Fields Name for the \"Post\" method."), tab);
    tab->addRow(QStringLiteral("MSISDN"), at("EditHttpMsisdnName"));
    tab->addRow(QStringLiteral("MESSAGE"), at("EditHttpMessageName"));
    AddPage(*httpTabs, QStringLiteral("Extra Fields for the \"Post\" method"), tab);
    tab->addRow(QStringLiteral("Field1 Name"), at("EditHttpField1Name"));
    tab->addRow(QStringLiteral("Field1 Value"), at("EditHttpField1Value"));
    tab->addRow(QStringLiteral("Field2 Name"), at("EditHttpField2Name"));
    tab->addRow(QStringLiteral("Field2 Value"), at("EditHttpField2Value"));
    AddPage(*httpTabs, QStringLiteral("Authentication"), tab);
    httpAuth = new QCheckBox(QStringLiteral("Authentication"), tab->parentWidget());
    httpAuth->setObjectName("CheckBoxHttpAuth");
    tab->addRow(httpAuth);
    tab->addRow(QStringLiteral("Username"), at("EditHttpUser"));
    tab->addRow(QStringLiteral("Password"), at("EditHttpPassword", true));
    AddPage(*httpTabs, QStringLiteral("Proxy"), tab);
    tab->addRow(QStringLiteral("Proxy Server"), at("EditHttpProxyServer"));
    tab->addRow(QStringLiteral("Proxy Port"), at("EditHttpProxyPort"));
    tab->addRow(QStringLiteral("Proxy Username "), at("EditHttpProxyUser"));
    tab->addRow(QStringLiteral("Proxy Password"), at("EditHttpProxyPassword", true));
    rows->addRow(httpTabs);
    testGroup[HttpSms] =
        TestGroup(page, QStringLiteral("Test Connection (SMS-HTTP)"),
                  edit(page, "EditHttpMessage", HttpSms), QStringLiteral("$MESSAGE"));
    rows->addRow(testGroup[HttpSms]);
    auto* response = new QGroupBox(QStringLiteral("Response"), page);
    auto* responseRows = new QVBoxLayout(response);
    httpResponse = new QPlainTextEdit(response);
    httpResponse->setObjectName("MemoHttpResponse");
    httpResponse->setReadOnly(true);
    httpResponse->setMaximumHeight(60);
    responseRows->addWidget(httpResponse);
    rows->addRow(response);
    return page;
}

QWidget* AlarmingPages::buildSysLog() {
    auto* page = new QWidget;
    auto* rows = new QFormLayout(page);
    rows->addRow(
        QStringLiteral("Enable"),
        EnableRow(page, enable[SysLog], "CheckBoxSyslogEnable",
                  QStringLiteral(
                      "Note : Enable this option, the alarm can be sent to other BSD SysLog server "
                      "(Linux/Unix).")));
    rows->addRow(QStringLiteral("IP"), edit(page, "EditSyslogIp", SysLog));
    rows->addRow(QStringLiteral("Port"), edit(page, "EditSyslogPort", SysLog));
    facility = new QComboBox(page);
    facility->setObjectName("ComboSyslogFacility");
    for (int number = 0; number < 24; ++number) {
        facility->addItem(QString::fromStdString(std::string(app::FacilityName(number))));
    }
    rows->addRow(QStringLiteral("Facility"), facility);
    severity = new QComboBox(page);
    severity->setObjectName("ComboSyslogSeverity");
    severity->addItems({QStringLiteral("Emergency"), QStringLiteral("Alert"),
                        QStringLiteral("Critical"), QStringLiteral("Error"),
                        QStringLiteral("Warning"), QStringLiteral("Notice"),
                        QStringLiteral("Informational"), QStringLiteral("Debug")});
    rows->addRow(QStringLiteral("Severity"), severity);
    rows->addRow(QStringLiteral("Timeout (ms)"), edit(page, "EditSyslogTimeout", SysLog));
    testGroup[SysLog] =
        TestGroup(page, QStringLiteral("Test Connection (BSD SysLog)"),
                  edit(page, "EditSyslogMessage", SysLog), QStringLiteral("Message"));
    rows->addRow(testGroup[SysLog]);
    return page;
}

QString AlarmingPages::text(const char* name) const {
    const QWidget* box = m_fields.at(name).box;
    if (const auto* line = qobject_cast<const QLineEdit*>(box)) {
        return line->text();
    }
    if (const auto* list = qobject_cast<const QComboBox*>(box)) {
        return list->currentData().toString();
    }
    return static_cast<const QPlainTextEdit*>(box)->toPlainText();
}

void AlarmingPages::setText(const char* name, const QString& value) {
    QWidget* box = m_fields.at(name).box;
    if (auto* line = qobject_cast<QLineEdit*>(box)) {
        line->setText(value);
    } else if (auto* list = qobject_cast<QComboBox*>(box)) {
        // Nothing written is the first entry ("None").
        ChooseWord(*list, value.isEmpty() ? list->itemData(0).toString() : value);
    } else {
        static_cast<QPlainTextEdit*>(box)->setPlainText(value);
    }
}

QWidget* AlarmingPages::box(const char* name) const {
    return m_fields.at(name).box;
}

std::array<std::pair<QCheckBox*, bool app::AppSettings::*>, 7> AlarmingPages::boxKeys() const {
    return {{{enable[Email], &S::smtpEnable},
             {smtpAuth, &S::smtpAuthEnable},
             {enable[Sms], &S::smsEnable},
             {smsAuth, &S::smsAuthEnable},
             {enable[HttpSms], &S::httpSmsEnable},
             {httpAuth, &S::httpSmsAuthEnable},
             {enable[SysLog], &S::syslogEnable}}};
}

void AlarmingPages::load(const app::AppSettings& s) {
    for (const TextKey& key : kTextKeys) {
        setText(key.field, QString::fromStdString(s.*key.setting));
    }
    for (const NumberKey& key : kNumberKeys) {
        setText(key.field, QString::number(s.*key.setting));
    }
    for (const auto& [check, setting] : boxKeys()) {
        check->setChecked(s.*setting);
    }
    httpMethod->setCurrentIndex(s.httpSmsMethod == "Get" ? 0 : 1);
    facility->setCurrentIndex(facility->findText(
        QString::fromStdString(std::string(app::FacilityName(s.syslogFacility)))));
    severity->setCurrentIndex(severity->findText(
        QString::fromStdString(std::string(app::SeverityName(s.syslogSeverity)))));
}

void AlarmingPages::store(app::AppSettings& s) const {
    for (const TextKey& key : kTextKeys) {
        s.*key.setting = text(key.field).toStdString();
    }
    // A box of a page that is off may hold no number: the setting stays.
    for (const NumberKey& key : kNumberKeys) {
        if (IsInteger(text(key.field))) {
            s.*key.setting = text(key.field).toInt();
        }
    }
    for (const auto& [check, setting] : boxKeys()) {
        s.*setting = check->isChecked();
    }
    s.httpSmsMethod = httpMethod->currentText().toStdString();
    s.syslogFacility = app::FacilityFromName(facility->currentText().toStdString());
    s.syslogSeverity = app::SeverityFromName(severity->currentText().toStdString());
}

}  // namespace vantor::ui
