// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/support/ElidedLabel.h"

#include <QPainter>
#include <algorithm>

namespace vantor::ui {

namespace {

// What a label asks for at most: enough for a host or a short URL.
constexpr int kHintCharacters = 40;

}  // namespace

QSize ElidedLabel::sizeHint() const {
    QSize hint = QLabel::sizeHint();
    hint.setWidth(std::min(hint.width(), fontMetrics().averageCharWidth() * kHintCharacters));
    return hint;
}

QSize ElidedLabel::minimumSizeHint() const {
    QSize hint = QLabel::minimumSizeHint();
    hint.setWidth(0);
    return hint;
}

void ElidedLabel::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    const QRect room = contentsRect();
    painter.drawText(room, static_cast<int>(alignment()) | Qt::TextSingleLine,
                     fontMetrics().elidedText(text(), Qt::ElideMiddle, room.width()));
}

}  // namespace vantor::ui
