// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <functional>
#include <mutex>

#include "app/Reporter.h"

namespace vantor::headless {

// Writes each box as its kind, ": " and its text to standard error.
class ConsoleReporter final : public app::Reporter {
public:
    // onTerminate runs (once) when termination is first requested.
    explicit ConsoleReporter(std::function<void()> onTerminate = {});

    void showBox(app::MessageBoxKind kind, std::string_view text) override;
    void requestTerminate() override;
    bool terminateRequested() const override { return m_terminate.load(); }
    void setOnTerminate(std::function<void()> onTerminate);

private:
    std::mutex m_mutex;
    std::function<void()> m_onTerminate;
    std::atomic<bool> m_terminate{false};
};

}  // namespace vantor::headless
