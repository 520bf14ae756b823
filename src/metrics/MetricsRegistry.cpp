// SPDX-License-Identifier: GPL-3.0-or-later
#include "metrics/MetricsRegistry.h"

#include <algorithm>

#include <utility>

namespace vantor::metrics {

MetricsRegistry::MetricsRegistry(UptimeSource uptime)
    : m_uptime(std::move(uptime)), m_spares(std::make_shared<Spares>()) {}

void MetricsRegistry::verdict(const std::string& key, const std::string& module,
                              const std::string& instance, const std::string& schedule,
                              ServiceMetrics::Verdict verdict, bool alarmed) {
    std::lock_guard lock(m_mutex);
    Pending& p = m_pending[key];
    ServiceMetrics& s = p.latest ? *p.latest : p.latest.emplace();
    if (s.key.empty()) {
        s.key = key;
    }
    s.module = module;
    s.instance = instance;
    s.schedule = schedule;
    s.last = std::move(verdict);
    s.alarmed = alarmed;
    ++p.verdicts;
}

void MetricsRegistry::remove(const std::string& key) {
    std::lock_guard lock(m_mutex);
    m_pending[key] = Pending{std::nullopt, 0, true};
}

void MetricsRegistry::watch(std::vector<ServiceMetrics> services) {
    std::unordered_set<std::string> keys;
    keys.reserve(services.size());
    for (const ServiceMetrics& s : services) {
        keys.insert(s.key);
    }
    std::lock_guard lock(m_mutex);
    // What was handed over for services no longer watched goes; what
    // comes after this call is applied after it.
    std::erase_if(m_pending, [&](const auto& entry) { return keys.count(entry.first) == 0; });
    m_watched = std::move(services);
    m_watchedKeys = std::move(keys);
}

void MetricsRegistry::alarmDone(Method method, bool sent) {
    const auto i = static_cast<std::size_t>(method);
    (sent ? m_sent : m_failed)[i].fetch_add(1, std::memory_order_relaxed);
    m_alarmChanges.fetch_add(1, std::memory_order_relaxed);
}

bool MetricsRegistry::applyPending() {
    std::unordered_map<std::string, Pending> pending;
    std::optional<std::vector<ServiceMetrics>> watched;
    std::unordered_set<std::string> watchedKeys;
    {
        std::lock_guard lock(m_mutex);
        pending.swap(m_pending);
        watched.swap(m_watched);
        watchedKeys.swap(m_watchedKeys);
    }
    // Removals first: a service changed and still watched comes back from
    // the list without its old verdict.
    for (const auto& [key, p] : pending) {
        if (p.removed) {
            m_reorder = m_services.erase(key) > 0 || m_reorder;
        }
    }
    if (watched) {
        m_reorder = std::erase_if(m_services,
                                  [&](const auto& entry) {
                                      return watchedKeys.count(entry.first) == 0;
                                  }) > 0 ||
                    m_reorder;
        for (ServiceMetrics& s : *watched) {
            ServiceMetrics& kept = m_services[s.key];
            m_reorder = m_reorder || kept.key.empty();
            if (kept.key.empty() || kept.instance != s.instance || kept.module != s.module) {
                // New, or its target changed: nothing of the old one stays.
                s.labels = ServiceLabels(s);
                kept = std::move(s);
            } else {
                kept.schedule = std::move(s.schedule);
            }
        }
    }
    for (auto& [key, p] : pending) {
        if (!p.latest) {
            continue;
        }
        ServiceMetrics& s = m_services[key];
        m_reorder = m_reorder || s.key.empty();
        const std::uint64_t before = s.checks;
        const bool sameLabels =
            s.instance == p.latest->instance && s.module == p.latest->module && !s.labels.empty();
        std::string labels = sameLabels ? std::move(s.labels) : ServiceLabels(*p.latest);
        s = std::move(*p.latest);
        s.labels = std::move(labels);
        s.checks = before + p.verdicts;
    }
    return watched || !pending.empty();
}

std::shared_ptr<const TextBuffer> MetricsRegistry::render(std::chrono::milliseconds maxAge) {
    std::lock_guard lock(m_renderMutex);
    const bool changed = applyPending();
    const std::uint64_t alarmChanges = m_alarmChanges.load(std::memory_order_relaxed);
    const auto now = std::chrono::steady_clock::now();
    if (m_text && !changed && alarmChanges == m_renderedAlarmChanges &&
        now - m_renderedAt < maxAge) {
        return m_text;
    }
    if (m_reorder) {
        m_order.clear();
        m_order.reserve(m_services.size());
        for (auto& [key, s] : m_services) {
            m_order.push_back(&s);
        }
        std::sort(m_order.begin(), m_order.end(),
                  [](const ServiceMetrics* a, const ServiceMetrics* b) { return a->key < b->key; });
        m_reorder = false;
    }
    std::vector<const ServiceMetrics*> services;
    services.reserve(m_order.size());
    for (ServiceMetrics* s : m_order) {
        if (m_uptime) {
            const Uptime u = m_uptime(s->key);
            s->uptime24h = u.day;
            s->uptime30d = u.month;
        }
        services.push_back(s);
    }
    AlarmCounts counts;
    for (std::size_t i = 0; i < counts.sent.size(); ++i) {
        counts.sent[i] = m_sent[i].load(std::memory_order_relaxed);
        counts.failed[i] = m_failed[i].load(std::memory_order_relaxed);
    }
    // A text no scrape holds any more gives its memory back to the spares:
    // a large exposition is written into memory already in use, not
    // faulted in afresh each time.
    TextBuffer buffer;
    {
        std::lock_guard spares(m_spares->mutex);
        if (!m_spares->buffers.empty()) {
            buffer = std::move(m_spares->buffers.back());
            m_spares->buffers.pop_back();
        }
    }
    // The first text is given 4 KiB a service (more than the most one
    // needs): pages never written cost nothing, a text grown by doubling
    // costs a copy and fresh pages for every step.
    buffer.reserve(m_renderedSize > 0 ? m_renderedSize + m_renderedSize / 8
                                      : (services.size() + 16) * 4096);
    RenderExposition(services, counts, buffer);
    m_renderedSize = buffer.size();
    m_text = std::shared_ptr<const TextBuffer>(
        new TextBuffer(std::move(buffer)), [spares = m_spares](const TextBuffer* text) {
            std::unique_ptr<TextBuffer> owned(const_cast<TextBuffer*>(text));
            std::lock_guard lock(spares->mutex);
            if (spares->buffers.size() < 2) {
                spares->buffers.push_back(std::move(*owned));
            }
        });
    m_renderedAt = now;
    m_renderedAlarmChanges = alarmChanges;
    return m_text;
}

void MetricsRegistry::warm() {
    std::size_t size = 0;
    {
        std::lock_guard lock(m_renderMutex);
        size = m_renderedSize + m_renderedSize / 8;
    }
    {
        std::lock_guard lock(m_spares->mutex);
        if (size == 0 || std::any_of(m_spares->buffers.begin(), m_spares->buffers.end(),
                                     [&](const TextBuffer& b) { return b.capacity() >= size; })) {
            return;
        }
    }
    TextBuffer buffer;
    buffer.reserve(size);
    buffer.prefault();
    std::lock_guard lock(m_spares->mutex);
    if (m_spares->buffers.size() == 2) {
        m_spares->buffers.erase(m_spares->buffers.begin());
    }
    m_spares->buffers.push_back(std::move(buffer));
}

std::size_t MetricsRegistry::size() {
    std::lock_guard lock(m_renderMutex);
    applyPending();
    return m_services.size();
}

}  // namespace vantor::metrics
