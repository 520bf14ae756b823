#include "engine/ServiceHealth.h"

#include <algorithm>

#include "registry/ServiceStore.h"

namespace vantor::engine {

void ServiceHealth::removeObserver(Observer* observer) {
    m_observers.erase(std::remove(m_observers.begin(), m_observers.end(), observer),
                      m_observers.end());
}

void ServiceHealth::resultCame(std::string_view key, bool passed) {
    const bool moved =
        passed ? m_failing.erase(std::string(key)) > 0 : m_failing.emplace(key).second;
    if (moved) {
        changed();
    }
}

void ServiceHealth::forget(std::string_view key) {
    if (m_failing.erase(std::string(key)) > 0) {
        changed();
    }
}

void ServiceHealth::keepOnly(const registry::ServiceStore& store) {
    const std::size_t before = m_failing.size();
    std::erase_if(m_failing, [&store](const std::string& key) { return !store.findRecord(key); });
    if (m_failing.size() != before) {
        changed();
    }
}

void ServiceHealth::setScheduling(bool running) {
    if (running != m_scheduling) {
        m_scheduling = running;
        changed();
    }
}

TrayState ServiceHealth::trayState() const {
    if (!m_scheduling) {
        return TrayState::Stopped;
    }
    return m_failing.empty() ? TrayState::Passed : TrayState::Failing;
}

void ServiceHealth::changed() {
    // A copy: an observer may remove itself while it is told.
    const std::vector<Observer*> observers = m_observers;
    for (Observer* observer : observers) {
        observer->healthChanged();
    }
}

}  // namespace vantor::engine
