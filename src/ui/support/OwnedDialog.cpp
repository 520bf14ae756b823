// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/support/OwnedDialog.h"

#include <QHideEvent>

namespace vantor::ui {

OwnedDialog::OwnedDialog(CommandLock& lock, QWidget* parent) : QDialog(parent), m_lock(lock) {}

void OwnedDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_locked) {
        m_locked = true;
        m_lock.lockCommands();
    }
}

void OwnedDialog::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    // A minimised owner hides its dialogs too; only a real close unlocks.
    if (m_locked && !isVisible() && !event->spontaneous()) {
        m_locked = false;
        m_lock.unlockCommands();
    }
}

}  // namespace vantor::ui
