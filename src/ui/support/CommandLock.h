// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace vantor::ui {

// The main window's commands, locked while another window of the program
// is active, and unlocked by that window when it closes.
class CommandLock {
public:
    virtual ~CommandLock() = default;
    virtual void lockCommands() = 0;
    virtual void unlockCommands() = 0;
};

}  // namespace vantor::ui
