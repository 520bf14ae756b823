// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/CheckWorkItem.h"

namespace vantor::engine {

// Checks a host with one ICMP echo request. "[h:p] Passed" on an echo
// reply, "[h:p] Failed" when none came within the timeout, and "[h:p]
// Failed:" + the reason on an error (no such host, no socket, an ICMP
// error such as destination unreachable).
class ThreadPingCheck final : public CheckWorkItem {
public:
    explicit ThreadPingCheck(const CheckSettings& settings);

protected:
    Status exchange(net::Deadline deadline) override;
    std::string failedDetail(const std::string& error) const override;

private:
    bool m_noReply = false;
};

}  // namespace vantor::engine
