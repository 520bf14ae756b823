// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/MinuteTicker.h"

#include "app/Clock.h"

namespace vantor::engine {

namespace {

std::int64_t MinuteOf(std::chrono::system_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::minutes>(t.time_since_epoch()).count();
}

// Fire a little after the boundary so that the clock reads the new minute.
constexpr auto kPastTheMinute = std::chrono::milliseconds(250);

}  // namespace

bool MinuteTicker::claimCurrentMinute() {
    const std::int64_t minute = MinuteOf(m_clock.now());
    if (minute == m_lastMinute) {
        return false;
    }
    m_lastMinute = minute;
    return true;
}

std::chrono::milliseconds MinuteTicker::delayToNextMinute() const {
    const auto now = m_clock.now();
    const auto next =
        std::chrono::system_clock::time_point(std::chrono::minutes(MinuteOf(now) + 1));
    return std::chrono::duration_cast<std::chrono::milliseconds>(next - now) + kPastTheMinute;
}

}  // namespace vantor::engine
