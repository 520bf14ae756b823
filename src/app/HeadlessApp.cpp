#include "app/HeadlessApp.h"

#include <signal.h>

#include <atomic>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <thread>

#include "alarm/AlarmListModel.h"
#include "alarm/ThreadSMS.h"
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
#include "app/UnexpectedError.h"
#include "engine/MinuteTicker.h"
#include "engine/MonitorEngine.h"
#include "engine/ServiceListModel.h"
#include "engine/ThreadPoolManager.h"
#include "registry/ServiceStore.h"

namespace vantor::app {

namespace {

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

// Most checks of --check-now in flight at once: each may raise up to four
// alarms, and the pool holds 300 items (200 running, 100 waiting), so the
// senders of a burst of failures always find room.
constexpr int kCheckNowInFlight = 50;

class Headless final {
public:
    explicit Headless(const HeadlessOptions& options)
        : m_options(options),
          m_reporter([this] { m_loop.quit(1); }),
          m_paths(GetAppPath(options.userConfigFile)),
          m_log(m_paths, m_settings, m_clock, m_reporter),
          m_store(m_paths.serviceFilePath(), m_reporter),
          m_settingsFile(m_paths, m_reporter, m_log, [this] { ProbeNetwork(m_reporter, m_log); }),
          m_ticker(m_clock) {}

    int run();

private:
    bool startUp();
    void createEngine();
    int monitor();
    int checkNow();
    void shutDown(bool logSchedulingStop);
    // Runs a handler as the owner thread's event: what escapes it goes to
    // the process-wide handler.
    void guarded(const std::function<void()>& handler);
    void armMinuteTimer();
    void armHouseKeeping();

    HeadlessOptions m_options;
    EventLoop m_loop;
    ConsoleReporter m_reporter;
    const Clock& m_clock = SystemClock::instance();
    AppPaths m_paths;
    AppSettings m_settings;
    SystemLog m_log;
    registry::ServiceStore m_store;
    SettingsFile m_settingsFile;
    std::optional<SingleInstance> m_instance;
    engine::ServiceListModel m_services;
    alarm::AlarmListModel m_alarms;
    std::unique_ptr<engine::ThreadPoolManager> m_pool;
    std::unique_ptr<engine::MonitorEngine> m_engine;
    engine::MinuteTicker m_ticker;
};

int Headless::run() {
    // Every thread started from here on inherits the blocked signals, so
    // only the watcher sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    const bool checkNowMode = m_options.mode == HeadlessOptions::Mode::CheckNow;
    if (!startUp()) {
        return checkNowMode ? 2 : 1;
    }
    createEngine();
    return checkNowMode ? checkNow() : monitor();
}

bool Headless::startUp() {
    if (!m_paths.CheckLogDir()) {
        m_reporter.showBox(MessageBoxKind::Error, msg::kSystemLogDirNotFound);
        return false;
    }
    if (!m_paths.CheckConfDir()) {
        ReportFailure(m_reporter, m_log, msg::kSystemInitDirNotFound, MessageBoxKind::Error,
                      LogLevel::Error);
        return false;
    }
    if (!m_paths.CheckHelpFile()) {
        ReportFailure(m_reporter, m_log, msg::kHelpFileNotFound, MessageBoxKind::Warning,
                      LogLevel::Warming);
    }
    if (m_reporter.terminateRequested()) {
        return false;
    }
    Expected<SingleInstance> instance = SingleInstance::acquire();
    if (!instance) {
        m_reporter.showBox(MessageBoxKind::Warning, msg::kAlreadyStartup);
        return false;
    }
    m_instance.emplace(std::move(instance).value());
    if (!OpenServiceStore(m_store, m_reporter, m_log) || m_reporter.terminateRequested()) {
        return false;
    }
    m_settingsFile.LoadSettings(m_settings);
    return !m_reporter.terminateRequested();
}

void Headless::createEngine() {
    m_pool = std::make_unique<engine::ThreadPoolManager>(m_loop, m_clock);
    m_pool->setMaxPooled(200);
    m_pool->setMaxQueueLength(100);
    m_pool->setMaxQueuedTime(300);
    m_engine = std::make_unique<engine::MonitorEngine>(m_settings, m_log, m_reporter, m_clock,
                                                       m_store, *m_pool, m_services, m_alarms);
    m_pool->setCompletionCallback([this](engine::ThreadPoolManager& pool, engine::WorkItem& item) {
        m_engine->OnWorkItemDone(pool, item);
    });
    m_pool->setErrorCallback([this](const std::string& text) {
        m_log.WriteSystemLog(std::string(msg::kAlarmingThreadError) + " : " + text,
                             LogLevel::Error);
    });
    m_engine->alarmQueue().setSmsSenderFactory(
        [](const AppSettings& settings, const std::string& target, const std::string& text) {
            return std::make_unique<alarm::ThreadSMS>(alarm::SmsSettingsFrom(settings, target),
                                                      text);
        });
    m_services.Fill(m_store, "ALL");
}

void Headless::guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        ApplicationEventsException(m_reporter, m_log, e.what());
    } catch (...) {
        ApplicationEventsException(m_reporter, m_log, "unknown error");
    }
}

void Headless::armMinuteTimer() {
    m_loop.postDelayed(m_ticker.delayToNextMinute(), [this] {
        if (m_engine->schedulingRunning() && m_ticker.claimCurrentMinute()) {
            guarded([this] { m_engine->TimerServiceTimer(); });
        }
        armMinuteTimer();
    });
}

void Headless::armHouseKeeping() {
    m_loop.postDelayed(std::chrono::hours(1), [this] {
        m_log.HouseKeepLogs();
        armHouseKeeping();
    });
}

int Headless::monitor() {
    // What the window's start-up timer does: scheduling as InitStart says,
    // and one tick at once whatever it says.
    m_engine->SetSchedulingState(m_settings.initStart);
    m_ticker.claimCurrentMinute();
    guarded([this] { m_engine->TimerServiceTimer(); });
    armMinuteTimer();
    armHouseKeeping();

    int exitCode = 1;
    if (!m_reporter.terminateRequested()) {
        SignalWatcher watcher(m_loop);
        if (m_options.announceReady) {
            std::printf("Vantor Lite is running without windows; SIGTERM or SIGINT stops it.\n");
            std::fflush(stdout);
        }
        exitCode = m_loop.run();
    }
    shutDown(true);
    return m_reporter.terminateRequested() ? 1 : exitCode;
}

int Headless::checkNow() {
    std::deque<std::string> pending;
    for (const registry::ServiceRecord& record : m_store.records()) {
        if (record.text("status") == "Start") {
            pending.emplace_back(record.key());
        }
    }
    std::vector<std::string> order(pending.begin(), pending.end());
    std::map<std::string, std::pair<std::string, std::string>> results;
    m_engine->onProductResult = [&](const engine::CheckResult& r, bool retried) {
        // A retried failure is replaced by its repeat's result.
        results[r.serviceKey] = {retried ? "Retry" : r.statusWord, r.detail};
    };
    auto refill = [&] {
        while (!pending.empty() && m_engine->outstanding() < kCheckNowInFlight) {
            const std::string key = pending.front();
            pending.pop_front();
            try {
                m_engine->DispatchServiceByKey(key);
            } catch (const std::exception& e) {
                results[key] = {engine::kFailed, e.what()};
                ApplicationEventsException(m_reporter, m_log, e.what());
            }
        }
    };
    {
        SignalWatcher watcher(m_loop);
        while (!m_loop.quitRequested()) {
            refill();
            if (pending.empty() && m_engine->outstanding() == 0) {
                break;
            }
            // Run completions until there is room for more checks, or all is done.
            m_loop.runUntil(
                [&] {
                    return (!pending.empty() && m_engine->outstanding() < kCheckNowInFlight) ||
                           m_engine->outstanding() == 0;
                },
                std::chrono::seconds(1));
        }
    }
    bool anyFailed = false;
    for (const std::string& key : order) {
        const auto found = results.find(key);
        std::string word;
        std::string detail;
        if (found != results.end()) {
            word = found->second.first;
            detail = found->second.second;
        } else if (const auto record = m_store.findRecord(key)) {
            word = std::string(record->text("service_status"));  // a kind with no check
        }
        // A kind without a check (Database) has no result and decides nothing.
        if (found != results.end() && word != engine::kPassed) {
            anyFailed = true;
        }
        std::printf("%s\t%s\t%s\n", key.c_str(), word.c_str(), detail.c_str());
    }
    for (const alarm::AlarmRow& row : m_alarms.rows()) {
        std::printf("ALARM\t%s\t%s\t%s\n", row.method.c_str(), row.status.c_str(),
                    row.target.c_str());
    }
    std::fflush(stdout);
    shutDown(false);
    if (m_reporter.terminateRequested()) {
        return 2;
    }
    return anyFailed ? 1 : 0;
}

void Headless::shutDown(bool logSchedulingStop) {
    // Let running items finish; waiting ones complete as cancelled.
    if (m_pool && m_pool->ExecutingCount() > 0) {
        m_pool->CancelAllWorkItems();
        m_pool->waitUntilNoneExecuting(std::chrono::hours(24));
    }
    if (logSchedulingStop && m_engine) {
        m_engine->SetSchedulingState(false);
    }
    if (m_paths.CheckConfDir()) {
        m_settingsFile.SaveSettings(m_settings);
    }
    const Status closed = m_store.OpenServiceFile(false);
    if (!closed) {
        m_reporter.showBox(MessageBoxKind::Warning,
                           std::string(msg::kCannotSaveServiceXml) + " : " + closed.error());
    }
    m_engine.reset();
    m_pool.reset();
    if (m_paths.CheckLogDir()) {
        const bool noPrefix = m_settings.systemLogFilename.empty();
        m_log.WriteSystemLog(msg::kApplicationStops, LogLevel::Info);
        // A run that wrote its first line only now has just reset the prefix.
        if (noPrefix && m_paths.CheckConfDir()) {
            m_settingsFile.SaveSettings(m_settings);
        }
    }
}

}  // namespace

int RunHeadless(const HeadlessOptions& options) {
    Headless app(options);
    return app.run();
}

}  // namespace vantor::app
