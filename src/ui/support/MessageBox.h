#pragma once

#include <QString>
#include <functional>

#include "app/LogLevel.h"

class QWidget;

namespace vantor::ui {

// Every box the program shows goes through here, so that a test can take
// the boxes instead of a person: with a hook set, a box is handed to the
// hook and not shown.
class MessageBox final {
public:
    using Hook = std::function<void(app::MessageBoxKind kind, const QString& text)>;

    // A modal box with one OK button, titled with the application's name.
    static void show(QWidget* parent, app::MessageBoxKind kind, const QString& text);
    static void setHook(Hook hook);
};

}  // namespace vantor::ui
