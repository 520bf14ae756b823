// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/support/QtOwnerThread.h"

#include <QMetaObject>
#include <QTimer>

namespace vantor::ui {

void QtOwnerThread::post(std::function<void()> task) {
    QMetaObject::invokeMethod(&m_context, std::move(task), Qt::QueuedConnection);
}

void QtOwnerThread::runLater(std::chrono::milliseconds delay, std::function<void()> task) {
    QTimer::singleShot(delay, Qt::PreciseTimer, &m_context, std::move(task));
}

}  // namespace vantor::ui
