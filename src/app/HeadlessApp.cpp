#include "app/HeadlessApp.h"

#include <signal.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <thread>

#include "app/AppPaths.h"
#include "app/AppSettings.h"
#include "app/Clock.h"
#include "app/EventLoop.h"
#include "app/Messages.h"
#include "app/NetworkProbe.h"
#include "app/Reporter.h"
#include "app/SettingsFile.h"
#include "app/SingleInstance.h"
#include "app/SystemLog.h"
#include "engine/ThreadPoolManager.h"
#include "registry/ServiceStore.h"

namespace vantor::app {

namespace {

constexpr int kExitFailure = 1;

// Waits for SIGTERM or SIGINT (blocked in every thread) and asks the loop to
// stop when one arrives.
class SignalWatcher final {
public:
    explicit SignalWatcher(EventLoop& loop) : m_loop(loop) {
        m_thread = std::thread([this] { watch(); });
    }
    ~SignalWatcher() {
        m_stop = true;
        m_thread.join();
    }
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

private:
    void watch() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGINT);
        const timespec poll{0, 200'000'000};
        while (!m_stop) {
            if (sigtimedwait(&set, nullptr, &poll) > 0) {
                m_loop.quit(0);
            }
        }
    }

    EventLoop& m_loop;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// Opens service.xml, creating it from the template first when there is none.
// A file that cannot be opened is never written to.
bool OpenServiceStore(registry::ServiceStore& store, Reporter& reporter, SystemLog& log) {
    if (!store.ServiceFileExists()) {
        const Status created = store.CreateServiceFile();
        if (!created) {
            reporter.showBox(MessageBoxKind::Error,
                             std::string(msg::kServiceXmlCreationErrors) + " : " + created.error());
            log.WriteSystemLog(msg::kServiceXmlCreationErrors, LogLevel::Error);
            return false;
        }
    }
    const Status opened = store.OpenServiceFile(true);
    if (!opened) {
        reporter.showBox(MessageBoxKind::Error,
                         std::string(msg::kServiceXmlCorrupted) + " : " + opened.error());
        log.WriteSystemLog(msg::kServiceXmlCorrupted, LogLevel::Error);
        return false;
    }
    return true;
}

}  // namespace

int RunHeadless(const HeadlessOptions& options) {
    // Every thread started from here on inherits the blocked signals, so
    // only the watcher sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    EventLoop loop;
    ConsoleReporter reporter([&loop] { loop.quit(kExitFailure); });
    const Clock& clock = SystemClock::instance();

    AppPaths paths(GetAppPath(options.userConfigFile));
    AppSettings settings;
    SystemLog log(paths, settings, clock, reporter);

    if (!paths.CheckLogDir()) {
        reporter.showBox(MessageBoxKind::Error, msg::kSystemLogDirNotFound);
        return kExitFailure;
    }
    if (!paths.CheckConfDir()) {
        ReportFailure(reporter, log, msg::kSystemInitDirNotFound, MessageBoxKind::Error,
                      LogLevel::Error);
        return kExitFailure;
    }
    if (!paths.CheckHelpFile()) {
        ReportFailure(reporter, log, msg::kHelpFileNotFound, MessageBoxKind::Warning,
                      LogLevel::Warming);
    }
    if (reporter.terminateRequested()) {
        return kExitFailure;
    }

    Expected<SingleInstance> instance = SingleInstance::acquire();
    if (!instance) {
        reporter.showBox(MessageBoxKind::Warning, msg::kAlreadyStartup);
        return kExitFailure;
    }

    registry::ServiceStore store(paths.serviceFilePath(), reporter);
    if (!OpenServiceStore(store, reporter, log) || reporter.terminateRequested()) {
        return kExitFailure;
    }

    SettingsFile settingsFile(paths, reporter, log, [&] { ProbeNetwork(reporter, log); });
    settingsFile.LoadSettings(settings);

    auto pool = std::make_unique<engine::ThreadPoolManager>(loop, clock);
    pool->setMaxPooled(200);
    pool->setMaxQueueLength(100);
    pool->setMaxQueuedTime(300);
    pool->setErrorCallback([&](const std::string& text) {
        log.WriteSystemLog(std::string(msg::kAlarmingThreadError) + " : " + text, LogLevel::Error);
    });

    // Housekeeping of old log files every hour from start-up.
    std::function<void()> houseKeep = [&] {
        log.HouseKeepLogs();
        loop.postDelayed(std::chrono::hours(1), houseKeep);
    };
    loop.postDelayed(std::chrono::hours(1), houseKeep);

    int exitCode = kExitFailure;
    if (!reporter.terminateRequested()) {
        SignalWatcher watcher(loop);
        if (options.announceReady) {
            std::printf("Vantor Lite is running without windows; SIGTERM or SIGINT stops it.\n");
            std::fflush(stdout);
        }
        exitCode = loop.run();
    }

    // Let running items finish; waiting ones complete as cancelled.
    if (pool->ExecutingCount() > 0) {
        pool->CancelAllWorkItems();
        pool->waitUntilNoneExecuting(std::chrono::hours(24));
    }
    if (paths.CheckConfDir()) {
        settingsFile.SaveSettings(settings);
    }
    const Status closed = store.OpenServiceFile(false);
    if (!closed) {
        reporter.showBox(MessageBoxKind::Warning,
                         std::string(msg::kCannotSaveServiceXml) + " : " + closed.error());
    }
    pool.reset();
    if (paths.CheckLogDir()) {
        log.WriteSystemLog(msg::kApplicationStops, LogLevel::Info);
    }
    return reporter.terminateRequested() ? kExitFailure : exitCode;
}

}  // namespace vantor::app
