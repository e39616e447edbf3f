// The 18 Polish letters across CP1250, CP852, Mazovia and ASCII, and the
// compile-time CP1250 texts of PL().
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "util/chrarr.h"
#include "util/cp1250.h"
#include "util/cp1250_unicode.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Ą Ć Ę Ł Ń Ó Ś Ź Ż ą ć ę ł ń ó ś ź ż, column by column.
const Bytes kCp1250 = {0xA5, 0xC6, 0xCA, 0xA3, 0xD1, 0xD3, 0x8C, 0x8F, 0xAF,
                       0xB9, 0xE6, 0xEA, 0xB3, 0xF1, 0xF3, 0x9C, 0x9F, 0xBF};
const Bytes kCp852 = {0xA4, 0x8F, 0xA8, 0x9D, 0xE3, 0xE0, 0x97, 0x8D, 0xBD,
                      0xA5, 0x86, 0xA9, 0x88, 0xE4, 0xA2, 0x98, 0xAB, 0xBE};
const Bytes kMazovia = {0x8F, 0x95, 0x90, 0x9C, 0xA5, 0xA3, 0x98, 0xA0, 0xA1,
                        0x86, 0x8D, 0x91, 0x92, 0xA4, 0xA2, 0x9E, 0xA6, 0xA7};
const Bytes kDsp800 = {0xA1, 0xA3, 0xA6, 0xAA, 0xAC, 0xAD, 0xB1, 0xB6, 0xB7,
                       0xC1, 0xC3, 0xC6, 0xCA, 0xCC, 0xCD, 0xD1, 0xD6, 0xD7};
const Bytes kOptimus = {0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF, 0x8E,
                        0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0x96};

CChrArr Arr(const Bytes& b) { return CChrArr(b.data(), b.size()); }

TEST(CodePage, LodzToCp852AndMazovia) {
    const CChrArr lodz = Arr({0xA3, 0xF3, 0x64, 0x9F});  // Łódź in CP1250
    EXPECT_EQ(Cp1250ToCp852(lodz).bytes(), (Bytes{0x9D, 0xA2, 0x64, 0xAB}));
    EXPECT_EQ(Cp1250ToMazovia(lodz).bytes(), (Bytes{0x9C, 0xA2, 0x64, 0xA6}));
    EXPECT_EQ(Cp1250ToAscii(lodz).ToString(), "Lodz");
}

// All 18 letters in one string: a converter that works letter by letter over
// the whole string (instead of once per byte) turns some letters twice,
// because the rows share codes (CP1250 Ź = 8F = CP852 Ć, Mazovia Ą = 8F ...).
TEST(CodePage, AllLettersInEveryDirection) {
    const struct {
        const char* name;
        CChrArr (*convert)(const CChrArr&);
        const Bytes& from;
        const Bytes& to;
    } cases[] = {
        {"Cp1250ToCp852", Cp1250ToCp852, kCp1250, kCp852},
        {"Cp852ToCp1250", Cp852ToCp1250, kCp852, kCp1250},
        {"Cp1250ToMazovia", Cp1250ToMazovia, kCp1250, kMazovia},
        {"MazoviaToCp1250", MazoviaToCp1250, kMazovia, kCp1250},
        {"Cp1250ToDsp800", Cp1250ToDsp800, kCp1250, kDsp800},
        {"Dsp800ToCp1250", Dsp800ToCp1250, kDsp800, kCp1250},
        {"Cp1250ToOptimus", Cp1250ToOptimus, kCp1250, kOptimus},
        {"OptimusToCp1250", OptimusToCp1250, kOptimus, kCp1250},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.convert(Arr(c.from)).bytes(), c.to) << c.name;
        Bytes reversed(c.from.rbegin(), c.from.rend());
        Bytes expected(c.to.rbegin(), c.to.rend());
        EXPECT_EQ(c.convert(Arr(reversed)).bytes(), expected) << c.name << " reversed";
    }
    EXPECT_EQ(Cp1250ToAscii(Arr(kCp1250)).ToString(), "ACELNOSZZacelnoszz");
    EXPECT_EQ(Cp852ToCp1250(Cp1250ToCp852(Arr(kCp1250))).bytes(), kCp1250);
    EXPECT_EQ(MazoviaToCp1250(Cp1250ToMazovia(Arr(kCp1250))).bytes(), kCp1250);
}

// Every byte outside a converter's source row passes unchanged.
TEST(CodePage, OtherBytesUnchanged) {
    const struct {
        const char* name;
        CChrArr (*convert)(const CChrArr&);
        const Bytes& from;
    } cases[] = {
        {"Cp1250ToCp852", Cp1250ToCp852, kCp1250},   {"Cp852ToCp1250", Cp852ToCp1250, kCp852},
        {"Cp1250ToMazovia", Cp1250ToMazovia, kCp1250}, {"MazoviaToCp1250", MazoviaToCp1250, kMazovia},
        {"Cp1250ToAscii", Cp1250ToAscii, kCp1250},
        {"Cp1250ToDsp800", Cp1250ToDsp800, kCp1250}, {"Dsp800ToCp1250", Dsp800ToCp1250, kDsp800},
        {"Cp1250ToOptimus", Cp1250ToOptimus, kCp1250}, {"OptimusToCp1250", OptimusToCp1250, kOptimus},
    };
    Bytes all(256);
    for (int i = 0; i < 256; ++i) all[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    for (const auto& c : cases) {
        const Bytes out = c.convert(Arr(all)).bytes();
        ASSERT_EQ(out.size(), 256u) << c.name;
        for (int i = 0; i < 256; ++i) {
            const bool letter = std::find(c.from.begin(), c.from.end(), static_cast<uint8_t>(i)) != c.from.end();
            if (!letter) {
                EXPECT_EQ(out[static_cast<size_t>(i)], i) << c.name << " byte " << i;
            }
        }
    }
    EXPECT_EQ(Cp1250ToCp852("Plain ASCII 0-9 ~").ToString(), "Plain ASCII 0-9 ~");
    EXPECT_TRUE(Cp1250ToCp852(CChrArr()).IsEmpty());
}

TEST(CodePage, PlTextsAreCp1250) {
    const char* letters = PL("ĄĆĘŁŃÓŚŹŻąćęłńóśźż");
    EXPECT_EQ(Bytes(letters, letters + std::strlen(letters)), kCp1250);

    const char* wait = PL("Proszę czekać...");
    EXPECT_EQ(std::string(wait), "Prosz\xEA czeka\xE6...");

    const char* dash = PL("A – B");
    EXPECT_EQ(Bytes(dash, dash + std::strlen(dash)), (Bytes{'A', ' ', 0x96, ' ', 'B'}));

    EXPECT_STREQ(PL(""), "");
    EXPECT_STREQ(PL("plain"), "plain");
}

TEST(CodePage, Cp1250ToUtf16TakesEachByteOnce) {
    EXPECT_EQ(Cp1250ToUtf16(PL("ĄĆĘŁŃÓŚŹŻąćęłńóśźż")), u"ĄĆĘŁŃÓŚŹŻąćęłńóśźż");
    EXPECT_EQ(Cp1250ToUtf16("A\x80\x96 \x81\x98"), u"A\u20AC\u2013 ??");   // 81 and 98 are undefined
    EXPECT_EQ(Cp1250ToUtf16(std::string("\0x", 2)), std::u16string(u"\0x", 2));
    EXPECT_EQ(Cp1250ToUtf16(""), u"");
}

}  // namespace
