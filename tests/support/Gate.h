// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "pool/WorkItem.h"

namespace vantor::test {

// Holds pool threads until the test lets them go.
class Gate {
public:
    void open() {
        {
            std::lock_guard lock(m_mutex);
            m_open = true;
        }
        m_cv.notify_all();
    }
    void wait() {
        std::unique_lock lock(m_mutex);
        m_cv.wait(lock, [&] { return m_open; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_open = false;
};

// A work item that runs until its gate opens.
class BlockingItem final : public pool::WorkItem {
public:
    explicit BlockingItem(Gate& gate) : m_gate(gate) {}

protected:
    void Execute() override { m_gate.wait(); }

private:
    Gate& m_gate;
};

// Polls a condition that no event on the owner's loop announces.
inline bool Eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace vantor::test
