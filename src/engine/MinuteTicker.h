// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstdint>

namespace vantor::app {
class Clock;
}

namespace vantor::engine {

// Aligns the scheduler's tick to the wall-clock minute: each minute is
// examined at most once, a timer that fires a little late still examines
// the minute it was meant for, and after a long pause (a suspend) only the
// current minute is examined.
class MinuteTicker final {
public:
    explicit MinuteTicker(const app::Clock& clock) : m_clock(clock) {}

    // True, once per minute, when the current minute has not been examined.
    bool claimCurrentMinute();
    // How long until shortly after the next minute begins.
    std::chrono::milliseconds delayToNextMinute() const;

private:
    const app::Clock& m_clock;
    std::int64_t m_lastMinute = -1;
};

}  // namespace vantor::engine
