// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <poll.h>

#include <cerrno>
#include <chrono>

namespace vantor::net {

// The moment by which a whole exchange must be over; every wait on the
// network takes what is left of it.
using Deadline = std::chrono::steady_clock::time_point;

// Milliseconds from now until the deadline, at least 0.
inline int MillisecondsLeft(Deadline deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
        return 0;
    }
    return left.count() > 0x7fffffff ? 0x7fffffff : static_cast<int>(left.count());
}

inline Deadline DeadlineAfter(int milliseconds) {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
}

// Waits for `events` on the socket until the deadline: 1 ready, 0 timed
// out, -1 error (errno set).
inline int WaitFor(int fd, short events, Deadline deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        const int rc = ::poll(&p, 1, MillisecondsLeft(deadline));
        if (rc < 0 && errno == EINTR) {
            continue;
        }
        return rc;
    }
}

}  // namespace vantor::net
