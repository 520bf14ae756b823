// SPDX-License-Identifier: GPL-3.0-or-later
// The options window and the alarm options window with their trial sends,
// driven through their controls, against SysInit.ini and local servers.
#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFocusEvent>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include "app/IniFile.h"
#include "support/FakeHttpServer.h"
#include "support/FakeSmsc.h"
#include "support/FakeSmtpServer.h"
#include "support/GuiProgram.h"
#include "support/LocalSockets.h"
#include "support/StallProbe.h"
#include "ui/settings/TFormAlarmingSettings.h"

using namespace std::chrono_literals;
using vantor::test::Controls;
using vantor::test::Program;

namespace {

std::string Setting(const Program& program, const char* section, const char* key) {
    const auto ini =
        vantor::app::IniFile::parse(vantor::test::ReadFile(program.file("conf/SysInit.ini")));
    return ini.readString(section, key, "<none>");
}

// As the operator types into a box: the window hears of the edit.
void Type(const Controls& w, const char* edit, const QString& text) {
    auto* box = w.get<QLineEdit>(edit);
    box->clear();
    QTest::keyClicks(box, text);
}

// Focus coming into a control, as the operator or the window brings it.
void Enter(QWidget* control, Qt::FocusReason reason) {
    QFocusEvent in(QEvent::FocusIn, reason);
    QCoreApplication::sendEvent(control, &in);
}

}  // namespace

class SettingsWindowsTest final : public QObject {
    Q_OBJECT

private slots:
    void optionsApplyDefaultsRefuseBadValuesCancelAndSurviveARestart() {
        Program program({});
        vantor::test::WriteFile(
            program.file("conf/SysInit.ini"),
            "[System]\nInitStart=0\nShowLogItem=50\n[http]\nHTTPDefaultTimeout=3000\n"
            "HTTPRetry=1\n[System Log]\nFilename=mine_\n");
        QVERIFY(program.startAndWait());
        Controls w = program.open("ActionGeneral", "FormOptions");
        QVERIFY(!w.get<QPushButton>("ButtonApply")->isEnabled());
        QCOMPARE(w.text("EditURLTimeout"), QStringLiteral("3000"));
        QCOMPARE(w.get<QComboBox>("ComboBoxShowLogItem")->currentText(), QStringLiteral("50"));
        QCOMPARE(program.find<QLabel>("StatusText")->text(),
                 QStringLiteral("Updating the settings."));

        // A bad timeout: its box is shown and nothing is taken.
        Type(w, "EditURLTimeout", "2000");
        Type(w, "EditPingTimeout", "abc");
        w.click("ButtonApply");
        QCOMPARE(program.nextBox(), QStringLiteral("Ping Timeout is invalid integer or empty."));
        QCOMPARE(w.get<QTabWidget>("OptionTabs")->currentIndex(), 2);
        QCOMPARE(w.widget()->focusWidget(), w.get<QWidget>("EditPingTimeout"));
        QCOMPARE(program.session().settings().httpDefaultTimeout, 3000);
        QCOMPARE(Setting(program, "http", "HTTPDefaultTimeout"), std::string("3000"));

        // Cancel takes nothing; the next opening shows what is stored.
        w.click("ButtonCancel");
        QCOMPARE(program.find<QLabel>("StatusText")->text(),
                 QStringLiteral("Updating option settings cancel."));
        w = program.open("ActionGeneral", "FormOptions");
        QCOMPARE(w.text("EditPingTimeout"), QStringLiteral("10000"));
        QVERIFY(w.get<QCheckBox>("CheckBoxURLRetry")->isChecked());
        QCOMPARE(w.get<QComboBox>("ComboBoxShowLogItem")->count(), 999);

        // Default, one edit, Apply: the defaults are stored and saved.
        w.click("ButtonDefault");
        QVERIFY(!w.get<QPushButton>("ButtonApply")->isEnabled());
        // Entering a field makes them worth applying; the focus the window
        // gives itself does not.
        Enter(w.get<QWidget>("EditFTPTimeout"), Qt::ActiveWindowFocusReason);
        QVERIFY(!w.get<QPushButton>("ButtonApply")->isEnabled());
        Enter(w.get<QWidget>("EditFTPTimeout"), Qt::TabFocusReason);
        QVERIFY(w.get<QPushButton>("ButtonApply")->isEnabled());
        Type(w, "EditFTPTimeout", "7000");
        w.click("ButtonApply");
        QCOMPARE(program.find<QLabel>("StatusText")->text(),
                 QStringLiteral("Option settings saved."));
        QCOMPARE(w.status(), QStringLiteral("Option settings saved."));
        QCOMPARE(Setting(program, "System", "InitStart"), std::string("1"));
        QCOMPARE(Setting(program, "System", "ShowLogItem"), std::string("100"));
        QCOMPARE(Setting(program, "http", "HTTPDefaultTimeout"), std::string("10000"));
        QCOMPARE(Setting(program, "http", "HTTPRetry"), std::string("0"));
        QCOMPARE(Setting(program, "ftp", "FTPDefaultTimeout"), std::string("7000"));
        QCOMPARE(Setting(program, "System Log", "Filename"), std::string("system_"));

        // A restart shows what was applied.
        w.click("ButtonCancel");
        program.find<QAction>("ActionClose")->trigger();
        QTRY_VERIFY(program.finished);
        program.restart();
        QVERIFY(program.startAndWait());
        w = program.open("ActionGeneral", "FormOptions");
        QCOMPARE(w.text("EditFTPTimeout"), QStringLiteral("7000"));
        QCOMPARE(w.get<QComboBox>("ComboBoxInitStart")->currentText(), QStringLiteral("Yes"));
        QCOMPARE(w.text("EditSysLogFilename"), QStringLiteral("system_"));
    }

    // The close box closes without a word and unlocks the main window;
    // "Updating option settings cancel." belongs to Cancel.
    void theCloseBoxOfEitherSettingsWindowUnlocksAndSaysNothing() {
        Program program({});
        QVERIFY(program.startAndWait());
        for (const auto& [action, form] :
             {std::pair{"ActionGeneral", "FormOptions"},
              std::pair{"ActionAlarmOptions", "FormAlarmingSettings"}}) {
            Controls w = program.open(action, form);
            QVERIFY(!program.window().menuBar()->isEnabled());
            const QString before = program.find<QLabel>("StatusText")->text();
            QPointer<QWidget> dialog = w.widget();
            QCloseEvent close;
            QCoreApplication::sendEvent(dialog, &close);
            QTRY_VERIFY(dialog.isNull() || !dialog->isVisible());
            QVERIFY2(program.window().menuBar()->isEnabled(), form);
            QCOMPARE(program.find<QLabel>("StatusText")->text(), before);
        }
    }

    // No page widens the window past a 1024 px screen, with room for a
    // window frame and a larger font: the long notes beside the Enable
    // boxes wrap, and a click on a note works its box.
    void theAlarmSettingsFitA1024PixelScreenOnEveryPage() {
        Program program({});
        QVERIFY(program.startAndWait());
        Controls w = program.open("ActionAlarmOptions", "FormAlarmingSettings");
        auto* pages = w.get<QTabWidget>("AlarmPages");
        for (int page = 0; page < pages->count(); ++page) {
            pages->setCurrentIndex(page);
            QCoreApplication::processEvents();
            const int least = w.widget()->minimumSizeHint().width();
            const QString why = QStringLiteral("%1: %2 px").arg(pages->tabText(page)).arg(least);
            QVERIFY2(least <= 860 && w.widget()->width() <= 860, qPrintable(why));
        }
        auto* sms = w.get<QCheckBox>("CheckBoxSmsEnable");
        const bool was = sms->isChecked();
        auto* note = sms->parentWidget()->findChild<QLabel*>();
        QVERIFY(note != nullptr && note->text().contains(QStringLiteral("160 English")));
        QTest::mouseClick(note, Qt::LeftButton);
        QCOMPARE(sms->isChecked(), !was);
        w.click("ButtonCancel");
    }

    void alarmOptionsRefuseBadValuesOnlyOnEnabledPagesAndApply() {
        Program program({});
        QVERIFY(program.startAndWait());
        Controls w = program.open("ActionAlarmOptions", "FormAlarmingSettings");
        QVERIFY(!w.get<QPushButton>("ButtonApply")->isEnabled());
        Enter(w.get<QWidget>("ComboHttpMethod"), Qt::PopupFocusReason);  // a list opened and left
        QVERIFY(w.get<QPushButton>("ButtonApply")->isEnabled());
        // Email off: an empty host does not stop Apply, and a port that is
        // no number leaves the stored one.
        Type(w, "EditSmtpIp", "");
        w.type("EditSmtpPort", "x25");
        w.tick("CheckBoxHttpEnable");
        w.get<QPlainTextEdit>("MemoHttpUrl")->setPlainText(QStringLiteral("gw.example.test/send"));
        Type(w, "EditHttpPhone", "5550100");
        Type(w, "EditHttpProxyPort", "");
        w.choose("ComboHttpMethod", "Post");
        w.click("ButtonApply");
        QCOMPARE(program.nextBox(), QStringLiteral("HTTP-SMS MSISDN field is empty."));
        QCOMPARE(w.get<QTabWidget>("AlarmPages")->currentIndex(), 2);
        QCOMPARE(w.get<QTabWidget>("HttpTabs")->currentIndex(), 0);
        QCOMPARE(w.widget()->focusWidget(), w.get<QWidget>("EditHttpMsisdnName"));
        QVERIFY(!program.session().settings().httpSmsEnable);

        Type(w, "EditHttpMsisdnName", "to");
        Type(w, "EditHttpMessageName", "text");
        // A line break is refused under the name the page's other refusals use.
        w.get<QPlainTextEdit>("MemoHttpUrl")
            ->setPlainText(QStringLiteral("gw.example.test/send\nX-Forged: 1"));
        w.click("ButtonApply");
        QCOMPARE(program.nextBox(), QStringLiteral("HTTP-SMS URL must not hold a line break."));
        w.get<QPlainTextEdit>("MemoHttpUrl")->setPlainText(QStringLiteral("gw.example.test/send"));
        w.tick("CheckBoxSmsEnable");
        Type(w, "EditSmsIp", "127.0.0.1");
        Type(w, "EditSmsPhone", "5550100");
        Type(w, "EditSmsOrigNpi", "x");
        w.click("ButtonApply");
        QCOMPARE(program.nextBox(), QStringLiteral("SMSC Orig. NPI is invalid integer or empty."));
        QCOMPARE(
            w.get<QTabWidget>("SmsTabs")->tabText(w.get<QTabWidget>("SmsTabs")->currentIndex()),
            QStringLiteral("Extra Information"));
        Type(w, "EditSmsOrigNpi", "1");
        w.get<QTabWidget>("AlarmPages")->setCurrentIndex(3);
        w.choose("ComboSyslogFacility", "UUCP");
        w.click("ButtonApply");
        QVERIFY(program.boxes.isEmpty());
        QCOMPARE(Setting(program, "HTTP-SMS Alarm", "Method"), std::string("Post"));
        QCOMPARE(Setting(program, "HTTP-SMS Alarm", "ProxyPort"), std::string("0"));
        QCOMPARE(Setting(program, "HTTP-SMS Alarm", "MSISDN FieldName"), std::string("to"));
        QCOMPARE(Setting(program, "SMS Alarm", "Enable"), std::string("1"));
        QCOMPARE(Setting(program, "SysLog Alarm", "Facility"), std::string("UUCP"));
        QCOMPARE(program.session().settings().httpSmsUrl, std::string("gw.example.test/send"));
        QCOMPARE(Setting(program, "SMTP Alarm", "Port"), std::string("25"));
        // An old file gains no Security.
        QCOMPARE(Setting(program, "SMTP Alarm", "Security"), std::string("<none>"));

        // A line break in a value that goes into a protocol line is refused.
        w.get<QTabWidget>("AlarmPages")->setCurrentIndex(0);
        w.tick("CheckBoxEmailEnable");
        w.type("EditSmtpIp", "127.0.0.1");
        w.type("EditSmtpPort", "25");
        Type(w, "EditSmtpEmail", "ops@example.test");
        Type(w, "EditSmtpFrom", "vantor@example.test");
        w.type("EditSmtpAgent", "agent\r\nBcc: someone@example.test");
        w.click("ButtonApply");
        QCOMPARE(program.nextBox(), QStringLiteral("Mail Agent must not hold a line break."));
        QVERIFY(!program.session().settings().smtpEnable);
        // The facility reads back into the same entry.
        w.click("ButtonCancel");
        w = program.open("ActionAlarmOptions", "FormAlarmingSettings");
        QCOMPARE(w.get<QComboBox>("ComboSyslogFacility")->currentText(), QStringLiteral("UUCP"));
        QCOMPARE(w.get<QLineEdit>("EditHttpProxyPassword")->echoMode(), QLineEdit::Password);

        // The port follows the security while it holds a default.
        w.choose("ComboSmtpSecurity", "TLS");
        QCOMPARE(w.text("EditSmtpPort"), QStringLiteral("465"));
        w.choose("ComboSmtpSecurity", "STARTTLS");
        QCOMPARE(w.text("EditSmtpPort"), QStringLiteral("587"));
        w.type("EditSmtpPort", "2525");
        w.choose("ComboSmtpSecurity", "None");
        QCOMPARE(w.text("EditSmtpPort"), QStringLiteral("2525"));
        w.choose("ComboSmtpSecurity", "STARTTLS");
        w.click("ButtonApply");
        QCOMPARE(Setting(program, "SMTP Alarm", "Security"), std::string("STARTTLS"));
        w.click("ButtonCancel");
        w = program.open("ActionAlarmOptions", "FormAlarmingSettings");
        QCOMPARE(w.get<QComboBox>("ComboSmtpSecurity")->currentText(), QStringLiteral("STARTTLS"));
        QCOMPARE(Setting(program, "AlarmPolicy", "AlarmOn"), std::string("<none>"));

        // The policy page: bad values are refused on it, good ones saved and
        // read back; what holds its default is not written.
        auto* pages = w.get<QTabWidget>("AlarmPages");
        QCOMPARE(pages->tabText(4), QStringLiteral("Alarm Policy"));
        pages->setCurrentIndex(0);
        w.choose("ComboAlarmOn", "Once per outage");
        Type(w, "EditRemindEvery", "3");
        w.click("ButtonApply");
        QCOMPARE(program.nextBox(),
                 QStringLiteral("Remind every must be 0 or at least 5 minutes."));
        QCOMPARE(pages->currentIndex(), 4);
        QCOMPARE(w.widget()->focusWidget(), w.get<QWidget>("EditRemindEvery"));
        Type(w, "EditRemindEvery", "30");
        Type(w, "EditFailAfter", "0");
        w.click("ButtonApply");
        QCOMPARE(
            program.nextBox(),
            QStringLiteral("Failed checks before the alarm must be a whole number of 1 or more."));
        Type(w, "EditFailAfter", "3");
        Type(w, "EditURLFailAfterMs", "-1");
        w.click("ButtonApply");
        QCOMPARE(program.nextBox(),
                 QStringLiteral("URL fail after must be a whole number of ms, 0 or more."));
        QCOMPARE(program.session().settings().alarmOn, std::string("EveryFailure"));
        Type(w, "EditURLFailAfterMs", "5000");
        Type(w, "EditMaintenance", "daily 02:00 60; weekly Sunday 23:30 120");
        w.click("ButtonApply");
        QCOMPARE(
            program.nextBox(),
            QStringLiteral("Maintenance window \"weekly Sunday 23:30 120\" is not understood."));
        Type(w, "EditMaintenance", "daily 02:00 60; weekly Sun 23:30 120");
        w.tick("CheckBoxRecovery");
        QVERIFY(!w.get<QPushButton>("ButtonTest")->isEnabled());
        w.click("ButtonApply");
        QVERIFY(program.boxes.isEmpty());
        QCOMPARE(Setting(program, "AlarmPolicy", "AlarmOn"), std::string("OnChange"));
        QCOMPARE(Setting(program, "AlarmPolicy", "FailAfter"), std::string("3"));
        QCOMPARE(Setting(program, "AlarmPolicy", "RemindEvery"), std::string("30"));
        QCOMPARE(Setting(program, "AlarmPolicy", "Recovery"), std::string("1"));
        QCOMPARE(Setting(program, "AlarmPolicy", "HTTPFailAfterMs"), std::string("5000"));
        QCOMPARE(Setting(program, "AlarmPolicy", "Maintenance"),
                 std::string("daily 02:00 60; weekly Sun 23:30 120"));
        QCOMPARE(Setting(program, "AlarmPolicy", "RecoverAfter"), std::string("<none>"));
        QCOMPARE(Setting(program, "AlarmPolicy", "PingSlowAfterMs"), std::string("<none>"));
        w.click("ButtonCancel");
        w = program.open("ActionAlarmOptions", "FormAlarmingSettings");
        QCOMPARE(w.get<QComboBox>("ComboAlarmOn")->currentText(),
                 QStringLiteral("Once per outage"));
        QCOMPARE(w.text("EditFailAfter"), QStringLiteral("3"));
        QCOMPARE(w.text("EditURLFailAfterMs"), QStringLiteral("5000"));
        QVERIFY(w.get<QCheckBox>("CheckBoxRecovery")->isChecked());
    }

    void theFourTrialSendsDeliverTheTextOrSayWhyNot() {
        vantor::test::FakeSmtpServer smtp;
        vantor::test::FakeSmsc smsc;
        // Answered late enough to see the window go on meanwhile.
        vantor::test::FakeHttpServer gateway(vantor::test::FakeHttpServer::Delayed(
            vantor::test::HttpResponse("HTTP/1.1 200 OK", "", "ACCEPTED 17"), 300ms));
        vantor::test::UdpReceiver syslog;
        const vantor::test::ClosedPort closed;
        const QString closedPort = QString::number(closed.port());

        Program program({});
        QVERIFY(program.startAndWait());
        Controls w = program.open("ActionAlarmOptions", "FormAlarmingSettings");
        auto& dialog = *static_cast<vantor::ui::TFormAlarmingSettings*>(w.widget());
        auto* pages = w.get<QTabWidget>("AlarmPages");
        // The status the trial ends with; a trial that did not show itself
        // running, or did not end, answers with what went wrong.
        const auto trial = [&](const char* running) -> QString {
            w.click("ButtonTest");
            if (w.status() != QString::fromLatin1(running) ||
                w.get<QPushButton>("ButtonTest")->isEnabled()) {
                return QStringLiteral("not shown running: ") + w.status();
            }
            if (!QTest::qWaitFor([&] { return !dialog.trialRunning(); }, 20000) ||
                !w.get<QPushButton>("ButtonTest")->isEnabled()) {
                return QStringLiteral("did not end");
            }
            return w.status();
        };

        // E-mail: the host may carry "http://".
        w.tick("CheckBoxEmailEnable");
        QCOMPARE(w.get<QPushButton>("ButtonTest")->text(),
                 QStringLiteral("Test Connection [Email]"));
        Type(w, "EditSmtpIp", "HTTP://127.0.0.1");
        Type(w, "EditSmtpPort", QString::number(smtp.port()));
        Type(w, "EditSmtpEmail", "ops@example.test");
        Type(w, "EditSmtpFrom", "vantor@example.test");
        w.click("ButtonTest");
        QCOMPARE(
            program.nextBox(),
            QStringLiteral("Message is empty. Please input this field for testing connection."));
        w.get<QPlainTextEdit>("MemoSmtpMessage")
            ->setPlainText(QStringLiteral("trial mail\nline two"));
        QCOMPARE(trial("SMTP Message is sending out..."),
                 QStringLiteral("SMTP Message has been sent already."));
        QCOMPARE(smtp.messages().size(), std::size_t(1));
        const std::vector<std::string> lines = smtp.messages().front();
        QVERIFY(std::find(lines.begin(), lines.end(), "Subject: Alarming Message") != lines.end());
        QVERIFY(std::find(lines.begin(), lines.end(), "line two") != lines.end());
        // The trial asks for STARTTLS as chosen; this server does not offer it.
        w.choose("ComboSmtpSecurity", "STARTTLS");
        const QString refused = trial("SMTP Message is sending out...");
        QVERIFY2(refused.startsWith(QStringLiteral("SMTP Error : ")) &&
                     refused.contains(QStringLiteral("STARTTLS")),
                 qPrintable(refused));
        QCOMPARE(smtp.messages().size(), std::size_t(1));
        Type(w, "EditSmtpPort", closedPort);
        QVERIFY(
            trial("SMTP Message is sending out...").startsWith(QStringLiteral("SMTP Error : ")));

        // SMS: the bind carries the boxes whatever Authentication says.
        pages->setCurrentIndex(1);
        w.tick("CheckBoxSmsEnable");
        Type(w, "EditSmsIp", "127.0.0.1");
        Type(w, "EditSmsPort", QString::number(smsc.port()));
        Type(w, "EditSmsPhone", "5550100");
        w.tick("CheckBoxSmsAuth");
        Type(w, "EditSmsUser", "puser");
        Type(w, "EditSmsPassword", "ppw");
        w.get<QCheckBox>("CheckBoxSmsAuth")->setChecked(false);
        Type(w, "EditSmsMessage", "trial sms");
        QCOMPARE(trial("SMS Message is sending out..."),
                 QStringLiteral("SMS Message has been sent already."));
        const auto received = smsc.received();
        QCOMPARE(received.front().leadingStrings(2), (std::vector<std::string>{"puser", "ppw"}));
        const auto submit = std::find_if(received.begin(), received.end(),
                                         [](const auto& pdu) { return pdu.commandId == 4; });
        QVERIFY(submit != received.end());
        const std::string body(submit->body.begin(), submit->body.end());
        QVERIFY(body.find("trial sms") != std::string::npos);
        Type(w, "EditSmsPort", closedPort);
        QVERIFY(trial("SMS Message is sending out...")
                    .startsWith(QStringLiteral("Connection Failed : ")));

        // SMS by HTTP: "http://" goes in front, the trial names itself, and
        // the gateway's answer is shown; the window goes on meanwhile.
        pages->setCurrentIndex(2);
        w.tick("CheckBoxHttpEnable");
        w.get<QPlainTextEdit>("MemoHttpUrl")
            ->setPlainText(
                QStringLiteral("127.0.0.1:%1/send?to=$MSISDN&text=$MESSAGE").arg(gateway.port()));
        Type(w, "EditHttpPhone", "5550100");
        Type(w, "EditHttpMessage", "trial http");
        w.click("ButtonTest");
        vantor::test::StallProbe probe;
        probe.start();
        QVERIFY(probe.runUntil([&] { return !dialog.trialRunning(); }, 20000));
        const double stall = probe.maxMs();
        qInfo("longest stall of the event loop during the HTTP trial: %.1f ms (cpu %.1f)", stall,
              probe.longestGapCpuMs());
        QVERIFY2(stall < vantor::test::StallBudgetMs(50), qPrintable(QString::number(stall)));
        QCOMPARE(w.status(), QStringLiteral("SMS ( by HTTP ) Message has been sent already."));
        QCOMPARE(w.get<QPlainTextEdit>("MemoHttpResponse")->toPlainText(),
                 QStringLiteral("ACCEPTED 17"));
        const auto request = gateway.requests().front();
        QCOMPARE(QString::fromStdString(request.target),
                 QStringLiteral("/send?to=5550100&text=trial+http"));
        QCOMPARE(QString::fromStdString(request.header("User-Agent").value_or("")),
                 QStringLiteral("Mozilla/3.0 (compatible; Indy Library)"));
        QCOMPARE(QString::fromStdString(request.header("Accept").value_or("")),
                 QStringLiteral("text/html, */*"));
        w.get<QPlainTextEdit>("MemoHttpUrl")
            ->setPlainText(QStringLiteral("127.0.0.1:%1/send").arg(closedPort));
        QVERIFY(trial("SMS ( by HTTP ) Message is sending out...")
                    .startsWith(QStringLiteral("SMS ( by HTTP ) Error : ")));

        // SysLog: one datagram with the text.
        pages->setCurrentIndex(3);
        w.tick("CheckBoxSyslogEnable");
        Type(w, "EditSyslogIp", "127.0.0.1");
        Type(w, "EditSyslogPort", QString::number(syslog.port()));
        Type(w, "EditSyslogMessage", "trial syslog");
        QCOMPARE(trial("SysLog Message is sending out..."),
                 QStringLiteral("SysLog Message has been sent already."));
        const std::optional<std::string> datagram = syslog.receive();
        QVERIFY(datagram && datagram->find("trial syslog") != std::string::npos);
        Type(w, "EditSyslogPort", "0");
        QVERIFY(trial("SysLog Message is sending out...")
                    .startsWith(QStringLiteral("SysLog Error : ")));

        // Nothing of the trials was stored.
        QVERIFY(!program.session().settings().smtpEnable);
        QCOMPARE(Setting(program, "SMTP Alarm", "IP"), std::string("<none>"));
    }
};

QTEST_MAIN(SettingsWindowsTest)
#include "SettingsWindowsTest.moc"
