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
// runs the write it was given; a failed write is told once, and the next
// result tries again. Stopping does not write what is left (the store's
// close does).
class ServiceWriter final {
public:
    using Write = std::function<Status()>;
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
    std::chrono::milliseconds m_interval{1000};
    Write m_write;
    FailedHandler m_failed;
    std::thread m_thread;
};

}  // namespace vantor::registry
