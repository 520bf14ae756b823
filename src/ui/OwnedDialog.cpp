#include "ui/OwnedDialog.h"

#include <QDialogButtonBox>
#include <QHideEvent>
#include <QLabel>
#include <QVBoxLayout>

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

PlaceholderDialog::PlaceholderDialog(const QString& title, CommandLock& lock, QWidget* parent)
    : OwnedDialog(lock, parent) {
    setObjectName("PlaceholderDialog");
    setWindowTitle(title);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("This window comes with a later version."), this));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

}  // namespace vantor::ui
