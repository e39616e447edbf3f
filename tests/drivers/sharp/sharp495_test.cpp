// The 495 protocol: options, record layouts, headers and clear keys, and a
// round trip through the emulator.
#include <cstring>

#include "drivers/sharp/csharp495.h"
#include "sharp_fixture.h"

namespace orv::test {
namespace {

using Keying = CSharpLink::Keying;

TEST(Sharp495, OptionFlags) {
    struct Case {
        int flags, nameMode, second, nameWidth, deptWidth;
    };
    const Case cases[] = {{0x10, 0, 0, 8, 8}, {0x81, 1, 1, 16, 16}, {0x00, 0, 0, 8, 8}, {0x80, 0, 1, 8, 16}};
    for (const Case& c : cases) {
        CSharp495 s;
        EXPECT_EQ(s.SetOptions(9, c.flags), 9);
        EXPECT_EQ(s.m_nNameMode, c.nameMode) << c.flags;
        EXPECT_EQ(s.m_nSecondOption, c.second) << c.flags;
        EXPECT_EQ(s.NameWidth(), c.nameWidth) << c.flags;
        EXPECT_EQ(s.DeptHeader()[10], static_cast<uint32_t>(c.deptWidth)) << c.flags;
    }
    CSharp495 d;
    EXPECT_EQ(d.m_nNameMode, 1);
    EXPECT_EQ(d.m_nSecondOption, 1);
}

TEST(Sharp495, RecordsAndHeaders) {
    CSharp495 s;
    SharpPluRow r;
    r.number = 7;
    r.dept = 3;
    r.tax = 2;
    r.flag = 1;   // no status pair on the 495
    r.price = 1.0;
    std::strcpy(r.name, "SER");
    CChrArr out;
    ASSERT_EQ(s.BuildPLURecord(s.GoodsHeader(Keying::ByNumber, true), r, out), 1);
    std::string name = "SER" + std::string(13, ' ');
    EXPECT_EQ(Text(out), "000007" "0300000102000000" "00000100" + Text(SharpTextToHex(CChrArr(name))));
    EXPECT_EQ(Text(out).size(), 6u + 16 + 8 + 32);

    const SharpHeader ean = s.GoodsHeader(Keying::ByBarcode, false);
    EXPECT_EQ(ean[7], 7u);
    EXPECT_EQ(ean[8], 2u);
    EXPECT_EQ(ean[9], 4u);
    EXPECT_EQ(ean[10], 0u);
    std::strcpy(r.code, "12345678");
    r.eanOption = 1;
    ASSERT_EQ(s.BuildEANRecord(ean, r, out), 1);
    EXPECT_EQ(Text(out), "10000012345678" "03000001010000" "0000" "00000100");
    SharpPluRow back;
    ASSERT_EQ(s.ParseEANRecord(ean, out, back), 1);
    EXPECT_STREQ(back.code, "12345678");
    EXPECT_EQ(back.eanOption, 1u);
    EXPECT_EQ(back.dept, 3u);

    r.dept2 = 100;
    EXPECT_EQ(s.BuildPLURecord(s.GoodsHeader(Keying::ByNumber, false), r, out), 0);
    EXPECT_EQ(s.m_nError, 9999);
}

TEST_F(SharpTest, The495ClearsWithShortKeysAndReadsBack) {
    SharpEmulator& emu = StartDevice(kSharp495Traits);
    CSharp495 s;
    OpenLink(s);
    ASSERT_EQ(s.ClearPLUCounters(), 1) << s.m_nError;
    ASSERT_EQ(s.ClearEANCounters(), 1) << s.m_nError;
    EXPECT_EQ(emu.JobCodes(), (std::vector<std::string>{"/32-01/0109/", "/32-01/0120/"}));

    SharpPluRow rows[2];
    rows[0].number = 1;
    rows[0].dept = 1;
    rows[0].price = 2.5;
    std::strcpy(rows[0].name, "Mak");
    rows[1] = rows[0];
    rows[1].number = 2;
    ASSERT_EQ(s.SendPLUs(rows, 2, 1), 1) << s.m_nError;
    std::vector<SharpPluRow> got;
    ASSERT_EQ(s.ReadAllPLUsByNumber([&](const SharpPluRow& r) { got.push_back(r); }), 1) << s.m_nError;
    ASSERT_EQ(got.size(), 2u);
    EXPECT_STREQ(got[1].name, "Mak");
    EXPECT_EQ(got[1].number, 2u);
    EXPECT_DOUBLE_EQ(got[1].price, 2.5);
}

}  // namespace
}  // namespace orv::test
