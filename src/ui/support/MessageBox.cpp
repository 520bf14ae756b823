#include "ui/support/MessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>

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
    if (passToHook(kind, text)) {
        return;
    }
    // The parent may go while the box waits; the box goes with it then.
    QPointer<QMessageBox> box = create(parent, kind, text);
    box->exec();
    delete box.data();
}

}  // namespace vantor::ui
