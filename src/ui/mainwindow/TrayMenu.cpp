// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/mainwindow/TrayMenu.h"

#include <QPainter>

#include "ui/BuildConfig.h"

namespace vantor::ui {

namespace {

constexpr int kBandWidth = 20;

}  // namespace

TrayMenu::TrayMenu(QWidget* parent) : QMenu(parent) {
    setObjectName("PopupMenuWin");
    // Selected items on the system highlight, the others on the menu colour;
    // text single-line, from 25 pixels right of the item's left edge.
    setStyleSheet(QStringLiteral(
        "QMenu { background: palette(window); }"
        "QMenu::item { padding: 3px 16px 3px 25px; min-width: 125px; min-height: 14px; }"
        "QMenu::item:selected { background: palette(highlight); color: palette(highlighted-text); }"
        "QMenu::separator { height: 1px; background: palette(mid); margin: 3px 4px 3px 25px; }"));
}

void TrayMenu::paintEvent(QPaintEvent* event) {
    QMenu::paintEvent(event);
    QPainter painter(this);
    painter.fillRect(QRect(0, 0, kBandWidth, height()), QColor(255, 128, 0));
    QFont font(QStringLiteral("Tahoma"), 7);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    // Written upwards, from the bottom of the band.
    painter.translate(0, height());
    painter.rotate(-90);
    painter.drawText(QRect(4, 0, height() - 8, kBandWidth), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral(VANTOR_WEB_ADDRESS));
}

}  // namespace vantor::ui
