// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

namespace vantor::ui {

// Shown on top, in the middle of the screen, while the program waits for
// running checks before it ends.
class ClosingNotice final : public QWidget {
public:
    static constexpr const char* kText = "Application is closing, it may take a few seconds...";
    explicit ClosingNotice(QWidget* parent = nullptr);
};

}  // namespace vantor::ui
