#include "app/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "app/AtomicFile.h"

namespace vantor::app {

std::string SingleInstance::lockFilePath() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime) {
        return std::string(runtime) + "/Vantor Lite.lock";
    }
    return "/tmp/Vantor Lite-" + std::to_string(::getuid()) + ".lock";
}

Expected<SingleInstance> SingleInstance::acquire() {
    const std::string path = lockFilePath();
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return Error{SystemErrorText("Cannot open the lock file", path, errno)};
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        return Error{SystemErrorText("Cannot lock", path, err)};
    }
    return SingleInstance(fd);
}

SingleInstance::SingleInstance(SingleInstance&& other) noexcept : m_fd(other.m_fd) {
    other.m_fd = -1;
}

SingleInstance::~SingleInstance() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

}  // namespace vantor::app
