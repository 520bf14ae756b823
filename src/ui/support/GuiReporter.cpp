#include "ui/support/GuiReporter.h"

#include <QApplication>
#include <QMetaObject>
#include <QThread>

#include "ui/support/MessageBox.h"

namespace vantor::ui {

namespace {

bool OnGuiThread() {
    return QThread::currentThread() == QCoreApplication::instance()->thread();
}

}  // namespace

void GuiReporter::showBox(app::MessageBoxKind kind, std::string_view text) {
    const QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    if (!OnGuiThread()) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [kind, shown] { MessageBox::show(QApplication::activeWindow(), kind, shown); },
            Qt::QueuedConnection);
        return;
    }
    MessageBox::show(QApplication::activeWindow(), kind, shown);
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
