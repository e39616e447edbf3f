// CChrArr: construction, comparison, appending, slicing and bounded copies.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "util/chrarr.h"

namespace {

std::vector<uint8_t> Bytes(const CChrArr& a) { return a.bytes(); }

std::vector<uint8_t> Bytes(std::initializer_list<int> list) {
    std::vector<uint8_t> v;
    for (int b : list) v.push_back(static_cast<uint8_t>(b));
    return v;
}

TEST(ChrArr, Construction) {
    EXPECT_TRUE(CChrArr().IsEmpty());
    EXPECT_TRUE(CChrArr(static_cast<const char*>(nullptr)).IsEmpty());
    EXPECT_TRUE(CChrArr("").IsEmpty());
    EXPECT_EQ(Bytes(CChrArr("AB")), Bytes({'A', 'B'}));
    EXPECT_EQ(Bytes(CChrArr(3, 'x')), Bytes({'x', 'x', 'x'}));
    EXPECT_TRUE(CChrArr(-2, 'x').IsEmpty());
    EXPECT_TRUE(CChrArr(nullptr, 5).IsEmpty());
    EXPECT_EQ(CChrArr(std::string("A\0B", 3)).GetLength(), 3);
    EXPECT_EQ(CStringToChrArr(std::string("A\0B", 3)).GetLength(), 3);
}

TEST(ChrArr, Assignment) {
    CChrArr a("XYZ");
    a = static_cast<const char*>(nullptr);
    EXPECT_TRUE(a.IsEmpty());
    a = "AB";
    EXPECT_EQ(Bytes(a), Bytes({'A', 'B'}));
    a = static_cast<uint8_t>(0);
    EXPECT_EQ(Bytes(a), Bytes({0}));
    a = std::string("Q\0R", 3);
    EXPECT_EQ(Bytes(a), Bytes({'Q', 0, 'R'}));
    CChrArr& self = a;
    a = self;
    EXPECT_EQ(Bytes(a), Bytes({'Q', 0, 'R'}));
}

// Each row: left array, right side, whether they are equal. The right side is
// tried as a text and, when it holds no zero byte, as an array too.
struct CompareCase {
    const char* left;
    const char* right;
    bool equal;
};

class ChrArrCompare : public ::testing::TestWithParam<CompareCase> {};

TEST_P(ChrArrCompare, OverLeftLength) {
    const CompareCase& c = GetParam();
    const CChrArr left(c.left);
    EXPECT_EQ(left == c.right, c.equal);
    EXPECT_EQ(left != c.right, !c.equal);
    EXPECT_EQ(left == CChrArr(c.right), c.equal);
    EXPECT_EQ(left != CChrArr(c.right), !c.equal);
    // A text on the left compares as the array's right side.
    EXPECT_EQ(c.right == left, c.equal);
}

INSTANTIATE_TEST_SUITE_P(Table, ChrArrCompare,
                         ::testing::Values(CompareCase{"", "", false}, CompareCase{"", "A", false},
                                           CompareCase{"A", "", false}, CompareCase{"AB", "ABC", true},
                                           CompareCase{"ABC", "AB", false}, CompareCase{"ABC", "ABC", true},
                                           CompareCase{"AB", "AC", false}, CompareCase{"B", "ABC", false},
                                           CompareCase{"\xB9", "\xB9x", true}));

TEST(ChrArr, CompareOrdersEmptyAndUnsignedBytes) {
    EXPECT_LT(CChrArr().Compare(CChrArr("A")), 0);
    EXPECT_GT(CChrArr("A").Compare(CChrArr()), 0);
    EXPECT_GT(CChrArr().Compare(CChrArr()), 0);
    EXPECT_NE(CChrArr("A").Compare(static_cast<const char*>(nullptr)), 0);
    // Bytes are unsigned: 0x80 orders after 0x01.
    EXPECT_GT(CChrArr("\x80").Compare(CChrArr("\x01")), 0);
    EXPECT_LT(CChrArr("\x01").Compare("\x80"), 0);
    // A zero byte inside the array ends nothing, but a text ends at its terminator.
    const CChrArr withZero(std::string("A\0", 2));
    EXPECT_FALSE(withZero == "A");
    EXPECT_TRUE(withZero == CChrArr(std::string("A\0B", 3)));
}

TEST(ChrArr, Appending) {
    CChrArr a("AB");
    a += a;
    EXPECT_EQ(Bytes(a), Bytes({'A', 'B'})) << "appending itself leaves the array unchanged";
    a += static_cast<const char*>(nullptr);
    a += "";
    EXPECT_EQ(a.GetLength(), 2);
    a += static_cast<uint8_t>(0);
    a += "C";
    a += CChrArr("D");
    EXPECT_EQ(Bytes(a), Bytes({'A', 'B', 0, 'C', 'D'}));
}

TEST(ChrArr, ConcatenationKeepsZeroBytes) {
    const CChrArr z(1, 0);
    EXPECT_EQ(Bytes(CChrArr("A") + z + CChrArr("B")), Bytes({'A', 0, 'B'}));
    EXPECT_EQ(Bytes("x" + z), Bytes({'x', 0}));
    EXPECT_EQ(Bytes(z + "y"), Bytes({0, 'y'}));
    EXPECT_EQ(Bytes(static_cast<uint8_t>(2) + CChrArr("A")), Bytes({2, 'A'}));
    EXPECT_EQ(Bytes(CChrArr("A") + static_cast<uint8_t>(3)), Bytes({'A', 3}));
    const CChrArr copy(CChrArr("A") + z + z);
    EXPECT_EQ(copy.ToString(), std::string("A\0\0", 3));
    EXPECT_EQ(copy.ToString().size(), 3u);
}

// Each row: text, operation, argument(s), expected text.
struct SliceCase {
    const char* name;
    CChrArr result;
    const char* expected;
};

TEST(ChrArr, Slices) {
    const CChrArr abc("ABC");
    const SliceCase cases[] = {
        {"Mid(0)", abc.Mid(0), "ABC"},          {"Mid(1)", abc.Mid(1), "BC"},
        {"Mid(3)", abc.Mid(3), ""},             {"Mid(-2)", abc.Mid(-2), "ABC"},
        {"Mid(5,2)", abc.Mid(5, 2), ""},        {"Mid(1,1)", abc.Mid(1, 1), "B"},
        {"Mid(1,9)", abc.Mid(1, 9), "BC"},      {"Mid(0,-1)", abc.Mid(0, -1), ""},
        {"Mid(-1,2)", abc.Mid(-1, 2), "AB"},    {"Left(-1)", abc.Left(-1), ""},
        {"Left(2)", abc.Left(2), "AB"},         {"Left(9)", abc.Left(9), "ABC"},
        {"Right(-1)", abc.Right(-1), ""},       {"Right(2)", abc.Right(2), "BC"},
        {"Right(9)", abc.Right(9), "ABC"},
    };
    for (const SliceCase& c : cases) EXPECT_EQ(c.result.ToString(), c.expected) << c.name;

    CChrArr r("ABC");
    r.Reverse();
    EXPECT_EQ(r.ToString(), "CBA");
}

TEST(ChrArr, Find) {
    const CChrArr a("ABCA");
    EXPECT_EQ(a.Find('A'), 0);
    EXPECT_EQ(a.Find('A', 1), 3);
    EXPECT_EQ(a.Find('A', -5), 0) << "a negative start counts as 0";
    EXPECT_EQ(a.Find('A', 4), -1);
    EXPECT_EQ(a.Find('A', 100), -1);
    EXPECT_EQ(a.Find('Z'), -1);
    EXPECT_EQ(CChrArr().Find('A'), -1);
}

TEST(ChrArr, RemoveAtStaysInBounds) {
    CChrArr a("ABCDE");
    a.RemoveAt(1, 2);
    EXPECT_EQ(a.ToString(), "ADE");
    a.RemoveAt(2, 10);
    EXPECT_EQ(a.ToString(), "AD");
    a.RemoveAt(5);
    a.RemoveAt(-1);
    EXPECT_EQ(a.ToString(), "AD");
}

// The destination holds n + 1 bytes; a guard byte after it must stay.
TEST(ChrArr, BoundedCopiesWriteExactlyNPlusOne) {
    char buf[8];
    std::memset(buf, '#', sizeof buf);
    ChrArrToBuffer(buf, CChrArr("AB"), 4);
    EXPECT_EQ(std::vector<char>(buf, buf + 6), (std::vector<char>{'A', 'B', 0, 0, 0, '#'}));

    std::memset(buf, '#', sizeof buf);
    ChrArrToBuffer(buf, CChrArr("ABCDEF"), 3);
    EXPECT_EQ(std::vector<char>(buf, buf + 5), (std::vector<char>{'A', 'B', 'C', 0, '#'}));

    std::memset(buf, '#', sizeof buf);
    StrNCopyZ(buf, "AB", 4);
    EXPECT_EQ(std::vector<char>(buf, buf + 6), (std::vector<char>{'A', 'B', 0, 0, 0, '#'}));

    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(StrNCopyZ(buf, "ABCDEF", 3), buf);
    EXPECT_EQ(std::vector<char>(buf, buf + 5), (std::vector<char>{'A', 'B', 'C', 0, '#'}));

    std::memset(buf, '#', sizeof buf);
    StrNCopyZ(buf, nullptr, 2);
    EXPECT_EQ(std::vector<char>(buf, buf + 4), (std::vector<char>{0, 0, 0, '#'}));

    std::memset(buf, '#', sizeof buf);
    StrNCopyZ(buf, "A", -1);
    ChrArrToBuffer(buf, CChrArr("A"), -1);
    EXPECT_EQ(buf[0], '#') << "a negative count writes nothing";

    // A text field char[N] gets N - 1: the whole field is used, no more.
    struct {
        char field[4];
        char next;
    } rec;
    rec.next = '#';
    StrNCopyZ(rec.field, "LONGER", sizeof rec.field - 1);
    EXPECT_STREQ(rec.field, "LON");
    EXPECT_EQ(rec.next, '#');
}

}  // namespace
