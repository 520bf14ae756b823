#include "engine/HostListModel.h"

#include <algorithm>

#include "app/Words.h"
#include "registry/ServiceStore.h"

namespace vantor::engine {

std::vector<std::string> HostListModel::HostsOf(const registry::ServiceStore& store) {
    std::vector<std::string> hosts;
    store.forEachRecord([&hosts](const registry::ServiceRecord& record) {
        hosts.emplace_back(record.text(registry::Element::Ip));
    });
    std::sort(hosts.begin(), hosts.end());
    hosts.erase(std::unique(hosts.begin(), hosts.end()), hosts.end());
    hosts.insert(hosts.begin(), words::kAll);
    return hosts;
}

void HostListModel::Fill(const registry::ServiceStore& store) {
    std::vector<std::string> hosts = HostsOf(store);
    m_observers.notify([](app::ListObserver& o) { o.aboutToReset(); });
    m_hosts = std::move(hosts);
    m_observers.notify([](app::ListObserver& o) { o.reset(); });
}

std::string_view HostListModel::cellText(std::size_t row, Column column) const {
    if (row >= m_hosts.size() || column != Column::Host) {
        return {};
    }
    return m_hosts[row];
}

}  // namespace vantor::engine
