// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMenu>

namespace vantor::ui {

// The tray's pop-up menu: items drawn from 25 pixels in, and an orange band
// down the left edge with the maker's web address written upwards.
class TrayMenu final : public QMenu {
public:
    explicit TrayMenu(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace vantor::ui
