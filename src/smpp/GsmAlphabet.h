// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantor::smpp {

// The GSM 03.38 default alphabet and its extension table.
class GsmAlphabet final {
public:
    // Codes of a text (UTF-8) in the default alphabet, one per character: a
    // character of the extension table gives 0x1B and its code; a blank is
    // 0x20; anything else becomes a blank. Where a character stands twice in
    // a table, the higher code wins.
    static std::vector<std::uint8_t> Encode(std::string_view utf8);
    // The character (UTF-16) of a default-alphabet code.
    static char16_t DefaultChar(std::uint8_t code);
    static char16_t ExtensionChar(std::uint8_t code);
    // Packs 7-bit codes into septets, least significant bits first, after
    // `fillBits` zero bits (for a user data header in front).
    static std::vector<std::uint8_t> Pack(const std::vector<std::uint8_t>& codes, int fillBits = 0);
};

// UTF-8 to UTF-16 code units (an invalid byte gives U+FFFD) and back.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

}  // namespace vantor::smpp
