// SPDX-License-Identifier: GPL-3.0-or-later
// vantor-lite --check-now against real servers on 127.0.0.1: nginx for the
// checked pages and the HTTP SMS gateway, aiosmtpd storing the alarm mails
// in a maildir, rsyslogd writing down each syslog datagram it receives.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <regex>
#include <sstream>

#include "E2EApp.h"
#include "E2EServers.h"
#include "support/TempDir.h"
#include "support/Text.h"

namespace vantor::e2e {
namespace {

using test::Lines;

using namespace std::chrono_literals;

constexpr const char* kMailTo = "Duty Desk <duty@vantor.test>";
constexpr const char* kMailFrom = "Vantor Lite <monitor@vantor.test>";
constexpr const char* kMailAgent = "Vantor Lite e2e";
constexpr const char* kNumber = "+44 7700 900123";
// "Local Use Four" (20) and "Warning" (4).
constexpr int kPri = 20 * 8 + 4;

// An nginx access log line less its time stamp: `<status> "<request>" "<UA>"`.
std::vector<std::string> Requests(const std::string& log) {
    std::vector<std::string> out;
    for (const std::string& line : Lines(log)) {
        const auto blank = line.find(' ');
        out.push_back(blank == std::string::npos ? line : line.substr(blank + 1));
    }
    return out;
}

int Count(const std::vector<std::string>& lines, const std::string& text) {
    int n = 0;
    for (const std::string& line : lines) {
        n += line == text ? 1 : 0;
    }
    return n;
}

struct Mail {
    std::multimap<std::string, std::string> headers;
    std::string body;
    std::string header(const std::string& name) const {
        const auto found = headers.find(name);
        return found == headers.end() ? "<missing>" : found->second;
    }
};

// A stored message: line ends made LF, headers (unfolded) and the body.
Mail ParseMail(std::string text) {
    for (auto at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) {
        text.erase(at, 1);
    }
    Mail mail;
    const auto split = text.find("\n\n");
    const std::string head = text.substr(0, split);
    mail.body = split == std::string::npos ? "" : text.substr(split + 2);
    std::string name;
    for (const std::string& line : Lines(head)) {
        if (!line.empty() && (line[0] == ' ' || line[0] == '\t') && !name.empty()) {
            auto last = std::prev(mail.headers.upper_bound(name));
            last->second += line;
            continue;
        }
        const auto colon = line.find(':');
        if (colon == std::string::npos) {
            continue;
        }
        name = line.substr(0, colon);
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(' '));
        mail.headers.emplace(name, value);
    }
    return mail;
}

std::string SyslogDate(std::chrono::system_clock::time_point t) {
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t seconds = std::chrono::system_clock::to_time_t(t);
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%s %2d", kMonths[tm.tm_mon], tm.tm_mday);
    return buf;
}

class CheckNowTest : public ::testing::Test {
protected:
    // Fresh servers for each test, so that what they received is this
    // test's alone.
    void SetUp() override {
        try {
            m_nginx = std::make_unique<NginxServers>(m_serverDir.path());
            m_smtp = std::make_unique<MailboxSmtpServer>(m_serverDir.path());
            m_syslog = std::make_unique<SyslogReceiver>(m_serverDir.path());
        } catch (const std::exception& e) {
            FAIL() << e.what();
        }
    }
    void TearDown() override {
        m_syslog.reset();
        m_smtp.reset();
        m_nginx.reset();
    }

    std::string webPort() const { return std::to_string(m_nginx->webPort()); }

    ServiceEntry Page(const std::string& path) const {
        ServiceEntry s;
        s.ip = "http://127.0.0.1" + path;
        s.port = webPort();
        return s;
    }
    static ServiceEntry Alarming(ServiceEntry s) {
        s.alarmEmail = "y";
        s.alarmHttpSms = "y";
        s.alarmSyslog = "y";
        return s;
    }

    // Every alarm method on, the HTTP check repeated once after a failure,
    // alarm backup on.
    std::string Settings(int smtpPort, const std::string& gatewayPath) const {
        std::ostringstream ini;
        ini << "[http]\nHTTPRetry=1\nHTTPDefaultTimeout=5000\n"
            << "[Alarm Msg File Backup]\nEnable=1\n"
            << "[SMTP Alarm]\nEnable=1\nIP=127.0.0.1\nPort=" << smtpPort
            << "\nEmailAddress=" << kMailTo << "\nFromAddress=" << kMailFrom
            << "\nMailAgent=" << kMailAgent << "\nTimeout=5000\n"
            << "[HTTP-SMS Alarm]\nEnable=1\nURL=http://127.0.0.1" << gatewayPath
            << "?to=$MSISDN&text=$MESSAGE\nPort=" << m_nginx->gatewayPort()
            << "\nMethod=Get\nMSISDN FieldName=to\nMSISDN FieldValue=" << kNumber
            << "\nMESSAGE FieldName=text\nTimeout=5000\n"
            << "[SysLog Alarm]\nEnable=1\nIP=127.0.0.1\nPort=" << m_syslog->port()
            << "\nFacility=Local Use Four\nSeverity=Warning\n";
        return ini.str();
    }

    test::TempDir m_serverDir;
    std::unique_ptr<NginxServers> m_nginx;
    std::unique_ptr<MailboxSmtpServer> m_smtp;
    std::unique_ptr<SyslogReceiver> m_syslog;
    AppDir app;
};

TEST_F(CheckNowTest, AFailingServiceRaisesEveryAlarmAndIsStoredAsFailed) {
    const ServiceEntry ok = Alarming(Page("/e2e/ok.html"));
    const ServiceEntry broken = Alarming(Page("/e2e/broken"));
    ServiceEntry stopped = Alarming(Page("/e2e/stopped.html"));
    stopped.status = "Stop";
    app.writeServices({ok, stopped, broken});
    app.writeSettings(Settings(m_smtp->port(), "/sms"));

    const auto before = std::chrono::system_clock::now();
    auto run = app.start({"--check-now"});
    ASSERT_EQ(run->wait(60s), 1) << run->out() << run->err();
    const auto after = std::chrono::system_clock::now();

    const std::string okDetail = "[http://127.0.0.1/e2e/ok.html:" + webPort() + "] HTTP/1.1 200 OK";
    const std::string failure =
        "[http://127.0.0.1/e2e/broken:" + webPort() +
        "] HTTP/1.1 500 Internal Server Error:HTTP/1.1 500 Internal Server Error";
    EXPECT_EQ(run->out(), ok.key() + "\tPassed\t" + okDetail + "\n" + broken.key() + "\tFailed\t" +
                              failure + "\n" +
                              "ALARM\tSysLog\tSent\t127.0.0.1\n"
                              "ALARM\tEmail\tSent\t" +
                              kMailTo + "\nALARM\tSMS by HTTP\tSent\t" + kNumber + "\n");
    EXPECT_EQ(run->err().find("Error"), std::string::npos) << run->err();

    // The pages: the failing one twice (the check and its repeat), the
    // stopped service never, each with the record's User-Agent.
    const auto web = Requests(m_nginx->webLog());
    EXPECT_EQ(Count(web, "200 \"GET /e2e/ok.html HTTP/1.1\" \"VantorLite-test\""), 1)
        << m_nginx->webLog();
    EXPECT_EQ(Count(web, "500 \"GET /e2e/broken HTTP/1.1\" \"VantorLite-test\""), 2)
        << m_nginx->webLog();
    EXPECT_EQ(web.size(), 3u) << m_nginx->webLog();

    // The mail, as aiosmtpd stored it.
    const auto mails = m_smtp->messages();
    ASSERT_EQ(mails.size(), 1u) << m_smtp->log();
    const Mail mail = ParseMail(mails.front());
    EXPECT_EQ(mail.header("From"), kMailFrom);
    EXPECT_EQ(mail.header("To"), kMailTo);
    EXPECT_EQ(mail.header("Subject"), "Alarming Message");
    EXPECT_EQ(mail.header("X-Mailer"), kMailAgent);
    EXPECT_EQ(mail.header("X-MailFrom"), "monitor@vantor.test");
    EXPECT_EQ(mail.header("X-RcptTo"), "duty@vantor.test");
    EXPECT_EQ(mail.body, failure + "\n");

    // The syslog datagram, as rsyslogd received and parsed it.
    const auto received = m_syslog->waitForLines(1, 10s);
    ASSERT_EQ(received.size(), 1u);
    const std::string& line = received.front();
    const std::string parsed =
        "pri=" + std::to_string(kPri) + " host=127.0.0.1 tag=: msg=" + failure + " raw=";
    ASSERT_EQ(line.substr(0, parsed.size()), parsed) << line;
    const std::string raw = line.substr(parsed.size());
    const std::string rawHead = "<" + std::to_string(kPri) + ">";
    const std::string rawTail = " 127.0.0.1 :" + failure;
    ASSERT_GT(raw.size(), rawHead.size() + rawTail.size()) << raw;
    EXPECT_EQ(raw.substr(0, rawHead.size()), rawHead) << raw;
    EXPECT_EQ(raw.substr(raw.size() - rawTail.size()), rawTail) << raw;
    const std::string stamp =
        raw.substr(rawHead.size(), raw.size() - rawHead.size() - rawTail.size());
    EXPECT_TRUE(std::regex_match(stamp, std::regex(R"([A-Z][a-z]{2} [ 123]\d \d\d:\d\d:\d\d)")))
        << stamp;
    const std::string day = stamp.substr(0, 6);
    EXPECT_TRUE(day == SyslogDate(before) || day == SyslogDate(after)) << stamp;

    // The gateway's request line: number and text form-encoded into the URL.
    const auto gateway = Requests(m_nginx->gatewayLog());
    ASSERT_EQ(gateway.size(), 1u) << m_nginx->gatewayLog();
    const std::string query = "to=" + FormEncoded(kNumber) + "&text=" + FormEncoded(failure);
    EXPECT_EQ(gateway.front(), "200 \"GET /sms?" + query + " HTTP/1.1\" \"html\"");
    const auto textAt = gateway.front().find("&text=");
    ASSERT_NE(textAt, std::string::npos);
    const std::string sentText =
        gateway.front().substr(textAt + 6, gateway.front().find(' ', textAt) - textAt - 6);
    EXPECT_EQ(FormDecoded(sentText), failure);

    // What the program keeps.
    EXPECT_EQ(app.storedServiceStatus(ok.key()), "Passed");
    EXPECT_EQ(app.storedServiceStatus(broken.key()), "Failed");
    EXPECT_EQ(app.storedServiceStatus(stopped.key()), "Unknown");
    const auto backup = app.alarmBackupLines();
    ASSERT_EQ(backup.size(), 1u);
    EXPECT_TRUE(std::regex_match(backup.front().substr(0, 20),
                                 std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d )")))
        << backup.front();
    EXPECT_EQ(backup.front().substr(20),
              "[URL] [http://127.0.0.1/e2e/broken] [" + webPort() + "] " + failure);
    const auto log = app.systemLogLines();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().substr(20), "[INFO] Application stops.");
}

TEST_F(CheckNowTest, AllServicesPassingEndWithExitCodeZeroAndNoAlarm) {
    ServiceEntry mailCheck = Alarming(ServiceEntry{});
    mailCheck.service = "SMTP";
    mailCheck.ip = "127.0.0.1";
    mailCheck.port = std::to_string(m_smtp->port());
    mailCheck.urlMethod = "";
    const ServiceEntry first = Alarming(Page("/e2e/ok.html"));
    const ServiceEntry second = Alarming(Page("/e2e/second.html"));
    app.writeServices({first, mailCheck, second});
    app.writeSettings(Settings(m_smtp->port(), "/sms"));

    auto run = app.start({"--check-now"});
    ASSERT_EQ(run->wait(60s), 0) << run->out() << run->err();
    EXPECT_EQ(run->out(), first.key() + "\tPassed\t[http://127.0.0.1/e2e/ok.html:" + webPort() +
                              "] HTTP/1.1 200 OK\n" + mailCheck.key() + "\tPassed\t[127.0.0.1:" +
                              mailCheck.port + "] Passed\n" + second.key() +
                              "\tPassed\t[http://127.0.0.1/e2e/second.html:" + webPort() +
                              "] HTTP/1.1 200 OK\n");
    EXPECT_EQ(app.storedServiceStatus(first.key()), "Passed");
    EXPECT_EQ(app.storedServiceStatus(mailCheck.key()), "Passed");
    EXPECT_EQ(app.storedServiceStatus(second.key()), "Passed");
    EXPECT_TRUE(m_smtp->messages().empty());
    EXPECT_TRUE(m_syslog->lines().empty());
    EXPECT_EQ(m_nginx->gatewayLog(), "");
    EXPECT_TRUE(app.alarmBackupLines().empty());
}

// A name in another script is looked up in its ASCII form by every kind of
// check, whatever the locale of the environment (none here): the window
// does so, and without windows the same record must give the same result.
// The name is known to a private /etc/hosts, in a mount namespace of the
// program's own.
TEST_F(CheckNowTest, ANameInAnotherScriptIsCheckedUnderItsAsciiFormWithoutAnyLocale) {
    if (std::system("unshare -m true 2>/dev/null") != 0) {
        GTEST_SKIP() << "no mount namespace for a private /etc/hosts";
    }
    const std::string hosts = app.file("hosts");
    test::WriteFile(hosts, "127.0.0.1 xn--bcher-kva.example\n");
    ServiceEntry page = Page("/e2e/ok.html");
    page.ip =
        "http://b\xc3\xbc"
        "cher.example/e2e/ok.html";
    ServiceEntry mailCheck;
    mailCheck.service = "SMTP";
    mailCheck.ip =
        "b\xc3\xbc"
        "cher.example";
    mailCheck.port = std::to_string(m_smtp->port());
    mailCheck.urlMethod = "";
    ServiceEntry ping;
    ping.service = "Ping";
    ping.ip = mailCheck.ip;
    ping.port = "0";
    ping.urlMethod = "";
    app.writeServices({page, mailCheck, ping});
    app.writeSettings(Settings(m_smtp->port(), "/sms"));

    auto run = app.startWithin(
        {"/usr/bin/unshare", "-m", "/bin/sh", "-c", "mount --bind \"$0\" /etc/hosts && exec \"$@\"",
         hosts},
        {"--check-now"},
        {{"LANG", "\x01unset"}, {"LC_ALL", "\x01unset"}, {"LC_CTYPE", "\x01unset"}});
    ASSERT_EQ(run->wait(60s), 0) << run->out() << run->err();
    const std::vector<std::string> lines = Lines(run->out());
    ASSERT_EQ(lines.size(), 3u) << run->out();
    EXPECT_EQ(lines[0],
              page.key() + "\tPassed\t[" + page.ip + ":" + webPort() + "] HTTP/1.1 200 OK");
    EXPECT_EQ(lines[1],
              mailCheck.key() + "\tPassed\t[" + mailCheck.ip + ":" + mailCheck.port + "] Passed");
    EXPECT_EQ(lines[2].rfind(ping.key() + "\tPassed\t", 0), 0u) << lines[2];
    EXPECT_EQ(
        Count(Requests(m_nginx->webLog()), "200 \"GET /e2e/ok.html HTTP/1.1\" \"VantorLite-test\""),
        1)
        << m_nginx->webLog();
}

TEST_F(CheckNowTest, AlarmsThatCannotBeDeliveredEndAsErrorRowsAndLogLines) {
    const ServiceEntry broken = Alarming(Page("/e2e/broken"));
    app.writeServices({broken});
    const int closedPort = interop::FreePort();
    app.writeSettings(Settings(closedPort, "/down"));

    auto run = app.start({"--check-now"});
    ASSERT_EQ(run->wait(60s), 1) << run->out() << run->err();
    const std::string failure =
        "[http://127.0.0.1/e2e/broken:" + webPort() +
        "] HTTP/1.1 500 Internal Server Error:HTTP/1.1 500 Internal Server Error";
    EXPECT_EQ(run->out(), broken.key() + "\tFailed\t" + failure +
                              "\nALARM\tSysLog\tSent\t127.0.0.1\n"
                              "ALARM\tEmail\tError\t" +
                              kMailTo + "\nALARM\tSMS by HTTP\tError\t" + kNumber + "\n");
    EXPECT_EQ(m_syslog->waitForLines(1, 10s).size(), 1u);
    const auto gateway = Requests(m_nginx->gatewayLog());
    ASSERT_EQ(gateway.size(), 1u);
    EXPECT_EQ(gateway.front().substr(0, 20), "503 \"GET /down?to=%2");

    // One error line per undelivered alarm in the system log.
    const std::string smtpLine =
        "[ERROR] Alarming Message - SMTP : error [127.0.0.1:" + std::to_string(closedPort) + "] ";
    // The gateway's URL without its query: that holds the number and the text.
    const std::string httpLine =
        "[ERROR] Alarming Message - HTTP-SMS : Response code=503 "
        "[http://127.0.0.1/down:" +
        std::to_string(m_nginx->gatewayPort()) + "] HTTP/1.1 503 ";
    int smtpErrors = 0;
    int httpErrors = 0;
    const auto log = app.systemLogLines();
    for (const std::string& line : log) {
        smtpErrors += line.compare(20, smtpLine.size(), smtpLine) == 0 ? 1 : 0;
        httpErrors += line.compare(20, httpLine.size(), httpLine) == 0 ? 1 : 0;
    }
    std::string all;
    for (const std::string& line : log) {
        all += line + "\n";
    }
    EXPECT_EQ(smtpErrors, 1) << all;
    EXPECT_EQ(httpErrors, 1) << all;
    EXPECT_EQ(app.storedServiceStatus(broken.key()), "Failed");
}

// Start-up failures need no server.
TEST(CheckNowStartUpTest, ACorruptServiceListEndsWithExitCodeTwoAndIsNotTouched) {
    AppDir app;
    const std::string broken = "<serviceList><record key=\"a\"><ip>x</ip></serviceList";
    app.writeServiceFile(broken);
    auto run = app.start({"--check-now"});
    ASSERT_EQ(run->wait(30s), 2) << run->out() << run->err();
    EXPECT_EQ(run->out(), "");
    EXPECT_NE(run->err().find("Error: ERR00601 : The service.xml file is corrupted. : "),
              std::string::npos)
        << run->err();
    EXPECT_EQ(test::ReadFile(app.file("conf/service.xml")), broken);
}

}  // namespace
}  // namespace vantor::e2e
