// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "registry/ServiceFields.h"

namespace vantor::app {
class SystemLog;
}

namespace vantor::registry {
class ServiceStore;
}

namespace vantor::history {
class HistoryStore;
}

namespace vantor::engine {
class HostListModel;
class ServiceHealth;
class ServiceListModel;
}  // namespace vantor::engine

namespace vantor::metrics {
class MetricsExporter;
}  // namespace vantor::metrics

namespace vantor::session {

// What an edit came to; the window puts it in its own words.
enum class EditResult {
    Done,
    // Another record has the key the service would get.
    KeyExists,
    // The record is not there (any more).
    NotFound,
    // service.xml could not be written: message says why, and the same line
    // is in the system log already.
    SaveFailed,
};

struct EditOutcome {
    EditResult result = EditResult::Done;
    std::string message;
    bool done() const { return result == EditResult::Done; }
};

// The operator's changes to the service list, each with the rules that go
// with it, and the views of the core that follow it: the service list, the
// host list and the failing services. Owner thread only.
class ServiceEdits final {
public:
    ServiceEdits(registry::ServiceStore& store, engine::ServiceListModel& services,
                 engine::HostListModel& hosts, engine::ServiceHealth& health, app::SystemLog& log);

    // A new service. Done: the lists filled again, the service list with
    // "ALL".
    EditOutcome add(const registry::ServiceFields& service);
    // The record with this key changed, under a new key when the kind, the
    // host or the port changed; its last result is gone ("Unknown"). Done:
    // the lists filled again, the service list with "ALL".
    EditOutcome change(std::string_view key, const registry::ServiceFields& service);
    // Done or NotFound: either way the lists are filled again, the service
    // list with the filter it had.
    EditOutcome remove(std::string_view key);

    // Where a changed key takes its history; none keeps none.
    void setHistory(history::HistoryStore* history) { m_history = history; }
    // The exported verdicts follow the list: a deleted, stopped or changed
    // service leaves them at once.
    void setMetrics(metrics::MetricsExporter* metrics) { m_metrics = metrics; }
    // Told of a key that changed (old, new): the alarm state goes with it.
    std::function<void(const std::string&, const std::string&)> onKeyChanged;
    // A front end without windows has no lists to show: their rows (half a
    // kilobyte or more per record) are never made. The engine leaves the
    // rows it does not find alone.
    void setListsShown(bool shown) { m_listsShown = shown; }

    // The service list with a filter ("ALL", a kind, "Email" or a host).
    void showServices(std::string_view filter);
    // Both lists from the store as it is now (after it changed as a whole):
    // the service list with a filter, the host list, and only the failures
    // of services still there.
    void refill(std::string_view filter);
    // The same with the service list's own filter.
    void refill();

private:
    EditOutcome saveFailed(const std::string& error);

    registry::ServiceStore& m_store;
    engine::ServiceListModel& m_services;
    engine::HostListModel& m_hosts;
    engine::ServiceHealth& m_health;
    app::SystemLog& m_log;
    history::HistoryStore* m_history = nullptr;
    metrics::MetricsExporter* m_metrics = nullptr;
    bool m_listsShown = true;
};

}  // namespace vantor::session
