// SPDX-License-Identifier: GPL-3.0-or-later
// The main window on the offscreen platform:
//
//  - fill: the service list refilled with "ALL" (the core list rebuilt from
//    the store and the view reset, and the events that follow handled) at
//    1,000 and 10,000 services; median of 9 fills. Target at 10,000: 100 ms.
//  - one result: a check's result applied to a shown row at 10,000 rows, as
//    the engine applies it (the store told, the row's cell changed, the
//    view's update handled); median of 200. Target: 1 ms.
//  - peak RSS: the program itself (vantor-lite, offscreen) on a folder with
//    1,000 and 10,000 services, read from /proc/<pid>/status (VmHWM) once
//    its window has been up and filled for a few seconds; beside it, a bare
//    Qt window with a 1,000-row tree widget, and the program with 1,000
//    services and the history pane open. Targets: 45 MB, 70 MB, 50 MB.
//  - stall: 300 URL services due at once against a local HTTP server that
//    answers each request after 100 ms; the longest gap of a 5 ms timer on
//    the GUI thread beyond its interval, from the end of the tick that
//    queued them until every result is back. Target: 50 ms.
//  - burst: 10,000 results arriving in one burst while the writer writes
//    service.xml, the gaps' median, p99 and maximum, with the GUI thread's
//    CPU time in the longest: once from checks that end at once without
//    the network (the program's own handling of the results), once from
//    real checks of 10,000 URL services due at once against the local
//    server (the kernel's loopback traffic and 200 checks at a time then
//    share the two cores with the window). Target: p99 and max under
//    16 ms (one frame).
//
//   bench_ui               every measurement, with a table beside the targets
//   bench_ui --burst [N]   the burst only, with N services (10,000)
//   bench_ui --scrape-storm [C]  the 300-check stall, then 20 s in all, beside
//                          wrk with C connections (1,000) scraping the metrics
//                          endpoint and 100 slow clients (wrk from Debian)
//   bench_ui --large [N]   N services (100,000): the fill (median of 9),
//                          then N URL services all due every minute against
//                          the local server: the GUI thread's stalls from
//                          before the next minute's tick until its round of
//                          N results is back (the tick's own step included),
//                          and the peak RSS of the process (window, checks
//                          and the local server). Targets: fill 300 ms,
//                          longest stall 50 ms, 400 MB.
//   bench_ui --bare        (internal) the bare Qt window, prints its VmHWM
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTime>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/CheckWorkItem.h"
#include "engine/MonitorEngine.h"
#include "registry/ServiceStore.h"
#include "support/FakeHttpServer.h"
#include "support/GuiProgram.h"
#include "support/LocalSockets.h"
#include "support/StallProbe.h"
#include "ui/GuiApp.h"
#include "ui/mainwindow/TFormMenu.h"
#include "ui/support/MessageBox.h"

using namespace std::chrono_literals;
using vantor::test::Program;
using vantor::test::ServiceEntry;

namespace {

// n services of the six kinds with a check, never due unless `due`.
std::vector<ServiceEntry> Services(int n, const std::string& url = {}) {
    static const char* const kinds[] = {"URL", "Ping", "SMTP", "POP3", "IMAP", "FTP"};
    std::vector<ServiceEntry> out;
    out.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        ServiceEntry e;
        if (!url.empty()) {
            e.service = "URL";
            e.ip = url + "?n=" + std::to_string(i);
            e.port = "80";
            e.scheduleBy = "Minutely";
            e.scheduleMinute = "1";
        } else {
            e.service = kinds[i % 6];
            e.ip = "10." + std::to_string(i / 65536 % 256) + "." + std::to_string(i / 256 % 256) +
                   "." + std::to_string(i % 256);
            e.port = e.service == "Ping" ? "0" : std::to_string(1000 + i % 5000);
            e.scheduleHour = "99";  // never due
        }
        out.push_back(e);
    }
    return out;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The window on a folder of its own, started and past its start-up timer.
void StartAndWait(Program& program) {
    if (!program.startAndWait()) {
        std::fprintf(stderr, "bench_ui: the program did not start\n");
        std::exit(1);
    }
    QCoreApplication::processEvents();
}

void Close(Program& program) {
    program.window().closeApplication();
    QCoreApplication::processEvents();
}

double FillMs(int n) {
    Program program(Services(n), /*initStart=*/true, 1ms);
    StartAndWait(program);
    std::vector<double> ms;
    for (int i = 0; i < 9; ++i) {
        QElapsedTimer timer;
        timer.start();
        program.window().FillServiceList("ALL");
        QCoreApplication::processEvents();
        ms.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    Close(program);
    return Median(ms);
}

double OneResultMs(int n) {
    Program program(Services(n), /*initStart=*/true, 1ms);
    StartAndWait(program);
    auto& session = program.session();
    std::vector<double> ms;
    for (int i = 0; i < 200; ++i) {
        const std::size_t row = static_cast<std::size_t>(i % 20);  // on screen
        const std::string key = session.services().rows()[row].id;
        const char* status = i % 2 == 0 ? "Passed" : "Failed";
        QElapsedTimer timer;
        timer.start();
        (void)session.store().SetServiceResult(key, status);
        session.services().setCurrentStatus(row, status);
        QCoreApplication::processEvents();
        ms.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    Close(program);
    return Median(ms);
}

long VmHwmKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

// Starts a program with the offscreen platform, lets it run, reads its peak
// RSS and ends it.
double ProgramRssMb(const std::vector<std::string>& argv, const std::string& configHome,
                    const std::string& workDir, std::chrono::seconds run) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        if (!configHome.empty()) {
            ::setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
        }
        if (!workDir.empty() && ::chdir(workDir.c_str()) != 0) {
            ::_exit(127);
        }
        std::vector<char*> args;
        for (const std::string& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    std::this_thread::sleep_for(run);
    const long kb = VmHwmKb(pid);
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return static_cast<double>(kb) / 1024.0;
}

double ProgramRss(int n, bool pane = false) {
    // The folder only: the program itself runs on it. Splash 2 s, start-up
    // timer 3 s, then the window filled and shown.
    const Program folder(Services(n), /*initStart=*/true);
    if (pane) {
        // The history pane open from the start; the checks' results select
        // the rows it shows.
        std::ofstream(folder.file("conf/SysInit.ini"))
            << "[System]\nInitStart=1\nShowDetailPane=1\n";
    }
    return ProgramRssMb({VANTOR_LITE_BINARY}, folder.configHome(), folder.appDir(), 7s);
}

int Bare(int argc, char** argv) {
    QApplication application(argc, argv);
    QTreeWidget tree;
    tree.setColumnCount(8);
    QList<QTreeWidgetItem*> items;
    for (int i = 0; i < 1000; ++i) {
        QStringList texts;
        for (int c = 0; c < 8; ++c) {
            texts << QStringLiteral("cell %1 %2").arg(i).arg(c);
        }
        items << new QTreeWidgetItem(texts);
    }
    tree.addTopLevelItems(items);
    tree.resize(1024, 768);
    tree.show();
    QTimer::singleShot(60000, &application, &QCoreApplication::quit);
    return QApplication::exec();
}

// A check that ends at once, passed, without the network: its result goes
// the whole way back as a real one does (pool, completion, store, list,
// view), so that a burst of results measures the program alone.
class InstantCheck final : public vantor::engine::CheckWorkItem {
public:
    explicit InstantCheck(const vantor::engine::CheckSettings& settings)
        : CheckWorkItem("URL", settings) {}

protected:
    vantor::Status exchange(vantor::net::Deadline) override { return {}; }
};

struct Burst {
    double startMs = 0;  // the step that queued them, one stall of its own
    double p50Ms = 0;
    double p99Ms = 0;
    double maxMs = 0;
    // The GUI thread's CPU in the longest stall.
    double maxCpuMs = 0;
    double maxUserMs = 0;
    double seconds = 0;
    int passed = 0;
};

// Starts the program once the clock is at most `latestSecond` into its
// minute, so that its run falls where the caller wants it.
void StartBy(Program& program, int latestSecond) {
    while (QTime::currentTime().second() > latestSecond) {
        std::this_thread::sleep_for(500ms);
    }
    if (!program.start()) {
        std::fprintf(stderr, "bench_ui: the program did not start\n");
        std::exit(1);
    }
}

// What the probe saw, and how many rows passed.
void ReadStalls(const vantor::test::StallProbe& probe, Program& program, Burst& out) {
    out.p50Ms = probe.percentileMs(0.5);
    out.p99Ms = probe.percentileMs(0.99);
    out.maxMs = probe.maxMs();
    out.maxCpuMs = probe.longestGapCpuMs();
    out.maxUserMs = probe.longestGapUserMs();
    for (const auto& row : program.session().services().rows()) {
        out.passed += row.currentStatus == "Passed" ? 1 : 0;
    }
}

// The GUI thread's stalls while `checks` results come back in one burst,
// from the end of the step that queued them until every result is back.
// network: checks of that many URL services, all due at once, against a
// local HTTP server that answers each after `delay` (the start-up tick
// queues them); otherwise results without the network (InstantCheck),
// queued at once for services that are never due.
// scrapers: that many clients scrape the program's metrics endpoint over
// and over during the burst, beside 100 slow clients that send half a
// request and wait.
Burst ResultBurst(int checks, bool network, std::chrono::milliseconds delay = {},
                  int scrapers = 0) {
    // Answered at once, one connection at a time: a thread per connection
    // would take the CPU that the window is measured on. With a delay, a
    // thread per connection.
    vantor::test::FakeHttpServer server(
        vantor::test::FakeHttpServer::Delayed(
            vantor::test::HttpResponse("HTTP/1.1 200 OK", "", "ok"), delay),
        delay.count() == 0 ? vantor::test::FakeServer::Mode::OneAtATime
                           : vantor::test::FakeServer::Mode::Concurrent);
    Program program(network ? Services(checks, server.url("/")) : Services(checks),
                    /*initStart=*/true, 300ms);
    int metricsPort = 0;
    if (scrapers > 0) {
        {
            const vantor::test::ClosedPort free;
            metricsPort = free.port();
        }
        vantor::test::WriteFile(program.file("conf/SysInit.ini"),
                                "[System]\nInitStart=1\n[Metrics]\nListen=127.0.0.1:" +
                                    std::to_string(metricsPort) + "\n");
    }
    // The run stays within one minute: a second tick would queue them again.
    StartBy(program, 40);
    auto& session = program.session();
    // The writer writes the whole list again as soon as it has written it.
    session.store().setResultWriteInterval(0ms);
    vantor::test::StallProbe probe;
    probe.start();
    probe.runUntil([&] { return program.window().initialised(); }, 10000);
    if (!network) {
        for (const auto& row : session.services().rows()) {
            vantor::engine::CheckSettings settings;
            settings.serviceKey = row.id;
            settings.host = row.ip;
            session.engine().QueueOnPool(std::make_unique<InstantCheck>(settings));
        }
    }
    // The start-up step (with its tick), and the queueing: once the probe
    // has ticked again, they are the longest gap so far.
    probe.settle();
    Burst out;
    out.startMs = probe.maxMs();
    // The scrapers are another process, as Prometheus would be: wrk with
    // that many connections open at once, each scraping again as soon as
    // its answer is in; and 100 slow clients that send half a request.
    pid_t storm = -1;
    std::vector<int> slow;
    if (scrapers > 0) {
        for (int i = 0; i < 100; ++i) {
            slow.push_back(vantor::test::HalfRequest(metricsPort));
        }
        storm = ::fork();
        if (storm == 0) {
            // Scrapers run on other machines: here they get what CPU the
            // program leaves (on two cores wrk alone takes one).
            ::setpriority(PRIO_PROCESS, 0, vantor::test::WrkNice());
            const std::string connections = "-c" + std::to_string(scrapers);
            const std::string url = "http://127.0.0.1:" + std::to_string(metricsPort) + "/metrics";
            ::execl("/usr/bin/wrk", "wrk", "-t2", connections.c_str(), "-d60s", url.c_str(),
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        // Under way before the burst is watched.
        std::this_thread::sleep_for(1s);
    }
    probe.restart();
    QElapsedTimer run;
    run.start();
    if (!probe.runUntil([&] { return session.outstanding() == 0; }, 120000)) {
        std::fprintf(stderr, "bench_ui: the results did not all come back\n");
        std::exit(1);
    }
    out.seconds = static_cast<double>(run.elapsed()) / 1000.0;
    // Beside a storm, the window is watched for 20 s of it.
    if (scrapers > 0) {
        probe.runUntil([&] { return run.elapsed() > 20000; }, 30000);
    }
    probe.stop();
    if (storm > 0) {
        ::kill(storm, SIGTERM);
        ::waitpid(storm, nullptr, 0);
    }
    for (const int fd : slow) {
        ::close(fd);
    }
    ReadStalls(probe, program, out);
    Close(program);
    return out;
}

// n URL services due every minute against the local server: once the
// start-up round is back, the GUI thread is watched from before the next
// minute's tick until the round it dispatches is back.
struct Round {
    Burst stalls;
    double peakMb = 0;
};

Round NextMinuteRound(int n) {
    vantor::test::FakeHttpServer server(
        vantor::test::FakeHttpServer::Delayed(
            vantor::test::HttpResponse("HTTP/1.1 200 OK", "", "ok"), 0ms),
        vantor::test::FakeServer::Mode::OneAtATime);
    Program program(Services(n, server.url("/")), /*initStart=*/true, 300ms);
    // The start-up round early in a minute, so that it is back before the
    // next tick.
    StartBy(program, 5);
    auto& session = program.session();
    vantor::test::StallProbe probe;
    probe.start();
    if (!probe.runUntil(
            [&] { return program.window().initialised() && session.outstanding() == 0; }, 120000)) {
        std::fprintf(stderr, "bench_ui: the start-up round did not come back\n");
        std::exit(1);
    }
    const int minute = QTime::currentTime().minute();
    probe.restart();
    QElapsedTimer run;
    bool ticked = false;
    const bool back = probe.runUntil(
        [&] {
            if (!ticked && session.outstanding() > 0 && QTime::currentTime().minute() != minute) {
                ticked = true;
                run.start();
            }
            return ticked && session.outstanding() == 0;
        },
        180000);
    if (!back) {
        std::fprintf(stderr, "bench_ui: the next minute's round did not come back\n");
        std::exit(1);
    }
    probe.stop();
    Round out;
    out.stalls.seconds = static_cast<double>(run.elapsed()) / 1000.0;
    ReadStalls(probe, program, out.stalls);
    out.peakMb = static_cast<double>(VmHwmKb(::getpid())) / 1024.0;
    Close(program);
    return out;
}

void Large(int n) {
    const double fill = FillMs(n);
    const Round round = NextMinuteRound(n);
    const Burst& b = round.stalls;
    std::printf("%-64s %9.1f ms %10s\n", ("fill " + std::to_string(n) + " services").c_str(), fill,
                "< 300 ms");
    std::printf("%-64s %9.1f ms %10s\n", "GUI stall over the next tick and its round, p50", b.p50Ms,
                "-");
    std::printf("%-64s %9.1f ms %10s\n", "GUI stall over the next tick and its round, p99", b.p99Ms,
                "-");
    std::printf("%-64s %9.1f ms %10s\n", "GUI stall over the next tick and its round, max", b.maxMs,
                "< 50 ms");
    std::printf("%-64s %9.1f ms %10s\n", "  the GUI thread's CPU time in the longest", b.maxCpuMs,
                "-");
    std::printf("%-64s %9.1f s  %10s\n", "  results back after the tick", b.seconds, "-");
    std::printf("%-64s %12d %10d\n", "  of which passed", b.passed, n);
    std::printf("%-64s %9.1f MB %10s\n", "peak RSS (window, checks and the local server)",
                round.peakMb, "< 400 MB");
}

void PrintBurst(const std::string& what, const Burst& b, int checks) {
    std::printf("%-58s %9.1f ms %10s\n", (what + ", p50").c_str(), b.p50Ms, "-");
    std::printf("%-58s %9.1f ms %10s\n", (what + ", p99").c_str(), b.p99Ms, "< 16 ms");
    std::printf("%-58s %9.1f ms %10s\n", (what + ", max").c_str(), b.maxMs, "< 16 ms");
    std::printf("%-58s %9.1f ms %10s\n", "  the GUI thread's CPU time in the longest", b.maxCpuMs,
                "-");
    std::printf("%-58s %9.1f ms %10s\n", "  the step that queued them (one stall)", b.startMs, "-");
    std::printf("%-58s %9.1f s  %10s\n", "  results back after", b.seconds, "-");
    std::printf("%-58s %12d %10d\n", "  of which passed", b.passed, checks);
}

// The burst both ways, with the window open and the writer writing in a
// loop.
void Bursts(int checks) {
    const std::string n = std::to_string(checks);
    PrintBurst("GUI stall, " + n + " results in one burst", ResultBurst(checks, false), checks);
    PrintBurst("GUI stall, " + n + " checks on loopback in one burst", ResultBurst(checks, true),
               checks);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--bare") {
        return Bare(argc, argv);
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);

    if (argc > 1 && std::string(argv[1]) == "--burst") {
        Bursts(argc > 2 ? std::atoi(argv[2]) : 10000);
        return 0;
    }
    if (argc > 1 && std::string(argv[1]) == "--large") {
        Large(argc > 2 ? std::atoi(argv[2]) : 100000);
        return 0;
    }
    if (argc > 1 && std::string(argv[1]) == "--scrape-storm") {
        const int scrapers = argc > 2 ? std::atoi(argv[2]) : 1000;
        const Burst b = ResultBurst(300, true, 100ms, scrapers);
        std::printf(
            "GUI stall, 300 checks in flight (100 ms) beside %d scrapers (wrk at nice %d) and "
            "100 slow clients: p50 %.1f ms  p99 %.1f ms  max %.1f ms (%d passed in %.1f s)\n",
            scrapers, vantor::test::WrkNice(), b.p50Ms, b.p99Ms, b.maxMs, b.passed, b.seconds);
        std::printf(
            "  the GUI thread's CPU time in the longest: %.1f ms, of it in its own code %.1f ms "
            "(the rest the kernel's: system calls and the interrupts that came while it ran)\n",
            b.maxCpuMs, b.maxUserMs);
        return 0;
    }
    if (std::getenv("BENCH_UI_STALL_ONLY") != nullptr) {
        const Burst b = ResultBurst(300, true, 100ms);
        std::printf("longest GUI stall, 300 checks in flight: %.1f ms (%d passed)\n", b.maxMs,
                    b.passed);
        return 0;
    }
    const double fill1k = FillMs(1000);
    const double fill10k = FillMs(10000);
    const double result10k = OneResultMs(10000);
    const Burst inFlight = ResultBurst(300, true, 100ms);
    const double rss1k = ProgramRss(1000);
    const double rss10k = ProgramRss(10000);
    const double rssPane = ProgramRss(1000, /*pane=*/true);
    const double bare = ProgramRssMb({argv[0], "--bare"}, {}, {}, 3s);

    std::printf("%-52s %12s %12s\n", "measurement", "value", "target");
    std::printf("%-52s %9.2f ms %12s\n", "fill 1,000 services", fill1k, "-");
    std::printf("%-52s %9.2f ms %12s\n", "fill 10,000 services", fill10k, "< 100 ms");
    std::printf("%-52s %9.3f ms %12s\n", "one result on a shown row, 10,000 rows", result10k,
                "< 1 ms");
    std::printf("%-52s %9.1f MB %12s\n", "peak RSS of vantor-lite, 1,000 services", rss1k,
                "< 45 MB");
    std::printf("%-52s %9.1f MB %12s\n", "peak RSS of vantor-lite, 10,000 services", rss10k,
                "< 70 MB");
    std::printf("%-52s %9.1f MB %12s\n", "peak RSS, 1,000 services, history pane open", rssPane,
                "< 50 MB");
    std::printf("%-52s %9.1f MB %12s\n", "peak RSS of a bare Qt window, 1,000-row tree", bare, "-");
    std::printf("%-52s %9.1f ms %12s\n", "longest GUI stall, 300 checks in flight (100 ms)",
                inFlight.maxMs, "< 50 ms");
    std::printf("%-52s %12d %12s\n", "  of which passed", inFlight.passed, "300");
    Bursts(10000);
    return 0;
}
