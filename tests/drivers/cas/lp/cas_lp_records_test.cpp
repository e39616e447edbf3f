// CAS LP goods records as the two protocols lay them out, and the checks
// that refuse values the fields cannot hold.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "drivers/cas/cas_lp_logic.h"
#include "drivers/cas/ccaslp1.h"
#include "drivers/cas/ccaslp1_16.h"
#include "sim/emulator_base.h"

namespace {

using orv::test::Bytes;
using orv::test::Hex;

Bytes ToBytes(const CChrArr& a) { return Bytes(a.data(), a.data() + a.GetLength()); }

CasLpPluRecord Sample() {
    CasLpPluRecord r;
    r.plu = 1000;
    r.itemCode = "42";
    r.name1 = "\xAF\xF3\xB3w";      // "Żółw" in code page 1250
    r.name2 = "Kraj: Polska";
    r.price = 12.34;
    r.amount = 0.5;
    r.department = 3;
    r.sellDate = 7;
    r.code = 9;
    return r;
}

std::string Name(const std::string& s) { return s + std::string(28 - s.size(), ' '); }

TEST(CasLpRecords, Lp1RecordIsBigEndian) {
    CChrArr out;
    int error = -1;
    ASSERT_EQ(CCasLP1::BuildRecord(Sample(), out, error), 1);
    Bytes want = {0x00, 0x00, 0x00, 0x2A};
    for (char c : Name("Zolw") + Name("Kraj: Polska")) want.push_back(static_cast<uint8_t>(c));
    for (uint8_t b : {0x00, 0x00, 0x04, 0xD2, 0x00, 0x07, 0x01, 0xF4, 0x00, 0x03, 0x00, 0x09}) want.push_back(b);
    EXPECT_EQ(Hex(ToBytes(out)), Hex(want));

    // Read back: the PLU number in front, the item code as 6-digit text.
    CChrArr read = CCasLpLink::BigEndian(1000, 2) + out;
    const CasLpPluRecord r = CCasLP1::ParseRecord(read);
    EXPECT_EQ(r.plu, 1000u);
    EXPECT_EQ(r.itemCode, "000042");
    EXPECT_EQ(r.name1, Name("Zolw"));
    EXPECT_DOUBLE_EQ(r.price, 12.34);
    EXPECT_DOUBLE_EQ(r.amount, 0.5);
    EXPECT_EQ(r.department, 3u);
    EXPECT_EQ(r.sellDate, 7u);
    EXPECT_EQ(r.code, 9u);
}

TEST(CasLpRecords, Lp16RecordMixesByteOrders) {
    CasLpPluRecord s = Sample();
    s.department = 0x012345;
    CChrArr out;
    int error = -1;
    ASSERT_EQ(CCasLP1_16::BuildRecord(s, out, error), 1);
    Bytes want = {0x2A, 0x00, 0x00, 0x00};
    for (char c : Name("Zolw") + Name("Kraj: Polska")) want.push_back(static_cast<uint8_t>(c));
    for (uint8_t b : {0x00, 0x09, 0xD2, 0x04, 0x00, 0x00, 0x00, 0x07, 0x01, 0xF4, 0x01, 0x23, 0x45}) want.push_back(b);
    EXPECT_EQ(Hex(ToBytes(out)), Hex(want));
    uint8_t x = 0;
    for (uint8_t b : want) x ^= b;
    EXPECT_EQ(CCasLP1_16::CalcChecksum(out), x);

    const CasLpPluRecord r = CCasLP1_16::ParseRecord(out, 77);
    EXPECT_EQ(r.plu, 77u);
    EXPECT_EQ(r.itemCode, "000042");
    EXPECT_DOUBLE_EQ(r.price, 12.34);
    EXPECT_EQ(r.department, 0x012345u);
    EXPECT_EQ(r.code, 9u);
}

TEST(CasLpRecords, ItemCodeAsNumber) {
    EXPECT_EQ(CCasLpLink::ItemCodeNumber("42"), 42u);
    EXPECT_EQ(CCasLpLink::ItemCodeNumber("5901234123457"), 590123u);   // its first 6 characters
    EXPECT_EQ(CCasLpLink::ItemCodeNumber(""), 0u);
    EXPECT_EQ(CCasLpLink::ItemCodeNumber("12ab"), 12u);                 // up to the first non-digit
    EXPECT_EQ(CCasLpLink::ItemCodeText(42), "000042");
    EXPECT_EQ(CCasLpLink::ItemCodeText(1234567), "1234567");
}

TEST(CasLpRecords, ValuesThatDoNotFitAreRefused) {
    struct Case {
        const char* what;
        void (*set)(CasLpPluRecord&);
        int lp1, lp16;
    };
    const Case cases[] = {
        {"9999.99", [](CasLpPluRecord& r) { r.price = 9999.99; }, 0, 0},
        {"10000.00", [](CasLpPluRecord& r) { r.price = 10000.0; }, 109, 109},
        {"negative price", [](CasLpPluRecord& r) { r.price = -0.01; }, 109, 109},
        {"NaN price", [](CasLpPluRecord& r) { r.price = std::nan(""); }, 109, 109},
        {"amount 65.535", [](CasLpPluRecord& r) { r.amount = 65.535; }, 0, 0},
        {"amount 65.536", [](CasLpPluRecord& r) { r.amount = 65.536; }, 109, 109},
        {"negative amount", [](CasLpPluRecord& r) { r.amount = -1.0; }, 109, 109},
        {"infinite amount", [](CasLpPluRecord& r) { r.amount = std::numeric_limits<double>::infinity(); }, 109, 109},
        {"sell date 65536", [](CasLpPluRecord& r) { r.sellDate = 65536; }, 9999, 9999},
        {"code 65536", [](CasLpPluRecord& r) { r.code = 65536; }, 9999, 9999},
        {"department 65536", [](CasLpPluRecord& r) { r.department = 65536; }, 9999, 0},
        {"department 2^24", [](CasLpPluRecord& r) { r.department = 1u << 24; }, 9999, 9999},
    };
    for (const Case& c : cases) {
        CasLpPluRecord r = Sample();
        c.set(r);
        CChrArr out;
        int e1 = 0, e16 = 0;
        CCasLP1::BuildRecord(r, out, e1);
        CCasLP1_16::BuildRecord(r, out, e16);
        EXPECT_EQ(e1, c.lp1) << c.what;
        EXPECT_EQ(e16, c.lp16) << c.what;
    }
}

TEST(CasLpRecords, MapRequestsAndBlocks) {
    EXPECT_EQ(CCasLP1_16::MapRequest(0).ToString(), "r000E71,32\r");
    EXPECT_EQ(CCasLP1_16::MapRequest(1).ToString(), "r000EA3,32\r");
    EXPECT_EQ(CCasLP1_16::MapRequest(80).ToString(), "r001E11,32\r");   // 7697, PLUs 4001..4050
}

TEST(CasLpRecords, HostRecordConversions) {
    EcrItemRecord item{};
    item.number = 12;
    std::strcpy(item.code, "59012341234570000");
    std::strcpy(item.name, "Ser zolty plastry w opakowaniu");
    std::strcpy(item.scale_text[0], "Wyprodukowano w Polsce przez");
    item.price = 3.5;
    item.department = 4;
    item.word152 = 5;
    item.code224 = 6;
    item.amount = 1.25;
    const CasLpPluRecord r = CCasLpLogic::ToDevice(item);
    EXPECT_EQ(r.itemCode, "5901234123457");
    EXPECT_EQ(r.name1, "Ser zolty plastry w ");
    EXPECT_EQ(r.name2, "Wyprodukowano w Polsce p");
    EXPECT_EQ(r.sellDate, 5u);
    EXPECT_EQ(r.code, 6u);

    const EcrItemRecord back = CCasLpLogic::ToHost(r);
    EXPECT_EQ(back.number, 12u);
    EXPECT_EQ(back.vat_group, 1u);
    EXPECT_EQ(back.unit, 1u);
    EXPECT_EQ(back.attr1, 0u);
    EXPECT_EQ(back.department, 4u);
    EXPECT_DOUBLE_EQ(back.amount, 1.25);
    EXPECT_STREQ(back.scale_text[0], "Wyprodukowano w Polsce p");
    EXPECT_EQ(back.attr3, 0u);
    EXPECT_EQ(back.attr4, 0u);
}

}  // namespace
