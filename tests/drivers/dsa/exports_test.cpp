// The DSA/DSP registers through the exports, as a host drives them: one
// end-to-end run per type code against the emulator on a pseudo-terminal.
#include <chrono>
#include <cstring>
#include <thread>

#include "dsa_fixture.h"
#include "orvanta/ecr.h"
#include "util/cp1250.h"

namespace orv::test {
namespace {

bool WaitDone() { return WaitEcrDone(60000); }

EcrItemRecord Item(uint32_t number, const char* name, const char* code, double price, uint32_t dept) {
    return HostItemRecord({.number = number, .name = name, .code = code, .price = price, .dept = dept});
}

// An item the register holds: its 16-character name and department.
DsaEmuPlu HeldPlu(const char* name, uint32_t dept) {
    DsaEmuPlu plu;
    plu.name = CDsaLink::Encode(CChrArr(name)).ToString();
    plu.dept = dept;
    return plu;
}

EcrDeptRecord Dept(uint32_t number, const char* name, uint32_t tax) {
    return HostDeptRecord({.number = number, .name = name, .vat = tax});
}

class DsaExports : public DsaTest {
protected:
    void SetUp() override {
        DsaTest::SetUp();
        ASSERT_EQ(EcrCreate(nullptr), 1);
    }
    // Success ends with events 10 and 11 and no error.
    void ExpectSuccess() {
        EXPECT_EQ(EcrError(), 0) << Utf8(EcrErrMsg());
        EXPECT_EQ(Host().CountEvents(ECR_EVENT_SUCCEEDED), 1);
        EXPECT_EQ(Host().CountEvents(ECR_EVENT_CLOSED), 1);
    }
};

TEST_F(DsaExports, Type15ProgramsAndReadsDepartments) {
    DsaEmulator& emu = StartDevice(DsaModel::Dsa100M0);
    const EcrDeviceRecord dev = DeviceRecord(15, kDsaPort, 9600);
    EcrDeptRecord depts[2] = {Dept(1, PL("Pieczywo świeże"), 1), Dept(2, PL("Nabiał"), 2)};
    ASSERT_EQ(EcrPgmDEPT(&dev, depts, 2, &RecordingHost::OnDeptProgram), 1);
    ASSERT_TRUE(WaitDone());
    ExpectSuccess();
    EXPECT_EQ(emu.Commands(), (std::vector<std::string>{"4001", "4001"}));   // no closing on model 0

    Host().Reset();
    ASSERT_EQ(EcrReadAllDEPT(&dev, &RecordingHost::OnDeptRead), 1);
    ASSERT_TRUE(WaitDone());
    ExpectSuccess();
    auto got = Host().Depts();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_STREQ(got[0].name, PL("Pieczywo świeże"));
    EXPECT_STREQ(got[1].name, PL("Nabiał"));
    EXPECT_EQ(got[1].vat_group, 2u);
}

TEST_F(DsaExports, Type37ProgramsAndReadsGoods) {
    DsaEmulator& emu = StartDevice(DsaModel::Dsa100M1);
    DsaEmuPlu old;
    old.name = CDsaLink::Encode(CChrArr("STARY           ")).ToString();
    old.dept = 2;
    old.flag = '1';
    old.quantity = 4000;
    emu.SetPlu(20, old);
    const EcrDeviceRecord dev = DeviceRecord(37, kDsaPort, 19200);
    EcrItemRecord items[2] = {Item(10, PL("Chleb żytni"), "5901234567890", 4.99, 1),
                              Item(20, "Bulka", "20", 0.6, 2)};
    ASSERT_EQ(EcrPgmPLU(&dev, items, 2, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitDone());
    ExpectSuccess();
    EXPECT_TRUE(Host().Confirmations().empty());
    EXPECT_EQ(emu.Commands(), (std::vector<std::string>{"4059", "4059", "4202", "4002", "4066"}));
    EXPECT_EQ(emu.Plu(20).quantity, 4000u);

    Host().Reset();
    ASSERT_EQ(EcrReadPLU(&dev, items, 2, &RecordingHost::OnItemRead), 1);
    ASSERT_TRUE(WaitDone());
    ExpectSuccess();
    auto got = Host().Items();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_STREQ(got[0].name, PL("Chleb żytni"));
    EXPECT_STREQ(got[0].code, "5901234567890");
    EXPECT_DOUBLE_EQ(got[0].price, 4.99);
    EXPECT_EQ(got[1].department, 2u);
}

// Reading listed goods: every number the register holds no item under
// gives event 6 with its code and text and no record; the job ends as its
// last item did.
TEST_F(DsaExports, ListedGoodsTheRegisterDoesNotHoldAreReported) {
    struct Case {
        const char* name;
        std::vector<uint32_t> numbers;
        int error;
        size_t read;
        size_t missing;
    } cases[] = {
        {"only item missing", {20}, 202, 0, 1},
        {"last item missing", {10, 20}, 202, 1, 1},
        {"middle items missing", {10, 20, 30, 10}, 0, 2, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DsaEmulator& emu = StartDevice(DsaModel::Dsa100M1);
        emu.SetPlu(10, HeldPlu("CHLEB           ", 1));
        const EcrDeviceRecord dev = DeviceRecord(37, kDsaPort, 9600);
        std::vector<EcrItemRecord> items;
        for (uint32_t n : c.numbers) items.push_back(Item(n, "", "", 0, 0));
        ASSERT_EQ(EcrReadPLU(&dev, items.data(), static_cast<int>(items.size()), &RecordingHost::OnItemRead), 1);
        ASSERT_TRUE(WaitDone());
        EXPECT_EQ(EcrError(), c.error) << Utf8(EcrErrMsg());
        const std::string text = PL("Pod podanym numerem towar nie zdefiniowany");
        EXPECT_EQ(std::string(EcrErrMsg()), c.error ? text : "");
        EXPECT_EQ(Host().Items().size(), c.read);
        auto ev6 = Host().EventsWithCode(ECR_EVENT_DEVICE_ERROR);
        EXPECT_EQ(ev6.size(), c.missing);
        for (const HostEvent& e : ev6) {
            EXPECT_EQ(e.value, 202);
            EXPECT_EQ(e.text, text);
        }
        StopDevice();
    }
}

TEST_F(DsaExports, Type40UpdatesAndDeletesGoods) {
    DsaEmulator& emu = StartDevice(DsaModel::Dsa45B);
    DsaEmuPlu old;
    old.name = std::string(16, ' ');
    old.dept = 1;
    emu.SetPlu(2999, old);
    const EcrDeviceRecord dev = DeviceRecord(40, kDsaPort, 9600);
    EcrItemRecord item = Item(2999, "Woda", "", 1.5, 1);
    ASSERT_EQ(EcrUpDatePLU(&dev, &item, 1, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitDone());
    ExpectSuccess();
    EXPECT_EQ(emu.Commands(), (std::vector<std::string>{"4059", "4202", "4002", "4062"}));
    EXPECT_EQ(emu.Requests()[1].data, "02999");
    EXPECT_EQ(emu.Plu(2999).price, 150u);

    Host().Reset();
    emu.ClearLog();
    ASSERT_EQ(EcrDelPLU(&dev, &item, 1, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitDone());
    ExpectSuccess();
    EXPECT_EQ(emu.Commands(), (std::vector<std::string>{"4002", "4062"}));
    EXPECT_FALSE(emu.HasPlu(2999));
}

TEST_F(DsaExports, Type13ClearsSalesWithItsConfirmation) {
    DsaEmulator& emu = StartDevice(DsaModel::Dsa4000M1);
    emu.SetSales({{4180, 2000, 1234}});
    EcrDeviceRecord dev = DeviceRecord(13, kDsaPort, 9600);
    dev.word9 = 2;   // 4180 PLUs
    ASSERT_EQ(EcrClearSale(&dev, &RecordingHost::OnSale), 1);
    ASSERT_TRUE(WaitDone());
    ExpectSuccess();
    auto sales = Host().Sales();
    ASSERT_EQ(sales.size(), 1u);
    EXPECT_EQ(sales[0].sale.plu, 4180u);
    EXPECT_DOUBLE_EQ(sales[0].sale.value, 12.34);
    EXPECT_EQ(emu.Commands(), (std::vector<std::string>{"3060"}));
    EXPECT_TRUE(emu.WaitForAcks(3));   // the line, the end line, "3061"

    // The capacity follows the variant: PLU 4181 is refused.
    Host().Reset();
    EcrItemRecord item = Item(4181, "X", "", 1.0, 1);
    ASSERT_EQ(EcrPgmPLU(&dev, &item, 1, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitDone());
    auto conf = Host().Confirmations();
    ASSERT_EQ(conf.size(), 1u);
    EXPECT_EQ(conf[0].code, 105);
}

TEST_F(DsaExports, Type14ReadsSales) {
    DsaEmulator& emu = StartDevice(DsaModel::Dsa4000M2);
    emu.SetSales({{13320, 1000, 100}, {1, 500, 50}});
    const EcrDeviceRecord dev = DeviceRecord(14, kDsaPort, 9600);
    ASSERT_EQ(EcrReadSale(&dev, &RecordingHost::OnSale), 1);
    ASSERT_TRUE(WaitDone());
    ExpectSuccess();
    EXPECT_EQ(Host().Sales().size(), 2u);
    auto req = emu.Requests();
    ASSERT_EQ(req.size(), 1u);
    EXPECT_EQ(req[0].command, "2051");
    EXPECT_EQ(req[0].data, "010000113320");
    EXPECT_EQ(emu.Sales().size(), 2u);
}

TEST_F(DsaExports, Type36ClearsSalesAndRefusesVat) {
    DsaEmulator& emu = StartDevice(DsaModel::Dsa4000M3);
    emu.SetSales({{20000, 1000, 100}});
    const EcrDeviceRecord dev = DeviceRecord(36, kDsaPort, 9600);
    ASSERT_EQ(EcrClearSale(&dev, &RecordingHost::OnSale), 1);
    ASSERT_TRUE(WaitDone());
    ExpectSuccess();
    EXPECT_EQ(Host().Sales().size(), 1u);
    EXPECT_EQ(emu.Commands(), (std::vector<std::string>{"3055"}));

    Host().Reset();
    ASSERT_EQ(EcrReadVAT(&dev, &RecordingHost::OnVat), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 25);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_FAILED), 1);
    EXPECT_TRUE(Host().VatCalls().empty());
}

TEST_F(DsaExports, Type109ReadsGoodsAndCannotProgramThem) {
    DsaEmulator& emu = StartDevice(DsaModel::Dsp500);
    DsaEmuPlu p;
    p.name = CDsaLink::Encode(CChrArr("Kawa mielona 250g")).ToString();
    p.price = 1599;
    emu.SetPlu(1, p);
    const EcrDeviceRecord dev = DeviceRecord(109, kDsaPort, 9600);
    ASSERT_EQ(EcrReadAllPLU(&dev, &RecordingHost::OnItemRead), 1);
    ASSERT_TRUE(WaitDone());
    ExpectSuccess();
    auto got = Host().Items();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_STREQ(got[0].name, "Kawa mielona 250g");
    EXPECT_DOUBLE_EQ(got[0].price, 15.99);

    Host().Reset();
    emu.ClearLog();
    EcrItemRecord item = Item(5, "Herbata", "", 7.0, 0);
    ASSERT_EQ(EcrPgmPLU(&dev, &item, 1, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 25);
    EXPECT_STREQ(EcrErrMsg(), PL("Rozkaz niedostępny w tej wersji programu kasy"));
    ASSERT_EQ(Host().Confirmations().size(), 1u);
    EXPECT_EQ(Host().Confirmations()[0].code, 25);
    EXPECT_TRUE(emu.Requests().empty());

    Host().Reset();
    ASSERT_EQ(EcrClearSale(&dev, &RecordingHost::OnSale), 1);
    ASSERT_TRUE(WaitDone());
    ExpectSuccess();
    EXPECT_TRUE(emu.Requests().empty());
}

TEST_F(DsaExports, BreakEndsAJobWithoutAConfirmation) {
    DsaEmulator& emu = StartDevice(DsaModel::Dsa100M1);
    emu.SetCommandHook([](const DsaRequest& r) {
        if (r.command == "4001") EcrBreakJob();
    });
    const EcrDeviceRecord dev = DeviceRecord(37, kDsaPort, 9600);
    EcrDeptRecord depts[2] = {Dept(1, "A", 1), Dept(2, "B", 1)};
    ASSERT_EQ(EcrPgmDEPT(&dev, depts, 2, &RecordingHost::OnDeptProgram), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), -7);
    EXPECT_TRUE(Host().Confirmations().empty());
    EXPECT_EQ(emu.Commands(), (std::vector<std::string>{"4001"}));
}

// A register answering late, a break while an answer is on its way, and at
// once the next job: it reads the register's own record.
TEST_F(DsaExports, ABreakThenAtOnceTheNextJobReadsTheRegistersOwnData) {
    orv::platform::SetTimeScale(1.0);
    DsaEmulator& emu = StartDevice(DsaModel::Dsa100M1);
    emu.SetPlu(20, HeldPlu("ZNANY           ", 3));
    const EcrDeviceRecord dev = DeviceRecord(37, kDsaPort, 9600);
    std::vector<EcrItemRecord> many;
    for (uint32_t n = 1; n <= 20; ++n) many.push_back(Item(n, "X", "", 1.0, 1));
    EcrItemRecord one = Item(20, "", "", 0, 0);
    for (int delay : {200, 30}) {
        SCOPED_TRACE("answers " + std::to_string(delay) + " ms late");
        emu.SetAnswerDelay(delay);
        Host().Reset();
        const size_t before = emu.Requests().size();
        ASSERT_EQ(EcrReadPLU(&dev, many.data(), static_cast<int>(many.size()), &RecordingHost::OnItemRead), 1);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (emu.Requests().size() < before + 2 && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        std::this_thread::sleep_for(std::chrono::milliseconds(delay / 2));
        EcrBreakJob();
        ASSERT_TRUE(WaitDone());
        EXPECT_EQ(EcrError(), -7);

        Host().Reset();
        ASSERT_EQ(EcrReadPLU(&dev, &one, 1, &RecordingHost::OnItemRead), 1);
        ASSERT_TRUE(WaitDone());
        ExpectSuccess();
        const auto got = Host().Items();
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].number, 20u);
        EXPECT_STREQ(got[0].name, "ZNANY");
        EXPECT_EQ(got[0].department, 3u);
    }
}

}  // namespace
}  // namespace orv::test
