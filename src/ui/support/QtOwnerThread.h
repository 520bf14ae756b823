// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

#include "app/Poster.h"

namespace vantor::ui {

// The GUI thread as the core's owner thread: posted closures become queued
// calls and delayed ones single-shot timers, both on the GUI's event loop.
// Whatever is still pending when this goes away is dropped.
class QtOwnerThread final : public app::OwnerThread {
public:
    QtOwnerThread() = default;
    QtOwnerThread(const QtOwnerThread&) = delete;
    QtOwnerThread& operator=(const QtOwnerThread&) = delete;

    void post(std::function<void()> task) override;
    void runLater(std::chrono::milliseconds delay, std::function<void()> task) override;

private:
    // Lives on the GUI thread; its calls and timers die with it.
    QObject m_context;
};

}  // namespace vantor::ui
