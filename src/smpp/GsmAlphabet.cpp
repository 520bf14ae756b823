// SPDX-License-Identifier: GPL-3.0-or-later
#include "smpp/GsmAlphabet.h"

#include <array>
#include <unordered_map>

namespace vantor::smpp {

namespace {

// The default alphabet; 0x1B (the escape to the extension table) is kept
// as a blank.
constexpr std::array<char16_t, 128> kDefault = {
    u'@',      u'\u00A3', u'$',      u'\u00A5', u'\u00E8', u'\u00E9', u'\u00F9', u'\u00EC',
    u'\u00F2', u'\u00C7', u'\n',     u'\u00D8', u'\u00F8', u'\r',     u'\u00C5', u'\u00E5',
    u'\u0394', u'_',      u'\u03A6', u'\u0393', u'\u039B', u'\u03A9', u'\u03A0', u'\u03A8',
    u'\u03A3', u'\u0398', u'\u039E', u' ',      u'\u00C6', u'\u00E6', u'\u00DF', u'\u00C9',
    u' ',      u'!',      u'"',      u'#',      u'\u00A4', u'%',      u'&',      u'\'',
    u'(',      u')',      u'*',      u'+',      u',',      u'-',      u'.',      u'/',
    u'0',      u'1',      u'2',      u'3',      u'4',      u'5',      u'6',      u'7',
    u'8',      u'9',      u':',      u';',      u'<',      u'=',      u'>',      u'?',
    u'\u00A1', u'A',      u'B',      u'C',      u'D',      u'E',      u'F',      u'G',
    u'H',      u'I',      u'J',      u'K',      u'L',      u'M',      u'N',      u'O',
    u'P',      u'Q',      u'R',      u'S',      u'T',      u'U',      u'V',      u'W',
    u'X',      u'Y',      u'Z',      u'\u00C4', u'\u00D6', u'\u00D1', u'\u00DC', u'\u00A7',
    u'\u00BF', u'a',      u'b',      u'c',      u'd',      u'e',      u'f',      u'g',
    u'h',      u'i',      u'j',      u'k',      u'l',      u'm',      u'n',      u'o',
    u'p',      u'q',      u'r',      u's',      u't',      u'u',      u'v',      u'w',
    u'x',      u'y',      u'z',      u'\u00E4', u'\u00F6', u'\u00F1', u'\u00FC', u'\u00E0',
};

std::array<char16_t, 128> MakeExtension() {
    std::array<char16_t, 128> table{};
    table.fill(u' ');
    table[0x14] = u'^';
    table[0x28] = u'{';
    table[0x29] = u'}';
    table[0x2F] = u'\\';
    table[0x3C] = u'[';
    table[0x3D] = u'~';
    table[0x3E] = u']';
    table[0x65] = u'\u20AC';
    return table;
}

const std::array<char16_t, 128>& Extension() {
    static const std::array<char16_t, 128> table = MakeExtension();
    return table;
}

// Character to code; filled in rising code order, so the highest code of a
// character that stands twice wins.
std::unordered_map<char16_t, std::uint8_t> Reverse(const std::array<char16_t, 128>& table) {
    std::unordered_map<char16_t, std::uint8_t> map;
    for (std::size_t code = 0; code < table.size(); ++code) {
        map[table[code]] = static_cast<std::uint8_t>(code);
    }
    return map;
}

}  // namespace

char16_t GsmAlphabet::DefaultChar(std::uint8_t code) {
    return kDefault[code & 0x7F];
}
char16_t GsmAlphabet::ExtensionChar(std::uint8_t code) {
    return Extension()[code & 0x7F];
}

std::vector<std::uint8_t> GsmAlphabet::Encode(std::string_view utf8) {
    static const auto defaultCodes = Reverse(kDefault);
    static const auto extensionCodes = [] {
        auto map = Reverse(Extension());
        map.erase(u' ');
        return map;
    }();
    std::vector<std::uint8_t> out;
    for (char16_t c : Utf8ToUtf16(utf8)) {
        if (c == u' ') {
            out.push_back(0x20);
        } else if (auto d = defaultCodes.find(c); d != defaultCodes.end()) {
            out.push_back(d->second);
        } else if (auto e = extensionCodes.find(c); e != extensionCodes.end()) {
            out.push_back(0x1B);
            out.push_back(e->second);
        } else {
            out.push_back(0x20);
        }
    }
    return out;
}

std::vector<std::uint8_t> GsmAlphabet::Pack(const std::vector<std::uint8_t>& codes, int fillBits) {
    std::vector<std::uint8_t> out;
    unsigned bits = 0;
    int count = fillBits;
    for (std::uint8_t code : codes) {
        bits |= static_cast<unsigned>(code & 0x7F) << count;
        count += 7;
        while (count >= 8) {
            out.push_back(static_cast<std::uint8_t>(bits & 0xFF));
            bits >>= 8;
            count -= 8;
        }
    }
    if (count > 0) {
        out.push_back(static_cast<std::uint8_t>(bits & 0xFF));
    }
    return out;
}

std::u16string Utf8ToUtf16(std::string_view s) {
    std::u16string out;
    std::size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        char32_t cp = 0xFFFD;
        std::size_t len = 1;
        if (b < 0x80) {
            cp = b;
        } else if ((b & 0xE0) == 0xC0) {
            len = 2;
        } else if ((b & 0xF0) == 0xE0) {
            len = 3;
        } else if ((b & 0xF8) == 0xF0) {
            len = 4;
        }
        if (len > 1) {
            if (i + len > s.size()) {
                len = 1;
            } else {
                cp = len == 2 ? b & 0x1F : len == 3 ? b & 0x0F : b & 0x07;
                for (std::size_t k = 1; k < len; ++k) {
                    const auto c = static_cast<unsigned char>(s[i + k]);
                    if ((c & 0xC0) != 0x80) {
                        cp = 0xFFFD;
                        len = 1;
                        break;
                    }
                    cp = (cp << 6) | (c & 0x3F);
                }
            }
        }
        i += len;
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else if (cp > 0x10FFFF) {
            out.push_back(u'\uFFFD');
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        char32_t cp = s[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

}  // namespace vantor::smpp
