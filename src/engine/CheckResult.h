// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "alarm/AlarmFlags.h"
#include "app/ProbeFacts.h"
#include "app/Words.h"
#include "net/Tls.h"

namespace vantor::engine {

using alarm::AlarmFlags;
using words::kFailed;
using words::kOriginProduct;
using words::kOriginSetup;
using words::kPassed;

// What a check work item carries back to its completion handler.
struct CheckResult {
    std::string originTag;   // "Product" (scheduled) or "Setup" (the wizard's test)
    std::string serviceKey;  // the record's key, "0" for a wizard test
    std::string kind;        // "URL", "Ping", "SMTP", "POP3", "IMAP", "FTP"
    std::string statusWord;  // "Passed" or "Failed"; empty when the check never ran
    std::string detail;      // "[" host ":" port "] " + outcome
    bool passed = false;
    int retryFlag = 0;
    AlarmFlags alarms;
    std::string host;  // the completed URL for URL checks, else the host
    int port = 0;
    // How long the run took on its pool thread, from its start (the name
    // lookup included) to its verdict, the wait in the queue left out;
    // nullopt for a check that never ran. It is not part of the detail, and
    // service.xml does not hold it.
    std::optional<std::chrono::microseconds> responseTime;
    // What the run learned of its target on the way (for the metrics).
    app::ProbeFacts probe;
    bool repeat = false;  // the repeat after a first failure
    bool runNow = false;  // asked for with "Run Now"
    bool slow = false;    // passed, slower than its kind's SlowAfterMs
    // Inside a maintenance window: when it ends (epoch seconds), else 0.
    std::int64_t maintenanceUntil = 0;
};

// The inputs every check takes, as the dispatch or the wizard reads them.
struct CheckSettings {
    std::string originTag = kOriginProduct;
    std::string serviceKey;
    std::string host;  // for URL checks the URL, already completed
    int port = 0;
    int timeoutMs = 0;     // the kind's setting; 0 or below means 5000
    int retrySetting = 0;  // the kind's retry setting; above 0 means retry
    AlarmFlags alarms;
    // Mail and FTP: "", "starttls" or "implicit", as the record holds it.
    std::string tlsMode;
    // How a server certificate is judged (every kind that speaks TLS).
    net::TlsOptions tls;
    bool repeat = false;
    bool runNow = false;
};

}  // namespace vantor::engine
