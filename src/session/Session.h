// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "alarm/AlarmListModel.h"
#include "alarm/AlertmanagerSink.h"
#include "app/AppPaths.h"
#include "app/AppSettings.h"
#include "app/SettingsFile.h"
#include "app/SingleInstance.h"
#include "app/SystemLog.h"
#include "engine/EngineWiring.h"
#include "engine/HostListModel.h"
#include "engine/MinuteTicker.h"
#include "engine/ServiceHealth.h"
#include "engine/ServiceListModel.h"
#include "history/HistoryStore.h"
#include "metrics/MetricsExporter.h"
#include "registry/ServiceStore.h"
#include "session/ServiceEdits.h"

namespace vantor::app {
class Clock;
class OwnerThread;
class Reporter;
}  // namespace vantor::app

namespace vantor::session {

// The monitor without its front end: the start-up checks, the single
// instance, the service list and the settings, then the pool, the alarm
// queue and the engine with the minute tick and the hourly housekeeping, and
// the two ways to shut down. Every front end (windows, no windows) runs one
// on its owner thread; the front end gives it the owner thread's poster and
// timers, the reporter that shows boxes, and the clock.
class Session final {
public:
    Session(const std::string& userConfigFile, app::OwnerThread& owner, app::Reporter& reporter,
            const app::Clock& clock);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The entry sequence up to the windows: the log, conf and help checks,
    // the single instance, service.xml. False when the program must end (a
    // box has said why).
    bool startUp();
    // Loads SysInit.ini (then probes the network); false when a failure
    // asked the program to end.
    bool loadSettings();
    // The pool (200 running, 100 waiting, 300 s), the alarm queue and the
    // engine, and the service list filled with every service. Runs once.
    void createEngine();
    // The delayed initialisation: createEngine, scheduling switched as
    // InitStart says, one tick at once, then a tick at each minute while
    // scheduling runs, and the hourly housekeeping. Runs once.
    void start();
    bool started() const { return m_parts.engine != nullptr; }

    // The first step of a shutdown that does not block the owner thread:
    // no tick queues anything any more, and waiting items complete as
    // cancelled; running ones go on to their end (see hasRunningWork).
    void beginShutdown();

    // Whether work items run on the pool now.
    bool hasRunningWork() const;
    // Checks and senders queued and not back yet.
    int outstanding() const;

    enum class Shutdown {
        // Closing the window (or SIGTERM): waiting items are cancelled, the
        // running ones waited for, and the stop of scheduling is logged.
        WaitAndLog,
        // The "Close" action (or the end of a one-off run): items are
        // cancelled and waited for the same way, so that no completion
        // outlives the pool, but the stop of scheduling is not logged.
        WaitQuietly,
    };
    // beforeWait runs when work is still running and is about to be waited
    // for (the window shows its closing notice). Then the settings are saved,
    // service.xml closed, the pool destroyed and "Application stops." logged.
    void shutDown(Shutdown how, const std::function<void()>& beforeWait = {});
    // Whether shutDown could not write service.xml (what it held is lost).
    bool lastSaveFailed() const { return m_lastSaveFailed; }
    // Saves the settings; when an operator changed SysInit.ini meanwhile,
    // that version is taken in first (and a line logged).
    void saveSettings();
    // SIGHUP: takes service.xml and SysInit.ini in as they are on disk now
    // (the results held go on for the services still there).
    void reload();
    // Any thread: cuts short the wait for running work (now, or when the
    // shutdown comes); what has come back is saved, the rest is dropped.
    void hurry();
    bool hurried() const { return m_hurry; }

    // Runs a handler as an owner-thread event: what escapes it goes to the
    // process-wide handler (an Error line and an Error box), and the
    // program goes on.
    void guarded(const std::function<void()>& handler);

    app::AppPaths& paths() { return m_paths; }
    app::AppSettings& settings() { return m_settings; }
    app::SystemLog& log() { return m_log; }
    app::SettingsFile& settingsFile() { return m_settingsFile; }
    registry::ServiceStore& store() { return m_store; }
    engine::ServiceListModel& services() { return m_services; }
    engine::HostListModel& hosts() { return m_hosts; }
    engine::ServiceHealth& health() { return m_health; }
    alarm::AlarmListModel& alarms() { return m_alarms; }
    // The operator's changes to the service list, and the refills.
    ServiceEdits& edits() { return m_edits; }
    // After createEngine() only.
    engine::MonitorEngine& engine() { return *m_parts.engine; }
    alarm::AlarmQueue& alarmQueue() { return *m_parts.alarmQueue; }
    pool::ThreadPoolManager& pool() { return *m_parts.pool; }
    // The result history once the engine is made; none when [History]
    // Enable is 0.
    history::HistoryStore* history() { return m_history.get(); }
    // The metrics exporter once the engine is made; none when [Metrics]
    // asks for no transport.
    metrics::MetricsExporter* metrics() { return m_metrics.get(); }
    // The service list's history columns follow the history from now on
    // (a front end with windows asks for it).
    void showHistoryInList();

private:
    // The exporter [Metrics] asks for, wired to the engine, the alarms and
    // the edits; nothing when it asks for none.
    void createMetrics();
    bool openServiceStore();
    void armMinuteTimer();
    void armHouseKeeping();

    app::OwnerThread& m_owner;
    app::Reporter& m_reporter;
    const app::Clock& m_clock;
    app::AppPaths m_paths;
    app::AppSettings m_settings;
    app::SystemLog m_log;
    registry::ServiceStore m_store;
    app::SettingsFile m_settingsFile;
    std::optional<app::SingleInstance> m_instance;
    engine::ServiceListModel m_services;
    engine::HostListModel m_hosts;
    engine::ServiceHealth m_health;
    alarm::AlarmListModel m_alarms;
    ServiceEdits m_edits;
    std::unique_ptr<history::HistoryStore> m_history;
    std::unique_ptr<metrics::MetricsExporter> m_metrics;
    std::unique_ptr<alarm::AlertmanagerSink> m_alertmanager;
    bool m_summariesShown = false;  // the service list listens to the history
    engine::EngineParts m_parts;
    engine::MinuteTicker m_ticker;
    std::atomic<bool> m_hurry{false};
    bool m_ticking = false;
    bool m_closing = false;
    bool m_lastSaveFailed = false;
    // Timers still armed hold this; they do nothing once the session is gone.
    std::shared_ptr<Session*> m_alive;
};

}  // namespace vantor::session
