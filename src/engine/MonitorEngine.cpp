#include "engine/MonitorEngine.h"

#include <cstdio>

#include "alarm/AlarmListModel.h"
#include "app/AppSettings.h"
#include "app/Clock.h"
#include "app/Messages.h"
#include "app/Reporter.h"
#include "app/SystemLog.h"
#include "app/TimeFormat.h"
#include "engine/ServiceListModel.h"
#include "engine/ThreadFTPCheck.h"
#include "engine/ThreadMailCheck.h"
#include "engine/ThreadPingCheck.h"
#include "engine/ThreadPoolManager.h"
#include "engine/ThreadURLCheck.h"
#include "registry/ServiceStore.h"

namespace vantor::engine {

int ParseRecordInteger(std::string_view text) {
    std::string_view digits = text;
    bool negative = false;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    long long value = 0;
    bool ok = !digits.empty() && digits.size() <= 10;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            ok = false;
            break;
        }
        value = value * 10 + (c - '0');
    }
    if (negative) {
        value = -value;
    }
    if (!ok || value > 2147483647LL || value < -2147483648LL) {
        throw RecordError("'" + std::string(text) + "' is not a valid integer value");
    }
    return static_cast<int>(value);
}

namespace {

std::string_view Require(const registry::ServiceRecord& record, std::string_view element) {
    const auto value = record.find(element);
    if (!value) {
        throw RecordError("The service \"" + std::string(record.key()) + "\" has no " +
                          std::string(element));
    }
    return *value;
}

std::string RequireUrlField(const registry::ServiceRecord& record, std::string_view element) {
    const auto value = record.findUrlField(element);
    if (!value) {
        throw RecordError("The service \"" + std::string(record.key()) + "\" has no " +
                          std::string(element));
    }
    return std::string(*value);
}

int ReadPort(std::string_view text) {
    return text == "0" ? 0 : ParseRecordInteger(text);
}

std::string TwoDigits(int value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d", value);
    return buf;
}

}  // namespace

namespace {

// The schedule rule itself, on texts already read.
bool IsDueAt(std::string_view by, std::string_view hour, std::string_view minute,
             std::string_view hh, std::string_view mm) {
    if (by == "Daily" && hour == hh && minute == mm) {
        return true;
    }
    if (by == "Hourly" && minute == mm) {
        return true;
    }
    if (by == "Minutely") {
        const int period = ParseRecordInteger(minute);
        return period != 0 && ParseRecordInteger(mm) % period == 0;
    }
    return false;
}

[[noreturn]] void Missing(const registry::ServiceRecord& record, std::string_view element) {
    throw RecordError("The service \"" + std::string(record.key()) + "\" has no " +
                      std::string(element));
}

}  // namespace

bool IsDue(const registry::ServiceRecord& record, std::string_view hh, std::string_view mm) {
    return IsDueAt(Require(record, "schedule_by"), Require(record, "schedule_hour"),
                   Require(record, "schedule_minute"), hh, mm);
}

MonitorEngine::MonitorEngine(app::AppSettings& settings, app::SystemLog& log,
                             app::Reporter& reporter, const app::Clock& clock,
                             registry::ServiceStore& store, ThreadPoolManager& pool,
                             ServiceListModel& services, alarm::AlarmListModel& alarms)
    : m_settings(settings),
      m_log(log),
      m_reporter(reporter),
      m_clock(clock),
      m_store(store),
      m_pool(pool),
      m_services(services),
      m_alarms(
          settings, log, alarms,
          [this](std::unique_ptr<alarm::SenderWorkItem> sender) {
              return queue(std::move(sender));
          },
          clock) {}

std::int64_t MonitorEngine::queue(std::unique_ptr<WorkItem> item) {
    WorkItem* raw = item.get();
    m_pool.QueueWorkItem(std::move(item));
    ++m_outstanding;
    // The item is freed only after its completion has run on this thread,
    // so it is still there to ask for its number.
    return raw->WorkItemId();
}

void MonitorEngine::TimerServiceTimer() {
    const app::LocalTime now = app::ToLocalTime(m_clock.now());
    const std::string hh = TwoDigits(now.hour);
    const std::string mm = TwoDigits(now.minute);
    static constexpr std::string_view kFields[] = {"status", "schedule_by", "schedule_hour",
                                                   "schedule_minute"};
    // Whatever ends the walk, the checks dispatched so far are queued.
    struct Flush {
        MonitorEngine& engine;
        ~Flush() { engine.flushGathered(); }
    } flush{*this};
    m_gathering = true;
    m_store.forEachRecord([&](const registry::ServiceRecord& record) {
        // The four fields of the rule, read in one pass over the record.
        std::optional<std::string_view> v[4];
        record.findAll(kFields, v, 4);
        if (!v[0]) {
            Missing(record, kFields[0]);
        }
        if (*v[0] != "Start") {
            return;
        }
        for (int i = 1; i < 4; ++i) {
            if (!v[i]) {
                Missing(record, kFields[i]);
            }
        }
        if (!IsDueAt(*v[1], *v[2], *v[3], hh, mm)) {
            return;
        }
        if (const auto row = m_services.findRow(record.key())) {
            m_services.select(*row);
            m_services.setCurrentStatus(*row, "Process");
        }
        DispatchService(record);
    });
}

void MonitorEngine::SetSchedulingState(bool start) {
    m_running = start;
    const std::string_view text = start ? app::msg::kSchedulingStarts : app::msg::kSchedulingStops;
    if (onSchedulingChanged) {
        onSchedulingChanged(start, text);
    }
    m_log.WriteSystemLog(text, app::LogLevel::Info);
}

void MonitorEngine::MenuServiceStartClick() {
    if (const auto row = m_services.selected()) {
        const std::string key = m_services.rows()[*row].id;
        m_store.SetServiceRunState(key, "Start");
        m_services.setRunState(*row, "Start");
    }
}

void MonitorEngine::MenuServiceStopClick() {
    if (const auto row = m_services.selected()) {
        const std::string key = m_services.rows()[*row].id;
        m_store.SetServiceRunState(key, "Stop");
        m_services.setRunState(*row, "Stop");
    }
}

void MonitorEngine::MenuServiceRunNowClick() {
    const auto selected = m_services.selected();
    if (!selected) {
        return;
    }
    const std::string key = m_services.rows()[*selected].id;
    const std::string& current = m_services.rows()[*selected].currentStatus;
    if (m_services.findRow(key) && current != "Process" && current != "Retry") {
        DispatchServiceByKey(key);
        return;
    }
    m_reporter.showBox(app::MessageBoxKind::Information, app::msg::kStillProcessing);
}

void MonitorEngine::DispatchServiceByKey(std::string_view key, bool retry) {
    if (const auto row = m_services.findRow(key)) {
        m_services.select(*row);
        m_services.setCurrentStatus(*row, "Process");
    }
    const auto record = m_store.findRecord(key);
    if (!record) {
        throw RecordError("Cannot find the service \"" + std::string(key) + "\"");
    }
    DispatchService(*record, retry);
}

void MonitorEngine::DispatchService(const registry::ServiceRecord& record, bool retry) {
    const std::string_view service = Require(record, "service");
    const bool known = service == "URL" || service == "SMTP" || service == "POP3" ||
                       service == "IMAP" || service == "Ping" || service == "FTP";
    if (!known) {
        return;  // "Database" and anything else have no check
    }
    CheckSettings settings;
    settings.originTag = kOriginProduct;
    settings.serviceKey = std::string(record.key());
    settings.host = std::string(Require(record, "ip"));
    settings.port = ReadPort(Require(record, "port"));
    settings.alarms.email = Require(record, "alarm_email") == "y";
    settings.alarms.smpp = Require(record, "alarm_smpp") == "y";
    settings.alarms.httpSms = Require(record, "alarm_httpsms") == "y";
    settings.alarms.syslog = Require(record, "alarm_syslog") == "y";
    // A repeat after a failure is never repeated itself: its failure alarms.
    auto retrySetting = [retry](int setting) { return retry ? 0 : setting; };

    std::unique_ptr<CheckWorkItem> check;
    if (service == "URL") {
        settings.host = CompleteUrl(settings.host);
        settings.timeoutMs = m_settings.httpDefaultTimeout;
        settings.retrySetting = retrySetting(m_settings.httpRetry);
        UrlCheckRequest r;
        r.method = std::string(Require(record, "url_method"));
        r.username = std::string(Require(record, "username"));
        r.password = std::string(Require(record, "password"));
        r.proxyHost = std::string(Require(record, "proxy_ip"));
        r.proxyPort = ReadPort(Require(record, "proxy_port"));
        r.proxyUsername = std::string(Require(record, "proxy_username"));
        r.proxyPassword = std::string(Require(record, "proxy_password"));
        r.referer = RequireUrlField(record, "referer");
        r.cookie = RequireUrlField(record, "cookie");
        r.headerData = std::string(record.findUrlField("headerData").value_or(""));
        r.userAgent = RequireUrlField(record, "userAgent");
        r.contentType = RequireUrlField(record, "contentType");
        r.accept = RequireUrlField(record, "accept");
        r.acceptCharSet = RequireUrlField(record, "acceptCharSet");
        r.acceptEncoding = RequireUrlField(record, "acceptEncoding");
        r.acceptLanguage = RequireUrlField(record, "acceptLanguage");
        for (const registry::ExtraField& field : record.extraFields()) {
            r.postFields.push_back(field.name + "=" + field.value);
        }
        check = std::make_unique<ThreadURLCheck>(settings, r);
    } else if (service == "Ping") {
        settings.timeoutMs = m_settings.pingDefaultTimeout;
        settings.retrySetting = retrySetting(m_settings.pingRetry);
        check = std::make_unique<ThreadPingCheck>(settings);
    } else if (service == "FTP") {
        settings.timeoutMs = m_settings.ftpDefaultTimeout;
        settings.retrySetting = retrySetting(m_settings.ftpRetry);
        FtpCheckRequest r;
        r.username = std::string(Require(record, "username"));
        r.password = std::string(Require(record, "password"));
        r.proxyType = std::string(Require(record, "ftp_proxytype"));
        r.proxyHost = std::string(Require(record, "proxy_ip"));
        r.proxyPort = ReadPort(Require(record, "proxy_port"));
        r.proxyUsername = std::string(Require(record, "proxy_username"));
        r.proxyPassword = std::string(Require(record, "proxy_password"));
        check = std::make_unique<ThreadFTPCheck>(settings, r);
    } else {
        settings.timeoutMs = m_settings.emailDefaultTimeout;
        settings.retrySetting = retrySetting(m_settings.emailRetry);
        const Credentials credentials{std::string(Require(record, "username")),
                                      std::string(Require(record, "password"))};
        if (service == "SMTP") {
            check = std::make_unique<ThreadSMTPCheck>(settings, credentials);
        } else if (service == "POP3") {
            check = std::make_unique<ThreadPOP3Check>(settings, credentials);
        } else {
            check = std::make_unique<ThreadIMAPCheck>(settings, credentials);
        }
    }
    queueCheck(std::move(check));
}

void MonitorEngine::queueCheck(std::unique_ptr<WorkItem> check) {
    // Checks beyond what the pool runs at once wait here rather than in the
    // pool's waiting list, which a burst of due services would overflow:
    // a check the pool refused as busy would be taken for a failure of its
    // service. The waiting list stays free for retries' senders and alarms.
    const int limit = m_pool.maxPooled();
    if (limit > 0 && (m_checksInPool >= limit || !m_backlog.empty())) {
        m_backlog.push_back(std::move(check));
        return;
    }
    ++m_checksInPool;
    if (m_gathering) {
        ++m_outstanding;
        m_gathered.push_back(std::move(check));
        return;
    }
    queue(std::move(check));
}

void MonitorEngine::flushGathered() {
    m_gathering = false;
    if (!m_gathered.empty()) {
        std::vector<std::unique_ptr<WorkItem>> batch;
        batch.swap(m_gathered);
        m_pool.QueueWorkItems(std::move(batch));
    }
}

void MonitorEngine::drainBacklog() {
    const int limit = m_pool.maxPooled();
    while (!m_backlog.empty() && (limit <= 0 || m_checksInPool < limit)) {
        std::unique_ptr<WorkItem> next = std::move(m_backlog.front());
        m_backlog.pop_front();
        ++m_checksInPool;
        queue(std::move(next));
    }
}

void MonitorEngine::QueueOnPool(std::unique_ptr<WorkItem> item) {
    try {
        if (dynamic_cast<CheckWorkItem*>(item.get()) != nullptr) {
            queueCheck(std::move(item));
        } else {
            queue(std::move(item));
        }
    } catch (...) {
    }
}

void MonitorEngine::OnWorkItemDone(ThreadPoolManager&, WorkItem& item) {
    --m_outstanding;
    auto* check = dynamic_cast<CheckWorkItem*>(&item);
    try {
        if (check != nullptr) {
            handleCheck(*check);
        } else if (auto* sender = dynamic_cast<alarm::SenderWorkItem*>(&item)) {
            m_alarms.OnSenderDone(*sender);
        }
    } catch (...) {
        // A failure in the handling of one item ends that handling only.
    }
    if (check != nullptr) {
        --m_checksInPool;
        try {
            drainBacklog();
        } catch (...) {
        }
    }
}

void MonitorEngine::handleCheck(CheckWorkItem& check) {
    const std::string timestamp = app::FormatTimestamp(m_clock.now());
    CheckResult r = check.result();
    if (r.statusWord.empty()) {
        // A check that never ran (refused as busy, cancelled) is a failure.
        r.statusWord = kFailed;
        r.passed = false;
        std::string reason(check.statusDescription());
        if (const std::string message = check.statusMessage(); !message.empty()) {
            reason += " " + message;
        }
        r.detail = "[" + r.host + ":" + std::to_string(r.port) + "] " + kFailed + ":" + reason;
    }
    const bool product = r.originTag == kOriginProduct;
    if (product && r.retryFlag == 0 && !r.passed) {
        m_log.WriteAlarmBackup(timestamp, r.kind, r.host, std::to_string(r.port), r.detail);
        m_alarms.RaiseAlarms(timestamp, r.detail, r.alarms);
    }
    if (product) {
        // The result is stored (or the retry made) whether or not the list
        // shows the service: a filter must not decide what is kept.
        if (r.statusWord == kFailed && r.retryFlag == 1) {
            try {
                DispatchServiceByKey(r.serviceKey, true);
            } catch (...) {
                // The record went away or cannot be read: no repeat.
            }
            if (const auto row = m_services.findRow(r.serviceKey)) {
                m_services.select(*row);
                m_services.setCurrentStatus(*row, "Retry");
            }
            if (onProductResult) {
                onProductResult(r, true);
            }
            return;
        }
        m_store.SetServiceResult(r.serviceKey, r.statusWord);
        if (const auto row = m_services.findRow(r.serviceKey)) {
            m_services.select(*row);
            m_services.setCurrentStatus(*row, r.statusWord);
        }
        if (onProductResult) {
            onProductResult(r, false);
        }
    } else if (r.originTag == kOriginSetup && onSetupResult) {
        onSetupResult(r);
    }
}

}  // namespace vantor::engine
