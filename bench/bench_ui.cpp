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
//    Qt window with a 1,000-row tree widget. Targets: 45 MB and 70 MB.
//  - stall: 300 URL services due at once against a local HTTP server that
//    answers each request after 100 ms; the longest gap of a 5 ms timer on
//    the GUI thread beyond its interval, from the first tick until every
//    result is back. Target: 50 ms.
//
//   bench_ui            every measurement, with a table beside the targets
//   bench_ui --bare     (internal) the bare Qt window, prints its VmHWM
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
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

#include "engine/MonitorEngine.h"
#include "registry/ServiceStore.h"
#include "support/FakeHttpServer.h"
#include "support/GuiProgram.h"
#include "ui/GuiApp.h"
#include "ui/MessageBox.h"
#include "ui/TFormMenu.h"

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

double ProgramRss(int n) {
    // The folder only: the program itself runs on it. Splash 2 s, start-up
    // timer 3 s, then the window filled and shown.
    const Program folder(Services(n), /*initStart=*/true);
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

double LongestStallMs(int checks, int& cameBack) {
    vantor::test::FakeHttpServer server([](const vantor::test::SeenHttpRequest&, int) {
        std::this_thread::sleep_for(100ms);
        return vantor::test::HttpResponse("HTTP/1.1 200 OK", "", "ok");
    });
    Program program(Services(checks, server.url("/")), /*initStart=*/true, 300ms);
    QElapsedTimer clock;
    double longest = 0;
    qint64 last = -1;
    QTimer probe;
    probe.setInterval(5);
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (last >= 0) {
            const double gap = static_cast<double>(now - last) / 1e6 - 5.0;
            if (gap > longest) {
                longest = gap;
                if (std::getenv("BENCH_UI_TRACE") != nullptr) {
                    std::fprintf(stderr, "stall %.1f ms at %.1f ms\n", gap, now / 1e6);
                }
            }
        }
        last = now;
    });
    // The window made, then the probe runs from before the start-up timer,
    // whose first tick queues the 300 checks, until every result is back.
    if (!program.start()) {
        std::fprintf(stderr, "bench_ui: the program did not start\n");
        std::exit(1);
    }
    auto& session = program.session();
    clock.start();
    probe.start();
    while (!program.window().initialised()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    QElapsedTimer limit;
    limit.start();
    while ((session.outstanding() > 0 || limit.elapsed() < 500) && limit.elapsed() < 60000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    cameBack = 0;
    for (const auto& row : session.services().rows()) {
        cameBack += row.currentStatus == "Passed" ? 1 : 0;
    }
    probe.stop();
    Close(program);
    return longest;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--bare") {
        return Bare(argc, argv);
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);

    if (std::getenv("BENCH_UI_STALL_ONLY") != nullptr) {
        int passed = 0;
        const double stall = LongestStallMs(300, passed);
        std::printf("longest GUI stall, 300 checks in flight: %.1f ms (%d passed)\n", stall,
                    passed);
        return 0;
    }
    const double fill1k = FillMs(1000);
    const double fill10k = FillMs(10000);
    const double result10k = OneResultMs(10000);
    int passed = 0;
    const double stall = LongestStallMs(300, passed);
    const double rss1k = ProgramRss(1000);
    const double rss10k = ProgramRss(10000);
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
    std::printf("%-52s %9.1f MB %12s\n", "peak RSS of a bare Qt window, 1,000-row tree", bare, "-");
    std::printf("%-52s %9.1f ms %12s\n", "longest GUI stall, 300 checks in flight (100 ms)", stall,
                "< 50 ms");
    std::printf("%-52s %12d %12s\n", "  of which passed", passed, "300");
    return 0;
}
