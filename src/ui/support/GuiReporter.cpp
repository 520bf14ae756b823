// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/support/GuiReporter.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <string>

#include "app/DetailText.h"

namespace vantor::ui {

namespace {

bool OnGuiThread() {
    return QThread::currentThread() == QCoreApplication::instance()->thread();
}

}  // namespace

void GuiReporter::showBox(app::MessageBoxKind kind, std::string_view text) {
    // The core's texts carry values of records and settings.
    const std::string line = app::OneLine(text, app::kLineMaxBytes);
    const QString shown = QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
    if (!OnGuiThread()) {
        QMetaObject::invokeMethod(
            &m_context, [this, kind, shown] { m_boxes.show(kind, shown); }, Qt::QueuedConnection);
        return;
    }
    m_boxes.show(kind, shown);
}

void GuiReporter::requestTerminate() {
    if (m_terminate.exchange(true) || !m_onTerminate) {
        return;
    }
    // The caller finishes its step first.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [this] { m_onTerminate(); }, Qt::QueuedConnection);
}

}  // namespace vantor::ui
