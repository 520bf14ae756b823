// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "alarm/AlarmListModel.h"
#include "alarm/AlarmQueue.h"
#include "app/EventLoop.h"
#include "engine/EngineWiring.h"
#include "engine/MonitorEngine.h"
#include "engine/ServiceHealth.h"
#include "engine/ServiceListModel.h"
#include "pool/ThreadPoolManager.h"
#include "registry/ServiceStore.h"

namespace vantor::test {

// The engine wired as the program wires it (engine::WireEngine), over a
// service list of its own: a pool on an owner loop that the test runs, the
// alarm queue, the engine and the core's models.
class EngineHarness {
public:
    EngineHarness(std::string serviceFile, app::AppSettings& settings, app::SystemLog& log,
                  app::Reporter& reporter, const app::Clock& clock)
        : store(std::move(serviceFile)), m_deps{settings, log,      reporter, clock, loop,
                                                store,    services, health,   alarms} {
        store.setOwner(&loop);
    }
    ~EngineHarness() { stop(); }
    EngineHarness(const EngineHarness&) = delete;
    EngineHarness& operator=(const EngineHarness&) = delete;

    // A new pool (0: no limit) with a new alarm queue and engine on it; what
    // was there before is stopped first.
    void start(int maxPooled, int maxQueueLength = 0) {
        stop();
        engine::EngineParts parts = engine::WireEngine(m_deps, {maxPooled, maxQueueLength, 0});
        pool = std::move(parts.pool);
        alarmQueue = std::move(parts.alarmQueue);
        engine = std::move(parts.engine);
    }
    // A new engine on the same pool; only while no check is out, as the
    // checks of the old one come back to it.
    void newEngine() { engine = engine::WireMonitorEngine(m_deps, *pool, *alarmQueue); }
    // Waits for the running items and drops the rest.
    void stop() {
        engine.reset();
        alarmQueue.reset();
        pool.reset();
    }

    // Checks and senders out.
    int outstanding() const {
        return engine ? engine->outstanding() + alarmQueue->outstanding() : 0;
    }
    // Runs the owner loop until nothing is out.
    bool drain(std::chrono::milliseconds timeout) {
        return loop.runUntil([&] { return outstanding() == 0; }, timeout);
    }

    app::EventLoop loop;
    registry::ServiceStore store;
    engine::ServiceListModel services;
    engine::ServiceHealth health;
    alarm::AlarmListModel alarms;
    std::unique_ptr<pool::ThreadPoolManager> pool;
    std::unique_ptr<alarm::AlarmQueue> alarmQueue;
    std::unique_ptr<engine::MonitorEngine> engine;

private:
    engine::EngineDeps m_deps;
};

}  // namespace vantor::test
