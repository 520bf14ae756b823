// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>

namespace vantor::app {
class Clock;
class OwnerThread;
class Reporter;
class SystemLog;
struct AppSettings;
}  // namespace vantor::app

namespace vantor::registry {
class ServiceStore;
}

namespace vantor::pool {
class ThreadPoolManager;
}

namespace vantor::alarm {
class AlarmListModel;
class AlarmQueue;
}  // namespace vantor::alarm

namespace vantor::engine {

class MonitorEngine;
class ServiceHealth;
class ServiceListModel;

// What the engine works with: the settings, the log, the boxes and the
// clock, the owner thread the pool hands completions to, and the core's
// state: the store and the models the windows show.
struct EngineDeps {
    app::AppSettings& settings;
    app::SystemLog& log;
    app::Reporter& reporter;
    const app::Clock& clock;
    app::OwnerThread& owner;
    registry::ServiceStore& store;
    ServiceListModel& services;
    ServiceHealth& health;
    alarm::AlarmListModel& alarms;
};

struct PoolLimits {
    int maxPooled = 200;
    int maxQueueLength = 100;
    int maxQueuedTimeSeconds = 300;
};

// The pool, the alarm queue and the engine; they go in reverse order.
struct EngineParts {
    std::unique_ptr<pool::ThreadPoolManager> pool;
    std::unique_ptr<alarm::AlarmQueue> alarmQueue;
    std::unique_ptr<MonitorEngine> engine;
    EngineParts();
    EngineParts(EngineParts&&) noexcept;
    EngineParts& operator=(EngineParts&& other) noexcept;
    ~EngineParts();
    // The engine first, then the alarm queue, then the pool, which waits for
    // the items still running.
    void reset();
};

// The pool with these limits (its own errors logged), the alarm queue with
// the SMS sender over SMPP, and the engine on both: the program's wiring,
// which the tests use too.
EngineParts WireEngine(const EngineDeps& deps, const PoolLimits& limits);
// A new engine on a pool and alarm queue already there.
std::unique_ptr<MonitorEngine> WireMonitorEngine(const EngineDeps& deps,
                                                 pool::ThreadPoolManager& pool,
                                                 alarm::AlarmQueue& alarmQueue);

}  // namespace vantor::engine
