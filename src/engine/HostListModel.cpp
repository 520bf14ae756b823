// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/HostListModel.h"

#include <algorithm>
#include <locale>
#include <stdexcept>

#include "app/Words.h"
#include "registry/ServiceStore.h"

namespace vantor::engine {

namespace {

// The user's locale for its collation, or the classic one where the locale
// named by the environment is not installed.
const std::locale& CollationLocale() {
    static const std::locale locale = [] {
        try {
            return std::locale("");
        } catch (const std::runtime_error&) {
            return std::locale::classic();
        }
    }();
    return locale;
}

std::string FoldCase(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

// Hosts in the order an operator reads them: without regard to case, in
// the collation of the user's locale; two that differ in case only by
// character code, so that the order is the same in every locale. Each
// host's sort key is made once.
void SortAsRead(std::vector<std::string>& hosts) {
    const auto& collate = std::use_facet<std::collate<char>>(CollationLocale());
    std::vector<std::pair<std::string, std::string>> keyed;
    keyed.reserve(hosts.size());
    for (std::string& host : hosts) {
        const std::string folded = FoldCase(host);
        keyed.emplace_back(collate.transform(folded.data(), folded.data() + folded.size()),
                           std::move(host));
    }
    std::sort(keyed.begin(), keyed.end());
    for (std::size_t i = 0; i < keyed.size(); ++i) {
        hosts[i] = std::move(keyed[i].second);
    }
}

}  // namespace

std::vector<std::string> HostListModel::HostsOf(const registry::ServiceStore& store) {
    std::vector<std::string> hosts;
    store.forEachRecord([&hosts](const registry::ServiceRecord& record) {
        hosts.emplace_back(record.text(registry::Element::Ip));
    });
    // One sort: a host's copies have the same key and end up side by side.
    SortAsRead(hosts);
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
