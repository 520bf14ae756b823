// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantor::history {

// What a verdict row records besides its status.
enum VerdictFlag : unsigned {
    kRetried = 1,      // the verdict of a repeat after a first failure
    kRunNow = 2,       // asked for with "Run Now", not by the schedule
    kMaintenance = 4,  // inside a maintenance window
    kSlow = 8,         // passed, but slower than its limit
};

// One final verdict of a scheduled check (after its retry, if any).
struct Verdict {
    std::string key;
    std::int64_t time = 0;  // seconds since the epoch
    bool failed = false;
    std::optional<std::int64_t> responseUs;
    unsigned flags = 0;
    // The failure text; kept only where a service goes down.
    std::string detail;
};

struct Counts {
    std::int64_t checks = 0;
    std::int64_t failed = 0;
    Counts& operator+=(const Counts& o) {
        checks += o.checks;
        failed += o.failed;
        return *this;
    }
};

// The passed verdicts' share in percent; none without a verdict.
std::optional<double> UptimePercent(const Counts& counts);
// "98.958 %" (three decimals), or "—" without a verdict.
std::string FormatUptime(const Counts& counts);
// Milliseconds with one decimal ("12.3"), empty without a time.
std::string FormatMs(std::optional<std::int64_t> microseconds);
// "yyyy-MM-dd HH:mm:ss", local time.
std::string FormatTime(std::int64_t seconds);
// The flags of a row as words ("retried run now"), empty for none.
std::string FlagNames(unsigned flags);
// A CSV field, quoted where it must be.
std::string CsvField(std::string_view text);

// What the service list shows of a service's history.
struct Summary {
    std::optional<std::int64_t> lastResponseUs;
    Counts day;    // the last 24 hours
    Counts month;  // the last 30 days
};

// The retention of [History].
struct HistorySettings {
    bool enable = true;
    int rawKeepDays = 7;
    int hourlyKeepDays = 90;
    int dailyKeepDays = 400;
    int maxMB = 512;
};

struct Point {
    std::int64_t time = 0;
    bool failed = false;
    std::optional<std::int64_t> responseUs;
};

// A time a service was down: from its first failed verdict to the first
// passed one after it (none while it is still down).
struct Outage {
    std::int64_t from = 0;
    std::optional<std::int64_t> to;
    std::string detail;  // the first failure's text
};

struct ResponseStats {
    std::optional<std::int64_t> p50;
    std::optional<std::int64_t> p95;
    std::optional<std::int64_t> max;
};

// What the detail pane shows of one service.
struct ServiceDetail {
    std::vector<Point> day;  // the last 24 hours, oldest first
    Counts dayCounts;
    ResponseStats dayResponse;
    // The last 30 days, oldest first, today last.
    std::vector<Counts> days;
    // The latest first.
    std::vector<Outage> outages;
};

// One line of the report.
struct ServiceReport {
    std::string key;
    Counts counts;
    ResponseStats response;
    std::optional<std::int64_t> lastChange;
};

}  // namespace vantor::history
