// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "metrics/MetricsRegistry.h"

namespace vantor::app {
class Clock;
class SystemLog;
}  // namespace vantor::app

namespace vantor::alarm {
class AlarmQueue;
}  // namespace vantor::alarm

namespace vantor::engine {
class MonitorEngine;
}  // namespace vantor::engine

namespace vantor::metrics {

class MetricsServer;

// [Metrics]: where the exposition goes. All empty: nowhere.
struct MetricsSettings {
    std::string listen;       // "127.0.0.1:9469"; a port alone stays on loopback
    std::string webConfig;    // TLS and basic authentication of the endpoint
    std::string textfileDir;  // node_exporter's textfile collector folder
    bool any() const { return !listen.empty() || !textfileDir.empty(); }
};

// The registry with the transports [Metrics] asks for: the endpoint and the
// textfile, each on threads of its own. What cannot be set up is logged at
// Error and left off; the checks go on.
class MetricsExporter final {
public:
    static constexpr const char* kTextfileName = "vantor-lite.prom";

    MetricsExporter(const MetricsSettings& settings, app::SystemLog& log,
                    MetricsRegistry::UptimeSource uptime = {});
    ~MetricsExporter();
    MetricsExporter(const MetricsExporter&) = delete;
    MetricsExporter& operator=(const MetricsExporter&) = delete;

    MetricsRegistry& registry() { return m_registry; }
    // Takes the engine's final verdicts, stops and rounds, and the alarm
    // queue's sent and failed notices, from now on (owner thread). The
    // exporter outlives neither.
    void follow(engine::MonitorEngine& engine, alarm::AlarmQueue& alarms, const app::Clock& clock);
    // A round of checks is over, or a service left: the exposition is made
    // again on the exporter's thread, and the textfile written.
    void publish();
    // The endpoint's port, 0 when none is served.
    int port() const;
    // Waits until the textfile holds everything published before the call
    // (tests).
    void waitWritten();

private:
    void startServer(const MetricsSettings& settings);
    void runPublisher();

    app::SystemLog& m_log;
    MetricsRegistry m_registry;
    std::unique_ptr<MetricsServer> m_server;
    std::string m_textfile;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_written;
    std::uint64_t m_asked = 0;
    std::uint64_t m_done = 0;
    bool m_stop = false;
    bool m_failing = false;  // the last write failed and was logged
    std::thread m_thread;
};

}  // namespace vantor::metrics
