#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

#include "app/Result.h"

namespace vantor::app {

// Replaces the file at `path` with `data` so that readers and a crash see
// either the old contents or the new, never a mix or a truncated file: the
// data goes to a temporary file in the same directory, is flushed to disk and
// renamed over the old file. The new file gets `mode` (owner only by default).
// A symbolic link is followed and kept: the file it points to is replaced,
// in that file's directory; a link that points nowhere is an error.
Status WriteFileAtomically(const std::string& path, std::string_view data, mode_t mode = 0600);

// The file that writes to `path` replace: the path itself, or for a
// symbolic link the file it points to.
Expected<std::string> FileBehind(const std::string& path);

// Writes all of data to fd, resuming after interrupted or partial writes;
// false with errno set on failure.
bool WriteAll(int fd, std::string_view data);

// Reads a whole regular file (a pipe or a device is refused at once). A
// missing file is an error whose text names ENOENT.
Expected<std::string> ReadWholeFile(const std::string& path);

// What tells one version of a file from another: a write (ours or an
// editor's) changes it. Links are followed.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    long long modifiedNs = 0;
    bool operator==(const FileStamp&) const = default;
};
// The stamp of the file now; nullopt when there is none.
std::optional<FileStamp> StampOf(const std::string& path);

// "<what> <path>: <strerror(err)>"
std::string SystemErrorText(std::string_view what, const std::string& path, int err);

}  // namespace vantor::app
