// SPDX-License-Identifier: GPL-3.0-or-later
#include "alarm/ThreadSysLog.h"

#include <cstdio>

#include "app/AppSettings.h"
#include "app/TimeFormat.h"
#include "net/UdpSender.h"

namespace vantor::alarm {

SyslogSettings SyslogSettingsFrom(const app::AppSettings& s) {
    return SyslogSettings{.host = s.syslogIp,
                          .port = s.syslogPort,
                          .facility = s.syslogFacility,
                          .severity = s.syslogSeverity,
                          .timeoutMs = s.syslogTimeout};
}

std::string PrepareSyslogText(const std::string& alarmText) {
    const auto colon = alarmText.find(':');
    if (colon != std::string::npos && colon >= 1) {
        return ":" + alarmText;
    }
    return alarmText;
}

std::string BuildSyslogDatagram(int facility, int severity,
                                std::chrono::system_clock::time_point when,
                                const std::string& localAddress, const std::string& text) {
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const app::LocalTime t = app::ToLocalTime(when);
    char head[64];
    std::snprintf(head, sizeof head, "<%d>%s %2d %02d:%02d:%02d ", facility * 8 + severity,
                  kMonths[(t.month + 11) % 12], t.day, t.hour, t.minute, t.second);
    std::string datagram = head + localAddress + " " + text;
    constexpr std::size_t kMax = 1024;
    if (datagram.size() > kMax) {
        std::size_t cut = kMax;
        // Never end in the middle of a UTF-8 character.
        while (cut > 0 && (static_cast<unsigned char>(datagram[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        datagram.resize(cut);
    }
    return datagram;
}

ThreadSysLog::ThreadSysLog(const SyslogSettings& settings, std::string text,
                           const app::Clock& clock)
    : SenderWorkItem(settings.host, settings.port),
      m_settings(settings),
      m_text(std::move(text)),
      m_clock(clock) {
    if (m_settings.timeoutMs <= 0) {
        m_settings.timeoutMs = 5000;
    }
}

Status ThreadSysLog::send() {
    const auto deadline = net::DeadlineAfter(m_settings.timeoutMs);
    const std::string local = net::LocalAddressTowards(m_settings.host, m_settings.port, deadline);
    const std::string datagram =
        BuildSyslogDatagram(m_settings.facility, m_settings.severity, m_clock.now(), local, m_text);
    return net::SendUdpDatagram(m_settings.host, m_settings.port, datagram, deadline);
}

}  // namespace vantor::alarm
