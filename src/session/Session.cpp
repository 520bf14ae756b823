// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/Session.h"

#include "alarm/AlarmQueue.h"
#include "app/AtomicFile.h"
#include "app/Clock.h"
#include "app/Messages.h"
#include "app/NetworkProbe.h"
#include "app/Poster.h"
#include "app/Reporter.h"
#include "app/UnexpectedError.h"
#include "app/Words.h"
#include "engine/MonitorEngine.h"
#include "engine/ServicePolicy.h"
#include "pool/ThreadPoolManager.h"
#include "registry/ServiceRecord.h"

namespace vantor::session {

using app::LogLevel;
using app::MessageBoxKind;
namespace msg = app::msg;

Session::Session(const std::string& userConfigFile, app::OwnerThread& owner,
                 app::Reporter& reporter, const app::Clock& clock)
    : m_owner(owner),
      m_reporter(reporter),
      m_clock(clock),
      m_paths(app::LocateApplication(userConfigFile)),
      m_log(m_paths, m_settings, m_clock, m_reporter),
      m_store(m_paths.serviceFilePath()),
      m_settingsFile(m_paths, m_reporter, m_log, [this] { app::ProbeNetwork(m_reporter, m_log); }),
      m_edits(m_store, m_services, m_hosts, m_health, m_log),
      m_ticker(m_clock),
      m_alive(std::make_shared<Session*>(this)) {}

Session::~Session() {
    *m_alive = nullptr;
}

bool Session::startUp() {
    if (!m_paths.refusal().empty()) {
        m_reporter.showBox(MessageBoxKind::Error, m_paths.refusal());
        return false;
    }
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
    auto instance = app::SingleInstance::acquire(m_paths.confDirPath());
    if (const auto* refused = std::get_if<app::SingleInstance::Refused>(&instance)) {
        if (refused->alreadyRunning) {
            m_reporter.showBox(MessageBoxKind::Warning, msg::kAlreadyStartup);
        } else {
            // Not another instance: the lock itself failed, and says why.
            m_reporter.showBox(MessageBoxKind::Error, refused->error);
        }
        return false;
    }
    m_instance.emplace(std::move(std::get<app::SingleInstance>(instance)));
    // A write the last run never finished left a whole copy behind (with
    // passwords of records deleted since): no other writer runs now.
    app::RemoveStaleTemporaries(m_paths.serviceFilePath());
    app::RemoveStaleTemporaries(m_paths.settingsFile());
    return openServiceStore() && !m_reporter.terminateRequested();
}

// Opens service.xml, creating it from the template first when there is none.
// A file that cannot be opened is never written to.
bool Session::openServiceStore() {
    if (!m_store.ServiceFileExists()) {
        const Status created = m_store.CreateServiceFile();
        if (!created) {
            m_reporter.showBox(MessageBoxKind::Error, std::string(msg::kServiceXmlCreationErrors) +
                                                          " : " + created.error());
            m_log.WriteSystemLog(msg::kServiceXmlCreationErrors, LogLevel::Error);
            return false;
        }
    }
    // Results held back while the writer wrote are applied on this thread.
    m_store.setOwner(&m_owner);
    // A failed write of results is logged on the owner thread; the next
    // result tries again.
    m_store.setWriteFailedHandler(
        [this, alive = std::weak_ptr<Session*>(m_alive)](const std::string& error) {
            m_owner.post([alive, error] {
                const auto self = alive.lock();
                if (self && *self != nullptr) {
                    (*self)->m_log.WriteSystemLog(
                        std::string(msg::kCannotSaveServiceXml) + " : " + error, LogLevel::Error);
                }
            });
        });
    // An operator's edit of the file is taken in, on this thread, before
    // anything is written over it.
    m_store.onReloaded = [this] {
        m_log.WriteSystemLog(msg::kServiceXmlReloaded, LogLevel::Info);
        // The lists follow on the next turn: the caller may hold row numbers.
        m_owner.post([this, alive = std::weak_ptr<Session*>(m_alive)] {
            if (const auto self = alive.lock(); self && *self != nullptr && started()) {
                m_edits.refill();
            }
        });
    };
    m_store.setChangedOnDiskHandler([this, alive = std::weak_ptr<Session*>(m_alive)] {
        m_owner.post([alive] {
            const auto self = alive.lock();
            if (self && *self != nullptr) {
                (*self)->guarded([&] {
                    const Status taken = (*self)->m_store.TakeChangesOnDisk();
                    if (!taken) {
                        (*self)->m_log.WriteSystemLog(
                            std::string(msg::kCannotSaveServiceXml) + " : " + taken.error(),
                            LogLevel::Error);
                    }
                });
            }
        });
    });
    const Status opened = m_store.OpenServiceFile(true);
    if (!opened) {
        m_reporter.showBox(MessageBoxKind::Error,
                           std::string(msg::kServiceXmlCorrupted) + " : " + opened.error());
        m_log.WriteSystemLog(msg::kServiceXmlCorrupted, LogLevel::Error);
        return false;
    }
    return true;
}

bool Session::loadSettings() {
    m_settingsFile.LoadSettings(m_settings);
    return !m_reporter.terminateRequested();
}

void Session::createEngine() {
    if (started()) {
        return;
    }
    if (m_settings.historyEnable) {
        history::HistorySettings kept;
        kept.rawKeepDays = m_settings.historyRawKeepDays;
        kept.hourlyKeepDays = m_settings.historyHourlyKeepDays;
        kept.dailyKeepDays = m_settings.historyDailyKeepDays;
        kept.maxMB = m_settings.historyMaxMB;
        m_history =
            std::make_unique<history::HistoryStore>(m_paths.historyDirPath(), kept, m_log, m_clock);
    }
    m_parts = engine::WireEngine(
        {m_settings, m_log, m_reporter, m_clock, m_owner, m_store, m_services, m_health, m_alarms},
        engine::PoolLimits{200, 100, 300});
    m_parts.engine->setHistory(m_history.get());
    m_edits.setHistory(m_history.get());
    createMetrics();
    if (auto urls = alarm::AlertmanagerSink::ParseList(m_settings.alertmanagerUrl); !urls.empty()) {
        m_alertmanager = std::make_unique<alarm::AlertmanagerSink>(std::move(urls), m_log);
        m_parts.engine->setAlertmanager(m_alertmanager.get());
    }
    m_edits.onKeyChanged = [this](const std::string& oldKey, const std::string& newKey) {
        m_parts.engine->keyChanged(oldKey, newKey);
    };
    // An alarm policy that counts verdicts (failures in a row, reminders,
    // flapping) takes up where the last run left off: its state comes back
    // from the history before any alarm of this run is decided.
    // A service with a policy of its own counts verdicts as well.
    bool ownPolicy = false;
    if (m_history) {
        m_store.forEachRecord([&ownPolicy](const registry::ServiceRecord& record) {
            ownPolicy = ownPolicy || engine::CountsOwnVerdicts(record);
        });
    }
    if (m_history && (ownPolicy || !alarm::PolicySettings::From(m_settings).isDefault())) {
        m_parts.engine->holdAlarmsUntilRebuilt();
        m_history->recentVerdicts(
            alarm::AlarmPolicy::kFlapWindow, [this](std::vector<history::Verdict> recent) {
                m_owner.post(
                    [this, recent = std::move(recent)] { m_parts.engine->policyRebuilt(recent); });
            });
    }
    m_edits.refill(words::kAll);
}

void Session::createMetrics() {
    metrics::MetricsSettings wanted;
    wanted.listen = m_settings.metricsListen;
    wanted.webConfig = m_settings.metricsWebConfig;
    wanted.textfileDir = m_settings.metricsTextfileDir;
    if (!wanted.any()) {
        return;
    }
    metrics::MetricsRegistry::UptimeSource uptime;
    if (m_history) {
        // The writer keeps each service's summary once someone listens.
        if (!m_summariesShown) {
            m_history->setOnSummaries([](std::vector<std::string>) {});
        }
        uptime = [history = m_history.get()](const std::string& key) {
            metrics::MetricsRegistry::Uptime out;
            if (const auto summary = history->summary(key)) {
                const auto ratio = [](const history::Counts& c) -> std::optional<double> {
                    if (c.checks <= 0) {
                        return std::nullopt;
                    }
                    return static_cast<double>(c.checks - c.failed) / static_cast<double>(c.checks);
                };
                out.day = ratio(summary->day);
                out.month = ratio(summary->month);
            }
            return out;
        };
    }
    m_metrics = std::make_unique<metrics::MetricsExporter>(wanted, m_log, std::move(uptime));
    m_metrics->follow(*m_parts.engine, *m_parts.alarmQueue, m_clock);
    m_edits.setMetrics(m_metrics.get());
}

void Session::showHistoryInList() {
    if (!m_history) {
        return;
    }
    m_services.setHistory(m_history.get());
    m_summariesShown = true;
    // From the writer thread to the owner: the rows are the owner's.
    m_history->setOnSummaries([this](std::vector<std::string> keys) {
        m_owner.post([this, keys = std::move(keys)] { m_services.historyChanged(keys); });
    });
}

void Session::start() {
    if (m_ticking) {
        return;
    }
    m_ticking = true;
    createEngine();

    // Scheduling as InitStart says, and one tick at once whatever it says.
    m_parts.engine->SetSchedulingState(m_settings.initStart);
    m_ticker.claimCurrentMinute();
    guarded([this] { m_parts.engine->TimerServiceTimer(); });
    armMinuteTimer();
    armHouseKeeping();
}

void Session::guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        app::ApplicationEventsException(m_reporter, m_log, e.what());
    } catch (...) {
        app::ApplicationEventsException(m_reporter, m_log, "unknown error");
    }
}

void Session::armMinuteTimer() {
    m_owner.runLater(m_ticker.delayToNextMinute(), [alive = std::weak_ptr<Session*>(m_alive)] {
        const auto self = alive.lock();
        if (!self || *self == nullptr) {
            return;
        }
        Session& session = **self;
        if (!session.m_parts.engine) {
            return;  // shut down
        }
        if (session.m_parts.engine->schedulingRunning() && !session.m_closing &&
            session.m_ticker.claimCurrentMinute()) {
            session.guarded([&session] { session.m_parts.engine->TimerServiceTimer(); });
        }
        session.armMinuteTimer();
    });
}

void Session::armHouseKeeping() {
    m_owner.runLater(std::chrono::hours(1), [alive = std::weak_ptr<Session*>(m_alive)] {
        const auto self = alive.lock();
        if (!self || *self == nullptr) {
            return;
        }
        (*self)->m_log.HouseKeepLogs();
        (*self)->armHouseKeeping();
    });
}

void Session::saveSettings() {
    if (m_settingsFile.changedOnDisk()) {
        m_settingsFile.LoadSettings(m_settings);
        m_log.WriteSystemLog(msg::kSysInitReloaded, LogLevel::Info);
    }
    m_settingsFile.SaveSettings(m_settings);
}

void Session::reload() {
    if (const Status taken = m_store.reloadNow(); !taken) {
        m_reporter.showBox(MessageBoxKind::Error,
                           std::string(msg::kServiceXmlCorrupted) + " : " + taken.error());
    }
    m_settingsFile.LoadSettings(m_settings);
    m_log.WriteSystemLog(msg::kSysInitReloaded, LogLevel::Info);
}

void Session::beginShutdown() {
    m_closing = true;
    if (m_parts.pool) {
        m_parts.pool->CancelAllWorkItems();
    }
}

void Session::hurry() {
    m_hurry = true;
}

bool Session::hasRunningWork() const {
    return m_parts.pool && m_parts.pool->ExecutingCount() > 0;
}

int Session::outstanding() const {
    if (!m_parts.engine) {
        return 0;
    }
    // Verdicts waiting for the alarm policy's state count as one.
    return m_parts.engine->outstanding() + m_parts.alarmQueue->outstanding() +
           (m_parts.engine->alarmsHeld() ? 1 : 0);
}

void Session::shutDown(Shutdown how, const std::function<void()>& beforeWait) {
    // Let running items finish; waiting ones complete as cancelled.
    if (hasRunningWork()) {
        m_parts.pool->CancelAllWorkItems();
        if (beforeWait) {
            beforeWait();
        }
        while (!m_parts.pool->waitUntilNoneExecuting(std::chrono::milliseconds(100)) && !m_hurry) {
        }
    }
    if (m_hurry && m_parts.pool) {
        // Checks still running are left to end on their own.
        m_parts.pool->setMaxWaitOnTerminate(0);
    }
    if (how == Shutdown::WaitAndLog && m_parts.engine) {
        m_parts.engine->SetSchedulingState(false);
    }
    if (m_paths.CheckConfDir()) {
        saveSettings();
    }
    const Status closed = m_store.OpenServiceFile(false);
    if (!closed) {
        // The results held are lost: said in the log too, and in the exit
        // status (a service manager reads no boxes).
        const std::string text = std::string(msg::kCannotSaveServiceXml) + " : " + closed.error();
        m_log.WriteSystemLog(text, LogLevel::Error);
        m_reporter.showBox(MessageBoxKind::Warning, text);
        m_lastSaveFailed = true;
    }
    m_parts.reset();
    m_edits.setMetrics(nullptr);
    m_metrics.reset();
    // What waits for an Alertmanager gets one more try.
    m_alertmanager.reset();
    // Every verdict is in; the writer writes them and stops.
    m_history.reset();
    if (m_paths.CheckLogDir()) {
        const bool noPrefix = m_settings.systemLogFilename.empty();
        m_log.WriteSystemLog(msg::kApplicationStops, LogLevel::Info);
        // A run that wrote its first line only now has just reset the prefix.
        if (noPrefix && m_paths.CheckConfDir()) {
            m_settingsFile.SaveSettings(m_settings);
        }
    }
    // Ended: another instance may start.
    m_instance.reset();
}

}  // namespace vantor::session
