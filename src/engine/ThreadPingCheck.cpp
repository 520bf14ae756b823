// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/ThreadPingCheck.h"

#include "net/IcmpEcho.h"

namespace vantor::engine {

ThreadPingCheck::ThreadPingCheck(const CheckSettings& settings)
    : CheckWorkItem(words::kPing, settings) {}

Status ThreadPingCheck::exchange(net::Deadline deadline) {
    const Expected<bool> replied = net::SendIcmpEcho(m_result.host, deadline);
    if (!replied) {
        return Error{replied.error()};
    }
    if (!*replied) {
        m_noReply = true;
        return Error{""};
    }
    return {};
}

std::string ThreadPingCheck::failedDetail(const std::string& error) const {
    return m_noReply ? prefix() + kFailed : CheckWorkItem::failedDetail(error);
}

}  // namespace vantor::engine
