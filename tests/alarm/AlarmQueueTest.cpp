// SPDX-License-Identifier: GPL-3.0-or-later
// The alarm list and the queue that raises alarms and takes the senders'
// results back, with the senders running on a real pool against local fakes.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "alarm/AlarmListModel.h"
#include "alarm/AlarmQueue.h"
#include "alarm/AlertmanagerSink.h"
#include "alarm/SenderWorkItem.h"
#include "alarm/ThreadSMS.h"
#include "alarm/ThreadSMTP.h"
#include "alarm/ThreadSysLog.h"
#include "alarm/ThreadURL.h"
#include "app/AppSettings.h"
#include "app/EventLoop.h"
#include "pool/ThreadPoolManager.h"
#include "support/AppFixture.h"
#include "support/FakeHttpServer.h"
#include "support/FakeSmtpServer.h"
#include "support/Gate.h"
#include "support/LocalSockets.h"
#include "support/Text.h"

namespace vantor::alarm {
namespace {

using test::Lines;

using test::BlockingItem;
using test::Eventually;
using test::Gate;

using namespace std::chrono_literals;

constexpr const char* kStamp = "2026-12-08 14:00:00";

class AlarmQueueTest : public test::AppFixture {
protected:
    AlarmQueueTest() { pool.setMaxPooled(8); }
    ~AlarmQueueTest() override { gate.open(); }

    // The methods whose senders went to the pool, in the order queued.
    std::vector<std::string> queuedMethods() const {
        std::vector<std::string> out;
        for (auto row = list.rows().rbegin(); row != list.rows().rend(); ++row) {
            if (row->id != "0") {
                out.push_back(row->method);
            }
        }
        return out;
    }

    bool waitForSenders() {
        return loop.runUntil([&] { return queue.outstanding() == 0; }, 20s);
    }

    // SMTP, HTTP SMS and SysLog pointed at the fakes, SMS switched on too.
    void enableAllMethods() {
        settings.smtpEnable = true;
        settings.smtpIp = "127.0.0.1";
        settings.smtpPort = smtp.port();
        settings.smtpEmailAddress = "ops@example.test";
        settings.smtpFromAddress = "vantor@example.test";
        settings.smtpTimeout = 3000;
        settings.httpSmsEnable = true;
        settings.httpSmsUrl = gateway.url("/send?to=$MSISDN&msg=$MESSAGE");
        settings.httpSmsPort = gateway.port();
        settings.httpSmsMsisdnFieldValue = "+44 1";
        settings.httpSmsTimeout = 3000;
        settings.syslogEnable = true;
        settings.syslogIp = "127.0.0.1";
        settings.syslogPort = udp.port();
        settings.smsEnable = true;
        settings.smsPhone = "+15550100";
    }

    std::vector<std::string> methodsShown() const {
        std::vector<std::string> out;
        for (const AlarmRow& row : list.rows()) {
            out.push_back(row.method);
        }
        return out;
    }

    std::vector<std::string> errorLines() const {
        std::vector<std::string> out;
        for (const std::string& line : Lines(test::ReadFile(logFile("2026-12-08")))) {
            const std::string tag = std::string(kStamp) + " [ERROR] ";
            if (line.rfind(tag, 0) == 0) {
                out.push_back(line.substr(tag.size()));
            }
        }
        return out;
    }

    test::FakeSmtpServer smtp;
    test::FakeHttpServer gateway{
        test::FakeHttpServer::Always(test::HttpResponse("HTTP/1.1 200 OK"))};
    test::UdpReceiver udp;
    Gate gate;
    app::EventLoop loop;
    pool::ThreadPoolManager pool{loop};
    AlarmListModel list;
    AlarmQueue queue{settings, log, list, pool, clock};
};

const AlarmFlags kAllFlags{true, true, true, true};

TEST_F(AlarmQueueTest, EveryMethodGetsARowNewestFirstAndTheSentOnesTurnSent) {
    enableAllMethods();
    queue.RaiseAlarms(kStamp, "[10.0.0.1:25] Failed:refused", kAllFlags);

    EXPECT_EQ(methodsShown(), (std::vector<std::string>{"SysLog", "Email", "SMS by HTTP", "SMS"}));
    EXPECT_EQ(queuedMethods(), (std::vector<std::string>{"SMS by HTTP", "Email", "SysLog"}))
        << "without an SMPP sender the SMS method queues nothing";
    const auto& rows = list.rows();
    for (const AlarmRow& row : rows) {
        EXPECT_EQ(row.dateTime, kStamp);
        EXPECT_EQ(row.message, "[10.0.0.1:25] Failed:refused");
        EXPECT_EQ(row.status, "Pending") << row.method;
    }
    EXPECT_EQ(rows[0].target, "127.0.0.1");
    EXPECT_EQ(rows[1].target, "ops@example.test");
    EXPECT_EQ(rows[2].target, "+44 1");
    EXPECT_EQ(rows[3].target, "+15550100");
    EXPECT_EQ(rows[3].id, "0");
    EXPECT_NE(rows[0].id, "0");
    EXPECT_NE(rows[0].id, rows[1].id);
    EXPECT_NE(rows[1].id, rows[2].id);

    ASSERT_TRUE(waitForSenders());
    EXPECT_EQ(list.rows()[0].status, "Sent");
    EXPECT_EQ(list.rows()[1].status, "Sent");
    EXPECT_EQ(list.rows()[2].status, "Sent");
    EXPECT_EQ(list.rows()[3].status, "Pending");
    EXPECT_EQ(list.rows()[3].id, "0");
    EXPECT_TRUE(errorLines().empty());

    // What went out: the datagram carries the text with a colon put in front.
    const auto datagram = udp.receive();
    ASSERT_TRUE(datagram.has_value());
    EXPECT_EQ(*datagram, "<0>Dec  8 14:00:00 127.0.0.1 :[10.0.0.1:25] Failed:refused");
    ASSERT_EQ(smtp.messages().size(), 1u);
    EXPECT_EQ(test::SplitMail(smtp.messages()[0]).body,
              (std::vector<std::string>{"[10.0.0.1:25] Failed:refused"}));
    ASSERT_EQ(gateway.requests().size(), 1u);
    EXPECT_EQ(gateway.requests()[0].target,
              "/send?to=%2B44+1&msg=%5B10%2E0%2E0%2E1%3A25%5D+Failed%3Arefused");
}

TEST_F(AlarmQueueTest, AnSmsSenderFromTheFactoryIsQueuedUnderItsRow) {
    settings.smsEnable = true;
    settings.smsPhone = "+15550100";
    std::string seenTarget;
    std::string seenText;
    queue.setSmsSenderFactory([&](const app::AppSettings&, const std::string& target,
                                  const std::string& text) -> std::unique_ptr<SenderWorkItem> {
        seenTarget = target;
        seenText = text;
        // Any sender will do to stand in for the SMPP one: a SysLog datagram.
        SyslogSettings s{"127.0.0.1", udp.port(), 0, 0, 1000};
        return std::make_unique<ThreadSysLog>(s, text, clock);
    });
    queue.RaiseAlarms(kStamp, "down", kAllFlags);
    ASSERT_EQ(list.rows().size(), 1u);
    EXPECT_EQ(seenTarget, "+15550100");
    EXPECT_EQ(seenText, "down");
    EXPECT_NE(list.rows()[0].id, "0");
    ASSERT_TRUE(waitForSenders());
    EXPECT_EQ(list.rows()[0].status, "Sent");
}

TEST_F(AlarmQueueTest, AMethodRaisesNoRowWhenItIsOffHasNoContactOrIsNotAskedFor) {
    enableAllMethods();
    settings.smsEnable = false;

    settings.smtpEmailAddress.clear();
    queue.RaiseAlarms(kStamp, "a", kAllFlags);
    EXPECT_EQ(methodsShown(), (std::vector<std::string>{"SysLog", "SMS by HTTP"}))
        << "SMTP switched on but without an address";
    list.clear();

    settings.smtpEmailAddress = "ops@example.test";
    settings.syslogEnable = false;  // its address stays set
    queue.RaiseAlarms(kStamp, "b", kAllFlags);
    EXPECT_EQ(methodsShown(), (std::vector<std::string>{"Email", "SMS by HTTP"}));
    list.clear();

    settings.syslogEnable = true;
    queue.RaiseAlarms(kStamp, "c", AlarmFlags{false, true, false, true});
    EXPECT_EQ(methodsShown(), (std::vector<std::string>{"SysLog"}))
        << "only the methods the service asks for; SMS is switched off";
    list.clear();

    settings.httpSmsEnable = false;
    settings.smtpEnable = false;
    settings.syslogEnable = false;
    queue.RaiseAlarms(kStamp, "d", kAllFlags);
    EXPECT_TRUE(list.rows().empty());
    ASSERT_TRUE(waitForSenders());
}

TEST_F(AlarmQueueTest, TheListKeepsOneRowMoreThanShowLogItemDroppingTheOldest) {
    settings.smsEnable = true;  // rows without senders: nothing goes out
    settings.smsPhone = "+15550100";
    settings.showLogItem = 100;
    for (int i = 0; i < 105; ++i) {
        queue.RaiseAlarms(kStamp, "alarm " + std::to_string(i), kAllFlags);
        EXPECT_LE(list.rows().size(), 101u);
    }
    ASSERT_EQ(list.rows().size(), 101u);
    EXPECT_EQ(list.rows().front().message, "alarm 104");
    EXPECT_EQ(list.rows().back().message, "alarm 4");

    list.clear();
    settings.showLogItem = 2;
    for (int i = 0; i < 5; ++i) {
        queue.RaiseAlarms(kStamp, "small " + std::to_string(i), kAllFlags);
    }
    ASSERT_EQ(list.rows().size(), 3u);
    EXPECT_EQ(list.rows()[0].message, "small 4");
    EXPECT_EQ(list.rows()[2].message, "small 2");
}

TEST_F(AlarmQueueTest, AFailedSendTurnsItsRowToErrorAndLogsOneLine) {
    test::ClosedPort closed;
    test::FakeHttpServer failing(
        test::FakeHttpServer::Always(test::HttpResponse("HTTP/1.1 500 Internal Server Error")));
    enableAllMethods();
    settings.smsEnable = false;
    settings.smtpPort = closed.port();
    settings.httpSmsUrl = failing.url("/sms");
    settings.httpSmsPort = failing.port();
    settings.syslogEnable = false;
    queue.RaiseAlarms(kStamp, "down", kAllFlags);
    ASSERT_TRUE(waitForSenders());

    ASSERT_EQ(methodsShown(), (std::vector<std::string>{"Email", "SMS by HTTP"}));
    EXPECT_EQ(list.rows()[0].status, "Error");
    EXPECT_EQ(list.rows()[1].status, "Error");
    ASSERT_TRUE(list.selected().has_value());

    // The two senders finish in either order.
    auto errors = errorLines();
    ASSERT_EQ(errors.size(), 2u);
    std::sort(errors.begin(), errors.end());
    const std::string port = std::to_string(failing.port());
    // The pool's status message of an item that ran is empty: the line ends
    // with the blank that goes before it.
    EXPECT_EQ(errors[0],
              "Alarming Message - HTTP-SMS : Response code=500 [" + failing.url("/sms") + ":" +
                  port +
                  "] HTTP/1.1 500 Internal Server Error:HTTP/1.1 500 Internal Server Error ");
    const std::string smtpHead =
        "Alarming Message - SMTP : error [127.0.0.1:" + std::to_string(closed.port()) + "] ";
    EXPECT_EQ(errors[1].rfind(smtpHead, 0), 0u) << errors[1];
    EXPECT_NE(errors[1].find("Connection refused"), std::string::npos) << errors[1];
}

TEST_F(AlarmQueueTest, ASenderThePoolRefusesIsAnErrorWithThePoolsReason) {
    settings.syslogEnable = true;
    settings.syslogIp = "127.0.0.1";
    settings.syslogPort = udp.port();
    pool.setMaxPooled(1);
    pool.setMaxQueueLength(1);
    pool.QueueWorkItem(std::make_unique<BlockingItem>(gate), [](pool::WorkItem&) {});  // runs
    pool.QueueWorkItem(std::make_unique<BlockingItem>(gate), [](pool::WorkItem&) {});  // waits
    ASSERT_TRUE(Eventually([&] { return pool.ExecutingCount() == 1; }));

    queue.RaiseAlarms(kStamp, "down", kAllFlags);
    ASSERT_TRUE(waitForSenders());
    ASSERT_EQ(list.rows().size(), 1u);
    EXPECT_EQ(list.rows()[0].status, "Error");
    EXPECT_EQ(errorLines(),
              (std::vector<std::string>{
                  "Alarming Message - SysLog : error [127.0.0.1:" + std::to_string(udp.port()) +
                  "] Server is busy. Execution queue is too long. Execution queue is too long."}));
    EXPECT_FALSE(udp.receive(100ms).has_value());
    gate.open();
}

TEST_F(AlarmQueueTest, AClearedListStaysEmptyWhenResultsArriveButFailuresAreStillLogged) {
    test::ClosedPort closed;
    enableAllMethods();
    settings.smsEnable = false;
    settings.httpSmsEnable = false;
    settings.smtpPort = closed.port();
    queue.RaiseAlarms(kStamp, "down", kAllFlags);
    ASSERT_EQ(list.rows().size(), 2u);
    list.clear();  // before any result has come back to this thread
    ASSERT_TRUE(waitForSenders());
    EXPECT_TRUE(list.rows().empty());
    EXPECT_FALSE(list.selected().has_value());
    const auto errors = errorLines();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind("Alarming Message - SMTP : error [127.0.0.1:", 0), 0u);

    // Rows raised after the clear still follow their senders.
    queue.RaiseAlarms(kStamp, "again", AlarmFlags{false, false, false, true});
    ASSERT_TRUE(waitForSenders());
    ASSERT_EQ(list.rows().size(), 1u);
    EXPECT_EQ(list.rows()[0].status, "Sent");
}

// Tells each change as a view of the list sees it: the row count before and
// after, and the rows named.
class ListRecorder final : public app::ListObserver {
public:
    explicit ListRecorder(const AlarmListModel& list) : m_list(list) {}
    void aboutToInsertRows(std::size_t first, std::size_t last) override {
        say("insert " + std::to_string(first) + "-" + std::to_string(last) + " of " + count());
    }
    void rowsInserted() override { say("inserted, " + count()); }
    void aboutToRemoveRows(std::size_t first, std::size_t last) override {
        say("remove " + std::to_string(first) + "-" + std::to_string(last) + " of " + count());
    }
    void rowsRemoved() override { say("removed, " + count()); }
    void rowChanged(std::size_t row) override { say("row " + std::to_string(row)); }
    void currentRowChanged(std::optional<std::size_t> row) override {
        say("current " + (row ? std::to_string(*row) : std::string("none")));
    }
    void aboutToReset() override { say("reset from " + count()); }
    void reset() override { say("reset, " + count()); }
    std::vector<std::string> events;

private:
    void say(std::string text) { events.push_back(std::move(text)); }
    std::string count() const { return std::to_string(m_list.rowCount()); }
    const AlarmListModel& m_list;
};

// The list model on its own.
TEST(AlarmListModel, RowsGoOnTopTheSelectionFollowsItsRowAndTrimDropsTheBottom) {
    AlarmListModel list;
    ListRecorder recorder(list);
    list.addObserver(&recorder);
    list.insertTop({"1", "t", "first", "SysLog", "h", "Pending"});
    list.insertTop({"2", "t", "second", "Email", "h", "Pending"});
    list.select(0);  // "second"
    list.insertTop({"3", "t", "third", "SMS", "h", "Pending"});
    ASSERT_TRUE(list.selected().has_value());
    EXPECT_EQ(list.rows()[*list.selected()].message, "second");
    EXPECT_EQ(list.findById("1"), std::optional<std::size_t>(2));
    EXPECT_FALSE(list.findById("4").has_value());

    list.TrimAlarmList(3);
    EXPECT_EQ(list.rows().size(), 3u) << "three rows are within a limit of three";
    list.TrimAlarmList(1);
    ASSERT_EQ(list.rows().size(), 2u) << "one row at most goes per call";
    EXPECT_EQ(list.rows().back().message, "second");

    list.select(1);
    list.TrimAlarmList(1);
    EXPECT_FALSE(list.selected().has_value()) << "the selected row went";
    list.setStatus(0, "Sent");
    list.setStatus(7, "Sent");  // no such row: ignored
    EXPECT_EQ(list.rows()[0].status, "Sent");
    EXPECT_EQ(list.cellText(0, AlarmListModel::Column::Method), "SMS");
    EXPECT_EQ(list.cellText(0, AlarmListModel::Column::Status), "Sent");
    list.clear();

    EXPECT_EQ(
        recorder.events,
        (std::vector<std::string>{
            "insert 0-0 of 0", "inserted, 1", "insert 0-0 of 1", "inserted, 2", "current 0",
            "insert 0-0 of 2", "inserted, 3", "remove 2-2 of 3", "removed, 2", "current 1",
            "remove 1-1 of 2", "removed, 1", "current none", "row 0", "reset from 1", "reset, 0"}));
}

// Each key of the four sections holds a value of its own, and every field of
// each sender's settings is bound by name: a field added to one of them
// does not build here until it is checked.
TEST(AlarmSettingsMapping, EveryKeyReachesItsFieldOfTheSendersSettings) {
    app::AppSettings s;
    s.smtpIp = "smtp-ip";
    s.smtpPort = 2501;
    s.smtpEmailAddress = "ops@example.test, Two <two@example.test>";
    s.smtpMailAgent = "mail-agent";
    s.smtpFromAddress = "Vantor <from@example.test>";
    s.smtpAuthEnable = true;
    s.smtpUsername = "smtp-user";
    s.smtpPassword = "smtp-pw";
    s.smtpTimeout = 2502;
    s.smtpSecurity = "STARTTLS";
    s.smsIp = "smsc-ip";
    s.smsPort = 3501;
    s.smsOa = "sms-oa";
    s.smsAuthEnable = true;
    s.smsUsername = "sms-user";
    s.smsPassword = "sms-pw";
    s.smsVersion = 52;
    s.smsSystemType = "sms-type";
    s.smsTon = 11;
    s.smsNpi = 12;
    s.smsDestTon = 13;
    s.smsDestNpi = 14;
    s.smsOrigTon = 15;
    s.smsOrigNpi = 16;
    s.smsPhone = "4670";
    s.smsTimeout = 3502;
    s.httpSmsUrl = "gw.example.test/send";
    s.httpSmsPort = 8081;
    s.httpSmsMethod = "Post";
    s.httpSmsAuthEnable = true;
    s.httpSmsUsername = "http-user";
    s.httpSmsPassword = "http-pw";
    s.httpSmsProxyServer = "proxy-host";
    s.httpSmsProxyPort = 8082;
    s.httpSmsProxyUsername = "proxy-user";
    s.httpSmsProxyPassword = "proxy-pw";
    s.httpSmsMsisdnFieldName = "to";
    s.httpSmsMsisdnFieldValue = "+44 1";
    s.httpSmsMessageFieldName = "text";
    s.httpSmsExtraField1Name = "f1";
    s.httpSmsExtraField1Value = "v1";
    s.httpSmsExtraField2Name = "f2";
    s.httpSmsExtraField2Value = "v2";
    s.httpSmsTimeout = 8083;
    s.syslogIp = "syslog-ip";
    s.syslogPort = 5141;
    s.syslogFacility = 9;
    s.syslogSeverity = 4;
    s.syslogTimeout = 5142;

    {
        const auto& [host, port, authenticate, username, password, timeoutMs, security] =
            SmtpSettingsFrom(s);
        EXPECT_EQ(host, "smtp-ip");
        EXPECT_EQ(port, 2501);
        EXPECT_TRUE(authenticate);
        EXPECT_EQ(username, "smtp-user");
        EXPECT_EQ(password, "smtp-pw");
        EXPECT_EQ(timeoutMs, 2502);
        EXPECT_EQ(security, "STARTTLS");
    }
    {
        const auto& [from, recipients, body, mailAgent] =
            AlarmMailFrom(s, s.smtpEmailAddress, "[h:1] down");
        EXPECT_EQ(from.text, "Vantor <from@example.test>");
        EXPECT_EQ(from.address, "from@example.test");
        ASSERT_EQ(recipients.size(), 2u);
        EXPECT_EQ(recipients[0].address, "ops@example.test");
        EXPECT_EQ(recipients[1].address, "two@example.test");
        EXPECT_EQ(body, "[h:1] down");
        EXPECT_EQ(mailAgent, "mail-agent");
    }
    {
        const auto& [host, port, systemId, password, originator, destination, interfaceVersion,
                     systemType, bindTon, bindNpi, destTon, destNpi, origTon, origNpi, timeoutMs] =
            SmsSettingsFrom(s, s.smsPhone);
        EXPECT_EQ(host, "smsc-ip");
        EXPECT_EQ(port, 3501);
        EXPECT_EQ(systemId, "sms-user");
        EXPECT_EQ(password, "sms-pw");
        EXPECT_EQ(originator, "sms-oa");
        EXPECT_EQ(destination, "4670");
        EXPECT_EQ(interfaceVersion, 52);
        EXPECT_EQ(systemType, "sms-type");
        EXPECT_EQ(bindTon, 11);
        EXPECT_EQ(bindNpi, 12);
        EXPECT_EQ(destTon, 13);
        EXPECT_EQ(destNpi, 14);
        EXPECT_EQ(origTon, 15);
        EXPECT_EQ(origNpi, 16);
        EXPECT_EQ(timeoutMs, 3502);
    }
    {
        const auto& [url, port, method, authenticate, username, password, proxyServer, proxyPort,
                     proxyUsername, proxyPassword, msisdnFieldName, msisdnFieldValue,
                     messageFieldName, extraField1Name, extraField1Value, extraField2Name,
                     extraField2Value, timeoutMs] = HttpSmsSettingsFrom(s);
        EXPECT_EQ(url, "gw.example.test/send");
        EXPECT_EQ(port, 8081);
        EXPECT_EQ(method, "Post");
        EXPECT_TRUE(authenticate);
        EXPECT_EQ(username, "http-user");
        EXPECT_EQ(password, "http-pw");
        EXPECT_EQ(proxyServer, "proxy-host");
        EXPECT_EQ(proxyPort, 8082);
        EXPECT_EQ(proxyUsername, "proxy-user");
        EXPECT_EQ(proxyPassword, "proxy-pw");
        EXPECT_EQ(msisdnFieldName, "to");
        EXPECT_EQ(msisdnFieldValue, "+44 1");
        EXPECT_EQ(messageFieldName, "text");
        EXPECT_EQ(extraField1Name, "f1");
        EXPECT_EQ(extraField1Value, "v1");
        EXPECT_EQ(extraField2Name, "f2");
        EXPECT_EQ(extraField2Value, "v2");
        EXPECT_EQ(timeoutMs, 8083);
    }
    {
        const auto& [host, port, facility, severity, timeoutMs] = SyslogSettingsFrom(s);
        EXPECT_EQ(host, "syslog-ip");
        EXPECT_EQ(port, 5141);
        EXPECT_EQ(facility, 9);
        EXPECT_EQ(severity, 4);
        EXPECT_EQ(timeoutMs, 5142);
    }
}

}  // namespace
}  // namespace vantor::alarm

namespace vantor::alarm {
namespace {

class AlertmanagerTest : public test::AppFixture {
protected:
    std::string logText() const { return test::ReadFile(logFile("2026-12-08")); }
};

TEST_F(AlertmanagerTest, ANoticeFiresAFailureKeepsItAndTheNextPassResolvesIt) {
    test::FakeHttpServer alertmanager(
        test::FakeHttpServer::Always(test::HttpResponse("HTTP/1.1 200 OK")));
    {
        AlertmanagerSink sink(AlertmanagerSink::ParseList(alertmanager.url("/") + ", "), log);
        // Nothing fires yet: a pass and a recovery say nothing.
        sink.verdict("URL:a", "http://a/", "URL", true, "", 100);
        sink.notice(NoticeType::Recovery, "URL:a", "http://a/", "URL", "back", 100);
        sink.notice(NoticeType::Failure, "URL:a", "http://a/", "URL",
                    "[a:80] Failed:Connection \"refused\"", 200);
        sink.verdict("URL:a", "http://a/", "URL", false, "[a:80] Failed:Timed out", 500);
        sink.verdict("URL:a", "http://a/", "URL", true, "", 800);
        sink.waitSent();
    }
    // Posts close together go in one batch: the alerts in order, whatever
    // the batches.
    std::string alerts;
    for (const auto& r : alertmanager.requests()) {
        EXPECT_EQ(r.method, "POST");
        EXPECT_EQ(r.target, "/api/v2/alerts");
        EXPECT_EQ(r.header("Content-Type"), "application/json");
        ASSERT_GE(r.body.size(), 2u);
        alerts += (alerts.empty() ? "" : ",") + r.body.substr(1, r.body.size() - 2);
    }
    const std::string labels =
        R"({"labels":{"alertname":"VantorServiceDown","key":"URL:a","instance":"http://a/",)"
        R"("module":"URL","severity":"critical"},"annotations":{"summary":)";
    EXPECT_EQ(alerts, labels +
                          R"("[a:80] Failed:Connection \"refused\""},)"
                          R"("startsAt":"1970-01-01T00:03:20Z"},)" +
                          labels +
                          R"("[a:80] Failed:Timed out"},"startsAt":"1970-01-01T00:03:20Z"},)" +
                          labels +
                          R"("[a:80] Failed:Timed out"},"startsAt":"1970-01-01T00:03:20Z",)"
                          R"("endsAt":"1970-01-01T00:13:20Z"})");
}

TEST_F(AlertmanagerTest, AnAlertmanagerThatRefusesIsTriedAgainThenLoggedAsAFailedAlarm) {
    test::ClosedPort closed;
    const std::string url = "http://127.0.0.1:" + std::to_string(closed.port());
    {
        AlertmanagerSink sink({url}, log);
        sink.notice(NoticeType::Flapping, "Ping:b", "b", "Ping", "flapping", 10);
        sink.waitSent();
    }
    EXPECT_NE(
        logText().find("Alarming Message - Alertmanager : error [" + url + "/api/v2/alerts] "),
        std::string::npos)
        << logText();
}

}  // namespace
}  // namespace vantor::alarm
