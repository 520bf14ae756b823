// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace vantor::app {
class OwnerThread;
}  // namespace vantor::app

namespace vantor::session {

// The link to the service manager that started the program, when one did
// (systemd's NOTIFY_SOCKET): readiness once start-up is over, "stopping"
// at the end, and the watchdog petted from the owner thread's own loop at
// half its interval, so that a loop that hangs stops petting and the
// manager restarts the program. Without a manager every call does nothing.
class ServiceManager final {
public:
    // Sends one notification ("READY=1"); true when it was delivered.
    using Notify = std::function<bool(const std::string& state)>;
    // The manager's watchdog interval, zero when it keeps none.
    using WatchdogInterval = std::function<std::chrono::microseconds()>;

    // The real ones: sd_notify and sd_watchdog_enabled.
    ServiceManager();
    ServiceManager(Notify notify, WatchdogInterval interval);
    ~ServiceManager();
    ServiceManager(const ServiceManager&) = delete;
    ServiceManager& operator=(const ServiceManager&) = delete;

    // Start-up is over: READY=1, and the petting starts on `owner`.
    void ready(app::OwnerThread& owner);
    void stopping();

private:
    void pet(app::OwnerThread& owner, std::chrono::milliseconds every);

    Notify m_notify;
    WatchdogInterval m_interval;
    std::shared_ptr<bool> m_alive;
};

}  // namespace vantor::session
