#include "metrics/MetricsRegistry.h"

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

void MetricsRegistry::keepOnly(std::vector<std::string> keys) {
    std::unordered_set<std::string> kept(std::make_move_iterator(keys.begin()),
                                         std::make_move_iterator(keys.end()));
    std::lock_guard lock(m_mutex);
    std::erase_if(m_pending, [&](const auto& entry) { return kept.count(entry.first) == 0; });
    if (m_filter) {
        std::erase_if(kept, [&](const std::string& key) { return m_filter->count(key) == 0; });
    }
    m_filter = std::move(kept);
}

void MetricsRegistry::alarmDone(Method method, bool sent) {
    const auto i = static_cast<std::size_t>(method);
    (sent ? m_sent : m_failed)[i].fetch_add(1, std::memory_order_relaxed);
    m_alarmChanges.fetch_add(1, std::memory_order_relaxed);
}

bool MetricsRegistry::applyPending() {
    std::unordered_map<std::string, Pending> pending;
    std::optional<std::unordered_set<std::string>> filter;
    {
        std::lock_guard lock(m_mutex);
        pending.swap(m_pending);
        filter.swap(m_filter);
    }
    if (filter) {
        std::erase_if(m_services,
                      [&](const auto& entry) { return filter->count(entry.first) == 0; });
    }
    for (auto& [key, p] : pending) {
        const auto it = m_services.find(key);
        const std::uint64_t before = it == m_services.end() || p.removed ? 0 : it->second.checks;
        if (p.removed && it != m_services.end()) {
            m_services.erase(it);
        }
        if (p.latest) {
            ServiceMetrics& s = m_services[key];
            const bool sameLabels = s.instance == p.latest->instance &&
                                    s.module == p.latest->module && !s.labels.empty();
            std::string labels = sameLabels ? std::move(s.labels) : ServiceLabels(*p.latest);
            s = std::move(*p.latest);
            s.labels = std::move(labels);
            s.checks = before + p.verdicts;
        }
    }
    return filter || !pending.empty();
}

std::shared_ptr<const std::string> MetricsRegistry::render(std::chrono::milliseconds maxAge) {
    std::lock_guard lock(m_renderMutex);
    const bool changed = applyPending();
    const std::uint64_t alarmChanges = m_alarmChanges.load(std::memory_order_relaxed);
    const auto now = std::chrono::steady_clock::now();
    if (m_text && !changed && alarmChanges == m_renderedAlarmChanges &&
        now - m_renderedAt < maxAge) {
        return m_text;
    }
    std::vector<const ServiceMetrics*> services;
    services.reserve(m_services.size());
    for (auto& [key, s] : m_services) {
        if (m_uptime) {
            const Uptime u = m_uptime(key);
            s.uptime24h = u.day;
            s.uptime30d = u.month;
        }
        services.push_back(&s);
    }
    AlarmCounts counts;
    for (std::size_t i = 0; i < counts.sent.size(); ++i) {
        counts.sent[i] = m_sent[i].load(std::memory_order_relaxed);
        counts.failed[i] = m_failed[i].load(std::memory_order_relaxed);
    }
    // A text no scrape holds any more gives its memory back to the spares:
    // a large exposition is written into memory already in use, not
    // faulted in afresh each time.
    std::string buffer;
    {
        std::lock_guard spares(m_spares->mutex);
        if (!m_spares->buffers.empty()) {
            buffer = std::move(m_spares->buffers.back());
            m_spares->buffers.pop_back();
        }
    }
    RenderExposition(services, counts, buffer);
    m_text = std::shared_ptr<const std::string>(
        new std::string(std::move(buffer)), [spares = m_spares](const std::string* text) {
            std::unique_ptr<std::string> owned(const_cast<std::string*>(text));
            std::lock_guard lock(spares->mutex);
            if (spares->buffers.size() < 2) {
                spares->buffers.push_back(std::move(*owned));
            }
        });
    m_renderedAt = now;
    m_renderedAlarmChanges = alarmChanges;
    return m_text;
}

std::size_t MetricsRegistry::size() {
    std::lock_guard lock(m_renderMutex);
    applyPending();
    return m_services.size();
}

}  // namespace vantor::metrics
