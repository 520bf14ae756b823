// SPDX-License-Identifier: GPL-3.0-or-later
// What the file-reading fuzz targets share: a broken rule aborts (so the
// fuzzer keeps the input), and a private directory for the files they write.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#define FUZZ_CHECK(cond)                                                                 \
    do {                                                                                 \
        if (!(cond)) {                                                                   \
            std::fprintf(stderr, "%s:%d: rule broken: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                \
        }                                                                                \
    } while (0)

namespace vantor::fuzz {

// One directory per process (libFuzzer's -jobs run several side by side),
// removed when the process ends normally.
class ProcessTempDir final {
public:
    ProcessTempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/vantor-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        m_path = pattern;
    }
    ~ProcessTempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    ProcessTempDir(const ProcessTempDir&) = delete;
    ProcessTempDir& operator=(const ProcessTempDir&) = delete;

    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

inline const ProcessTempDir& TempDir() {
    static ProcessTempDir dir;
    return dir;
}

inline void WriteBytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    FUZZ_CHECK(out.good());
}

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace vantor::fuzz
