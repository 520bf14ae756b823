// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "app/ListObserver.h"

namespace vantor::registry {
class ServiceStore;
}

namespace vantor::history {
class HistoryStore;
}

namespace vantor::engine {

// One row of the service list, as the window shows it.
struct ServiceRow {
    std::string id;  // the record's key
    std::string service;
    std::string ip;
    std::string port;           // "---" when the record's port is empty
    std::string currentStatus;  // the stored result, then "Process", "Retry", ...
    std::string by;
    std::string interval;  // "on HH:MM", "on MM min", "every MM min"
    std::string status;    // run state, "Start" or "Stop"
    // From the history: the last response time, the uptime of 24 hours and
    // of 30 days; empty without history.
    std::string response;
    std::string uptimeDay;
    std::string uptimeMonth;
    // What the alarm policy holds of it: "Alarmed since 13:05 ×3", "Slow".
    std::string alarmState;
};

// The service list: the rows of the records that the current filter shows,
// sorted by ID. Owner thread only.
class ServiceListModel final {
public:
    // The columns of the list, in the window's order.
    enum class Column {
        Id,
        Service,
        Ip,
        Port,
        CurrentStatus,
        By,
        Interval,
        Status,
        Response,
        UptimeDay,
        UptimeMonth,
        AlarmState,
        Count
    };

    void addObserver(app::ListObserver* observer) { m_observers.add(observer); }
    void removeObserver(app::ListObserver* observer) { m_observers.remove(observer); }

    // "ALL" shows every record; "URL", "Ping", "FTP" and "Database" their
    // kind; "Email" SMTP, POP3 and IMAP; any other text the records whose
    // host equals it. The current filter becomes the filter, except that a
    // host filter that showed a record sets it to "ALL".
    void Fill(const registry::ServiceStore& store, std::string_view filter);
    const std::string& currentFilter() const { return m_filter; }

    const std::vector<ServiceRow>& rows() const { return m_rows; }
    std::size_t rowCount() const { return m_rows.size(); }
    // The text of one cell. For a schedule kind other than the three known
    // ones the interval is missing and the run state moves into its column,
    // so the row has one text less: its "Status" cell is empty.
    std::string_view cellText(std::size_t row, Column column) const;
    // The first row whose ID equals the key.
    std::optional<std::size_t> findRow(std::string_view key) const;

    std::optional<std::size_t> selected() const { return m_selected; }
    void select(std::size_t row);
    void setCurrentStatus(std::size_t row, std::string status);
    void setRunState(std::size_t row, std::string state);

    // Where the history columns come from; none leaves them empty.
    void setHistory(const history::HistoryStore* history) { m_history = history; }
    // Where the "Alarm state" texts come from, by key.
    void setAlarmStates(std::function<std::string(const std::string& key)> of) {
        m_alarmStateOf = std::move(of);
    }
    void setAlarmState(std::size_t row, std::string text);
    // The history has new summaries for these services.
    void historyChanged(const std::vector<std::string>& keys);

private:
    std::vector<ServiceRow> m_rows;
    // The first row of each key, so that results find their row at once.
    std::unordered_map<std::string, std::size_t> m_index;
    std::string m_filter = "ALL";
    std::optional<std::size_t> m_selected;
    app::ListObservers m_observers;
    const history::HistoryStore* m_history = nullptr;
    std::function<std::string(const std::string& key)> m_alarmStateOf;

    void fillHistory(ServiceRow& row) const;
};

}  // namespace vantor::engine
