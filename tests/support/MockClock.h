// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <chrono>
#include <string>

#include "app/Clock.h"

namespace vantor::test {

// A clock that stands still until the test moves it. Both readings move
// together. Safe to read from any thread.
class MockClock final : public app::Clock {
public:
    // Starts at the given local wall time.
    MockClock(int year = 2026, int month = 12, int day = 8, int hour = 14, int minute = 0,
              int second = 0);

    std::chrono::system_clock::time_point now() const override;
    std::chrono::steady_clock::time_point steadyNow() const override;

    void setLocal(int year, int month, int day, int hour, int minute, int second);
    void advance(std::chrono::system_clock::duration by);

private:
    std::atomic<std::chrono::system_clock::rep> m_wall{0};
    std::atomic<std::chrono::steady_clock::rep> m_steady{0};
};

}  // namespace vantor::test
