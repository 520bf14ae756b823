// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <functional>

namespace vantor::app {

// Hands a closure to the owner thread, which runs posted closures one at a
// time in the order they were posted. Safe to call from any thread.
class Poster {
public:
    virtual ~Poster() = default;
    virtual void post(std::function<void()> task) = 0;
};

// The owner thread as a front end runs it: posted closures, and closures
// run once after a delay (the front end's timers).
class OwnerThread : public Poster {
public:
    virtual void runLater(std::chrono::milliseconds delay, std::function<void()> task) = 0;
};

}  // namespace vantor::app
