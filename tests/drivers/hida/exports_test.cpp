// The Hida registers (type 23) through the exports, as a host drives them:
// every job, the refusals before traffic, the item loops (event 6, a break),
// and a register that stops answering.
#include <cstring>
#include <vector>

#include "drivers/cr280/cr280_fixture.h"
#include "drivers/hida/chi_ecr.h"
#include "fakes/silent_device.h"
#include "job/job_block.h"
#include "orvanta/ecr.h"
#include "util/cp1250.h"

namespace orv::test {
namespace {

EcrItemRecord Item(const char* code, const char* name, double price, uint32_t vat, uint32_t dept,
                   uint32_t number = 0) {
    return HostItemRecord({.number = number, .name = name, .code = code, .price = price, .vat = vat, .dept = dept});
}

EcrDeptRecord Dept(uint32_t number, const char* name, double price, uint32_t second = 0) {
    return HostDeptRecord({.number = number, .name = name, .price = price, .word100 = second});
}

class HidaExports : public Cr280ExportsTest {};

TEST_F(HidaExports, Type23ServesEveryJob) {
    Cr280Emulator& emu = StartDevice(Cr280Emulator::Mode::Hida);
    const EcrDeviceRecord dev = DeviceRecord(23, kCrPort, 19200);
    EcrItemRecord items[4] = {Item("123", PL("Śliwki"), 12.345, 2, 255), Item("5901234123457", "Chleb", 0.29, 0, 3),
                              Item("12345678901234", "Za dlugi", 1.0, 1, 1), Item("7", "Ser", 5.0, 9, 1)};
    items[0].word148 = 1;
    items[0].linked_plu = 7;
    Run(EcrPgmPLU(&dev, items, 4, &RecordingHost::OnItemProgram));
    EXPECT_EQ(EcrError(), 103) << Utf8(EcrErrMsg());
    auto conf = Host().Confirmations();
    ASSERT_EQ(conf.size(), 2u);
    EXPECT_EQ(conf[0].code, 999);
    EXPECT_STREQ(conf[0].item.code, "12345678901234");
    EXPECT_EQ(conf[1].code, 103);
    EXPECT_EQ(conf[1].text, PL("Błąd w stawce podatkowej towaru"));
    auto ev6 = Host().EventsWithCode(ECR_EVENT_DEVICE_ERROR);
    ASSERT_EQ(ev6.size(), 1u);
    EXPECT_EQ(ev6[0].value, 999);
    // Refused items sent nothing: two jobs of header and data.
    EXPECT_EQ(emu.FramesReceived(), 4);
    EXPECT_EQ(emu.Item("0000000000123").dept, "FF");
    EXPECT_EQ(emu.Item("0000000000123").vatFlag, "0201");
    EXPECT_EQ(emu.Item("0000000000123").price, 1234u);
    EXPECT_EQ(emu.Item("0000000000123").linked, 7u);
    EXPECT_EQ(emu.Item("5901234123457").vatFlag, "0000");
    EXPECT_EQ(emu.Item("5901234123457").price, 29u);
    // 9600 baud whatever the record says.
    EXPECT_EQ(m_spy->Requested().back().baud, 9600);
    EXPECT_EQ(m_spy->Requested().back().parity, 'N');

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
    EXPECT_EQ(got[0].linked_plu, 7u);
    EXPECT_DOUBLE_EQ(got[0].price, 12.34);
    EXPECT_EQ(got[0].unit, 1u);
    EXPECT_EQ(got[1].vat_group, 0xFFFFFFFFu);
    EXPECT_DOUBLE_EQ(got[1].price, 0.29);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_BULK), 1);
    EXPECT_EQ(Host().EventsWithCode(ECR_EVENT_ITEM).back().text, "100 %");

    // Listed codes: one the register does not hold is reported and the
    // read goes on; the last item decides the job.
    Host().Reset();
    EcrItemRecord wanted[3] = {Item("5901234123457", "", 0, 0, 0), Item("999", "", 0, 0, 0), Item("123", "", 0, 0, 0)};
    Run(EcrReadPLU(&dev, wanted, 3, &RecordingHost::OnItemRead));
    EXPECT_EQ(EcrError(), 0) << Utf8(EcrErrMsg());
    got = Host().Items();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_STREQ(got[0].name, "Chleb       ");
    EXPECT_STREQ(got[1].code, "0000000000123");
    auto progress = Host().EventsWithCode(ECR_EVENT_ITEM);
    ASSERT_EQ(progress.size(), 3u);
    EXPECT_EQ(progress[1].text, "Kod kreskowy - 999");
    auto missing = Host().EventsWithCode(ECR_EVENT_DEVICE_ERROR);
    ASSERT_EQ(missing.size(), 1u);
    EXPECT_EQ(missing[0].value, 10);
    EXPECT_EQ(missing[0].text, "<Not found the PLU>");

    // Departments.
    Host().Reset();
    EcrDeptRecord depts[2] = {Dept(4, "OGOLNY", 15.0, 7), Dept(100, "ZA DUZY", 1.0)};
    depts[0].flags = 1;
    depts[0].vat_group = 5;   // not sent
    Run(EcrPgmDEPT(&dev, depts, 2, &RecordingHost::OnDeptProgram));
    EXPECT_EQ(EcrError(), 999);
    ASSERT_EQ(Host().Confirmations().size(), 1u);
    EXPECT_EQ(Host().Confirmations()[0].number, 100u);
    EXPECT_EQ(emu.Dept(4).vatFlag, "0001");
    EXPECT_EQ(emu.Dept(4).field, "07");

    Host().Reset();
    Run(EcrReadAllDEPT(&dev, &RecordingHost::OnDeptRead));
    EXPECT_EQ(EcrError(), 0) << Utf8(EcrErrMsg());
    auto readDepts = Host().Depts();
    ASSERT_EQ(readDepts.size(), 1u);
    EXPECT_EQ(readDepts[0].number, 4u);
    EXPECT_STREQ(readDepts[0].name, "OGOLNY      ");
    EXPECT_EQ(readDepts[0].vat_group, 0xFFFFFFFFu);
    EXPECT_DOUBLE_EQ(readDepts[0].price, 15.0);
    EXPECT_EQ(readDepts[0].word100, 7u);
    EXPECT_EQ(readDepts[0].flags, 1u);

    // Sales, clearing, deleting.
    Cr280EmuItem sold = emu.Item("5901234123457");
    sold.quantity = 250;
    sold.value = 875;
    emu.SetItem("5901234123457", sold);
    Host().Reset();
    Run(EcrReadSale(&dev, &RecordingHost::OnSale));
    EXPECT_EQ(EcrError(), 0) << Utf8(EcrErrMsg());
    auto sales = Host().Sales();
    ASSERT_EQ(sales.size(), 1u);
    EXPECT_STREQ(sales[0].item.code, "5901234123457");
    EXPECT_STREQ(sales[0].item.name, "");
    EXPECT_STREQ(sales[0].sale.code, "5901234123457");
    EXPECT_DOUBLE_EQ(sales[0].sale.quantity, 2.5);
    EXPECT_DOUBLE_EQ(sales[0].sale.value, 8.75);

    Host().Reset();
    Run(EcrClearSale(&dev, &RecordingHost::OnSale));
    EXPECT_EQ(EcrError(), 0) << Utf8(EcrErrMsg());
    EXPECT_EQ(emu.Item("5901234123457").value, 0u);

    Host().Reset();
    Run(EcrDelPLU(&dev, items, 1, &RecordingHost::OnItemProgram));
    EXPECT_EQ(EcrError(), 0) << Utf8(EcrErrMsg());
    EXPECT_TRUE(Host().Confirmations().empty());
    EXPECT_FALSE(emu.HasItem("0000000000123"));
    EXPECT_EQ(emu.Records()[emu.Records().size() - 1].substr(0, 4), "01U2");
}

// Reading listed goods: every item the register does not hold gives event 6
// with its code and text and no record; the job ends as its last item did.
TEST_F(HidaExports, ListedGoodsTheRegisterDoesNotHoldAreReported) {
    struct Case {
        const char* name;
        std::vector<const char*> codes;
        int error;
        size_t read;
        size_t missing;
    } cases[] = {
        {"only item missing", {"999"}, 10, 0, 1},
        {"last item missing", {"123", "999"}, 10, 1, 1},
        {"middle items missing", {"123", "998", "999", "123"}, 0, 2, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Cr280Emulator& emu = StartDevice(Cr280Emulator::Mode::Hida);
        Cr280EmuItem held;
        held.name = "Chleb       ";
        held.vatFlag = "0100";
        emu.SetItem("0000000000123", held);
        const EcrDeviceRecord dev = DeviceRecord(23, kCrPort, 9600);
        std::vector<EcrItemRecord> items;
        for (const char* code : c.codes) items.push_back(Item(code, "", 0, 0, 0));
        Run(EcrReadPLU(&dev, items.data(), static_cast<int>(items.size()), &RecordingHost::OnItemRead));
        EXPECT_EQ(EcrError(), c.error) << Utf8(EcrErrMsg());
        EXPECT_EQ(std::string(EcrErrMsg()), c.error == 10 ? "<Not found the PLU>" : "");
        EXPECT_EQ(Host().Items().size(), c.read);
        EXPECT_EQ(Host().EventsWithCode(ECR_EVENT_ITEM).size(), c.codes.size());
        auto ev6 = Host().EventsWithCode(ECR_EVENT_DEVICE_ERROR);
        EXPECT_EQ(ev6.size(), c.missing);
        for (const HostEvent& e : ev6) {
            EXPECT_EQ(e.value, 10);
            EXPECT_EQ(e.text, "<Not found the PLU>");
        }
        // The next case starts with a device of its own.
        TearDown();
        SetUp();
    }
}

TEST_F(HidaExports, Type23CannotReadVatRatesStatusOrUnits) {
    Cr280Emulator& emu = StartDevice(Cr280Emulator::Mode::Hida);
    const EcrDeviceRecord dev = DeviceRecord(23, kCrPort, 9600);
    Run(EcrReadVAT(&dev, &RecordingHost::OnVat));
    EXPECT_EQ(EcrError(), 25);
    EXPECT_EQ(std::string(EcrErrMsg()), PL("Rozkaz niedostępny w tej wersji programu kasy"));
    EXPECT_TRUE(Host().VatCalls().empty());
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_BULK), 1);
    Host().Reset();
    Run(EcrReadStatus(&dev, &RecordingHost::OnStatus));
    EXPECT_EQ(EcrError(), 25);
    Host().Reset();
    Run(EcrReadAllUnit(&dev, &RecordingHost::OnUnitRead));
    EXPECT_EQ(EcrError(), 25);
    EXPECT_EQ(emu.ReceivedCount(), 0u);
}

TEST_F(HidaExports, TheRegistersStatusFailsTheItem) {
    Cr280Emulator& emu = StartDevice(Cr280Emulator::Mode::Hida);
    const EcrDeviceRecord dev = DeviceRecord(23, kCrPort, 9600);
    EcrItemRecord items[2] = {Item("1", "A", 1.0, 1, 1), Item("2", "B", 1.0, 1, 1)};
    emu.QueueStatus(7);
    Run(EcrPgmPLU(&dev, items, 2, &RecordingHost::OnItemProgram));
    EXPECT_EQ(EcrError(), 0) << Utf8(EcrErrMsg());   // the last item went through
    auto conf = Host().Confirmations();
    ASSERT_EQ(conf.size(), 1u);
    EXPECT_EQ(conf[0].code, 7);
    EXPECT_EQ(conf[0].text, "<All sorts of No. is limit over>");
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 1);
    EXPECT_TRUE(emu.HasItem("0000000000002"));
    EXPECT_FALSE(emu.HasItem("0000000000001"));
}

TEST_F(HidaExports, ABreakEndsTheLoopWithoutAConfirmation) {
    Cr280Emulator& emu = StartDevice(Cr280Emulator::Mode::Hida);
    CHI_ECR logic;
    EcrDeviceRecord dev = DeviceRecord(23, kCrPort, 9600);
    PrepareJobBlock(5, dev);
    logic.SetSerial(m_serial.get());
    ASSERT_EQ(logic.Open(kCrPort, &dev), 1) << logic.GetErrorCode();
    EcrItemRecord items[3] = {Item("1", "A", 1.0, 1, 1), Item("2", "B", 1.0, 1, 1), Item("3", "C", 1.0, 1, 1)};
    CTelepathy* serial = m_serial.get();
    Host().SetEventHook([serial](const HostEvent& e) {
        if (e.code == ECR_EVENT_ITEM && e.text == "Nazwa - B") serial->Break();
    });
    EXPECT_EQ(logic.PgmPLU(kCrPort, items, 3, nullptr, 0), 0);
    EXPECT_EQ(logic.GetErrorCode(), -7);
    EXPECT_TRUE(Host().Confirmations().empty());
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(emu.FramesReceived(), 2);   // the first item's header and data
    EXPECT_EQ(emu.EnqsReceived(), 1);
    logic.Close(kCrPort);
}

TEST_F(HidaExports, ARegisterThatStopsAnsweringIsGivenUp) {
    Cr280Emulator& emu = StartDevice(Cr280Emulator::Mode::Hida);
    const EcrDeviceRecord dev = DeviceRecord(23, kCrPort, 9600);
    std::vector<EcrItemRecord> items;
    for (uint32_t i = 1; i <= kSilentJobItems; ++i) items.push_back(Item("1", "Towar", 2.5, 1, 1, i));
    size_t before = 0;
    AtItem(4, [&] {
        before = emu.ReceivedCount();
        emu.SetSilent(true);
    });
    Run(EcrPgmPLU(&dev, items.data(), kSilentJobItems, &RecordingHost::OnItemProgram));
    ExpectGoneFrom(4, -5, ConfirmedItems());
    // Items 4-6 each tried the link seven times and gave it up; nothing after.
    Bytes link(7, 0x05);
    link.push_back(0x04);
    Bytes expected;
    for (int i = 0; i < 3; ++i) expected.insert(expected.end(), link.begin(), link.end());
    EXPECT_TRUE(emu.WaitForCount(before + expected.size(), 2000));
    const Bytes all = emu.Received();
    EXPECT_EQ(Hex(Bytes(all.begin() + static_cast<long>(before), all.end())), Hex(expected));
}

}  // namespace
}  // namespace orv::test
