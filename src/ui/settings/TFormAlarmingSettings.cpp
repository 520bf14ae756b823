// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/settings/TFormAlarmingSettings.h"

#include "ui/settings/PolicyPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QShowEvent>
#include <QTabWidget>
#include <QVBoxLayout>
#include <memory>
#include <string>
#include <vector>

#include "alarm/ThreadSMS.h"
#include "alarm/ThreadSMTP.h"
#include "alarm/ThreadSysLog.h"
#include "alarm/ThreadURL.h"
#include "app/AppSettings.h"
#include "app/Messages.h"
#include "pool/ThreadPoolManager.h"
#include "session/Session.h"
#include "ui/editor/FrameWidgets.h"
#include "ui/support/FormSupport.h"
#include "ui/support/MessageBox.h"

namespace vantor::ui {

using enum AlarmingPages::Page;

namespace {

const char* const kTopics[] = {"Email_Alarm", "SMS_Alarm", "SMS_by_HTTP_Alarm", "SysLog_Alarm",
                               "Alarm_Policy"};
// The page after the four methods' pages.
constexpr int kPolicyPage = 4;
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

// A trial sends what an alarm of its page would, from the same settings,
// but for the trial's own differences.
std::unique_ptr<alarm::SenderWorkItem> TrialSender(int page, const app::AppSettings& s,
                                                   const std::string& text) {
    if (page == Email) {
        alarm::SmtpSettings smtp = alarm::SmtpSettingsFrom(s);
        // A host may be typed as a web address.
        smtp.host = HostOf(QString::fromStdString(smtp.host));
        return std::make_unique<alarm::ThreadSMTP>(
            smtp, alarm::AlarmMailFrom(s, s.smtpEmailAddress, text));
    }
    if (page == Sms) {
        alarm::SmsSettings sms = alarm::SmsSettingsFrom(s, s.smsPhone);
        // The trial binds with the boxes whatever Authentication says.
        sms.systemId = s.smsUsername;
        sms.password = s.smsPassword;
        return std::make_unique<alarm::ThreadSMS>(sms, text);
    }
    if (page == HttpSms) {
        // A URL without a scheme, the trial's own headers and all four fields.
        return alarm::ThreadURL::Trial(alarm::HttpSmsSettingsFrom(s), s.httpSmsMsisdnFieldValue,
                                       text);
    }
    alarm::SyslogSettings syslog = alarm::SyslogSettingsFrom(s);
    syslog.host = HostOf(QString::fromStdString(syslog.host));  // as for e-mail
    return std::make_unique<alarm::ThreadSysLog>(syslog, alarm::PrepareSyslogText(text));
}

}  // namespace

TFormAlarmingSettings::TFormAlarmingSettings(session::Session& session, CommandLock& lock,
                                             QWidget* parent)
    : OwnedDialog(lock, parent), m_session(session), m_pages(new QTabWidget(this)), m_ui(*m_pages) {
    setObjectName("FormAlarmingSettings");
    setWindowTitle(QStringLiteral("Alarming Options"));
    setWindowFlags(Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowCloseButtonHint);
    m_pages->setObjectName("AlarmPages");
    m_policy = new PolicyPage;
    m_pages->addTab(m_policy, QStringLiteral("Alarm Policy"));
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
    connect(cancel, &QPushButton::clicked, this, &TFormAlarmingSettings::cancel);
    connect(m_pages, &QTabWidget::currentChanged, this, [this] { followPage(); });
    for (QCheckBox* box : findChildren<QCheckBox*>()) {
        connect(box, &QCheckBox::toggled, this, [this] {
            followEnable();
            followPage();
        });
    }
    connect(m_ui.httpMethod, &QComboBox::currentIndexChanged, this, [this] { followEnable(); });
    // Entering any input control makes the changes worth applying.
    const auto edited = [this] { m_apply->setEnabled(true); };
    for (QLineEdit* e : findChildren<QLineEdit*>()) {
        connect(e, &QLineEdit::textEdited, this, edited);
    }
    for (QPlainTextEdit* e : {m_ui.httpUrl}) {
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
    EnableApplyOnEntering(*this, *m_apply);
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

void TFormAlarmingSettings::load() {
    m_ui.load(m_session.settings());
    m_policy->load(m_session.settings());
    followEnable();
    followPage();
    m_apply->setEnabled(false);
    status({});
}

void TFormAlarmingSettings::followEnable() {
    const auto follow = [this](int page, std::initializer_list<const char*> names,
                               std::initializer_list<QWidget*> others) {
        const bool on = m_ui.enable[page]->isChecked();
        for (const char* name : names) {
            m_ui.box(name)->setEnabled(on);
        }
        for (QWidget* w : others) {
            w->setEnabled(on);
        }
        m_ui.testGroup[page]->setEnabled(on);
    };
    follow(Email,
           {"EditSmtpIp", "EditSmtpPort", "ComboSmtpSecurity", "EditSmtpEmail", "EditSmtpAgent",
            "EditSmtpFrom", "EditSmtpTimeout"},
           {m_ui.smtpAuth});
    follow(Sms,
           {"EditSmsIp", "EditSmsPort", "EditSmsTimeout", "EditSmsPhone", "EditSmsVersion",
            "EditSmsSystemType", "EditSmsTon", "EditSmsNpi", "EditSmsOa", "EditSmsDestTon",
            "EditSmsDestNpi", "EditSmsOrigTon", "EditSmsOrigNpi"},
           {m_ui.smsAuth});
    follow(HttpSms,
           {"MemoHttpUrl", "EditHttpPort", "EditHttpProxyServer", "EditHttpProxyPort",
            "EditHttpProxyUser", "EditHttpProxyPassword", "EditHttpTimeout"},
           {m_ui.httpMethod, m_ui.httpAuth});
    follow(SysLog, {"EditSyslogIp", "EditSyslogPort", "EditSyslogTimeout"},
           {m_ui.facility, m_ui.severity});
    const auto pair = [this](int page, QCheckBox* auth, const char* user, const char* password) {
        const bool on = m_ui.enable[page]->isChecked() && auth->isChecked();
        m_ui.box(user)->setEnabled(on);
        m_ui.box(password)->setEnabled(on);
    };
    pair(Email, m_ui.smtpAuth, "EditSmtpUser", "EditSmtpPassword");
    pair(Sms, m_ui.smsAuth, "EditSmsUser", "EditSmsPassword");
    pair(HttpSms, m_ui.httpAuth, "EditHttpUser", "EditHttpPassword");
    const bool post = m_ui.enable[HttpSms]->isChecked() &&
                      m_ui.httpMethod->currentText() == QStringLiteral("Post");
    m_ui.httpTabs->widget(0)->setEnabled(post);
    m_ui.httpTabs->widget(1)->setEnabled(post);
}

void TFormAlarmingSettings::followPage() {
    const int page = m_pages->currentIndex();
    if (page == kPolicyPage) {
        m_test->setText(QStringLiteral("Test Connection"));
        m_test->setEnabled(false);
        return;
    }
    m_test->setText(QString::fromLatin1(kTestCaptions[page]));
    m_test->setEnabled(m_ui.enable[page]->isChecked() && !m_trialRunning);
}

void TFormAlarmingSettings::refuse(const QString& message, QWidget* field) {
    MessageBox::show(this, app::MessageBoxKind::Information, message);
    for (const auto& [name, f] : m_ui.fields()) {
        if (f.box == field) {
            m_pages->setCurrentIndex(f.page);
            if (f.tabs != nullptr) {
                ShowPageOf(*f.tabs, field);
            }
        }
    }
    field->setFocus();
}

namespace {

// The fields each page checks, and how its refusals name them.
struct Rule {
    const char* field;
    const char* label;
    bool integer;
};
const std::vector<Rule> kRules[] = {{{"EditSmtpIp", "SMTP IP/Address", false},
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

// How the page's refusals name a field: as its rule does, else by its label.
QString RefusalName(int page, const std::string& field, const QWidget& box) {
    for (const Rule& rule : kRules[page]) {
        if (field == rule.field) {
            return QString::fromLatin1(rule.label);
        }
    }
    return box.accessibleName();
}

}  // namespace

bool TFormAlarmingSettings::validatePage(int page) {
    if (!m_ui.enable[page]->isChecked()) {
        return true;
    }
    if (page == HttpSms && m_ui.text("EditHttpProxyPort").isEmpty()) {
        m_ui.setText("EditHttpProxyPort", QStringLiteral("0"));
    }
    std::vector<Rule> all = kRules[page];
    if (page == HttpSms && m_ui.httpMethod->currentText() == QStringLiteral("Post")) {
        all.push_back({"EditHttpMsisdnName", "HTTP-SMS MSISDN", false});
        all.push_back({"EditHttpMessageName", "HTTP-SMS MESSAGE", false});
    }
    for (const Rule& rule : all) {
        const QString value = m_ui.text(rule.field);
        const QString label = QString::fromLatin1(rule.label);
        QWidget* field = m_ui.box(rule.field);
        if (!rule.integer && value.isEmpty()) {
            // An empty SMSC host puts the focus on the Enable box.
            refuse(QStringLiteral("%1 field is empty.").arg(label),
                   page == Sms && rule.field == std::string_view("EditSmsIp") ? m_ui.enable[Sms]
                                                                              : field);
            return false;
        }
        if (rule.integer && !IsInteger(value)) {
            refuse(QStringLiteral("%1 is invalid integer or empty.").arg(label), field);
            return false;
        }
    }
    // A line break would end a protocol line early.
    for (const auto& [name, f] : m_ui.fields()) {
        if (f.page != page || name.find("Message") != std::string::npos) {
            continue;
        }
        if (HasLineBreak(m_ui.text(name.c_str()))) {
            refuse(QStringLiteral("%1 must not hold a line break.")
                       .arg(RefusalName(page, name, *f.box)),
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
    if (const auto refused = m_policy->validate()) {
        m_pages->setCurrentIndex(kPolicyPage);
        MessageBox::show(this, app::MessageBoxKind::Information, refused->message);
        refused->box->setFocus();
        return;
    }
    m_ui.store(m_session.settings());
    m_policy->store(m_session.settings());
    SaveAppliedSettings(m_session);
    const QString saved = QStringLiteral("Option settings saved.");
    if (onStatus) {
        onStatus(saved);
    }
    status(saved);
    m_apply->setEnabled(false);
}

void TFormAlarmingSettings::cancel() {
    if (onStatus) {
        onStatus(QStringLiteral("Updating option settings cancel."));
    }
    reject();
}

void TFormAlarmingSettings::runTrial() {
    const int page = m_pages->currentIndex();
    if (page < Email || page > SysLog) {
        return;  // the policy page sends nothing
    }
    const char* messageField[] = {nullptr, "EditSmsMessage", "EditHttpMessage",
                                  "EditSyslogMessage"};
    const QString message =
        page == Email ? m_ui.smtpMessage->toPlainText() : m_ui.text(messageField[page]);
    if (message.isEmpty()) {
        MessageBox::show(
            this, app::MessageBoxKind::Information,
            QStringLiteral("%1 is empty. Please input this field for testing connection.")
                .arg(page == HttpSms ? QStringLiteral("$MESSAGE") : QStringLiteral("Message")));
        if (page == Email) {
            m_ui.smtpMessage->setFocus();
        } else {
            m_ui.box(messageField[page])->setFocus();
        }
        return;
    }
    if (!validatePage(page) || !m_session.started()) {
        return;
    }
    // The values on the pages, as Apply would take them, without keeping them.
    app::AppSettings onPages = m_session.settings();
    m_ui.store(onPages);
    std::unique_ptr<alarm::SenderWorkItem> item = TrialSender(page, onPages, message.toStdString());
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
            m_ui.httpResponse->setPlainText(
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
