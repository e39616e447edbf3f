// Texts for people are written in UTF-8 in the source and become CP1250 at
// compile time: PL("Proszę czekać...") is a const char* to CP1250 bytes.
// Only ASCII, the 18 Polish letters and the en dash are accepted; any other
// character stops the build.
#pragma once

#include <cstddef>
#include <string>

namespace orv::cp1250_detail {

template <size_t N>
struct Utf8Text {
    char chars[N]{};
    consteval Utf8Text(const char (&s)[N]) {
        for (size_t i = 0; i < N; ++i) chars[i] = s[i];
    }
};

consteval unsigned char MapCodePoint(unsigned cp) {
    if (cp < 0x80) return static_cast<unsigned char>(cp);
    switch (cp) {
    case 0x0104: return 0xA5; case 0x0106: return 0xC6; case 0x0118: return 0xCA;
    case 0x0141: return 0xA3; case 0x0143: return 0xD1; case 0x00D3: return 0xD3;
    case 0x015A: return 0x8C; case 0x0179: return 0x8F; case 0x017B: return 0xAF;
    case 0x0105: return 0xB9; case 0x0107: return 0xE6; case 0x0119: return 0xEA;
    case 0x0142: return 0xB3; case 0x0144: return 0xF1; case 0x00F3: return 0xF3;
    case 0x015B: return 0x9C; case 0x017A: return 0x9F; case 0x017C: return 0xBF;
    case 0x2013: return 0x96;
    default: throw "character without a CP1250 mapping in a PL() text";
    }
}

template <size_t N>
struct Cp1250Text {
    char chars[N]{};
    size_t length = 0;
    consteval Cp1250Text(const Utf8Text<N>& u) {
        size_t i = 0;
        while (i + 1 < N && u.chars[i] != 0) {
            unsigned c = static_cast<unsigned char>(u.chars[i]);
            unsigned cp = 0;
            if (c < 0x80) { cp = c; i += 1; }
            else if ((c & 0xE0) == 0xC0) {
                cp = ((c & 0x1F) << 6) | (static_cast<unsigned char>(u.chars[i + 1]) & 0x3F);
                i += 2;
            } else if ((c & 0xF0) == 0xE0) {
                cp = ((c & 0x0F) << 12) | ((static_cast<unsigned char>(u.chars[i + 1]) & 0x3F) << 6) |
                     (static_cast<unsigned char>(u.chars[i + 2]) & 0x3F);
                i += 3;
            } else {
                throw "unsupported UTF-8 sequence in a PL() text";
            }
            chars[length++] = static_cast<char>(MapCodePoint(cp));
        }
        chars[length] = 0;
    }
};

template <Utf8Text S>
struct Holder {
    static constexpr Cp1250Text<sizeof(S.chars)> value{S};
};

}  // namespace orv::cp1250_detail

#define PL(s) (::orv::cp1250_detail::Holder<::orv::cp1250_detail::Utf8Text(s)>::value.chars)
