// SPDX-License-Identifier: GPL-3.0-or-later
#include "registry/ServiceWriter.h"

namespace vantor::registry {

void ServiceWriter::start(Write write) {
    stop();
    std::lock_guard lock(m_mutex);
    m_write = std::move(write);
    m_stop = false;
    m_pending = false;
    m_failing = false;
    m_thread = std::thread([this] { run(); });
}

void ServiceWriter::stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void ServiceWriter::wake() {
    {
        std::lock_guard lock(m_mutex);
        m_pending = true;
    }
    m_wake.notify_one();
}

void ServiceWriter::setInterval(std::chrono::milliseconds interval) {
    std::lock_guard lock(m_mutex);
    m_interval = interval;
}

void ServiceWriter::setFailedHandler(FailedHandler handler) {
    std::lock_guard lock(m_mutex);
    m_failed = std::move(handler);
}

void ServiceWriter::run() {
    using Clock = std::chrono::steady_clock;
    Clock::time_point lastWrite{};
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [&] { return m_stop || m_pending; });
        if (m_stop) {
            return;
        }
        // Results that come in the meantime go with this write.
        const Clock::time_point due = lastWrite + m_interval;
        if (m_wake.wait_until(lock, due, [&] { return m_stop; })) {
            return;  // closing writes what is left
        }
        m_pending = false;
        const Write write = m_write;
        lock.unlock();
        const Expected<bool> written = write();
        lastWrite = Clock::now();
        lock.lock();
        if (!written || !*written) {
            m_pending = true;  // again after the interval
        }
        // A write that keeps failing is told once, until one succeeds.
        const bool tell = !written && !m_failing;
        m_failing = !written;
        if (tell && m_failed) {
            const FailedHandler handler = m_failed;
            lock.unlock();
            handler(written.error());
            lock.lock();
        }
    }
}

}  // namespace vantor::registry
