#include "ui/support/MessageBox.h"

#include <QApplication>
#include <QMessageBox>

namespace vantor::ui {

namespace {

MessageBox::Hook& TestHook() {
    static MessageBox::Hook hook;
    return hook;
}

}  // namespace

void MessageBox::setHook(Hook hook) {
    TestHook() = std::move(hook);
}

void MessageBox::show(QWidget* parent, app::MessageBoxKind kind, const QString& text) {
    if (TestHook()) {
        TestHook()(kind, text);
        return;
    }
    QMessageBox::Icon icon = QMessageBox::Information;
    switch (kind) {
        case app::MessageBoxKind::Information:
            icon = QMessageBox::Information;
            break;
        case app::MessageBoxKind::Warning:
            icon = QMessageBox::Warning;
            break;
        case app::MessageBoxKind::Error:
            icon = QMessageBox::Critical;
            break;
    }
    QMessageBox box(icon, QApplication::applicationDisplayName(), text, QMessageBox::Ok, parent);
    box.exec();
}

}  // namespace vantor::ui
