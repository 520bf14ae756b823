// SPDX-License-Identifier: GPL-3.0-or-later
// vantor-lite --headless left running for three minutes against nginx: the
// minute tick checks an every-minute service at each minute and an
// every-five-minutes service only at minutes that are multiples of five;
// SIGTERM then stops it cleanly. Takes a little over three minutes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cmath>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

#include "E2EApp.h"
#include "E2EServers.h"

namespace vantor::e2e {
namespace {

using namespace std::chrono_literals;
using std::chrono::system_clock;

constexpr const char* kReady = "Vantor Lite is running without windows";

std::int64_t MinuteOf(system_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::minutes>(t.time_since_epoch()).count();
}

double Seconds(system_clock::time_point t) {
    return std::chrono::duration<double>(t.time_since_epoch()).count();
}

// Whether the child has not ended; it is not reaped, so its exit code stays
// for Process::wait.
bool StillRunning(pid_t pid) {
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
        return false;
    }
    return info.si_pid == 0;
}

// Request times (epoch seconds) from the access log, by request target.
std::map<std::string, std::vector<double>> RequestTimes(const std::string& log) {
    std::map<std::string, std::vector<double>> out;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
        // <msec> <status> "GET <target> HTTP/1.1" "<UA>"
        std::istringstream fields(line);
        double when = 0;
        std::string status;
        std::string method;
        std::string target;
        fields >> when >> status >> method >> target;
        out[target].push_back(when);
    }
    return out;
}

std::int64_t MinuteOfSeconds(double seconds) {
    return static_cast<std::int64_t>(std::floor(seconds / 60.0));
}

TEST(HeadlessScheduleTest, TicksEveryMinuteForThreeMinutesAndStopsCleanlyOnSigterm) {
    test::TempDir serverDir;
    std::unique_ptr<NginxServers> nginx;
    try {
        nginx = std::make_unique<NginxServers>(serverDir.path());
    } catch (const std::exception& e) {
        FAIL() << e.what();
    }
    AppDir app;

    // The run starts in minute m0 and certainly sees the ticks of the next
    // three minutes, m0 + 1 to m0 + 3. The program runs with a local time
    // `shift` minutes ahead of UTC, chosen so that the middle one of them
    // is a multiple of five in local time: the every-five-minutes service
    // then falls due exactly once during the run.
    const auto t0 = system_clock::now();
    const std::int64_t m0 = MinuteOf(t0);
    const int shift = static_cast<int>((5 - (m0 + 2) % 5) % 5);
    const std::string tz = "VLT-0:0" + std::to_string(shift);

    ServiceEntry every1;
    every1.ip = "http://127.0.0.1/e2e/every1.html";
    every1.port = std::to_string(nginx->webPort());
    every1.scheduleBy = "Minutely";
    every1.scheduleMinute = "1";
    ServiceEntry every5 = every1;
    every5.ip = "http://127.0.0.1/e2e/every5.html";
    every5.scheduleMinute = "5";
    // Due at no minute of the run: a daily service an hour away.
    ServiceEntry daily = every1;
    daily.ip = "http://127.0.0.1/e2e/ok.html";
    daily.scheduleBy = "Daily";
    {
        const std::time_t later = system_clock::to_time_t(t0 + 1h + std::chrono::minutes(shift));
        std::tm tm{};
        gmtime_r(&later, &tm);
        char hh[8];
        std::snprintf(hh, sizeof hh, "%02d", tm.tm_hour);
        daily.scheduleHour = hh;
        daily.scheduleMinute = "30";
    }
    app.writeServices({every1, every5, daily});
    app.writeSettings("[http]\nHTTPDefaultTimeout=5000\n");

    auto program = app.start({"--headless"}, tz);
    ASSERT_TRUE(program->waitForOutput(kReady, 20s)) << program->err();

    // Runs for 185 s, and on until the tick of minute m0 + 3 has been seen,
    // 200 s at most; it must not end by itself meanwhile.
    const std::string every1Target = "/e2e/every1.html";
    const std::string every5Target = "/e2e/every5.html";
    for (;;) {
        ASSERT_TRUE(StillRunning(program->pid()))
            << "ended after " << Seconds(system_clock::now()) - Seconds(t0) << " s\n"
            << program->err();
        const auto now = system_clock::now();
        bool lastTickSeen = false;
        const auto times = RequestTimes(nginx->webLog());
        const auto every1 = times.find(every1Target);
        for (double when : every1 == times.end() ? std::vector<double>{} : every1->second) {
            lastTickSeen = lastTickSeen || MinuteOfSeconds(when) == m0 + 3;
        }
        if ((now - t0 >= 185s && lastTickSeen) || now - t0 >= 200s) {
            break;
        }
        std::this_thread::sleep_for(1s);
    }
    const auto t1 = system_clock::now();
    program->signal(SIGTERM);
    const auto stopped = std::chrono::steady_clock::now();
    ASSERT_EQ(program->wait(30s), 0) << program->err();
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, 10s);
    EXPECT_GE(t1 - t0, 185s);

    const auto times = RequestTimes(nginx->webLog());
    ASSERT_TRUE(times.count(every1Target)) << nginx->webLog();
    const std::vector<double>& ticks = times.at(every1Target);
    std::vector<std::int64_t> minutes;
    for (double when : ticks) {
        minutes.push_back(MinuteOfSeconds(when));
    }
    // Every minute from the first to the last was examined, each once.
    for (std::size_t i = 1; i < minutes.size(); ++i) {
        EXPECT_EQ(minutes[i], minutes[i - 1] + 1) << nginx->webLog();
    }
    ASSERT_GE(minutes.size(), 3u) << nginx->webLog();
    const std::set<std::int64_t> seen(minutes.begin(), minutes.end());
    for (std::int64_t m = m0 + 1; m <= m0 + 3; ++m) {
        EXPECT_TRUE(seen.count(m)) << "minute " << m - m0 << " of the run was not examined\n"
                                   << nginx->webLog();
    }
    EXPECT_GE(minutes.front(), m0);
    EXPECT_LE(minutes.back(), MinuteOf(t1));
    // The tick after start-up comes just after the minute begins.
    for (std::size_t i = 1; i < ticks.size(); ++i) {
        const double intoMinute = ticks[i] - static_cast<double>(minutes[i]) * 60.0;
        EXPECT_LT(intoMinute, 5.0) << "check at " << intoMinute << " s into its minute";
    }

    // The five-minute service: at exactly the examined minutes that are
    // multiples of five in local time, which is minute m0 + 2 alone.
    std::set<std::int64_t> expectedFive;
    for (std::int64_t m : minutes) {
        if ((m + shift) % 5 == 0) {
            expectedFive.insert(m);
        }
    }
    EXPECT_EQ(expectedFive, (std::set<std::int64_t>{m0 + 2}));
    std::multiset<std::int64_t> fiveMinutes;
    if (times.count(every5Target)) {
        for (double when : times.at(every5Target)) {
            fiveMinutes.insert(MinuteOfSeconds(when));
        }
    }
    EXPECT_EQ(fiveMinutes, std::multiset<std::int64_t>(expectedFive.begin(), expectedFive.end()))
        << nginx->webLog();
    EXPECT_FALSE(times.count("/e2e/ok.html")) << nginx->webLog();
    std::string trace =
        "local time UTC+" + std::to_string(shift) + " min; ran " +
        std::to_string(std::chrono::duration_cast<std::chrono::seconds>(t1 - t0).count()) +
        " s; every-minute checks at minutes";
    for (std::int64_t m : minutes) {
        trace += " +" + std::to_string(m - m0);
    }
    trace += "; five-minute checks at minutes";
    for (std::int64_t m : fiveMinutes) {
        trace += " +" + std::to_string(m - m0);
    }
    std::printf("%s\n", trace.c_str());

    EXPECT_EQ(app.storedServiceStatus(every1.key()), "Passed");
    EXPECT_EQ(app.storedServiceStatus(every5.key()), "Passed");
    EXPECT_EQ(app.storedServiceStatus(daily.key()), "Unknown");

    const auto log = app.systemLogLines();
    ASSERT_GE(log.size(), 3u);
    int starts = 0;
    for (const std::string& line : log) {
        starts += line.substr(20) == "[INFO] Service scheduling starts." ? 1 : 0;
    }
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(log[log.size() - 2].substr(20), "[INFO] Service scheduling stops.");
    EXPECT_EQ(log.back().substr(20), "[INFO] Application stops.");
}

}  // namespace
}  // namespace vantor::e2e
