// The Dibal records as the scale gets them: "X1" goods records and "X2"
// text records, character for character, with the refusals that keep an
// item off the line; and the "X1" records read back.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>

#include "dibal_fixture.h"

namespace orv::test {
namespace {

std::string Pad(std::string s, size_t n, char c = ' ') {
    s.resize(n, c);
    return s;
}

// The record of the fixture's item (PLU 12, "Jabłka", 1.15) with the fields
// a case changes put in.
struct X1Fields {
    std::string plu = "000012", code3 = "345", name = Pad("Jab\x88ka", 24), price = "000115", flag = "0",
                date1 = "010225", date2 = "000000", amount = "00500", code2 = "07", dept = "0003", vat = "02";
};

std::string X1(const X1Fields& f) {
    return "X100M" + f.plu + f.code3 + f.name + std::string(24, ' ') + f.price + "000000000000" + f.flag + f.date1 +
           f.date2 + f.amount + f.code2 + "000000" + f.dept + f.vat + "0" + "0000" + "00000000000";
}

DibalItem Base() {
    DibalItem d = MakeDibalItem(12, PL("Jabłka"), 1.15);
    d.code3 = 345;
    std::strcpy(d.date1, "01.02.25");
    d.amount = 0.5;
    d.code2 = 7;
    d.department = 3;
    d.vatGroup = 2;
    return d;
}

TEST(DibalRecords, GoodsRecordsCharacterForCharacter) {
    struct Case {
        const char* what;
        std::function<void(DibalItem&)> change;
        std::function<void(X1Fields&)> expect;   // null: refused
        int code;                                // for a refusal
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<Case> cases = {
        {"base", [](DibalItem&) {}, [](X1Fields&) {}, 0},
        {"9999.99", [](DibalItem& d) { d.price = 9999.99; }, [](X1Fields& f) { f.price = "999999"; }, 0},
        {"10000.00", [](DibalItem& d) { d.price = 10000.0; }, nullptr, 109},
        {"negative price", [](DibalItem& d) { d.price = -0.01; }, nullptr, 109},
        {"NaN price", [=](DibalItem& d) { d.price = nan; }, nullptr, 109},
        {"PLU 0", [](DibalItem& d) { d.plu = 0; }, nullptr, 105},
        {"PLU 100000", [](DibalItem& d) { d.plu = 100000; }, nullptr, 105},
        {"PLU 99999", [](DibalItem& d) { d.plu = 99999; }, [](X1Fields& f) { f.plu = "099999"; }, 0},
        {"flag 2", [](DibalItem& d) { d.flag = 2; }, [](X1Fields& f) { f.flag = "1"; }, 0},
        {"flag 0", [](DibalItem& d) { d.flag = 0; }, [](X1Fields& f) { f.flag = "1"; }, 0},
        {"date with a leading blank", [](DibalItem& d) { std::strcpy(d.date1, " 1.02.25"); },
         [](X1Fields& f) { f.date1 = "010225"; }, 0},
        {"date of 7 characters", [](DibalItem& d) { std::strcpy(d.date1, "1.02.25"); },
         [](X1Fields& f) { f.date1 = "000000"; }, 0},
        {"date not in digits", [](DibalItem& d) { std::strcpy(d.date1, "ab.cd.ef"); },
         [](X1Fields& f) { f.date1 = "000000"; }, 0},
        {"second date", [](DibalItem& d) { std::strcpy(d.date2, "31-12-99"); },
         [](X1Fields& f) { f.date2 = "311299"; }, 0},
        {"amount 99.999", [](DibalItem& d) { d.amount = 99.999; }, [](X1Fields& f) { f.amount = "99999"; }, 0},
        {"amount 100", [](DibalItem& d) { d.amount = 100.0; }, nullptr, 999},
        {"negative amount", [](DibalItem& d) { d.amount = -1.0; }, nullptr, 999},
        {"NaN amount", [=](DibalItem& d) { d.amount = nan; }, nullptr, 999},
        {"department of five digits", [](DibalItem& d) { d.department = 10000; }, nullptr, 999},
        {"Polish letters", [](DibalItem& d) { std::strcpy(d.name, PL("ĄĆĘŁŃÓŚŹŻąćęłńóśźż")); },
         [](X1Fields& f) {
             f.name = Pad("\xA4\x8F\xA8\x9D\xE3\xE0\x97\x8D\xBD\xA5\x86\xA9\x88\xE4\xA2\x98\xAB\xBE", 24);
         }, 0},
        {"control bytes in the name", [](DibalItem& d) { std::strcpy(d.name, "A\x03" "B\x02" "C"); },
         [](X1Fields& f) { f.name = Pad("A B C", 24); }, 0},
        {"name of 24 characters", [](DibalItem& d) { std::strcpy(d.name, "ABCDEFGHIJKLMNOPQRSTUVWX"); },
         [](X1Fields& f) { f.name = "ABCDEFGHIJKLMNOPQRSTUVWX"; }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DibalItem d = Base();
        c.change(d);
        CDibal link;
        CChrArr out;
        const int r = link.BuildItemRecord(d, out);
        if (!c.expect) {
            EXPECT_EQ(r, 0);
            EXPECT_EQ(link.m_nError, c.code);
            EXPECT_TRUE(out.IsEmpty());
            continue;
        }
        ASSERT_EQ(r, 1) << link.m_nError;
        X1Fields f;
        c.expect(f);
        EXPECT_EQ(Str(out), X1(f));
        EXPECT_EQ(out.GetLength(), 128);
    }
}

TEST(DibalRecords, TextRecordsWalkTheBars) {
    struct Case {
        const char* text1;
        const char* text2;
        std::string sent1, sent2;
    };
    const std::vector<Case> cases = {
        {"", "", "", ""},
        {"ab|defgh", "abcd|fgh", "ab|defgh", "abcd fgh"},          // only a "|" at a walk position turns
        {"|x|y", "abcdefgh|", " x y", "abcdefgh "},
        {PL("Świeże"), "a\x03z", "\x97wie\xBE" "e", "a z"},
        {"12345678901234567890", "", "12345678901234567890", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text1);
        DibalItem d = Base();
        std::strcpy(d.text1, c.text1);
        std::strcpy(d.text2, c.text2);
        std::strcpy(d.text3, "never sent");
        CDibal link;
        CChrArr out;
        ASSERT_EQ(link.BuildTextRecord(d, out), 1);
        EXPECT_EQ(Str(out), Pad("X200000012" "1" + Pad(c.sent1, 48) + "000012" "2" + Pad(c.sent2, 48), 128));
    }
    DibalItem d = Base();
    d.plu = 0;
    CDibal link;
    CChrArr out;
    EXPECT_EQ(link.BuildTextRecord(d, out), 0);
    EXPECT_EQ(link.m_nError, 105);
}

TEST(DibalRecords, ReadRecordsBecomeItems) {
    X1Fields f;
    f.flag = "0";
    f.date2 = "311299";
    CDibal link;
    DibalItem d;
    ASSERT_EQ(link.ParseItemRecord(CChrArr(X1(f)), d), 1);
    EXPECT_EQ(d.plu, 12u);
    EXPECT_EQ(d.code3, 345u);
    EXPECT_STREQ(d.name, (std::string(PL("Jabłka")) + std::string(18, ' ')).c_str());   // padding kept
    EXPECT_DOUBLE_EQ(d.price, 1.15);
    EXPECT_EQ(d.flag, 1u);
    EXPECT_STREQ(d.date1, "01.02.25");
    EXPECT_STREQ(d.date2, "31.12.99");
    EXPECT_DOUBLE_EQ(d.amount, 0.5);
    EXPECT_EQ(d.code2, 7u);
    EXPECT_EQ(d.department, 3u);
    EXPECT_EQ(d.vatGroup, 2u);
    EXPECT_STREQ(d.text1, "");

    f.flag = "1";
    ASSERT_EQ(link.ParseItemRecord(CChrArr(X1(f)), d), 1);
    EXPECT_EQ(d.flag, 2u);

    EXPECT_EQ(link.ParseItemRecord(CChrArr("X2" + X1(f).substr(2)), d), 0);
    EXPECT_EQ(link.m_nError, 999);
    EXPECT_EQ(link.ParseItemRecord(CChrArr(X1(f).substr(0, 127)), d), 0);
}

// A number field the scale filled with a negative number is no number of
// the record: the record is not taken (read as it stood, "-00012" became
// 4294967284). A plus sign and a zero with a minus read as what they are.
TEST(DibalRecords, ARecordWithANegativeNumberIsNotTaken) {
    struct Case {
        const char* what;
        std::function<void(X1Fields&)> change;
        bool taken;
        uint32_t plu, department;
    };
    const Case cases[] = {
        {"plu", [](X1Fields& f) { f.plu = "-00012"; }, false, 0, 0},
        {"price", [](X1Fields& f) { f.price = " -0115"; }, false, 0, 0},
        {"amount", [](X1Fields& f) { f.amount = "-0500"; }, false, 0, 0},
        {"code2", [](X1Fields& f) { f.code2 = "-7"; }, false, 0, 0},
        {"department", [](X1Fields& f) { f.dept = "-003"; }, false, 0, 0},
        {"vat", [](X1Fields& f) { f.vat = "-2"; }, false, 0, 0},
        {"code3", [](X1Fields& f) { f.code3 = "-45"; }, false, 0, 0},
        {"plus sign", [](X1Fields& f) { f.plu = "+00012"; }, true, 12, 3},
        {"minus zero", [](X1Fields& f) { f.dept = "  -0"; }, true, 12, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        X1Fields f;
        c.change(f);
        CDibal link;
        DibalItem d;
        ASSERT_EQ(link.ParseItemRecord(CChrArr(X1(f)), d), c.taken ? 1 : 0);
        if (!c.taken) {
            EXPECT_EQ(link.m_nError, 999);
            continue;
        }
        EXPECT_EQ(d.plu, c.plu);
        EXPECT_EQ(d.department, c.department);
    }
}

TEST(DibalRecords, HostItemsAndReadItems) {
    EcrItemRecord item = DibalHostItem(7, "  Ser  ", 2.5, 4, 3);
    std::strcpy(item.text236, " 01.02.25 ");
    std::strcpy(item.scale_text[0], "  pierwszy  ");
    std::strcpy(item.scale_text[2], "123456789012345678901234");
    item.word156 = 1;
    item.code224 = 12;
    item.code468 = 123;
    item.amount = 1.25;
    const DibalItem bulk = CDI_ECR::ToDibal(item, true);
    EXPECT_STREQ(bulk.name, "Ser");
    EXPECT_STREQ(bulk.date1, "01.02.25");
    EXPECT_STREQ(bulk.text1, "pierwszy");
    EXPECT_STREQ(bulk.text3, "12345678901234567890");
    EXPECT_EQ(bulk.code3, 123u);
    EXPECT_EQ(bulk.code2, 12u);
    EXPECT_EQ(bulk.flag, 1u);
    EXPECT_EQ(bulk.department, 4u);
    EXPECT_EQ(bulk.vatGroup, 3u);
    EXPECT_STREQ(CDI_ECR::ToDibal(item, false).name, "  Ser  ");

    const EcrItemRecord back = CDI_ECR::FromDibal(bulk);
    EXPECT_EQ(back.number, 7u);
    EXPECT_STREQ(back.name, "Ser");
    EXPECT_EQ(back.unit, 1u);
    EXPECT_EQ(back.attr1, 0u);
    EXPECT_STREQ(back.code, "");
    EXPECT_STREQ(back.text236, "01.02.25");
    EXPECT_STREQ(back.scale_text[2], "12345678901234567890");
    EXPECT_DOUBLE_EQ(back.amount, 1.25);
}

}  // namespace
}  // namespace orv::test
