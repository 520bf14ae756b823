// SPDX-License-Identifier: GPL-3.0-or-later
#include "alarm/SenderWorkItem.h"

#include "app/DetailText.h"
#include "net/TextProtocol.h"

namespace vantor::alarm {

std::string SenderWorkItem::prefix() const {
    return "[" + m_host + ":" + std::to_string(m_port) + "] ";
}

std::string SenderWorkItem::errorDetail(const std::string& error) const {
    return prefix() + net::Trim(error);
}

std::string SenderWorkItem::failureLogLine() const {
    return "Alarming Message - " + std::string(logName()) + " : error " + m_result.detail;
}

void SenderWorkItem::markNeverRan(const std::string& reason) {
    m_result.ok = false;
    m_result.statusWord = kError;
    m_result.detail = app::DetailText(errorDetail(reason));
    m_result.error = reason;
}

void SenderWorkItem::Execute() {
    Status outcome;
    try {
        outcome = send();
    } catch (const std::exception& e) {
        outcome = Error{e.what()};
    } catch (...) {
        outcome = Error{"Unknown error"};
    }
    m_result.ok = outcome.ok();
    m_result.statusWord = outcome.ok() ? kSent : kError;
    m_result.detail = app::DetailText(outcome.ok() ? sentDetail() : errorDetail(outcome.error()));
    m_result.error = outcome.ok() ? std::string() : outcome.error();
}

}  // namespace vantor::alarm
