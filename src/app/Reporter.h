#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string_view>

#include "app/LogLevel.h"

namespace vantor::app {

// How the core shows a message box to the operator and asks the application
// to end. The GUI shows real boxes; without windows a box is one line on
// standard error.
class Reporter {
public:
    virtual ~Reporter() = default;
    // A modal box with one OK button.
    virtual void showBox(MessageBoxKind kind, std::string_view text) = 0;
    // The application ends once the current step is over; a box has already
    // said why. Code that asked for it carries on until it returns.
    virtual void requestTerminate() = 0;
    virtual bool terminateRequested() const = 0;
};

// Writes each box as its kind, ": " and its text to standard error.
class ConsoleReporter final : public Reporter {
public:
    // onTerminate runs (once) when termination is first requested.
    explicit ConsoleReporter(std::function<void()> onTerminate = {});

    void showBox(MessageBoxKind kind, std::string_view text) override;
    void requestTerminate() override;
    bool terminateRequested() const override { return m_terminate.load(); }
    void setOnTerminate(std::function<void()> onTerminate);

private:
    std::mutex m_mutex;
    std::function<void()> m_onTerminate;
    std::atomic<bool> m_terminate{false};
};

}  // namespace vantor::app
