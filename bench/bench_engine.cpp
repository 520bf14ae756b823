// SPDX-License-Identifier: GPL-3.0-or-later
// The monitoring engine on its owner thread, over a service list of 1,000,
// 10,000 and 100,000 records:
//
//  - BM_Tick: one minute tick (MonitorEngine::TimerServiceTimer) at a clock
//    that stands at 14:00, with every dueEvery-th record due then
//    ("Minutely" every 5 minutes: a tenth, all, or 1,000 of 100,000) and the
//    rest "Daily" at 03:30. Timed: finding the due records (the schedule
//    index, read once before the first tick) and the dispatch of each, its check built and
//    queued on a real ThreadPoolManager (no limits). The checks go to a
//    port on 127.0.0.1 that is bound and not listening, so each is refused
//    at once; between iterations, outside the timed region, the owner's
//    event loop runs until every check has come back and their results are
//    written (handling one with its save is what BM_Completion measures).
//    first_ms: the untimed first tick, which reads every schedule.
//    mode 0, "warm": the pool's worker threads are already there, as they
//    are when the previous tick's checks ended less than a minute ago;
//    mode 1, "cold": a new pool for each tick, so the tick starts its
//    threads itself; mode 2: warm, with the limits the program itself sets
//    (200 handed to threads, 100 waiting). The counter "refused" tells how
//    many of a tick's checks the pool turned away as busy; the engine
//    takes each of those for a failure of its service.
//  - BM_Completion: MonitorEngine::OnCheckDone for a finished check at
//    1,000 and 100,000 records; the result reaches service.xml behind it, through the
//    store's writer thread. "passed": a ping of 127.0.0.1; "failed":
//    an SMTP check of the closed port. Every alarm method and the alarm
//    backup are off, so no sender is made.
//
// Each timed call is also kept, for its 99th percentile and maximum
// (counters p99_ms and max_ms). Targets: a tick under 20 ms at 10,000
// records and under 5 ms at 100,000 with 1,000 due, a completion under 5 ms
// at 1,000 records and under 1 ms at the p99 at 100,000. After the runs a
// table sets each median, p99 and max beside its target.
//
// The service files live in a fresh directory under $TMPDIR (or /tmp),
// removed when the program ends.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "alarm/AlarmListModel.h"
#include "alarm/AlarmQueue.h"
#include "app/AppPaths.h"
#include "app/AppSettings.h"
#include "app/AtomicFile.h"
#include "app/Clock.h"
#include "app/EventLoop.h"
#include "app/SystemLog.h"
#include "engine/MonitorEngine.h"
#include "engine/ServiceListModel.h"
#include "engine/ThreadMailCheck.h"
#include "engine/ThreadPingCheck.h"
#include "pool/ThreadPoolManager.h"
#include "registry/ServiceStore.h"
#include "support/CpuTime.h"
#include "support/EngineHarness.h"
#include "support/RecordingReporter.h"
#include "support/ServiceListFile.h"

namespace {

using namespace std::chrono_literals;
using vantor::app::AppPaths;
using vantor::app::AppSettings;
using vantor::app::EventLoop;
using vantor::app::SystemLog;
using vantor::engine::CheckSettings;
using vantor::engine::CheckWorkItem;
using vantor::engine::MonitorEngine;
using vantor::engine::ServiceListModel;
using vantor::registry::ServiceStore;

// name prefix, target in ms, and whether the target is for the p99 (else
// the median).
struct Target {
    const char* prefix;
    double ms;
    bool p99;
};
constexpr Target kTargets[] = {
    {"BM_Tick/records:10000/mode:0/dueEvery:10", 20.0, false},
    {"BM_Tick/records:10000/mode:1/dueEvery:10", 20.0, false},
    {"BM_Tick/records:10000/mode:2/dueEvery:10", 20.0, false},
    {"BM_Tick/records:100000/mode:2/dueEvery:100", 5.0, false},
    {"BM_Completion/passed:1/records:1000", 5.0, false},
    {"BM_Completion/passed:0/records:1000", 5.0, false},
    {"BM_Completion/passed:1/records:100000", 1.0, true},
    {"BM_Completion/passed:0/records:100000", 1.0, true},
};
constexpr auto kDrainTimeout = 300s;

// A wall clock that stands at 14:00:00 local time today; the monotonic
// reading is the real one, for the pool's waiting limits.
class FixedClock final : public vantor::app::Clock {
public:
    FixedClock() {
        const std::time_t now = std::time(nullptr);
        std::tm tm{};
        localtime_r(&now, &tm);
        tm.tm_hour = 14;
        tm.tm_min = 0;
        tm.tm_sec = 0;
        tm.tm_isdst = -1;
        m_now = std::chrono::system_clock::from_time_t(std::mktime(&tm));
    }
    std::chrono::system_clock::time_point now() const override { return m_now; }
    std::chrono::steady_clock::time_point steadyNow() const override {
        return std::chrono::steady_clock::now();
    }

private:
    std::chrono::system_clock::time_point m_now;
};

const FixedClock& BenchClock() {
    static const FixedClock clock;
    return clock;
}

// A TCP port on 127.0.0.1 that is bound for the life of the program and
// never listens: a connection to it is refused at once.
int ClosedPort() {
    static const int port = [] {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            throw std::runtime_error("cannot bind a port on 127.0.0.1");
        }
        return static_cast<int>(ntohs(address.sin_port));
    }();
    return port;
}

class BenchDir {
public:
    static BenchDir& instance() {
        static BenchDir dir;
        return dir;
    }
    const std::string& path() const { return m_path; }
    ~BenchDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }

private:
    BenchDir() {
        const char* base = std::getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/vantor-bench-XXXXXX";
        if (::mkdtemp(tmpl.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        m_path = tmpl;
    }
    std::string m_path;
};

// One record in the layout the store saves. URL records get the request
// group; every check goes to 127.0.0.1.
vantor::test::ServiceEntry Record(const std::string& service, const std::string& ip,
                                  const std::string& port, const std::string& by,
                                  const std::string& hour, const std::string& minute, bool alarms) {
    const std::string flag = alarms ? "y" : "n";
    vantor::test::ServiceEntry e;
    e.service = service;
    e.ip = ip;
    e.port = port;
    e.username = service == "SMTP" ? "" : "monitor";
    e.scheduleBy = by;
    e.scheduleHour = hour;
    e.scheduleMinute = minute;
    e.urlMethod = service == "URL" ? "Get" : "";
    e.alarmEmail = flag;
    e.alarmHttpSms = flag;
    e.alarmSyslog = flag;
    e.cookie = "session=1";
    e.userAgent = "VantorLite";
    e.acceptCharSet = "utf-8";
    e.acceptLanguage = "en";
    return e;
}

// The key of the record that the completion benchmarks report on.
std::string PingKey() {
    return "Ping:127.0.0.1:0";
}
std::string SmtpKey() {
    return "SMTP:127.0.0.1:" + std::to_string(ClosedPort());
}

// A service list of `count` records: every `dueEvery`th (tenth unless
// said) "Minutely" 5 (due at
// 14:00), the rest "Daily" at 03:30; half URL checks, a quarter SMTP, a
// quarter FTP, each with its own key; plus, in place of two of the daily
// ones, the ping and SMTP records of the completion benchmarks.
std::string ServiceListXml(int count, int dueEvery) {
    const std::string closed = std::to_string(ClosedPort());
    std::vector<vantor::test::ServiceEntry> records;
    for (int i = 0; i < count; ++i) {
        const bool due = i % dueEvery == 0;
        const std::string by = due ? "Minutely" : "Daily";
        const std::string hour = due ? "0" : "03";
        const std::string minute = due ? "5" : "30";
        const bool alarms = i % 3 == 0;
        if (i == 1) {
            records.push_back(Record("Ping", "127.0.0.1", "0", by, hour, minute, alarms));
        } else if (i == 2) {
            records.push_back(Record("SMTP", "127.0.0.1", closed, by, hour, minute, alarms));
        } else if (i % 4 < 2) {
            records.push_back(Record("URL",
                                     "http://127.0.0.1/service/" + std::to_string(i) + ".html",
                                     closed, by, hour, minute, alarms));
        } else {
            // Distinct hosts in 127.0.0.0/8 keep the keys apart.
            const std::string host =
                "127.1." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
            records.push_back(
                Record(i % 4 == 2 ? "SMTP" : "FTP", host, closed, by, hour, minute, alarms));
        }
    }
    return vantor::test::ServiceListXml(records);
}

// The engine with everything it works with, over a fresh copy of the
// service list of `count` records.
struct EngineRig {
    explicit EngineRig(int count, int dueEvery = 10)
        : paths(BenchDir::instance().path() + "/app" + std::to_string(count) + "-" +
                std::to_string(dueEvery)),
          log(paths, settings, BenchClock(), reporter),
          harness(paths.serviceFilePath(), settings, log, reporter, BenchClock()) {
        std::filesystem::create_directories(paths.appPath());
        if (!paths.CheckLogDir() || !paths.CheckConfDir()) {
            throw std::runtime_error("cannot make " + paths.appPath());
        }
        const vantor::Status written = vantor::app::WriteFileAtomically(
            paths.serviceFilePath(), ServiceListXml(count, dueEvery));
        if (!written) {
            throw std::runtime_error(written.error());
        }
        if (const vantor::Status opened = harness.store.OpenServiceFile(true); !opened) {
            throw std::runtime_error(opened.error());
        }
        if (harness.store.recordCount() != static_cast<std::size_t>(count)) {
            throw std::runtime_error("the service list did not load whole");
        }
        // Alarms and the alarm backup off: a failure makes no sender.
        settings.backupEnable = false;
        settings.smtpEnable = false;
        settings.smsEnable = false;
        settings.httpSmsEnable = false;
        settings.syslogEnable = false;
        settings.httpDefaultTimeout = 5000;
        settings.emailDefaultTimeout = 5000;
        settings.ftpDefaultTimeout = 5000;
        settings.pingDefaultTimeout = 5000;
        harness.services.Fill(harness.store, "ALL");
        newPool();
    }

    // A pool (without limits unless asked for) and an engine on it.
    void newPool(int maxPooled = 0, int maxQueueLength = 0) {
        harness.start(maxPooled, maxQueueLength);
        countResults();
    }

    // The results are counted; a check the pool turned away is a failure
    // that names the pool's reason.
    void countResults() {
        harness.engine->onProductResult = [this](const vantor::engine::CheckResult& r, bool) {
            ++completed;
            if (r.detail.find("Server is busy") != std::string::npos) {
                ++refused;
            }
        };
    }

    MonitorEngine& engine() { return *harness.engine; }

    // Runs the owner's loop until every queued check has come back, then
    // writes their results to the file at once, so that the writer is idle
    // when the next tick is timed. (The list stays open: closing and opening
    // it would make the next tick read the schedules afresh.)
    void drain(long long expected) {
        if (!harness.loop.runUntil([&] { return completed >= expected; }, kDrainTimeout)) {
            throw std::runtime_error("checks did not come back: " + std::to_string(completed) +
                                     " of " + std::to_string(expected));
        }
        if (const vantor::Status flushed = harness.store.flush(); !flushed) {
            throw std::runtime_error(flushed.error());
        }
    }

    vantor::test::RecordingReporter reporter;
    AppSettings settings;
    AppPaths paths;
    SystemLog log;
    vantor::test::EngineHarness harness;
    long long completed = 0;
    long long refused = 0;
};

// The program's own pool limits (HeadlessApp): 200 items handed to threads,
// 100 waiting.
constexpr int kProgramMaxPooled = 200;
constexpr int kProgramMaxQueueLength = 100;

// The 99th percentile and the longest of the timed calls, beside the
// median that the benchmark library reports.
void Tails(benchmark::State& state, std::vector<double> ms) {
    if (ms.empty()) {
        return;
    }
    std::sort(ms.begin(), ms.end());
    state.counters["p99_ms"] = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
    state.counters["max_ms"] = ms.back();
}

// mode 0: warm, 1: cold, 2: warm with the program's own pool limits.
void BM_Tick(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const int mode = static_cast<int>(state.range(1));
    const int dueEvery = static_cast<int>(state.range(2));
    EngineRig rig(count, dueEvery);
    if (mode == 2) {
        rig.newPool(kProgramMaxPooled, kProgramMaxQueueLength);
    }
    const long long perTick = (count + dueEvery - 1) / dueEvery;
    // With the program's limits the engine hands the pool as many checks as
    // it has threads and holds the rest back; they follow as checks come
    // back, so every due check comes back in the end.
    const long long queuedPerTick = perTick;
    long long expected = 0;
    if (mode != 1) {
        // The workers of an earlier tick; this first tick also reads every
        // record's schedule, as after a start or an edit.
        const auto t0 = std::chrono::steady_clock::now();
        rig.engine().TimerServiceTimer();
        state.counters["first_ms"] =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                .count();
        expected += queuedPerTick;
        rig.drain(expected);
    }
    const long long refusedBefore = rig.refused;
    std::vector<double> ms;
    double cpuMs = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        const double cpu0 = vantor::test::ThreadCpuMs();
        rig.engine().TimerServiceTimer();
        cpuMs += vantor::test::ThreadCpuMs() - cpu0;
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                .count());
        state.PauseTiming();
        expected += queuedPerTick;
        rig.drain(expected);
        if (mode == 1) {
            rig.newPool();
        }
        state.ResumeTiming();
    }
    state.counters["due"] = static_cast<double>(perTick);
    // The owner thread's own CPU time in a tick: below the wall time, the
    // pool's threads (started by the tick) had the cores meanwhile.
    state.counters["cpu_ms"] = cpuMs / static_cast<double>(std::max<std::size_t>(1, ms.size()));
    Tails(state, ms);
    // Checks that the pool turned away as busy, per tick: each ends as a
    // failure of its service.
    state.counters["refused"] = benchmark::Counter(static_cast<double>(rig.refused - refusedBefore),
                                                   benchmark::Counter::kAvgIterations);
    static constexpr const char* kModes[] = {"warm, no limits", "cold, no limits",
                                             "warm, 200 pooled + 100 waiting"};
    state.SetLabel(kModes[mode]);
}
BENCHMARK(BM_Tick)
    ->ArgNames({"records", "mode", "dueEvery"})
    ->Args({1000, 0, 10})
    ->Args({1000, 1, 10})
    ->Args({1000, 2, 10})
    ->Args({10000, 0, 10})
    ->Args({10000, 1, 10})
    ->Args({10000, 2, 10})
    ->Args({1000, 2, 1})
    ->Args({100000, 2, 100})
    ->Iterations(12)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// A check run once on this thread, as a pool thread runs it.
std::unique_ptr<CheckWorkItem> FinishedCheck(bool passed) {
    CheckSettings s;
    s.originTag = vantor::engine::kOriginProduct;
    s.host = "127.0.0.1";
    s.timeoutMs = 5000;
    s.alarms = {true, false, true, true};
    std::unique_ptr<CheckWorkItem> item;
    if (passed) {
        s.serviceKey = PingKey();
        s.port = 0;
        item = std::make_unique<vantor::engine::ThreadPingCheck>(s);
    } else {
        s.serviceKey = SmtpKey();
        s.port = ClosedPort();
        item = std::make_unique<vantor::engine::ThreadSMTPCheck>(s, vantor::engine::Credentials{});
    }
    item->run();
    return item;
}

void BM_Completion(benchmark::State& state) {
    const bool passed = state.range(0) != 0;
    EngineRig rig(static_cast<int>(state.range(1)));
    const std::unique_ptr<CheckWorkItem> item = FinishedCheck(passed);
    const std::string word = passed ? "Passed" : "Failed";
    if (item->result().statusWord != word) {
        state.SkipWithError(
            ("the check came back " + item->result().statusWord + ": " + item->result().detail)
                .c_str());
        return;
    }
    const std::string key = passed ? PingKey() : SmtpKey();
    std::vector<double> ms;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        rig.engine().OnCheckDone(*item);
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                .count());
    }
    Tails(state, ms);
    // The result reaches the file: the writer takes it there behind the
    // completion, and at the latest when the store is flushed.
    if (const vantor::Status flushed = rig.harness.store.flush(); !flushed) {
        state.SkipWithError(("flush: " + flushed.error()).c_str());
        return;
    }
    ServiceStore reread(rig.paths.serviceFilePath());
    const auto record = reread.OpenServiceFile(true) ? reread.findRecord(key) : std::nullopt;
    if (!record || record->text("service_status") != word) {
        state.SkipWithError("the result was not saved");
    }
    state.SetLabel(word);
}
BENCHMARK(BM_Completion)
    ->ArgNames({"passed", "records"})
    ->Args({1, 1000})
    ->Args({0, 1000})
    ->Args({1, 100000})
    ->Args({0, 100000})
    ->MinTime(1.0)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Console output as usual, and the medians (with the tails' counters)
// kept for the target table.
class TargetReporter final : public benchmark::ConsoleReporter {
public:
    struct Row {
        double median = 0;
        double p99 = 0;
        double max = 0;
    };
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                Row& row = m_rows[run.run_name.str()];
                row.median = run.GetAdjustedRealTime();
                if (const auto it = run.counters.find("p99_ms"); it != run.counters.end()) {
                    row.p99 = it->second.value;
                }
                if (const auto it = run.counters.find("max_ms"); it != run.counters.end()) {
                    row.max = it->second.value;
                }
            }
        }
        benchmark::ConsoleReporter::ReportRuns(runs);
    }
    const std::map<std::string, Row>& rows() const { return m_rows; }

private:
    std::map<std::string, Row> m_rows;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    TargetReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    bool allMet = true;
    std::printf("\n%-60s %9s %9s %9s %12s\n", "benchmark (median of the repetitions)", "p50 ms",
                "p99 ms", "max ms", "target ms");
    for (const auto& [name, row] : reporter.rows()) {
        const Target* target = nullptr;
        for (const Target& t : kTargets) {
            if (name.rfind(t.prefix, 0) == 0) {
                target = &t;
            }
        }
        std::printf("%-60s %9.3f %9.3f %9.3f", name.c_str(), row.median, row.p99, row.max);
        if (target != nullptr) {
            const bool met = (target->p99 ? row.p99 : row.median) < target->ms;
            allMet = allMet && met;
            std::printf(" %5s < %4.1f  %s\n", target->p99 ? "p99" : "p50", target->ms,
                        met ? "met" : "MISSED");
        } else {
            std::printf(" %12s\n", "-");
        }
    }
    std::printf("%s\n", allMet ? "All targets met." : "Some targets were missed.");
    benchmark::Shutdown();
    return 0;
}
