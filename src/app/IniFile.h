// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/Result.h"

namespace vantor::app {

// An INI document with private-profile semantics: section and key names
// match without regard to case, the first of two equal sections or keys wins,
// a missing section or key reads as the caller's default, and writes update
// a line where it stands (keeping its spelling), add a missing key at the end
// of its section and a missing section at the end of the file. Lines that are
// not understood are kept as they are.
class IniFile final {
public:
    IniFile() = default;

    // A missing file loads as an empty document; a file that exists but
    // cannot be read is an error.
    static Expected<IniFile> load(const std::string& path);
    static IniFile parse(std::string_view text);

    bool existed() const { return m_existed; }

    std::optional<std::string> value(std::string_view section, std::string_view key) const;
    std::string readString(std::string_view section, std::string_view key,
                           std::string_view defaultValue) const;
    // CR and LF cannot be stored in a line; they are written as blanks.
    void writeString(std::string_view section, std::string_view key, std::string_view value);

    std::string serialize() const;

private:
    struct SectionSpan {
        std::size_t header;  // index of the "[name]" line
        std::size_t end;     // one past the last line of the section
    };
    std::optional<SectionSpan> findSection(std::string_view section) const;

    std::vector<std::string> m_lines;
    std::string m_eol = "\n";
    bool m_existed = false;
};

// Integer rule of the settings file: optional sign and decimal digits, or
// hexadecimal after "0x" or "$"; anything else, or a value outside the 32-bit
// range, gives std::nullopt.
std::optional<int> ParseIniInteger(std::string_view text);

}  // namespace vantor::app
