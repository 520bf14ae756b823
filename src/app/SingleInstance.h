#pragma once

#include <string>

#include "app/Result.h"

namespace vantor::app {

// One running instance per user: an exclusive lock on "Vantor Lite.lock" in
// $XDG_RUNTIME_DIR (or /tmp/Vantor Lite-<uid>.lock), held for the life of
// the object.
class SingleInstance final {
public:
    // Fails when another instance holds the lock or the lock file cannot be
    // opened.
    static Expected<SingleInstance> acquire();
    static std::string lockFilePath();

    SingleInstance(SingleInstance&& other) noexcept;
    SingleInstance& operator=(SingleInstance&&) = delete;
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;
    ~SingleInstance();

private:
    explicit SingleInstance(int fd) : m_fd(fd) {}
    int m_fd = -1;
};

}  // namespace vantor::app
