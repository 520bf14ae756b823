// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vantor::app {

// The longest detail kept, in bytes, "..." included.
inline constexpr std::size_t kDetailMaxBytes = 1024;
// The longest line the system log, the console or a box takes, in bytes:
// room for a catalogue text, a whole detail and what frames them.
inline constexpr std::size_t kLineMaxBytes = 4 * kDetailMaxBytes;

// A text as it may be stored, shown, logged and sent: servers, records and
// settings put what they like into it. Every control character (C0, DEL and
// C1) becomes a blank, so that no escape sequence, bell or bare CR reaches a
// terminal or fakes a line of a log; a longer text is cut to maxBytes,
// ending in "...", never inside a UTF-8 sequence.
std::string OneLine(std::string_view text, std::size_t maxBytes);

// A detail text: OneLine within kDetailMaxBytes.
inline std::string DetailText(std::string_view text) {
    return OneLine(text, kDetailMaxBytes);
}

}  // namespace vantor::app
