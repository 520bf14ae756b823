// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/ServiceEdits.h"

#include "app/Messages.h"
#include "app/SystemLog.h"
#include "app/Words.h"
#include "engine/ExportedName.h"
#include "engine/HostListModel.h"
#include "engine/MonitorEngine.h"
#include "engine/ServiceHealth.h"
#include "engine/ServiceListModel.h"
#include "history/HistoryStore.h"
#include "metrics/MetricsExporter.h"
#include "registry/ServiceStore.h"

namespace vantor::session {

namespace {

bool IsUrl(const registry::ServiceFields& service) {
    return service.service == words::kUrl;
}

}  // namespace

ServiceEdits::ServiceEdits(registry::ServiceStore& store, engine::ServiceListModel& services,
                           engine::HostListModel& hosts, engine::ServiceHealth& health,
                           app::SystemLog& log)
    : m_store(store), m_services(services), m_hosts(hosts), m_health(health), m_log(log) {}

EditOutcome ServiceEdits::saveFailed(const std::string& error) {
    std::string text = std::string(app::msg::kCannotSaveServiceXml) + " : " + error;
    m_log.WriteSystemLog(text, app::LogLevel::Error);
    return {EditResult::SaveFailed, std::move(text)};
}

EditOutcome ServiceEdits::add(const registry::ServiceFields& service) {
    if (m_store.FindService(registry::KeyOf(service)) >= 0) {
        return {EditResult::KeyExists, {}};
    }
    const Status saved =
        IsUrl(service) ? m_store.InsertURLService(service, service.request, &service.extraFields)
                       : m_store.InsertService(service);
    if (!saved) {
        return saveFailed(saved.error());
    }
    refill(words::kAll);
    return {};
}

EditOutcome ServiceEdits::change(std::string_view key, const registry::ServiceFields& service) {
    if (m_store.FindService(key) < 0) {
        return {EditResult::NotFound, {}};
    }
    const std::string newKey = registry::KeyOf(service);
    if (newKey != key && m_store.FindService(newKey) >= 0) {
        return {EditResult::KeyExists, {}};
    }
    const Status saved = IsUrl(service) ? m_store.UpdateURLService(key, service, service.request,
                                                                   &service.extraFields)
                                        : m_store.UpdateService(key, service);
    if (!saved) {
        return saveFailed(saved.error());
    }
    // An update stores "Unknown": whatever failed before is not failing now.
    m_health.forget(key);
    if (m_history != nullptr && newKey != key) {
        m_history->rename(std::string(key), newKey);
    }
    if (onKeyChanged && newKey != key) {
        onKeyChanged(std::string(key), newKey);
    }
    // The last verdict was of the service as it was.
    if (m_metrics != nullptr) {
        m_metrics->registry().remove(std::string(key));
    }
    refill(words::kAll);
    return {};
}

EditOutcome ServiceEdits::remove(std::string_view key) {
    const Expected<bool> deleted = m_store.DeleteService(key);
    if (!deleted) {
        return saveFailed(deleted.error());
    }
    m_health.forget(key);
    refill();
    return {*deleted ? EditResult::Done : EditResult::NotFound, {}};
}

void ServiceEdits::showServices(std::string_view filter) {
    if (m_listsShown) {
        m_services.Fill(m_store, filter);
    }
}

void ServiceEdits::refill(std::string_view filter) {
    if (m_listsShown) {
        m_services.Fill(m_store, filter);
        m_hosts.Fill(m_store);
    }
    m_health.keepOnly(m_store);
    if (m_metrics != nullptr) {
        std::vector<metrics::ServiceMetrics> started;
        m_store.forEachRecord([&](const registry::ServiceRecord& record) {
            if (record.text(registry::Element::Status) == words::kStart &&
                engine::HasCheck(record.text(registry::Element::Service))) {
                engine::ExportedName name = engine::ExportedNameOf(record);
                metrics::ServiceMetrics& s = started.emplace_back();
                s.key = record.key();
                s.module = std::move(name.module);
                s.instance = std::move(name.instance);
                s.schedule = std::move(name.schedule);
            }
        });
        m_metrics->registry().watch(std::move(started));
        m_metrics->publish();
    }
}

void ServiceEdits::refill() {
    const std::string filter = m_services.currentFilter();
    refill(filter);
}

}  // namespace vantor::session
