// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/MonitorEngine.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "alarm/AlarmQueue.h"
#include "alarm/AlertmanagerSink.h"
#include "alarm/MaintenanceWindow.h"
#include "app/AppSettings.h"
#include "app/Clock.h"
#include "app/DetailText.h"
#include "app/Messages.h"
#include "app/Reporter.h"
#include "app/ReserveFor.h"
#include "app/SystemLog.h"
#include "app/TimeFormat.h"
#include "app/UnexpectedError.h"
#include "engine/ExportedName.h"
#include "engine/ServiceHealth.h"
#include "engine/ServiceListModel.h"
#include "engine/ThreadFTPCheck.h"
#include "engine/ThreadMailCheck.h"
#include "engine/ThreadPingCheck.h"
#include "engine/ThreadURLCheck.h"
#include "history/HistoryStore.h"
#include "pool/ThreadPoolManager.h"
#include "registry/ServiceElements.h"
#include "registry/ServiceStore.h"

namespace vantor::engine {

bool HasCheck(std::string_view kind) {
    using namespace words;
    return kind == kUrl || kind == kSmtp || kind == kPop3 || kind == kImap || kind == kPing ||
           kind == kFtp;
}

int ParseRecordInteger(std::string_view text) {
    std::string_view digits = text;
    bool negative = false;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    // Leading zeros count for nothing, as the editors read them.
    while (digits.size() > 1 && digits.front() == '0') {
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
        throw RecordError("'" + app::DetailText(text) + "' is not a valid integer value");
    }
    return static_cast<int>(value);
}

RecordError MissingElement(std::string_view key, registry::Element element) {
    return RecordError("The service \"" + app::DetailText(key) + "\" has no " +
                       std::string(registry::ElementName(element)));
}

namespace {

using registry::Element;

[[noreturn]] void Missing(std::string_view key, Element element) {
    throw MissingElement(key, element);
}

// What a record holds, as one number: a report about the record is made
// again only when it changes.
std::size_t Fingerprint(const registry::ServiceRecord& record) {
    const std::hash<std::string_view> hash;
    std::size_t h = hash(record.key());
    const auto mix = [&h, &hash](std::string_view text) {
        h ^= hash(text) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
    };
    for (const registry::ElementEntry& entry : registry::Elements()) {
        mix(record.find(entry.element).value_or("\x01none"));
    }
    for (const registry::ExtraField& field : record.extraFields()) {
        mix(field.name);
        mix(field.value);
    }
    return h;
}

std::string_view Require(const registry::ServiceRecord& record, Element element) {
    const auto value = record.find(element);
    if (!value) {
        Missing(record.key(), element);
    }
    return *value;
}

int ReadPort(std::string_view text) {
    return text == "0" ? 0 : ParseRecordInteger(text);
}

// The schedule rule itself, on texts already read.
bool IsDueAt(std::string_view by, std::string_view hour, std::string_view minute,
             std::string_view hh, std::string_view mm) {
    if (by == words::kDaily && hour == hh && minute == mm) {
        return true;
    }
    if (by == words::kHourly && minute == mm) {
        return true;
    }
    if (by == words::kMinutely) {
        const int period = ParseRecordInteger(minute);
        return period != 0 && ParseRecordInteger(mm) % period == 0;
    }
    return false;
}

}  // namespace

bool IsDue(const registry::ServiceRecord& record, std::string_view hh, std::string_view mm) {
    return IsDueAt(Require(record, Element::ScheduleBy), Require(record, Element::ScheduleHour),
                   Require(record, Element::ScheduleMinute), hh, mm);
}

MonitorEngine::MonitorEngine(app::AppSettings& settings, app::SystemLog& log,
                             app::Reporter& reporter, const app::Clock& clock,
                             registry::ServiceStore& store, pool::ThreadPoolManager& pool,
                             ServiceListModel& services, ServiceHealth& health,
                             alarm::AlarmQueue& alarms)
    : m_settings(settings),
      m_log(log),
      m_reporter(reporter),
      m_clock(clock),
      m_store(store),
      m_pool(pool),
      m_services(services),
      m_health(health),
      m_alarms(alarms) {
    m_services.setAlarmStates([this](const std::string& key) { return alarmStateText(key); });
}

MonitorEngine::~MonitorEngine() {
    m_services.setAlarmStates(nullptr);
}

void MonitorEngine::queue(std::unique_ptr<CheckWorkItem> check) {
    m_pool.QueueWorkItem<CheckWorkItem>(std::move(check),
                                        [this](CheckWorkItem& done) { checkCameBack(done); });
}

void MonitorEngine::TimerServiceTimer() {
    const app::LocalTime now = app::ToLocalTime(m_clock.now());
    // Whatever ends the tick, the checks dispatched so far are queued.
    struct Flush {
        MonitorEngine& engine;
        ~Flush() { engine.flushGathered(); }
    } flush{*this};
    m_gathering = true;
    // Only the records due in this minute are read, in document order.
    const ScheduleIndex::Due due = m_schedule.due(m_store, now.hour, now.minute);
    // What the pool can run now is built and handed over at the end of the
    // tick; the rest wait by key and are built one by one as checks come
    // back, so that a tick of many due records stays short and holds no
    // checks that cannot run yet.
    const int limit = m_pool.maxPooled();
    const registry::ServiceRecord* lastWaiting = nullptr;
    // Room for every due service's state at once, instead of growing (and
    // rehashing a large table) while the results come in. The checks out
    // at once are as many as the pool runs, so m_checking stays small.
    const std::size_t services = m_checking.size() + m_waitingCount + due.records.size();
    m_policy.reserve(services);
    m_health.reserve(services);
    // Those of an earlier tick that still wait are not taken twice (a round
    // longer than its period).
    std::unordered_set<std::string_view> waitingBefore;
    forEachWaiting([&waitingBefore](std::uint32_t&, const std::string& key) {
        waitingBefore.insert(key);
        return true;
    });
    Waiting waiting{due.keys, {}, 0};
    for (std::size_t i = 0; i < due.records.size(); ++i) {
        const registry::ServiceRecord& record = due.records[i];
        if (limit > 0 && (m_inPool >= limit || !m_backlog.empty() || m_waitingCount > 0 ||
                          !waiting.positions.empty())) {
            const std::string& key = (*due.keys)[due.positions[i]];
            if (!m_checking.contains(key) && !waitingBefore.contains(key)) {
                waiting.positions.push_back(due.positions[i]);
                lastWaiting = &record;
            }
            continue;
        }
        dispatchDue(record);
    }
    if (!waiting.positions.empty()) {
        m_waitingCount += waiting.positions.size();
        m_waiting.push_back(std::move(waiting));
    }
    // The selection ends on the last record dispatched, as it does when
    // every one is dispatched at once.
    if (lastWaiting != nullptr) {
        if (const auto row = m_services.findRow(lastWaiting->key())) {
            m_services.select(*row);
        }
    }
    if (due.unreadable) {
        throw RecordError(*due.unreadable);
    }
}

void MonitorEngine::dispatchDue(const registry::ServiceRecord& record, bool select) {
    // A check still queued or running is not queued again: under load a
    // tick would otherwise pile up copies of the same service.
    if (m_checking.contains(std::string(record.key()))) {
        return;
    }
    // A record that cannot be dispatched is reported, and the tick goes on:
    // the records after it are due all the same. Its row keeps what it
    // showed, so that "Run Now" may try (and report) it again.
    try {
        DispatchService(record);
    } catch (const RecordError& e) {
        reportUndispatchable(record, e.what());
        return;
    }
    if (!m_undispatchable.empty()) {
        m_undispatchable.erase(std::string(record.key()));
    }
    if (const auto row = m_services.findRow(record.key())) {
        if (select) {
            m_services.select(*row);
        }
        m_services.setCurrentStatus(*row, words::kProcess);
    }
}

void MonitorEngine::forEachWaiting(
    const std::function<bool(std::uint32_t& position, const std::string& key)>& visit) {
    if (m_waitingCount == 0) {
        return;
    }
    for (Waiting& w : m_waiting) {
        for (std::size_t i = w.next; i < w.positions.size(); ++i) {
            if (w.positions[i] != kTakenOut && !visit(w.positions[i], (*w.keys)[w.positions[i]])) {
                return;
            }
        }
    }
}

bool MonitorEngine::waits(std::string_view key) {
    bool found = false;
    forEachWaiting([&](std::uint32_t&, const std::string& waiting) {
        found = waiting == key;
        return !found;
    });
    return found;
}

void MonitorEngine::dispatchWaiting(const std::string& key) {
    // A record deleted since its tick has nothing to check.
    const auto record = m_store.findRecord(key);
    if (!record) {
        return;
    }
    try {
        // Built now, as a slot frees: the operator's selection stays.
        dispatchDue(*record, /*select=*/false);
    } catch (const std::exception& e) {
        // The records after it still get their checks.
        app::ApplicationEventsException(m_reporter, m_log, e.what());
    }
}

void MonitorEngine::reportUndispatchable(const registry::ServiceRecord& record,
                                         std::string_view message) {
    // Once per record and change: the tick comes every minute, the record
    // stays as it is until someone edits it.
    const std::size_t content = Fingerprint(record);
    const auto [it, first] = m_undispatchable.try_emplace(std::string(record.key()), content);
    if (!first && it->second == content) {
        return;
    }
    it->second = content;
    app::ApplicationEventsException(m_reporter, m_log, message);
}

void MonitorEngine::SetSchedulingState(bool start) {
    m_running = start;
    m_health.setScheduling(start);
    const std::string_view text = start ? app::msg::kSchedulingStarts : app::msg::kSchedulingStops;
    if (onSchedulingChanged) {
        onSchedulingChanged(start, text);
    }
    m_log.WriteSystemLog(text, app::LogLevel::Info);
}

void MonitorEngine::MenuServiceStartClick() {
    if (const auto row = m_services.selected()) {
        const std::string key = m_services.rows()[*row].id;
        // A failed save keeps the change in the document for the next save.
        static_cast<void>(m_store.SetServiceRunState(key, words::kStart));
        m_services.setRunState(*row, words::kStart);
    }
}

void MonitorEngine::MenuServiceStopClick() {
    if (const auto row = m_services.selected()) {
        const std::string key = m_services.rows()[*row].id;
        static_cast<void>(m_store.SetServiceRunState(key, words::kStop));
        m_services.setRunState(*row, words::kStop);
        if (onServiceStopped) {
            onServiceStopped(key);
        }
    }
}

void MonitorEngine::MenuServiceRunNowClick() {
    const auto selected = m_services.selected();
    if (!selected) {
        return;
    }
    const std::string key = m_services.rows()[*selected].id;
    const std::string& current = m_services.rows()[*selected].currentStatus;
    if (m_services.findRow(key) && current != words::kProcess && current != words::kRetry) {
        DispatchServiceByKey(key, false, /*runNow=*/true);
        return;
    }
    m_reporter.showBox(app::MessageBoxKind::Information, app::msg::kStillProcessing);
}

void MonitorEngine::DispatchServiceByKey(std::string_view key, bool retry, bool runNow) {
    const auto row = m_services.findRow(key);
    if (row) {
        m_services.select(*row);
    }
    const auto record = m_store.findRecord(key);
    if (!record) {
        throw RecordError("Cannot find the service \"" + app::DetailText(key) + "\"");
    }
    if (!retry) {
        // Asked for while its tick's check still waited: this one is it.
        forEachWaiting([&](std::uint32_t& position, const std::string& waiting) {
            if (waiting == key) {
                position = kTakenOut;
                --m_waitingCount;
            }
            return true;
        });
    }
    // "Process" once the check is out: a record that cannot be dispatched
    // keeps what its row showed, and "Run Now" may try it again.
    DispatchService(*record, retry, runNow);
    if (row) {
        m_services.setCurrentStatus(*row, words::kProcess);
    }
}

namespace {

// The fields of a record that its kind's check needs: every element the
// element table says the kind reads must be there (the first missing one
// is a RecordError), and the ports must be numbers.
registry::ServiceFields ReadCheckInput(const registry::ServiceRecord& record,
                                       std::string_view service) {
    registry::ServiceFields f = record.fields(service == words::kUrl);
    const unsigned kind = registry::KindBit(service);
    for (const registry::ElementEntry& entry : registry::Elements()) {
        if ((entry.neededBy & kind) != 0 && !f.has(entry.element)) {
            Missing(f.key, entry.element);
        }
    }
    ReadPort(f.port);
    if ((registry::EntryOf(Element::ProxyPort).neededBy & kind) != 0) {
        ReadPort(f.proxyPort);
    }
    return f;
}

}  // namespace

std::unique_ptr<CheckWorkItem> MonitorEngine::buildCheck(const registry::ServiceFields& input,
                                                         CheckSettings settings, bool retry) const {
    using namespace words;
    const registry::ServiceFields& f = input;
    settings.host = f.ip;
    settings.port = ReadPort(f.port);
    settings.tlsMode = f.tls;
    settings.tls.verify = f.tlsVerify != "n";
    settings.tls.expiryDays = m_settings.certExpiryDays;
    // A repeat after a failure is never repeated itself: its failure alarms.
    auto retrySetting = [retry](int setting) { return retry ? 0 : setting; };
    if (f.service == kUrl) {
        settings.host = CompleteUrl(settings.host);
        settings.timeoutMs = m_settings.httpDefaultTimeout;
        settings.retrySetting = retrySetting(m_settings.httpRetry);
        const registry::UrlRequestFields& q = input.request;
        UrlCheckRequest r;
        r.method = f.urlMethod;
        r.username = f.username;
        r.password = f.password;
        r.proxyHost = f.proxyIp;
        r.proxyPort = ReadPort(f.proxyPort.empty() ? "0" : f.proxyPort);
        r.proxyUsername = f.proxyUsername;
        r.proxyPassword = f.proxyPassword;
        r.referer = q.referer;
        r.cookie = q.cookie;
        r.headerData = q.headerData;
        r.userAgent = q.userAgent;
        r.contentType = q.contentType;
        r.accept = q.accept;
        r.acceptCharSet = q.acceptCharSet;
        r.acceptEncoding = q.acceptEncoding;
        r.acceptLanguage = q.acceptLanguage;
        for (const registry::ExtraField& field : input.extraFields) {
            r.postFields.push_back(field.name + "=" + field.value);
        }
        return std::make_unique<ThreadURLCheck>(settings, r);
    }
    if (f.service == kPing) {
        settings.timeoutMs = m_settings.pingDefaultTimeout;
        settings.retrySetting = retrySetting(m_settings.pingRetry);
        return std::make_unique<ThreadPingCheck>(settings);
    }
    if (f.service == kFtp) {
        settings.timeoutMs = m_settings.ftpDefaultTimeout;
        settings.retrySetting = retrySetting(m_settings.ftpRetry);
        FtpCheckRequest r;
        r.username = f.username;
        r.password = f.password;
        r.proxyType = f.ftpProxyType;
        r.proxyHost = f.proxyIp;
        r.proxyPort = ReadPort(f.proxyPort.empty() ? "0" : f.proxyPort);
        r.proxyUsername = f.proxyUsername;
        r.proxyPassword = f.proxyPassword;
        return std::make_unique<ThreadFTPCheck>(settings, r);
    }
    settings.timeoutMs = m_settings.emailDefaultTimeout;
    settings.retrySetting = retrySetting(m_settings.emailRetry);
    const Credentials credentials{f.username, f.password};
    if (f.service == kSmtp) {
        return std::make_unique<ThreadSMTPCheck>(settings, credentials);
    }
    if (f.service == kPop3) {
        return std::make_unique<ThreadPOP3Check>(settings, credentials);
    }
    return std::make_unique<ThreadIMAPCheck>(settings, credentials);
}

void MonitorEngine::DispatchService(const registry::ServiceRecord& record, bool retry,
                                    bool runNow) {
    const std::string_view service = Require(record, Element::Service);
    if (!HasCheck(service)) {
        return;  // "Database" and anything else have no check
    }
    CheckSettings settings;
    settings.originTag = words::kOriginProduct;
    settings.serviceKey = std::string(record.key());
    const registry::ServiceFields input = ReadCheckInput(record, service);
    settings.alarms.email = input.alarmEmail == "y";
    settings.alarms.smpp = input.alarmSmpp == "y";
    settings.alarms.httpSms = input.alarmHttpSms == "y";
    settings.alarms.syslog = input.alarmSyslog == "y";
    settings.repeat = retry;
    settings.runNow = runNow;
    std::unique_ptr<CheckWorkItem> check = buildCheck(input, settings, retry);
    m_checking.insert(settings.serviceKey);
    queueCheck(std::move(check));
}

Status MonitorEngine::StartSetupCheck(const registry::ServiceFields& input) {
    if (!HasCheck(input.service)) {
        return Error{"There is no check for the kind '" + input.service + "'."};
    }
    CheckSettings settings;
    settings.originTag = words::kOriginSetup;
    settings.serviceKey = "0";
    try {
        // No alarms and never repeated.
        queueCheck(buildCheck(input, settings, /*retry=*/true));
    } catch (const std::exception& e) {
        return Error{e.what()};
    }
    return {};
}

void MonitorEngine::queueCheck(std::unique_ptr<CheckWorkItem> check) {
    // Checks beyond what the pool runs at once wait here rather than in the
    // pool's waiting list, which a burst of due services would overflow:
    // a check the pool refused as busy would be taken for a failure of its
    // service. The waiting list stays free for retries' senders and alarms.
    const int limit = m_pool.maxPooled();
    if (limit > 0 && (m_inPool >= limit || !m_backlog.empty() || m_waitingCount > 0)) {
        m_backlog.push_back(std::move(check));
        return;
    }
    ++m_inPool;
    if (m_gathering) {
        m_gathered.push_back(std::move(check));
        return;
    }
    queue(std::move(check));
}

void MonitorEngine::flushGathered() {
    m_gathering = false;
    if (!m_gathered.empty()) {
        std::vector<std::unique_ptr<pool::WorkItem>> batch;
        batch.swap(m_gathered);
        m_pool.QueueWorkItems(std::move(batch), [this](pool::WorkItem& done) {
            // Only checks are gathered.
            checkCameBack(static_cast<CheckWorkItem&>(done));
        });
    }
}

void MonitorEngine::drainBacklog() {
    const int limit = m_pool.maxPooled();
    while (limit <= 0 || m_inPool < limit) {
        // Checks already built (repeats, "Run Now") go before the tick's
        // records that wait to be built.
        if (!m_backlog.empty()) {
            std::unique_ptr<CheckWorkItem> next = std::move(m_backlog.front());
            m_backlog.pop_front();
            ++m_inPool;
            queue(std::move(next));
            continue;
        }
        if (m_waitingCount == 0) {
            m_waiting.clear();
            return;
        }
        Waiting& w = m_waiting.front();
        if (w.next == w.positions.size()) {
            m_waiting.pop_front();
            continue;
        }
        const std::uint32_t position = w.positions[w.next++];
        if (position == kTakenOut) {
            continue;
        }
        --m_waitingCount;
        // Held by the copy: the walk's keys may go with the batch.
        const std::string key = (*w.keys)[position];
        dispatchWaiting(key);
    }
}

void MonitorEngine::QueueOnPool(std::unique_ptr<CheckWorkItem> check) {
    try {
        queueCheck(std::move(check));
    } catch (...) {
        // The wizard's test is not queued; its caller shows no result.
    }
}

void MonitorEngine::recordVerdict(const CheckResult& r) {
    if (m_history == nullptr) {
        return;
    }
    history::Verdict v;
    v.key = r.serviceKey;
    v.time = app::EpochSeconds(m_clock.now());
    v.failed = !r.passed;
    if (r.responseTime) {
        v.responseUs = r.responseTime->count();
    }
    v.flags = (r.repeat ? history::kRetried : 0u) | (r.runNow ? history::kRunNow : 0u) |
              (r.slow ? history::kSlow : 0u) |
              (r.maintenanceUntil != 0 ? history::kMaintenance : 0u);
    if (v.failed) {
        v.detail = r.detail;
    }
    m_history->record(std::move(v));
}

void MonitorEngine::exportVerdict(const CheckResult& r, const registry::ServiceRecord& record) {
    // A check that was under way when its service was stopped says nothing.
    if (onVerdict && record.text(Element::Status) == words::kStart) {
        onVerdict(r, record, m_policy.view(r.serviceKey).alarmed);
    }
}

std::string MonitorEngine::parentOf(const std::string& key) const {
    const auto record = m_store.findRecord(key);
    if (!record) {
        return {};
    }
    std::string parent(record->text(registry::Element::Parent));
    return parent == key ? std::string() : parent;
}

void MonitorEngine::releaseChildrenOf(const std::string& parent) {
    const auto it = m_waitingForParent.find(parent);
    if (it == m_waitingForParent.end() || m_checking.contains(parent) || waits(parent)) {
        return;  // none waits, or the parent's repeat is still out
    }
    std::vector<HeldVerdict> children = std::move(it->second);
    m_waitingForParent.erase(it);
    for (const HeldVerdict& h : children) {
        try {
            decideAlarm(h.timestamp, h.result);
        } catch (...) {
            // One child's alarm that cannot be raised leaves the others.
        }
    }
}

std::int64_t MonitorEngine::maintenanceEnd(const std::string& own) {
    const std::int64_t now = app::EpochSeconds(m_clock.now());
    std::int64_t end = 0;
    if (!m_settings.alarmMaintenance.empty()) {
        if (m_settings.alarmMaintenance != m_maintenanceText) {
            m_maintenanceText = m_settings.alarmMaintenance;
            m_maintenance = alarm::ParseMaintenance(m_maintenanceText).windows;
        }
        end = alarm::MaintenanceEnd(m_maintenance, now).value_or(0);
    }
    if (!own.empty()) {
        auto it = m_ownMaintenance.find(own);
        if (it == m_ownMaintenance.end()) {
            if (m_ownMaintenance.size() >= 4096) {
                m_ownMaintenance.clear();  // texts of records long gone
            }
            it = m_ownMaintenance.emplace(own, alarm::ParseMaintenance(own).windows).first;
        }
        end = std::max(end, alarm::MaintenanceEnd(it->second, now).value_or(0));
    }
    return end;
}

ServicePolicy MonitorEngine::policyFor(const std::string& key, std::string_view kind) const {
    const app::AppSettings& s = m_settings;
    std::pair<int, int> limits{0, 0};  // slow, fail
    if (kind == words::kUrl) {
        limits = {s.httpSlowAfterMs, s.httpFailAfterMs};
    } else if (kind == words::kPing) {
        limits = {s.pingSlowAfterMs, s.pingFailAfterMs};
    } else if (kind == words::kFtp) {
        limits = {s.ftpSlowAfterMs, s.ftpFailAfterMs};
    } else if (kind == words::kSmtp || kind == words::kPop3 || kind == words::kImap) {
        limits = {s.emailSlowAfterMs, s.emailFailAfterMs};
    }
    const alarm::PolicySettings base = alarm::PolicySettings::From(s);
    if (const auto record = m_store.findRecord(key)) {
        return PolicyOf(*record, base, limits);
    }
    return ServicePolicy{base, limits.first, limits.second, {}};
}

std::string MonitorEngine::alarmStateText(const std::string& key) const {
    if (m_unreachable.contains(key)) {
        return "Unreachable (parent down)";
    }
    if (const auto it = m_inMaintenance.find(key); it != m_inMaintenance.end()) {
        const app::LocalTime until = app::ToLocalTime(
            std::chrono::system_clock::time_point(std::chrono::seconds(it->second)));
        char buf[32];
        std::snprintf(buf, sizeof buf, "Maintenance until %02d:%02d", until.hour, until.minute);
        return buf;
    }
    std::string text = m_policy.stateText(key);
    if (text.empty() && m_slow.count(key) != 0) {
        text = "Slow";
    }
    return text;
}

void MonitorEngine::applyResponseLimits(CheckResult& r, const ServicePolicy& own) const {
    if (!r.passed || !r.responseTime) {
        return;
    }
    const std::pair<int, int> limits{own.slowAfterMs, own.failAfterMs};
    const std::int64_t ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(*r.responseTime).count();
    if (limits.second > 0 && ms > limits.second) {
        // Too slow to count as up: a failure like any other, not tried again.
        r.passed = false;
        r.statusWord = kFailed;
        r.retryFlag = 0;
        r.detail = "[" + r.host + ":" + std::to_string(r.port) + "] Response time " +
                   std::to_string(ms) + " ms over " + std::to_string(limits.second) + " ms";
    } else if (limits.first > 0 && ms > limits.first) {
        r.slow = true;
    }
}

void MonitorEngine::decideAlarm(const std::string& timestamp, const CheckResult& r) {
    if (r.maintenanceUntil != 0) {
        // Kept and shown, but neither alarmed nor counted by the policy.
        showAlarmState(r);
        return;
    }
    m_unreachable.erase(r.serviceKey);
    if (!r.passed) {
        const std::string parent = parentOf(r.serviceKey);
        if (!parent.empty()) {
            if (m_checking.contains(parent) || waits(parent)) {
                // The parent's own check is under way: its verdict decides.
                m_waitingForParent[parent].push_back(HeldVerdict{timestamp, r});
                return;
            }
            if (m_health.failing(parent)) {
                m_unreachable.insert(r.serviceKey);
                showAlarmState(r);
                return;
            }
        }
    }
    m_policy.setSettings(alarm::PolicySettings::From(m_settings));
    const ServicePolicy own = policyFor(r.serviceKey, r.kind);
    const std::optional<alarm::Notice> notice = m_policy.verdict(
        r.serviceKey, app::EpochSeconds(m_clock.now()), !r.passed, r.detail, false, &own.policy);
    showAlarmState(r);
    if (m_alertmanager != nullptr) {
        const std::string instance = InstanceOf(r.kind, r.host, r.port, r.serviceKey);
        const std::int64_t now = app::EpochSeconds(m_clock.now());
        if (notice) {
            m_alertmanager->notice(notice->type, r.serviceKey, instance, r.kind, notice->text, now);
        }
        // A pass ends what fires; a failure without a notice keeps it firing.
        if (!notice || r.passed) {
            const auto record = m_store.findRecord(r.serviceKey);
            const bool storedFailed =
                record && record->text(Element::ServiceStatus) == words::kFailed;
            m_alertmanager->verdict(r.serviceKey, instance, r.kind, r.passed, r.detail, now,
                                    storedFailed);
        }
    }
    if (!notice) {
        return;
    }
    m_log.WriteAlarmBackup(timestamp, r.kind, r.host, std::to_string(r.port), notice->text);
    m_alarms.RaiseAlarms(timestamp, notice->text, r.alarms, notice->type);
}

void MonitorEngine::showAlarmState(const CheckResult& r) {
    if (r.maintenanceUntil != 0) {
        m_inMaintenance[r.serviceKey] = r.maintenanceUntil;
    } else {
        m_inMaintenance.erase(r.serviceKey);
    }
    if (r.slow) {
        m_slow.insert(r.serviceKey);
    } else if (r.passed || r.retryFlag == 0) {
        m_slow.erase(r.serviceKey);
    }
    if (const auto row = m_services.findRow(r.serviceKey)) {
        m_services.setAlarmState(*row, alarmStateText(r.serviceKey));
    }
}

void MonitorEngine::policyRebuilt(const std::vector<history::Verdict>& recent) {
    m_policy.setSettings(alarm::PolicySettings::From(m_settings));
    // Each service's own policy, read once: a key's verdicts come together.
    std::string key;
    alarm::PolicySettings own;
    for (const history::Verdict& v : recent) {
        if (v.key != key) {
            key = v.key;
            own = policyFor(key, std::string_view()).policy;
        }
        m_policy.verdict(v.key, v.time, v.failed, v.detail, true, &own);
    }
    m_holdAlarms = false;
    std::vector<HeldVerdict> held;
    held.swap(m_held);
    for (const HeldVerdict& h : held) {
        try {
            decideAlarm(h.timestamp, h.result);
        } catch (...) {
            // One verdict's alarm that cannot be raised leaves the others.
        }
    }
}

void MonitorEngine::checkCameBack(CheckWorkItem& check) {
    --m_inPool;
    if (check.result().originTag == kOriginProduct) {
        m_checking.erase(check.result().serviceKey);
    }
    try {
        OnCheckDone(check);
    } catch (...) {
        // A failure in the handling of one check ends that handling only.
    }
    try {
        drainBacklog();
    } catch (...) {
        // What stays in the backlog goes with the next check that comes back.
    }
    // The round is over: its verdicts are written now, not in a second.
    if (outstanding() == 0) {
        if (m_history != nullptr) {
            m_history->roundEnded();
        }
        if (onRoundEnded) {
            onRoundEnded();
        }
    }
}

void MonitorEngine::OnCheckDone(CheckWorkItem& check) {
    const std::string timestamp = app::FormatTimestamp(m_clock.now());
    CheckResult r = check.result();
    if (r.statusWord.empty()) {
        // A check that never ran (refused as busy, cancelled) is a failure.
        r.statusWord = kFailed;
        r.passed = false;
        r.detail = check.neverRanDetail();
    }
    const bool product = r.originTag == kOriginProduct;
    if (product) {
        const ServicePolicy own = policyFor(r.serviceKey, r.kind);
        applyResponseLimits(r, own);
        r.maintenanceUntil = maintenanceEnd(own.maintenance);
    }
    // A final verdict: a pass, or a failure that is not tried again.
    if (product && (r.passed || r.retryFlag == 0)) {
        if (m_holdAlarms) {
            m_held.push_back(HeldVerdict{timestamp, r});
        } else {
            decideAlarm(timestamp, r);
        }
    }
    if (product) {
        // The result is stored (or the retry made) whether or not the list
        // shows the service: a filter must not decide what is kept.
        if (r.statusWord == kFailed && r.retryFlag == 1) {
            try {
                DispatchServiceByKey(r.serviceKey, true, r.runNow);
            } catch (...) {
                // The record went away or cannot be read: no repeat.
            }
            if (const auto row = m_services.findRow(r.serviceKey)) {
                m_services.select(*row);
                m_services.setCurrentStatus(*row, words::kRetry);
            }
            if (onProductResult) {
                onProductResult(r, true);
            }
            return;
        }
        // A failed save keeps the result in the document for the next save.
        static_cast<void>(m_store.SetServiceResult(r.serviceKey, r.statusWord));
        recordVerdict(r);
        // A service deleted while its check ran fails nothing any more.
        if (const auto record = m_store.findRecord(r.serviceKey)) {
            m_health.resultCame(r.serviceKey, r.passed, r.slow);
            exportVerdict(r, *record);
        }
        if (const auto row = m_services.findRow(r.serviceKey)) {
            m_services.select(*row);
            m_services.setCurrentStatus(*row, r.statusWord);
        }
        releaseChildrenOf(r.serviceKey);
        if (onProductResult) {
            onProductResult(r, false);
        }
    } else if (r.originTag == kOriginSetup && onSetupResult) {
        onSetupResult(r);
    }
}

}  // namespace vantor::engine
