#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vantor::app {

// The longest detail kept, in bytes, "..." included.
inline constexpr std::size_t kDetailMaxBytes = 1024;

// A detail text as it may be stored, shown, logged and sent: servers put
// what they like into it. Every control character (C0, DEL and C1) becomes
// a blank, so that no escape sequence, bell or bare CR reaches a terminal or
// fakes a line of a log; a longer text is cut to kDetailMaxBytes, ending in
// "...", never inside a UTF-8 sequence.
std::string DetailText(std::string_view text);

}  // namespace vantor::app
