// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/CheckWorkItem.h"

#include <chrono>

#include "app/DetailText.h"
#include "net/Probe.h"
#include "net/TextProtocol.h"

namespace vantor::engine {

CheckWorkItem::CheckWorkItem(std::string kind, const CheckSettings& settings)
    : m_tlsMode(settings.tlsMode),
      m_tls(settings.tls),
      m_timeoutMs(settings.timeoutMs > 0 ? settings.timeoutMs : 5000) {
    m_result.originTag = settings.originTag;
    m_result.serviceKey = settings.serviceKey;
    m_result.kind = std::move(kind);
    m_result.retryFlag = settings.retrySetting > 0 ? 1 : 0;
    m_result.alarms = settings.alarms;
    m_result.host = settings.host;
    m_result.port = settings.port;
    m_result.repeat = settings.repeat;
    m_result.runNow = settings.runNow;
}

Expected<net::TlsMode> CheckWorkItem::tlsMode() const {
    if (std::optional<net::TlsMode> mode = net::TlsModeFromName(m_tlsMode)) {
        return *mode;
    }
    return Error{"Unknown security '" + m_tlsMode +
                 "' (expected starttls or implicit); nothing was sent"};
}

std::string CheckWorkItem::prefix() const {
    return "[" + m_result.host + ":" + std::to_string(m_result.port) + "] ";
}

std::string CheckWorkItem::passedDetail() const {
    return prefix() + kPassed;
}

std::string CheckWorkItem::failedDetail(const std::string& error) const {
    return prefix() + kFailed + ":" + net::Trim(error);
}

void CheckWorkItem::Execute() {
    // The run's own time, on this thread: the queue's wait is over.
    const auto started = std::chrono::steady_clock::now();
    net::StartProbe();
    Status outcome;
    try {
        // One limit for the whole exchange, so that a server that drips its
        // answer cannot hold the check longer than its timeout.
        outcome = exchange(net::DeadlineAfter(m_timeoutMs));
    } catch (const std::exception& e) {
        outcome = Error{e.what()};
    } catch (...) {
        outcome = Error{"Unknown error"};
    }
    m_result.responseTime = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - started);
    m_result.probe = net::TakeProbe();
    m_result.passed = outcome.ok();
    m_result.statusWord = outcome.ok() ? kPassed : kFailed;
    m_result.detail =
        app::DetailText(outcome.ok() ? passedDetail() : failedDetail(outcome.error()));
}

std::string CheckWorkItem::neverRanDetail() const {
    return app::DetailText(prefix() + kFailed + ":" + neverRanReason());
}

}  // namespace vantor::engine
