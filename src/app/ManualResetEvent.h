// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace vantor::app {

// An event that stays set until it is reset; waiters wake when it is set.
class ManualResetEvent final {
public:
    explicit ManualResetEvent(bool initiallySet = false) : m_set(initiallySet) {}

    void set() {
        {
            std::lock_guard lock(m_mutex);
            m_set = true;
        }
        m_cv.notify_all();
    }
    void reset() {
        std::lock_guard lock(m_mutex);
        m_set = false;
    }
    bool isSet() const {
        std::lock_guard lock(m_mutex);
        return m_set;
    }
    // True when the event was set before the timeout.
    bool waitFor(std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, timeout, [this] { return m_set; });
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_set;
};

}  // namespace vantor::app
