// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/EngineWiring.h"

#include "alarm/AlarmQueue.h"
#include "alarm/ThreadSMS.h"
#include "app/Messages.h"
#include "app/Poster.h"
#include "app/SystemLog.h"
#include "engine/MonitorEngine.h"
#include "pool/ThreadPoolManager.h"

namespace vantor::engine {

EngineParts::EngineParts() = default;
EngineParts::EngineParts(EngineParts&&) noexcept = default;

EngineParts& EngineParts::operator=(EngineParts&& other) noexcept {
    if (this != &other) {
        reset();
        pool = std::move(other.pool);
        alarmQueue = std::move(other.alarmQueue);
        engine = std::move(other.engine);
    }
    return *this;
}

EngineParts::~EngineParts() {
    reset();
}

void EngineParts::reset() {
    engine.reset();
    alarmQueue.reset();
    pool.reset();
}

EngineParts WireEngine(const EngineDeps& deps, const PoolLimits& limits) {
    EngineParts parts;
    parts.pool = std::make_unique<pool::ThreadPoolManager>(deps.owner, deps.clock);
    parts.pool->setMaxPooled(limits.maxPooled);
    parts.pool->setMaxQueueLength(limits.maxQueueLength);
    parts.pool->setMaxQueuedTime(limits.maxQueuedTimeSeconds);
    app::SystemLog& log = deps.log;
    parts.pool->setErrorCallback([&log](const std::string& text) {
        log.WriteSystemLog(std::string(app::msg::kAlarmingThreadError) + " : " + text,
                           app::LogLevel::Error);
    });
    parts.alarmQueue = std::make_unique<alarm::AlarmQueue>(deps.settings, deps.log, deps.alarms,
                                                           *parts.pool, deps.clock);
    parts.alarmQueue->setSmsSenderFactory([](const app::AppSettings& settings,
                                             const std::string& target, const std::string& text) {
        return std::make_unique<alarm::ThreadSMS>(alarm::SmsSettingsFrom(settings, target), text);
    });
    parts.engine = WireMonitorEngine(deps, *parts.pool, *parts.alarmQueue);
    return parts;
}

std::unique_ptr<MonitorEngine> WireMonitorEngine(const EngineDeps& deps,
                                                 pool::ThreadPoolManager& pool,
                                                 alarm::AlarmQueue& alarmQueue) {
    return std::make_unique<MonitorEngine>(deps.settings, deps.log, deps.reporter, deps.clock,
                                           deps.store, pool, deps.services, deps.health,
                                           alarmQueue);
}

}  // namespace vantor::engine
