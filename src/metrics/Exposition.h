// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/ProbeFacts.h"
#include "metrics/TextBuffer.h"

namespace vantor::metrics {

// The alarm methods, in the order of the counters and their "method" label.
enum class Method { Email, Smpp, HttpSms, Syslog };
inline constexpr std::array<std::string_view, 4> kMethodLabels = {"email", "smpp", "http_sms",
                                                                  "syslog"};

// What the exposition says of one service.
struct ServiceMetrics {
    std::string key;
    std::string module;    // the kind: "URL", "Ping", "SMTP", ...
    std::string instance;  // the target as a prober names it (engine::InstanceOf)
    std::string schedule;  // "Minutely 5", "Hourly 30", "Daily 06:00"
    // instance, module and key as the samples carry them (ServiceLabels),
    // kept between renderings; made afresh when empty.
    std::string labels;
    // The last final verdict; none before the first check came back.
    struct Verdict {
        bool success = false;
        std::int64_t durationUs = 0;
        std::int64_t time = 0;  // epoch seconds
        app::ProbeFacts probe;
    };
    std::optional<Verdict> last;
    std::uint64_t checks = 0;  // final verdicts since the program started
    bool alarmed = false;      // a failure alarm went out and no recovery yet
    // Uptime ratios from the history, when it keeps one.
    std::optional<double> uptime24h;
    std::optional<double> uptime30d;
};

struct AlarmCounts {
    std::array<std::uint64_t, 4> sent{};
    std::array<std::uint64_t, 4> failed{};
};

inline constexpr std::string_view kContentType = "text/plain; version=0.0.4; charset=utf-8";

// The Prometheus text format (0.0.4) of every service given, in their
// order: each family's HELP and TYPE once, then its samples; a family
// without a sample is left out, and so is a sample that does not apply
// (the HTTP families of a Ping service, the TLS ones without TLS).
std::string RenderExposition(const std::vector<const ServiceMetrics*>& services,
                             const AlarmCounts& alarms);
// The same into `out`, whose memory is used again.
void RenderExposition(const std::vector<const ServiceMetrics*>& services, const AlarmCounts& alarms,
                      TextBuffer& out);

// instance="...",module="...",key="...", escaped.
std::string ServiceLabels(const ServiceMetrics& service);

// A label value as the text format escapes it: backslash, double quote
// and line feed.
std::string EscapeLabelValue(std::string_view value);

}  // namespace vantor::metrics
