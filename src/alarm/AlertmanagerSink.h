// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "alarm/AlarmPolicy.h"

namespace vantor::app {
class SystemLog;
}  // namespace vantor::app

namespace vantor::alarm {

// One alert as Alertmanager's API v2 takes it.
struct Alert {
    std::string alertname;  // "VantorServiceDown" or "VantorServiceFlapping"
    std::string key;
    std::string instance;
    std::string module;
    std::string severity;  // "critical" or "warning"
    std::string summary;   // the notice's text
    std::int64_t startsAt = 0;
    std::optional<std::int64_t> endsAt;  // set: resolved at that time
};

// The alerts of a batch as the JSON body of POST /api/v2/alerts.
std::string AlertsJson(const std::vector<Alert>& alerts);

// [Alertmanager] URL: every alarm notice of a service also goes to each
// Alertmanager as an alert, and the service's next passed verdict resolves
// it (endsAt), whether or not the policy sends recoveries. A failed verdict
// while the alert fires posts it again, so that Alertmanager does not let
// it lapse. Posted on a thread of its own, a few tries each, within a time
// limit; a post that fails every try is logged like a failed alarm.
class AlertmanagerSink final {
public:
    static constexpr int kTries = 3;
    static constexpr int kTimeoutMs = 5000;
    static constexpr std::size_t kMaxWaiting = 10000;

    AlertmanagerSink(std::vector<std::string> urls, app::SystemLog& log);
    ~AlertmanagerSink();
    AlertmanagerSink(const AlertmanagerSink&) = delete;
    AlertmanagerSink& operator=(const AlertmanagerSink&) = delete;

    // Owner thread: a notice the policy gave for the service.
    void notice(NoticeType type, const std::string& key, const std::string& instance,
                const std::string& module, const std::string& text, std::int64_t now);
    // Owner thread: a final verdict of the service. storedFailed: the
    // result the service list held before it; the first pass of a run
    // after a stored failure resolves an alert a run before this one fired.
    void verdict(const std::string& key, const std::string& instance, const std::string& module,
                 bool passed, const std::string& detail, std::int64_t now,
                 bool storedFailed = false);
    // Waits until everything handed over was posted or given up (tests).
    void waitSent();

    // "http://host:9093" and "http://host:9093/" become
    // "http://host:9093/api/v2/alerts".
    static std::string AlertsUrl(const std::string& base);
    // The URLs of a list written with commas or blanks between them.
    static std::vector<std::string> ParseList(const std::string& text);

private:
    void post(Alert alert);
    void run();

    std::vector<std::string> m_urls;
    app::SystemLog& m_log;
    // Owner thread: the alerts firing, by key and name, with their start.
    struct Firing {
        std::int64_t startsAt = 0;
        std::string summary;
    };
    std::map<std::pair<std::string, std::string>, Firing> m_firing;
    std::set<std::string> m_seen;  // keys with a verdict in this run

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_sent;
    std::deque<Alert> m_queue;
    std::uint64_t m_handed = 0;
    std::uint64_t m_done = 0;
    bool m_stop = false;
    std::thread m_thread;
};

}  // namespace vantor::alarm
