// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/DetailText.h"

#include <algorithm>

namespace vantor::app {

namespace {

bool IsContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

}  // namespace

std::string OneLine(std::string_view text, std::size_t maxBytes) {
    std::string out;
    out.reserve(std::min(text.size(), maxBytes + 1));
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            out += ' ';
        } else if (c == 0xC2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            out += ' ';  // U+0080..U+009F: C1 controls such as CSI
            ++i;
        } else {
            out += static_cast<char>(c);
        }
        if (out.size() > maxBytes) {
            break;
        }
    }
    if (out.size() <= maxBytes) {
        return out;
    }
    static constexpr std::string_view kEllipsis = "...";
    std::size_t cut = maxBytes - kEllipsis.size();
    // Back to the start of the sequence the cut falls into (at most three
    // continuation bytes belong to one character).
    for (int n = 0; n < 3 && cut > 0 && IsContinuation(static_cast<unsigned char>(out[cut])); ++n) {
        --cut;
    }
    out.resize(cut);
    out += kEllipsis;
    return out;
}

}  // namespace vantor::app
