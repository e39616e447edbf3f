#include "util/cp1250_unicode.h"

#include <cstdint>

namespace {

// Code points of the bytes 0x80..0xFF; 0 where the page defines none.
constexpr uint16_t kHighHalf[128] = {
    0x20AC, 0x0000, 0x201A, 0x0000, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x0000, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179,  // 88
    0x0000, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0000, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A,  // 98
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7,  // A0
    0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,  // A8
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C,  // B8
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,  // C0
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,  // C8
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,  // D0
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,  // D8
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,  // E0
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,  // E8
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,  // F0
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,  // F8
};

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

char ToCp1250(uint32_t cp) {
    if (cp < 0x80) return static_cast<char>(cp);
    for (int i = 0; i < 128; ++i)
        if (kHighHalf[i] == cp) return static_cast<char>(0x80 + i);
    return '?';
}

}  // namespace

std::string Cp1250ToUtf8(const std::string& cp1250) {
    std::string out;
    out.reserve(cp1250.size() * 2);
    for (char ch : cp1250) {
        const auto b = static_cast<uint8_t>(ch);
        if (b < 0x80) {
            out += ch;
        } else {
            const uint16_t cp = kHighHalf[b - 0x80];
            AppendUtf8(out, cp != 0 ? cp : '?');
        }
    }
    return out;
}

std::string Utf8ToCp1250(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size());
    const size_t n = utf8.size();
    size_t i = 0;
    while (i < n) {
        const auto b = static_cast<uint8_t>(utf8[i]);
        if (b < 0x80) {
            out += static_cast<char>(b);
            ++i;
            continue;
        }
        size_t len = 0;
        uint32_t cp = 0;
        uint32_t least = 0;
        if ((b & 0xE0) == 0xC0) { len = 2; cp = b & 0x1F; least = 0x80; }
        else if ((b & 0xF0) == 0xE0) { len = 3; cp = b & 0x0F; least = 0x800; }
        else if ((b & 0xF8) == 0xF0) { len = 4; cp = b & 0x07; least = 0x10000; }
        bool ok = len != 0 && i + len <= n;
        for (size_t k = 1; ok && k < len; ++k) {
            const auto c = static_cast<uint8_t>(utf8[i + k]);
            if ((c & 0xC0) != 0x80) ok = false;
            else cp = (cp << 6) | (c & 0x3F);
        }
        if (!ok || cp < least) {
            // A malformed sequence: one '?' for its first byte, then go on.
            out += '?';
            ++i;
            continue;
        }
        out += ToCp1250(cp);
        i += len;
    }
    return out;
}


std::u16string Cp1250ToUtf16(const std::string& cp1250) {
    std::u16string out;
    out.reserve(cp1250.size());
    for (char ch : cp1250) {
        const auto b = static_cast<uint8_t>(ch);
        if (b < 0x80) {
            out += static_cast<char16_t>(b);
        } else {
            const uint16_t cp = kHighHalf[b - 0x80];
            out += static_cast<char16_t>(cp != 0 ? cp : u'?');
        }
    }
    return out;
}
