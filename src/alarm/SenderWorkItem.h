// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

#include "app/Result.h"
#include "pool/WorkItem.h"

namespace vantor::alarm {

inline constexpr const char* kSent = "Sent";
inline constexpr const char* kError = "Error";
inline constexpr const char* kPending = "Pending";

inline constexpr std::string_view kMethodSms = "SMS";
inline constexpr std::string_view kMethodHttpSms = "SMS by HTTP";
inline constexpr std::string_view kMethodEmail = "Email";
inline constexpr std::string_view kMethodSysLog = "SysLog";

// What a sender carries back to the alarm list.
struct SenderResult {
    bool ok = false;
    std::string statusWord;  // "Sent" or "Error"; empty until the run
    std::string detail;      // "[" host ":" port "] " + error text; empty when sent
    std::string error;       // the error text alone; empty when sent
    int responseCode = -1;   // the HTTP sender's last status code
};

// The common frame of the four alarm senders: every setting is copied in
// when the item is made; the run sends once and never lets an error escape.
class SenderWorkItem : public pool::WorkItem {
public:
    const SenderResult& result() const { return m_result; }
    // "Email", "SMS", "SMS by HTTP" or "SysLog".
    virtual std::string_view methodWord() const = 0;
    // For an item that never ran: "Error", with the pool's reason as the
    // error text.
    void markNeverRan(const std::string& reason);
    // The log line of a failed send, less its last field (the pool's
    // status message): "Alarming Message - SMTP : error <detail>".
    virtual std::string failureLogLine() const;

protected:
    SenderWorkItem(std::string host, int port) : m_host(std::move(host)), m_port(port) {}

    void Execute() final;
    virtual Status send() = 0;
    // The detail of a failed send; the HTTP sender words it its own way.
    virtual std::string errorDetail(const std::string& error) const;
    virtual std::string sentDetail() const { return {}; }
    // "SMTP", "SMS", "HTTP-SMS" or "SysLog", as the log line names it.
    virtual std::string_view logName() const = 0;

    std::string prefix() const;
    const std::string& host() const { return m_host; }
    int port() const { return m_port; }
    void setPort(int port) { m_port = port; }

    SenderResult m_result;

private:
    std::string m_host;
    int m_port;
};

}  // namespace vantor::alarm
