// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <deque>

#include "app/LogLevel.h"

class QEventLoop;
class QMessageBox;

namespace vantor::ui {

// The boxes the core asks for, shown without an event loop of their own:
// one at a time, the next when the one shown is closed. A kind and text
// already showing or waiting make no other box; the first one counts them
// and says how many times it came. GUI thread only.
class BoxQueue final {
public:
    BoxQueue() = default;
    ~BoxQueue();
    BoxQueue(const BoxQueue&) = delete;
    BoxQueue& operator=(const BoxQueue&) = delete;

    // Returns at once. With MessageBox's hook set, the hook has had it.
    void show(app::MessageBoxKind kind, const QString& text);
    // Runs an event loop until every box has been closed, or until the
    // application is told to exit; for the end of the program, when no
    // other loop is left to answer them.
    void waitUntilClosed();

private:
    struct Box {
        app::MessageBoxKind kind;
        QString text;
        int times = 1;
    };
    static QString shownText(const Box& box);
    void showFirst();
    void closed(QObject* box);

    std::deque<Box> m_boxes;  // the first is the one shown
    QMessageBox* m_shown = nullptr;
    QEventLoop* m_waiting = nullptr;
    // The boxes' signals come through it and end with it.
    QObject m_context;
};

}  // namespace vantor::ui
