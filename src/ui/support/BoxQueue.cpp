// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/support/BoxQueue.h"

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QMetaObject>

#include "ui/support/MessageBox.h"

namespace vantor::ui {

BoxQueue::~BoxQueue() {
    if (m_shown != nullptr) {
        QObject::disconnect(m_shown, nullptr, &m_context, nullptr);
        delete m_shown;
    }
}

void BoxQueue::show(app::MessageBoxKind kind, const QString& text) {
    if (MessageBox::passToHook(kind, text)) {
        return;
    }
    for (Box& box : m_boxes) {
        if (box.kind == kind && box.text == text) {
            ++box.times;
            if (&box == &m_boxes.front() && m_shown != nullptr) {
                m_shown->setText(shownText(box));
            }
            return;
        }
    }
    m_boxes.push_back(Box{kind, text});
    if (m_boxes.size() == 1) {
        showFirst();
    }
}

QString BoxQueue::shownText(const Box& box) {
    if (box.times == 1) {
        return box.text;
    }
    return QStringLiteral("%1\n\n(%2 times)").arg(box.text, QString::number(box.times));
}

void BoxQueue::showFirst() {
    // Over the window at work, not over the box that has just closed.
    QWidget* parent = QApplication::activeWindow();
    while (qobject_cast<QMessageBox*>(parent) != nullptr) {
        parent = parent->parentWidget();
    }
    const Box& first = m_boxes.front();
    m_shown = MessageBox::create(parent, first.kind, shownText(first));
    QMessageBox* box = m_shown;
    QObject::connect(box, &QDialog::finished, &m_context, [this, box] {
        box->deleteLater();
        closed(box);
    });
    // A parent that goes takes its box along, unanswered.
    QObject::connect(box, &QObject::destroyed, &m_context, [this](QObject* gone) { closed(gone); });
    box->open();
}

void BoxQueue::closed(QObject* box) {
    if (box != m_shown) {
        return;  // closed, and now deleted
    }
    m_shown = nullptr;
    m_boxes.pop_front();
    if (m_boxes.empty()) {
        if (m_waiting != nullptr) {
            m_waiting->quit();
        }
        return;
    }
    // Not inside the last box's signal, nor inside its dying parent.
    QMetaObject::invokeMethod(
        &m_context, [this] { showFirst(); }, Qt::QueuedConnection);
}

void BoxQueue::waitUntilClosed() {
    if (m_boxes.empty()) {
        return;
    }
    QEventLoop loop;
    m_waiting = &loop;
    loop.exec();
    m_waiting = nullptr;
}

}  // namespace vantor::ui
