// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

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

}  // namespace vantor::app
