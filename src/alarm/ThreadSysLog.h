// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "alarm/SenderWorkItem.h"
#include "app/Clock.h"

namespace vantor::app {
struct AppSettings;
}

namespace vantor::alarm {

struct SyslogSettings {
    std::string host;
    int port = 514;
    int facility = 0;      // 0..23
    int severity = 0;      // 0..7
    int timeoutMs = 5000;  // 0 or below means 5000; nothing is ever received
};

// The "SysLog Alarm" section as the sender takes it.
SyslogSettings SyslogSettingsFrom(const app::AppSettings& settings);

// The message part of an alarm datagram: a text with a colon at its second
// character or later gets one ":" in front, so that a receiver does not take
// the words before that colon for a tag.
std::string PrepareSyslogText(const std::string& alarmText);

// One RFC 3164 datagram: "<PRI>Mmm dd hh:mm:ss HOST MSG" (the day padded
// with a blank), cut to 1024 bytes.
std::string BuildSyslogDatagram(int facility, int severity,
                                std::chrono::system_clock::time_point when,
                                const std::string& localAddress, const std::string& text);

// Sends the alarm as one BSD syslog datagram over UDP.
class ThreadSysLog final : public SenderWorkItem {
public:
    // text: already prepared with PrepareSyslogText.
    ThreadSysLog(const SyslogSettings& settings, std::string text,
                 const app::Clock& clock = app::SystemClock::instance());

    std::string_view methodWord() const override { return kMethodSysLog; }
    int timeoutMs() const { return m_settings.timeoutMs; }

protected:
    Status send() override;
    std::string_view logName() const override { return "SysLog"; }

private:
    SyslogSettings m_settings;
    std::string m_text;
    const app::Clock& m_clock;
};

}  // namespace vantor::alarm
