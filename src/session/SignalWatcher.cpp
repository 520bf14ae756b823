// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/SignalWatcher.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace vantor::session {

namespace {

sigset_t WatchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

}  // namespace

void SignalWatcher::BlockSignals() {
    const sigset_t set = WatchedSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

SignalWatcher::SignalWatcher(Handler handler) : m_handler(std::move(handler)) {
    const sigset_t set = WatchedSignals();
    m_signals = ::signalfd(-1, &set, SFD_CLOEXEC);
    m_wake = ::eventfd(0, EFD_CLOEXEC);
    if (m_signals < 0 || m_wake < 0) {
        const int error = errno;
        if (m_signals >= 0) {
            ::close(m_signals);
        }
        if (m_wake >= 0) {
            ::close(m_wake);
        }
        throw std::system_error(error, std::generic_category(), "signal watcher");
    }
    m_thread = std::thread([this] { watch(); });
}

SignalWatcher::~SignalWatcher() {
    const std::uint64_t one = 1;
    // Ends the watch at once rather than at its next look.
    [[maybe_unused]] const ssize_t written = ::write(m_wake, &one, sizeof one);
    m_thread.join();
    ::close(m_signals);
    ::close(m_wake);
}

void SignalWatcher::watch() {
    for (;;) {
        pollfd fds[2] = {{m_signals, POLLIN, 0}, {m_wake, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        signalfd_siginfo info{};
        if (::read(m_signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            m_handler(static_cast<int>(info.ssi_signo));
        }
    }
}

}  // namespace vantor::session
