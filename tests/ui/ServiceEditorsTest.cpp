// SPDX-License-Identifier: GPL-3.0-or-later
// The new-service wizard and the update dialog, driven through their
// controls, against service.xml and, for the round trip, the program's own
// --check-now against local servers.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>
#include <functional>
#include <map>
#include <pugixml.hpp>

#include "TestConfig.h"
#include "support/FakeHttpServer.h"
#include "support/FakeSmtpServer.h"
#include "support/GuiProgram.h"
#include "support/HostileTls.h"
#include "support/LocalSockets.h"
#include "support/Process.h"
#include "support/ScriptedServers.h"
#include "ui/editor/TFormSetupScheduling.h"
#include "ui/editor/TFormUpdateScheduling.h"

using namespace std::chrono_literals;
using vantor::test::Controls;
using vantor::test::Program;

namespace {

int Step(const Controls& w) {
    return static_cast<vantor::ui::TFormSetupScheduling*>(w.widget())->currentStep();
}

Controls OpenWizard(Program& program) {
    return program.open("ActionNewService", "FormSetupScheduling");
}

Controls OpenUpdate(Program& program) {
    return program.open("ActionUpdateService", "FormUpdateScheduling");
}

// Page 1 with a schedule, then on to the kind's page.
void Schedule(const Controls& w, const char* radio, const char* list, const QString& value,
              const char* hourList = nullptr, const QString& hour = {}) {
    w.click("ButtonNext");
    w.get<QRadioButton>(radio)->setChecked(true);
    if (hourList != nullptr) {
        w.choose(hourList, hour);
    }
    w.choose(list, value);
    w.click("ButtonNext");
}

// From the kind's page through the test page and the alarm page to Finish.
void Finish(const Controls& w, std::initializer_list<const char*> alarms = {}) {
    w.click("ButtonNext");
    w.click("ButtonNext");
    for (const char* box : alarms) {
        w.tick(box);
    }
    w.click("ButtonNext");
}

// The record's elements in order, name=value, groups in braces.
std::string Flat(const pugi::xml_node& node) {
    std::string out;
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element) {
            continue;
        }
        out += out.empty() ? "" : ";";
        if (child.first_child() && child.first_child().type() == pugi::node_element) {
            out += std::string(child.name()) + "{" + Flat(child) + "}";
        } else {
            out += std::string(child.name()) + "=" + child.child_value();
        }
    }
    return out;
}

std::map<std::string, std::string> StoredRecords(const std::string& file) {
    pugi::xml_document doc;
    doc.load_file(file.c_str());
    std::map<std::string, std::string> out;
    for (pugi::xml_node rec : doc.child("serviceList").children("record")) {
        out[rec.attribute("key").value()] = Flat(rec);
    }
    return out;
}

constexpr const char* kNoProxy = "proxy_ip=;proxy_port=;proxy_username=;proxy_password=;";
constexpr const char* kNoAlarms = "alarm_email=n;alarm_smpp=n;alarm_httpsms=n;alarm_syslog=n";

}  // namespace

class ServiceEditorsTest final : public QObject {
    Q_OBJECT

private slots:
    // The test page repeats the URL: a long one is elided there and never
    // widens the wizard, this time or the next.
    void aLongUrlNeverWidensTheWizard() {
        Program program({});
        QVERIFY(program.startAndWait());
        const QString url = QStringLiteral("http://127.0.0.1/") + QString(10000, QLatin1Char('a'));
        for (int round = 0; round < 2; ++round) {
            Controls w = OpenWizard(program);
            const int width = w.widget()->width();
            Schedule(w, "RadioDaily", "ComboDailyMinute", "30", "ComboDailyHour", "05");
            w.choose("ComboBoxServiceKind", "URL");
            w.type("EditURLURL", url);
            w.type("EditURLPort", "80");
            w.click("ButtonNext");
            QCOMPARE(Step(w), 3);
            QCOMPARE(w.get<QLabel>("LabelTestIP")->text(), url);
            QVERIFY2(w.widget()->width() <= width,
                     qPrintable(QString::number(w.widget()->width())));
            QVERIFY(w.widget()->minimumSizeHint().width() <= width);
            w.click("ButtonCancel");
        }
    }

    void theWizardRefusesWhatIsMissingAndShowsWhere() {
        Program program({});
        QVERIFY(program.startAndWait());
        Controls w = OpenWizard(program);
        w.click("ButtonNext");
        QCOMPARE(Step(w), 1);
        w.get<QRadioButton>("RadioDaily")->setChecked(true);
        w.choose("ComboDailyHour", "05");
        w.click("ButtonNext");
        QCOMPARE(program.nextBox(), QStringLiteral("Please select the scheduling method."));
        QCOMPARE(Step(w), 1);

        w.choose("ComboDailyMinute", "30");
        w.click("ButtonNext");
        QCOMPARE(Step(w), 2);
        w.choose("ComboBoxServiceKind", "FTP");
        w.type("EditFTPHost", "127.0.0.1");
        w.tick("CheckBoxProxy");
        w.type("EditFTPProxyIP", "127.0.0.1");
        w.click("ButtonNext");
        QCOMPARE(program.nextBox(), QStringLiteral("FTP Proxy Port is invalid integer or empty."));
        QCOMPARE(w.currentTab("FrameFTPForm"), QStringLiteral("Proxy settings"));
        QCOMPARE(w.widget()->focusWidget(), w.get<QWidget>("EditFTPProxyPort"));

        w.choose("ComboBoxServiceKind", "URL");
        w.type("EditURLURL", "http://127.0.0.1/");
        w.type("EditURLPort", "80");
        w.tick("CheckBoxURLProxy");
        w.click("ButtonNext");
        QCOMPARE(program.nextBox(), QStringLiteral("URL Proxy IP host field is empty."));
        QCOMPARE(w.currentTab("FrameURLForm"), QStringLiteral("Proxy settings"));
        QCOMPARE(w.widget()->focusWidget(), w.get<QWidget>("EditURLProxyHost"));

        // A line break would end a request line early.
        w.get<QCheckBox>("CheckBoxURLProxy")->setChecked(false);
        w.type("EditURLUserAgent", "probe\r\nX-Injected: 1");
        w.click("ButtonNext");
        QCOMPARE(program.nextBox(), QStringLiteral("User Agent must not hold a line break."));
        QCOMPARE(w.currentTab("FrameURLForm"), QStringLiteral("Other settings"));
        w.type("EditURLUserAgent", "probe");

        // On the test page with the schedule made incomplete again: the test
        // goes back to page 1.
        w.click("ButtonNext");
        QCOMPARE(Step(w), 3);
        w.get<QRadioButton>("RadioMinutely")->setChecked(true);
        w.click("ButtonTestConnection");
        QCOMPARE(program.nextBox(), QStringLiteral("Please select the scheduling method."));
        QCOMPARE(Step(w), 1);
        QVERIFY(program.boxes.isEmpty());
    }

    // The check could not read such a port: the editors say so as they do
    // for the other kinds' ports. An empty one is still none.
    void aPingPortThatIsNotAWholeNumberIsRefusedByBothEditors() {
        vantor::test::ServiceEntry ping = vantor::test::Entry("Ping", "10.0.0.5", "0");
        ping.scheduleHour = "03";
        ping.scheduleMinute = "07";
        ping.status = "Stop";
        Program program({ping});
        QVERIFY(program.startAndWait());
        Controls w = OpenWizard(program);
        Schedule(w, "RadioMinutely", "ComboMinutelyPeriod", "5");
        w.choose("ComboBoxServiceKind", "Ping");
        w.type("EditPingHost", "127.0.0.1");
        for (const QString& port : {QStringLiteral("abc"), QString(QChar(0x0663))}) {
            w.type("EditPingPort", port);
            w.click("ButtonNext");
            QCOMPARE(program.nextBox(), QStringLiteral("Ping Port is invalid integer or empty."));
            QCOMPARE(Step(w), 2);
            QCOMPARE(w.widget()->focusWidget(), w.get<QWidget>("EditPingPort"));
        }
        w.type("EditPingPort", "");
        w.click("ButtonNext");
        QCOMPARE(Step(w), 3);
        w.click("ButtonCancel");

        const std::string before = vantor::test::ReadFile(program.serviceFile());
        program.selectRow(0);
        Controls u = OpenUpdate(program);
        u.type("EditPingPort", "abc");
        u.click("ButtonSave");
        QCOMPARE(program.nextBox(), QStringLiteral("Ping Port is invalid integer or empty."));
        QCOMPARE(vantor::test::ReadFile(program.serviceFile()), before);
        QVERIFY(program.boxes.isEmpty());
    }

    // service.xml cannot hold a control character: the editors refuse one
    // in any field, post fields included, as they refuse a line break.
    void aControlCharacterInAFieldIsRefusedAndNamesTheField() {
        Program program({});
        QVERIFY(program.startAndWait());
        Controls w = OpenWizard(program);
        Schedule(w, "RadioMinutely", "ComboMinutelyPeriod", "5");
        w.type("EditURLURL", "http://127.0.0.1/");
        w.type("EditURLPort", "80");
        w.type("EditURLHeaderInfo", QStringLiteral("X-Test: a") + QChar(0x01));
        w.click("ButtonNext");
        QCOMPARE(program.nextBox(),
                 QStringLiteral("Header Info must not hold a control character."));
        QCOMPARE(w.currentTab("FrameURLForm"), QStringLiteral("Other settings"));
        QCOMPARE(w.widget()->focusWidget(), w.get<QWidget>("EditURLHeaderInfo"));
        w.type("EditURLHeaderInfo", "X-Test: a");

        w.choose("ComboBoxService", "Post");
        w.type("EditURLPostFieldName", "name");
        w.type("EditURLPostFieldValue", QStringLiteral("v") + QChar(0x9B) + QStringLiteral("1m"));
        w.click("ButtonPostAdd");
        w.click("ButtonNext");
        QCOMPARE(program.nextBox(),
                 QStringLiteral("Post field name must not hold a control character."));
        QCOMPARE(Step(w), 2);
        QVERIFY(program.boxes.isEmpty());
    }

    void testConnectionShowsTheResultAndTouchesNothingElse() {
        vantor::test::FakeHttpServer web(
            vantor::test::FakeHttpServer::Always(vantor::test::HttpResponse("HTTP/1.1 200 OK")));
        const vantor::test::ClosedPort closed;
        Program program({vantor::test::Entry("SMTP", "10.0.0.5", "25")});
        QVERIFY(program.startAndWait());
        Controls w = OpenWizard(program);
        Schedule(w, "RadioHourly", "ComboHourlyMinute", "15");
        w.type("EditURLURL", QString::fromStdString(web.url("/health")));
        w.type("EditURLPort", QString::number(web.port()));
        w.click("ButtonNext");
        w.click("ButtonTestConnection");
        QVERIFY(!w.get<QPushButton>("ButtonTestConnection")->isEnabled());
        auto* memo = w.get<QPlainTextEdit>("MemoResult");
        QTRY_COMPARE_WITH_TIMEOUT(memo->toPlainText(), QStringLiteral("Passed"), 10000);
        QVERIFY(w.get<QPushButton>("ButtonTestConnection")->isEnabled());
        QCOMPARE(w.status(), QStringLiteral("Service connection has been tested."));

        w.click("ButtonBack");
        w.type("EditURLURL", QStringLiteral("http://127.0.0.1:%1/").arg(closed.port()));
        w.type("EditURLPort", QString::number(closed.port()));
        w.click("ButtonNext");
        w.click("ButtonTestConnection");
        QTRY_COMPARE_WITH_TIMEOUT(memo->toPlainText(), QStringLiteral("Failed"), 10000);
        // No row, no alarm, no record.
        QCOMPARE(program.rows(), 1);
        QCOMPARE(program.session().alarms().rowCount(), std::size_t(0));
        QCOMPARE(program.session().store().recordCount(), std::size_t(1));
        QCOMPARE(program.cell(0, 4), QStringLiteral("Unknown"));
    }

    void everyKindGoesInThroughTheWizardComesBackUnchangedAndIsCheckedAsEntered() {
        vantor::test::FakeHttpServer proxy(
            vantor::test::FakeHttpServer::Always(vantor::test::HttpResponse("HTTP/1.1 200 OK")));
        vantor::test::FakeSmtpServer smtp;
        vantor::test::FakeServer pop3(
            vantor::test::Script("+OK POP3 ready\r\n", {"+OK\r\n", "+OK logged in\r\n"}));
        vantor::test::FakeServer imap(
            vantor::test::Script("* OK ready\r\n", {"C1 OK LOGIN completed\r\n"}));
        vantor::test::FakeServer ftpProxy(vantor::test::Ftp());
        const QString local = QStringLiteral("127.0.0.1");

        Program program({});
        QVERIFY(program.startAndWait());
        {
            Controls w = OpenWizard(program);
            Schedule(w, "RadioDaily", "ComboDailyMinute", "30", "ComboDailyHour", "08");
            w.choose("ComboBoxService", "Post");
            w.type("EditURLURL", "http://www.example.test/login");
            w.type("EditURLPort", "80");
            for (const auto& [name, value] : {std::pair{"a", "1"}, std::pair{"b", "2"}}) {
                w.type("EditURLPostFieldName", name);
                w.type("EditURLPostFieldValue", value);
                w.click("ButtonPostAdd");
            }
            w.tick("CheckBoxURLAuthentication");
            w.type("EditURLAuthUsername", "anna");
            w.type("EditURLAuthPassword", "pw1");
            w.type("EditURLCookie", "c=1");
            w.type("EditURLHeaderInfo", "X-Test: yes");
            w.type("EditURLContentType", "application/x-www-form-urlencoded");
            w.type("EditURLUserAgent", "VantorTest/1.0");
            w.type("EditURLReferer", "http://ref.test/");
            w.type("EditURLAccept", "text/plain");
            w.type("EditURLAcceptCharset", "utf-8");
            w.type("EditURLAcceptEncoding", "identity");
            w.type("EditURLAcceptLanguage", "en");
            w.tick("CheckBoxURLProxy");
            w.type("EditURLProxyHost", local);
            w.type("EditURLProxyPort", QString::number(proxy.port()));
            w.tick("CheckBoxURLProxyAuthentication");
            w.type("EditURLProxyUsername", "puser");
            w.type("EditURLProxyPassword", "ppass");
            Finish(w, {"CheckBoxAlarmEmail", "CheckBoxAlarmSysLog"});
            QCOMPARE(program.nextBox(), QStringLiteral("New service has been setup successfully."));
            QVERIFY(!w.widget()->isVisible());
        }
        const auto add = [&](const QString& kind,
                             const std::function<void(const Controls&)>& fill) {
            Controls w = OpenWizard(program);
            // Every show starts empty.
            QCOMPARE(w.get<QTreeWidget>("ListViewExtraFields")->topLevelItemCount(), 0);
            Schedule(w, "RadioMinutely", "ComboMinutelyPeriod", "5");
            w.choose("ComboBoxServiceKind", kind);
            fill(w);
            Finish(w);
            QCOMPARE(program.nextBox(), QStringLiteral("New service has been setup successfully."));
        };
        add("Ping", [&](const Controls& w) { w.type("EditPingHost", local); });
        add("Email", [&](const Controls& w) {
            w.type("EditEmailHost", local);
            w.type("EditEmailPort", QString::number(smtp.port()));
        });
        add("Email", [&](const Controls& w) {
            w.choose("ComboBoxEmailMethod", "POP3");
            QCOMPARE(w.text("EditEmailPort"), QStringLiteral("110"));
            w.type("EditEmailHost", local);
            w.type("EditEmailPort", QString::number(pop3.port()));
            w.type("EditEmailUser", "bob");
            w.type("EditEmailPassword", "s3cret");
        });
        add("Email", [&](const Controls& w) {
            w.choose("ComboBoxEmailMethod", "IMAP");
            w.type("EditEmailHost", local);
            w.type("EditEmailPort", QString::number(imap.port()));
            w.type("EditEmailUser", "carol");
            w.type("EditEmailPassword", "pw3");
        });
        add("FTP", [&](const Controls& w) {
            w.type("EditFTPHost", "ftp.example.test");
            w.type("EditFTPUserID", "anna");
            w.type("EditFTPPassword", "pw");
            w.tick("CheckBoxProxy");
            w.type("EditFTPProxyIP", local);
            w.type("EditFTPProxyPort", QString::number(ftpProxy.port()));
            w.choose("ComboBoxProxyType", "fpcmUserSite");
            w.tick("CheckBoxProxyAuthentication");
            w.type("EditFTPProxyUsername", "puser");
            w.type("EditFTPProxyPassword", "ppass");
        });

        // service.xml holds each service as entered, and nothing else.
        const std::string every =
            ";schedule_by=Minutely;schedule_hour=00;schedule_minute=5;"
            "service_status=Unknown;status=Start;";
        const auto port = [](int p) { return std::to_string(p); };
        const std::map<std::string, std::string> expected = {
            {"URL:http://www.example.test/login:80",
             "service=URL;ip=http://www.example.test/login;port=80;username=anna;password=pw1;"
             "schedule_by=Daily;schedule_hour=08;schedule_minute=30;service_status=Unknown;"
             "status=Start;proxy_ip=127.0.0.1;proxy_port=" +
                 port(proxy.port()) +
                 ";proxy_username=puser;proxy_password=ppass;url_method=Post;ftp_proxytype=;"
                 "alarm_email=y;alarm_smpp=n;alarm_httpsms=n;alarm_syslog=y;"
                 "service_url{referer=http://ref.test/;cookie=c=1;headerData=X-Test: yes;"
                 "userAgent=VantorTest/1.0;contentType=application/x-www-form-urlencoded;"
                 "accept=text/plain;acceptCharSet=utf-8;acceptEncoding=identity;"
                 "acceptLanguage=en};"
                 "service_url_detail{fieldname=b;fieldvalue=2;isFile=n};"
                 "service_url_detail{fieldname=a;fieldvalue=1;isFile=n}"},
            {"Ping:127.0.0.1:0", "service=Ping;ip=127.0.0.1;port=0;username=;password=" + every +
                                     kNoProxy + "url_method=;ftp_proxytype=;" + kNoAlarms},
            {"SMTP:127.0.0.1:" + port(smtp.port()),
             "service=SMTP;ip=127.0.0.1;port=" + port(smtp.port()) + ";username=;password=" +
                 every + kNoProxy + "url_method=;ftp_proxytype=;" + kNoAlarms},
            {"POP3:127.0.0.1:" + port(pop3.port()),
             "service=POP3;ip=127.0.0.1;port=" + port(pop3.port()) +
                 ";username=bob;password=s3cret" + every + kNoProxy +
                 "url_method=;ftp_proxytype=;" + kNoAlarms},
            {"IMAP:127.0.0.1:" + port(imap.port()),
             "service=IMAP;ip=127.0.0.1;port=" + port(imap.port()) +
                 ";username=carol;password=pw3" + every + kNoProxy + "url_method=;ftp_proxytype=;" +
                 kNoAlarms},
            {"FTP:ftp.example.test:21",
             "service=FTP;ip=ftp.example.test;port=21;username=anna;password=pw" + every +
                 "proxy_ip=127.0.0.1;proxy_port=" + port(ftpProxy.port()) +
                 ";proxy_username=puser;proxy_password=ppass;url_method=;ftp_proxytype="
                 "fpcmUserSite;" +
                 kNoAlarms}};
        QCOMPARE(StoredRecords(program.serviceFile()), expected);
        QCOMPARE(program.rows(), 6);

        // The same Ping again is refused, and nothing is written.
        const std::string before = vantor::test::ReadFile(program.serviceFile());
        {
            Controls w = OpenWizard(program);
            Schedule(w, "RadioMinutely", "ComboMinutelyPeriod", "10");
            w.choose("ComboBoxServiceKind", "Ping");
            w.type("EditPingHost", local);
            Finish(w);
            QCOMPARE(program.nextBox(), QStringLiteral("A service with this key already exists."));
            QVERIFY(w.widget()->isVisible());
            w.click("ButtonCancel");
        }
        QCOMPARE(vantor::test::ReadFile(program.serviceFile()), before);

        // Each record loads into the update dialog as entered, and Save
        // without a change leaves the file as it was.
        Controls u = OpenUpdate(program);
        auto* list = u.get<QTreeWidget>("ListViewScheduling");
        QCOMPARE(list->topLevelItemCount(), 6);
        for (int row = 0; row < list->topLevelItemCount(); ++row) {
            QTreeWidgetItem* item = list->topLevelItem(row);
            const QPoint at = list->visualItemRect(item).center();
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
            QCOMPARE(QString::fromStdString(
                         static_cast<vantor::ui::TFormUpdateScheduling*>(u.widget())->loadedKey()),
                     item->text(0));
            u.click("ButtonSave");
            QCOMPARE(u.status(), QStringLiteral("The service has been updated."));
            QCOMPARE(vantor::test::ReadFile(program.serviceFile()), before);
        }
        QVERIFY(program.boxes.isEmpty());
        const auto load = [&](const std::string& key) {
            static_cast<vantor::ui::TFormUpdateScheduling*>(u.widget())->loadRecord(key);
        };
        load("URL:http://www.example.test/login:80");
        QVERIFY(u.get<QCheckBox>("CheckBoxURLProxyAuthentication")->isChecked());
        QCOMPARE(u.text("EditURLProxyPassword"), QStringLiteral("ppass"));
        auto* fields = u.get<QTreeWidget>("ListViewExtraFields");
        QCOMPARE(fields->topLevelItem(0)->text(0), QStringLiteral("b"));
        QCOMPARE(fields->topLevelItem(1)->text(0), QStringLiteral("a"));
        load("Ping:127.0.0.1:0");
        QCOMPARE(u.text("EditPingPort"), QString());
        QCOMPARE(list->currentItem()->text(3), QStringLiteral("---"));
        load("FTP:ftp.example.test:21");
        QCOMPARE(u.get<QComboBox>("ComboBoxProxyType")->currentText(),
                 QStringLiteral("fpcmUserSite"));
        u.click("ButtonCancel");
        program.find<QAction>("ActionClose")->trigger();
        QTRY_VERIFY(program.finished);

        // The program checks each one as it was entered.
        vantor::test::Process check({VANTOR_LITE_BINARY, "--check-now"}, program.appDir(),
                                    {{"XDG_CONFIG_HOME", program.configHome()}, {"TZ", "UTC"}});
        const std::optional<int> code = check.wait(60s);
        QVERIFY2(code == std::optional<int>(0), (check.out() + check.err()).c_str());
        QCOMPARE(QString::fromStdString(check.out()).count(QStringLiteral("\tPassed\t")), 6);
        const auto requests = proxy.requests();
        QCOMPARE(requests.size(), std::size_t(1));
        QCOMPARE(QString::fromStdString(requests[0].target),
                 QStringLiteral("http://www.example.test/login"));
        QVERIFY(requests[0].header("Proxy-Authorization").has_value());
        QVERIFY(requests[0].header("Authorization").has_value());
        QCOMPARE(QString::fromStdString(requests[0].header("User-Agent").value_or("")),
                 QStringLiteral("VantorTest/1.0"));
        QCOMPARE(QString::fromStdString(requests[0].body), QStringLiteral("b=2&a=1"));
        QCOMPARE(pop3.received(), (std::vector<std::string>{"USER bob", "PASS s3cret", "QUIT"}));
        QCOMPARE(imap.received().front(), std::string("C1 LOGIN carol pw3"));
        QCOMPARE(ftpProxy.received(),
                 (std::vector<std::string>{"USER puser", "PASS ppass", "USER anna@ftp.example.test",
                                           "PASS pw", "TYPE I", "SYST"}));
    }

    void securityGoesInComesBackAndReachesTheTest() {
        // STARTTLS is offered and taken; the handshake then meets garbage.
        vantor::test::FakeServer smtp(
            vantor::test::HostileTls({{"", "220 ready\r\n"},
                                      {"EHLO", "250-fake.test\r\n250 STARTTLS\r\n"},
                                      {"STARTTLS", "220 go ahead\r\n"}},
                                     vantor::test::TlsFault::Garbage));
        // A word the list does not know stays as it was.
        vantor::test::ServiceEntry odd = vantor::test::Entry("IMAP", "10.0.0.5", "143");
        odd.scheduleHour = "03";
        odd.status = "Stop";
        std::string xml = vantor::test::ServiceListXml({odd});
        xml.insert(xml.find("</record>"), "<tls>SSL</tls><tls_verify>n</tls_verify>");
        Program program({});
        vantor::test::WriteFile(program.serviceFile(), xml);
        QVERIFY(program.startAndWait());

        Controls w = OpenWizard(program);
        Schedule(w, "RadioMinutely", "ComboMinutelyPeriod", "5");
        w.choose("ComboBoxServiceKind", "Email");
        auto* verify = w.get<QCheckBox>("CheckBoxEmailVerifyCertificate");
        QVERIFY(verify->isChecked() && !verify->isEnabled());
        // Implicit TLS has a port of its own per method, STARTTLS the plain one.
        w.choose("ComboBoxEmailMethod", "IMAP");
        w.choose("ComboBoxEmailSecurity", "Implicit TLS");
        QCOMPARE(w.text("EditEmailPort"), QStringLiteral("993"));
        w.choose("ComboBoxEmailMethod", "SMTP");
        QCOMPARE(w.text("EditEmailPort"), QStringLiteral("465"));
        w.choose("ComboBoxEmailSecurity", "STARTTLS");
        QCOMPARE(w.text("EditEmailPort"), QStringLiteral("25"));
        QVERIFY(verify->isEnabled());
        verify->setChecked(false);
        w.type("EditEmailHost", "127.0.0.1");
        w.type("EditEmailPort", QString::number(smtp.port()));
        w.click("ButtonNext");
        w.click("ButtonTestConnection");
        QTRY_COMPARE_WITH_TIMEOUT(w.get<QPlainTextEdit>("MemoResult")->toPlainText(),
                                  QStringLiteral("Failed"), 10000);
        const std::vector<std::string> seen = smtp.received();
        QVERIFY(std::find(seen.begin(), seen.end(), "<ClientHello>") != seen.end());
        w.click("ButtonNext");
        w.click("ButtonNext");
        QCOMPARE(program.nextBox(), QStringLiteral("New service has been setup successfully."));

        w = OpenWizard(program);
        Schedule(w, "RadioMinutely", "ComboMinutelyPeriod", "5");
        w.choose("ComboBoxServiceKind", "FTP");
        w.choose("ComboBoxFTPSecurity", "Implicit TLS");
        QCOMPARE(w.text("EditFTPPort"), QStringLiteral("990"));
        w.choose("ComboBoxFTPSecurity", "None");
        QCOMPARE(w.text("EditFTPPort"), QStringLiteral("21"));
        w.choose("ComboBoxFTPSecurity", "Implicit TLS");
        w.type("EditFTPHost", "127.0.0.1");
        Finish(w);
        QCOMPARE(program.nextBox(), QStringLiteral("New service has been setup successfully."));

        w = OpenWizard(program);
        Schedule(w, "RadioMinutely", "ComboMinutelyPeriod", "5");
        w.get<QCheckBox>("CheckBoxVerifyCertificate")->setChecked(false);
        w.type("EditURLURL", "https://127.0.0.1/");
        w.type("EditURLPort", "443");
        Finish(w);
        QCOMPARE(program.nextBox(), QStringLiteral("New service has been setup successfully."));

        const std::string smtpKey = "SMTP:127.0.0.1:" + std::to_string(smtp.port());
        const auto endsWith = [&](const std::string& key, const std::string& end) {
            const std::string flat = StoredRecords(program.serviceFile())[key];
            return flat.ends_with(end) ? std::string() : flat;
        };
        QCOMPARE(endsWith(smtpKey, "alarm_syslog=n;tls=starttls;tls_verify=n"), std::string());
        QCOMPARE(endsWith("FTP:127.0.0.1:990", "alarm_syslog=n;tls=implicit"), std::string());

        // Each comes back as entered, and Save keeps it.
        Controls u = OpenUpdate(program);
        auto& dialog = *static_cast<vantor::ui::TFormUpdateScheduling*>(u.widget());
        dialog.loadRecord(smtpKey);
        QCOMPARE(u.get<QComboBox>("ComboBoxEmailSecurity")->currentText(),
                 QStringLiteral("STARTTLS"));
        QVERIFY(!u.get<QCheckBox>("CheckBoxEmailVerifyCertificate")->isChecked());
        dialog.loadRecord("FTP:127.0.0.1:990");
        QCOMPARE(u.get<QComboBox>("ComboBoxFTPSecurity")->currentText(),
                 QStringLiteral("Implicit TLS"));
        QVERIFY(u.get<QCheckBox>("CheckBoxFTPVerifyCertificate")->isChecked());
        dialog.loadRecord("URL:https://127.0.0.1/:443");
        QVERIFY(!u.get<QCheckBox>("CheckBoxVerifyCertificate")->isChecked());
        dialog.loadRecord(odd.key());
        QCOMPARE(u.get<QComboBox>("ComboBoxEmailSecurity")->currentText(), QStringLiteral("SSL"));
        u.click("ButtonSave");
        QCOMPARE(endsWith(odd.key(), "alarm_syslog=n;tls=SSL;tls_verify=n"), std::string());
        QVERIFY2(program.boxes.isEmpty(), qPrintable(program.boxes.join(" / ")));
    }

    void theUpdateDialogChangesAKeyRefusesACollisionAndDeletes() {
        // Stopped, so that none is checked while the test runs.
        const auto stopped = [](const char* kind, const char* host, const char* port) {
            vantor::test::ServiceEntry e = vantor::test::Entry(kind, host, port);
            e.scheduleHour = "03";
            e.scheduleMinute = "07";
            e.status = "Stop";
            return e;
        };
        Program program({stopped("SMTP", "10.0.0.5", "25"), stopped("FTP", "10.0.0.7", "21")});
        QVERIFY(program.startAndWait());
        program.selectRow(program.rowOf("SMTP:10.0.0.5:25"));
        Controls u = OpenUpdate(program);
        auto& dialog = *static_cast<vantor::ui::TFormUpdateScheduling*>(u.widget());
        QCOMPARE(dialog.loadedKey(), std::string("SMTP:10.0.0.5:25"));
        QCOMPARE(u.status(),
                 QStringLiteral("Please select any service for update or delete by double click "
                                "on below records."));
        // A host emptied: the Service tab comes to the front, the focus in it.
        u.type("EditEmailHost", "");
        u.click("ButtonSave");
        QCOMPARE(program.nextBox(), QStringLiteral("Email Host host field is empty."));
        QCOMPARE(u.currentTab("UpdateTabs"), QStringLiteral("Service"));
        QCOMPARE(u.widget()->focusWidget(), u.get<QWidget>("EditEmailHost"));

        u.type("EditEmailHost", "10.0.0.9");
        // The record names what it depends on; the file gains the element
        // only for it.
        // A parent that is not in the list is a typing error.
        u.type("EditParent", "FTP:10.0.0.8:21");
        u.click("ButtonSave");
        QCOMPARE(
            program.nextBox(),
            QStringLiteral("There is no service with the ID \"FTP:10.0.0.8:21\" to depend on."));
        QCOMPARE(u.widget()->focusWidget(), u.get<QWidget>("EditParent"));
        u.type("EditParent", "FTP:10.0.0.7:21");
        // And an alarm policy of its own: a value that is not one is refused
        // on its page.
        u.choose("ComboOwnAlarmOn", "Once per outage");
        u.type("EditOwnRemindEvery", "3");
        u.click("ButtonSave");
        QCOMPARE(program.nextBox(),
                 QStringLiteral("Remind every must be 0 or at least 5 minutes."));
        QCOMPARE(u.currentTab("UpdateTabs"), QStringLiteral("Alarm"));
        QCOMPARE(u.widget()->focusWidget(), u.get<QWidget>("EditOwnRemindEvery"));
        u.type("EditOwnRemindEvery", "30");
        u.click("ButtonSave");
        QCOMPARE(dialog.loadedKey(), std::string("SMTP:10.0.0.9:25"));
        QVERIFY(program.rowOf("SMTP:10.0.0.9:25") >= 0);
        QCOMPARE(program.rowOf("SMTP:10.0.0.5:25"), -1);
        {
            const std::string file = vantor::test::ReadFile(program.serviceFile());
            QCOMPARE(file.find("<parent>FTP:10.0.0.7:21</parent>") != std::string::npos, true);
            QCOMPARE(file.find("<parent"), file.rfind("<parent"));
            QCOMPARE(file.find("<alarm_on>OnChange</alarm_on>") != std::string::npos, true);
            QCOMPARE(file.find("<remind_every>30</remind_every>") != std::string::npos, true);
            QCOMPARE(file.find("<fail_after>"), std::string::npos);
        }
        u.click("ButtonCancel");
        program.selectRow(program.rowOf("SMTP:10.0.0.9:25"));
        u = OpenUpdate(program);
        QCOMPARE(u.text("EditParent"), QStringLiteral("FTP:10.0.0.7:21"));
        QCOMPARE(u.get<QComboBox>("ComboOwnAlarmOn")->currentText(),
                 QStringLiteral("Once per outage"));
        QCOMPARE(u.text("EditOwnRemindEvery"), QStringLiteral("30"));
        QCOMPARE(u.text("EditOwnFailAfter"), QString());

        // Onto the FTP record's key: it would depend on itself; without
        // that, the key is taken. Refused, nothing written.
        const std::string before = vantor::test::ReadFile(program.serviceFile());
        u.choose("ComboBoxServiceKind", "FTP");
        u.type("EditFTPHost", "10.0.0.7");
        u.type("EditFTPPort", "21");
        u.click("ButtonSave");
        QCOMPARE(program.nextBox(), QStringLiteral("A service cannot depend on itself."));
        u.type("EditParent", "");
        u.click("ButtonSave");
        QCOMPARE(program.nextBox(), QStringLiteral("A service with this key already exists."));
        QCOMPARE(vantor::test::ReadFile(program.serviceFile()), before);

        // Delete asks nothing; the record leaves both lists.
        u.click("ButtonDelete");
        QVERIFY(program.boxes.isEmpty());
        QCOMPARE(u.status(), QStringLiteral("The service has been deleted."));
        QCOMPARE(u.get<QTreeWidget>("ListViewScheduling")->topLevelItemCount(), 1);
        QCOMPARE(program.rows(), 1);
        QVERIFY(!u.get<QPushButton>("ButtonSave")->isEnabled());
    }

    void aSaveThatCannotBeWrittenIsShownAndKeepsNothing() {
        Program program({});
        QVERIFY(program.startAndWait());
        Controls w = OpenWizard(program);
        Schedule(w, "RadioMinutely", "ComboMinutelyPeriod", "5");
        w.choose("ComboBoxServiceKind", "Ping");
        w.type("EditPingHost", "127.0.0.1");
        const std::string conf = program.appDir() + "/conf";
        std::filesystem::rename(conf, conf + "-away");
        Finish(w);
        std::filesystem::rename(conf + "-away", conf);
        QCOMPARE(program.boxes.size(), 1);
        QVERIFY(program.boxes.first().startsWith(
            QStringLiteral("ERR00603 : Cannot save service.xml file. : ")));
        QVERIFY(w.widget()->isVisible());
        QCOMPARE(program.session().store().recordCount(), std::size_t(0));
        // A second try adds it once.
        program.boxes.clear();
        w.click("ButtonNext");
        QCOMPARE(program.nextBox(), QStringLiteral("New service has been setup successfully."));
        QCOMPARE(program.session().store().recordCount(), std::size_t(1));
    }
};

QTEST_MAIN(ServiceEditorsTest)
#include "ServiceEditorsTest.moc"
