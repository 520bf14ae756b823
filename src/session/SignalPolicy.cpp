// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/SignalPolicy.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>

#include "app/Poster.h"
#include "session/Session.h"

namespace vantor::session {

SignalPolicy::SignalPolicy(int startUpExit) : m_startUpExit(startUpExit) {
    SignalWatcher::BlockSignals();
    m_watcher = std::make_unique<SignalWatcher>([this](int signal) { onSignal(signal); });
}

SignalPolicy::~SignalPolicy() {
    m_watcher.reset();
}

void SignalPolicy::frontEndUp(app::Poster& owner, Session& session, std::function<void()> close) {
    std::lock_guard lock(m_mutex);
    m_owner = &owner;
    m_session = &session;
    m_close = std::move(close);
    m_stage = Stage::Up;
}

void SignalPolicy::frontEndDown() {
    std::lock_guard lock(m_mutex);
    m_stage = Stage::Down;
    m_owner = nullptr;
    m_session = nullptr;
    m_close = nullptr;
}

void SignalPolicy::endAtOnce(int exitCode) {
    std::lock_guard lock(m_mutex);
    m_stage = Stage::Ending;
    m_endExit = exitCode;
    m_owner = nullptr;
    m_session = nullptr;
    m_close = nullptr;
}

bool SignalPolicy::stopSignalled() const {
    std::lock_guard lock(m_mutex);
    return m_stops > 0;
}

void SignalPolicy::onSignal(int signal) {
    std::lock_guard lock(m_mutex);
    const bool stop = signal != SIGHUP;
    if (m_stage == Stage::Ending) {
        if (stop) {
            std::_Exit(m_endExit);
        }
        return;
    }
    if (m_stage == Stage::StartingUp) {
        if (stop) {
            static constexpr char kText[] = "vantor-lite: stopped by a signal during start-up\n";
            [[maybe_unused]] const ssize_t written =
                ::write(STDERR_FILENO, kText, sizeof kText - 1);
            std::_Exit(m_startUpExit);
        }
        return;
    }
    if (m_stage != Stage::Up) {
        return;
    }
    if (!stop) {
        // Once closing, the files are the shutdown's to write.
        if (m_stops == 0) {
            Session* session = m_session;
            m_owner->post([session] { session->guarded([session] { session->reload(); }); });
        }
        return;
    }
    if (++m_stops == 1) {
        m_owner->post(m_close);
    } else {
        m_session->hurry();
    }
}

}  // namespace vantor::session
