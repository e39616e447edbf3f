// The Medesa frame (checksum, escaping, validity), packed BCD, the scale's
// letters, and the nine blocks of a goods record built and read back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "drivers/medesa/cmd_ecr.h"
#include "drivers/medesa/cmedesa.h"
#include "sim/emulator_base.h"

namespace {

using orv::test::Bytes;
using orv::test::Hex;

CChrArr A(const Bytes& b) { return CChrArr(b.data(), b.size()); }
Bytes ToBytes(const CChrArr& a) { return Bytes(a.data(), a.data() + a.GetLength()); }

TEST(MedesaFrame, ChecksumAndEscaping) {
    EXPECT_EQ(CMedesa::Checksum(A({0x01, 0x00, 0x4B, 0x21})), 0x93);
    EXPECT_EQ(CMedesa::Checksum(A({0x80, 0x80})), 0x00);   // a multiple of 256
    EXPECT_EQ(CMedesa::Checksum(A({})), 0x00);
    const struct {
        Bytes in, out;
    } cases[] = {
        {{0x7C}, {0x7E, 0x00}}, {{0x7D}, {0x7E, 0x01}}, {{0x7E}, {0x7E, 0x02}},
        {{0x7F}, {0x7E, 0x03}}, {{0x7B, 0x80}, {0x7B, 0x80}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Hex(ToBytes(CMedesa::Escape(A(c.in)))), Hex(c.out));
        EXPECT_EQ(Hex(ToBytes(CMedesa::Unescape(A(c.out)))), Hex(c.in));
    }
    // 7E before any other byte stays 7E; a 7E at the end is dropped.
    EXPECT_EQ(Hex(ToBytes(CMedesa::Unescape(A({0x7E, 0x05, 0x41, 0x7E})))), "7E 41");

    const CChrArr head = CMedesa::FrameHead(A({0x01, 0x00, 0x4C, 0x02, 0x7E}));
    EXPECT_EQ(Hex(ToBytes(head)), "7C 7C 01 00 4C 02 7E 02 33");
    CChrArr body;
    ASSERT_TRUE(CMedesa::FrameBody(head + uint8_t{0x7D}, body));
    EXPECT_EQ(Hex(ToBytes(body)), "01 00 4C 02 7E");
    EXPECT_FALSE(CMedesa::FrameBody(A({0x7C, 0x7C, 1, 2, 3, 4, 5, 0x7D}), body));        // 8 bytes
    EXPECT_FALSE(CMedesa::FrameBody(A({0x7C, 0x31, 1, 2, 3, 4, 5, 6, 0x7D}), body));     // no "||"
    EXPECT_FALSE(CMedesa::FrameBody(A({0x7C, 0x7C, 0x01, 0x00, 0x4C, 0x02, 0x7E, 0x02, 0x34, 0x7D}), body));   // checksum 33 expected
}

TEST(MedesaFrame, PackedBcdAndLetters) {
    EXPECT_EQ(Hex(ToBytes(CMedesa::PackBcd("999999"))), "99 99 99");
    EXPECT_EQ(Hex(ToBytes(CMedesa::PackBcd("123"))), "12 30");
    EXPECT_TRUE(CMedesa::PackBcd("12a4").IsEmpty());
    EXPECT_EQ(CMedesa::UnpackBcd(A({0x12, 0xF4, 0xAB})), "12-4??");
    EXPECT_EQ(CMedesa::UnpackBcd(A({0x1F})), "1?");   // F only counts as "-" in a high nibble

    const std::string polish = "\xA5\xC6\xCA\xA3\xD1\xD3\x8C\x8F\xAF\xB9\xE6\xEA\xB3\xF1\xF3\x9C\x9F\xBF";
    EXPECT_EQ(Hex(ToBytes(Cp1250ToMedesa(CChrArr(polish)))),
              "5B 7C 7D 5D 7B 40 3C 3E 37 C1 C3 C6 CA CC CD D1 D6 D7");
    EXPECT_EQ(MedesaToCp1250(Cp1250ToMedesa(CChrArr(polish))).ToString(), polish);
    EXPECT_EQ(MedesaToCp1250(CChrArr("A7")).ToString(), "A\xAF");   // 7 and Ż share a byte
}

MedesaPlu Sample() {
    MedesaPlu p;
    p.plu = 10000;
    p.code = "5901234123457";
    p.name = "\xA3" "oso\x9C";   // "Łosoś"
    p.labelType = 2;
    p.price = 9999.99;
    p.price2 = 12.5;
    p.vatGroup = 2;
    p.department = 39;
    p.flags = 3;
    p.dayCount = 0;
    p.dateText = "31.12.26";
    p.marker = 1;
    p.lines[0] = "Linia 1";
    p.lines[2] = "Linia 3";
    return p;
}

TEST(MedesaFrame, PluBlocksAreByteExact) {
    CMedesa proto;
    CChrArr blocks[CMedesa::kBlocks];
    ASSERT_EQ(proto.BuildPluBlocks(Sample(), blocks), 0);
    const std::string pad18(19, ' ');
    // Block 0: 10000 = 27 10; name; 99 99 99; (2-1)*64 + 38 = 0x66; code digits 7..12; 2*16 + 80 + 01.
    EXPECT_EQ(Hex(ToBytes(blocks[0])),
              Hex(orv::test::B(std::string("\x10\x27\x00", 3) + "]oso\xD1" + pad18 + "\x99\x99\x99\x66\x41\x23\x45\xA1")));
    // Block 1: line 1, second price 001250, marker 1, date 31 12 26, 00.
    EXPECT_EQ(Hex(ToBytes(blocks[1])),
              Hex(orv::test::B(std::string("\x10\x27\x01", 3) + "Linia 1" + std::string(17, ' ') +
                               std::string("\x00\x12\x50\x01\x31\x12\x26\x00", 8))));
    // Block 2: Y = 20 (the date text holds); block 3: code digits 1..6.
    EXPECT_EQ(Hex(ToBytes(blocks[2].Mid(27))), "00 00 00 20 00 00 00 00");
    EXPECT_EQ(Hex(ToBytes(blocks[3].Mid(27))), "00 00 00 00 59 01 23 00");
    EXPECT_EQ(Hex(ToBytes(blocks[8].Mid(27))), "00 00 00 00 00 00 00 00");

    // Read back through the blocks as the scale returns them.
    MedesaPlu back;
    for (int b = 0; b < CMedesa::kBlocks; ++b) {
        const CChrArr reply = A({1, 0, 0x4B, 0x01}) + blocks[b];
        CMedesa::ParsePluBlock(b, reply, back);
    }
    EXPECT_EQ(back.plu, 10000u);
    EXPECT_EQ(back.code, "590123412345 ");   // the 13th digit is not kept; a blank in its place
    EXPECT_EQ(back.name, "\xA3oso\x9C" + std::string(19, ' '));
    EXPECT_DOUBLE_EQ(back.price, 9999.99);
    EXPECT_DOUBLE_EQ(back.price2, 12.5);
    EXPECT_EQ(back.vatGroup, 2u);
    EXPECT_EQ(back.department, 39u);
    EXPECT_EQ(back.labelType, 2u);
    EXPECT_EQ(back.flags, 3u);
    EXPECT_EQ(back.marker, 1u);
    EXPECT_EQ(back.dateText, "31.12.26");
    EXPECT_EQ(back.dayCount, 0u);

    // A day count instead of the date.
    MedesaPlu days = Sample();
    days.dayCount = 14;
    ASSERT_EQ(proto.BuildPluBlocks(days, blocks), 0);
    EXPECT_EQ(Hex(ToBytes(blocks[1].Mid(27))), "00 12 50 01 00 00 14 00");
    EXPECT_EQ(Hex(ToBytes(blocks[2].Mid(27))), "00 00 00 00 00 00 00 00");
    CMedesa::ParsePluBlock(1, A({1, 0, 0x4B, 0x01}) + blocks[1], back);
    EXPECT_EQ(back.dayCount, 14u);
    EXPECT_EQ(back.dateText, "");
}

TEST(MedesaFrame, RefusedRecords) {
    struct Case {
        const char* what;
        void (*set)(MedesaPlu&);
        int code;
    };
    const Case cases[] = {
        {"PLU 0", [](MedesaPlu& p) { p.plu = 0; }, 105},
        {"PLU 10001", [](MedesaPlu& p) { p.plu = 10001; }, 105},
        {"price 10000.00", [](MedesaPlu& p) { p.price = 10000.0; }, 109},
        {"negative price", [](MedesaPlu& p) { p.price = -1.0; }, 109},
        {"second price", [](MedesaPlu& p) { p.price2 = 10000.0; }, 109},
        {"department 40", [](MedesaPlu& p) { p.department = 40; }, 110},
        {"department 0", [](MedesaPlu& p) { p.department = 0; }, 110},
        {"letter in the code", [](MedesaPlu& p) { p.code = "59012X4123457"; }, 9999},
        {"date not dd.mm.yy", [](MedesaPlu& p) { p.dateText = "31-12-26"; }, 9999},
        {"empty date", [](MedesaPlu& p) { p.dateText = ""; }, 9999},
        {"day count too big", [](MedesaPlu& p) { p.dayCount = 1000000; }, 9999},
        {"VAT group 7 goes as 1", [](MedesaPlu& p) { p.vatGroup = 7; }, 0},
        {"letter in the 13th place", [](MedesaPlu& p) { p.code = "590123412345X"; }, 0},
    };
    CMedesa proto;
    for (const Case& c : cases) {
        MedesaPlu p = Sample();
        c.set(p);
        CChrArr blocks[CMedesa::kBlocks];
        EXPECT_EQ(proto.BuildPluBlocks(p, blocks), c.code) << c.what;
    }
}

TEST(MedesaFrame, HostRecords) {
    EcrItemRecord item{};
    item.number = 7;
    std::strcpy(item.code, "12345678901234567");
    std::strcpy(item.name, "Kabanosy wieprzowe z czosnkiem");
    std::strcpy(item.text236, "01.02.27");
    std::strcpy(item.scale_text[7], "Ostatnia linia tekstu et");   // a full field: no terminator of its own
    item.scale_text[7][24] = 'x';
    item.price2 = 2.0;
    item.word148 = 1;
    item.word152 = 3;
    item.word156 = 1;
    item.attr2 = 2;
    const MedesaPlu p = CMD_ECR::ToDevice(item);
    EXPECT_EQ(p.code, "1234567890123");
    EXPECT_EQ(p.name, "Kabanosy wieprzowe z czo");
    EXPECT_EQ(p.lines[7], "Ostatnia linia tekstu et");
    EXPECT_EQ(p.dateText, "01.02.27");
    const EcrItemRecord back = CMD_ECR::ToHost(p);
    EXPECT_EQ(back.unit, 1u);
    EXPECT_EQ(back.attr1, 0u);
    EXPECT_EQ(back.word148, 1u);
    EXPECT_EQ(back.word152, 3u);
    EXPECT_EQ(back.word156, 1u);
    EXPECT_EQ(back.attr2, 2u);
    EXPECT_STREQ(back.scale_text[7], "Ostatnia linia tekstu et");
}

}  // namespace
