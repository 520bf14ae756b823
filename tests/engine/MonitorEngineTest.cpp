// SPDX-License-Identifier: GPL-3.0-or-later
// The monitoring engine on a real pool driven by an event loop: the minute
// tick, the per-service commands, the handling of finished checks and the
// alarms they raise, all against local fakes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "alarm/AlarmListModel.h"
#include "alarm/AlarmQueue.h"
#include "app/EventLoop.h"
#include "app/Messages.h"
#include "app/TimeFormat.h"
#include "engine/MinuteTicker.h"
#include "engine/MonitorEngine.h"
#include "engine/ServiceListModel.h"
#include "engine/ServicePolicy.h"
#include "engine/ThreadURLCheck.h"
#include "history/HistoryDb.h"
#include "history/HistoryStore.h"
#include "net/SmtpClient.h"
#include "pool/ThreadPoolManager.h"
#include "registry/ServiceStore.h"
#include "support/AppFixture.h"
#include "support/EngineHarness.h"
#include "support/FakeHttpServer.h"
#include "support/FakeSmtpServer.h"
#include "support/Gate.h"
#include "support/HostileTls.h"
#include "support/LocalSockets.h"
#include "support/ScriptedServers.h"
#include "support/ServiceListFile.h"
#include "support/Text.h"

namespace vantor::engine {
namespace {

using test::Lines;

using pool::ThreadPoolManager;
using test::BlockingItem;
using test::Eventually;
using test::Gate;

using namespace std::chrono_literals;
using registry::ServiceFields;
using test::FakeHttpServer;
using test::HttpResponse;

constexpr const char* kStamp = "2026-12-08 14:00:00";
const std::string kServerError = "HTTP/1.1 500 Internal Server Error";

// The inverse of form encoding, written out here so that the gateway's
// request can be read back independently of the encoder.
std::string FormDecode(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size()) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

struct ProductResult {
    CheckResult result;
    bool retried;
};

class EngineTest : public test::AppFixture, public test::EngineHarness {
protected:
    EngineTest() : EngineHarness(paths.serviceFilePath(), settings, log, reporter, clock) {
        EXPECT_TRUE(store.CreateServiceFile().ok());
        EXPECT_TRUE(store.OpenServiceFile(true).ok());
        settings.httpDefaultTimeout = 3000;
        settings.emailDefaultTimeout = 3000;
        settings.ftpDefaultTimeout = 3000;
        start(50);
        engine->onProductResult = [this](const CheckResult& r, bool retried) {
            results.push_back({r, retried});
        };
    }
    ~EngineTest() override {
        gate.open();
        stop();
    }

    static ServiceFields Fields(const std::string& service, const std::string& ip,
                                const std::string& port, const std::string& by,
                                const std::string& hour, const std::string& minute) {
        ServiceFields f;
        f.service = service;
        f.ip = ip;
        f.port = port;
        f.scheduleBy = by;
        f.scheduleHour = hour;
        f.scheduleMinute = minute;
        f.proxyPort = "0";
        f.urlMethod = "Get";
        return f;
    }

    // Adds the record and returns its key.
    std::string add(const ServiceFields& f) {
        const Status added = f.service == "URL"
                                 ? store.InsertURLService(f, registry::UrlRequestFields{})
                                 : store.InsertService(f);
        EXPECT_TRUE(added) << added.error();
        return registry::MakeServiceKey(f.service, f.ip, f.port);
    }

    // A URL service on a port that refuses connections: its check fails at
    // once.
    std::string addRefused(const std::string& path, const std::string& by = "Minutely",
                           const std::string& hour = "00", const std::string& minute = "5") {
        return add(Fields("URL", "http://127.0.0.1:" + std::to_string(closed.port()) + path,
                          std::to_string(closed.port()), by, hour, minute));
    }

    // A URL service on a fake web server.
    ServiceFields urlOn(const FakeHttpServer& server, const std::string& path = "/health") {
        ServiceFields f =
            Fields("URL", server.url(path), std::to_string(server.port()), "Daily", "03", "07");
        f.alarmSyslog = "y";
        return f;
    }

    // Every check here ends well within a second. The short limit also
    // makes an endless chain of repeats fail the test before it wears out
    // the fake servers' threads.
    bool drain(std::chrono::milliseconds timeout = 5s) { return EngineHarness::drain(timeout); }
    bool waitForResults(std::size_t count, std::chrono::milliseconds timeout = 20s) {
        return loop.runUntil([&] { return results.size() >= count; }, timeout);
    }

    // Ticks at the wall time and returns the keys whose checks ran.
    std::set<std::string> tickAt(int hour, int minute) {
        results.clear();
        clock.setLocal(2026, 12, 8, hour, minute, 0);
        engine->TimerServiceTimer();
        EXPECT_TRUE(drain());
        std::set<std::string> keys;
        for (const auto& r : results) {
            keys.insert(r.result.serviceKey);
        }
        return keys;
    }

    std::string rowStatus(const std::string& key) const {
        const auto row = services.findRow(key);
        return row ? services.rows()[*row].currentStatus : "<no row>";
    }
    std::string storedStatus(const std::string& key) const {
        const auto record = store.findRecord(key);
        return record ? std::string(record->text("service_status")) : "<no record>";
    }
    void selectRow(const std::string& key) {
        const auto row = services.findRow(key);
        ASSERT_TRUE(row.has_value()) << key;
        services.select(*row);
    }

    std::vector<std::string> backupLines() const {
        const std::string path = log.alarmBackupFileName();
        return test::FileExists(path) ? Lines(test::ReadFile(path)) : std::vector<std::string>{};
    }
    std::vector<std::string> logLines(const std::string& tag) const {
        std::vector<std::string> out;
        for (const std::string& line : Lines(test::ReadFile(logFile("2026-12-08")))) {
            const std::string head = std::string(kStamp) + " " + tag + " ";
            if (line.rfind(head, 0) == 0) {
                out.push_back(line.substr(head.size()));
            }
        }
        return out;
    }
    std::vector<std::string> alarmMethods() const {
        std::vector<std::string> out;
        for (const alarm::AlarmRow& row : alarms.rows()) {
            out.push_back(row.method);
        }
        return out;
    }

    void enableSyslog() {
        settings.syslogEnable = true;
        settings.syslogIp = "127.0.0.1";
        settings.syslogPort = udp.port();
        settings.syslogFacility = 16;
        settings.syslogSeverity = 4;
    }

    // Occupies a pool thread until the gate opens.
    void block() {
        pool->QueueWorkItem(std::make_unique<BlockingItem>(gate), [](pool::WorkItem&) {});
    }

    test::ClosedPort closed;
    test::UdpReceiver udp;
    Gate gate;
    std::vector<ProductResult> results;
};

// ---- The tick ----

TEST_F(EngineTest, MinutelyPeriodsDivideTheMinute) {
    std::map<std::string, std::string> keys;
    for (const std::string period : {"5", "10", "15", "20", "30"}) {
        keys[period] = addRefused("/every" + period, "Minutely", "00", period);
    }
    services.Fill(store, "ALL");
    EXPECT_EQ(tickAt(14, 0),
              (std::set<std::string>{keys["5"], keys["10"], keys["15"], keys["20"], keys["30"]}));
    EXPECT_EQ(tickAt(14, 25), (std::set<std::string>{keys["5"]}));
    EXPECT_EQ(tickAt(14, 30),
              (std::set<std::string>{keys["5"], keys["10"], keys["15"], keys["30"]}));
    EXPECT_EQ(tickAt(14, 7), (std::set<std::string>{}));
}

TEST_F(EngineTest, DailyAndHourlyMatchHourAndMinuteAsTwoDigitText) {
    const std::string daily = addRefused("/daily", "Daily", "14", "05");
    const std::string dailyOneDigit = addRefused("/daily-one-digit", "Daily", "14", "5");
    const std::string hourly = addRefused("/hourly", "Hourly", "09", "00");
    services.Fill(store, "ALL");
    EXPECT_EQ(tickAt(14, 0), (std::set<std::string>{hourly}));
    EXPECT_EQ(tickAt(14, 5), (std::set<std::string>{daily}));
    EXPECT_EQ(tickAt(15, 0), (std::set<std::string>{hourly})) << "Hourly ignores its hour";
    EXPECT_EQ(tickAt(15, 5), (std::set<std::string>{}));
    EXPECT_EQ(tickAt(3, 0), (std::set<std::string>{hourly}));
    EXPECT_EQ(tickAt(14, 30), (std::set<std::string>{}));
    for (int minute = 0; minute < 60; ++minute) {
        EXPECT_EQ(tickAt(14, minute).count(dailyOneDigit), 0u) << "\"5\" never matches \"05\"";
    }
}

TEST_F(EngineTest, PeriodZeroAndStoppedRecordsAreNeverDue) {
    const std::string zero = addRefused("/zero", "Minutely", "00", "0");
    const std::string stopped = addRefused("/stopped", "Minutely", "00", "5");
    const std::string due = addRefused("/due", "Minutely", "00", "5");
    ASSERT_TRUE(store.SetServiceRunState(stopped, "Stop"));
    services.Fill(store, "ALL");
    for (int minute : {0, 5, 30}) {
        std::set<std::string> ran;
        EXPECT_NO_THROW(ran = tickAt(14, minute));
        EXPECT_EQ(ran, (std::set<std::string>{due}));
    }
    EXPECT_EQ(rowStatus(zero), "Unknown");
    EXPECT_EQ(rowStatus(stopped), "Unknown");
}

TEST_F(EngineTest, AnUnreadablePeriodEndsTheTickAtItsRecord) {
    const std::string before = addRefused("/before");
    const std::string broken = addRefused("/broken", "Minutely", "00", "x");
    const std::string after = addRefused("/after");
    services.Fill(store, "ALL");
    clock.setLocal(2026, 12, 8, 14, 0, 0);
    EXPECT_THROW(engine->TimerServiceTimer(), RecordError);
    EXPECT_EQ(rowStatus(before), "Process");
    EXPECT_EQ(rowStatus(after), "Unknown");
    EXPECT_EQ(engine->outstanding(), 1);
    ASSERT_TRUE(drain());
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].result.serviceKey, before);
    EXPECT_EQ(storedStatus(after), "Unknown");
    (void)broken;
}

// The tick reads only the records of its minute; what it reads them from
// follows every change to the list but the results.
TEST_F(EngineTest, TheTickFollowsEditsStartsStopsDeletesInsertsAndAFileTakenIn) {
    const std::string a = addRefused("/a");
    const std::string b = addRefused("/b", "Hourly", "00", "30");
    services.Fill(store, "ALL");
    EXPECT_EQ(tickAt(14, 0), (std::set<std::string>{a}));
    ASSERT_TRUE(store.SetServiceRunState(a, "Stop"));
    EXPECT_EQ(tickAt(14, 5), (std::set<std::string>{}));
    ASSERT_TRUE(store.SetServiceRunState(a, "Start"));
    EXPECT_EQ(tickAt(14, 10), (std::set<std::string>{a}));
    const auto record = store.findRecord(b);
    ASSERT_TRUE(record);
    ServiceFields moved = record->fields();
    moved.scheduleBy = "Minutely";
    moved.scheduleMinute = "15";
    ASSERT_TRUE(store.UpdateURLService(b, moved, moved.request));
    EXPECT_EQ(tickAt(14, 15), (std::set<std::string>{a, b}));
    EXPECT_EQ(tickAt(14, 30), (std::set<std::string>{a, b})) << "no longer at :30 hourly only";
    ASSERT_TRUE(*store.DeleteService(a));
    EXPECT_EQ(tickAt(14, 45), (std::set<std::string>{b}));
    const std::string c = addRefused("/c", "Minutely", "00", "1");
    EXPECT_EQ(tickAt(14, 46), (std::set<std::string>{c}));
    // Someone else's version of the file, taken in on a signal.
    test::ServiceEntry d;
    d.ip = "http://127.0.0.1:" + std::to_string(closed.port()) + "/d";
    d.port = std::to_string(closed.port());
    d.scheduleBy = "Daily";
    d.scheduleHour = "14";
    d.scheduleMinute = "47";
    test::WriteFile(paths.serviceFilePath(), test::ServiceListXml({d}));
    ASSERT_TRUE(store.reloadNow());
    services.Fill(store, "ALL");
    EXPECT_EQ(tickAt(14, 47), (std::set<std::string>{d.key()}));
    // Results alone change nothing of it.
    EXPECT_EQ(tickAt(14, 47), (std::set<std::string>{d.key()}));
}

// Whatever texts a schedule holds, the minutes the tick finds a record due
// in are those the rule says, over a whole day.
TEST_F(EngineTest, TheTickFindsDueWhatTheRuleSaysAtEveryMinuteOfTheDay) {
    const std::vector<std::array<const char*, 3>> schedules = {
        {"Minutely", "00", "5"},  {"Minutely", "00", "05"}, {"Minutely", "00", "-15"},
        {"Minutely", "00", "0"},  {"Minutely", "00", "60"}, {"Minutely", "00", "1"},
        {"Minutely", "00", "7"},  {"Daily", "14", "05"},    {"Daily", "14", "5"},
        {"Daily", "24", "00"},    {"Daily", "7", "30"},     {"Daily", "23", "59"},
        {"Daily", "00", "00"},    {"Hourly", "99", "30"},   {"Hourly", "00", "5"},
        {"Hourly", "00", "60"},   {"Hourly", "00", "00"},   {"Weekly", "00", "00"},
        {"Minutely", "00", "30"}, {"Daily", "14", "05"}};
    int n = 0;
    for (const auto& [by, hour, minute] : schedules) {
        addRefused("/s" + std::to_string(n++), by, hour, minute);
    }
    ASSERT_TRUE(store.SetServiceRunState(addRefused("/stopped", "Minutely", "00", "1"), "Stop"));
    ScheduleIndex index;
    std::vector<std::string> dueAtTwo;
    char hh[3];
    char mm[3];
    for (int hour = 0; hour < 24; ++hour) {
        for (int minute = 0; minute < 60; ++minute) {
            std::snprintf(hh, sizeof hh, "%02d", hour);
            std::snprintf(mm, sizeof mm, "%02d", minute);
            std::vector<std::string> expected;
            store.forEachRecord([&](const registry::ServiceRecord& r) {
                if (r.text(registry::Element::Status) == "Start" && IsDue(r, hh, mm)) {
                    expected.emplace_back(r.key());
                }
            });
            const ScheduleIndex::Due due = index.due(store, hour, minute);
            std::vector<std::string> found;
            for (const registry::ServiceRecord& r : due.records) {
                found.emplace_back(r.key());
            }
            ASSERT_EQ(found, expected) << hh << ":" << mm;
            EXPECT_FALSE(due.unreadable);
            if (hour == 14 && minute == 0) {
                dueAtTwo = found;
            }
        }
    }
    EXPECT_EQ(index.walked(), schedules.size() + 1) << "walked once for the whole day";
    // A record the rule cannot read ends the list there, with its error.
    addRefused("/broken", "Minutely", "00", "x");
    addRefused("/after", "Minutely", "00", "1");
    const ScheduleIndex::Due due = index.due(store, 14, 0);
    ASSERT_TRUE(due.unreadable);
    EXPECT_EQ(*due.unreadable, "'x' is not a valid integer value");
    std::vector<std::string> found;
    for (const registry::ServiceRecord& r : due.records) {
        found.emplace_back(r.key());
    }
    EXPECT_EQ(found, dueAtTwo) << "those before it, and none after it";
}

// A hand-edited record whose port is not a number: reported once, and
// again only when the record changes; the records after it are checked in
// their minute all the same.
TEST_F(EngineTest, ARecordThatCannotBeDispatchedIsReportedOncePerChangeAndTheTickGoesOn) {
    const std::string before = addRefused("/before");
    ServiceFields bad = Fields("Ping", "127.0.0.1", "abc", "Minutely", "00", "5");
    const std::string broken = add(bad);
    const std::string after = addRefused("/after");
    services.Fill(store, "ALL");
    const std::string report =
        std::string(app::msg::kUnexpectedError) + " : 'abc' is not a valid integer value";

    EXPECT_EQ(tickAt(14, 0), (std::set<std::string>{before, after}));
    EXPECT_EQ(reporter.boxes(), std::vector<std::string>{"Error: " + report});
    EXPECT_EQ(logLines("[ERROR]"), std::vector<std::string>{report});
    EXPECT_EQ(rowStatus(broken), "Unknown") << "nothing runs for it";

    EXPECT_EQ(tickAt(14, 5), (std::set<std::string>{before, after}));
    EXPECT_EQ(reporter.boxes().size(), 1u) << "not every minute";

    bad.username = "edited";
    ASSERT_TRUE(store.UpdateService(broken, bad));
    EXPECT_EQ(tickAt(14, 10), (std::set<std::string>{before, after}));
    EXPECT_EQ(reporter.boxes().size(), 2u) << "a change is reported again";

    // "Run Now" on it: the caller reports the error each time, and the row
    // never claims a check that is not running.
    for (int i = 0; i < 2; ++i) {
        selectRow(broken);
        EXPECT_THROW(engine->MenuServiceRunNowClick(), RecordError);
        EXPECT_EQ(rowStatus(broken), "Unknown");
    }
    EXPECT_EQ(reporter.boxes().size(), 2u) << "no \"still under processing\"";
}

TEST(ParseRecordInteger, AValueQuotedInItsErrorIsOneBoundedLine) {
    try {
        ParseRecordInteger("1\r\nforged\x1b[2J" + std::string(20'000'000, '9'));
        FAIL() << "no error";
    } catch (const RecordError& e) {
        const std::string what = e.what();
        EXPECT_LE(what.size(), 1100u);
        EXPECT_EQ(what.rfind("'1  forged [2J999", 0), 0u) << what.substr(0, 40);
        EXPECT_TRUE(what.ends_with("99...' is not a valid integer value"));
    }
}

// The editors take "0000000000080" for a whole number; so does the dispatch.
TEST(ParseRecordInteger, LeadingZerosCountForNothing) {
    EXPECT_EQ(ParseRecordInteger("0000000000080"), 80);
    EXPECT_EQ(ParseRecordInteger("-00000000000007"), -7);
    EXPECT_EQ(ParseRecordInteger("0"), 0);
    EXPECT_THROW(ParseRecordInteger("00000000002147483648"), RecordError);
}

TEST_F(EngineTest, ADueRowIsSelectedAndShowsProcessWhileItsCheckRuns) {
    const std::string first = addRefused("/a");
    const std::string notDue = addRefused("/b", "Minutely", "00", "7");
    const std::string second = addRefused("/c");
    services.Fill(store, "ALL");
    clock.setLocal(2026, 12, 8, 14, 10, 0);
    engine->TimerServiceTimer();
    EXPECT_EQ(rowStatus(first), "Process");
    EXPECT_EQ(rowStatus(second), "Process");
    EXPECT_EQ(rowStatus(notDue), "Unknown");
    EXPECT_EQ(services.selected(), services.findRow(second)) << "the last due row";
    ASSERT_TRUE(drain());
    EXPECT_EQ(rowStatus(first), "Failed");
    EXPECT_EQ(rowStatus(second), "Failed");
}

TEST_F(EngineTest, ADueRecordWhoseRowIsFilteredOutIsStillChecked) {
    const std::string key = addRefused("/hidden");
    services.Fill(store, "FTP");
    ASSERT_TRUE(services.rows().empty());
    EXPECT_EQ(tickAt(14, 0), (std::set<std::string>{key}));
    EXPECT_EQ(storedStatus(key), "Failed");
    EXPECT_FALSE(services.selected().has_value());
}

TEST_F(EngineTest, ADueDatabaseRecordShowsProcessButHasNoCheck) {
    const std::string key = add(Fields("Database", "10.0.0.4", "1521", "Minutely", "00", "5"));
    services.Fill(store, "ALL");
    clock.setLocal(2026, 12, 8, 14, 0, 0);
    engine->TimerServiceTimer();
    EXPECT_EQ(rowStatus(key), "Process");
    EXPECT_EQ(engine->outstanding(), 0);
    loop.runUntil([] { return false; }, 100ms);
    EXPECT_TRUE(results.empty());
}

// ---- Per-service commands ----

TEST_F(EngineTest, RunNowChecksTheSelectedServiceWhateverItsStateAndSchedule) {
    const std::string key = addRefused("/now", "Daily", "03", "07");
    ASSERT_TRUE(store.SetServiceRunState(key, "Stop"));
    services.Fill(store, "ALL");
    selectRow(key);
    engine->MenuServiceRunNowClick();
    EXPECT_EQ(rowStatus(key), "Process");
    EXPECT_EQ(engine->outstanding(), 1);
    ASSERT_TRUE(drain());
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].result.serviceKey, key);
    EXPECT_EQ(rowStatus(key), "Failed");
    EXPECT_TRUE(reporter.boxes().empty());

    // A finished service may be run again at once.
    engine->MenuServiceRunNowClick();
    EXPECT_EQ(engine->outstanding(), 1);
    ASSERT_TRUE(drain());
}

// The record's "tls" element decides how the check reaches the server;
// records without it speak in the clear as before.
TEST_F(EngineTest, TheRecordsTlsElementReachesItsCheck) {
    test::FakeServer tlsPeer(test::HostileTls(test::TlsFault::Garbage));
    test::FakeServer plainPeer(test::Script("* OK ready\r\n", {"C1 OK\r\n"}));
    ServiceFields implicit =
        Fields("IMAP", "127.0.0.1", std::to_string(tlsPeer.port()), "Daily", "03", "07");
    implicit.tls = "implicit";
    ServiceFields plain =
        Fields("IMAP", "127.0.0.1", std::to_string(plainPeer.port()), "Daily", "03", "07");
    ServiceFields unknown = plain;
    unknown.port = "1";
    unknown.tls = "ssl";
    for (const ServiceFields& f : {implicit, plain, unknown}) {
        const std::string key = add(f);
        services.Fill(store, "ALL");
        selectRow(key);
        engine->MenuServiceRunNowClick();
        ASSERT_TRUE(drain());
    }
    ASSERT_EQ(results.size(), 3u);
    EXPECT_NE(results[0].result.detail.find("Failed:TLS handshake failed"), std::string::npos)
        << results[0].result.detail;
    EXPECT_EQ(tlsPeer.received(), std::vector<std::string>{"<ClientHello>"});
    EXPECT_EQ(results[1].result.statusWord, "Passed") << results[1].result.detail;
    EXPECT_NE(results[2].result.detail.find("Failed:Unknown security 'ssl'"), std::string::npos)
        << results[2].result.detail;
}

TEST_F(EngineTest, RunNowIsRefusedWhileTheServiceIsUnderProcessingOrRetrying) {
    const std::string key = addRefused("/busy");
    services.Fill(store, "ALL");
    for (const std::string state : {"Process", "Retry"}) {
        selectRow(key);
        services.setCurrentStatus(*services.findRow(key), state);
        engine->MenuServiceRunNowClick();
        EXPECT_EQ(engine->outstanding(), 0) << state;
        EXPECT_EQ(rowStatus(key), state);
    }
    EXPECT_EQ(reporter.boxes(),
              (std::vector<std::string>{
                  "Information: This service is still under processing or retrying.",
                  "Information: This service is still under processing or retrying."}));

    services.Fill(store, "ALL");  // nothing selected
    engine->MenuServiceRunNowClick();
    EXPECT_EQ(engine->outstanding(), 0);
    EXPECT_EQ(reporter.boxes().size(), 2u);
}

TEST_F(EngineTest, StartAndStopStoreTheRunStateAndShowIt) {
    const std::string other = addRefused("/other");
    const std::string key = addRefused("/switch");
    services.Fill(store, "ALL");
    selectRow(key);
    engine->MenuServiceStopClick();
    EXPECT_EQ(store.findRecord(key)->text("status"), "Stop");
    EXPECT_EQ(services.rows()[*services.findRow(key)].status, "Stop");
    EXPECT_EQ(store.findRecord(other)->text("status"), "Start");
    EXPECT_EQ(tickAt(14, 0), (std::set<std::string>{other}));

    selectRow(key);
    engine->MenuServiceStartClick();
    EXPECT_EQ(store.findRecord(key)->text("status"), "Start");
    EXPECT_EQ(services.rows()[*services.findRow(key)].status, "Start");
    EXPECT_EQ(tickAt(14, 5), (std::set<std::string>{other, key}));

    // The change is in the file, not only in memory.
    registry::ServiceStore reread(paths.serviceFilePath());
    ASSERT_TRUE(reread.OpenServiceFile(true).ok());
    EXPECT_EQ(reread.findRecord(key)->text("status"), "Start");
}

TEST_F(EngineTest, SchedulingStateIsLoggedAndAnnounced) {
    std::vector<std::pair<bool, std::string>> announced;
    engine->onSchedulingChanged = [&](bool running, std::string_view text) {
        announced.emplace_back(running, std::string(text));
    };
    EXPECT_FALSE(engine->schedulingRunning());
    engine->SetSchedulingState(true);
    EXPECT_TRUE(engine->schedulingRunning());
    engine->SetSchedulingState(false);
    EXPECT_FALSE(engine->schedulingRunning());
    EXPECT_EQ(announced,
              (std::vector<std::pair<bool, std::string>>{{true, "Service scheduling starts."},
                                                         {false, "Service scheduling stops."}}));
    EXPECT_EQ(logLines("[INFO]"), (std::vector<std::string>{"Service scheduling starts.",
                                                            "Service scheduling stops."}));
}

// ---- Finished checks ----

TEST_F(EngineTest, APassedCheckIsShownAndStoredWithoutAlarm) {
    FakeHttpServer web(FakeHttpServer::Always(HttpResponse("HTTP/1.1 200 OK")));
    settings.backupEnable = true;
    enableSyslog();
    const std::string key = add(urlOn(web));
    services.Fill(store, "ALL");
    engine->DispatchServiceByKey(key);
    ASSERT_TRUE(drain());
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].result.statusWord, "Passed");
    EXPECT_FALSE(results[0].retried);
    EXPECT_EQ(rowStatus(key), "Passed");
    EXPECT_EQ(storedStatus(key), "Passed");
    EXPECT_TRUE(alarms.rows().empty());
    EXPECT_TRUE(backupLines().empty());
    EXPECT_FALSE(udp.receive(100ms).has_value());
}

TEST_F(EngineTest, AFailedCheckWithoutRetryIsBackedUpAlarmedShownAndStored) {
    FakeHttpServer web(FakeHttpServer::Always(HttpResponse(kServerError)));
    settings.backupEnable = true;
    enableSyslog();
    const std::string key = add(urlOn(web, "/down"));
    services.Fill(store, "ALL");
    engine->DispatchServiceByKey(key);
    ASSERT_TRUE(drain());

    ASSERT_EQ(results.size(), 1u);
    const std::string url = web.url("/down");
    const std::string port = std::to_string(web.port());
    const std::string detail = "[" + url + ":" + port + "] " + kServerError + ":" + kServerError;
    EXPECT_EQ(results[0].result.detail, detail);
    EXPECT_EQ(rowStatus(key), "Failed");
    EXPECT_EQ(storedStatus(key), "Failed");
    EXPECT_EQ(backupLines(), (std::vector<std::string>{std::string(kStamp) + " [URL] [" + url +
                                                       "] [" + port + "] " + detail}));
    ASSERT_EQ(alarmMethods(), (std::vector<std::string>{"SysLog"}));
    EXPECT_EQ(alarms.rows()[0].message, detail);
    EXPECT_EQ(alarms.rows()[0].status, "Sent");
    EXPECT_EQ(web.requests().size(), 1u) << "no retry";

    // Without the backup switched on nothing is written, but the alarm goes.
    settings.backupEnable = false;
    engine->DispatchServiceByKey(key);
    ASSERT_TRUE(drain());
    EXPECT_EQ(backupLines().size(), 1u);
    EXPECT_EQ(alarms.rows().size(), 2u);
}

TEST_F(EngineTest, TheAlarmPolicyDecidesWhatAVerdictSendsAndTheRowSaysWhichNoticeItIs) {
    // Requests 0 to 2 fail, then the server is back.
    FakeHttpServer web([](const test::SeenHttpRequest&, int index) {
        return test::HttpReply(HttpResponse(index < 3 ? kServerError : "HTTP/1.1 200 OK"));
    });
    settings.backupEnable = true;
    settings.alarmOn = "OnChange";
    settings.alarmFailAfter = 2;
    settings.alarmRecovery = true;
    enableSyslog();
    const std::string key = add(urlOn(web, "/down"));
    services.Fill(store, "ALL");
    const std::string url = web.url("/down");
    const std::string port = std::to_string(web.port());
    const std::string detail = "[" + url + ":" + port + "] " + kServerError + ":" + kServerError;

    // The state comes back from the history first: one failure before the
    // restart. The verdict that comes meanwhile waits for it.
    engine->holdAlarmsUntilRebuilt();
    engine->DispatchServiceByKey(key);
    ASSERT_TRUE(loop.runUntil([&] { return results.size() == 1; }, 5s));
    EXPECT_TRUE(alarms.rows().empty());
    history::Verdict before;
    before.key = key;
    before.failed = true;
    before.detail = detail;
    before.time = app::EpochSeconds(clock.now()) - 300;
    engine->policyRebuilt({before});
    ASSERT_TRUE(drain());
    ASSERT_EQ(alarms.rows().size(), 1u) << "the second failure in a row alarms";
    EXPECT_EQ(alarms.rows()[0].message, detail);
    EXPECT_EQ(alarms.cellText(0, alarm::AlarmListModel::Column::Type), "Failure");

    // Still down: nothing (no reminders). Back: one recovery notice that
    // counts from the failure before the restart, sent,
    // backed up and in the list with its type.
    for (int i = 0; i < 3; ++i) {
        engine->DispatchServiceByKey(key);
        ASSERT_TRUE(drain());
    }
    ASSERT_EQ(alarms.rows().size(), 2u);
    const std::string recovered = "RECOVERED after 5 min: " + detail;
    EXPECT_EQ(alarms.rows()[0].message, recovered);
    EXPECT_EQ(alarms.rows()[0].type, "Recovery");
    EXPECT_EQ(alarms.rows()[0].status, "Sent");
    EXPECT_EQ(backupLines().back(),
              std::string(kStamp) + " [URL] [" + url + "] [" + port + "] " + recovered);
    ASSERT_TRUE(udp.receive());
    const auto second = udp.receive();
    ASSERT_TRUE(second);
    EXPECT_NE(second->find("RECOVERED after 5 min: "), std::string::npos) << *second;
}

TEST_F(EngineTest, InAMaintenanceWindowAFailureIsKeptFlaggedButNeitherAlarmedNorCounted) {
    FakeHttpServer web(FakeHttpServer::Always(HttpResponse(kServerError)));
    enableSyslog();
    settings.backupEnable = true;
    const std::string key = add(urlOn(web, "/down"));
    services.Fill(store, "ALL");
    history::HistoryStore kept(paths.historyDirPath(), {}, log, clock);
    engine->setHistory(&kept);
    // The fixture's clock says 14:00.
    settings.alarmMaintenance = "daily 13:30 90";
    engine->DispatchServiceByKey(key);
    ASSERT_TRUE(drain());
    EXPECT_EQ(rowStatus(key), "Failed");
    EXPECT_TRUE(alarms.rows().empty());
    EXPECT_TRUE(backupLines().empty());
    EXPECT_EQ(services.rows()[*services.findRow(key)].alarmState, "Maintenance until 15:00");

    settings.alarmMaintenance = "daily 15:00 60";
    engine->DispatchServiceByKey(key);
    ASSERT_TRUE(drain());
    EXPECT_EQ(alarms.rows().size(), 1u) << "outside the window it alarms";
    EXPECT_EQ(services.rows()[*services.findRow(key)].alarmState.rfind("Alarmed since", 0), 0u);

    kept.waitWritten();
    auto db =
        history::HistoryDb::openReader(history::HistoryStore::databaseIn(paths.historyDirPath()));
    std::ostringstream csv;
    const std::int64_t now = app::EpochSeconds(clock.now());
    ASSERT_EQ(db->exportRaw(now - 60, now + 60, csv), 2);
    EXPECT_NE(csv.str().find("maintenance"), std::string::npos) << csv.str();
    const history::Counts counted = db->counts(key, now - 3600, now + 60);
    EXPECT_EQ(counted.checks, 1) << "the verdict in the window is not part of uptime";
    EXPECT_EQ(counted.failed, 1);
}

TEST_F(EngineTest, WhileTheParentIsDownItsChildrenAreUnreachableAndRaiseNoAlarm) {
    // The parent answers slowly, so that the children's failures come back
    // first and wait for its verdict: down once, then up.
    FakeHttpServer host([](const test::SeenHttpRequest&, int index) {
        return test::HttpReply(HttpResponse(index == 0 ? kServerError : "HTTP/1.1 200 OK"), 300ms);
    });
    enableSyslog();
    ServiceFields parentFields = urlOn(host, "/host");
    const std::string parent = add(parentFields);
    std::vector<std::string> children;
    for (int i = 0; i < 4; ++i) {
        ServiceFields child = Fields(
            "URL", "http://127.0.0.1:" + std::to_string(closed.port()) + "/app" + std::to_string(i),
            std::to_string(closed.port()), "Daily", "03", "07");
        child.alarmSyslog = "y";
        child.parent = parent;
        children.push_back(add(child));
    }
    EXPECT_EQ(store.findRecord(children[0])->text(registry::Element::Parent), parent);
    services.Fill(store, "ALL");
    auto round = [&] {
        engine->DispatchServiceByKey(parent);
        for (const std::string& key : children) {
            engine->DispatchServiceByKey(key);
        }
        ASSERT_TRUE(drain());
    };
    round();
    ASSERT_EQ(alarms.rows().size(), 1u) << "the parent's alarm only";
    EXPECT_NE(alarms.rows()[0].message.find("/host"), std::string::npos);
    for (const std::string& key : children) {
        EXPECT_EQ(rowStatus(key), "Failed");
        EXPECT_EQ(services.rows()[*services.findRow(key)].alarmState, "Unreachable (parent down)");
    }
    // The parent is back: the children's own failures alarm again.
    round();
    EXPECT_EQ(alarms.rows().size(), 5u);
    EXPECT_EQ(services.rows()[*services.findRow(children[0])].alarmState.rfind("Alarmed", 0), 0u);
}

TEST_F(EngineTest, ASlowAnswerIsMarkedSlowAndATooSlowOneFailsWithItsTime) {
    FakeHttpServer web(FakeHttpServer::Delayed(HttpResponse("HTTP/1.1 200 OK"), 800ms));
    enableSyslog();
    const std::string key = add(urlOn(web, "/slow"));
    services.Fill(store, "ALL");
    const auto row = [&] { return services.rows()[*services.findRow(key)]; };

    settings.httpSlowAfterMs = 500;
    engine->DispatchServiceByKey(key);
    ASSERT_TRUE(drain());
    EXPECT_EQ(rowStatus(key), "Passed");
    EXPECT_EQ(row().alarmState, "Slow");
    EXPECT_TRUE(alarms.rows().empty());
    EXPECT_EQ(health.slowCount(), 1u) << "the tray counts it slow";
    EXPECT_EQ(health.passedCount(), 0u);

    settings.httpFailAfterMs = 700;
    engine->DispatchServiceByKey(key);
    ASSERT_TRUE(drain());
    EXPECT_EQ(rowStatus(key), "Failed");
    EXPECT_EQ(storedStatus(key), "Failed");
    ASSERT_EQ(alarms.rows().size(), 1u);
    const std::string& text = alarms.rows()[0].message;
    const std::string head =
        "[" + web.url("/slow") + ":" + std::to_string(web.port()) + "] Response time ";
    ASSERT_EQ(text.rfind(head, 0), 0u) << text;
    const int ms = std::stoi(text.substr(head.size()));
    EXPECT_GE(ms, 800);
    EXPECT_LT(ms, 1500);
    EXPECT_EQ(text.substr(head.size() + std::to_string(ms).size()), " ms over 700 ms");
    EXPECT_EQ(row().alarmState.rfind("Alarmed since 14:00 \u00d71", 0), 0u) << row().alarmState;
    EXPECT_EQ(web.requests().size(), 2u) << "a slow failure is not tried again";
    EXPECT_EQ(health.slowCount(), 0u);
    EXPECT_EQ(health.failingCount(), 1u);

    // A service of its own limit, above the one for its kind: slow only.
    ServiceFields patient = urlOn(web, "/patient");
    patient.failAfterMs = "5000";
    const std::string patientKey = add(patient);
    services.Fill(store, "ALL");
    engine->DispatchServiceByKey(patientKey);
    ASSERT_TRUE(drain());
    EXPECT_EQ(rowStatus(patientKey), "Passed");
    EXPECT_EQ(services.rows()[*services.findRow(patientKey)].alarmState, "Slow");
    EXPECT_EQ(alarms.rows().size(), 1u);
}

TEST(OwnPolicy, AValueTheEditorsRefuseIsNamedWithItsElement) {
    using registry::Element;
    struct Case {
        std::string ServiceFields::*field;
        const char* value;
        Element element;
        const char* text;
    };
    const Case cases[] = {
        {&ServiceFields::alarmOn, "Sometimes", Element::AlarmOn,
         "Alarm on must be EveryFailure or OnChange."},
        {&ServiceFields::failAfter, "0", Element::FailAfter,
         "Failed checks before the alarm must be a whole number of 1 or more."},
        {&ServiceFields::recovery, "yes", Element::Recovery, "Recovery must be y or n."},
        {&ServiceFields::recoverAfter, "2x", Element::RecoverAfter,
         "Passed checks that end an outage must be a whole number of 1 or more."},
        {&ServiceFields::remindEvery, "4", Element::RemindEvery,
         "Remind every must be 0 or at least 5 minutes."},
        {&ServiceFields::flapDetect, "1", Element::FlapDetect, "Flap detection must be y or n."},
        {&ServiceFields::slowAfterMs, "-1", Element::SlowAfterMs,
         "Slow after must be a whole number of ms, 0 or more."},
        {&ServiceFields::failAfterMs, "1.5", Element::FailAfterMs,
         "Fail after must be a whole number of ms, 0 or more."},
        {&ServiceFields::maintenance, "nightly", Element::Maintenance,
         "Maintenance window \"nightly\" is not understood."},
    };
    for (const Case& c : cases) {
        ServiceFields f;
        f.*c.field = c.value;
        const auto problem = CheckOwnPolicy(f);
        ASSERT_TRUE(problem) << c.value;
        EXPECT_EQ(problem->element, c.element) << c.value;
        EXPECT_EQ(problem->text, c.text);
    }
    ServiceFields fine;
    fine.alarmOn = "OnChange";
    fine.failAfter = " 3 ";
    fine.recovery = "y";
    fine.remindEvery = "0";
    fine.slowAfterMs = "0";
    fine.maintenance = "daily 02:00 60";
    EXPECT_FALSE(CheckOwnPolicy(fine));
    EXPECT_FALSE(CheckOwnPolicy(ServiceFields{})) << "all empty: the policy for all";
}

TEST_F(EngineTest, AServicesOwnPolicyWinsOverTheOneForAllWhichTheOthersKeep) {
    FakeHttpServer web(FakeHttpServer::Always(HttpResponse(kServerError)));
    enableSyslog();
    ServiceFields once = urlOn(web, "/once");
    once.alarmOn = "OnChange";
    once.failAfter = "2";
    const std::string onceKey = add(once);
    const std::string plainKey = add(urlOn(web, "/plain"));
    ServiceFields resting = urlOn(web, "/resting");
    // The fixture's clock says 14:00.
    resting.maintenance = "daily 13:30 90";
    const std::string restingKey = add(resting);
    ServiceFields strict = urlOn(web, "/strict");
    strict.alarmOn = "sometimes";  // not a value: the policy for all holds
    const std::string strictKey = add(strict);
    services.Fill(store, "ALL");
    EXPECT_EQ(store.findRecord(onceKey)->text(registry::Element::FailAfter), "2");
    EXPECT_FALSE(store.findRecord(plainKey)->find(registry::Element::FailAfter))
        << "nothing of its own, nothing written";
    const auto alarmsOf = [&](const std::string& path) {
        return std::count_if(alarms.rows().begin(), alarms.rows().end(), [&](const auto& row) {
            return row.message.find(web.url(path)) != std::string::npos;
        });
    };
    for (int round = 0; round < 3; ++round) {
        for (const std::string& key : {onceKey, plainKey, restingKey, strictKey}) {
            engine->DispatchServiceByKey(key);
        }
        ASSERT_TRUE(drain());
    }
    EXPECT_EQ(alarmsOf("/once"), 1) << "from the second failure, once per outage";
    EXPECT_EQ(alarmsOf("/plain"), 3);
    EXPECT_EQ(alarmsOf("/strict"), 3);
    EXPECT_EQ(alarmsOf("/resting"), 0);
    EXPECT_EQ(services.rows()[*services.findRow(restingKey)].alarmState, "Maintenance until 15:00");
}

TEST_F(EngineTest, AFirstFailureIsRetriedOnceAndOnlyTheRepeatsFailureAlarms) {
    FakeHttpServer web(FakeHttpServer::Always(HttpResponse(kServerError)));
    settings.backupEnable = true;
    settings.httpRetry = 1;
    enableSyslog();
    const std::string key = add(urlOn(web));
    services.Fill(store, "ALL");
    history::HistoryStore kept(paths.historyDirPath(), {}, log, clock);
    engine->setHistory(&kept);
    engine->DispatchServiceByKey(key);

    ASSERT_TRUE(waitForResults(1));
    EXPECT_TRUE(results[0].retried);
    EXPECT_EQ(results[0].result.retryFlag, 1);
    EXPECT_EQ(rowStatus(key), "Retry");
    EXPECT_EQ(services.selected(), services.findRow(key));
    EXPECT_EQ(storedStatus(key), "Unknown");
    EXPECT_TRUE(alarms.rows().empty());
    EXPECT_TRUE(backupLines().empty());
    EXPECT_EQ(engine->outstanding(), 1) << "the repeat is queued at once";

    ASSERT_TRUE(drain());
    ASSERT_EQ(results.size(), 2u);
    EXPECT_FALSE(results[1].retried);
    EXPECT_EQ(results[1].result.retryFlag, 0);
    EXPECT_EQ(rowStatus(key), "Failed");
    EXPECT_EQ(storedStatus(key), "Failed");
    EXPECT_EQ(alarmMethods(), (std::vector<std::string>{"SysLog"}));
    EXPECT_EQ(backupLines().size(), 1u);
    EXPECT_EQ(web.requests().size(), 2u) << "at most one repeat per failure";

    // A repeat that passes is stored as passed, without alarm.
    results.clear();
    FakeHttpServer flaky([](const test::SeenHttpRequest&, int index) {
        return HttpResponse(index == 0 ? kServerError : "HTTP/1.1 200 OK");
    });
    const std::string flakyKey = add(urlOn(flaky, "/flaky"));
    services.Fill(store, "ALL");
    engine->DispatchServiceByKey(flakyKey);
    ASSERT_TRUE(drain());
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(storedStatus(flakyKey), "Passed");
    EXPECT_EQ(rowStatus(flakyKey), "Passed");
    EXPECT_EQ(alarms.rows().size(), 1u);

    // The history holds the final verdicts only, marked as repeats, each
    // with the time its own run took.
    kept.waitWritten();
    std::ostringstream csv;
    const auto t = std::chrono::duration_cast<std::chrono::seconds>(clock.now().time_since_epoch());
    history::HistoryDb::openReader(history::HistoryStore::databaseIn(paths.historyDirPath()))
        ->exportRaw(t.count() - 60, t.count() + 60, csv);
    std::vector<std::vector<std::string>> rows;
    for (const std::string& line : Lines(csv.str())) {
        std::vector<std::string> cells;
        std::stringstream in(line);
        for (std::string cell; std::getline(in, cell, ',');) {
            cells.push_back(cell);
        }
        rows.push_back(cells);
    }
    ASSERT_EQ(rows.size(), 2u) << csv.str();
    for (const auto& row : rows) {
        ASSERT_EQ(row.size(), 5u);
        EXPECT_EQ(row[4], "retried");
        EXPECT_FALSE(row[3].empty()) << "a response time";
        EXPECT_EQ(row[2], row[0] == key ? "Failed" : "Passed");
    }
}

TEST_F(EngineTest, AResultIsStoredAndARetryMadeEvenWhenTheRowIsNotShown) {
    FakeHttpServer web(FakeHttpServer::Always(HttpResponse(kServerError)));
    settings.httpRetry = 1;
    const std::string key = add(urlOn(web));
    const std::string shown = add(Fields("FTP", "127.0.0.1", "21", "Daily", "03", "07"));
    services.Fill(store, "FTP");
    selectRow(shown);
    engine->DispatchServiceByKey(key);
    ASSERT_TRUE(drain());
    ASSERT_EQ(results.size(), 2u);
    EXPECT_TRUE(results[0].retried);
    EXPECT_EQ(web.requests().size(), 2u);
    EXPECT_EQ(storedStatus(key), "Failed");
    ASSERT_EQ(services.rows().size(), 1u);
    EXPECT_EQ(services.rows()[0].currentStatus, "Unknown") << "the shown row is another service";
    EXPECT_EQ(services.selected(), std::optional<std::size_t>(0));
}

TEST_F(EngineTest, ACheckThePoolRefusesIsAFailureWithThePoolsReason) {
    settings.backupEnable = true;
    const std::string key = addRefused("/refused");
    services.Fill(store, "ALL");
    pool->setMaxPooled(1);
    pool->setMaxQueueLength(1);
    block();  // runs
    block();  // waits
    ASSERT_TRUE(Eventually([&] { return pool->ExecutingCount() == 1; }));

    selectRow(key);
    engine->MenuServiceRunNowClick();
    ASSERT_TRUE(waitForResults(1));
    const std::string url = "http://127.0.0.1:" + std::to_string(closed.port()) + "/refused";
    const std::string detail = "[" + url + ":" + std::to_string(closed.port()) +
                               "] Failed:Server is busy. Execution queue is too long.";
    EXPECT_EQ(results[0].result.statusWord, "Failed");
    EXPECT_EQ(results[0].result.detail, detail);
    EXPECT_FALSE(results[0].result.responseTime.has_value()) << "it never ran";
    EXPECT_EQ(rowStatus(key), "Failed");
    EXPECT_EQ(storedStatus(key), "Failed");
    EXPECT_EQ(backupLines(),
              (std::vector<std::string>{std::string(kStamp) + " [URL] [" + url + "] [" +
                                        std::to_string(closed.port()) + "] " + detail}));
    gate.open();
    ASSERT_TRUE(drain());
}

TEST_F(EngineTest, ABurstOfDueChecksWaitsForThreadsInsteadOfBeingRefusedAsBusy) {
    // Far more due services than the pool runs or lets wait: each must get
    // its real outcome, never "Server is busy".
    pool->setMaxPooled(4);
    pool->setMaxQueueLength(2);
    constexpr int kServices = 60;
    for (int i = 0; i < kServices; ++i) {
        addRefused("/burst" + std::to_string(i));
    }
    services.Fill(store, "ALL");
    clock.setLocal(2026, 12, 8, 14, 0, 0);
    engine->TimerServiceTimer();
    EXPECT_GT(engine->backlog(), 0u) << "the checks beyond the pool's threads wait in the engine";
    ASSERT_TRUE(waitForResults(kServices));
    ASSERT_TRUE(drain());
    EXPECT_EQ(engine->backlog(), 0u);
    for (const auto& r : results) {
        EXPECT_EQ(r.result.statusWord, "Failed");
        EXPECT_EQ(r.result.detail.find("Server is busy"), std::string::npos) << r.result.detail;
        EXPECT_NE(r.result.detail.find("Failed to connect"), std::string::npos) << r.result.detail;
    }
}

TEST_F(EngineTest, DueChecksBeyondThePoolWaitUnbuiltUntilAThreadFrees) {
    pool->setMaxPooled(1);
    block();
    ASSERT_TRUE(Eventually([&] { return pool->ExecutingCount() == 1; }));
    const std::string a = addRefused("/a");
    const std::string b = addRefused("/b");
    const std::string c = addRefused("/c");
    const std::string d = addRefused("/d");
    services.Fill(store, "ALL");
    clock.setLocal(2026, 12, 8, 14, 0, 0);
    engine->TimerServiceTimer();
    EXPECT_EQ(rowStatus(a), "Process");
    EXPECT_EQ(rowStatus(b), "Unknown") << "its check is built once a thread is free for it";
    EXPECT_EQ(engine->outstanding(), 4);
    EXPECT_EQ(services.selected(), services.findRow(d)) << "the last due row, as when all go";
    // "Run Now" on one that waits takes it out of the wait: checked once.
    services.select(*services.findRow(c));
    engine->MenuServiceRunNowClick();
    EXPECT_EQ(rowStatus(c), "Process");
    EXPECT_EQ(engine->outstanding(), 4);
    // One deleted while it waits is not checked.
    ASSERT_TRUE(*store.DeleteService(d));
    gate.open();
    ASSERT_TRUE(drain());
    std::multiset<std::string> checked;
    for (const auto& r : results) {
        checked.insert(r.result.serviceKey);
    }
    EXPECT_EQ(checked, (std::multiset<std::string>{a, b, c}));
    EXPECT_EQ(rowStatus(b), "Failed");
    EXPECT_EQ(engine->outstanding(), 0);
    EXPECT_EQ(tickAt(14, 5), (std::set<std::string>{a, b, c})) << "all due again once back";
}

TEST_F(EngineTest, ADueServiceWhoseCheckIsStillOutIsNotQueuedAgain) {
    const std::string key = addRefused("/slow");
    services.Fill(store, "ALL");
    pool->setMaxPooled(1);
    block();  // the check waits behind this until the gate opens
    ASSERT_TRUE(Eventually([&] { return pool->ExecutingCount() == 1; }));
    clock.setLocal(2026, 12, 8, 14, 0, 0);
    engine->TimerServiceTimer();
    clock.setLocal(2026, 12, 8, 14, 5, 0);
    engine->TimerServiceTimer();
    EXPECT_EQ(engine->outstanding(), 1) << "the second tick found the first check still out";
    gate.open();
    ASSERT_TRUE(drain());
    EXPECT_EQ(results.size(), 1u);
    EXPECT_EQ(tickAt(14, 10), std::set<std::string>{key}) << "once back, it is due again";
}

TEST_F(EngineTest, ACancelledCheckIsAFailureThatIsStoredAndAlarmed) {
    enableSyslog();
    ServiceFields f = Fields("URL", "http://127.0.0.1:" + std::to_string(closed.port()) + "/c",
                             std::to_string(closed.port()), "Daily", "03", "07");
    f.alarmSyslog = "y";
    const std::string key = add(f);
    services.Fill(store, "ALL");
    pool->setMaxPooled(1);
    block();
    ASSERT_TRUE(Eventually([&] { return pool->ExecutingCount() == 1; }));
    engine->DispatchServiceByKey(key);
    pool->CancelAllWorkItems();
    ASSERT_TRUE(waitForResults(1));
    const std::string head = "[http://127.0.0.1:" + std::to_string(closed.port()) +
                             "/c:" + std::to_string(closed.port()) +
                             "] Failed:Work item was canceled.";
    EXPECT_EQ(results[0].result.detail.rfind(head, 0), 0u) << results[0].result.detail;
    EXPECT_EQ(storedStatus(key), "Failed");
    EXPECT_EQ(rowStatus(key), "Failed");
    ASSERT_EQ(alarmMethods(), (std::vector<std::string>{"SysLog"}));
    EXPECT_EQ(alarms.rows()[0].message, results[0].result.detail);
    gate.open();
    ASSERT_TRUE(drain());
}

TEST_F(EngineTest, AWizardTestResultGoesOnlyToItsCallback) {
    FakeHttpServer web(FakeHttpServer::Always(HttpResponse(kServerError)));
    settings.backupEnable = true;
    enableSyslog();
    const std::string key = add(urlOn(web));
    services.Fill(store, "ALL");
    std::vector<CheckResult> setup;
    engine->onSetupResult = [&](const CheckResult& r) { setup.push_back(r); };
    history::HistoryStore kept(paths.historyDirPath(), {}, log, clock);
    engine->setHistory(&kept);

    CheckSettings s;
    s.originTag = kOriginSetup;
    s.serviceKey = "0";
    s.host = web.url("/health");
    s.port = web.port();
    s.timeoutMs = 3000;
    s.retrySetting = 1;
    s.alarms.syslog = true;
    UrlCheckRequest request;
    request.method = "Get";
    engine->QueueOnPool(std::make_unique<ThreadURLCheck>(s, request));
    ASSERT_TRUE(drain());
    ASSERT_EQ(setup.size(), 1u);
    EXPECT_EQ(setup[0].statusWord, "Failed");
    EXPECT_TRUE(results.empty());
    EXPECT_EQ(storedStatus(key), "Unknown");
    EXPECT_EQ(rowStatus(key), "Unknown");
    EXPECT_TRUE(alarms.rows().empty());
    EXPECT_TRUE(backupLines().empty());
    EXPECT_EQ(web.requests().size(), 1u) << "never retried";
    kept.waitWritten();
    std::ostringstream csv;
    EXPECT_EQ(
        history::HistoryDb::openReader(history::HistoryStore::databaseIn(paths.historyDirPath()))
            ->exportRaw(0, std::numeric_limits<std::int32_t>::max(), csv),
        0)
        << "a test is not history";
}

TEST_F(EngineTest, OnlyALowerCaseYAsksForAnAlarm) {
    FakeHttpServer web(FakeHttpServer::Always(HttpResponse(kServerError)));
    test::FakeSmtpServer smtp;
    enableSyslog();
    settings.smtpEnable = true;
    settings.smtpIp = "127.0.0.1";
    settings.smtpPort = smtp.port();
    settings.smtpEmailAddress = "ops@example.test";
    settings.smtpFromAddress = "vantor@example.test";
    for (const std::string answer : {"Y", "yes", "n", "", "y"}) {
        ServiceFields f = urlOn(web, "/answer-" + answer);
        f.alarmEmail = answer;
        f.alarmSyslog = answer;
        const std::string key = add(f);
        alarms.clear();
        engine->DispatchServiceByKey(key);
        ASSERT_TRUE(drain());
        EXPECT_EQ(storedStatus(key), "Failed");
        const std::vector<std::string> expected = answer == "y"
                                                      ? std::vector<std::string>{"SysLog", "Email"}
                                                      : std::vector<std::string>{};
        EXPECT_EQ(alarmMethods(), expected) << '"' << answer << '"';
    }
    EXPECT_EQ(smtp.messages().size(), 1u);
}

// ---- Everything together ----

class EndToEndTest : public EngineTest {
protected:
    EndToEndTest() {
        settings.backupEnable = true;
        settings.smtpEnable = true;
        settings.smtpIp = "127.0.0.1";
        settings.smtpPort = smtp.port();
        settings.smtpEmailAddress = "ops@example.test";
        settings.smtpFromAddress = "Vantor Lite <vantor@example.test>";
        settings.smtpTimeout = 3000;
        settings.httpSmsEnable = true;
        settings.httpSmsUrl = gateway.url("/send?to=$MSISDN&msg=$MESSAGE");
        settings.httpSmsPort = gateway.port();
        settings.httpSmsMsisdnFieldValue = "+44 1";
        settings.httpSmsTimeout = 3000;
        enableSyslog();
        ServiceFields f = urlOn(web);
        f.alarmEmail = "y";
        f.alarmHttpSms = "y";
        f.alarmSyslog = "y";
        key = add(f);
        services.Fill(store, "ALL");
        url = web.url("/health");
        port = std::to_string(web.port());
        detail = "[" + url + ":" + port + "] " + kServerError + ":" + kServerError;
    }

    // Everything the failure must have caused, as the fakes received it.
    void expectAlarmedOnce() {
        EXPECT_EQ(rowStatus(key), "Failed");
        EXPECT_EQ(storedStatus(key), "Failed");
        EXPECT_EQ(backupLines(), (std::vector<std::string>{std::string(kStamp) + " [URL] [" + url +
                                                           "] [" + port + "] " + detail}));

        ASSERT_EQ(alarmMethods(), (std::vector<std::string>{"SysLog", "Email", "SMS by HTTP"}));
        for (const alarm::AlarmRow& row : alarms.rows()) {
            EXPECT_EQ(row.dateTime, kStamp);
            EXPECT_EQ(row.message, detail);
            EXPECT_EQ(row.status, "Sent") << row.method;
        }
        EXPECT_TRUE(logLines("[ERROR]").empty());

        EXPECT_EQ(smtp.commands(),
                  (std::vector<std::string>{"EHLO " + net::LocalHostName(), "RSET",
                                            "MAIL FROM:<vantor@example.test>",
                                            "RCPT TO:<ops@example.test>", "DATA", "QUIT"}));
        ASSERT_EQ(smtp.messages().size(), 1u);
        const test::MailParts mail = test::SplitMail(smtp.messages()[0]);
        EXPECT_EQ(mail.header("From"), "Vantor Lite <vantor@example.test>");
        EXPECT_EQ(mail.header("To"), "ops@example.test");
        EXPECT_EQ(mail.header("Subject"), "Alarming Message");
        EXPECT_EQ(mail.body, (std::vector<std::string>{detail}));

        EXPECT_EQ(udp.receive().value_or("<nothing>"), "<132>Dec  8 14:00:00 127.0.0.1 :" + detail);
        EXPECT_FALSE(udp.receive(100ms).has_value());

        const auto requests = gateway.requests();
        ASSERT_EQ(requests.size(), 1u);
        const std::string& line = requests[0].requestLine;
        const std::string head = "GET /send?to=%2B44+1&msg=";
        const std::string tail = " HTTP/1.1";
        ASSERT_EQ(line.rfind(head, 0), 0u) << line;
        ASSERT_EQ(line.substr(line.size() - tail.size()), tail) << line;
        const std::string message =
            line.substr(head.size(), line.size() - head.size() - tail.size());
        EXPECT_EQ(message.find_first_of(" :/[]"), std::string::npos) << message;
        EXPECT_EQ(FormDecode(message), detail);
    }

    FakeHttpServer web{FakeHttpServer::Always(HttpResponse(kServerError))};
    FakeHttpServer gateway{FakeHttpServer::Always(HttpResponse("HTTP/1.1 200 OK", {}, "ok"))};
    test::FakeSmtpServer smtp{test::SmtpBehaviour{"250-fake.test\r\n250 8BITMIME\r\n"}};
    std::string key;
    std::string url;
    std::string port;
    std::string detail;
};

TEST_F(EndToEndTest, AFailingWebServiceRaisesEveryAlarmItAsksFor) {
    clock.setLocal(2026, 12, 8, 14, 0, 0);
    selectRow(key);
    engine->MenuServiceRunNowClick();
    ASSERT_TRUE(drain());
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].result.detail, detail);
    expectAlarmedOnce();
}

TEST_F(EndToEndTest, WithOneRetryTheFirstFailureIsQuietAndTheSecondAlarms) {
    settings.httpRetry = 1;
    selectRow(key);
    engine->MenuServiceRunNowClick();
    ASSERT_TRUE(waitForResults(1));
    EXPECT_EQ(rowStatus(key), "Retry");
    EXPECT_TRUE(alarms.rows().empty());
    EXPECT_TRUE(backupLines().empty());
    EXPECT_FALSE(udp.receive(100ms).has_value());

    ASSERT_TRUE(drain());
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(web.requests().size(), 2u);
    expectAlarmedOnce();
}

// ---- The minute ticker ----

TEST(MinuteTicker, EachMinuteIsClaimedOnceAndAJumpClaimsOnlyTheCurrentMinute) {
    test::MockClock clock(2026, 12, 8, 14, 0, 0);
    MinuteTicker ticker(clock);
    EXPECT_TRUE(ticker.claimCurrentMinute());
    EXPECT_FALSE(ticker.claimCurrentMinute());
    clock.advance(59s);
    EXPECT_FALSE(ticker.claimCurrentMinute()) << "14:00:59 is still the same minute";
    clock.advance(1s);
    EXPECT_TRUE(ticker.claimCurrentMinute()) << "14:01:00";
    EXPECT_FALSE(ticker.claimCurrentMinute());
    clock.advance(1h);
    EXPECT_TRUE(ticker.claimCurrentMinute()) << "15:01 after a suspend";
    EXPECT_FALSE(ticker.claimCurrentMinute()) << "the missed minutes are not made up";
    clock.advance(-2min);
    EXPECT_TRUE(ticker.claimCurrentMinute()) << "a clock set back still ticks";
}

TEST(MinuteTicker, TheNextTickLandsJustAfterTheNextMinuteBegins) {
    test::MockClock clock(2026, 12, 8, 14, 0, 0);
    MinuteTicker ticker(clock);
    for (const auto offset : {0ms, 1ms, 20'000ms, 59'999ms}) {
        clock.setLocal(2026, 12, 8, 14, 0, 0);
        clock.advance(offset);
        test::MockClock boundary(2026, 12, 8, 14, 1, 0);
        const auto lands = clock.now() + ticker.delayToNextMinute();
        EXPECT_GT(lands, boundary.now()) << offset.count();
        EXPECT_LE(lands, boundary.now() + 1s) << offset.count();
    }
}

}  // namespace
}  // namespace vantor::engine
