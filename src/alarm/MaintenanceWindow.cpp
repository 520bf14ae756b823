// SPDX-License-Identifier: GPL-3.0-or-later
#include "alarm/MaintenanceWindow.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <sstream>

namespace vantor::alarm {

namespace {

constexpr std::array<const char*, 7> kDays = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

bool ParseClock(const std::string& text, int& hour, int& minute) {
    char extra = 0;
    return text.size() == 5 &&
           std::sscanf(text.c_str(), "%2d:%2d%c", &hour, &minute, &extra) == 2 && text[2] == ':' &&
           hour >= 0 && hour < 24 && minute >= 0 && minute < 60;
}

// Local date and clock to epoch seconds; nullopt for a date that is none.
std::optional<std::int64_t> LocalEpoch(int year, int month, int day, int hour, int minute) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1) || tm.tm_mday != day || tm.tm_mon != month - 1) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(t);
}

std::optional<std::int64_t> ParseDateTime(const std::string& date, const std::string& clock) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0;
    char extra = 0;
    if (date.size() != 10 || std::sscanf(date.c_str(), "%4d-%2d-%2d%c", &y, &mo, &d, &extra) != 3 ||
        !ParseClock(clock, h, mi)) {
        return std::nullopt;
    }
    return LocalEpoch(y, mo, d, h, mi);
}

std::optional<MaintenanceWindow> ParseOne(const std::string& entry) {
    std::istringstream in(entry);
    std::vector<std::string> words;
    for (std::string w; in >> w;) {
        words.push_back(w);
    }
    MaintenanceWindow w;
    auto minutes = [&w](const std::string& text) {
        char extra = 0;
        return std::sscanf(text.c_str(), "%d%c", &w.minutes, &extra) == 1 && w.minutes > 0 &&
               w.minutes <= 7 * 24 * 60;
    };
    if (words.size() == 3 && words[0] == "daily") {
        w.kind = MaintenanceWindow::Kind::Daily;
        if (ParseClock(words[1], w.hour, w.minute) && minutes(words[2])) {
            return w;
        }
    } else if (words.size() == 4 && words[0] == "weekly") {
        w.kind = MaintenanceWindow::Kind::Weekly;
        const auto day = std::find(kDays.begin(), kDays.end(), words[1]);
        w.weekday = static_cast<int>(day - kDays.begin());
        if (day != kDays.end() && ParseClock(words[2], w.hour, w.minute) && minutes(words[3])) {
            return w;
        }
    } else if (words.size() == 5 && words[0] == "once") {
        w.kind = MaintenanceWindow::Kind::Once;
        const auto from = ParseDateTime(words[1], words[2]);
        const auto to = ParseDateTime(words[3], words[4]);
        if (from && to && *to > *from) {
            w.from = *from;
            w.to = *to;
            return w;
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::int64_t> MaintenanceWindow::endIfInside(std::int64_t t) const {
    if (kind == Kind::Once) {
        return t >= from && t < to ? std::optional<std::int64_t>(to) : std::nullopt;
    }
    const std::time_t now = static_cast<std::time_t>(t);
    std::tm today{};
    ::localtime_r(&now, &today);
    // The window may have started on any of the days its length reaches
    // back over; each start is read on its own date, so a change of the
    // clocks in between moves nothing.
    const int daysBack = minutes / (24 * 60) + 1;
    for (int back = 0; back <= daysBack; ++back) {
        std::tm day = today;
        day.tm_mday -= back;
        day.tm_hour = 12;  // a time every date has
        day.tm_min = 0;
        day.tm_sec = 0;
        day.tm_isdst = -1;
        if (std::mktime(&day) == static_cast<std::time_t>(-1)) {
            continue;
        }
        if (kind == Kind::Weekly && day.tm_wday != weekday) {
            continue;
        }
        const auto start =
            LocalEpoch(day.tm_year + 1900, day.tm_mon + 1, day.tm_mday, hour, minute);
        if (!start) {
            continue;
        }
        const std::int64_t end = *start + static_cast<std::int64_t>(minutes) * 60;
        if (t >= *start && t < end) {
            return end;
        }
    }
    return std::nullopt;
}

MaintenanceList ParseMaintenance(std::string_view text) {
    MaintenanceList list;
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t semi = std::min(text.find(';', at), text.size());
        std::string entry(text.substr(at, semi - at));
        at = semi + 1;
        const auto first = entry.find_first_not_of(" \t");
        if (first == std::string::npos) {
            continue;
        }
        entry = entry.substr(first, entry.find_last_not_of(" \t") - first + 1);
        if (auto w = ParseOne(entry)) {
            list.windows.push_back(*w);
        } else if (list.error.empty()) {
            list.error = "Maintenance window \"" + entry + "\" is not understood.";
        }
    }
    return list;
}

std::optional<std::int64_t> MaintenanceEnd(const std::vector<MaintenanceWindow>& windows,
                                           std::int64_t t) {
    std::optional<std::int64_t> end;
    for (const MaintenanceWindow& w : windows) {
        if (const auto e = w.endIfInside(t)) {
            end = std::max(end.value_or(*e), *e);
        }
    }
    return end;
}

}  // namespace vantor::alarm
