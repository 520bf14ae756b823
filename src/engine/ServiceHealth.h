// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace vantor::registry {
class ServiceStore;
}

namespace vantor::engine {

// What the tray icon shows.
enum class TrayState { Passed, Failing, Stopped };

// The services whose last scheduled check failed, and whether scheduling
// runs: the state behind the tray icon. It follows every result, edit,
// delete, re-key and reload. Owner thread only.
class ServiceHealth final {
public:
    class Observer {
    public:
        virtual ~Observer() = default;
        virtual void healthChanged() = 0;
    };
    void addObserver(Observer* observer) { m_observers.push_back(observer); }
    void removeObserver(Observer* observer);

    // The final result of a scheduled check (a retry's, not the failure it
    // repeats); slow: it passed over its response-time limit.
    void resultCame(std::string_view key, bool passed, bool slow = false);
    // The service went, or its last result did (an update stores "Unknown").
    void forget(std::string_view key);
    // After the list changed as a whole: only the services still there count.
    void keepOnly(const registry::ServiceStore& store);
    void setScheduling(bool running);
    // Room for the results of n services (most of them pass).
    void reserve(std::size_t n);

    TrayState trayState() const;
    std::size_t failingCount() const { return m_failing.size(); }
    // Of the services with a result: passed in time, and passed but slow.
    std::size_t passedCount() const { return m_passed.size(); }
    std::size_t slowCount() const { return m_slow.size(); }
    bool failing(std::string_view key) const { return m_failing.contains(std::string(key)); }

private:
    void changed();

    bool erase(const std::string& key);

    std::unordered_set<std::string> m_failing;
    std::unordered_set<std::string> m_passed;
    std::unordered_set<std::string> m_slow;
    bool m_scheduling = false;
    std::vector<Observer*> m_observers;
};

}  // namespace vantor::engine
