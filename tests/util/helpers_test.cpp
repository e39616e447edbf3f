// Byte-string helpers: slices, padding, packing, number <-> text.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "util/chrarr.h"

namespace {

std::string S(const CChrArr& a) { return a.ToString(); }

struct TextCase {
    const char* what;
    CChrArr result;
    std::string expected;
};

void ExpectAll(std::initializer_list<TextCase> cases) {
    for (const TextCase& c : cases) EXPECT_EQ(S(c.result), c.expected) << c.what;
}

TEST(Helpers, MidAndRight) {
    ExpectAll({
        {"ChrMid(ABCDE,2,0)", ChrMid("ABCDE", 2, 0), "BCDE"},
        {"ChrMid(ABCDE,2,2)", ChrMid("ABCDE", 2, 2), "BC"},
        {"ChrMid(ABC,0,1)", ChrMid("ABC", 0, 1), ""},
        {"ChrMid(ABC,-1,1)", ChrMid("ABC", -1, 1), ""},
        {"ChrMid(ABC,3,1)", ChrMid("ABC", 3, 1), "C"},
        {"ChrMid(ABC,4,1)", ChrMid("ABC", 4, 1), ""},
        {"ChrMid(ABC,2,9)", ChrMid("ABC", 2, 9), "BC"},
        {"ChrMid(ABC,1,-1)", ChrMid("ABC", 1, -1), ""},
        {"ChrMid(empty,1,0)", ChrMid("", 1, 0), ""},
        {"ChrRight(ABC,2)", ChrRight("ABC", 2), "BC"},
        {"ChrRight(ABC,5)", ChrRight("ABC", 5), "ABC"},
        {"ChrRight(ABC,0)", ChrRight("ABC", 0), ""},
        {"ChrRight(ABC,-1)", ChrRight("ABC", -1), ""},
    });
}

TEST(Helpers, PadKeepsLeftmostWidthBytes) {
    ExpectAll({
        {"ChrPadLeft(123,5,0)", ChrPadLeft("123", 5, '0'), "00123"},
        {"ChrPadLeft(123456,5,0)", ChrPadLeft("123456", 5, '0'), "12345"},
        {"ChrPadLeft(123,3,0)", ChrPadLeft("123", 3, '0'), "123"},
        {"ChrPadLeft(empty,2,*)", ChrPadLeft("", 2, '*'), "**"},
        {"ChrPadLeft(123,0,0)", ChrPadLeft("123", 0, '0'), ""},
        {"ChrPadLeft(123,-1,0)", ChrPadLeft("123", -1, '0'), ""},
        {"ChrPadRight(AB,4,space)", ChrPadRight("AB", 4, ' '), "AB  "},
        {"ChrPadRight(ABCDEF,4,space)", ChrPadRight("ABCDEF", 4, ' '), "ABCD"},
        {"ChrPadRight(AB,2,space)", ChrPadRight("AB", 2, ' '), "AB"},
        {"ChrPadRight(AB,-3,space)", ChrPadRight("AB", -3, ' '), ""},
    });
    EXPECT_EQ(ChrPadRight("A", 3, 0).bytes(), (std::vector<uint8_t>{'A', 0, 0}));
}

TEST(Helpers, TrimFillReplace) {
    ExpectAll({
        {"ChrTrim(00120,0)", ChrTrim("00120", '0'), "12"},
        {"ChrTrim(000,0)", ChrTrim("000", '0'), ""},
        {"ChrTrim(empty)", ChrTrim("", ' '), ""},
        {"ChrTrim(  a b  )", ChrTrim("  a b  ", ' '), "a b"},
        {"ChrTrimLeft(  a  )", ChrTrimLeft("  a  "), "a  "},
        {"ChrTrimLeft(   )", ChrTrimLeft("   "), ""},
        {"ChrFill(x,3)", ChrFill('x', 3), "xxx"},
        {"ChrFill(x,-1)", ChrFill('x', -1), ""},
        {"ChrSpaces(2)", ChrSpaces(2), "  "},
        {"ChrSpaces(0)", ChrSpaces(0), ""},
        {"ChrRepeat(ab,3)", ChrRepeat("ab", 3), "ababab"},
        {"ChrRepeat(ab,0)", ChrRepeat("ab", 0), ""},
        {"ChrRepeat(ab,-2)", ChrRepeat("ab", -2), ""},
        {"ChrReplace(a.b.c)", ChrReplace("a.b.c", '.', ','), "a,b,c"},
        {"ChrSetAt(ABC,1,x)", ChrSetAt("ABC", 1, 'x'), "xBC"},
        {"ChrSetAt(ABC,3,x)", ChrSetAt("ABC", 3, 'x'), "ABx"},
        {"ChrSetAt(ABC,0,x)", ChrSetAt("ABC", 0, 'x'), "ABC"},
        {"ChrSetAt(ABC,4,x)", ChrSetAt("ABC", 4, 'x'), "ABC"},
        {"ChrReverse(ABC)", ChrReverse("ABC"), "CBA"},
        {"ChrUpper", ChrUpper("az AZ 09 {}\xB9\xE6"), "AZ AZ 09 {}\xB9\xE6"},
    });
    // The argument is left alone.
    const CChrArr original("abc");
    ChrUpper(original);
    ChrReverse(original);
    EXPECT_EQ(S(original), "abc");
}

TEST(Helpers, IndexOfAndTests) {
    EXPECT_EQ(ChrIndexOf("C", "ABCDC"), 3);
    EXPECT_EQ(ChrIndexOf("CX", "ABCDC"), 3) << "only the first byte of what is sought";
    EXPECT_EQ(ChrIndexOf("Z", "ABC"), 0);
    EXPECT_EQ(ChrIndexOf("", "ABC"), 0);
    EXPECT_EQ(ChrIndexOf("A", ""), 0);

    struct {
        const char* text;
        bool alpha, digit, cp852;
    } cases[] = {
        {"a1", true, false, false}, {"Z", true, false, false}, {"7x", false, true, false},
        {"", false, false, false},  {" ", false, false, false}, {"\xB9", false, false, false},
        {"\xA5", false, false, true}, {"\x9D", false, false, true}, {"\xBE", false, false, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ChrIsAlpha(c.text), c.alpha) << c.text;
        EXPECT_EQ(ChrIsDigit(c.text), c.digit) << c.text;
        EXPECT_EQ(IsCp852PolishLetter(c.text), c.cp852) << c.text;
    }
}

TEST(Helpers, LittleEndianPacking) {
    EXPECT_EQ(WordToChr(0x1234).bytes(), (std::vector<uint8_t>{0x34, 0x12}));
    EXPECT_EQ(DWordToChr(0x12345678).bytes(), (std::vector<uint8_t>{0x78, 0x56, 0x34, 0x12}));
    EXPECT_EQ(ChrToWord(WordToChr(0xFFFE)), 0xFFFE);
    EXPECT_EQ(ChrToDWord(DWordToChr(0xFEDCBA98)), 0xFEDCBA98u);

    const uint8_t raw[] = {0x01, 0x02, 0x03, 0x04, 0x05};
    for (size_t n = 0; n <= 5; ++n) {
        const CChrArr a(raw, n);
        EXPECT_EQ(ChrToWord(a), n == 2 ? 0x0201 : 0) << n << " bytes";
        EXPECT_EQ(ChrToDWord(a), n == 4 ? 0x04030201u : 0u) << n << " bytes";
    }
}

TEST(Helpers, NumToTextNeverCuts) {
    ExpectAll({
        {"255,4,'0',16", NumToText(255, 4, '0', 16), "00FF"},
        {"255,1,'0',16", NumToText(255, 1, '0', 16), "FF"},
        {"0xABCDEF,0,' ',16", NumToText(0xABCDEF, 0, ' ', 16), "ABCDEF"},
        {"0xFFFFFFFF,0,' ',16", NumToText(0xFFFFFFFFu, 0, ' ', 16), "FFFFFFFF"},
        {"0xFFFFFFFF,0,' ',10", NumToText(0xFFFFFFFFu, 0, ' ', 10), "4294967295"},
        {"12345,3,'0',10", NumToText(12345, 3, '0', 10), "12345"},
        {"7,3,' ',10", NumToText(7, 3, ' ', 10), "  7"},
        {"0,2,'0',10", NumToText(0, 2, '0', 10), "00"},
        {"10,0,'0',8", NumToText(10, 0, '0', 8), "10"},
        {"IntToText(-5,4)", IntToText(-5, 4), "  -5"},
        {"IntToText(42,1)", IntToText(42, 1), "42"},
        {"IntToText(INT32_MIN,0)", IntToText(INT32_MIN, 0), "-2147483648"},
        {"ZeroPadded(1234,8)", ZeroPadded(1234, 8), "00001234"},
        {"ZeroPadded(0,2)", ZeroPadded(0, 2), "00"},
        {"ZeroPadded(12345,3)", ZeroPadded(12345, 3), "12345"},
        {"ZeroPadded(UINT64_MAX,0)", ZeroPadded(UINT64_MAX, 0), "18446744073709551615"},
    });
}

struct DoubleCase {
    double v;
    int decimals;
    int width;
    const char* expected;
};

// Exact ties round away from zero; values just below a tie (2.675 is
// 2.67499999... in binary) round down, as the exact value says.
TEST(Helpers, DoubleToText) {
    const DoubleCase cases[] = {
        {0.125, 2, 0, "       0.13"},
        {-0.125, 2, 0, "      -0.13"},
        {1.125, 2, 0, "       1.13"},
        {2.5, 0, 0, "          3"},
        {0.5, 0, 0, "          1"},
        {-2.5, 0, 0, "         -3"},
        {2.675, 2, 0, "       2.67"},
        {1.005, 2, 0, "       1.00"},
        {0.045, 2, 0, "       0.04"},
        {9.9999, 3, 0, "     10.000"},
        {99.5, 0, 0, "        100"},
        {12.34, 4, 0, "    12.3400"},
        {0.00005, 4, 0, "     0.0001"},
        {3.0, 1, 0, "        3.0"},
        {0.0, 2, 0, "       0.00"},
        {123456789012.5, 1, 0, "123456789012.5"},
        {1.5, 2, 15, "           1.50"},
        {1.5, 2, 4, "       1.50"},
        {1.5, 5, 0, "1.500000"},
        {1.5, -1, 0, "1.500000"},
        {1.5, 5, 10, "  1.500000"},
        {0.0078125, 7, 0, "0.007813"},
        {1e20, 0, 0, "100000000000000000000"},
    };
    for (const DoubleCase& c : cases) {
        EXPECT_EQ(S(DoubleToText(c.v, Decimals{c.decimals}, Width{c.width})), c.expected)
            << c.v << " decimals " << c.decimals << " width " << c.width;
        EXPECT_EQ(S(DoubleToText(c.v, Width{c.width}, Decimals{c.decimals})), c.expected);
    }
}

struct NumCase {
    const char* text;
    int base;
    int isSigned;
    int64_t expected;
};

TEST(Helpers, StrToNumKeeps32BitSemantics) {
    const NumCase cases[] = {
        {"123", 10, 1, 123},
        {"  -42", 10, 1, -42},
        {"+17", 10, 1, 17},
        {"12abc", 10, 1, 12},
        {"abc", 10, 1, 0},
        {"", 10, 1, 0},
        {"-", 10, 1, 0},
        {"2147483647", 10, 1, 2147483647},
        {"2147483648", 10, 1, 2147483647},
        {"-2147483648", 10, 1, -2147483647LL - 1},
        {"-2147483649", 10, 1, -2147483647LL - 1},
        {"99999999999999999999999", 10, 1, 2147483647},
        {"-99999999999999999999999", 10, 1, -2147483647LL - 1},
        {"ff", 16, 1, 255},
        {"0x1A", 16, 1, 26},
        {"0x", 16, 1, 0},
        {"0xG", 16, 1, 0},
        {"0x10", 0, 1, 16},
        {"010", 0, 1, 8},
        {"19", 0, 1, 19},
        {"789", 8, 1, 7},
        {"z", 36, 1, 35},
        {"12", 1, 1, 0},
        {"12", 37, 1, 0},
        {"4294967295", 10, 0, 4294967295LL},
        {"4294967296", 10, 0, 4294967295LL},
        {"99999999999999999999999", 10, 0, 4294967295LL},
        {"-1", 10, 0, 4294967295LL},
        {"-2", 10, 0, 4294967294LL},
        {"-4294967295", 10, 0, 1},
        {"-4294967296", 10, 0, 4294967295LL},
        {"FFFFFFFF", 16, 0, 4294967295LL},
        {"100000000", 16, 0, 4294967295LL},
        {"\t 0X7f", 16, 0, 127},
        {"-0", 10, 0, 0},
    };
    for (const NumCase& c : cases) {
        EXPECT_EQ(StrToNum(c.text, c.base, c.isSigned), c.expected)
            << '"' << c.text << "\" base " << c.base << " signed " << c.isSigned;
    }
    // The text ends at a zero byte.
    EXPECT_EQ(StrToNum(CChrArr(std::string("12\0" "34", 5)), 10, 1), 12);
}

// Checksums and codes sent as hexadecimal digits: either case is a digit,
// anything else (a blank, a 'G', a zero byte) is not, and nothing is skipped.
TEST(Helpers, HexDigitsValuesAndBytes) {
    const struct {
        uint8_t c;
        int digit;
    } digits[] = {{'0', 0}, {'9', 9}, {'A', 10}, {'F', 15}, {'a', 10}, {'f', 15}, {'G', -1}, {'g', -1},
                  {'/', -1}, {':', -1}, {'@', -1}, {'`', -1}, {' ', -1}, {0x00, -1}, {0xC1, -1}};
    for (const auto& d : digits) EXPECT_EQ(HexDigit(d.c), d.digit) << "byte " << int(d.c);

    const struct {
        std::string text;
        bool ok;
        uint32_t value;
    } values[] = {{"0", true, 0},         {"1F", true, 31},         {"1f", true, 31},      {"ABCD", true, 0xABCD},
                  {"FFFFFFFF", true, ~0u}, {"100000001", true, 1},  {"", false, 0},        {" 1F", false, 0},
                  {"1F ", false, 0},       {"0x1F", false, 0},      {"-1", false, 0},      {std::string("1\0", 2), false, 0}};
    for (const auto& v : values) {
        uint32_t value = 12345;
        EXPECT_EQ(HexValue(CChrArr(v.text), value), v.ok) << '"' << v.text << '"';
        if (v.ok) {
            EXPECT_EQ(value, v.value) << '"' << v.text << '"';
        }
    }

    const CChrArr frame("x7fA0z");
    EXPECT_EQ(HexByte(frame, 1), 0x7F);
    EXPECT_EQ(HexByte(frame, 3), 0xA0);
    EXPECT_EQ(HexByte(frame, 0), -1);   // 'x' is no digit
    EXPECT_EQ(HexByte(frame, 4), -1);   // '0z'
    EXPECT_EQ(HexByte(frame, 5), -1);   // one byte left
    EXPECT_EQ(HexByte(frame, -1), -1);  // before the start
    EXPECT_EQ(HexByte(CChrArr(), 0), -1);
}

TEST(Helpers, TextToDouble) {
    const struct {
        const char* text;
        double expected;
    } cases[] = {
        {"3.25", 3.25}, {"  \t3.25", 3.25}, {"1.5abc", 1.5}, {"abc", 0.0}, {"", 0.0},
        {"-0.5", -0.5}, {"+2e3", 2000.0},   {"1,5", 1.0},    {"12.", 12.0}, {".5", 0.5},
    };
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(TextToDouble(c.text), c.expected) << '"' << c.text << '"';
}

}  // namespace
