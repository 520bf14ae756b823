// SPDX-License-Identifier: GPL-3.0-or-later
#include "alarm/AlertmanagerSink.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "app/JsonText.h"
#include "app/SystemLog.h"
#include "net/HttpClient.h"

namespace vantor::alarm {

namespace {

constexpr const char* kDown = "VantorServiceDown";
constexpr const char* kFlapping = "VantorServiceFlapping";

std::string Rfc3339(std::int64_t epoch) {
    const auto t = static_cast<std::time_t>(epoch);
    std::tm tm{};
    ::gmtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

}  // namespace

std::string AlertsJson(const std::vector<Alert>& alerts) {
    std::string out = "[";
    for (const Alert& a : alerts) {
        if (out.size() > 1) {
            out += ',';
        }
        out += "{\"labels\":{";
        const std::pair<const char*, const std::string*> labels[] = {
            {"alertname", &a.alertname}, {"key", &a.key},           {"instance", &a.instance},
            {"module", &a.module},       {"severity", &a.severity},
        };
        bool first = true;
        for (const auto& [name, value] : labels) {
            if (value->empty()) {
                continue;  // Alertmanager refuses empty label values
            }
            if (!first) {
                out += ',';
            }
            first = false;
            out += app::JsonString(name);
            out += ':';
            out += app::JsonString(*value);
        }
        out += "},\"annotations\":{\"summary\":";
        out += app::JsonString(a.summary);
        out += "},\"startsAt\":";
        out += app::JsonString(Rfc3339(a.startsAt));
        if (a.endsAt) {
            out += ",\"endsAt\":";
            out += app::JsonString(Rfc3339(*a.endsAt));
        }
        out += '}';
    }
    out += ']';
    return out;
}

std::string AlertmanagerSink::AlertsUrl(const std::string& base) {
    std::string url = base;
    while (!url.empty() && url.back() == '/') {
        url.pop_back();
    }
    return url + "/api/v2/alerts";
}

std::vector<std::string> AlertmanagerSink::ParseList(const std::string& text) {
    std::vector<std::string> out;
    std::string current;
    for (const char c : text + " ") {
        if (c == ',' || c == ' ' || c == '\t' || c == ';') {
            if (!current.empty()) {
                out.push_back(net::CompleteUrl(current));
            }
            current.clear();
        } else {
            current += c;
        }
    }
    return out;
}

AlertmanagerSink::AlertmanagerSink(std::vector<std::string> urls, app::SystemLog& log)
    : m_urls(std::move(urls)), m_log(log) {
    m_thread = std::thread([this] { run(); });
}

AlertmanagerSink::~AlertmanagerSink() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void AlertmanagerSink::notice(NoticeType type, const std::string& key, const std::string& instance,
                              const std::string& module, const std::string& text,
                              std::int64_t now) {
    Alert a;
    a.key = key;
    a.instance = instance;
    a.module = module;
    a.summary = text;
    switch (type) {
        case NoticeType::Failure:
        case NoticeType::Reminder:
        case NoticeType::Flapping: {
            a.alertname = type == NoticeType::Flapping ? kFlapping : kDown;
            a.severity = type == NoticeType::Flapping ? "warning" : "critical";
            auto [it, added] = m_firing.try_emplace({key, a.alertname}, Firing{now, text});
            if (!added) {
                it->second.summary = text;
            }
            a.startsAt = it->second.startsAt;
            break;
        }
        case NoticeType::Recovery:
        case NoticeType::Stable: {
            a.alertname = type == NoticeType::Stable ? kFlapping : kDown;
            a.severity = type == NoticeType::Stable ? "warning" : "critical";
            const auto it = m_firing.find({key, a.alertname});
            if (it == m_firing.end()) {
                return;  // nothing fires that it could end
            }
            a.startsAt = it->second.startsAt;
            a.summary = it->second.summary;
            a.endsAt = now;
            m_firing.erase(it);
            break;
        }
    }
    post(std::move(a));
}

void AlertmanagerSink::verdict(const std::string& key, const std::string& instance,
                               const std::string& module, bool passed, const std::string& detail,
                               std::int64_t now, bool storedFailed) {
    const bool first = m_seen.insert(key).second;
    auto it = m_firing.find({key, kDown});
    if (it == m_firing.end()) {
        if (!passed || !first || !storedFailed) {
            return;
        }
        // Fired by an earlier run, as far as this one can tell: its start
        // is not known, and Alertmanager keeps the one it has.
        it = m_firing.try_emplace({key, kDown}, Firing{now, detail}).first;
    }
    Alert a;
    a.alertname = kDown;
    a.severity = "critical";
    a.key = key;
    a.instance = instance;
    a.module = module;
    a.startsAt = it->second.startsAt;
    if (passed) {
        a.summary = it->second.summary;
        a.endsAt = now;
        m_firing.erase(it);
    } else {
        a.summary = detail.empty() ? it->second.summary : detail;
        it->second.summary = a.summary;
    }
    post(std::move(a));
}

void AlertmanagerSink::post(Alert alert) {
    {
        std::lock_guard lock(m_mutex);
        if (m_queue.size() >= kMaxWaiting) {
            // The oldest goes: a newer post of the same alert says more.
            m_queue.pop_front();
            ++m_done;
        }
        m_queue.push_back(std::move(alert));
        ++m_handed;
    }
    m_wake.notify_all();
}

void AlertmanagerSink::waitSent() {
    std::unique_lock lock(m_mutex);
    const std::uint64_t target = m_handed;
    m_sent.wait(lock, [&] { return m_done >= target; });
}

void AlertmanagerSink::run() {
    using Clock = std::chrono::steady_clock;
    std::optional<Clock::time_point> stopAt;
    for (;;) {
        std::vector<Alert> batch;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [&] { return m_stop || !m_queue.empty(); });
            if (m_stop && !stopAt) {
                // What waits gets one more try, for a few seconds at most.
                stopAt = Clock::now() + std::chrono::milliseconds(kTimeoutMs);
            }
            if (m_queue.empty() || (stopAt && Clock::now() >= *stopAt)) {
                m_done += m_queue.size();
                m_queue.clear();
                m_sent.notify_all();
                if (m_stop) {
                    return;
                }
                continue;
            }
            while (!m_queue.empty() && batch.size() < 100) {
                batch.push_back(std::move(m_queue.front()));
                m_queue.pop_front();
            }
        }
        const std::string body = AlertsJson(batch);
        for (const std::string& base : m_urls) {
            net::HttpRequest request;
            request.url = AlertsUrl(base);
            request.method = "POST";
            request.body = body;
            request.contentType = "application/json";
            request.timeoutMs = kTimeoutMs;
            request.maxRequests = 1;
            net::HttpResult result;
            const int tries = stopAt ? 1 : kTries;
            for (int attempt = 1; attempt <= tries; ++attempt) {
                result = net::PerformHttp(request);
                if (result.ok) {
                    break;
                }
                if (attempt < tries) {
                    std::unique_lock lock(m_mutex);
                    m_wake.wait_for(lock, std::chrono::seconds(attempt), [&] { return m_stop; });
                }
            }
            if (!result.ok) {
                m_log.WriteSystemLog("Alarming Message - Alertmanager : error [" +
                                         net::UrlForDisplay(request.url) + "] " + result.error,
                                     app::LogLevel::Error);
            }
        }
        {
            std::lock_guard lock(m_mutex);
            m_done += batch.size();
        }
        m_sent.notify_all();
    }
}

}  // namespace vantor::alarm
