// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/IniFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>

#include "app/AsciiCase.h"
#include "app/AtomicFile.h"

namespace vantor::app {

namespace {

std::string_view Trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = s.find_last_not_of(" \t");
    return s.substr(first, last - first + 1);
}

// The name of a "[name]" line, or nullopt for any other line.
std::optional<std::string_view> SectionName(std::string_view line) {
    const std::string_view t = Trim(line);
    if (t.empty() || t.front() != '[') {
        return std::nullopt;
    }
    const auto close = t.find(']');
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    return Trim(t.substr(1, close - 1));
}

bool IsComment(std::string_view line) {
    const std::string_view t = Trim(line);
    return !t.empty() && (t.front() == ';' || t.front() == '#');
}

struct KeyValue {
    std::string_view key;
    std::string_view value;
};

std::optional<KeyValue> SplitKeyValue(std::string_view line) {
    if (IsComment(line)) {
        return std::nullopt;
    }
    const auto eq = line.find('=');
    if (eq == std::string_view::npos) {
        return std::nullopt;
    }
    return KeyValue{Trim(line.substr(0, eq)), Trim(line.substr(eq + 1))};
}

std::string Sanitize(std::string_view value) {
    std::string out(value);
    for (char& c : out) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    return out;
}

}  // namespace

Expected<IniFile> IniFile::load(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
        return IniFile{};
    }
    Expected<std::string> text = ReadWholeFile(path);
    if (!text) {
        return Error{text.error()};
    }
    IniFile ini = parse(*text);
    ini.m_existed = true;
    return ini;
}

IniFile IniFile::parse(std::string_view text) {
    IniFile ini;
    // Lines end in LF, CR LF or CR alone (old Mac editors); the file keeps
    // the kind its first line end has.
    const auto firstEnd = text.find_first_of("\r\n");
    if (firstEnd != std::string_view::npos && text[firstEnd] == '\r') {
        ini.m_eol = firstEnd + 1 < text.size() && text[firstEnd + 1] == '\n' ? "\r\n" : "\r";
    }
    // Skip a UTF-8 byte order mark written by some editors.
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find_first_of("\r\n", start);
        ini.m_lines.emplace_back(text.substr(
            start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n') {
            ++start;  // CR LF is one line end
        }
    }
    return ini;
}

std::optional<IniFile::SectionSpan> IniFile::findSection(std::string_view section) const {
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        const auto name = SectionName(m_lines[i]);
        if (name && EqualsNoCase(*name, section)) {
            std::size_t end = i + 1;
            while (end < m_lines.size() && !SectionName(m_lines[end])) {
                ++end;
            }
            return SectionSpan{i, end};
        }
    }
    return std::nullopt;
}

std::optional<std::string> IniFile::value(std::string_view section, std::string_view key) const {
    const auto span = findSection(section);
    if (!span) {
        return std::nullopt;
    }
    for (std::size_t i = span->header + 1; i < span->end; ++i) {
        const auto kv = SplitKeyValue(m_lines[i]);
        if (kv && EqualsNoCase(kv->key, key)) {
            return std::string(kv->value);
        }
    }
    return std::nullopt;
}

std::string IniFile::readString(std::string_view section, std::string_view key,
                                std::string_view defaultValue) const {
    auto v = value(section, key);
    return v ? std::move(*v) : std::string(defaultValue);
}

void IniFile::writeString(std::string_view section, std::string_view key, std::string_view value) {
    const std::string clean = Sanitize(value);
    const auto span = findSection(section);
    if (!span) {
        if (!m_lines.empty() && !Trim(m_lines.back()).empty()) {
            m_lines.emplace_back();
        }
        std::string header = "[";
        header += section;
        header += ']';
        m_lines.push_back(std::move(header));
        m_lines.push_back(std::string(key) + "=" + clean);
        return;
    }
    std::size_t lastContent = span->header;
    for (std::size_t i = span->header + 1; i < span->end; ++i) {
        const auto kv = SplitKeyValue(m_lines[i]);
        if (kv && EqualsNoCase(kv->key, key)) {
            m_lines[i] = std::string(kv->key) + "=" + clean;
            return;
        }
        if (!Trim(m_lines[i]).empty()) {
            lastContent = i;
        }
    }
    m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(lastContent + 1),
                   std::string(key) + "=" + clean);
}

std::string IniFile::serialize() const {
    std::string out;
    for (const auto& line : m_lines) {
        out += line;
        out += m_eol;
    }
    return out;
}

std::optional<int> ParseIniInteger(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    bool negative = false;
    if (text.front() == '+' || text.front() == '-') {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    } else if (!text.empty() && text.front() == '$') {
        base = 16;
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    long long magnitude = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return std::nullopt;
        }
        magnitude = magnitude * base + digit;
        if (magnitude > static_cast<long long>(INT_MAX) + 1) {
            return std::nullopt;
        }
    }
    const long long v = negative ? -magnitude : magnitude;
    if (v < INT_MIN || v > INT_MAX) {
        return std::nullopt;
    }
    return static_cast<int>(v);
}

}  // namespace vantor::app
