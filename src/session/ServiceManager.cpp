// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/ServiceManager.h"

#include <systemd/sd-daemon.h>

#include "app/Poster.h"

namespace vantor::session {

ServiceManager::ServiceManager()
    : ServiceManager([](const std::string& state) { return sd_notify(0, state.c_str()) > 0; },
                     [] {
                         std::uint64_t usec = 0;
                         return sd_watchdog_enabled(0, &usec) > 0 ? std::chrono::microseconds(usec)
                                                                  : std::chrono::microseconds(0);
                     }) {}

ServiceManager::ServiceManager(Notify notify, WatchdogInterval interval)
    : m_notify(std::move(notify)),
      m_interval(std::move(interval)),
      m_alive(std::make_shared<bool>(true)) {}

ServiceManager::~ServiceManager() {
    *m_alive = false;
}

void ServiceManager::ready(app::OwnerThread& owner) {
    m_notify("READY=1");
    const auto interval = m_interval();
    if (interval.count() > 0) {
        const auto every =
            std::max(std::chrono::milliseconds(1),
                     std::chrono::duration_cast<std::chrono::milliseconds>(interval) / 2);
        m_notify("WATCHDOG=1");
        pet(owner, every);
    }
}

void ServiceManager::stopping() {
    m_notify("STOPPING=1");
}

void ServiceManager::pet(app::OwnerThread& owner, std::chrono::milliseconds every) {
    // Each pet is a task of the owner thread's loop: a loop that is stuck
    // runs none.
    owner.runLater(every, [this, &owner, every, alive = std::weak_ptr<bool>(m_alive)] {
        const auto self = alive.lock();
        if (!self || !*self) {
            return;
        }
        m_notify("WATCHDOG=1");
        pet(owner, every);
    });
}

}  // namespace vantor::session
