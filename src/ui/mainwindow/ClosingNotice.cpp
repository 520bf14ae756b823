// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/mainwindow/ClosingNotice.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

namespace vantor::ui {

ClosingNotice::ClosingNotice(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint |
                          Qt::CustomizeWindowHint) {
    setObjectName("FormClosing");
    setWindowTitle(QString::fromUtf8(kText));
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(QString::fromUtf8(kText), this);
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    layout->addWidget(label);
    layout->setContentsMargins(24, 18, 24, 18);
    adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->geometry().center() - rect().center());
    }
}

}  // namespace vantor::ui
