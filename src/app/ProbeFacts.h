// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace vantor::app {

// What one check learned about its target besides its verdict: the name
// lookup, the address family, the TLS session and, by kind, the HTTP
// exchange or the echo. Each is empty when the check did not get that far
// or its kind has none. Times are in microseconds.
struct ProbeFacts {
    std::optional<std::int64_t> dnsLookupUs;
    std::optional<int> ipProtocol;  // 4 or 6, of the address connected to
    // That address's bytes (4 or 16; 0: none).
    std::array<std::uint8_t, 16> ipBytes{};
    std::uint8_t ipLength = 0;
    // TLS: the earliest end of validity in the server's chain (epoch
    // seconds) and the protocol, as "TLS 1.3".
    std::optional<std::int64_t> certNotAfter;
    std::string tlsVersion;
    // HTTP, the phases summed over the requests of the exchange.
    struct Http {
        int statusCode = 0;
        double version = 0;  // of the last answer: 1.0, 1.1, 2
        bool ssl = false;    // the last request went over TLS
        int redirects = 0;
        std::int64_t contentLength = -1;  // the last answer's Content-Length, -1: none
        std::int64_t bodyBytes = 0;       // of the last answer's body, as received
        std::int64_t resolveUs = 0;
        std::int64_t connectUs = 0;
        std::int64_t tlsUs = 0;
        std::int64_t processingUs = 0;
        std::int64_t transferUs = 0;
    };
    std::optional<Http> http;
    // The echo: the name lookup, making the socket, the round trip.
    struct Icmp {
        std::int64_t resolveUs = 0;
        std::int64_t setupUs = 0;
        std::int64_t rttUs = 0;
    };
    std::optional<Icmp> icmp;
};

}  // namespace vantor::app
