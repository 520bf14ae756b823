// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/EventLoop.h"

namespace vantor::app {

void EventLoop::post(std::function<void()> task) {
    {
        std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    m_wake.notify_one();
}

EventLoop::TimerId EventLoop::postDelayed(Duration delay, std::function<void()> task) {
    TimerId id;
    {
        std::lock_guard lock(m_mutex);
        id = m_nextTimer++;
        m_timers.emplace(std::chrono::steady_clock::now() + delay,
                         std::make_pair(id, std::move(task)));
    }
    m_wake.notify_one();
    return id;
}

void EventLoop::cancelTimer(TimerId id) {
    std::lock_guard lock(m_mutex);
    for (auto it = m_timers.begin(); it != m_timers.end(); ++it) {
        if (it->second.first == id) {
            m_timers.erase(it);
            return;
        }
    }
}

void EventLoop::quit(int exitCode) {
    {
        std::lock_guard lock(m_mutex);
        if (!m_quit) {
            m_exitCode = exitCode;
        }
        m_quit = true;
    }
    m_wake.notify_all();
}

bool EventLoop::quitRequested() const {
    std::lock_guard lock(m_mutex);
    return m_quit;
}

bool EventLoop::runOne(std::chrono::steady_clock::time_point deadline) {
    std::function<void()> task;
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            if (m_quit) {
                return false;
            }
            const auto now = std::chrono::steady_clock::now();
            // A due timer goes first, so that a stream of posted tasks can
            // never hold timers back.
            if (!m_timers.empty() && m_timers.begin()->first <= now) {
                task = std::move(m_timers.begin()->second.second);
                m_timers.erase(m_timers.begin());
                break;
            }
            if (!m_tasks.empty()) {
                task = std::move(m_tasks.front());
                m_tasks.pop_front();
                break;
            }
            if (now >= deadline) {
                return false;
            }
            auto until = deadline;
            if (!m_timers.empty() && m_timers.begin()->first < until) {
                until = m_timers.begin()->first;
            }
            m_wake.wait_until(lock, until);
        }
    }
    task();
    return true;
}

int EventLoop::run() {
    while (!quitRequested()) {
        runOne(std::chrono::steady_clock::now() + std::chrono::hours(1));
    }
    std::lock_guard lock(m_mutex);
    return m_exitCode;
}

bool EventLoop::runUntil(const std::function<bool()>& done, Duration timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (!runOne(deadline) &&
            (std::chrono::steady_clock::now() >= deadline || quitRequested())) {
            return done();
        }
    }
    return true;
}

}  // namespace vantor::app
