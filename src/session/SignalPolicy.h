// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include "session/SignalWatcher.h"

namespace vantor::app {
class Poster;
}

namespace vantor::session {

class Session;

// What SIGTERM, SIGINT and SIGHUP do, the same for every front end. Until
// the front end is up a stop signal (SIGTERM, SIGINT) ends the program at
// once: nothing runs yet and every file is replaced whole. Once it is up,
// the first stop signal closes the front end as its own close does, a
// further one cuts short the wait for running checks (Session::hurry), and
// SIGHUP takes service.xml and SysInit.ini in (Session::reload) until the
// first stop signal.
//
// The signals are blocked in the constructing thread and read by one
// watcher thread: construct this before any other thread starts.
class SignalPolicy final {
public:
    // startUpExit: the exit code of a stop signal during start-up.
    explicit SignalPolicy(int startUpExit);
    ~SignalPolicy();
    SignalPolicy(const SignalPolicy&) = delete;
    SignalPolicy& operator=(const SignalPolicy&) = delete;

    // From now on signals act on this front end. close and the reload are
    // posted to the owner thread; the hurry is made on the watcher's.
    void frontEndUp(app::Poster& owner, Session& session, std::function<void()> close);
    // Signals change nothing any more; the front end may go.
    void frontEndDown();
    // The front end is done and its files are written: a stop signal ends
    // the program at once, with this exit code (while boxes are still read).
    void endAtOnce(int exitCode);
    // Whether a stop signal came (the front end's close was then asked for
    // by one, not by the operator).
    bool stopSignalled() const;

private:
    void onSignal(int signal);

    enum class Stage { StartingUp, Up, Down, Ending };

    const int m_startUpExit;
    int m_endExit = 0;
    mutable std::mutex m_mutex;
    Stage m_stage = Stage::StartingUp;
    int m_stops = 0;
    app::Poster* m_owner = nullptr;
    Session* m_session = nullptr;
    std::function<void()> m_close;
    // Last: its thread ends before the state it reads goes.
    std::unique_ptr<SignalWatcher> m_watcher;
};

}  // namespace vantor::session
