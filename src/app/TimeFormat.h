// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace vantor::app {

// Broken-down local time of one clock reading.
struct LocalTime {
    int year = 0;
    int month = 0;  // 1..12
    int day = 0;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int weekday = 0;  // 0 = Sunday
};

LocalTime ToLocalTime(std::chrono::system_clock::time_point t);

// Whole seconds since the epoch, as the result history counts time.
std::int64_t EpochSeconds(std::chrono::system_clock::time_point t);

// "yyyy-MM-dd HH:mm:ss", local time, 24-hour clock.
std::string FormatTimestamp(std::chrono::system_clock::time_point t);
// "yyyy-MM-dd", local calendar date.
std::string FormatDate(std::chrono::system_clock::time_point t);
// "yyyy-MM-dd" of the local calendar date that lies `days` days before t's date.
std::string FormatDateDaysBefore(std::chrono::system_clock::time_point t, int days);

}  // namespace vantor::app
