// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <atomic>
#include <functional>

#include "app/Reporter.h"
#include "ui/support/BoxQueue.h"

namespace vantor::ui {

// Boxes as real message boxes over the active window, queued: asking for
// one returns at once. A box asked for on another thread is queued on the
// GUI thread, later.
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
    // Until every box asked for has been closed: the program does not end
    // under a box nobody has read.
    void waitForBoxes() { m_boxes.waitUntilClosed(); }

private:
    std::atomic<bool> m_terminate{false};
    std::function<void()> m_onTerminate;
    BoxQueue m_boxes;
    // On the GUI thread: boxes from other threads come through it, and
    // those still on their way when it goes are dropped.
    QObject m_context;
};

}  // namespace vantor::ui
