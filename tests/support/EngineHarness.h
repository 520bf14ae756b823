#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "alarm/AlarmListModel.h"
#include "alarm/AlarmQueue.h"
#include "app/EventLoop.h"
#include "engine/MonitorEngine.h"
#include "engine/ServiceListModel.h"
#include "pool/ThreadPoolManager.h"
#include "registry/ServiceStore.h"

namespace vantor::test {

// The engine wired as the program wires it, over a service list of its own:
// a pool on an owner loop that the test runs, the alarm queue, the engine
// and both list models.
class EngineHarness {
public:
    EngineHarness(std::string serviceFile, app::AppSettings& settings, app::SystemLog& log,
                  app::Reporter& reporter, const app::Clock& clock)
        : store(std::move(serviceFile)),
          m_settings(settings),
          m_log(log),
          m_reporter(reporter),
          m_clock(clock) {}
    ~EngineHarness() { stop(); }
    EngineHarness(const EngineHarness&) = delete;
    EngineHarness& operator=(const EngineHarness&) = delete;

    // A new pool (0: no limit) with a new alarm queue and engine on it; what
    // was there before is stopped first.
    void start(int maxPooled, int maxQueueLength = 0) {
        stop();
        pool = std::make_unique<pool::ThreadPoolManager>(loop, m_clock);
        pool->setMaxPooled(maxPooled);
        pool->setMaxQueueLength(maxQueueLength);
        pool->setMaxQueuedTime(0);
        alarmQueue = std::make_unique<alarm::AlarmQueue>(m_settings, m_log, alarms, *pool, m_clock);
        newEngine();
    }
    // A new engine on the same pool; only while no check is out, as the
    // checks of the old one come back to it.
    void newEngine() {
        engine = std::make_unique<engine::MonitorEngine>(m_settings, m_log, m_reporter, m_clock,
                                                         store, *pool, services, *alarmQueue);
    }
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

    registry::ServiceStore store;
    app::EventLoop loop;
    engine::ServiceListModel services;
    alarm::AlarmListModel alarms;
    std::unique_ptr<pool::ThreadPoolManager> pool;
    std::unique_ptr<alarm::AlarmQueue> alarmQueue;
    std::unique_ptr<engine::MonitorEngine> engine;

private:
    app::AppSettings& m_settings;
    app::SystemLog& m_log;
    app::Reporter& m_reporter;
    const app::Clock& m_clock;
};

}  // namespace vantor::test
