// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include <cstdlib>

#include "engine/CheckResult.h"
#include "support/Gate.h"
#include "support/TestCertificates.h"

namespace vantor::interop {

// The settings of a scheduled check. The time limit is above the 5 s default:
// the servers share two cores with the sanitizer builds.
inline engine::CheckSettings Settings(const std::string& host, int port) {
    engine::CheckSettings settings;
    settings.serviceKey = "42";
    settings.host = host;
    settings.port = port;
    settings.timeoutMs = 15000;
    return settings;
}

// The test CA becomes the trust store of our TLS clients (OpenSSL's own
// variable, which the checks honour in place of the system's store). Set
// before any check runs: no thread reads the environment meanwhile.
inline void TrustTestCa() {
    ::setenv("SSL_CERT_FILE", test::SharedTestCertificates().caCert.c_str(), 1);
}

// A check over TLS: "starttls" or "implicit" (mail, FTP), or "" (https).
inline engine::CheckSettings TlsSettings(const std::string& host, int port, const std::string& mode,
                                         bool verify = true, int expiryDays = 14) {
    engine::CheckSettings settings = Settings(host, port);
    settings.tlsMode = mode;
    settings.tls.verify = verify;
    settings.tls.expiryDays = expiryDays;
    return settings;
}

// "[" host ":" port "] ", how every detail text starts.
inline std::string Prefix(const std::string& host, int port) {
    return "[" + host + ":" + std::to_string(port) + "] ";
}

// Servers write their logs a moment after they answer: the text is looked
// for until it shows or the time is up.
inline bool EventuallyContains(const std::function<std::string()>& read, const std::string& text,
                               std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    return test::Eventually([&] { return read().find(text) != std::string::npos; }, timeout);
}

}  // namespace vantor::interop
