// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLabel>

namespace vantor::ui {

// A one-line label for a value of the operator's (a URL, a host): however
// long the value, it never widens its window. It takes the width its
// layout gives it and shows the value elided in the middle there.
class ElidedLabel final : public QLabel {
public:
    using QLabel::QLabel;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace vantor::ui
