#pragma once

#include <atomic>
#include <functional>

#include "app/Reporter.h"

namespace vantor::ui {

// Boxes as real message boxes over the active window. A box asked for on
// another thread is shown on the GUI thread, later.
class GuiReporter final : public app::Reporter {
public:
    void showBox(app::MessageBoxKind kind, std::string_view text) override;
    void requestTerminate() override;
    bool terminateRequested() const override { return m_terminate.load(); }
    // Runs once, on the GUI thread, when the program is first asked to end
    // after its window is up; before that the entry sequence looks at
    // terminateRequested itself.
    void setOnTerminate(std::function<void()> onTerminate) {
        m_onTerminate = std::move(onTerminate);
    }

private:
    std::atomic<bool> m_terminate{false};
    std::function<void()> m_onTerminate;
};

}  // namespace vantor::ui
