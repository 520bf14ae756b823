// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <functional>

#include "app/LogLevel.h"

class QMessageBox;
class QWidget;

namespace vantor::ui {

// Every box the program shows goes through here, so that a test can take
// the boxes instead of a person: with a hook set, a box is handed to the
// hook and not shown.
class MessageBox final {
public:
    using Hook = std::function<void(app::MessageBoxKind kind, const QString& text)>;

    // A modal box with one OK button, titled with the application's name;
    // returns when it is closed.
    static void show(QWidget* parent, app::MessageBoxKind kind, const QString& text);
    // The same box, not shown yet, for a caller that opens it and goes on.
    static QMessageBox* create(QWidget* parent, app::MessageBoxKind kind, const QString& text);
    // With a hook set, hands the box to it and says so.
    static bool passToHook(app::MessageBoxKind kind, const QString& text);
    static void setHook(Hook hook);
};

}  // namespace vantor::ui
