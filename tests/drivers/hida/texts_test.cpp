// The Hida register's texts: job headers, goods and department data texts
// with their refusals, the reply blocks and the host conversions.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "drivers/hida/chi_ecr.h"
#include "drivers/hida/chida.h"
#include "fakes/recording_host.h"
#include "util/cp1250.h"

namespace orv::test {
namespace {

const std::string kZeros(13, '0');

TEST(HidaTexts, JobHeaders) {
    const struct {
        const char* what;
        CChrArr header;
        std::string expected;
    } cases[] = {
        {"program or delete goods", CHida::BuildJobHeader('U', '1', CChrArr(), CChrArr(), '0'),
         "0101U1" + kZeros + kZeros + "0" + "011..1"},
        {"read all goods", CHida::BuildJobHeader('U', '0', CChrArr("0"), CChrArr("0"), '1'),
         "0101U0" + kZeros + kZeros + "1" + "011..1"},
        {"read one item, blanks trimmed", CHida::BuildJobHeader('U', '0', CChrArr(" 123 "), CChrArr(" 123 "), '0'),
         "0101U0" + std::string("0000000000123") + "0000000000123" + "0" + "011..1"},
        {"a key over 13 keeps its leftmost 13",
         CHida::BuildJobHeader('U', '0', CChrArr("12345678901234"), CChrArr("1"), '0'),
         "0101U0" + std::string("1234567890123") + "0000000000001" + "0" + "011..1"},
        {"program department 7", CHida::BuildJobHeader('T', '1', CChrArr("0000000000007"), CChrArr("0000000000007"), '0'),
         "0101T1" + std::string("0000000000007") + "0000000000007" + "0" + "011..1"},
        {"sales, second pass", CHida::BuildJobHeader('d', '0', CChrArr("0"), CChrArr("0"), '1'),
         "0101d0" + kZeros + kZeros + "1" + "011..1"},
        {"clear sales", CHida::BuildJobHeader('c', '2', CChrArr("0"), CChrArr("0"), '1'),
         "0101c2" + kZeros + kZeros + "1" + "011..1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.header.ToString(), c.expected) << c.what;
        EXPECT_EQ(c.header.GetLength(), 39) << c.what;
    }
}

HidaPlu Plu(const char* code, const char* name, double price, uint32_t dept = 1, int32_t vat = 1, uint32_t flag = 0,
            uint32_t linked = 0) {
    HidaPlu p;
    p.code = CChrArr(code);
    p.name = CChrArr(name);
    p.price = price;
    p.dept = dept;
    p.vat = vat;
    p.flag = flag;
    p.linked = linked;
    return p;
}

TEST(HidaTexts, GoodsDataTexts) {
    const struct {
        const char* what;
        HidaPlu plu;
        uint8_t operation;
        std::string expected;
    } cases[] = {
        {"department 255, VAT 2 with the flag, 12.345 cut", Plu("123", "Chleb", 12.345, 255, 2, 1, 42), '0',
         "01U0" + std::string("0000000000123") + "Chleb       " + "FF" + "00001234" + "0201" + "0042"},
        {"no VAT group, 0.29 is 29 hundredths", Plu("5901234123457", "Mleko", 0.29, 3, -1), '0',
         "01U0" + std::string("5901234123457") + "Mleko       " + "03" + "00000029" + "0000" + "0000"},
        {"delete; a long name is cut to 12", Plu("7", "Bardzo dluga nazwa", 1.0, 0, 8, 0, 9999), '2',
         "01U2" + std::string("0000000000007") + "Bardzo dluga" + "00" + "00000100" + "0800" + "9999"},
        {"Polish letters in the register's codes", Plu("1", PL("ŁĆ"), 999999.99), '0',
         "01U0" + std::string("0000000000001") + "\xAA\xA3" + std::string(10, ' ') + "01" + "99999999" + "0100" +
             "0000"},
    };
    CHida h;
    for (const auto& c : cases) {
        CChrArr text;
        ASSERT_EQ(h.BuildPluText(c.plu, c.operation, text), 1) << c.what << " " << h.m_nError;
        EXPECT_EQ(text.ToString(), c.expected) << c.what;
        EXPECT_EQ(text.GetLength(), 47) << c.what;
    }

    const struct {
        const char* what;
        HidaPlu plu;
        int code;
    } refused[] = {
        {"a 14-character code", Plu("12345678901234", "A", 1.0), 999},
        {"linked PLU 10000", Plu("1", "A", 1.0, 1, 1, 0, 10000), 999},
        {"department 100", Plu("1", "A", 1.0, 100), 999},
        {"VAT group 9", Plu("1", "A", 1.0, 1, 9), 103},
        {"VAT group 0 in the register's record", Plu("1", "A", 1.0, 1, 0), 103},
        {"a negative price", Plu("1", "A", -0.01), 109},
        {"a price above 999999.99", Plu("1", "A", 1000000.0), 109},
        {"NaN", Plu("1", "A", std::nan("")), 109},
    };
    for (const auto& r : refused) {
        CChrArr text;
        h.m_nError = 0;
        EXPECT_EQ(h.BuildPluText(r.plu, '0', text), 0) << r.what;
        EXPECT_EQ(h.m_nError, r.code) << r.what;
    }
}

TEST(HidaTexts, DepartmentDataTexts) {
    CHida h;
    HidaDept d;
    d.number = 7;
    d.name = CChrArr(PL("Pieczywo łódź"));
    d.vat = 3;   // never sent
    d.price = 12.5;
    d.second = 4;
    d.flag = 1;
    CChrArr text;
    ASSERT_EQ(h.BuildDeptText(d, text), 1);
    EXPECT_EQ(text.ToString(), std::string("01T07") + "Pieczywo \xCA\xCD" + "d" + "00001250" + "04" + "0001");
    EXPECT_EQ(text.GetLength(), 31);

    d.number = 100;
    EXPECT_EQ(h.BuildDeptText(d, text), 0);
    EXPECT_EQ(h.m_nError, 999);
    d.number = 1;
    d.second = 100;
    h.m_nError = 0;
    EXPECT_EQ(h.BuildDeptText(d, text), 0);
    EXPECT_EQ(h.m_nError, 999);
    d.second = 0;
    d.price = -1.0;
    h.m_nError = 0;
    EXPECT_EQ(h.BuildDeptText(d, text), 0);
    EXPECT_EQ(h.m_nError, 109);
}

TEST(HidaTexts, ReplyBlocks) {
    CHida h;
    HidaPlu p;
    ASSERT_EQ(h.ParsePluText(CChrArr("01U0" "0000000000123" "\xAA\xA3" "ab        " "FF" "00001234" "0201" "0042"), p), 1);
    EXPECT_EQ(p.code.ToString(), "0000000000123");
    EXPECT_EQ(p.name.ToString(), PL("ŁĆab        "));
    EXPECT_EQ(p.dept, 255u);
    EXPECT_DOUBLE_EQ(p.price, 12.34);
    EXPECT_EQ(p.vat, 2);
    EXPECT_EQ(p.flag, 1u);
    EXPECT_EQ(p.linked, 42u);
    ASSERT_EQ(h.ParsePluText(CChrArr("01U0" "0000000000001" "A           " "07" "00000100" "0000" "0000"), p), 1);
    EXPECT_EQ(p.vat, -1);
    EXPECT_EQ(p.flag, 0u);
    EXPECT_EQ(p.dept, 7u);

    const struct {
        const char* text;
        int code;
    } refused[] = {
        {"01U0" "0000000000001" "A           " "07" "00000100" "0900" "0000", 103},
        {"01U0" "0000000000001" "A           " "07" "0000x100" "0100" "0000", 999},
        {"01U0" "0000000000001" "A           " "0?" "00000100" "0100" "0000", 999},
        {"01U0" "0000000000001" "A           " "07" "00000100" "0100", 999},
    };
    for (const auto& r : refused) {
        h.m_nError = 0;
        EXPECT_EQ(h.ParsePluText(CChrArr(r.text), p), 0) << r.text;
        EXPECT_EQ(h.m_nError, r.code) << r.text;
    }

    HidaDept d;
    ASSERT_EQ(h.ParseDeptText(CChrArr("01T05" "OGOLNY      " "00001500" "07" "0001"), d), 1);
    EXPECT_EQ(d.number, 5u);
    EXPECT_DOUBLE_EQ(d.price, 15.0);
    EXPECT_EQ(d.second, 7u);
    EXPECT_EQ(d.vat, -1);
    EXPECT_EQ(d.flag, 1u);

    HidaSale s;
    ASSERT_EQ(h.ParseSaleText(CChrArr("01c" "5901234123457" "F" "0000250" "0" "000000875"), 9, s), 1);
    EXPECT_EQ(s.code.ToString(), "5901234123457");
    EXPECT_DOUBLE_EQ(s.quantity, -2.5);
    EXPECT_DOUBLE_EQ(s.value, 8.75);
    ASSERT_EQ(h.ParseSaleText(CChrArr("01d" "0000000000001" "0" "0000100" "F" "0000199"), 7, s), 1);
    EXPECT_DOUBLE_EQ(s.quantity, 1.0);
    EXPECT_DOUBLE_EQ(s.value, -1.99);
}

TEST(HidaTexts, HostRecords) {
    EcrItemRecord item = HostItemRecord({.name = "Ab\x01" "c", .code = " 42 ", .price = 2.5, .vat = 0, .dept = 3});
    item.word148 = 1;
    item.linked_plu = 12;
    HidaPlu p = CHI_ECR::ToDevice(item);
    EXPECT_EQ(p.code.ToString(), "42");
    EXPECT_EQ(p.name.ToString(), "Ab c");   // a control byte goes out as a blank
    EXPECT_EQ(p.vat, -1);
    item.vat_group = 0xFFFFFFFFu;
    EXPECT_EQ(CHI_ECR::ToDevice(item).vat, -1);
    EXPECT_EQ(p.flag, 1u);
    EXPECT_EQ(p.linked, 12u);

    HidaPlu back;
    back.code = CChrArr("0000000000042");
    back.name = CChrArr("Chleb       ");
    back.vat = -1;
    back.dept = 255;
    back.price = 1.5;
    back.flag = 1;
    back.linked = 3;
    const EcrItemRecord host = CHI_ECR::ToHost(back);
    EXPECT_STREQ(host.code, "0000000000042");
    EXPECT_STREQ(host.name, "Chleb       ");
    EXPECT_EQ(host.vat_group, 0xFFFFFFFFu);
    EXPECT_EQ(host.department, 255u);
    EXPECT_EQ(host.unit, 1u);
    EXPECT_EQ(host.number, 0u);
    EXPECT_EQ(host.attr1, 0u);
    EXPECT_EQ(host.word148, 1u);
    EXPECT_EQ(host.linked_plu, 3u);
}

}  // namespace
}  // namespace orv::test
