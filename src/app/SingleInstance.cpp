// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "app/AtomicFile.h"

namespace vantor::app {

namespace {

constexpr const char* kLockName = "Vantor Lite.lock";

// Without a runtime directory the lock lives in a directory of this user's
// own, which no other user can make, replace or write into first.
std::string FallbackDir() {
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/vantor-lite-" +
           std::to_string(::getuid());
}

// Makes the fallback directory, or checks the one that is there. taken: the
// name is held by something this user did not make (another user's
// directory, a link); the program then goes without the per-user lock, as
// the lock in conf/ still guards the application directory's files.
std::string PrepareFallbackDir(bool& taken) {
    taken = false;
    const std::string dir = FallbackDir();
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        return SystemErrorText("Cannot make the lock directory", dir, errno);
    }
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0) {
        return SystemErrorText("Cannot read the lock directory", dir, errno);
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) {
        taken = true;
        return {};
    }
    if ((st.st_mode & 077) != 0) {
        return "The lock directory " + dir +
               " is not a directory of this user's own that only this user can enter";
    }
    return {};
}

// Opens and locks one lock file: its descriptor, or -1 with `refused` set.
int Lock(const std::string& path, SingleInstance::Refused& refused) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        refused.error = SystemErrorText("Cannot open the lock file", path, errno);
        return -1;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        refused.alreadyRunning = err == EWOULDBLOCK;
        refused.error = SystemErrorText("Cannot lock", path, err);
        return -1;
    }
    return fd;
}

}  // namespace

std::string SingleInstance::lockFilePath() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime) {
        return std::string(runtime) + "/" + kLockName;
    }
    return FallbackDir() + "/" + kLockName;
}

std::variant<SingleInstance, SingleInstance::Refused> SingleInstance::acquire(
    const std::string& confDir) {
    Refused refused;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    bool taken = false;
    if (runtime == nullptr || *runtime == '\0') {
        refused.error = PrepareFallbackDir(taken);
        if (!refused.error.empty()) {
            return refused;
        }
    }
    const int userFd = taken ? -1 : Lock(lockFilePath(), refused);
    if (userFd < 0 && !taken) {
        return refused;
    }
    // A second instance of another user, or with another runtime directory,
    // would still share the application directory's files.
    std::string dirLock = confDir;
    if (!dirLock.empty() && dirLock.back() != '/') {
        dirLock += '/';
    }
    const int dirFd = Lock(dirLock + kLockName, refused);
    if (dirFd < 0) {
        if (userFd >= 0) {
            ::close(userFd);
        }
        return refused;
    }
    return SingleInstance(userFd, dirFd);
}

SingleInstance::SingleInstance(SingleInstance&& other) noexcept
    : m_userFd(other.m_userFd), m_dirFd(other.m_dirFd) {
    other.m_userFd = -1;
    other.m_dirFd = -1;
}

SingleInstance::~SingleInstance() {
    for (const int fd : {m_userFd, m_dirFd}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

}  // namespace vantor::app
