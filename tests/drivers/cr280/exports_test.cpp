// The CR-280 (type 11) and Optimus (type 9) registers through the exports,
// as a host drives them, and the CR-280 logic's conversions and refusals.
#include <cstring>

#include "cr280_fixture.h"
#include "drivers/cr280/ccr_ecr.h"
#include "job/job_block.h"
#include "orvanta/ecr.h"
#include "util/cp1250.h"

namespace orv::test {
namespace {

EcrItemRecord Item(const char* code, const char* name, double price, uint32_t vat, uint32_t dept) {
    return HostItemRecord({.name = name, .code = code, .price = price, .vat = vat, .dept = dept});
}

class Cr280Exports : public Cr280ExportsTest {};

TEST_F(Cr280Exports, Type11ProgramsReadsAndClears) {
    Cr280Emulator& emu = StartDevice();
    const EcrDeviceRecord dev = DeviceRecord(11, kCrPort, 19200);
    EcrItemRecord items[3] = {Item("123", PL("Śliwki"), 12.345, 2, 255), Item("5901234123457", "Chleb", 3.5, 0, 3),
                              Item("12345678901234", "Za dlugi", 1.0, 1, 1)};
    items[0].word148 = 1;
    Run(EcrPgmPLU(&dev, items, 3, &RecordingHost::OnItemProgram));
    EXPECT_EQ(EcrError(), 999);
    auto conf = Host().Confirmations();
    ASSERT_EQ(conf.size(), 1u);
    EXPECT_STREQ(conf[0].item.code, "12345678901234");
    // The register takes a record once the PC has ended its turn.
    ASSERT_TRUE(Eventually([&] { return emu.HasItem("5901234123457"); }));
    EXPECT_EQ(emu.Item("0000000000123").dept, "FF");
    EXPECT_EQ(emu.Item("0000000000123").vatFlag, "2010");
    EXPECT_EQ(emu.Item("0000000000123").price, 1234u);
    EXPECT_EQ(emu.Item("5901234123457").vatFlag, "0000");
    EXPECT_EQ(m_spy->Requested().back().parity, 'E');
    EXPECT_EQ(m_spy->Requested().back().baud, 19200);

    Host().Reset();
    Run(EcrReadAllPLU(&dev, &RecordingHost::OnItemRead));
    EXPECT_EQ(EcrError(), 0) << Utf8(EcrErrMsg());
    auto got = Host().Items();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_STREQ(got[0].code, "0000000000123");
    EXPECT_STREQ(got[0].name, PL("Śliwki      "));
    EXPECT_EQ(got[0].department, 255u);
    EXPECT_EQ(got[0].vat_group, 2u);
    EXPECT_EQ(got[0].word148, 1u);
    EXPECT_DOUBLE_EQ(got[0].price, 12.34);
    EXPECT_EQ(got[0].unit, 1u);
    EXPECT_EQ(got[0].number, 0u);
    EXPECT_EQ(got[1].vat_group, 0u);
    EXPECT_EQ(Host().EventsWithCode(ECR_EVENT_ITEM).back().text, "100 %");

    // One item by its code; a code the register does not hold is reported
    // with its code and the job goes on; the last item decides the job.
    Host().Reset();
    EcrItemRecord wanted[3] = {Item("999", "", 0, 0, 0), Item("5901234123457", "", 0, 0, 0), Item("998", "", 0, 0, 0)};
    Run(EcrReadPLU(&dev, wanted, 3, &RecordingHost::OnItemRead));
    EXPECT_EQ(EcrError(), 10) << Utf8(EcrErrMsg());
    got = Host().Items();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_STREQ(got[0].name, "Chleb       ");
    auto ev6 = Host().EventsWithCode(ECR_EVENT_DEVICE_ERROR);
    ASSERT_EQ(ev6.size(), 2u);
    EXPECT_EQ(ev6[0].value, 10);
    EXPECT_EQ(ev6[0].text, "<Not found the PLU>");

    // Departments and sales.
    Cr280EmuDept dept;
    dept.name = "OGOLNY      ";
    dept.value = 1500;
    dept.field = "07";
    dept.vatFlag = "0010";   // no VAT group, flag set
    emu.SetDept(4, dept);
    Host().Reset();
    Run(EcrReadAllDEPT(&dev, &RecordingHost::OnDeptRead));
    EXPECT_EQ(EcrError(), 0) << Utf8(EcrErrMsg());
    auto depts = Host().Depts();
    ASSERT_EQ(depts.size(), 1u);
    EXPECT_EQ(depts[0].number, 4u);
    EXPECT_EQ(depts[0].vat_group, 0u);
    EXPECT_DOUBLE_EQ(depts[0].price, 15.0);
    EXPECT_EQ(depts[0].word100, 7u);
    EXPECT_EQ(depts[0].flags, 1u);

    Cr280EmuItem sold = emu.Item("5901234123457");
    sold.quantity = 250;
    sold.value = 875;
    emu.SetItem("5901234123457", sold);
    Host().Reset();
    Run(EcrReadSale(&dev, &RecordingHost::OnSale));
    EXPECT_EQ(EcrError(), 0) << Utf8(EcrErrMsg());
    auto sales = Host().Sales();
    ASSERT_EQ(sales.size(), 1u);
    EXPECT_STREQ(sales[0].sale.code, "5901234123457");
    EXPECT_DOUBLE_EQ(sales[0].sale.quantity, 2.5);
    EXPECT_DOUBLE_EQ(sales[0].sale.value, 8.75);

    Host().Reset();
    Run(EcrClearSale(&dev, &RecordingHost::OnSale));
    EXPECT_EQ(EcrError(), 0) << Utf8(EcrErrMsg());
    ASSERT_TRUE(Eventually([&] { return emu.Item("5901234123457").value == 0; }));
    EXPECT_EQ(emu.Records().back(), "Zp");
}

TEST_F(Cr280Exports, Type11RefusesWhatItCannotDo) {
    Cr280Emulator& emu = StartDevice();
    const EcrDeviceRecord dev = DeviceRecord(11, kCrPort, 9600);
    EcrItemRecord items[2] = {Item("1", "A", 1.0, 9, 1), Item("2", "B", -1.0, 1, 1)};
    Run(EcrPgmPLU(&dev, items, 2, &RecordingHost::OnItemProgram));
    auto conf = Host().Confirmations();
    ASSERT_EQ(conf.size(), 2u);
    EXPECT_EQ(conf[0].code, 103);
    EXPECT_EQ(conf[1].code, 109);
    EXPECT_EQ(std::string(conf[1].text), PL("Cena towaru poza zakresem"));
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 1);

    Host().Reset();
    Run(EcrDelPLU(&dev, items, 2, &RecordingHost::OnItemProgram));
    EXPECT_EQ(EcrError(), 25);
    EXPECT_EQ(Host().Confirmations().size(), 2u);

    Host().Reset();
    Run(EcrReadVAT(&dev, &RecordingHost::OnVat));
    EXPECT_EQ(EcrError(), 25);
    EXPECT_TRUE(Host().VatCalls().empty());
    EXPECT_TRUE(emu.Records().empty());
}

// Reading listed goods: every item the register does not hold, and every
// item without a code (refused before it is asked for), gives event 6 with
// its code and text and no record; the job ends as its last item did. A
// read sends no VAT group, so none is checked.
TEST_F(Cr280Exports, Type11ReadsListedGoodsItemByItem) {
    struct Want {
        const char* code;
        uint32_t vat;
    };
    struct Case {
        const char* name;
        std::vector<Want> items;
        int error;
        std::vector<std::string> read;   // codes handed to the host
        std::vector<int> event6;         // codes of the events 6
        size_t requests;                 // records sent to the register
    } cases[] = {
        {"empty code", {{"", 1}}, 108, {}, {108}, 0},
        {"blank code", {{"   ", 1}}, 108, {}, {108}, 0},
        {"only item missing", {{"999", 1}}, 10, {}, {10}, 1},
        {"last item missing", {{"123", 1}, {"999", 1}}, 10, {"0000000000123"}, {10}, 2},
        {"middle item missing", {{"123", 1}, {"999", 1}, {"5901234123457", 1}}, 0,
         {"0000000000123", "5901234123457"}, {10}, 3},
        {"empty code before a held one", {{"", 1}, {"123", 1}}, 0, {"0000000000123"}, {108}, 1},
        {"VAT group 9", {{"123", 9}}, 0, {"0000000000123"}, {}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Cr280Emulator& emu = StartDevice();
        Cr280EmuItem held;
        held.name = "Chleb       ";
        held.price = 350;
        emu.SetItem("0000000000123", held);
        emu.SetItem("5901234123457", held);
        const EcrDeviceRecord dev = DeviceRecord(11, kCrPort, 9600);
        std::vector<EcrItemRecord> items;
        for (const Want& w : c.items) items.push_back(Item(w.code, "", 0, w.vat, 0));
        Run(EcrReadPLU(&dev, items.data(), static_cast<int>(items.size()), &RecordingHost::OnItemRead));
        EXPECT_EQ(EcrError(), c.error) << Utf8(EcrErrMsg());
        const std::string text = c.error == 10 ? "<Not found the PLU>" : c.error == 0 ? "" : PL("Brak kodu towaru");
        EXPECT_EQ(std::string(EcrErrMsg()), text);
        std::vector<std::string> read;
        for (const EcrItemRecord& it : Host().Items()) read.push_back(it.code);
        EXPECT_EQ(read, c.read);
        std::vector<int> event6;
        for (const HostEvent& e : Host().EventsWithCode(ECR_EVENT_DEVICE_ERROR)) {
            event6.push_back(e.value);
            EXPECT_NE(e.text, PL("Nieokreślony błąd"));
            EXPECT_FALSE(e.text.empty());
        }
        EXPECT_EQ(event6, c.event6);
        EXPECT_EQ(emu.Records().size(), c.requests);
        // The next case starts with a device of its own.
        TearDown();
        SetUp();
    }
}

TEST_F(Cr280Exports, Type9OpensItsLineAndServesNoData) {
    Cr280Emulator& emu = StartDevice(Cr280Emulator::Mode::Optimus);
    const EcrDeviceRecord dev = DeviceRecord(9, kCrPort, 4800);
    Run(EcrDelAllPLU(&dev, &RecordingHost::OnItemProgram));
    EXPECT_EQ(EcrError(), 0) << Utf8(EcrErrMsg());
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_CLOSED), 1);
    auto s = m_spy->Requested();
    ASSERT_FALSE(s.empty());
    EXPECT_EQ(s.back().baud, 4800);
    EXPECT_EQ(s.back().dataBits, 7);
    EXPECT_EQ(s.back().parity, 'E');
    EXPECT_TRUE(s.back().ctsOutFlow);

    Host().Reset();
    Run(EcrReadVAT(&dev, &RecordingHost::OnVat));
    EXPECT_EQ(EcrError(), 25);
    EXPECT_EQ(std::string(EcrErrMsg()), PL("Rozkaz niedostępny w tej wersji programu kasy"));
    EXPECT_EQ(emu.ReceivedCount(), 0u);
}

TEST(Cr280Records, ACodeOfBlanksOrNoneBecomesAnEmptyCode) {
    // A code trimmed to nothing leaves no bytes to copy: the record's code is
    // empty, and its name is taken all the same.
    const struct {
        const char* code;
        const char* want;
    } cases[] = {{"", ""}, {"   ", ""}, {" 123 ", "123"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        CCR_ECR logic;
        Cr280PLURecord rec{};
        ASSERT_EQ(logic.FromHostItem(Item(c.code, "Chleb", 3.5, 1, 1), rec), 1);
        EXPECT_STREQ(rec.code, c.want);
        EXPECT_STREQ(rec.name, "Chleb");
    }
}

}  // namespace
}  // namespace orv::test
