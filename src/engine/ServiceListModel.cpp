// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/ServiceListModel.h"

#include <algorithm>

#include "app/Words.h"
#include "history/HistoryStore.h"
#include "registry/ServiceStore.h"

namespace vantor::engine {

namespace {

bool KnownScheduleKind(std::string_view by) {
    return by == words::kDaily || by == words::kHourly || by == words::kMinutely;
}

// The filters that name one kind of service.
bool IsKindFilter(std::string_view filter) {
    return filter == words::kUrl || filter == words::kPing || filter == words::kFtp ||
           filter == words::kDatabase;
}

bool Shows(std::string_view filter, const registry::ServiceFields& record, bool& byHost) {
    const std::string_view service = record.service;
    byHost = false;
    if (filter == words::kAll) {
        return true;
    }
    if (IsKindFilter(filter)) {
        return service == filter;
    }
    if (filter == words::kEmail) {
        return service == words::kSmtp || service == words::kPop3 || service == words::kImap;
    }
    byHost = true;
    return record.ip == filter;
}

ServiceRow MakeRow(registry::ServiceFields&& record) {
    ServiceRow row;
    row.id = std::move(record.key);
    row.service = std::move(record.service);
    row.ip = std::move(record.ip);
    row.port = record.port.empty() ? std::string("---") : std::move(record.port);
    row.currentStatus = std::move(record.serviceStatus);
    row.by = std::move(record.scheduleBy);
    const std::string& hour = record.scheduleHour;
    const std::string& minute = record.scheduleMinute;
    if (row.by == words::kDaily) {
        row.interval = "on " + hour + ":" + minute;
    } else if (row.by == words::kHourly) {
        row.interval = "on " + minute + " min";
    } else if (row.by == words::kMinutely) {
        row.interval = "every " + minute + " min";
    }
    row.status = std::move(record.runState);
    return row;
}

}  // namespace

std::string_view ServiceListModel::cellText(std::size_t row, Column column) const {
    if (row >= m_rows.size()) {
        return {};
    }
    const ServiceRow& r = m_rows[row];
    const bool shifted = r.interval.empty() && !KnownScheduleKind(r.by);
    switch (column) {
        case Column::Id:
            return r.id;
        case Column::Service:
            return r.service;
        case Column::Ip:
            return r.ip;
        case Column::Port:
            return r.port;
        case Column::CurrentStatus:
            return r.currentStatus;
        case Column::By:
            return r.by;
        case Column::Interval:
            return shifted ? r.status : r.interval;
        case Column::Status:
            return shifted ? std::string_view() : std::string_view(r.status);
        case Column::Response:
            return r.response;
        case Column::UptimeDay:
            return r.uptimeDay;
        case Column::UptimeMonth:
            return r.uptimeMonth;
        case Column::AlarmState:
            return r.alarmState;
        case Column::Count:
            break;
    }
    return {};
}

void ServiceListModel::Fill(const registry::ServiceStore& store, std::string_view filter) {
    m_observers.notify([](app::ListObserver& o) { o.aboutToReset(); });
    m_rows.clear();
    m_selected.reset();
    std::string newFilter(filter);
    // Every result shows, also one that came while the writer wrote.
    store.settle();
    store.forEachRecord([&](const registry::ServiceRecord& record) {
        registry::ServiceFields fields = record.fields(false);
        bool byHost = false;
        if (Shows(filter, fields, byHost)) {
            m_rows.push_back(MakeRow(std::move(fields)));
            if (byHost) {
                newFilter = words::kAll;
            }
        }
    });
    // A host filter that matched nothing keeps the previous filter.
    const bool hostFilterMatchedNothing =
        m_rows.empty() && filter != words::kAll && !IsKindFilter(filter) && filter != words::kEmail;
    if (!hostFilterMatchedNothing) {
        m_filter = newFilter;
    }
    for (ServiceRow& row : m_rows) {
        fillHistory(row);
        if (m_alarmStateOf) {
            row.alarmState = m_alarmStateOf(row.id);
        }
    }
    std::stable_sort(m_rows.begin(), m_rows.end(),
                     [](const ServiceRow& a, const ServiceRow& b) { return a.id < b.id; });
    m_index.clear();
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        m_index.emplace(m_rows[i].id, i);
    }
    m_observers.notify([](app::ListObserver& o) { o.reset(); });
    m_observers.notify([](app::ListObserver& o) { o.currentRowChanged(std::nullopt); });
}

std::optional<std::size_t> ServiceListModel::findRow(std::string_view key) const {
    const auto found = m_index.find(std::string(key));
    if (found == m_index.end()) {
        return std::nullopt;
    }
    return found->second;
}

void ServiceListModel::select(std::size_t row) {
    if (row >= m_rows.size()) {
        return;
    }
    m_selected = row;
    m_observers.notify([row](app::ListObserver& o) { o.currentRowChanged(row); });
}

void ServiceListModel::setCurrentStatus(std::size_t row, std::string status) {
    if (row >= m_rows.size()) {
        return;
    }
    m_rows[row].currentStatus = std::move(status);
    m_observers.notify([row](app::ListObserver& o) { o.rowChanged(row); });
}

void ServiceListModel::fillHistory(ServiceRow& row) const {
    if (m_history == nullptr) {
        return;
    }
    const std::optional<history::Summary> s = m_history->summary(row.id);
    const history::Summary shown = s.value_or(history::Summary{});
    const std::string ms = history::FormatMs(shown.lastResponseUs);
    row.response = ms.empty() ? std::string() : ms + " ms";
    row.uptimeDay = history::FormatUptime(shown.day);
    row.uptimeMonth = history::FormatUptime(shown.month);
}

void ServiceListModel::setAlarmState(std::size_t row, std::string text) {
    if (row >= m_rows.size() || m_rows[row].alarmState == text) {
        return;
    }
    m_rows[row].alarmState = std::move(text);
    m_observers.notify([row](app::ListObserver& o) { o.rowChanged(row); });
}

void ServiceListModel::historyChanged(const std::vector<std::string>& keys) {
    for (const std::string& key : keys) {
        if (const auto row = findRow(key)) {
            fillHistory(m_rows[*row]);
            m_observers.notify([r = *row](app::ListObserver& o) { o.rowChanged(r); });
        }
    }
}

void ServiceListModel::setRunState(std::size_t row, std::string state) {
    if (row >= m_rows.size()) {
        return;
    }
    m_rows[row].status = std::move(state);
    m_observers.notify([row](app::ListObserver& o) { o.rowChanged(row); });
}

}  // namespace vantor::engine
