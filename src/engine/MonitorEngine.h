// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "alarm/AlarmPolicy.h"
#include "alarm/MaintenanceWindow.h"
#include "app/Result.h"
#include "engine/CheckResult.h"
#include "engine/ScheduleIndex.h"
#include "engine/ServicePolicy.h"
#include "history/HistoryTypes.h"
#include "registry/ServiceFields.h"

namespace vantor::app {
class Clock;
class Reporter;
class SystemLog;
struct AppSettings;
}  // namespace vantor::app

namespace vantor::registry {
class ServiceRecord;
class ServiceStore;
}  // namespace vantor::registry

namespace vantor::alarm {
class AlarmQueue;
class AlertmanagerSink;
}  // namespace vantor::alarm

namespace vantor::history {
class HistoryStore;
}

namespace vantor::pool {
class ThreadPoolManager;
class WorkItem;
}  // namespace vantor::pool

namespace vantor::engine {

class CheckWorkItem;
class ServiceHealth;
class ServiceListModel;

// A record that the scheduler or the dispatch cannot read: a field it needs
// is missing, or a number is not one.
class RecordError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Whether a kind of service has a check: URL, Ping, SMTP, POP3, IMAP and
// FTP ("Database" has none).
bool HasCheck(std::string_view kind);

// "The service "key" has no <element>": a record that lacks a field its
// schedule or its check needs.
RecordError MissingElement(std::string_view key, registry::Element element);

// Reads an integer as the service list stores it: an optional sign and
// digits. Throws RecordError ("'x' is not a valid integer value").
int ParseRecordInteger(std::string_view text);

// Whether a "Start" record is due at the two-digit hour and minute: Daily
// at its hour and minute, Hourly at its minute, Minutely when the minute is
// a multiple of its period (0 is never due). Compared as text, so "5" never
// matches "05". Throws RecordError for a field it lacks or a period that is
// not an integer.
bool IsDue(const registry::ServiceRecord& record, std::string_view hh, std::string_view mm);

// The monitoring engine on the owner thread: the minute tick, the dispatch
// of due records to their checks, the handling of every finished check
// (results shown and stored, retries, the alarm backup and the alarms), and
// the per-service commands.
class MonitorEngine final {
public:
    MonitorEngine(app::AppSettings& settings, app::SystemLog& log, app::Reporter& reporter,
                  const app::Clock& clock, registry::ServiceStore& store,
                  pool::ThreadPoolManager& pool, ServiceListModel& services, ServiceHealth& health,
                  alarm::AlarmQueue& alarms);
    ~MonitorEngine();
    MonitorEngine(const MonitorEngine&) = delete;
    MonitorEngine& operator=(const MonitorEngine&) = delete;

    // The tick: examines every record against the clock's current minute.
    // A record whose schedule it cannot read ends the tick there with a
    // RecordError; the records before it keep their checks. A due record
    // that cannot be dispatched (a port that is not a number) is reported
    // once per record and change, and the tick goes on.
    void TimerServiceTimer();
    // Switches scheduling on or off and logs it; the host arms or stops its
    // minute timer from onSchedulingChanged.
    void SetSchedulingState(bool start);
    bool schedulingRunning() const { return m_running; }

    // The service list's pop-up commands, on the selected row.
    void MenuServiceStartClick();
    void MenuServiceStopClick();
    // Checks the selected service at once unless its check is still under
    // way ("Process" or "Retry"), which is refused with a box.
    void MenuServiceRunNowClick();

    // Builds the record's check and queues it. retry: a repeat after a
    // failure, which itself is never repeated. Throws RecordError.
    // runNow: asked for with "Run Now" (the history marks its verdict).
    void DispatchService(const registry::ServiceRecord& record, bool retry = false,
                         bool runNow = false);
    void DispatchServiceByKey(std::string_view key, bool retry = false, bool runNow = false);
    // Queues a check built elsewhere (the wizard's test); errors are
    // swallowed.
    void QueueOnPool(std::unique_ptr<CheckWorkItem> check);
    // The wizard's test: the check of a service as entered, tagged "Setup"
    // with key "0", no alarms and no retry; its result goes to
    // onSetupResult and nowhere else. The error text when it could not be
    // started (a port that is not a number, the pool refusing it).
    Status StartSetupCheck(const registry::ServiceFields& input);
    // What a finished check comes back to: its result shown and stored, a
    // retry or the alarms.
    void OnCheckDone(CheckWorkItem& check);

    // Checks queued (or waiting to be) that have not come back yet.
    int outstanding() const {
        return m_inPool + static_cast<int>(m_backlog.size() + m_waitingCount);
    }
    // Checks held back until the pool has a thread for them.
    std::size_t backlog() const { return m_backlog.size() + m_waitingCount; }

    // Where every final verdict of a scheduled check goes besides the list
    // and the file; none keeps no history.
    void setHistory(history::HistoryStore* history) { m_history = history; }
    // Where alarm notices go as alerts besides the service's methods.
    void setAlertmanager(alarm::AlertmanagerSink* sink) { m_alertmanager = sink; }

    // The alarm policy's state per service ([AlarmPolicy] in the settings).
    const alarm::AlarmPolicy& alarmPolicy() const { return m_policy; }
    // Final verdicts wait with their alarms until the policy's state is
    // rebuilt from the history (policyRebuilt), so that a restart in an
    // outage neither repeats its first alarm nor loses its recovery.
    void holdAlarmsUntilRebuilt() { m_holdAlarms = true; }
    // The recent verdicts of every service, oldest first per service: they
    // go through the policy without a notice, then what waited is decided.
    void policyRebuilt(const std::vector<history::Verdict>& recent);
    bool alarmsHeld() const { return m_holdAlarms; }
    // A service's key changed: its alarm state follows it.
    void keyChanged(const std::string& oldKey, const std::string& newKey) {
        m_policy.rename(oldKey, newKey);
    }

    std::function<void(bool running, std::string_view text)> onSchedulingChanged;
    // The wizard's test result.
    std::function<void(const CheckResult&)> onSetupResult;
    // Every scheduled check's result; retried: a repeat was dispatched.
    std::function<void(const CheckResult& result, bool retried)> onProductResult;
    // Every final verdict of a started service that is still in the list,
    // with its record and whether the policy holds a failure alarm for it.
    std::function<void(const CheckResult& result, const registry::ServiceRecord& record,
                       bool alarmed)>
        onVerdict;
    // A service stopped with its pop-up command.
    std::function<void(const std::string& key)> onServiceStopped;
    // Every check queued has come back.
    std::function<void()> onRoundEnded;

private:
    // The check of the input's kind with the kind's time limit and retry
    // setting (none for a repeat). Throws RecordError for a port that is not
    // a number.
    std::unique_ptr<CheckWorkItem> buildCheck(const registry::ServiceFields& input,
                                              CheckSettings settings, bool retry) const;
    // A record the tick found due: its check queued, or why not reported.
    // select: its row becomes the selected one.
    void dispatchDue(const registry::ServiceRecord& record, bool select = true);
    // A record that waited for a slot in the pool: dispatched now.
    void dispatchWaiting(const std::string& key);
    // Whether a tick found the key due and its check is not built yet.
    bool waits(std::string_view key);
    // Every due record still waiting, in order, until visit returns false;
    // visit may mark its position kTakenOut (and count it off).
    void forEachWaiting(
        const std::function<bool(std::uint32_t& position, const std::string& key)>& visit);
    void queue(std::unique_ptr<CheckWorkItem> check);
    void queueCheck(std::unique_ptr<CheckWorkItem> check);
    void checkCameBack(CheckWorkItem& check);
    void drainBacklog();
    void flushGathered();
    void reportUndispatchable(const registry::ServiceRecord& record, std::string_view message);
    void recordVerdict(const CheckResult& r);
    void exportVerdict(const CheckResult& r, const registry::ServiceRecord& record);
    // A final verdict through the alarm policy: the notice it gives goes to
    // the backup file and to the service's methods.
    void decideAlarm(const std::string& timestamp, const CheckResult& r);
    // A passed check slower than its kind's limits: marked slow, or failed
    // with "[host:port] Response time N ms over M ms".
    void applyResponseLimits(CheckResult& r, const ServicePolicy& own) const;
    // The policy for all with the service's own values (kind: its limits).
    ServicePolicy policyFor(const std::string& key, std::string_view kind) const;
    // The service list's "Alarm state" of a service.
    std::string alarmStateText(const std::string& key) const;
    void showAlarmState(const CheckResult& r);
    // When the maintenance window that holds the clock's now ends, 0 when
    // none does.
    std::int64_t maintenanceEnd(const std::string& own);
    // The key the record names as its parent, "" for none (or itself).
    std::string parentOf(const std::string& key) const;
    // The parent's final verdict is in: the children's failures that
    // waited for it are decided now.
    void releaseChildrenOf(const std::string& parent);

    struct HeldVerdict {
        std::string timestamp;
        CheckResult result;
    };

    app::AppSettings& m_settings;
    app::SystemLog& m_log;
    app::Reporter& m_reporter;
    const app::Clock& m_clock;
    registry::ServiceStore& m_store;
    pool::ThreadPoolManager& m_pool;
    ServiceListModel& m_services;
    ServiceHealth& m_health;
    alarm::AlarmQueue& m_alarms;
    history::HistoryStore* m_history = nullptr;
    alarm::AlertmanagerSink* m_alertmanager = nullptr;
    alarm::AlarmPolicy m_policy;
    bool m_holdAlarms = false;
    std::vector<HeldVerdict> m_held;
    std::unordered_set<std::string> m_slow;  // keys whose last pass was slow
    // Keys whose last verdict fell in a maintenance window, and its end.
    std::unordered_map<std::string, std::int64_t> m_inMaintenance;
    // Failures of children whose parent's check was out, by parent.
    std::unordered_map<std::string, std::vector<HeldVerdict>> m_waitingForParent;
    std::unordered_set<std::string> m_unreachable;
    std::string m_maintenanceText;
    std::vector<alarm::MaintenanceWindow> m_maintenance;
    // Services' own windows, parsed once per text.
    std::unordered_map<std::string, std::vector<alarm::MaintenanceWindow>> m_ownMaintenance;
    bool m_running = false;
    // Checks handed to the pool (or gathered for it) and not back yet.
    int m_inPool = 0;
    std::deque<std::unique_ptr<CheckWorkItem>> m_backlog;
    // The due records of a tick whose checks are not built yet, in the
    // order it found them: positions in the keys of the schedule's walk
    // (kTakenOut: "Run Now" took it), the first `next` already dispatched.
    struct Waiting {
        ScheduleIndex::Keys keys;
        std::vector<std::uint32_t> positions;
        std::size_t next = 0;
    };
    static constexpr std::uint32_t kTakenOut = 0xFFFFFFFFU;
    std::deque<Waiting> m_waiting;
    std::size_t m_waitingCount = 0;  // positions left, not taken out
    // The services whose scheduled check is queued or running.
    std::unordered_set<std::string> m_checking;
    ScheduleIndex m_schedule;
    // While a tick runs, its checks gather here and go to the pool in one
    // hand-over at its end, so that woken workers do not slow the walk.
    bool m_gathering = false;
    std::vector<std::unique_ptr<pool::WorkItem>> m_gathered;
    // The due records that could not be dispatched, by key: the fingerprint
    // of what each held when it was reported.
    std::unordered_map<std::string, std::size_t> m_undispatchable;
};

}  // namespace vantor::engine
