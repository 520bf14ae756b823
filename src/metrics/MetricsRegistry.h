// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "metrics/Exposition.h"

namespace vantor::metrics {

// The latest verdict of every watched service, for scrapes and the
// textfile. The owner thread hands changes over (a short lock, no
// formatting, nothing that grows with the number of services); the thread
// that renders applies them first, so a scrape never waits for the owner
// thread and the owner thread never waits for a scrape.
class MetricsRegistry final {
public:
    struct Uptime {
        std::optional<double> day;
        std::optional<double> month;
    };
    // Read on the rendering thread, once per service and rendering.
    using UptimeSource = std::function<Uptime(const std::string& key)>;

    explicit MetricsRegistry(UptimeSource uptime = {});

    // A final verdict of a watched service; the service joins the
    // exposition with its first one.
    void verdict(const std::string& key, const std::string& module, const std::string& instance,
                 const std::string& schedule, ServiceMetrics::Verdict verdict, bool alarmed);
    // The service is deleted or stopped: it leaves at once.
    void remove(const std::string& key);
    // The started services, as the list holds them now (key, module,
    // instance, schedule): those not in it leave; those not in the
    // exposition yet join it without a verdict (their info, alarm state and
    // count), so that a service never checked since the start is there too.
    void watch(std::vector<ServiceMetrics> services);
    // Any thread.
    void alarmDone(Method method, bool sent);

    // The exposition as it stands; any thread. Renderings within `maxAge`
    // of each other with nothing handed over between them share one text
    // (0: made afresh).
    std::shared_ptr<const TextBuffer> render(
        std::chrono::milliseconds maxAge = std::chrono::milliseconds(1000));
    // Makes memory for the next rendering ready when no text has given its
    // own back: for the thread that renders after each round, so that a
    // scrape's rendering writes into pages already there.
    void warm();
    // Services in the exposition (after what was handed over is applied).
    std::size_t size();

private:
    // What was handed over for one service since the last rendering: the
    // latest verdict and how many there were; `removed`: whatever the
    // exposition held of it goes first.
    struct Pending {
        std::optional<ServiceMetrics> latest;
        std::uint64_t verdicts = 0;
        bool removed = false;
    };
    // Rendering thread, under m_renderMutex.
    bool applyPending();

    UptimeSource m_uptime;
    std::mutex m_mutex;  // m_pending, m_filter
    // One entry per service however many verdicts came: what waits for a
    // rendering stays as large as the list.
    std::unordered_map<std::string, Pending> m_pending;
    // The last watch() not applied yet, and the keys in it.
    std::optional<std::vector<ServiceMetrics>> m_watched;
    std::unordered_set<std::string> m_watchedKeys;
    std::array<std::atomic<std::uint64_t>, 4> m_sent{};
    std::array<std::atomic<std::uint64_t>, 4> m_failed{};
    std::atomic<std::uint64_t> m_alarmChanges{0};

    std::mutex m_renderMutex;  // everything below
    // By key; the nodes stay where they are, so `m_order` (the services in
    // the order of their keys, for a text that keeps its order) is made
    // again only when a service comes or goes.
    std::unordered_map<std::string, ServiceMetrics> m_services;
    std::vector<ServiceMetrics*> m_order;
    bool m_reorder = false;
    std::shared_ptr<const TextBuffer> m_text;
    // The memory of texts that every scrape has let go, for the next ones;
    // shared with the texts, which may outlive the registry.
    struct Spares {
        std::mutex mutex;
        std::vector<TextBuffer> buffers;
    };
    std::shared_ptr<Spares> m_spares;
    // The last text's length: the next one is given room for it at once.
    std::size_t m_renderedSize = 0;
    std::chrono::steady_clock::time_point m_renderedAt;
    std::uint64_t m_renderedAlarmChanges = 0;
};

}  // namespace vantor::metrics
