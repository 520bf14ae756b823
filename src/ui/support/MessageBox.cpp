// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/support/MessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <string>

#include "app/DetailText.h"

namespace vantor::ui {

namespace {

MessageBox::Hook& TestHook() {
    static MessageBox::Hook hook;
    return hook;
}

QMessageBox::Icon IconOf(app::MessageBoxKind kind) {
    switch (kind) {
        case app::MessageBoxKind::Information:
            return QMessageBox::Information;
        case app::MessageBoxKind::Warning:
            return QMessageBox::Warning;
        case app::MessageBoxKind::Error:
            return QMessageBox::Critical;
    }
    return QMessageBox::Information;
}

}  // namespace

void MessageBox::setHook(Hook hook) {
    TestHook() = std::move(hook);
}

bool MessageBox::passToHook(app::MessageBoxKind kind, const QString& text) {
    if (!TestHook()) {
        return false;
    }
    TestHook()(kind, text);
    return true;
}

QMessageBox* MessageBox::create(QWidget* parent, app::MessageBoxKind kind, const QString& text) {
    return new QMessageBox(IconOf(kind), QApplication::applicationDisplayName(), text,
                           QMessageBox::Ok, parent);
}

void MessageBox::show(QWidget* parent, app::MessageBoxKind kind, const QString& text) {
    // What the operator typed or a record holds may be part of the text.
    const std::string line = app::OneLine(text.toStdString(), app::kLineMaxBytes);
    const QString shown = QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
    if (passToHook(kind, shown)) {
        return;
    }
    // The parent may go while the box waits; the box goes with it then.
    QPointer<QMessageBox> box = create(parent, kind, shown);
    box->exec();
    delete box.data();
}

}  // namespace vantor::ui
