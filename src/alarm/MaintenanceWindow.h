// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantor::alarm {

// A time in which checks run and are kept but raise no alarm and do not
// count for uptime. In local time, as the operator writes it:
//   "daily 02:00 60"          every day from 02:00 for 60 minutes
//   "weekly Sun 23:30 120"    every Sunday from 23:30 for 120 minutes
//   "once 2026-12-24 18:00 2026-12-26 08:00"
// A window that starts before midnight runs on into the next day; a start
// that a change of the clocks skips begins when the clocks say that time
// next (mktime's reading of it).
struct MaintenanceWindow {
    enum class Kind { Daily, Weekly, Once } kind = Kind::Daily;
    int weekday = 0;  // 0 = Sunday, weekly only
    int hour = 0;
    int minute = 0;
    int minutes = 0;        // daily and weekly
    std::int64_t from = 0;  // once: epoch seconds
    std::int64_t to = 0;

    // The end of the window that holds `t` (epoch seconds), if one does.
    std::optional<std::int64_t> endIfInside(std::int64_t t) const;
};

// The windows of a list separated by ";"; the error names the first entry
// that is not one ("Maintenance window "x" is not understood").
struct MaintenanceList {
    std::vector<MaintenanceWindow> windows;
    std::string error;
};
MaintenanceList ParseMaintenance(std::string_view text);

// The latest end of the windows that hold `t`, if any does.
std::optional<std::int64_t> MaintenanceEnd(const std::vector<MaintenanceWindow>& windows,
                                           std::int64_t t);

}  // namespace vantor::alarm
