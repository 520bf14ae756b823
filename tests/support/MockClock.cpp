// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/MockClock.h"

#include <ctime>

namespace vantor::test {

MockClock::MockClock(int year, int month, int day, int hour, int minute, int second) {
    m_steady = std::chrono::steady_clock::now().time_since_epoch().count();
    setLocal(year, month, day, hour, minute, second);
}

std::chrono::system_clock::time_point MockClock::now() const {
    return std::chrono::system_clock::time_point(
        std::chrono::system_clock::duration(m_wall.load()));
}

std::chrono::steady_clock::time_point MockClock::steadyNow() const {
    return std::chrono::steady_clock::time_point(
        std::chrono::steady_clock::duration(m_steady.load()));
}

void MockClock::setLocal(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    m_wall = std::chrono::system_clock::from_time_t(t).time_since_epoch().count();
}

void MockClock::advance(std::chrono::system_clock::duration by) {
    m_wall += by.count();
    m_steady += std::chrono::duration_cast<std::chrono::steady_clock::duration>(by).count();
}

}  // namespace vantor::test
