// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <variant>

namespace vantor::app {

// One running instance per user and per application directory: exclusive
// locks on "Vantor Lite.lock" in $XDG_RUNTIME_DIR (without one, in a
// directory of this user's own under ${TMPDIR:-/tmp}, unless another user
// took its name first) and on "Vantor Lite.lock" in the conf directory,
// held for the life of the object.
class SingleInstance final {
public:
    // Why no instance could be had.
    struct Refused {
        // Another instance holds one of the locks.
        bool alreadyRunning = false;
        // Otherwise: what went wrong, naming the file.
        std::string error;
    };

    static std::variant<SingleInstance, Refused> acquire(const std::string& confDir);
    // The per-user lock file.
    static std::string lockFilePath();

    SingleInstance(SingleInstance&& other) noexcept;
    SingleInstance& operator=(SingleInstance&&) = delete;
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;
    ~SingleInstance();

private:
    SingleInstance(int userFd, int dirFd) : m_userFd(userFd), m_dirFd(dirFd) {}
    int m_userFd = -1;
    int m_dirFd = -1;
};

}  // namespace vantor::app
