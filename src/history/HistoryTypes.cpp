// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/HistoryTypes.h"

#include <chrono>
#include <cstdio>

#include "app/TimeFormat.h"

namespace vantor::history {

std::optional<double> UptimePercent(const Counts& counts) {
    if (counts.checks <= 0) {
        return std::nullopt;
    }
    return 100.0 * static_cast<double>(counts.checks - counts.failed) /
           static_cast<double>(counts.checks);
}

std::string FormatUptime(const Counts& counts) {
    const std::optional<double> share = UptimePercent(counts);
    if (!share) {
        return "\u2014";
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f %%", *share);
    return buf;
}

std::string FormatMs(std::optional<std::int64_t> microseconds) {
    if (!microseconds) {
        return {};
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", static_cast<double>(*microseconds) / 1000.0);
    return buf;
}

std::string FormatTime(std::int64_t seconds) {
    return app::FormatTimestamp(
        std::chrono::system_clock::time_point(std::chrono::seconds(seconds)));
}

std::string FlagNames(unsigned flags) {
    static constexpr std::pair<unsigned, const char*> kNames[] = {{kRetried, "retried"},
                                                                  {kRunNow, "run now"},
                                                                  {kMaintenance, "maintenance"},
                                                                  {kSlow, "slow"}};
    std::string out;
    for (const auto& [bit, name] : kNames) {
        if ((flags & bit) != 0) {
            out += out.empty() ? "" : " ";
            out += name;
        }
    }
    return out;
}

std::string CsvField(std::string_view text) {
    // RFC 4180: quoted when it holds a comma, a quote or a line break, and
    // a quote doubled inside.
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        return std::string(text);
    }
    std::string out = "\"";
    for (const char c : text) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    out += '"';
    return out;
}

}  // namespace vantor::history
