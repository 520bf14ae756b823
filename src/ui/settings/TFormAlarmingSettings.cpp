#include "ui/settings/TFormAlarmingSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QShowEvent>
#include <QTabWidget>
#include <QVBoxLayout>

#include "alarm/ThreadSMS.h"
#include "alarm/ThreadSMTP.h"
#include "alarm/ThreadSysLog.h"
#include "alarm/ThreadURL.h"
#include "app/Messages.h"
#include "pool/ThreadPoolManager.h"
#include "session/Session.h"
#include "ui/editor/FrameWidgets.h"
#include "ui/support/FormSupport.h"
#include "ui/support/MessageBox.h"

namespace vantor::ui {

namespace {

const char* const kTopics[] = {"Email_Alarm", "SMS_Alarm", "SMS_by_HTTP_Alarm", "SysLog_Alarm"};
const char* const kTestCaptions[] = {"Test Connection [Email]", "Test Connection [SMS]",
                                     "Test Connection [SMS by HTTP]", "Test Connection [SysLog]"};
const char* const kSending[] = {"SMTP Message is sending out...", "SMS Message is sending out...",
                                "SMS ( by HTTP ) Message is sending out...",
                                "SysLog Message is sending out..."};
const char* const kSent[] = {
    "SMTP Message has been sent already.", "SMS Message has been sent already.",
    "SMS ( by HTTP ) Message has been sent already.", "SysLog Message has been sent already."};
const char* const kErrorPrefix[] = {
    "SMTP Error : ", "SMS Error : ", "SMS ( by HTTP ) Error : ", "SysLog Error : "};

const QString kPageHint = QStringLiteral(
    "Please refer to the help file, you can click on the Help button on the bottom to open help "
    "file...");

// A host as typed, without a leading "http://" in any case.
std::string HostOf(const QString& typed) {
    QString host = typed;
    if (host.startsWith(QStringLiteral("HTTP://"), Qt::CaseInsensitive)) {
        host.remove(0, 7);
    }
    return host.toStdString();
}

// The SMPP sender's step texts, as the trial words them.
std::string SmsTrialError(const std::string& error) {
    const std::pair<std::string_view, const char*> steps[] = {
        {app::msg::kSmppConnectionFailed, "Connection Failed : "},
        {app::msg::kSmppBindingFailed, "Binding Failed : "},
        {app::msg::kSmppSendingFailed, "Sending Failed : "}};
    for (const auto& [message, trial] : steps) {
        if (error.rfind(message, 0) == 0) {
            return trial + error.substr(message.size());
        }
    }
    return std::string(kErrorPrefix[1]) + error;
}

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

}  // namespace

TFormAlarmingSettings::TFormAlarmingSettings(session::Session& session, CommandLock& lock,
                                             QWidget* parent)
    : OwnedDialog(lock, parent), m_session(session), m_pages(new QTabWidget(this)) {
    setObjectName("FormAlarmingSettings");
    setWindowTitle(QStringLiteral("Alarming Options"));
    setWindowFlags(Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowCloseButtonHint);
    m_pages->setObjectName("AlarmPages");
    m_pages->addTab(buildEmail(), QStringLiteral("Email - SMTP"));
    m_pages->addTab(buildSms(), QStringLiteral("SMS - SMPP"));
    m_pages->addTab(buildHttpSms(), QStringLiteral("SMS by HTTP"));
    m_pages->addTab(buildSysLog(), QStringLiteral("BSD SysLog"));
    for (int page = 0; page < 4; ++page) {
        m_pages->widget(page)->setToolTip(kPageHint);
    }
    // Each box is named in messages by its label.
    for (auto& [name, field] : m_fields) {
        if (auto* rows = qobject_cast<QFormLayout*>(field.box->parentWidget()->layout())) {
            if (auto* label = qobject_cast<QLabel*>(rows->labelForField(field.box))) {
                field.box->setAccessibleName(label->text().trimmed());
            }
        }
    }

    auto* help = new QPushButton(QStringLiteral("&Help"), this);
    help->setToolTip(QStringLiteral("Click for help..."));
    m_test = new QPushButton(this);
    m_test->setObjectName("ButtonTest");
    m_test->setToolTip(QStringLiteral("Click to test connection..."));
    m_apply = new QPushButton(QStringLiteral("Apply"), this);
    m_apply->setObjectName("ButtonApply");
    m_apply->setToolTip(QStringLiteral("Click to save the alarming options"));
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName("ButtonCancel");
    cancel->setToolTip(QStringLiteral("Click to cancel changes and close the window"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(help);
    buttons->addStretch(1);
    for (QPushButton* b : {m_test, m_apply, cancel}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    m_status = new QLabel(this);
    m_status->setObjectName("StatusText");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pages, 1);
    layout->addLayout(buttons);
    layout->addWidget(m_status);
    resize(640, 600);

    connect(help, &QPushButton::clicked, this, [this] {
        if (onHelp) {
            onHelp(QString::fromLatin1(kTopics[m_pages->currentIndex()]));
        }
    });
    connect(m_test, &QPushButton::clicked, this,
            [this] { m_session.guarded([this] { runTrial(); }); });
    connect(m_apply, &QPushButton::clicked, this,
            [this] { m_session.guarded([this] { apply(); }); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_pages, &QTabWidget::currentChanged, this, [this] { followPage(); });
    for (QCheckBox* box : findChildren<QCheckBox*>()) {
        connect(box, &QCheckBox::toggled, this, [this] {
            followEnable();
            followPage();
        });
    }
    connect(m_httpMethod, &QComboBox::currentIndexChanged, this, [this] { followEnable(); });
    // Entering any input control makes the changes worth applying.
    const auto edited = [this] { m_apply->setEnabled(true); };
    for (QLineEdit* e : findChildren<QLineEdit*>()) {
        connect(e, &QLineEdit::textEdited, this, edited);
    }
    for (QPlainTextEdit* e : {m_httpUrl}) {
        connect(e, &QPlainTextEdit::textChanged, this, [this, e] {
            if (e->hasFocus()) {
                m_apply->setEnabled(true);
            }
        });
    }
    for (QComboBox* c : findChildren<QComboBox*>()) {
        connect(c, &QComboBox::activated, this, edited);
    }
    for (QCheckBox* c : findChildren<QCheckBox*>()) {
        connect(c, &QCheckBox::clicked, this, edited);
    }
}

QLineEdit* TFormAlarmingSettings::edit(QWidget* parent, const char* name, int page,
                                       QTabWidget* tabs, bool password) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QString::fromLatin1(name));
    if (password) {
        e->setEchoMode(QLineEdit::Password);
    }
    m_fields[name] = Field{e, page, tabs};
    return e;
}

QWidget* TFormAlarmingSettings::buildEmail() {
    auto* page = new QWidget;
    auto* rows = new QFormLayout(page);
    m_enable[Email] = new QCheckBox(
        QStringLiteral("Note : Enable this option, the alarm can be sent out via email by SMTP."),
        page);
    m_enable[Email]->setObjectName("CheckBoxEmailEnable");
    rows->addRow(QStringLiteral("Enable"), m_enable[Email]);
    rows->addRow(QStringLiteral("SMTP IP/Address"), edit(page, "EditSmtpIp", Email));
    rows->addRow(QStringLiteral("Port"), edit(page, "EditSmtpPort", Email));
    // The words SysInit.ini holds; TLS is TLS from the first byte.
    auto* security = new QComboBox(page);
    security->setObjectName("ComboSmtpSecurity");
    for (const char* word : kSecurityWords) {
        security->addItem(QString::fromLatin1(word), QString::fromLatin1(word));
    }
    m_fields["ComboSmtpSecurity"] = Field{security, Email, nullptr};
    rows->addRow(QStringLiteral("Security"), security);
    // The port follows while it holds a default of one of them.
    connect(security, &QComboBox::activated, this, [this](int chosen) {
        if (chosen < 0 || chosen >= static_cast<int>(std::size(kSecurityPorts))) {
            return;  // a word SysInit.ini held that the list does not know
        }
        auto* port = static_cast<QLineEdit*>(m_fields.at("EditSmtpPort").box);
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
    m_smtpAuth = new QCheckBox(page);
    m_smtpAuth->setObjectName("CheckBoxSmtpAuth");
    rows->addRow(QStringLiteral("Authentication"), m_smtpAuth);
    rows->addRow(QStringLiteral("Username"), edit(page, "EditSmtpUser", Email));
    rows->addRow(QStringLiteral("Password"), edit(page, "EditSmtpPassword", Email, nullptr, true));
    rows->addRow(QStringLiteral("Timeout (ms)"), edit(page, "EditSmtpTimeout", Email));
    m_smtpMessage = new QPlainTextEdit(page);
    m_smtpMessage->setObjectName("MemoSmtpMessage");
    m_smtpMessage->setMaximumHeight(70);
    m_testGroup[Email] = TestGroup(page, QStringLiteral("Test Connection (Email)"), m_smtpMessage,
                                   QStringLiteral("Message"));
    rows->addRow(m_testGroup[Email]);
    return page;
}

QWidget* TFormAlarmingSettings::buildSms() {
    auto* page = new QWidget;
    auto* rows = new QFormLayout(page);
    m_enable[Sms] = new QCheckBox(
        QStringLiteral("Note : Enable this option, the alarm can be sent out via SMS. Please note "
                       "that it will append only 160 English charaters into the SMS message."),
        page);
    m_enable[Sms]->setObjectName("CheckBoxSmsEnable");
    rows->addRow(QStringLiteral("Enable"), m_enable[Sms]);
    rows->addRow(QStringLiteral("SMSC IP"), edit(page, "EditSmsIp", Sms));
    rows->addRow(QStringLiteral("Port"), edit(page, "EditSmsPort", Sms));
    rows->addRow(QStringLiteral("Timeout (ms)"), edit(page, "EditSmsTimeout", Sms));
    m_smsTabs = new QTabWidget(page);
    m_smsTabs->setObjectName("SmsTabs");
    QFormLayout* tab = nullptr;
    AddPage(*m_smsTabs, QStringLiteral("Sending Information"), tab);
    tab->addRow(QStringLiteral("Phone Number"),
                edit(tab->parentWidget(), "EditSmsPhone", Sms, m_smsTabs));
    AddPage(*m_smsTabs, QStringLiteral("Authentication"), tab);
    m_smsAuth = new QCheckBox(QStringLiteral("Authentication"), tab->parentWidget());
    m_smsAuth->setObjectName("CheckBoxSmsAuth");
    tab->addRow(m_smsAuth);
    tab->addRow(QStringLiteral("Username"),
                edit(tab->parentWidget(), "EditSmsUser", Sms, m_smsTabs));
    tab->addRow(QStringLiteral("Password"),
                edit(tab->parentWidget(), "EditSmsPassword", Sms, m_smsTabs, true));
    AddPage(*m_smsTabs, QStringLiteral("Binding"), tab);
    tab->addRow(QStringLiteral("Version"),
                edit(tab->parentWidget(), "EditSmsVersion", Sms, m_smsTabs));
    tab->addRow(QStringLiteral("System Type"),
                edit(tab->parentWidget(), "EditSmsSystemType", Sms, m_smsTabs));
    tab->addRow(QStringLiteral("TON"), edit(tab->parentWidget(), "EditSmsTon", Sms, m_smsTabs));
    tab->addRow(QStringLiteral("NPI"), edit(tab->parentWidget(), "EditSmsNpi", Sms, m_smsTabs));
    AddPage(*m_smsTabs, QStringLiteral("Extra Information"), tab);
    tab->addRow(QStringLiteral("OA / SA"), edit(tab->parentWidget(), "EditSmsOa", Sms, m_smsTabs));
    tab->addRow(QStringLiteral("Dest. TON"),
                edit(tab->parentWidget(), "EditSmsDestTon", Sms, m_smsTabs));
    tab->addRow(QStringLiteral("Dest. NPI"),
                edit(tab->parentWidget(), "EditSmsDestNpi", Sms, m_smsTabs));
    tab->addRow(QStringLiteral("Orig. TON"),
                edit(tab->parentWidget(), "EditSmsOrigTon", Sms, m_smsTabs));
    tab->addRow(QStringLiteral("Orig. NPI"),
                edit(tab->parentWidget(), "EditSmsOrigNpi", Sms, m_smsTabs));
    rows->addRow(m_smsTabs);
    m_testGroup[Sms] = TestGroup(page, QStringLiteral("Test Connection (SMS)"),
                                 edit(page, "EditSmsMessage", Sms), QStringLiteral("Message"));
    rows->addRow(m_testGroup[Sms]);
    return page;
}

QWidget* TFormAlarmingSettings::buildHttpSms() {
    auto* page = new QWidget;
    auto* rows = new QFormLayout(page);
    m_enable[HttpSms] = new QCheckBox(
        QStringLiteral("Note : Enable this option, the alarm can be sent out via SMS by HTTP."),
        page);
    m_enable[HttpSms]->setObjectName("CheckBoxHttpEnable");
    rows->addRow(QStringLiteral("Enable"), m_enable[HttpSms]);
    m_httpUrl = new QPlainTextEdit(page);
    m_httpUrl->setObjectName("MemoHttpUrl");
    m_httpUrl->setMaximumHeight(56);
    m_fields["MemoHttpUrl"] = Field{m_httpUrl, HttpSms, nullptr};
    rows->addRow(QStringLiteral("URL"), m_httpUrl);
    rows->addRow(QStringLiteral("Port"), edit(page, "EditHttpPort", HttpSms));
    m_httpMethod = new QComboBox(page);
    m_httpMethod->setObjectName("ComboHttpMethod");
    m_httpMethod->addItems({QStringLiteral("Get"), QStringLiteral("Post")});
    rows->addRow(QStringLiteral("Method"), m_httpMethod);
    rows->addRow(QStringLiteral("Phone No"), edit(page, "EditHttpPhone", HttpSms));
    rows->addRow(QStringLiteral("Timeout (ms)"), edit(page, "EditHttpTimeout", HttpSms));
    m_httpTabs = new QTabWidget(page);
    m_httpTabs->setObjectName("HttpTabs");
    QFormLayout* tab = nullptr;
    const auto at = [&](const char* name, bool password = false) {
        return edit(tab->parentWidget(), name, HttpSms, m_httpTabs, password);
    };
    AddPage(*m_httpTabs, QStringLiteral("Fields Name for the \"Post\" method."), tab);
    tab->addRow(QStringLiteral("MSISDN"), at("EditHttpMsisdnName"));
    tab->addRow(QStringLiteral("MESSAGE"), at("EditHttpMessageName"));
    AddPage(*m_httpTabs, QStringLiteral("Extra Fields for the \"Post\" method"), tab);
    tab->addRow(QStringLiteral("Field1 Name"), at("EditHttpField1Name"));
    tab->addRow(QStringLiteral("Field1 Value"), at("EditHttpField1Value"));
    tab->addRow(QStringLiteral("Field2 Name"), at("EditHttpField2Name"));
    tab->addRow(QStringLiteral("Field2 Value"), at("EditHttpField2Value"));
    AddPage(*m_httpTabs, QStringLiteral("Authentication"), tab);
    m_httpAuth = new QCheckBox(QStringLiteral("Authentication"), tab->parentWidget());
    m_httpAuth->setObjectName("CheckBoxHttpAuth");
    tab->addRow(m_httpAuth);
    tab->addRow(QStringLiteral("Username"), at("EditHttpUser"));
    tab->addRow(QStringLiteral("Password"), at("EditHttpPassword", true));
    AddPage(*m_httpTabs, QStringLiteral("Proxy"), tab);
    tab->addRow(QStringLiteral("Proxy Server"), at("EditHttpProxyServer"));
    tab->addRow(QStringLiteral("Proxy Port"), at("EditHttpProxyPort"));
    tab->addRow(QStringLiteral("Proxy Username "), at("EditHttpProxyUser"));
    tab->addRow(QStringLiteral("Proxy Password"), at("EditHttpProxyPassword", true));
    rows->addRow(m_httpTabs);
    m_testGroup[HttpSms] =
        TestGroup(page, QStringLiteral("Test Connection (SMS-HTTP)"),
                  edit(page, "EditHttpMessage", HttpSms), QStringLiteral("$MESSAGE"));
    rows->addRow(m_testGroup[HttpSms]);
    auto* response = new QGroupBox(QStringLiteral("Response"), page);
    auto* responseRows = new QVBoxLayout(response);
    m_httpResponse = new QPlainTextEdit(response);
    m_httpResponse->setObjectName("MemoHttpResponse");
    m_httpResponse->setReadOnly(true);
    m_httpResponse->setMaximumHeight(60);
    responseRows->addWidget(m_httpResponse);
    rows->addRow(response);
    return page;
}

QWidget* TFormAlarmingSettings::buildSysLog() {
    auto* page = new QWidget;
    auto* rows = new QFormLayout(page);
    m_enable[SysLog] = new QCheckBox(
        QStringLiteral(
            "Note : Enable this option, the alarm can be sent to other BSD SysLog server "
            "(Linux/Unix)."),
        page);
    m_enable[SysLog]->setObjectName("CheckBoxSyslogEnable");
    rows->addRow(QStringLiteral("Enable"), m_enable[SysLog]);
    rows->addRow(QStringLiteral("IP"), edit(page, "EditSyslogIp", SysLog));
    rows->addRow(QStringLiteral("Port"), edit(page, "EditSyslogPort", SysLog));
    m_facility = new QComboBox(page);
    m_facility->setObjectName("ComboSyslogFacility");
    for (int number = 0; number < 24; ++number) {
        m_facility->addItem(QString::fromStdString(std::string(app::FacilityName(number))));
    }
    rows->addRow(QStringLiteral("Facility"), m_facility);
    m_severity = new QComboBox(page);
    m_severity->setObjectName("ComboSyslogSeverity");
    m_severity->addItems({QStringLiteral("Emergency"), QStringLiteral("Alert"),
                          QStringLiteral("Critical"), QStringLiteral("Error"),
                          QStringLiteral("Warning"), QStringLiteral("Notice"),
                          QStringLiteral("Informational"), QStringLiteral("Debug")});
    rows->addRow(QStringLiteral("Severity"), m_severity);
    rows->addRow(QStringLiteral("Timeout (ms)"), edit(page, "EditSyslogTimeout", SysLog));
    m_testGroup[SysLog] =
        TestGroup(page, QStringLiteral("Test Connection (BSD SysLog)"),
                  edit(page, "EditSyslogMessage", SysLog), QStringLiteral("Message"));
    rows->addRow(m_testGroup[SysLog]);
    return page;
}

QString TFormAlarmingSettings::text(const char* name) const {
    const QWidget* box = m_fields.at(name).box;
    if (const auto* line = qobject_cast<const QLineEdit*>(box)) {
        return line->text();
    }
    if (const auto* list = qobject_cast<const QComboBox*>(box)) {
        return list->currentData().toString();
    }
    return static_cast<const QPlainTextEdit*>(box)->toPlainText();
}

void TFormAlarmingSettings::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        load();
    }
    OwnedDialog::showEvent(event);
}

void TFormAlarmingSettings::status(const QString& text) {
    m_status->setText(text);
}

void TFormAlarmingSettings::setText(const char* name, const QString& value) {
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

std::array<std::pair<QCheckBox*, bool app::AppSettings::*>, 7> TFormAlarmingSettings::boxKeys()
    const {
    return {{{m_enable[Email], &S::smtpEnable},
             {m_smtpAuth, &S::smtpAuthEnable},
             {m_enable[Sms], &S::smsEnable},
             {m_smsAuth, &S::smsAuthEnable},
             {m_enable[HttpSms], &S::httpSmsEnable},
             {m_httpAuth, &S::httpSmsAuthEnable},
             {m_enable[SysLog], &S::syslogEnable}}};
}

void TFormAlarmingSettings::load() {
    const app::AppSettings& s = m_session.settings();
    for (const TextKey& key : kTextKeys) {
        setText(key.field, QString::fromStdString(s.*key.setting));
    }
    for (const NumberKey& key : kNumberKeys) {
        setText(key.field, QString::number(s.*key.setting));
    }
    for (const auto& [box, setting] : boxKeys()) {
        box->setChecked(s.*setting);
    }
    m_httpMethod->setCurrentIndex(s.httpSmsMethod == "Get" ? 0 : 1);
    m_facility->setCurrentIndex(m_facility->findText(
        QString::fromStdString(std::string(app::FacilityName(s.syslogFacility)))));
    m_severity->setCurrentIndex(m_severity->findText(
        QString::fromStdString(std::string(app::SeverityName(s.syslogSeverity)))));
    followEnable();
    followPage();
    m_apply->setEnabled(false);
    status({});
}

void TFormAlarmingSettings::followEnable() {
    const auto follow = [this](int page, std::initializer_list<const char*> names,
                               std::initializer_list<QWidget*> others) {
        const bool on = m_enable[page]->isChecked();
        for (const char* name : names) {
            m_fields.at(name).box->setEnabled(on);
        }
        for (QWidget* w : others) {
            w->setEnabled(on);
        }
        m_testGroup[page]->setEnabled(on);
    };
    follow(Email,
           {"EditSmtpIp", "EditSmtpPort", "ComboSmtpSecurity", "EditSmtpEmail", "EditSmtpAgent",
            "EditSmtpFrom", "EditSmtpTimeout"},
           {m_smtpAuth});
    follow(Sms,
           {"EditSmsIp", "EditSmsPort", "EditSmsTimeout", "EditSmsPhone", "EditSmsVersion",
            "EditSmsSystemType", "EditSmsTon", "EditSmsNpi", "EditSmsOa", "EditSmsDestTon",
            "EditSmsDestNpi", "EditSmsOrigTon", "EditSmsOrigNpi"},
           {m_smsAuth});
    follow(HttpSms,
           {"MemoHttpUrl", "EditHttpPort", "EditHttpProxyServer", "EditHttpProxyPort",
            "EditHttpProxyUser", "EditHttpProxyPassword", "EditHttpTimeout"},
           {m_httpMethod, m_httpAuth});
    follow(SysLog, {"EditSyslogIp", "EditSyslogPort", "EditSyslogTimeout"},
           {m_facility, m_severity});
    const auto pair = [this](int page, QCheckBox* auth, const char* user, const char* password) {
        const bool on = m_enable[page]->isChecked() && auth->isChecked();
        m_fields.at(user).box->setEnabled(on);
        m_fields.at(password).box->setEnabled(on);
    };
    pair(Email, m_smtpAuth, "EditSmtpUser", "EditSmtpPassword");
    pair(Sms, m_smsAuth, "EditSmsUser", "EditSmsPassword");
    pair(HttpSms, m_httpAuth, "EditHttpUser", "EditHttpPassword");
    const bool post =
        m_enable[HttpSms]->isChecked() && m_httpMethod->currentText() == QStringLiteral("Post");
    m_httpTabs->widget(0)->setEnabled(post);
    m_httpTabs->widget(1)->setEnabled(post);
}

void TFormAlarmingSettings::followPage() {
    const int page = m_pages->currentIndex();
    m_test->setText(QString::fromLatin1(kTestCaptions[page]));
    m_test->setEnabled(m_enable[page]->isChecked() && !m_trialRunning);
}

void TFormAlarmingSettings::refuse(const QString& message, QWidget* field) {
    MessageBox::show(this, app::MessageBoxKind::Information, message);
    for (const auto& [name, f] : m_fields) {
        if (f.box == field) {
            m_pages->setCurrentIndex(f.page);
            if (f.tabs != nullptr) {
                ShowPageOf(*f.tabs, field);
            }
        }
    }
    field->setFocus();
}

bool TFormAlarmingSettings::validatePage(int page) {
    if (!m_enable[page]->isChecked()) {
        return true;
    }
    struct Rule {
        const char* field;
        const char* label;
        bool integer;
    };
    static const std::vector<Rule> rules[] = {{{"EditSmtpIp", "SMTP IP/Address", false},
                                               {"EditSmtpPort", "SMTP Port", true},
                                               {"EditSmtpEmail", "SMTP Destination Email", false},
                                               {"EditSmtpFrom", "SMTP From Address", false},
                                               {"EditSmtpTimeout", "SMTP Timeout", true}},
                                              {{"EditSmsIp", "SMSC IP", false},
                                               {"EditSmsPort", "SMSC Port", true},
                                               {"EditSmsTimeout", "SMS Timeout", true},
                                               {"EditSmsPhone", "SMSC Phone Number", false},
                                               {"EditSmsVersion", "SMSC Version", true},
                                               {"EditSmsTon", "SMSC TON", true},
                                               {"EditSmsNpi", "SMSC NPI", true},
                                               {"EditSmsDestTon", "SMSC Dest. TON", true},
                                               {"EditSmsDestNpi", "SMSC Dest. NPI", true},
                                               {"EditSmsOrigTon", "SMSC Orig. TON", true},
                                               {"EditSmsOrigNpi", "SMSC Orig. NPI", true}},
                                              {{"MemoHttpUrl", "HTTP-SMS URL", false},
                                               {"EditHttpPort", "HTTP-SMS Port", true},
                                               {"EditHttpPhone", "HTTP-SMS Phone No", false},
                                               {"EditHttpTimeout", "HTTP-SMS Timeout", true},
                                               {"EditHttpProxyPort", "HTTP-SMS Proxy Port", true}},
                                              {{"EditSyslogIp", "SysLog IP", false},
                                               {"EditSyslogPort", "SysLog Port", true},
                                               {"EditSyslogTimeout", "SysLog Timeout", true}}};
    if (page == HttpSms && text("EditHttpProxyPort").isEmpty()) {
        static_cast<QLineEdit*>(m_fields.at("EditHttpProxyPort").box)->setText(QStringLiteral("0"));
    }
    std::vector<Rule> all = rules[page];
    if (page == HttpSms && m_httpMethod->currentText() == QStringLiteral("Post")) {
        all.push_back({"EditHttpMsisdnName", "HTTP-SMS MSISDN", false});
        all.push_back({"EditHttpMessageName", "HTTP-SMS MESSAGE", false});
    }
    for (const Rule& rule : all) {
        const QString value = text(rule.field);
        const QString label = QString::fromLatin1(rule.label);
        QWidget* field = m_fields.at(rule.field).box;
        if (!rule.integer && value.isEmpty()) {
            // An empty SMSC host puts the focus on the Enable box.
            refuse(
                QStringLiteral("%1 field is empty.").arg(label),
                page == Sms && rule.field == std::string_view("EditSmsIp") ? m_enable[Sms] : field);
            return false;
        }
        if (rule.integer && !IsInteger(value)) {
            refuse(QStringLiteral("%1 is invalid integer or empty.").arg(label), field);
            return false;
        }
    }
    // A line break would end a protocol line early.
    for (const auto& [name, f] : m_fields) {
        if (f.page != page || name.find("Message") != std::string::npos) {
            continue;
        }
        if (HasLineBreak(text(name.c_str()))) {
            refuse(QStringLiteral("%1 must not hold a line break.").arg(f.box->accessibleName()),
                   f.box);
            return false;
        }
    }
    return true;
}

void TFormAlarmingSettings::apply() {
    for (int page = Email; page <= SysLog; ++page) {
        if (!validatePage(page)) {
            return;
        }
    }
    app::AppSettings& s = m_session.settings();
    for (const TextKey& key : kTextKeys) {
        s.*key.setting = text(key.field).toStdString();
    }
    // A box of a page that is off may hold no number: the setting stays.
    for (const NumberKey& key : kNumberKeys) {
        if (IsInteger(text(key.field))) {
            s.*key.setting = text(key.field).toInt();
        }
    }
    for (const auto& [box, setting] : boxKeys()) {
        s.*setting = box->isChecked();
    }
    s.httpSmsMethod = m_httpMethod->currentText().toStdString();
    s.syslogFacility = app::FacilityFromName(m_facility->currentText().toStdString());
    s.syslogSeverity = app::SeverityFromName(m_severity->currentText().toStdString());
    SaveAppliedSettings(m_session);
    const QString saved = QStringLiteral("Option settings saved.");
    if (onStatus) {
        onStatus(saved);
    }
    status(saved);
    m_apply->setEnabled(false);
}

void TFormAlarmingSettings::reject() {
    if (onStatus) {
        onStatus(QStringLiteral("Updating option settings cancel."));
    }
    OwnedDialog::reject();
}

void TFormAlarmingSettings::runTrial() {
    const int page = m_pages->currentIndex();
    const char* messageField[] = {nullptr, "EditSmsMessage", "EditHttpMessage",
                                  "EditSyslogMessage"};
    const QString message = page == Email ? m_smtpMessage->toPlainText() : text(messageField[page]);
    if (message.isEmpty()) {
        MessageBox::show(
            this, app::MessageBoxKind::Information,
            QStringLiteral("%1 is empty. Please input this field for testing connection.")
                .arg(page == HttpSms ? QStringLiteral("$MESSAGE") : QStringLiteral("Message")));
        if (page == Email) {
            m_smtpMessage->setFocus();
        } else {
            m_fields.at(messageField[page]).box->setFocus();
        }
        return;
    }
    if (!validatePage(page) || !m_session.started()) {
        return;
    }
    const std::string body = message.toStdString();
    const auto num = [this](const char* name) { return text(name).toInt(); };
    std::unique_ptr<alarm::SenderWorkItem> item;
    if (page == Email) {
        alarm::SmtpSettings settings;
        settings.host = HostOf(text("EditSmtpIp"));
        settings.port = num("EditSmtpPort");
        settings.security = text("ComboSmtpSecurity").toStdString();
        settings.authenticate = m_smtpAuth->isChecked();
        settings.username = text("EditSmtpUser").toStdString();
        settings.password = text("EditSmtpPassword").toStdString();
        settings.timeoutMs = num("EditSmtpTimeout");
        alarm::AlarmMail mail{alarm::ParseMailbox(text("EditSmtpFrom").toStdString()),
                              alarm::ParseAddressList(text("EditSmtpEmail").toStdString()), body,
                              text("EditSmtpAgent").toStdString()};
        item = std::make_unique<alarm::ThreadSMTP>(settings, mail);
    } else if (page == Sms) {
        alarm::SmsSettings settings;
        settings.host = text("EditSmsIp").toStdString();
        settings.port = num("EditSmsPort");
        // The trial binds with the boxes whatever Authentication says.
        settings.systemId = text("EditSmsUser").toStdString();
        settings.password = text("EditSmsPassword").toStdString();
        settings.originator = text("EditSmsOa").toStdString();
        settings.destination = text("EditSmsPhone").toStdString();
        settings.interfaceVersion = num("EditSmsVersion");
        settings.systemType = text("EditSmsSystemType").toStdString();
        settings.bindTon = num("EditSmsTon");
        settings.bindNpi = num("EditSmsNpi");
        settings.destTon = num("EditSmsDestTon");
        settings.destNpi = num("EditSmsDestNpi");
        settings.origTon = num("EditSmsOrigTon");
        settings.origNpi = num("EditSmsOrigNpi");
        settings.timeoutMs = num("EditSmsTimeout");
        item = std::make_unique<alarm::ThreadSMS>(settings, body);
    } else if (page == HttpSms) {
        alarm::HttpSmsSettings settings;
        settings.url = text("MemoHttpUrl").toStdString();
        settings.port = num("EditHttpPort");
        settings.method = m_httpMethod->currentText().toStdString();
        settings.authenticate = m_httpAuth->isChecked();
        settings.username = text("EditHttpUser").toStdString();
        settings.password = text("EditHttpPassword").toStdString();
        settings.proxyServer = text("EditHttpProxyServer").toStdString();
        settings.proxyPort = num("EditHttpProxyPort");
        settings.proxyUsername = text("EditHttpProxyUser").toStdString();
        settings.proxyPassword = text("EditHttpProxyPassword").toStdString();
        settings.msisdnFieldName = text("EditHttpMsisdnName").toStdString();
        settings.messageFieldName = text("EditHttpMessageName").toStdString();
        settings.extraField1Name = text("EditHttpField1Name").toStdString();
        settings.extraField1Value = text("EditHttpField1Value").toStdString();
        settings.extraField2Name = text("EditHttpField2Name").toStdString();
        settings.extraField2Value = text("EditHttpField2Value").toStdString();
        settings.timeoutMs = num("EditHttpTimeout");
        item = alarm::ThreadURL::Trial(settings, text("EditHttpPhone").toStdString(), body);
    } else {
        alarm::SyslogSettings settings;
        settings.host = HostOf(text("EditSyslogIp"));
        settings.port = num("EditSyslogPort");
        settings.facility = app::FacilityFromName(m_facility->currentText().toStdString());
        settings.severity = app::SeverityFromName(m_severity->currentText().toStdString());
        settings.timeoutMs = num("EditSyslogTimeout");
        item = std::make_unique<alarm::ThreadSysLog>(settings, alarm::PrepareSyslogText(body));
    }
    // The send runs on the pool; the window goes on meanwhile.
    m_trialRunning = true;
    followPage();
    status(QString::fromLatin1(kSending[page]));
    QPointer<TFormAlarmingSettings> self(this);
    m_session.pool().QueueWorkItem(
        std::unique_ptr<pool::WorkItem>(item.release()), [self, page](pool::WorkItem& done) {
            if (self) {
                self->trialDone(static_cast<alarm::SenderWorkItem&>(done), page);
            }
        });
}

void TFormAlarmingSettings::trialDone(const alarm::SenderWorkItem& item, int page) {
    m_trialRunning = false;
    followPage();
    const alarm::SenderResult& result = item.result();
    if (result.ok) {
        if (page == HttpSms) {
            m_httpResponse->setPlainText(
                QString::fromStdString(static_cast<const alarm::ThreadURL&>(item).responseBody()));
        }
        status(QString::fromLatin1(kSent[page]));
        return;
    }
    const std::string error =
        page == Sms ? SmsTrialError(result.error) : std::string(kErrorPrefix[page]) + result.error;
    status(QString::fromStdString(error));
}

}  // namespace vantor::ui
