// SPDX-License-Identifier: GPL-3.0-or-later
#include "metrics/MetricsExporter.h"

#include "alarm/AlarmQueue.h"
#include "alarm/SenderWorkItem.h"
#include "app/AtomicFile.h"
#include "app/Clock.h"
#include "app/SystemLog.h"
#include "app/TimeFormat.h"
#include "engine/ExportedName.h"
#include "engine/MonitorEngine.h"
#include "metrics/MetricsServer.h"
#include "registry/ServiceRecord.h"

namespace vantor::metrics {

MetricsExporter::MetricsExporter(const MetricsSettings& settings, app::SystemLog& log,
                                 MetricsRegistry::UptimeSource uptime)
    : m_log(log), m_registry(std::move(uptime)) {
    if (!settings.listen.empty()) {
        startServer(settings);
    }
    if (!settings.textfileDir.empty()) {
        std::string dir = settings.textfileDir;
        while (dir.size() > 1 && dir.back() == '/') {
            dir.pop_back();
        }
        m_textfile = dir + "/" + kTextfileName;
    }
    if (m_server || !m_textfile.empty()) {
        m_thread = std::thread([this] { runPublisher(); });
    }
}

MetricsExporter::~MetricsExporter() {
    m_server.reset();
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void MetricsExporter::startServer(const MetricsSettings& settings) {
    const Expected<ListenAddress> where = ListenAddress::Parse(settings.listen);
    if (!where) {
        m_log.WriteSystemLog("Metrics are not served: " + settings.listen + " : " + where.error(),
                             app::LogLevel::Error);
        return;
    }
    WebConfig config;
    if (!settings.webConfig.empty()) {
        // A web configuration that cannot be read serves nothing rather
        // than an endpoint without the protection it asked for.
        Expected<WebConfig> loaded = WebConfig::Load(settings.webConfig);
        if (!loaded) {
            m_log.WriteSystemLog(
                "Metrics are not served: " + settings.webConfig + " : " + loaded.error(),
                app::LogLevel::Error);
            return;
        }
        config = std::move(*loaded);
    }
    auto server = std::make_unique<MetricsServer>(m_registry, std::move(config));
    if (const Status started = server->start(*where); !started) {
        m_log.WriteSystemLog("Metrics are not served: " + settings.listen + " : " + started.error(),
                             app::LogLevel::Error);
        return;
    }
    m_server = std::move(server);
}

void MetricsExporter::follow(engine::MonitorEngine& engine, alarm::AlarmQueue& alarms,
                             const app::Clock& clock) {
    engine.onVerdict = [this, &clock](const engine::CheckResult& r,
                                      const registry::ServiceRecord& record, bool alarmed) {
        ServiceMetrics::Verdict v;
        v.success = r.passed;
        v.durationUs = r.responseTime ? r.responseTime->count() : 0;
        v.time = app::EpochSeconds(clock.now());
        v.probe = r.probe;
        engine::ExportedName name = engine::ExportedNameOf(record);
        m_registry.verdict(r.serviceKey, name.module, name.instance, name.schedule, std::move(v),
                           alarmed);
    };
    // A stopped service is not watched: its last verdict would go stale.
    engine.onServiceStopped = [this](const std::string& key) {
        m_registry.remove(key);
        publish();
    };
    engine.onRoundEnded = [this] { publish(); };
    alarms.onSent = [this](std::string_view method, bool sent) {
        m_registry.alarmDone(method == alarm::kMethodEmail     ? Method::Email
                             : method == alarm::kMethodSms     ? Method::Smpp
                             : method == alarm::kMethodHttpSms ? Method::HttpSms
                                                               : Method::Syslog,
                             sent);
    };
}

int MetricsExporter::port() const {
    return m_server ? m_server->port() : 0;
}

void MetricsExporter::publish() {
    if (!m_thread.joinable()) {
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        ++m_asked;
    }
    m_wake.notify_all();
}

void MetricsExporter::waitWritten() {
    std::unique_lock lock(m_mutex);
    const std::uint64_t target = m_asked;
    m_written.wait(lock, [&] { return m_done >= target || m_stop; });
}

void MetricsExporter::runPublisher() {
    LowerThisThreadsPriority();
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [&] { return m_stop || m_asked > m_done; });
        if (m_stop) {
            break;
        }
        const std::uint64_t target = m_asked;
        lock.unlock();
        // Rendered here once the round is in, so that a scrape finds the
        // text made and only sends it.
        const auto text = m_registry.render(std::chrono::milliseconds(0));
        m_registry.warm();
        if (m_textfile.empty()) {
            lock.lock();
            m_done = target;
            m_written.notify_all();
            continue;
        }
        // Written whole under a temporary name and renamed: the collector
        // reads the old file or the new one, never half of one. Readable
        // by the collector's own user.
        const Status written = app::WriteFileAtomically(m_textfile, text->view(), 0644);
        lock.lock();
        if (!written && !m_failing) {
            lock.unlock();
            m_log.WriteSystemLog(
                "The metrics file cannot be written: " + m_textfile + " : " + written.error(),
                app::LogLevel::Error);
            lock.lock();
        }
        m_failing = !written;
        m_done = target;
        m_written.notify_all();
    }
}

}  // namespace vantor::metrics
