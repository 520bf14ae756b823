// SPDX-License-Identifier: GPL-3.0-or-later
#include "headless/HeadlessApp.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "alarm/AlarmListModel.h"
#include "alarm/AlarmQueue.h"
#include "app/Clock.h"
#include "app/DetailText.h"
#include "app/EventLoop.h"
#include "app/UnexpectedError.h"
#include "app/Words.h"
#include "engine/MonitorEngine.h"
#include "engine/ServicePolicy.h"
#include "headless/ConsoleReporter.h"
#include "pool/ThreadPoolManager.h"
#include "registry/ServiceStore.h"
#include "session/ServiceManager.h"
#include "session/Session.h"
#include "session/SignalPolicy.h"

namespace vantor::headless {

namespace {

// How many items --check-now keeps out at once (checks, and the senders of
// their alarms): as many as the pool runs, but so few that if every check
// out failed at once, the senders of its alarms (one per method switched
// on) would still fit in the pool beside them. The pool would otherwise
// refuse the senders beyond its waiting list as busy. A retry takes the
// place of its check.
int CheckNowInFlight(const alarm::AlarmQueue& alarms, const pool::ThreadPoolManager& pool) {
    const int room = pool.maxPooled() + pool.maxQueueLength();
    return std::max(1, std::min(pool.maxPooled(), room / (1 + alarms.sendersPerFailure())));
}

// The word of a service whose check did not come back before a signal
// stopped the run.
constexpr const char* kNotChecked = "Not checked";

// Every alarm row the run raised, with its sender's outcome: the alarm list
// keeps only the newest ShowLogItem rows.
class AlarmLog final : public app::ListObserver {
public:
    AlarmLog(alarm::AlarmListModel& list, alarm::AlarmQueue& queue) : m_list(list) {
        m_list.addObserver(this);
        queue.onSenderResult = [this](const std::string& id, const std::string& status) {
            for (alarm::AlarmRow& kept : m_rows) {
                if (kept.id == id) {
                    kept.status = status;
                }
            }
        };
    }
    ~AlarmLog() override { m_list.removeObserver(this); }
    AlarmLog(const AlarmLog&) = delete;
    AlarmLog& operator=(const AlarmLog&) = delete;

    void rowsInserted() override { m_rows.push_back(m_list.rows().front()); }
    // Newest first, as the list shows them.
    void print() const {
        for (auto row = m_rows.rbegin(); row != m_rows.rend(); ++row) {
            std::printf("ALARM\t%s\t%s\t%s\n", app::DetailText(row->method).c_str(),
                        app::DetailText(row->status).c_str(), app::DetailText(row->target).c_str());
        }
    }

private:
    alarm::AlarmListModel& m_list;
    std::vector<alarm::AlarmRow> m_rows;
};

class Headless final {
public:
    explicit Headless(const HeadlessOptions& options)
        : m_options(options),
          m_reporter([this] { m_loop.quit(1); }),
          m_session(options.userConfigFile, m_loop, m_reporter, m_clock) {
        m_session.edits().setListsShown(false);
    }

    int run();

private:
    int monitor();
    int checkNow();

    HeadlessOptions m_options;
    app::EventLoop m_loop;
    ConsoleReporter m_reporter;
    const app::Clock& m_clock = app::SystemClock::instance();
    session::Session m_session;
    // systemd, when it started us: readiness and the watchdog.
    session::ServiceManager m_manager;
};

int Headless::run() {
    const bool checkNowMode = m_options.mode == HeadlessOptions::Mode::CheckNow;
    // A stop signal during start-up: --check-now ends as interrupted, the
    // monitor as failed.
    session::SignalPolicy signalPolicy(checkNowMode ? 3 : 1);
    if (!m_session.startUp() || !m_session.loadSettings()) {
        return checkNowMode ? 2 : 1;
    }
    signalPolicy.frontEndUp(m_loop, m_session, [this] { m_loop.quit(0); });
    return checkNowMode ? checkNow() : monitor();
}

int Headless::monitor() {
    m_session.start();
    int exitCode = 1;
    if (!m_reporter.terminateRequested()) {
        if (m_options.announceReady) {
            std::printf("Vantor Lite is running without windows; SIGTERM or SIGINT stops it.\n");
            std::fflush(stdout);
        }
        m_manager.ready(m_loop);
        exitCode = m_loop.run();
    }
    m_manager.stopping();
    m_session.shutDown(session::Session::Shutdown::WaitAndLog);
    return m_reporter.terminateRequested() || m_session.lastSaveFailed() ? 1 : exitCode;
}

int Headless::checkNow() {
    m_session.createEngine();
    engine::MonitorEngine& engine = m_session.engine();
    registry::ServiceStore& store = m_session.store();
    // The started services in the list's order; the result of a key, once
    // it came back, is held by its first check (a hand-made list may hold a
    // key twice). `next` is the first not yet dispatched.
    struct Check {
        std::string key;
        std::optional<std::pair<std::string, std::string>> result;  // word, detail
    };
    std::vector<Check> checks;
    for (const registry::ServiceRecord& record : store.records()) {
        if (record.text(registry::Element::Status) == words::kStart) {
            checks.push_back({std::string(record.key()), std::nullopt});
        }
    }
    std::unordered_map<std::string_view, std::size_t> positions;
    positions.reserve(checks.size());
    for (std::size_t i = 0; i < checks.size(); ++i) {
        positions.emplace(checks[i].key, i);
    }
    std::size_t next = 0;
    const auto pendingLeft = [&] { return next < checks.size(); };
    AlarmLog alarmLog(m_session.alarms(), m_session.alarmQueue());
    engine.onProductResult = [&](const engine::CheckResult& r, bool retried) {
        // A retried failure is replaced by its repeat's result.
        if (const auto found = positions.find(r.serviceKey); found != positions.end()) {
            checks[found->second].result = {retried ? words::kRetry : r.statusWord, r.detail};
        }
    };
    const int inFlight = CheckNowInFlight(m_session.alarmQueue(), m_session.pool());
    auto refill = [&] {
        while (pendingLeft() && m_session.outstanding() < inFlight) {
            Check& check = checks[next++];
            try {
                engine.DispatchServiceByKey(check.key);
            } catch (const std::exception& e) {
                checks[positions.at(check.key)].result = {engine::kFailed, e.what()};
                app::ApplicationEventsException(m_reporter, m_session.log(), e.what());
            }
        }
    };
    {
        while (!m_loop.quitRequested()) {
            refill();
            if (!pendingLeft() && m_session.outstanding() == 0) {
                break;
            }
            // Run completions until there is room for more checks, or all is done.
            m_loop.runUntil(
                [&] {
                    return (pendingLeft() && m_session.outstanding() < inFlight) ||
                           m_session.outstanding() == 0;
                },
                std::chrono::seconds(1));
        }
    }
    // Stopped by a signal before every check came back.
    const bool interrupted = pendingLeft() || m_session.outstanding() > 0;
    bool anyFailed = false;
    for (const Check& check : checks) {
        const std::string& key = check.key;
        const auto& result = checks[positions.at(key)].result;
        std::string word;
        std::string detail;
        if (result) {
            word = result->first;
            detail = result->second;
            anyFailed = anyFailed || word != engine::kPassed;
        } else if (const auto record = store.findRecord(key)) {
            // A kind without a check (Database) has no result and decides
            // nothing; a check that did not come back was not made.
            word = engine::HasCheck(record->text(registry::Element::Service))
                       ? std::string(kNotChecked)
                       : std::string(record->text(registry::Element::ServiceStatus));
        }
        // A key or a detail holds values of the record: one field each, so
        // that no value forges a line or a field of its own.
        std::printf("%s\t%s\t%s\n", app::OneLine(key, app::kLineMaxBytes).c_str(),
                    app::DetailText(word).c_str(), app::DetailText(detail).c_str());
    }
    alarmLog.print();
    // The alarms above follow a policy other than one per failed check.
    const alarm::PolicySettings policy = alarm::PolicySettings::From(m_session.settings());
    if (!policy.isDefault()) {
        std::printf("Alarm policy: %s\n", policy.describe().c_str());
    }
    // And the services that have one of their own.
    for (const Check& check : checks) {
        const std::string& key = check.key;
        const auto record = store.findRecord(key);
        if (!record || !engine::CountsOwnVerdicts(*record)) {
            continue;
        }
        const alarm::PolicySettings own = engine::PolicyOf(*record, policy, {0, 0}).policy;
        std::printf("Alarm policy of %s: %s\n", app::OneLine(key, app::kLineMaxBytes).c_str(),
                    own.isDefault() ? "AlarmOn EveryFailure" : own.describe().c_str());
    }
    std::fflush(stdout);
    m_session.shutDown(session::Session::Shutdown::WaitQuietly);
    if (m_reporter.terminateRequested()) {
        return 2;
    }
    if (interrupted) {
        return 3;
    }
    return anyFailed ? 1 : 0;
}

}  // namespace

int RunHeadless(const HeadlessOptions& options) {
    Headless app(options);
    return app.run();
}

}  // namespace vantor::headless
