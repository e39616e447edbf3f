// Code-page conversion of the 18 Polish letters between CP1250 and the
// devices' character sets (CP852, Mazovia) and down to plain ASCII.
// Each converter is one 256-entry byte map built at compile time, so every
// byte is converted exactly once whatever the order of the letters.
#include <array>
#include <cstddef>
#include <cstdint>

#include "util/chrarr.h"

namespace {

constexpr size_t kLetters = 18;
using Row = std::array<uint8_t, kLetters>;

// Ą Ć Ę Ł Ń Ó Ś Ź Ż ą ć ę ł ń ó ś ź ż
constexpr Row kCp1250 = {0xA5, 0xC6, 0xCA, 0xA3, 0xD1, 0xD3, 0x8C, 0x8F, 0xAF,
                         0xB9, 0xE6, 0xEA, 0xB3, 0xF1, 0xF3, 0x9C, 0x9F, 0xBF};
constexpr Row kCp852 = {0xA4, 0x8F, 0xA8, 0x9D, 0xE3, 0xE0, 0x97, 0x8D, 0xBD,
                        0xA5, 0x86, 0xA9, 0x88, 0xE4, 0xA2, 0x98, 0xAB, 0xBE};
constexpr Row kMazovia = {0x8F, 0x95, 0x90, 0x9C, 0xA5, 0xA3, 0x98, 0xA0, 0xA1,
                          0x86, 0x8D, 0x91, 0x92, 0xA4, 0xA2, 0x9E, 0xA6, 0xA7};
// The DSP 800 and CR-280 registers: capitals from 0xA1, small letters 0x20 above.
constexpr Row kDsp800 = {0xA1, 0xA3, 0xA6, 0xAA, 0xAC, 0xAD, 0xB1, 0xB6, 0xB7,
                         0xC1, 0xC3, 0xC6, 0xCA, 0xCC, 0xCD, 0xD1, 0xD6, 0xD7};
// The Optimus registers.
constexpr Row kOptimus = {0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF, 0x8E,
                          0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0x96};
constexpr Row kAscii = {'A', 'C', 'E', 'L', 'N', 'O', 'S', 'Z', 'Z',
                        'a', 'c', 'e', 'l', 'n', 'o', 's', 'z', 'z'};
// The Medesa scales' letters; Ż shares 37 with the digit 7.
constexpr Row kMedesa = {0x5B, 0x7C, 0x7D, 0x5D, 0x7B, 0x40, 0x3C, 0x3E, 0x37,
                         0xC1, 0xC3, 0xC6, 0xCA, 0xCC, 0xCD, 0xD1, 0xD6, 0xD7};

using ByteMap = std::array<uint8_t, 256>;

// Identity, except that each byte of `from` becomes the byte of the same
// column in `to` (the first column wins should a byte appear twice).
constexpr ByteMap MakeMap(const Row& from, const Row& to) {
    ByteMap map{};
    std::array<bool, 256> taken{};
    for (size_t b = 0; b < map.size(); ++b) map[b] = static_cast<uint8_t>(b);
    for (size_t i = 0; i < kLetters; ++i) {
        if (!taken[from[i]]) {
            map[from[i]] = to[i];
            taken[from[i]] = true;
        }
    }
    return map;
}

constexpr ByteMap kMap1250To852 = MakeMap(kCp1250, kCp852);
constexpr ByteMap kMap852To1250 = MakeMap(kCp852, kCp1250);
constexpr ByteMap kMap1250ToMazovia = MakeMap(kCp1250, kMazovia);
constexpr ByteMap kMapMazoviaTo1250 = MakeMap(kMazovia, kCp1250);
constexpr ByteMap kMap1250ToAscii = MakeMap(kCp1250, kAscii);
constexpr ByteMap kMap1250ToDsp800 = MakeMap(kCp1250, kDsp800);
constexpr ByteMap kMapDsp800To1250 = MakeMap(kDsp800, kCp1250);
constexpr ByteMap kMap1250ToOptimus = MakeMap(kCp1250, kOptimus);
constexpr ByteMap kMapOptimusTo1250 = MakeMap(kOptimus, kCp1250);
constexpr ByteMap kMap1250ToMedesa = MakeMap(kCp1250, kMedesa);
constexpr ByteMap kMapMedesaTo1250 = MakeMap(kMedesa, kCp1250);

static_assert(kMap1250To852[0xA3] == 0x9D && kMap852To1250[0x9D] == 0xA3);
static_assert(kMap1250ToMazovia[0xBF] == 0xA7 && kMapMazoviaTo1250[0xA7] == 0xBF);
static_assert(kMap1250ToDsp800[0xA3] == 0xAA && kMapDsp800To1250[0xAA] == 0xA3);

CChrArr Convert(const CChrArr& s, const ByteMap& map) {
    CChrArr r(s);
    for (int i = 0; i < r.GetLength(); ++i) r[i] = map[r[i]];
    return r;
}

}  // namespace

CChrArr Cp1250ToCp852(const CChrArr& s) { return Convert(s, kMap1250To852); }
CChrArr Cp852ToCp1250(const CChrArr& s) { return Convert(s, kMap852To1250); }
CChrArr Cp1250ToMazovia(const CChrArr& s) { return Convert(s, kMap1250ToMazovia); }
CChrArr MazoviaToCp1250(const CChrArr& s) { return Convert(s, kMapMazoviaTo1250); }
CChrArr Cp1250ToAscii(const CChrArr& s) { return Convert(s, kMap1250ToAscii); }
CChrArr Cp1250ToDsp800(const CChrArr& s) { return Convert(s, kMap1250ToDsp800); }
CChrArr Dsp800ToCp1250(const CChrArr& s) { return Convert(s, kMapDsp800To1250); }
CChrArr Cp1250ToOptimus(const CChrArr& s) { return Convert(s, kMap1250ToOptimus); }
CChrArr OptimusToCp1250(const CChrArr& s) { return Convert(s, kMapOptimusTo1250); }
CChrArr Cp1250ToMedesa(const CChrArr& s) { return Convert(s, kMap1250ToMedesa); }
CChrArr MedesaToCp1250(const CChrArr& s) { return Convert(s, kMapMedesaTo1250); }

bool IsCp852PolishLetter(const CChrArr& s) {
    if (s.IsEmpty()) return false;
    for (uint8_t b : kCp852) {
        if (s[0] == b) return true;
    }
    return false;
}
