// SPDX-License-Identifier: GPL-3.0-or-later
// The metrics exposition: how long one rendering of N services takes
// (every family filled, as for HTTPS services), and the program itself
// under a storm of scrapes: wrk with C connections while S slow clients
// hold connections open, against a --headless run whose main
// loop pets a watchdog every 50 ms (its longest gap between pets, less the
// 50 ms, is the main loop's longest stall) and whose checks must keep to
// their minute.
//
//   bench_metrics [--services N] [--scrapes C] [--slow S]   (C = 0: the rendering alone)
//
// Targets: a rendering of 10,000 < 50 ms; during the storm no stall over
// 50 ms and every check of the minute back within its first seconds.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "metrics/MetricsRegistry.h"
#include "metrics/MetricsServer.h"
#include "support/FakeHttpServer.h"
#include "support/Gate.h"
#include "support/LocalSockets.h"
#include "support/Process.h"
#include "support/ServiceListFile.h"
#include "support/TempDir.h"

namespace {

using namespace vantor;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Stats {
    double p50, p99, max;
};

Stats Summarise(std::vector<double> v) {
    if (v.empty()) {
        return {0, 0, 0};
    }
    std::sort(v.begin(), v.end());
    auto at = [&](double q) {
        return v[std::min(v.size() - 1,
                          static_cast<std::size_t>(q * static_cast<double>(v.size())))];
    };
    return {at(0.50), at(0.99), v.back()};
}

metrics::ServiceMetrics::Verdict FullVerdict(int i) {
    metrics::ServiceMetrics::Verdict v;
    v.success = i % 50 != 0;
    v.durationUs = 40000 + i;
    v.time = 1'800'000'000 + i;
    app::ProbeFacts::Http http;
    http.statusCode = 200;
    http.version = 1.1;
    http.ssl = true;
    http.resolveUs = 100 + i;
    http.connectUs = 200;
    http.tlsUs = 3000;
    http.processingUs = 30000;
    http.transferUs = 500;
    v.probe.http = http;
    v.probe.dnsLookupUs = 100 + i;
    v.probe.ipProtocol = 4;
    v.probe.certNotAfter = 1'900'000'000;
    v.probe.tlsVersion = "TLS 1.3";
    return v;
}

void Rendering(int services) {
    metrics::MetricsRegistry registry([](const std::string&) {
        return metrics::MetricsRegistry::Uptime{0.999, 0.9985};
    });
    std::vector<double> handOver;
    for (int i = 0; i < services; ++i) {
        const std::string key = "URL:https://svc" + std::to_string(i) + ".example/:443";
        const auto t0 = Clock::now();
        registry.verdict(key, "URL", "https://svc" + std::to_string(i) + ".example/", "Minutely 5",
                         FullVerdict(i), false);
        handOver.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    std::vector<double> ms;
    std::size_t bytes = 0;
    double first = 0;
    for (int round = 0; round < 51; ++round) {
        // A whole round of verdicts between renderings, as every five
        // minutes: each rendering takes them up and writes afresh.
        for (int i = 0; i < services; ++i) {
            registry.verdict("URL:https://svc" + std::to_string(i) + ".example/:443", "URL",
                             "https://svc" + std::to_string(i) + ".example/", "Minutely 5",
                             FullVerdict(i + round), false);
        }
        const auto t0 = Clock::now();
        bytes = registry.render()->size();
        const double took = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        // As the program's publisher does after rendering a round.
        registry.warm();
        (round == 0 ? first : ms.emplace_back()) = took;
    }
    const Stats r = Summarise(ms);
    const Stats h = Summarise(handOver);
    std::printf(
        "rendering of %d services after a round of verdicts (%zu bytes): first (fresh "
        "memory) %.2f ms; then over 50: p50 %.2f ms  p99 %.2f ms  max %.2f ms\n",
        services, bytes, first, r.p50, r.p99, r.max);
    std::printf("hand-over per verdict (owner thread): p50 %.3f us  p99 %.3f us  max %.1f us\n",
                h.p50, h.p99, h.max);
}

int Storm(int scrapes, int slow) {
    test::TempDir dir;
    ::mkdir(dir.file("bin").c_str(), 0755);
    ::mkdir(dir.file("conf").c_str(), 0700);
    ::mkdir(dir.file("xdg").c_str(), 0700);
    ::mkdir(dir.file("run").c_str(), 0700);
    std::mutex m;
    std::vector<double> checkAt;  // seconds into the minute of each check
    test::FakeHttpServer web([&](const test::SeenHttpRequest&, int) {
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        std::lock_guard lock(m);
        checkAt.push_back(std::fmod(std::chrono::duration<double>(now).count(), 60.0));
        return test::HttpReply(test::HttpResponse("HTTP/1.1 200 OK"));
    });
    std::vector<test::ServiceEntry> services(100);
    for (std::size_t i = 0; i < services.size(); ++i) {
        services[i].ip = web.url("/s" + std::to_string(i));
        services[i].port = std::to_string(web.port());
        services[i].scheduleBy = "Minutely";
        services[i].scheduleMinute = "1";
    }
    test::WriteFile(dir.file("conf/service.xml"), test::ServiceListXml(services));
    int port = 0;
    {
        const test::ClosedPort free;
        port = free.port();
    }
    test::WriteFile(dir.file("conf/SysInit.ini"),
                    "[Metrics]\r\nListen=127.0.0.1:" + std::to_string(port) + "\r\n");
    test::UdpReceiver manager(dir.file("run/notify"));
    test::Process app({VANTOR_LITE_BINARY, "--headless"}, dir.file("bin"),
                      {{"XDG_CONFIG_HOME", dir.file("xdg")},
                       {"XDG_RUNTIME_DIR", dir.file("run")},
                       {"HOME", dir.path()},
                       {"NOTIFY_SOCKET", dir.file("run/notify")},
                       {"WATCHDOG_USEC", "100000"}});
    if (manager.receive(20s) != std::string("READY=1")) {
        std::fprintf(stderr, "the program did not start: %s\n", app.err().c_str());
        return 1;
    }
    // The pets, timed on a thread of their own for the whole storm.
    std::atomic<bool> done{false};
    std::vector<double> gaps;
    std::thread pets([&] {
        auto last = Clock::now();
        while (!done) {
            if (manager.receive(500ms)) {
                const auto now = Clock::now();
                gaps.push_back(std::chrono::duration<double, std::milli>(now - last).count());
                last = now;
            }
        }
    });
    // The storm starts a second before a minute's tick and lasts 20 s; the
    // start-up's own round is over by then (at least 5 s after it).
    std::this_thread::sleep_for(5s);
    const auto wall = std::chrono::system_clock::now().time_since_epoch();
    const double intoMinute = std::fmod(std::chrono::duration<double>(wall).count(), 60.0);
    std::this_thread::sleep_for(std::chrono::duration<double>(60.0 - intoMinute - 1.0));
    {
        std::lock_guard lock(m);
        checkAt.clear();
    }
    std::vector<int> loris;
    for (int i = 0; i < slow; ++i) {
        if (const int fd = test::HalfRequest(port); fd >= 0) {
            loris.push_back(fd);
        }
    }
    // wrk (Debian's package) holds that many connections open at once,
    // each scraping again as soon as its answer is in.
    const std::string wrkOut = dir.file("wrk.txt");
    const pid_t wrk = ::fork();
    if (wrk == 0) {
        // Scrapers run on other machines: here they get what CPU the
        // program leaves (on two cores wrk alone takes one).
        ::setpriority(PRIO_PROCESS, 0, test::WrkNice());
        const int out = ::open(wrkOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(out, 1);
        ::dup2(out, 2);
        const std::string connections = "-c" + std::to_string(scrapes);
        const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/metrics";
        ::execl("/usr/bin/wrk", "wrk", "-t2", connections.c_str(), "-d20s", "--latency",
                url.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(wrk, &status, 0);
    for (const int fd : loris) {
        ::close(fd);
    }
    done = true;
    pets.join();
    app.signal(SIGTERM);
    app.wait(20s);

    std::vector<double> stalls;
    for (const double g : gaps) {
        stalls.push_back(std::max(0.0, g - 50.0));
    }
    const Stats stall = Summarise(stalls);
    std::vector<double> at;
    {
        std::lock_guard lock(m);
        at = checkAt;
    }
    const Stats check = Summarise(at);
    std::printf(
        "storm: wrk -t2 -c%d -d20s at nice %d beside %zu slow clients (the endpoint keeps %u "
        "connections at once):\n%s",
        scrapes, test::WrkNice(), loris.size(), metrics::MetricsServer::kMaxConnections,
        test::ReadFile(wrkOut).c_str());
    std::printf(
        "main loop stall (gap between watchdog pets less 50 ms, %zu pets): p50 %.1f ms  "
        "p99 %.1f ms  max %.1f ms\n",
        gaps.size(), stall.p50, stall.p99, stall.max);
    std::printf(
        "checks of the minute in the storm: %zu of 100, seconds into the minute p50 %.2f  "
        "p99 %.2f  max %.2f\n",
        at.size(), check.p50, check.p99, check.max);
    const bool wrkRan = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return at.size() >= 100 && stall.max < 50.0 && wrkRan ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    int services = 10000;
    int scrapes = 1000;
    int slow = 200;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--services") == 0) {
            services = std::atoi(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--scrapes") == 0) {
            scrapes = std::atoi(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--slow") == 0) {
            slow = std::atoi(argv[i + 1]);
        }
    }
    ::signal(SIGPIPE, SIG_IGN);
    Rendering(services);
    return scrapes > 0 ? Storm(scrapes, slow) : 0;
}
