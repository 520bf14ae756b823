#pragma once

#include <functional>

namespace vantor::app {

// Hands a closure to the owner thread, which runs posted closures one at a
// time in the order they were posted. Safe to call from any thread.
class Poster {
public:
    virtual ~Poster() = default;
    virtual void post(std::function<void()> task) = 0;
};

}  // namespace vantor::app
