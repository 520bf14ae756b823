// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

#include "app/Poster.h"

namespace vantor::app {

// The owner thread's event loop when there is no window system: posted
// closures and timers run on the thread that calls run() or runUntil().
class EventLoop final : public OwnerThread {
public:
    using TimerId = std::uint64_t;
    using Duration = std::chrono::steady_clock::duration;

    EventLoop() = default;
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    void post(std::function<void()> task) override;
    void runLater(std::chrono::milliseconds delay, std::function<void()> task) override {
        postDelayed(delay, std::move(task));
    }
    // Runs task once after `delay`; any thread.
    TimerId postDelayed(Duration delay, std::function<void()> task);
    void cancelTimer(TimerId id);

    // Runs until quit() and returns its code.
    int run();
    // Runs tasks until done() is true (checked before and after each task)
    // or until the timeout; returns done().
    bool runUntil(const std::function<bool()>& done, Duration timeout);
    // Any thread. The loop returns after the task it is running.
    void quit(int exitCode = 0);
    bool quitRequested() const;

private:
    // Runs one posted task or due timer, waiting at most until `deadline`
    // for one; false when nothing ran.
    bool runOne(std::chrono::steady_clock::time_point deadline);

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_tasks;
    std::multimap<std::chrono::steady_clock::time_point, std::pair<TimerId, std::function<void()>>>
        m_timers;
    TimerId m_nextTimer = 1;
    bool m_quit = false;
    int m_exitCode = 0;
};

}  // namespace vantor::app
