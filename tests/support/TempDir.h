// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

namespace vantor::test {

// A fresh directory under $TMPDIR (or /tmp), removed with its contents when
// the object goes.
class TempDir final {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& data);
// The whole of data at path in one step, as an editor that saves by rename
// does: a reader never sees the file empty or in part.
void ReplaceFile(const std::string& path, const std::string& data);
bool FileExists(const std::string& path);
// Names in a directory, without "." and "..", sorted.
std::vector<std::string> ListDir(const std::string& path);

}  // namespace vantor::test
