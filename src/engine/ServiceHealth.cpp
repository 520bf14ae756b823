// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/ServiceHealth.h"

#include <algorithm>

#include "app/ReserveFor.h"
#include "registry/ServiceStore.h"

namespace vantor::engine {

void ServiceHealth::removeObserver(Observer* observer) {
    m_observers.erase(std::remove(m_observers.begin(), m_observers.end(), observer),
                      m_observers.end());
}

bool ServiceHealth::erase(const std::string& key) {
    return m_failing.erase(key) + m_passed.erase(key) + m_slow.erase(key) > 0;
}

void ServiceHealth::resultCame(std::string_view key, bool passed, bool slow) {
    std::unordered_set<std::string>& into = !passed ? m_failing : slow ? m_slow : m_passed;
    std::string k(key);
    if (into.contains(k)) {
        return;
    }
    erase(k);
    into.insert(std::move(k));
    changed();
}

void ServiceHealth::reserve(std::size_t n) {
    app::ReserveFor(m_passed, n);
}

void ServiceHealth::forget(std::string_view key) {
    if (erase(std::string(key))) {
        changed();
    }
}

void ServiceHealth::keepOnly(const registry::ServiceStore& store) {
    const auto gone = [&store](const std::string& key) { return !store.findRecord(key); };
    std::size_t dropped = 0;
    for (auto* set : {&m_failing, &m_passed, &m_slow}) {
        dropped += std::erase_if(*set, gone);
    }
    if (dropped > 0) {
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
