// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/AtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace vantor::app {

std::string SystemErrorText(std::string_view what, const std::string& path, int err) {
    std::string text(what);
    text += ' ';
    text += path;
    text += ": ";
    text += std::strerror(err);
    return text;
}

namespace {

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    if (slash == 0) {
        return "/";
    }
    return path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::optional<FileStamp> StampOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return FileStamp{
        st.st_dev, st.st_ino, st.st_size,
        static_cast<long long>(st.st_mtim.tv_sec) * 1'000'000'000LL + st.st_mtim.tv_nsec};
}

Expected<std::string> FileBehind(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) {
            return path;  // a new file
        }
        return Error{SystemErrorText("Cannot read", path, errno)};
    }
    if (!S_ISLNK(st.st_mode)) {
        return path;
    }
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr) {
        return Error{SystemErrorText("Cannot follow the link", path, errno)};
    }
    std::string target(real);
    std::free(real);
    return target;
}

namespace {

// The data in a new temporary file beside `path`, written and flushed: its
// name.
Expected<std::string> WriteTemporary(const std::string& path, const ContentWriter& write,
                                     mode_t mode) {
    std::string tmpl = DirectoryOf(path) + "/." + BaseNameOf(path) + ".tmp-XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0) {
        return Error{SystemErrorText("Cannot create a temporary file for", path, errno)};
    }
    const std::string tmpPath(name.data());
    auto fail = [&](std::string_view what) {
        const int err = errno;
        ::close(fd);
        ::unlink(tmpPath.c_str());
        return Error{SystemErrorText(what, path, err)};
    };
    if (::fchmod(fd, mode) != 0) {
        return fail("Cannot set the permissions of");
    }
    errno = 0;
    if (!write(fd)) {
        if (errno == 0) {
            errno = EIO;
        }
        return fail("Cannot write");
    }
    if (::fsync(fd) != 0) {
        return fail("Cannot flush");
    }
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(tmpPath.c_str());
        return Error{SystemErrorText("Cannot write", path, err)};
    }
    return tmpPath;
}

Status RenameOver(const std::string& tmpPath, const std::string& path) {
    if (::rename(tmpPath.c_str(), path.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmpPath.c_str());
        return Error{SystemErrorText("Cannot replace", path, err)};
    }
    return {};
}

// Makes a rename durable; a failure here leaves a complete file either way,
// so it is not reported.
void SyncDirectory(const std::string& path) {
    const int dirFd = ::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

}  // namespace

Status WriteFileAtomically(const std::string& linkOrPath, std::string_view data, mode_t mode) {
    // No version to keep: the temporary file is renamed over whatever is there.
    const Expected<std::optional<FileStamp>> written =
        ReplaceKnownFile(linkOrPath, data, std::nullopt, mode);
    return written ? Status{} : Error{written.error()};
}

Expected<std::optional<FileStamp>> ReplaceKnownFile(const std::string& linkOrPath,
                                                    std::string_view data,
                                                    const std::optional<FileStamp>& known,
                                                    mode_t mode) {
    return ReplaceKnownFile(
        linkOrPath, [data](int fd) { return WriteAll(fd, data); }, known, mode);
}

Expected<std::optional<FileStamp>> ReplaceKnownFile(const std::string& linkOrPath,
                                                    const ContentWriter& write,
                                                    const std::optional<FileStamp>& known,
                                                    mode_t mode) {
    const Expected<std::string> behind = FileBehind(linkOrPath);
    if (!behind) {
        return Error{behind.error()};
    }
    const std::string& path = behind.value();
    const Expected<std::string> tmp = WriteTemporary(path, write, mode);
    if (!tmp) {
        return Error{tmp.error()};
    }
    const auto exchange = [&] {
        return ::renameat2(AT_FDCWD, tmp->c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) == 0;
    };
    // Ours as it will be known in the file's place (a rename keeps it).
    const std::optional<FileStamp> ours = StampOf(*tmp);
    // The last look before ours takes the file's place.
    if (known && StampOf(path) != known) {
        ::unlink(tmp->c_str());
        return std::optional<FileStamp>();
    }
    if (known && exchange()) {
        // The version replaced now bears the temporary name. Another one than
        // the known that came in the moment since the look goes back.
        if (StampOf(*tmp) != known) {
            exchange();
            // What came back is ours, unless a newer one of theirs came too.
            if (StampOf(*tmp) != ours) {
                exchange();
            }
            ::unlink(tmp->c_str());
            SyncDirectory(path);
            return std::optional<FileStamp>();
        }
        ::unlink(tmp->c_str());
        SyncDirectory(path);
        return ours;
    }
    // No version known, or a file system that cannot exchange two files.
    if (Status renamed = RenameOver(*tmp, path); !renamed) {
        return Error{renamed.error()};
    }
    SyncDirectory(path);
    return ours;
}

int RemoveStaleTemporaries(const std::string& linkOrPath) {
    const Expected<std::string> behind = FileBehind(linkOrPath);
    if (!behind) {
        return 0;
    }
    const std::string dir = DirectoryOf(*behind);
    // The name mkstemp made of ours: ".<name>.tmp-" and six characters.
    const std::string prefix = "." + BaseNameOf(*behind) + ".tmp-";
    DIR* listing = ::opendir(dir.c_str());
    if (listing == nullptr) {
        return 0;
    }
    int removed = 0;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string_view name = entry->d_name;
        if (name.size() != prefix.size() + 6 || name.substr(0, prefix.size()) != prefix) {
            continue;
        }
        const std::string path = dir + "/" + std::string(name);
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
            ::unlink(path.c_str()) == 0) {
            ++removed;
        }
    }
    ::closedir(listing);
    return removed;
}

Expected<std::string> ReadWholeFile(const std::string& path) {
    // Without O_NONBLOCK a pipe would hold the open until someone writes.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return Error{SystemErrorText("Cannot open", path, errno)};
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return Error{path + " is not a regular file"};
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::string data;
    // Its size as it is now, so that a large file is not copied as it grows.
    data.reserve(static_cast<std::size_t>(st.st_size) + 1);
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int err = errno;
            ::close(fd);
            return Error{SystemErrorText("Cannot read", path, err)};
        }
        if (n == 0) {
            break;
        }
        data.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return data;
}

}  // namespace vantor::app
