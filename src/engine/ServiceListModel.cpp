#include "engine/ServiceListModel.h"

#include <algorithm>

#include "registry/ServiceStore.h"

namespace vantor::engine {

std::vector<std::string> ServiceRow::cells() const {
    std::vector<std::string> out = {id, service, ip, port, currentStatus, by};
    if (!interval.empty() || by == "Daily" || by == "Hourly" || by == "Minutely") {
        out.push_back(interval);
    }
    out.push_back(status);
    return out;
}

namespace {

bool Shows(std::string_view filter, const registry::ServiceRecord& record, bool& byHost) {
    const std::string_view service = record.text("service");
    byHost = false;
    if (filter == "ALL") {
        return true;
    }
    if (filter == "URL" || filter == "Ping" || filter == "FTP" || filter == "Database") {
        return service == filter;
    }
    if (filter == "Email") {
        return service == "SMTP" || service == "POP3" || service == "IMAP";
    }
    byHost = true;
    return record.text("ip") == filter;
}

ServiceRow MakeRow(const registry::ServiceRecord& record) {
    ServiceRow row;
    row.id = record.key();
    row.service = record.text("service");
    row.ip = record.text("ip");
    row.port = record.text("port");
    if (row.port.empty()) {
        row.port = "---";
    }
    row.currentStatus = record.text("service_status");
    row.by = record.text("schedule_by");
    const std::string hour(record.text("schedule_hour"));
    const std::string minute(record.text("schedule_minute"));
    if (row.by == "Daily") {
        row.interval = "on " + hour + ":" + minute;
    } else if (row.by == "Hourly") {
        row.interval = "on " + minute + " min";
    } else if (row.by == "Minutely") {
        row.interval = "every " + minute + " min";
    }
    row.status = record.text("status");
    return row;
}

}  // namespace

void ServiceListModel::Fill(const registry::ServiceStore& store, std::string_view filter) {
    m_rows.clear();
    m_selected.reset();
    std::string newFilter(filter);
    for (const registry::ServiceRecord& record : store.records()) {
        bool byHost = false;
        if (Shows(filter, record, byHost)) {
            m_rows.push_back(MakeRow(record));
            if (byHost) {
                newFilter = "ALL";
            }
        }
    }
    // A host filter that matched nothing keeps the previous filter.
    const bool hostFilterMatchedNothing = m_rows.empty() && filter != "ALL" && filter != "URL" &&
                                          filter != "Ping" && filter != "FTP" &&
                                          filter != "Database" && filter != "Email";
    if (!hostFilterMatchedNothing) {
        m_filter = newFilter;
    }
    std::stable_sort(m_rows.begin(), m_rows.end(),
                     [](const ServiceRow& a, const ServiceRow& b) { return a.id < b.id; });
    m_index.clear();
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        m_index.emplace(m_rows[i].id, i);
    }
    if (m_observer != nullptr) {
        m_observer->rowsReset();
    }
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
    if (m_observer != nullptr) {
        m_observer->selectionChanged(m_selected);
    }
}

void ServiceListModel::setCurrentStatus(std::size_t row, std::string status) {
    if (row >= m_rows.size()) {
        return;
    }
    m_rows[row].currentStatus = std::move(status);
    if (m_observer != nullptr) {
        m_observer->rowChanged(row);
    }
}

void ServiceListModel::setRunState(std::size_t row, std::string state) {
    if (row >= m_rows.size()) {
        return;
    }
    m_rows[row].status = std::move(state);
    if (m_observer != nullptr) {
        m_observer->rowChanged(row);
    }
}

std::vector<std::string> ServiceListModel::HostTree(const registry::ServiceStore& store) {
    std::vector<std::string> hosts;
    for (const registry::ServiceRecord& record : store.records()) {
        hosts.emplace_back(record.text("ip"));
    }
    std::sort(hosts.begin(), hosts.end());
    hosts.erase(std::unique(hosts.begin(), hosts.end()), hosts.end());
    hosts.insert(hosts.begin(), "ALL");
    return hosts;
}

}  // namespace vantor::engine
