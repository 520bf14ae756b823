// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "app/Result.h"
#include "engine/CheckResult.h"
#include "net/Deadline.h"
#include "pool/WorkItem.h"

namespace vantor::engine {

// The common frame of the six checks: the inputs are copied in when the
// item is made; the run performs one exchange, within the check's time
// limit, and turns its outcome into "Passed" or "Failed" with a detail text
// that starts with "[" host ":" port "] ", made fit to show (see
// app::DetailText) before anyone stores, logs or sends it. Nothing escapes
// the run.
class CheckWorkItem : public pool::WorkItem {
public:
    const CheckResult& result() const { return m_result; }
    // The time limit in force: the setting, or 5000 ms when it is 0 or less.
    int timeoutMs() const { return m_timeoutMs; }
    // The detail of a check that never ran: "Failed" and the pool's reason.
    std::string neverRanDetail() const;

protected:
    CheckWorkItem(std::string kind, const CheckSettings& settings);

    void Execute() final;
    // The exchange; a failure carries its error text.
    virtual Status exchange(net::Deadline deadline) = 0;
    // Detail texts; the URL check words them its own way.
    virtual std::string passedDetail() const;
    virtual std::string failedDetail(const std::string& error) const;

    std::string prefix() const;
    // The record's TLS mode; an unknown word is an error, and nothing is sent.
    Expected<net::TlsMode> tlsMode() const;
    CheckResult m_result;
    std::string m_tlsMode;  // mail and FTP: "", "starttls" or "implicit"
    net::TlsOptions m_tls;

private:
    int m_timeoutMs;
};

}  // namespace vantor::engine
