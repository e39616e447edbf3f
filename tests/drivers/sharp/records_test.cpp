// The Sharp record layer: letter maps, hex names, barcode keys, the goods
// and department builders of every class and their parsers, the option
// flags and the file headers of each class.
#include <cmath>
#include <cstring>
#include <limits>

#include "drivers/sharp/csharp277.h"
#include "drivers/sharp/csharp285.h"
#include "drivers/sharp/csharp455.h"
#include "drivers/sharp/csharp457.h"
#include "sharp_fixture.h"

namespace orv::test {
namespace {

using Keying = CSharpLink::Keying;

std::string HexName(const std::string& name, size_t width) {
    std::string padded = name.substr(0, width);
    padded.resize(width, ' ');
    return Text(SharpTextToHex(SharpCp1250ToDevice(CChrArr(padded))));
}

TEST(SharpRecords, The18LettersMapToTheRegistersBytesAndBack) {
    const std::string cp1250 = "\xA5\xC6\xCA\xA3\xD1\xD3\x8C\x8F\xAF\xB9\xE6\xEA\xB3\xF1\xF3\x9C\x9F\xBF";
    const std::string device = "\xC4\xC5\xC7\xCA\xCC\xC6\xCB\xC9\xC8\xCD\xCE\xD0\xD3\xD5\xCF\xD4\xD2\xD1";
    EXPECT_EQ(Text(SharpCp1250ToDevice(CChrArr(cp1250))), device);
    EXPECT_EQ(Text(SharpDeviceToCp1250(CChrArr(device))), cp1250);
    // One pass: a letter is converted once even where the tables overlap.
    EXPECT_EQ(Text(SharpCp1250ToDevice(CChrArr("\xCA\xD3"))), "\xC7\xC6");
    EXPECT_EQ(Text(SharpCp1250ToDevice(CChrArr("Ab 1"))), "Ab 1");

    EXPECT_EQ(Text(SharpTextToHex(CChrArr("AB\xC4"))), "4142C4");
    EXPECT_EQ(Text(SharpHexToText(CChrArr("4142c4"))), "AB\xC4");
    for (const char* bad : {"", "4", "414", "4G"}) EXPECT_TRUE(SharpHexToText(CChrArr(bad)).IsEmpty()) << bad;
}

TEST(SharpRecords, BarcodeKeysByTheClassesPrefixTables) {
    struct Case {
        const SharpTraits* traits;
        const char* code;
        const char* key;   // nullptr: error 108
    };
    const Case cases[] = {
        {&kSharp457Traits, " 12345678 ", "10000012345678"},
        {&kSharp457Traits, "1234567890123", "01234567890123"},
        {&kSharp457Traits, "123456", "50000000123456"},
        {&kSharp457Traits, "123456789012", "40123456789012"},
        {&kSharp457Traits, "1234567", "00000001234567"},
        {&kSharp457Traits, "", nullptr},
        {&kSharp457Traits, "   ", nullptr},
        {&kSharp457Traits, "12345678901234", nullptr},
        {&kSharp457Traits, "12\xB3", nullptr},
        {&kSharp457Traits, "12\x01", nullptr},
        {&kSharp277Traits, "123456", "60000000123456"},
        {&kSharp277Traits, "12345678", "20000012345678"},
        {&kSharp277Traits, "123456789012", "50123456789012"},
        {&kSharp277Traits, "1234567890123", "11234567890123"},
        {&kSharp277Traits, "1234567", "00000001234567"},
        {&kSharp277Traits, "12345678901234", nullptr},
        {&kSharp285Traits, "12345678", "0020000012345678"},
        {&kSharp285Traits, "1234567890123", "0011234567890123"},
        {&kSharp285Traits, "", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.traits->name) + " [" + c.code + "]");
        CChrArr key;
        int error = 0;
        EXPECT_EQ(SharpNormaliseBarcode(*c.traits, CChrArr(c.code), key, error), c.key ? 1 : 0);
        if (c.key) {
            EXPECT_EQ(Text(key), c.key);
            CChrArr code;
            ASSERT_EQ(SharpDecodeBarcode(*c.traits, key, code, error), 1);
            // 13 digits come back for the lengths without a prefix of their own.
            const std::string trimmed = Text(ChrTrim(CChrArr(c.code), ' '));
            EXPECT_EQ(Text(code), trimmed.size() == 7 ? std::string("000000") + trimmed : trimmed);
        } else {
            EXPECT_EQ(error, 108);
        }
    }
    CChrArr code;
    int error = 0;
    EXPECT_EQ(SharpDecodeBarcode(kSharp457Traits, CChrArr("123"), code, error), 0);
    EXPECT_EQ(error, 108);
    error = 0;
    EXPECT_EQ(SharpDecodeBarcode(kSharp285Traits, CChrArr("10000012345678"), code, error), 0);
    EXPECT_EQ(error, 108);
}

TEST(SharpRecords, OptionFlags) {
    struct Case {
        int flags;
        int nameMode, second, barcode, third;
    };
    const Case s457[] = {{0x10, 15, 1, 0, 0}, {0x11, 15, 1, 0, 0}, {0x01, 1, 1, 0, 0},
                         {0x00, 0, 1, 0, 0},  {0x06, 0, 1, 1, 1},  {0x80, 0, 1, 0, 0}};
    const Case s285[] = {{0x10, 0, 0, 0, 0}, {0x81, 1, 1, 0, 0}, {0x00, 0, 0, 0, 0}, {0x07, 1, 0, 1, 1}};
    for (const Case& c : s457) {
        CSharp457 s;
        EXPECT_EQ(s.SetOptions(42, c.flags), 42);
        EXPECT_EQ(s.m_nNameMode, c.nameMode) << c.flags;
        EXPECT_EQ(s.m_nSecondOption, c.second) << c.flags;
        EXPECT_EQ(s.m_nBarcodeOption, c.barcode) << c.flags;
        EXPECT_EQ(s.m_nThirdOption, c.third) << c.flags;
        EXPECT_EQ(s.m_nFifthOption, 1);
        EXPECT_EQ(s.m_nMachine, 42);
    }
    for (const Case& c : s285) {
        CSharp285 s;
        EXPECT_EQ(s.SetParams(3, c.flags), 3);
        EXPECT_EQ(s.m_nNameMode, c.nameMode) << c.flags;
        EXPECT_EQ(s.m_nSecondOption, c.second) << c.flags;
        EXPECT_EQ(s.m_nBarcodeOption, c.barcode) << c.flags;
        EXPECT_EQ(s.m_nThirdOption, c.third) << c.flags;
    }
    // Defaults before any option is set.
    CSharp457 d457;
    EXPECT_EQ(d457.m_nNameMode, 15);
    EXPECT_EQ(d457.NameWidth(), 12);
    EXPECT_EQ(d457.m_nMachine, 1);
    CSharp285 d285;
    EXPECT_EQ(d285.m_nNameMode, 0);
    EXPECT_EQ(d285.NameWidth(), 24);
    EXPECT_EQ(d285.m_nBarcodeOption, 1);
    CSharp277 s277;
    EXPECT_EQ(s277.m_nNameMode, 15);
    EXPECT_EQ(s277.SetOptions(5, 0x01, 1), 5);
    EXPECT_EQ(s277.m_nPsModel, 1);
    EXPECT_EQ(s277.NameWidth(), 16);
}

TEST(SharpRecords, FileHeadersOfEachClass) {
    struct Case {
        const char* what;
        SharpHeader header;
        std::vector<uint32_t> first11;   // h0..h10
    };
    CSharp457 s457;
    CSharp455 s455;
    CSharp277 s277;
    CSharp277 s277ps;
    s277ps.SetOptions(1, 0x10, 1);
    CSharp285 s285;
    const Case cases[] = {
        {"457 goods", s457.GoodsHeader(Keying::ByNumber, true), {0x11, 0, 0, 0, 1, 1, 3, 7, 0, 4, 12}},
        {"457 barcodes", s457.GoodsHeader(Keying::ByBarcode, false), {0x31, 0, 0, 0, 1, 1, 7, 8, 2, 4, 0}},
        {"457 prices", s457.PricesHeader(Keying::ByNumber), {0x11, 0, 0, 0, 1, 1, 3, 0, 0, 4, 0}},
        {"457 barcode prices", s457.PricesHeader(Keying::ByBarcode), {0x31, 0, 0, 0, 1, 1, 7, 0, 0, 4, 0}},
        {"457 departments", s457.DeptHeader(), {1, 0, 1, 0, 1, 1, 1, 7, 0, 4, 16}},
        {"457 delete", s457.DeleteHeader(Keying::ByBarcode), {0x31, 0, 0, 0, 1, 1, 7, 0, 0, 0, 0}},
        {"455 goods", s455.GoodsHeader(Keying::ByNumber, true), {0x11, 0, 0, 0, 1, 1, 6, 7, 0, 4, 12}},
        {"455 departments", s455.DeptHeader(), {1, 0, 1, 0, 1, 1, 2, 7, 0, 4, 16}},
        {"277 goods", s277.GoodsHeader(Keying::ByNumber, true), {0x11, 0, 0, 0, 1, 1, 2, 2, 0, 4, 12}},
        {"277 PS delete", s277ps.DeleteHeader(Keying::ByBarcode), {0x11, 0, 0, 0, 1, 1, 7, 0, 0, 0, 0}},
        {"277 delete", s277.DeleteHeader(Keying::ByNumber), {0x11, 0, 0, 0, 1, 1, 2, 0, 0, 0, 0}},
        {"285 goods", s285.GoodsHeader(Keying::ByBarcode, true), {0x31, 0, 0, 0, 1, 1, 8, 5, 0, 4, 24}},
        {"285 prices", s285.PricesHeader(Keying::ByBarcode), {0x31, 0, 0, 0, 1, 1, 8, 0, 0, 4, 0}},
        {"285 departments", s285.DeptHeader(), {1, 0, 1, 0, 1, 1, 1, 7, 0, 4, 24}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (int i = 0; i < 11; ++i) EXPECT_EQ(c.header[i], c.first11[static_cast<size_t>(i)]) << "h" << i;
        for (int i = 11; i < 86; ++i) EXPECT_EQ(c.header[i], 0u) << "h" << i;
    }
}

struct BuildCase {
    const char* what;
    CSharpLink* link;
    SharpHeader header;
    Keying keying;
    SharpPluRow row;
    const char* record;   // nullptr: refused
    int error;
};

TEST(SharpRecords, GoodsRecordsOfEveryClass) {
    CSharp457 s457;
    s457.SetOptions(1, 0x01);   // 16-character names
    CSharp457 s457m15;          // name mode 15: 12 characters
    CSharp455 s455;
    CSharp277 s277;
    CSharp277 s277ps;
    s277ps.SetOptions(1, 0x00, 1);   // 8-character names, PS
    CSharp285 s285;                   // 24-character names

    SharpPluRow milk = Row(7, "", "MLEKO", 3, 12.34);
    milk.tax = 2;
    milk.flag = 1;
    SharpPluRow ean = Row(0, " 12345678 ", "A", 3, 1.5);
    ean.dept2 = 4;
    ean.eanOption = 1;
    SharpPluRow s285row = Row(0, "12345678", "\xA3\xF3\x64\x9F", 5, 2.0);   // "Łódź"
    s285row.tax = 1;
    s285row.flag = 1;
    s285row.extra = 3;
    SharpHeader twice = s285.GoodsHeader(Keying::ByBarcode, false);
    twice[9] = 8;

    const std::string mlekoHex16 = HexName("MLEKO", 16);
    const std::string lodz24 = HexName("\xA3\xF3\x64\x9F", 24);
    auto prices = [](CSharpLink& l) { return l.PricesHeader(Keying::ByNumber); };
    auto with = [](SharpPluRow r, uint32_t number, double price) {
        r.number = number;
        r.price = price;
        return r;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();

    const BuildCase cases[] = {
        {"457 by number", &s457, s457.GoodsHeader(Keying::ByNumber, false), Keying::ByNumber, milk,
         "000007" "03000101020010" "00001234", 0},
        {"457 by barcode", &s457, s457.GoodsHeader(Keying::ByBarcode, false), Keying::ByBarcode, ean,
         "10000012345678" "0304010101000000" "0000" "00000150", 0},
        {"457 key 1", &s457, prices(s457), Keying::ByNumber, with(milk, 1, 1), "000001" "00000100", 0},
        {"457 key 999999", &s457, prices(s457), Keying::ByNumber, with(milk, 999999, 1), "999999" "00000100", 0},
        {"457 key 1000000", &s457, prices(s457), Keying::ByNumber, with(milk, 1000000, 1), nullptr, 105},
        {"457 key 0", &s457, prices(s457), Keying::ByNumber, with(milk, 0, 1), nullptr, 105},
        {"457 999999.99", &s457, prices(s457), Keying::ByNumber, with(milk, 1, 999999.99), "000001" "99999999", 0},
        {"457 1000000.00", &s457, prices(s457), Keying::ByNumber, with(milk, 1, 1000000.00), nullptr, 9999},
        {"457 -1", &s457, prices(s457), Keying::ByNumber, with(milk, 1, -1), nullptr, 9999},
        {"457 NaN", &s457, prices(s457), Keying::ByNumber, with(milk, 1, nan), nullptr, 9999},
        {"457 0.005", &s457, prices(s457), Keying::ByNumber, with(milk, 1, 0.005), "000001" "00000000", 0},
        {"457 department 0", &s457, s457.GoodsHeader(Keying::ByNumber, false), Keying::ByNumber,
         Row(1, "", "", 0, 1), nullptr, 9999},
        {"457 department 100", &s457, s457.GoodsHeader(Keying::ByNumber, false), Keying::ByNumber,
         Row(1, "", "", 100, 1), nullptr, 9999},
        {"457 bad barcode", &s457, s457.GoodsHeader(Keying::ByBarcode, false), Keying::ByBarcode,
         Row(0, "1234\xB3", "", 1, 1), nullptr, 108},
        {"455 by number", &s455, prices(s455), Keying::ByNumber, with(milk, 123, 1), "000000000123" "00000100", 0},
        {"277 by number", &s277, s277.GoodsHeader(Keying::ByNumber, false), Keying::ByNumber, with(milk, 9999, 1),
         "9999" "0300" "00000100", 0},
        {"277 key 10000", &s277, prices(s277), Keying::ByNumber, with(milk, 10000, 1), nullptr, 105},
        {"277 department 100", &s277, s277.GoodsHeader(Keying::ByNumber, false), Keying::ByNumber,
         Row(1, "", "", 100, 1), nullptr, 9999},
        {"277 PS", &s277ps, s277ps.GoodsHeader(Keying::ByBarcode, false), Keying::ByBarcode,
         Row(5, "12345678", "", 2, 1), "20000012345678" "0200" "00000100", 0},
        {"285 with name", &s285, s285.GoodsHeader(Keying::ByBarcode, true), Keying::ByBarcode, s285row, nullptr, 0},
        {"285 price twice", &s285, twice, Keying::ByBarcode, s285row,
         "0020000012345678" "0501100403" "00000200" "00000200", 0},
        {"285 extra 100", &s285, twice, Keying::ByBarcode, [&] {
             SharpPluRow r = s285row;
             r.extra = 100;
             return r;
         }(), nullptr, 9999},
    };
    for (const BuildCase& c : cases) {
        SCOPED_TRACE(c.what);
        c.link->m_nError = 0;
        CChrArr out;
        const int r = c.link->BuildGoodsRecord(c.header, c.row, c.keying, out);
        if (c.record) {
            EXPECT_EQ(r, 1) << c.link->m_nError;
            EXPECT_EQ(Text(out), c.record);
        } else if (c.error) {
            EXPECT_EQ(r, 0);
            EXPECT_EQ(c.link->m_nError, c.error);
            EXPECT_TRUE(out.IsEmpty());
        }
    }
    // Names: converted to the register's letters, padded, cut, hex-coded.
    CChrArr out;
    ASSERT_EQ(s457.BuildPLURecord(s457.GoodsHeader(Keying::ByNumber, true), milk, out), 1);
    EXPECT_EQ(Text(out), "000007" "03000101020010" "00001234" + mlekoHex16);
    SharpPluRow longName = Row(1, "", "ABCDEFGHIJKLMNOP", 1, 1);
    ASSERT_EQ(s457m15.BuildPLURecord(s457m15.GoodsHeader(Keying::ByNumber, true), longName, out), 1);
    EXPECT_EQ(Text(out).substr(28), "4142434445464748494A4B4C");   // 12 characters, 24 digits
    ASSERT_EQ(s285.BuildPLURecord(s285.GoodsHeader(Keying::ByBarcode, true), s285row, out), 1);
    EXPECT_EQ(Text(out), "0020000012345678" "0501100403" "00000200" + lodz24);
    EXPECT_EQ(lodz24.substr(0, 8), "CACF64D2");   // Ł ó d ź on the register
}

TEST(SharpRecords, DepartmentRecords) {
    CSharp457 s457;
    CSharp455 s455;
    SharpDeptRow d;
    d.number = 1;
    std::strcpy(d.name, "NAPOJE");
    d.word1 = 1, d.word2 = 2, d.word3 = 3, d.word4 = 4, d.word5 = 5, d.word6 = 6;
    d.amount = 10.5;
    CChrArr out;
    ASSERT_EQ(s457.BuildDeptRecord(s457.DeptHeader(), d, out), 1);
    EXPECT_EQ(Text(out), "01" "01020304050600" "00001050" + HexName("NAPOJE", 16));
    SharpDeptRow back;
    ASSERT_EQ(s457.ParseDeptRecord(s457.DeptHeader(), out, back), 1);
    EXPECT_EQ(back.number, 1u);
    EXPECT_STREQ(back.name, "NAPOJE");
    EXPECT_EQ(back.word6, 6u);
    EXPECT_EQ(back.amount, 10.5);

    struct Case {
        CSharpLink* link;
        uint32_t number;
        uint32_t word;
        double amount;
        int error;
    };
    const Case cases[] = {{&s457, 0, 0, 0, 110},   {&s457, 100, 0, 0, 110},   {&s457, 99, 100, 0, 9999},
                          {&s457, 99, 0, -1, 9999}, {&s455, 100, 0, 0, 0},     {&s455, 10000, 0, 0, 110}};
    for (const Case& c : cases) {
        SharpDeptRow r;
        r.number = c.number;
        r.word3 = c.word;
        r.amount = c.amount;
        c.link->m_nError = 0;
        EXPECT_EQ(c.link->BuildDeptRecord(c.link->DeptHeader(), r, out), c.error ? 0 : 1) << c.number;
        EXPECT_EQ(c.link->m_nError, c.error) << c.number;
    }
    ASSERT_EQ(s455.BuildDeptRecord(s455.DeptHeader(), d, out), 1);
    EXPECT_EQ(Text(out).substr(0, 4), "0001");
}

TEST(SharpRecords, ParsersReadWhatTheBuildersWrite) {
    CSharp457 s457;
    CSharp285 s285;
    CSharp277 s277;
    SharpPluRow r = Row(42, "", "\xA5\xE6 ser", 12, 3.99);   // "Ąć ser"
    r.tax = 3;
    r.dept2 = 7;
    r.flag = 1;
    struct Case {
        CSharpLink* link;
        Keying keying;
        SharpPluRow row;
    };
    SharpPluRow e = r;
    e.number = 0;
    std::strcpy(e.code, "5901234123457");
    e.eanOption = 1;
    e.tax = 0;   // the barcode record has no tax pair
    SharpPluRow p = e;
    p.tax = 2;
    p.extra = 9;
    p.dept2 = 0;
    p.eanOption = 0;
    SharpPluRow n277 = r;
    n277.tax = 0, n277.dept2 = 0, n277.flag = 0;
    for (const Case& c : {Case{&s457, Keying::ByNumber, r}, Case{&s457, Keying::ByBarcode, e},
                          Case{&s285, Keying::ByBarcode, p}, Case{&s277, Keying::ByNumber, n277}}) {
        SCOPED_TRACE(c.link->Traits().name);
        const SharpHeader h = c.link->GoodsHeader(c.keying, true);
        CChrArr record;
        ASSERT_EQ(c.link->BuildGoodsRecord(h, c.row, c.keying, record), 1);
        SharpPluRow back;
        ASSERT_EQ(c.link->ParseGoodsRecord(h, record, back), 1);
        EXPECT_EQ(back.number, c.row.number);
        EXPECT_STREQ(back.code, c.row.code);
        EXPECT_STREQ(back.name, c.row.name);
        EXPECT_EQ(back.dept, c.row.dept);
        EXPECT_EQ(back.dept2, c.row.dept2);
        EXPECT_EQ(back.tax, c.row.tax);
        EXPECT_EQ(back.flag, c.row.flag);
        EXPECT_EQ(back.extra, c.row.extra);
        EXPECT_EQ(back.eanOption, c.row.eanOption);
        EXPECT_DOUBLE_EQ(back.price, c.row.price);
        // A record one character short does not split.
        EXPECT_EQ(c.link->ParseGoodsRecord(h, record.Left(record.GetLength() - 1), back), 0);
        EXPECT_EQ(c.link->m_nError, 9999);
    }
}

}  // namespace
}  // namespace orv::test
