// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "app/Result.h"

namespace vantor::registry {

// The thread that takes check results to service.xml: woken by a result,
// it lets results gather for the write interval since its last write, then
// runs the write it was given. A write that failed or had to wait is tried
// again after the interval; a failure is told once until a write succeeds.
// Stopping does not write what is left (the store's close does).
class ServiceWriter final {
public:
    // True when the file has what there is to write; false when the write
    // had to wait (someone else's version is to be taken in first): it is
    // tried again after the interval.
    using Write = std::function<Expected<bool>()>;
    // Told on the writer's thread.
    using FailedHandler = std::function<void(const std::string& error)>;

    ServiceWriter() = default;
    ~ServiceWriter() { stop(); }
    ServiceWriter(const ServiceWriter&) = delete;
    ServiceWriter& operator=(const ServiceWriter&) = delete;

    void start(Write write);
    void stop();
    // A result came: a write is due.
    void wake();
    void setInterval(std::chrono::milliseconds interval);
    void setFailedHandler(FailedHandler handler);

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    bool m_pending = false;
    bool m_failing = false;
    std::chrono::milliseconds m_interval{1000};
    Write m_write;
    FailedHandler m_failed;
    std::thread m_thread;
};

}  // namespace vantor::registry
