// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/TimeFormat.h"

#include <cstdio>
#include <ctime>

#include "app/Clock.h"

namespace vantor::app {

const SystemClock& SystemClock::instance() {
    static const SystemClock clock;
    return clock;
}

LocalTime ToLocalTime(std::chrono::system_clock::time_point t) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(t);
    std::tm tm{};
    localtime_r(&seconds, &tm);
    return LocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                     tm.tm_min,         tm.tm_sec,     tm.tm_wday};
}

namespace {

std::string FormatYmd(int year, unsigned month, unsigned day) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u", year, month, day);
    return buf;
}

}  // namespace

std::string FormatTimestamp(std::chrono::system_clock::time_point t) {
    const LocalTime lt = ToLocalTime(t);
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", lt.year, lt.month, lt.day,
                  lt.hour, lt.minute, lt.second);
    return buf;
}

std::string FormatDate(std::chrono::system_clock::time_point t) {
    const LocalTime lt = ToLocalTime(t);
    return FormatYmd(lt.year, static_cast<unsigned>(lt.month), static_cast<unsigned>(lt.day));
}

std::string FormatDateDaysBefore(std::chrono::system_clock::time_point t, int days) {
    using namespace std::chrono;
    const LocalTime lt = ToLocalTime(t);
    // Calendar arithmetic on the date alone, so that daylight-saving changes
    // never shift the result by a day.
    const sys_days today = year_month_day{year{lt.year}, month{static_cast<unsigned>(lt.month)},
                                          day{static_cast<unsigned>(lt.day)}};
    const year_month_day then{today - std::chrono::days{days}};
    return FormatYmd(static_cast<int>(then.year()), static_cast<unsigned>(then.month()),
                     static_cast<unsigned>(then.day()));
}

std::int64_t EpochSeconds(std::chrono::system_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count();
}

}  // namespace vantor::app
