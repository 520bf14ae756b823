// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <thread>

namespace vantor::session {

// Reads SIGTERM, SIGINT and SIGHUP from a signalfd on a thread of its own
// and tells each one to its handler. The signals must be blocked in every
// thread (BlockSignals), or one that reaches another thread still ends the
// program.
class SignalWatcher final {
public:
    // Called on the watcher's thread.
    using Handler = std::function<void(int signal)>;

    // Blocks the three signals in the calling thread; threads started from
    // it afterwards inherit the block. Call before any thread starts.
    static void BlockSignals();

    explicit SignalWatcher(Handler handler);
    ~SignalWatcher();
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

private:
    void watch();

    Handler m_handler;
    int m_signals = -1;
    int m_wake = -1;
    std::thread m_thread;
};

}  // namespace vantor::session
