// SPDX-License-Identifier: GPL-3.0-or-later
#include "alarm/AlarmQueue.h"

#include "alarm/ThreadSMTP.h"
#include "alarm/ThreadSysLog.h"
#include "alarm/ThreadURL.h"
#include "app/AppSettings.h"
#include "app/SystemLog.h"
#include "pool/ThreadPoolManager.h"

namespace vantor::alarm {

AlarmQueue::AlarmQueue(const app::AppSettings& settings, app::SystemLog& log, AlarmListModel& list,
                       pool::ThreadPoolManager& pool, const app::Clock& clock)
    : m_settings(settings), m_log(log), m_list(list), m_pool(pool), m_clock(clock) {}

bool AlarmQueue::switchedOn(std::string_view method) const {
    const app::AppSettings& s = m_settings;
    if (method == kMethodSms) {
        return s.smsEnable && !s.smsPhone.empty();
    }
    if (method == kMethodHttpSms) {
        return s.httpSmsEnable;
    }
    if (method == kMethodEmail) {
        return s.smtpEnable && !s.smtpEmailAddress.empty();
    }
    // Switched off, SysLog raises no row, like the other three methods.
    return method == kMethodSysLog && s.syslogEnable && !s.syslogIp.empty();
}

int AlarmQueue::sendersPerFailure() const {
    int count = 0;
    for (const std::string_view method :
         {kMethodSms, kMethodHttpSms, kMethodEmail, kMethodSysLog}) {
        count += switchedOn(method) ? 1 : 0;
    }
    return count;
}

void AlarmQueue::RaiseAlarms(const std::string& timestamp, const std::string& text,
                             const AlarmFlags& flags, NoticeType type) {
    const app::AppSettings& s = m_settings;
    if (flags.smpp && switchedOn(kMethodSms)) {
        QueueAlarm(timestamp, text, s.smsPhone, kMethodSms, type);
    }
    if (flags.httpSms && switchedOn(kMethodHttpSms)) {
        QueueAlarm(timestamp, text, s.httpSmsMsisdnFieldValue, kMethodHttpSms, type);
    }
    if (flags.email && switchedOn(kMethodEmail)) {
        QueueAlarm(timestamp, text, s.smtpEmailAddress, kMethodEmail, type);
    }
    if (flags.syslog && switchedOn(kMethodSysLog)) {
        QueueAlarm(timestamp, text, s.syslogIp, kMethodSysLog, type);
    }
}

std::unique_ptr<SenderWorkItem> AlarmQueue::buildSender(std::string_view method,
                                                        const std::string& text,
                                                        const std::string& target) const {
    const app::AppSettings& s = m_settings;
    if (method == kMethodEmail && s.smtpEnable) {
        return std::make_unique<ThreadSMTP>(SmtpSettingsFrom(s), AlarmMailFrom(s, target, text),
                                            m_clock);
    }
    if (method == kMethodSms && s.smsEnable) {
        return m_smsFactory ? m_smsFactory(s, target, text) : nullptr;
    }
    if (method == kMethodHttpSms && s.httpSmsEnable) {
        return std::make_unique<ThreadURL>(HttpSmsSettingsFrom(s), target, text);
    }
    if (method == kMethodSysLog && s.syslogEnable) {
        return std::make_unique<ThreadSysLog>(SyslogSettingsFrom(s), PrepareSyslogText(text),
                                              m_clock);
    }
    return nullptr;
}

void AlarmQueue::QueueAlarm(const std::string& timestamp, const std::string& text,
                            const std::string& target, std::string_view method, NoticeType type) {
    try {
        std::int64_t id = 0;
        if (std::unique_ptr<SenderWorkItem> sender = buildSender(method, text, target)) {
            id = m_pool.QueueWorkItem<SenderWorkItem>(std::move(sender),
                                                      [this](SenderWorkItem& done) {
                                                          --m_outstanding;
                                                          OnSenderDone(done);
                                                      });
            ++m_outstanding;
        }
        m_list.TrimAlarmList(m_settings.showLogItem);
        m_list.insertTop(AlarmRow{std::to_string(id), timestamp, text, std::string(method), target,
                                  kPending, std::string(NoticeTypeName(type))});
    } catch (...) {
        // An alarm that cannot be queued is dropped; the other methods of
        // the same failure still go.
    }
}

void AlarmQueue::OnSenderDone(SenderWorkItem& sender) {
    if (sender.result().statusWord.empty()) {
        // It never ran (cancelled, refused as busy): that is a failed send.
        sender.markNeverRan(sender.neverRanReason());
    }
    const SenderResult& result = sender.result();
    if (onSent) {
        onSent(sender.methodWord(), result.ok);
    }
    if (!result.ok) {
        m_log.WriteSystemLog(sender.failureLogLine() + " " + sender.statusMessage(),
                             app::LogLevel::Error);
    }
    const std::string id = std::to_string(sender.WorkItemId());
    if (const auto row = m_list.findById(id)) {
        m_list.select(*row);
        m_list.setStatus(*row, result.statusWord);
    }
    if (onSenderResult) {
        onSenderResult(id, result.statusWord);
    }
}

}  // namespace vantor::alarm
