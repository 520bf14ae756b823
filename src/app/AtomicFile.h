// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>

#include <functional>
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

// Removes what a write of `path` that never ended (the program killed in
// it) left behind: our own temporary files beside the file. Only while no
// other writer of the file runs (after the single-instance lock). How many.
int RemoveStaleTemporaries(const std::string& path);

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

// WriteFileAtomically for a file that someone else may write too, and that
// the caller knows as `known` (nullopt: no version to keep). Ours takes the
// file's place only while the file is the known version; the stamp of ours
// in its place, or nullopt, with the file left as it is, when someone else
// wrote it meanwhile. The look comes just before ours takes the place, and
// the two files change places in one step, so that one that came in the
// moment between is put back at once.
Expected<std::optional<FileStamp>> ReplaceKnownFile(const std::string& path, std::string_view data,
                                                    const std::optional<FileStamp>& known,
                                                    mode_t mode = 0600);
// The same with the contents written by `write` straight into the temporary
// file (a large file need not be held in memory first). write returns false
// with errno set when it failed; it runs before the file is flushed.
using ContentWriter = std::function<bool(int fd)>;
Expected<std::optional<FileStamp>> ReplaceKnownFile(const std::string& path,
                                                    const ContentWriter& write,
                                                    const std::optional<FileStamp>& known,
                                                    mode_t mode = 0600);

// "<what> <path>: <strerror(err)>"
std::string SystemErrorText(std::string_view what, const std::string& path, int err);

}  // namespace vantor::app
