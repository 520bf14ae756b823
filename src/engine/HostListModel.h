// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "app/ListObserver.h"

namespace vantor::registry {
class ServiceStore;
}

namespace vantor::engine {

// The host tree: "ALL", then each distinct host of the service list once
// (exact, case-sensitive comparison), in the order an operator reads them:
// without regard to case, in the user's locale. Owner thread only.
class HostListModel final {
public:
    enum class Column { Host, Count };

    void addObserver(app::ListObserver* observer) { m_observers.add(observer); }
    void removeObserver(app::ListObserver* observer) { m_observers.remove(observer); }

    void Fill(const registry::ServiceStore& store);
    static std::vector<std::string> HostsOf(const registry::ServiceStore& store);

    const std::vector<std::string>& rows() const { return m_hosts; }
    std::size_t rowCount() const { return m_hosts.size(); }
    std::string_view cellText(std::size_t row, Column column) const;

private:
    std::vector<std::string> m_hosts;
    app::ListObservers m_observers;
};

}  // namespace vantor::engine
