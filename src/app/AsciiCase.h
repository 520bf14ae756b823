// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Comparisons that ignore the case of ASCII letters, as protocols and file
// formats name things (URL schemes, encodings, INI sections and keys); other
// bytes compare as they are, whatever the locale.
#include <cstddef>
#include <string_view>

namespace vantor::app {

inline char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

// Whether text starts with prefix, in any case.
inline bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace vantor::app
