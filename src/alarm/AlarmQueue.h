// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "alarm/AlarmFlags.h"
#include "alarm/AlarmListModel.h"
#include "alarm/AlarmPolicy.h"
#include "alarm/SenderWorkItem.h"

namespace vantor::app {
class Clock;
class SystemLog;
struct AppSettings;
}  // namespace vantor::app

namespace vantor::pool {
class ThreadPoolManager;
}

namespace vantor::alarm {

// Raises the alarms of a failed check: one sender per method that the
// service asks for and that is switched on, each with a "Pending" row at the
// top of the alarm list; queues the senders on the pool and turns the rows
// into "Sent" or "Error" when they come back. Owner thread only.
class AlarmQueue final {
public:
    // Builds the SMS (SMPP) sender for a target and a text; without one an
    // enabled SMS method queues nothing and its row keeps the id "0".
    using SmsSenderFactory = std::function<std::unique_ptr<SenderWorkItem>(
        const app::AppSettings& settings, const std::string& target, const std::string& text)>;

    AlarmQueue(const app::AppSettings& settings, app::SystemLog& log, AlarmListModel& list,
               pool::ThreadPoolManager& pool, const app::Clock& clock);
    AlarmQueue(const AlarmQueue&) = delete;
    AlarmQueue& operator=(const AlarmQueue&) = delete;

    void setSmsSenderFactory(SmsSenderFactory factory) { m_smsFactory = std::move(factory); }

    // In this order: SMS, SMS by HTTP, Email, SysLog; so SysLog ends on top.
    void RaiseAlarms(const std::string& timestamp, const std::string& text, const AlarmFlags& flags,
                     NoticeType type = NoticeType::Failure);
    void QueueAlarm(const std::string& timestamp, const std::string& text,
                    const std::string& target, std::string_view method,
                    NoticeType type = NoticeType::Failure);
    // Senders queued and not back yet.
    int outstanding() const { return m_outstanding; }
    // Told of every sender that came back: its row's id and its status,
    // also when the list no longer shows the row.
    std::function<void(const std::string& id, const std::string& status)> onSenderResult;
    // Every notice sent or failed, by its method's word (kMethodEmail, ...).
    std::function<void(std::string_view method, bool sent)> onSent;
    // How many senders one failure raises at most: the methods switched on.
    int sendersPerFailure() const;

private:
    // Switched on, and with a target to send to.
    bool switchedOn(std::string_view method) const;
    // A sender came back: a failure is logged, and its row takes the status.
    void OnSenderDone(SenderWorkItem& sender);
    std::unique_ptr<SenderWorkItem> buildSender(std::string_view method, const std::string& text,
                                                const std::string& target) const;

    const app::AppSettings& m_settings;
    app::SystemLog& m_log;
    AlarmListModel& m_list;
    pool::ThreadPoolManager& m_pool;
    const app::Clock& m_clock;
    SmsSenderFactory m_smsFactory;
    int m_outstanding = 0;
};

}  // namespace vantor::alarm
