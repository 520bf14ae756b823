// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>

namespace vantor::app {

// Source of time for everything that reads a clock, so that tests can say
// "it is 14:25" or "300 seconds have passed" without waiting.
class Clock {
public:
    virtual ~Clock() = default;
    // Wall-clock time: timestamps, file dates and schedules.
    virtual std::chrono::system_clock::time_point now() const = 0;
    // Monotonic time: waiting limits and intervals.
    virtual std::chrono::steady_clock::time_point steadyNow() const = 0;
};

class SystemClock final : public Clock {
public:
    std::chrono::system_clock::time_point now() const override {
        return std::chrono::system_clock::now();
    }
    std::chrono::steady_clock::time_point steadyNow() const override {
        return std::chrono::steady_clock::now();
    }
    static const SystemClock& instance();
};

}  // namespace vantor::app
