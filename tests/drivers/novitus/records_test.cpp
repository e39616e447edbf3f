// The Tango records byte for byte: request bodies, both goods records, the
// department record, the flag word, the tax table and the refusals of
// records that cannot be sent.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "drivers/novitus/tango_records.h"
#include "util/cp1250.h"

namespace {

using namespace tango;

Goods Sample() {
    Goods g;
    g.number = 12;
    g.code = "5901234567890";
    g.name = PL("Masło ekstra");
    g.price = 7.49;
    g.taxGroup = 2;
    g.digit = 3;
    g.precision = 2;
    g.package = 1;
    g.tandem = 1;
    g.dept = 4;
    g.number2 = 56;
    g.code2 = "2000000000017";
    g.unit = 3;
    return g;
}

std::string Pad(const std::string& s, size_t n) { return s + std::string(n - s.size(), ' '); }
std::string PadL(const std::string& s, size_t n) { return std::string(n - s.size(), ' ') + s; }

TEST(TangoRequests, Bodies) {
    EXPECT_EQ(SimpleRequest('M', '0', "0", "0").ToString(), "M0" + std::string(36, '0'));
    const CChrArr key = ChrPadLeft(CChrArr("123"), 18, ' ');
    EXPECT_EQ(TableRequest('I', "00", '0', key, key).ToString(), "I#000" + PadL("123", 18) + PadL("123", 18));
    EXPECT_EQ(SimpleRequest('H', '1', "07", "07").ToString(), "H1" + std::string(16, '0') + "07" + std::string(16, '0') + "07");
    EXPECT_EQ(PrefixedRecord('I', CChrArr("01kg")).ToString(), "I#01kg");
}

TEST(TangoRecords, GoodsRecordIsByteExact) {
    CChrArr rec;
    ASSERT_EQ(BuildGoodsRecord(Sample(), rec), 0);
    const std::string name852 = Cp1250ToCp852(CChrArr(PL("Masło ekstra"))).ToString();
    const std::string expected = PadL("5901234567890", 18) + "00000" + Pad(name852, 40) + "0000000749" + "B" + "3" +
                                 "000E" + "04" + "56" + PadL("2000000000017", 18) + "03" + std::string(20, ' ') + "000";
    EXPECT_EQ(rec.ToString(), expected);
    ASSERT_EQ(rec.GetLength(), 126);
    // Read back from a reply (5-byte header, the number at position 24).
    std::string reply = "I#000" + expected;
    reply.replace(5 + 18, 5, "00012");
    Goods back;
    ASSERT_TRUE(ParseGoodsReply(CChrArr(reply), back));
    EXPECT_EQ(back.code, "5901234567890");
    EXPECT_EQ(back.number, 12u);
    EXPECT_EQ(back.name, PL("Masło ekstra"));
    EXPECT_DOUBLE_EQ(back.price, 7.49);
    EXPECT_EQ(back.taxGroup, 2u);
    EXPECT_EQ(back.digit, 3u);
    EXPECT_EQ(back.precision, 2u);
    EXPECT_EQ(back.package, 1u);
    EXPECT_EQ(back.tandem, 1u);
    EXPECT_EQ(back.dept, 4u);
    EXPECT_EQ(back.number2, 56u);
    EXPECT_EQ(back.code2, "2000000000017");
    EXPECT_EQ(back.unit, 3u);
    EXPECT_FALSE(ParseGoodsReply(CChrArr(reply.substr(1)), back));
}

TEST(TangoRecords, NameBytesFFReadAsBlanks) {
    std::string reply = "I#000" + PadL("1", 18) + "00001" + "AB" + std::string(3, '\xFF') + "C" + std::string(34, '\xFF') +
                        "0000000100" + "A0" + "0000" + "01" + "00" + std::string(18, ' ') + "01" + std::string(20, ' ') +
                        "000";
    Goods g;
    ASSERT_TRUE(ParseGoodsReply(CChrArr(reply), g));
    EXPECT_EQ(g.name, "AB   C");
}

TEST(TangoRecords, NumberStandsForAnEmptyCode) {
    struct Case {
        uint32_t number;
        int code;
        const char* key;
    };
    const Case cases[] = {{1, 0, "00001"}, {99998, 0, "99998"}, {0, 260, ""}, {99999, 260, ""}};
    for (const Case& c : cases) {
        Goods g = Sample();
        g.code = "   ";
        g.number = c.number;
        CChrArr rec, key;
        EXPECT_EQ(BuildGoodsRecord(g, rec), c.code) << c.number;
        EXPECT_EQ(GoodsKey(g.code, g.number, key), c.code) << c.number;
        if (c.code == 0) {
            EXPECT_EQ(rec.Left(18).ToString(), PadL(c.key, 18));
            EXPECT_EQ(key.ToString(), PadL(c.key, 18));
        }
    }
    // A code longer than 18 once trimmed would become another code.
    Goods g = Sample();
    g.code = "  1234567890123456789 ";
    CChrArr rec;
    EXPECT_EQ(BuildGoodsRecord(g, rec), 260);
    g.code = " 123456789012345678 ";
    EXPECT_EQ(BuildGoodsRecord(g, rec), 0);
    g.code2 = std::string(19, '7');
    EXPECT_EQ(BuildGoodsRecord(g, rec), 260);
}

TEST(TangoRecords, FlagWord) {
    struct Case {
        uint32_t precision, package, tandem;
        uint16_t word;
    };
    const Case cases[] = {{0, 0, 0, 0x00}, {1, 0, 0, 0x10}, {2, 0, 0, 0x08}, {3, 0, 0, 0x18}, {0, 1, 0, 0x04},
                          {0, 2, 0, 0x01}, {0, 0, 1, 0x02}, {3, 2, 1, 0x1B}, {1, 1, 1, 0x16}};
    for (const Case& c : cases) {
        uint16_t w = 0xFFFF;
        ASSERT_EQ(GoodsFlags(c.precision, c.package, c.tandem, w), 0);
        EXPECT_EQ(w, c.word);
        uint32_t p, k, t;
        DecodeGoodsFlags(w, p, k, t);
        EXPECT_EQ(p, c.precision);
        EXPECT_EQ(k, c.package);
        EXPECT_EQ(t, c.tandem);
    }
    uint32_t p, k, t;
    DecodeGoodsFlags(0x05, p, k, t);   // package 1 wins over 2
    EXPECT_EQ(k, 1u);
    uint16_t w;
    EXPECT_EQ(GoodsFlags(4, 0, 0, w), 10);
    EXPECT_EQ(GoodsFlags(0, 3, 0, w), 10);
    Goods g = Sample();
    g.precision = 4;
    CChrArr rec;
    EXPECT_EQ(BuildGoodsRecord(g, rec), 10);
    EXPECT_EQ(BuildShortGoodsRecord(g, rec), 10);
}

TEST(TangoRecords, ShortGoodsRecordIsByteExact) {
    CChrArr rec;
    ASSERT_EQ(BuildShortGoodsRecord(Sample(), rec), 0);
    const std::string name852 = Cp1250ToCp852(CChrArr(PL("Masło ekstra"))).ToString();
    // precision 2 -> "01", package 1 -> third "1", tandem -> fourth "1".
    const std::string expected = PadL("5901234567890", 18) + Pad(name852, 18) + "0000000749" + "B" + "3" + "01110" +
                                 "04" + "56" + PadL("2000000000017", 18);
    EXPECT_EQ(rec.ToString(), expected);
    EXPECT_EQ(rec.GetLength(), 75);
    Goods g = Sample();
    g.code = "";
    EXPECT_EQ(BuildShortGoodsRecord(g, rec), 260);   // no number fallback
    g = Sample();
    g.precision = 3;
    g.package = 2;
    g.tandem = 0;
    ASSERT_EQ(BuildShortGoodsRecord(g, rec), 0);
    EXPECT_EQ(ChrMid(rec, 49, 5).ToString(), "11001");
}

TEST(TangoRecords, RefusalsBeforeAnyTraffic) {
    struct Case {
        const char* what;
        void (*change)(Goods&);
        int code;
    };
    const Case cases[] = {
        {"tax group 0", [](Goods& g) { g.taxGroup = 0; }, 9},
        {"tax group 8", [](Goods& g) { g.taxGroup = 8; }, 9},
        {"negative price", [](Goods& g) { g.price = -0.01; }, 109},
        {"NaN price", [](Goods& g) { g.price = std::numeric_limits<double>::quiet_NaN(); }, 109},
        {"11-digit price", [](Goods& g) { g.price = 100000000.0; }, 109},
        {"department 100", [](Goods& g) { g.dept = 100; }, 7},
        {"digit 10", [](Goods& g) { g.digit = 10; }, 10},
    };
    for (const Case& c : cases) {
        Goods g = Sample();
        c.change(g);
        CChrArr rec;
        EXPECT_EQ(BuildGoodsRecord(g, rec), c.code) << c.what;
        EXPECT_EQ(BuildShortGoodsRecord(g, rec), c.code) << c.what;
    }
    Goods g = Sample();
    g.price = 99999999.99;
    CChrArr rec;
    ASSERT_EQ(BuildGoodsRecord(g, rec), 0);
    EXPECT_EQ(ChrMid(rec, 64, 10).ToString(), "9999999999");
}

TEST(TangoRecords, DepartmentRecord) {
    Dept d;
    d.number = 7;
    d.name = PL("Słodycze");
    d.price = 0.5;
    d.taxGroup = 7;
    d.kind = 3;
    d.kind2 = 2;
    d.number2 = 9;
    CChrArr rec;
    ASSERT_EQ(BuildDeptRecord(d, rec), 0);
    const std::string name852 = Cp1250ToCp852(CChrArr(PL("Słodycze"))).ToString();
    EXPECT_EQ(rec.ToString(), "H107" + Pad(name852, 18) + "0000000050" + "Z" + "1101" + "09");
    Dept back;
    ASSERT_TRUE(ParseDeptRecord(rec, back));
    EXPECT_EQ(back.number, 7u);
    EXPECT_EQ(back.name, PL("Słodycze"));
    EXPECT_DOUBLE_EQ(back.price, 0.5);
    EXPECT_EQ(back.taxGroup, 7u);
    EXPECT_EQ(back.kind, 3u);
    EXPECT_EQ(back.kind2, 2u);
    EXPECT_EQ(back.number2, 9u);
    d.kind = 4;
    EXPECT_EQ(BuildDeptRecord(d, rec), 10);
    d.kind = 1;
    d.kind2 = 3;
    EXPECT_EQ(BuildDeptRecord(d, rec), 10);
}

// Every number of a record the register sends must be all digits (the flag
// word all hexadecimal digits): a blank-padded or signed field fails the
// record instead of reading as 0.
TEST(TangoRecords, NumericFieldsMustBeAllDigits) {
    CChrArr goods, dept;
    ASSERT_EQ(BuildGoodsRecord(Sample(), goods), 0);
    std::string goodsReply = "I#000" + goods.ToString();
    goodsReply.replace(23, 5, "00012");
    Dept d;
    d.number = 7;
    d.name = "Inne";
    d.taxGroup = 1;
    d.price = 2.5;
    ASSERT_EQ(BuildDeptRecord(d, dept), 0);
    const std::string unit = "03" + Pad("kg", 14);
    const std::string report = "U" + PadL("590", 18) + "00012" + Pad("CHLEB", 40) + "00000000002500" + "00000000001250";
    const std::string position = "000003" + std::string("00012") + PadL("590", 18) + Pad("CHLEB", 20) +
                                 "00000001000" + "0000000499";
    struct Field {
        const char* what;
        const std::string* record;
        bool (*parse)(const CChrArr&);
        size_t pos;   // 1-based
        size_t width;
    };
    auto goodsOk = [](const CChrArr& b) { Goods g; return ParseGoodsReply(b, g); };
    auto deptOk = [](const CChrArr& b) { Dept x; return ParseDeptRecord(b, x); };
    auto unitOk = [](const CChrArr& b) { Unit u; return ParseUnitRecord(b, u); };
    auto reportOk = [](const CChrArr& b) { SaleLine l; return ParseReportLine(b, l); };
    auto positionOk = [](const CChrArr& b) { SaleLine l; return ParsePosition(b, l); };
    const std::string deptText = dept.ToString();
    const Field fields[] = {
        {"goods number", &goodsReply, goodsOk, 24, 5},     {"goods price", &goodsReply, goodsOk, 69, 10},
        {"goods digit", &goodsReply, goodsOk, 80, 1},      {"goods flags", &goodsReply, goodsOk, 81, 4},
        {"goods department", &goodsReply, goodsOk, 85, 2}, {"goods number2", &goodsReply, goodsOk, 87, 2},
        {"goods unit", &goodsReply, goodsOk, 107, 2},      {"department number", &deptText, deptOk, 3, 2},
        {"department price", &deptText, deptOk, 23, 10},   {"department number2", &deptText, deptOk, 38, 2},
        {"unit number", &unit, unitOk, 1, 2},              {"report PLU", &report, reportOk, 20, 5},
        {"report quantity", &report, reportOk, 65, 14},    {"report value", &report, reportOk, 79, 14},
        {"position PLU", &position, positionOk, 7, 5},     {"position quantity", &position, positionOk, 50, 11},
        {"position value", &position, positionOk, 61, 10},
    };
    for (const Field& f : fields) {
        EXPECT_TRUE(f.parse(CChrArr(*f.record))) << f.what;
        const std::string digits = f.record->substr(f.pos, f.width - 1);   // the field without its first byte
        for (const std::string& bad : {" " + digits, "-" + digits, "+" + digits}) {
            std::string rec = *f.record;
            rec.replace(f.pos - 1, f.width, bad);
            EXPECT_FALSE(f.parse(CChrArr(rec))) << f.what << " \"" << bad << "\"";
        }
    }
}

TEST(TangoRecords, UnitNumbersOutsideTheRangeAreRefusedWith9999) {
    CChrArr rec;
    for (uint32_t n : {0u, 100u}) {
        Unit u;
        u.number = n;
        u.name = "kg";
        EXPECT_EQ(BuildUnitRecord(u, rec), 9999) << n;
    }
    Unit u;
    u.number = 99;
    u.name = "kg";
    ASSERT_EQ(BuildUnitRecord(u, rec), 0);
    EXPECT_EQ(rec.ToString(), "99" + Pad("kg", 14));
    Goods g = Sample();
    g.unit = 100;
    EXPECT_EQ(BuildGoodsRecord(g, rec), 9999);
}

TEST(TangoRecords, TaxTableAndLetters) {
    double rates[8] = {-3, -3, -3, -3, -3, -3, -1, -3};
    ASSERT_TRUE(ParseTaxTable(CChrArr("0FFFF000099992300055008000500"), rates));
    // "FFFF" is a rate never programmed (-3.0), 9999 the exempt rate (-1.0).
    const double expected[8] = {-3.0, 0.0, -1.0, 23.0, 5.5, 8.0, 5.0, -3.0};
    for (int i = 0; i < 8; ++i) EXPECT_DOUBLE_EQ(rates[i], expected[i]) << i;
    const char* letters = "ABCDEFZ";
    for (uint32_t g = 1; g <= 7; ++g) {
        EXPECT_EQ(TaxLetter(g), static_cast<uint8_t>(letters[g - 1]));
        EXPECT_EQ(DecodeTaxLetter(CChrArr(1, letters[g - 1])), g);
    }
    EXPECT_EQ(TaxLetter(0), ' ');
    EXPECT_EQ(TaxLetter(8), ' ');
    EXPECT_EQ(DecodeTaxLetter(CChrArr("G")), 0u);
    EXPECT_EQ(DecodeTaxLetter(CChrArr("AB")), 0u);
}

TEST(TangoRecords, ReportsAndPositions) {
    const std::string line = "U" + PadL("590", 18) + "00012" + Pad("CHLEB", 40) + "00000000002500" + "00000000001250";
    SaleLine s;
    ASSERT_TRUE(ParseReportLine(CChrArr(line), s));
    EXPECT_EQ(s.code, "590");
    EXPECT_EQ(s.plu, 12u);
    EXPECT_EQ(s.name, "CHLEB");
    EXPECT_DOUBLE_EQ(s.quantity, 2.5);
    EXPECT_DOUBLE_EQ(s.value, 12.5);
    ASSERT_TRUE(ParseReportLine(CChrArr(line + std::string(25, ' ')), s));
    const std::string pos = "000003" + std::string("00012") + PadL("590", 18) + Pad("CHLEB", 20) + "00000001000" +
                            "0000000499";
    ASSERT_TRUE(ParsePosition(CChrArr(pos), s));
    EXPECT_EQ(s.position, 3u);
    EXPECT_TRUE(s.text.empty());
    ASSERT_TRUE(ParsePosition(CChrArr(pos + Pad("RABAT 10%", 32) + std::string(17, ' ')), s));
    EXPECT_EQ(s.text, "RABAT 10%");
    EXPECT_FALSE(ParsePosition(CChrArr("000000" + pos.substr(6)), s));   // position 0
    EXPECT_FALSE(ParsePosition(CChrArr("00A003" + pos.substr(6)), s));
}

}  // namespace
