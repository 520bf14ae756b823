// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

#include "ui/support/CommandLock.h"

namespace vantor::ui {

// A window of the program over the main window: the main window's commands
// are locked while it shows and unlocked when it closes.
class OwnedDialog : public QDialog {
public:
    OwnedDialog(CommandLock& lock, QWidget* parent);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    CommandLock& m_lock;
    bool m_locked = false;
};

}  // namespace vantor::ui
