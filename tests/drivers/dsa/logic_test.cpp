// The DSA job logic against the emulator: the new/change programming
// machine, closing commands, department and PLU reads, the sale streams of
// each class, range refusals, breaks and the DSP 500's slots.
#include <algorithm>
#include <cstring>
#include <functional>

#include "drivers/dsa/cd1_ecr.h"
#include "drivers/dsa/cd5_ecr.h"
#include "drivers/dsa/cds_ecr.h"
#include "drivers/dsa/cdsp_ecr.h"
#include "dsa_fixture.h"
#include "util/cp1250.h"

namespace orv::test {
namespace {

DsaModel ModelOf(int type) {
    switch (type) {
    case 15: return DsaModel::Dsa100M0;
    case 37: return DsaModel::Dsa100M1;
    case 40: return DsaModel::Dsa45B;
    case 13: return DsaModel::Dsa4000M1;
    case 14: return DsaModel::Dsa4000M2;
    case 36: return DsaModel::Dsa4000M3;
    default: return DsaModel::Dsp500;
    }
}

std::unique_ptr<CDsaLogic> LogicOf(int type) {
    switch (type) {
    case 15:
    case 37: return std::make_unique<CD1_ECR>();
    case 40: return std::make_unique<CD5_ECR>();
    case 109: return std::make_unique<CDSP_ECR>();
    default: return std::make_unique<CDS_ECR>();
    }
}

EcrItemRecord Item(uint32_t number, const char* name, double price, uint32_t dept) {
    EcrItemRecord it{};
    it.number = number;
    std::strncpy(it.name, name, sizeof it.name - 1);
    it.price = price;
    it.department = dept;
    return it;
}

EcrDeptRecord Dept(uint32_t number, const char* name, uint32_t tax, double amount) {
    return HostDeptRecord({.number = number, .name = name, .vat = tax, .price = amount});
}

DsaEmuPlu EmuPlu(uint32_t dept, uint64_t price, char flag = '1', uint64_t quantity = 5000) {
    DsaEmuPlu p;
    p.name = CDsaLink::Encode(CChrArr("STARY           ")).ToString();
    p.dept = dept;
    p.price = price;
    p.flag = flag;
    p.quantity = quantity;
    return p;
}

class DsaLogicTest : public DsaTest {
protected:
    // The emulator of the type's model and an opened logic object.
    CDsaLogic& OpenDevice(int type, uint32_t job = 5, int word9 = 0, int baud = 9600) {
        StartDevice(ModelOf(type));
        m_logic = LogicOf(type);
        m_device = DeviceRecord(type, kDsaPort, baud);
        m_device.word9 = word9;
        PrepareJobBlock(job, m_device);
        m_logic->SetSerial(m_serial.get());
        EXPECT_EQ(m_logic->Open(kDsaPort, &m_device), 1) << m_logic->GetErrorCode();
        return *m_logic;
    }
    // Closes the logic object and ends the device of one case of a table.
    void CloseDevice() {
        if (m_logic) m_logic->Close(kDsaPort);
        m_logic.reset();
        StopDevice();
    }
    void TearDown() override {
        if (m_logic) m_logic->Close(kDsaPort);
        DsaTest::TearDown();
        m_logic.reset();
    }

    std::vector<std::string> Texts(int code) {
        std::vector<std::string> out;
        for (const auto& e : Host().EventsWithCode(code)) out.push_back(e.text);
        return out;
    }

    std::unique_ptr<CDsaLogic> m_logic;
    EcrDeviceRecord m_device{};
};

// ---------------------------------------------------------------- programming

struct MachineCase {
    const char* what;
    int type;
    int kind;                                        // 0 program, 1 update
    bool exists;                                     // the device has PLU 7 (department 3)
    std::vector<std::pair<std::string, int>> errs;   // device ERR answers
    uint32_t itemDept;
    std::vector<std::string> commands;
    int confirmCode;                                 // 0: no confirmation
    int result;
};

TEST_F(DsaLogicTest, ProgrammingMachine) {
    using V = std::vector<std::string>;
    const MachineCase cases[] = {
        {"37 new", 37, 0, false, {}, 3, V{"4059", "4066"}, 0, 1},
        {"37 existing", 37, 0, true, {}, 3, V{"4059", "4202", "4002", "4066"}, 0, 1},
        {"37 change refused, same department", 37, 0, true, {{"4002", 23}}, 3,
         V{"4059", "4202", "4002", "4060", "4066"}, 0, 1},
        {"37 change refused, other department", 37, 0, true, {{"4002", 23}}, 4,
         V{"4059", "4202", "4002", "4066"}, 1023, 1},
        {"37 new refused otherwise", 37, 0, false, {{"4059", 13}}, 3, V{"4059", "4066"}, 1013, 1},
        {"37 update starts with new", 37, 1, false, {}, 3, V{"4059", "4066"}, 0, 1},
        {"15 program new", 15, 0, false, {}, 3, V{"4059"}, 0, 1},
        {"15 existing", 15, 0, true, {}, 3, V{"4059", "4202", "4002"}, 0, 1},
        {"15 update", 15, 1, true, {}, 3, V{"4202", "4002"}, 0, 1},
        {"15 update of a new item", 15, 1, false, {}, 3, V{"4202", "4002"}, 0, 1},
        {"15 update refused to the end", 15, 1, true, {{"4002", 22}, {"4060", 22}}, 3,
         V{"4202", "4002", "4060", "4059"}, 1022, 0},
        {"15 update, price change accepted", 15, 1, true, {{"4002", 22}}, 3, V{"4202", "4002", "4060"}, 0, 1},
        {"40 existing", 40, 0, true, {}, 3, V{"4059", "4202", "4002", "4062"}, 0, 1},
        {"13 existing", 13, 0, true, {}, 3, V{"4059", "4202", "4002", "4066"}, 0, 1},
        {"14 new", 14, 0, false, {}, 3, V{"4059"}, 0, 1},
        {"36 existing", 36, 1, true, {}, 3, V{"4059", "4202", "4002"}, 0, 1},
    };
    for (const MachineCase& c : cases) {
        SCOPED_TRACE(c.what);
        CDsaLogic& logic = OpenDevice(c.type);
        DsaEmulator& emu = *m_emu;
        if (c.exists) emu.SetPlu(7, EmuPlu(3, 100));
        for (const auto& e : c.errs) emu.QueueErr(e.first, e.second);
        EcrItemRecord item = Item(7, PL("Mąka"), 2.5, c.itemDept);
        int r = logic.PgmPLU(kDsaPort, &item, 1, nullptr, c.kind);
        EXPECT_EQ(r, c.result);
        EXPECT_EQ(emu.Commands(), c.commands);
        auto conf = Host().Confirmations();
        if (c.confirmCode == 0) {
            EXPECT_TRUE(conf.empty());
        } else {
            ASSERT_EQ(conf.size(), 1u);
            EXPECT_EQ(conf[0].code, c.confirmCode);
            EXPECT_EQ(conf[0].text, logic.GetErrorText(c.confirmCode));
            EXPECT_FALSE(conf[0].text.empty());
        }
        if (c.result == 1 && c.confirmCode == 0) {
            ASSERT_TRUE(emu.HasPlu(7));
            EXPECT_EQ(emu.Plu(7).dept, c.itemDept);
        }
        EXPECT_EQ(Texts(5).at(0), std::string("Nazwa - ") + PL("Mąka"));
        CloseDevice();
    }
}

TEST_F(DsaLogicTest, ChangedItemKeepsTheRegistersStock) {
    CDsaLogic& logic = OpenDevice(37);
    m_emu->SetPlu(7, EmuPlu(3, 100, '1', 12345));
    EcrItemRecord item = Item(7, "Nowa", 3.0, 3);
    ASSERT_EQ(logic.PgmPLU(kDsaPort, &item, 1, nullptr, 0), 1);
    DsaEmuPlu p = m_emu->Plu(7);
    EXPECT_EQ(p.flag, '1');
    EXPECT_EQ(p.quantity, 12345u);
    EXPECT_EQ(p.price, 300u);
}

TEST_F(DsaLogicTest, ChangeFirstReadsTheStockBeforeChanging) {
    // Model 0 update: no "4059" first, so the record is read before "4002".
    CDsaLogic& logic = OpenDevice(15);
    m_emu->SetPlu(7, EmuPlu(3, 100, '1', 777));
    EcrItemRecord item = Item(7, "Nowa", 3.0, 3);
    ASSERT_EQ(logic.PgmPLU(kDsaPort, &item, 1, nullptr, 1), 1);
    EXPECT_EQ(m_emu->Plu(7).quantity, 777u);
    EXPECT_EQ(m_emu->Plu(7).flag, '1');
}

TEST_F(DsaLogicTest, AfterANewItemFailsTheNextStartsWithTheChange) {
    CDsaLogic& logic = OpenDevice(37);
    m_emu->SetPlu(7, EmuPlu(3, 100));
    EcrItemRecord items[2] = {Item(7, "A", 1.0, 3), Item(8, "B", 2.0, 3)};
    ASSERT_EQ(logic.PgmPLU(kDsaPort, items, 2, nullptr, 0), 1);
    EXPECT_EQ(m_emu->Commands(), (std::vector<std::string>{"4059", "4202", "4002", "4202", "4002", "4066"}));
    EXPECT_TRUE(m_emu->HasPlu(8));
    auto ev = Host().EventsWithCode(5);
    ASSERT_EQ(ev.size(), 2u);
    EXPECT_EQ(ev[0].percent, 50);
    EXPECT_EQ(ev[1].percent, 100);
}

TEST_F(DsaLogicTest, OutOfRangeItemsAreRefusedWithoutTraffic) {
    struct Case {
        EcrItemRecord item;
        int code;
    } cases[] = {
        {Item(0, "X", 1.0, 1), 105},
        {Item(4501, "X", 1.0, 1), 105},
        {Item(1, "X", -1.0, 1), 109},
        {Item(1, "X", 1e7, 1), 109},
        {Item(1, "X", 1.0, 21), 110},
    };
    CDsaLogic& logic = OpenDevice(37);
    for (auto& c : cases) {
        Host().Reset();
        m_emu->ClearLog();
        // The item is refused before its traffic; the job's result is the
        // closing command's.
        EXPECT_EQ(logic.PgmPLU(kDsaPort, &c.item, 1, nullptr, 1), 1);
        EXPECT_EQ(m_emu->Commands(), (std::vector<std::string>{"4066"}));
        auto conf = Host().Confirmations();
        ASSERT_EQ(conf.size(), 1u);
        EXPECT_EQ(conf[0].code, c.code);
    }
}

TEST_F(DsaLogicTest, DepartmentOutOfRangeIsRefusedWithoutTraffic) {
    CDsaLogic& logic = OpenDevice(15, 11);
    EcrDeptRecord d = Dept(21, "X", 1, 0.0);
    EXPECT_EQ(logic.PgmDEPT(kDsaPort, &d, 1, nullptr), 0);
    EXPECT_TRUE(m_emu->Requests().empty());
    EXPECT_EQ(logic.GetErrorCode(), 110);
    auto conf = Host().Confirmations();
    ASSERT_EQ(conf.size(), 1u);
    EXPECT_EQ(conf[0].code, 110);
    EXPECT_FALSE(conf[0].text.empty());
    // A department query for 21 is refused the same way.
    DsaDeptRecord rec;
    EXPECT_EQ(logic.Link().QueryDept(21, rec), 0);
    EXPECT_EQ(logic.Link().m_nError, 110);
    EXPECT_TRUE(m_emu->Requests().empty());
}

TEST_F(DsaLogicTest, DepartmentsAreProgrammedAndFirstFailureReported) {
    CDsaLogic& logic = OpenDevice(37, 11);
    m_emu->QueueErr("4001", 18);
    EcrDeptRecord d[3] = {Dept(1, "Pieczywo", 1, 0.0), Dept(2, "Nabial", 2, 10.0), Dept(3, "Napoje", 3, 0.0)};
    d[1].flags = 1;
    EXPECT_EQ(logic.PgmDEPT(kDsaPort, d, 3, nullptr), 1);   // the closing command's result
    EXPECT_EQ(m_emu->Commands(), (std::vector<std::string>{"4001", "4001", "4001", "4065"}));
    auto ev6 = Host().EventsWithCode(6);
    ASSERT_EQ(ev6.size(), 1u);
    EXPECT_EQ(ev6[0].value, 1018);
    auto conf = Host().Confirmations();
    ASSERT_EQ(conf.size(), 1u);
    EXPECT_EQ(conf[0].number, 1u);
    EXPECT_EQ(conf[0].code, 1018);
    EXPECT_EQ(conf[0].text, PL("Brak wywoływanej danej"));
    EXPECT_EQ(m_emu->Dept(2).amount, 1000u);
    EXPECT_EQ(m_emu->Dept(2).flag, '1');
    EXPECT_EQ(m_emu->Dept(2).limit, 999999999u);
}

TEST_F(DsaLogicTest, ClosingCommandIsTriedTwice) {
    struct Case {
        int type;
        int failures;
        std::vector<std::string> commands;
        int result;
    } cases[] = {
        {37, 1, {"4001", "4065", "4065"}, 1},
        {37, 2, {"4001", "4065", "4065"}, 0},
        {40, 0, {"4001", "4061"}, 1},
        {40, 2, {"4001", "4061", "4061"}, 0},
        {15, 0, {"4001"}, 1},
        {14, 0, {"4001"}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type * 10 + c.failures);
        CDsaLogic& logic = OpenDevice(c.type, 11);
        const std::string closing = c.type == 40 ? "4061" : "4065";
        for (int i = 0; i < c.failures; ++i) m_emu->QueueErr(closing, 30);
        EcrDeptRecord d = Dept(1, "Pieczywo", 1, 0.0);
        const int64_t start = orv::platform::MonotonicMillis();
        EXPECT_EQ(logic.PgmDEPT(kDsaPort, &d, 1, nullptr), c.result);
        EXPECT_EQ(m_emu->Commands(), c.commands);
        if (c.commands.size() > 1) {   // each attempt after a 3-second pause
            EXPECT_GE(orv::platform::MonotonicMillis() - start,
                      orv::platform::ScaledMillis(3.0 * static_cast<double>(c.commands.size() - 1)));
        }
        if (c.result == 0) {
            EXPECT_EQ(logic.GetErrorCode(), 1030);
        }
        CloseDevice();
    }
}

TEST_F(DsaLogicTest, DeleteSendsTheEmptyRecordAndReportsTheFirstFailure) {
    CDsaLogic& logic = OpenDevice(37, 7);
    m_emu->SetPlu(5, EmuPlu(2, 100));
    m_emu->SetPlu(6, EmuPlu(2, 100));
    m_emu->QueueErr("4002", 27);
    EcrItemRecord items[2] = {Item(5, "Pierwszy", 0, 0), Item(6, "Drugi", 0, 0)};
    EXPECT_EQ(logic.DelPLU(kDsaPort, items, 2, nullptr), 1);
    auto req = m_emu->Requests();
    ASSERT_EQ(req.size(), 3u);
    EXPECT_EQ(req[1].data, "0006" + std::string(16, ' ') + "000000000" + "00" + "00000000" + "0000000000000");
    EXPECT_EQ(req[2].command, "4066");
    EXPECT_TRUE(m_emu->HasPlu(5));
    EXPECT_FALSE(m_emu->HasPlu(6));
    auto ev6 = Host().EventsWithCode(6);
    ASSERT_EQ(ev6.size(), 1u);
    EXPECT_EQ(ev6[0].value, 1027);
    EXPECT_EQ(Texts(5), (std::vector<std::string>{"Nazwa - Pierwszy", "Nazwa - Drugi"}));
}

TEST_F(DsaLogicTest, NullArraysFailAndCountZeroCountsAsOne) {
    CDsaLogic& logic = OpenDevice(37);
    EXPECT_EQ(logic.PgmPLU(kDsaPort, nullptr, 3, nullptr, 0), 0);
    EXPECT_EQ(logic.GetErrorCode(), -1);
    EXPECT_EQ(logic.DelPLU(kDsaPort, nullptr, 3, nullptr), 0);
    EXPECT_EQ(logic.ReadPLU(kDsaPort, nullptr, 3, nullptr), 0);
    EXPECT_EQ(logic.GetErrorCode(), -1);
    EXPECT_EQ(logic.PgmDEPT(kDsaPort, nullptr, 3, nullptr), 0);
    EXPECT_TRUE(m_emu->Requests().empty());
    EcrItemRecord item = Item(9, "X", 1.0, 1);
    EXPECT_EQ(logic.PgmPLU(kDsaPort, &item, 0, nullptr, 0), 1);
    EXPECT_TRUE(m_emu->HasPlu(9));
}

// ---------------------------------------------------------------- reads

TEST_F(DsaLogicTest, ReadAllDeptSkipsTaxGroupZeroExceptOnThe45B) {
    for (int type : {15, 40, 14}) {
        SCOPED_TRACE(type);
        CDsaLogic& logic = OpenDevice(type, 9);
        for (uint32_t d = 1; d <= 3; ++d) {
            DsaEmuDept dept;
            dept.name = CDsaLink::Encode(CChrArr(PL("Dział ąę        "))).ToString();
            dept.tax = d;
            dept.amount = 150 * d;
            dept.flag = d == 2 ? '1' : '0';
            m_emu->SetDept(d, dept);
        }
        EXPECT_EQ(logic.ReadAllDEPT(kDsaPort, nullptr), 1) << logic.GetErrorCode();
        auto depts = Host().Depts();
        const size_t count = type == 14 ? 40u : 20u;
        EXPECT_EQ(m_emu->Requests().size(), count);
        ASSERT_EQ(depts.size(), type == 40 ? 20u : 3u);
        EXPECT_EQ(depts[1].number, 2u);
        EXPECT_STREQ(depts[1].name, PL("Dział ąę"));
        EXPECT_EQ(depts[1].vat_group, 2u);
        EXPECT_DOUBLE_EQ(depts[1].price, 3.0);
        EXPECT_EQ(depts[1].flags, 1u);
        auto ev = Host().EventsWithCode(5);
        ASSERT_EQ(ev.size(), count);
        EXPECT_EQ(ev.back().text, "DEPT - " + std::to_string(count));
        EXPECT_EQ(ev.back().percent, 100);
        CloseDevice();
    }
}

TEST_F(DsaLogicTest, ReadAllDeptOn4000Model1UsesTheLongReply) {
    CDsaLogic& logic = OpenDevice(13, 9);
    DsaEmuDept dept;
    dept.tax = 4;
    dept.flag = '1';
    m_emu->SetDept(40, dept);
    EXPECT_EQ(logic.ReadAllDEPT(kDsaPort, nullptr), 1) << logic.GetErrorCode();
    auto depts = Host().Depts();
    ASSERT_EQ(depts.size(), 1u);
    EXPECT_EQ(depts[0].number, 40u);
    EXPECT_EQ(depts[0].vat_group, 4u);
    EXPECT_EQ(depts[0].flags, 1u);
}

TEST_F(DsaLogicTest, ReadPluHandsProgrammedItemsAndReportsEveryGap) {
    CDsaLogic& logic = OpenDevice(37, 4);
    DsaEmuPlu p = EmuPlu(4, 1999);
    p.barcode = "5901234123457";
    m_emu->SetPlu(2, p);
    EcrItemRecord items[3] = {Item(1, "", 0, 0), Item(2, "", 0, 0), Item(3, "", 0, 0)};
    EXPECT_EQ(logic.ReadPLU(kDsaPort, items, 3, nullptr), 0);   // item 3, the last, is not there
    EXPECT_EQ(logic.GetErrorCode(), 202);
    auto got = Host().Items();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].number, 2u);
    EXPECT_STREQ(got[0].name, "STARY");
    EXPECT_STREQ(got[0].code, "5901234123457");
    EXPECT_DOUBLE_EQ(got[0].price, 19.99);
    EXPECT_EQ(got[0].department, 4u);
    EXPECT_EQ(got[0].vat_group, 1u);
    EXPECT_EQ(got[0].unit, 1u);
    auto ev6 = Host().EventsWithCode(6);
    ASSERT_EQ(ev6.size(), 2u);   // items 1 and 3
    EXPECT_EQ(ev6[0].value, 202);
    EXPECT_EQ(ev6[1].value, 202);
    EXPECT_EQ(Texts(5), (std::vector<std::string>{"PLU - 1", "PLU - 2", "PLU - 3"}));
}

TEST_F(DsaLogicTest, ReadAllPluWalksTheCapacity) {
    CDsaLogic& logic = OpenDevice(15, 3);
    m_emu->SetPlu(1, EmuPlu(1, 100));
    m_emu->SetPlu(2730, EmuPlu(20, 250));
    EXPECT_EQ(logic.ReadAllPLU(kDsaPort, nullptr), 1) << logic.GetErrorCode();
    EXPECT_EQ(m_emu->Requests().size(), 2730u);
    auto got = Host().Items();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1].number, 2730u);
    EXPECT_EQ(Host().EventsWithCode(5).back().percent, 100);
}

TEST_F(DsaLogicTest, ReadAllPluProgressFollowsTheNumbersAskedFor) {
    // Model 2 holds 13320 PLUs but its queries carry 4 digits: the loop asks
    // for 1..9999, and its progress is measured against those.
    CDsaLogic& logic = OpenDevice(14, 3);
    BreakAt("4202", 200);
    EXPECT_EQ(logic.ReadAllPLU(kDsaPort, nullptr), 0);
    auto ev = Host().EventsWithCode(5);
    ASSERT_FALSE(ev.empty());
    EXPECT_EQ(ev.back().text, "PLU - 200");
    EXPECT_EQ(ev.back().percent, 2);   // 200 * 100 / 9999
}

// ---------------------------------------------------------------- sale streams

std::vector<DsaEmuSale> ThreeSales() { return {{12, 1500, 2999}, {13, 250, 100}, {2730, 1000, 99999}}; }

TEST_F(DsaLogicTest, SaleStreamOfThreeLines) {
    CDsaLogic& logic = OpenDevice(15, 1);
    m_emu->SetSales(ThreeSales());
    EXPECT_EQ(logic.ReadSale(kDsaPort, nullptr), 1) << logic.GetErrorCode();
    auto req = m_emu->Requests();
    ASSERT_EQ(req.size(), 1u);
    EXPECT_EQ(req[0].command, "2051");
    EXPECT_EQ(req[0].data, "010001");
    auto sales = Host().Sales();
    ASSERT_EQ(sales.size(), 3u);
    EXPECT_EQ(sales[0].item.number, 12u);
    EXPECT_EQ(sales[0].sale.plu, 12u);
    EXPECT_DOUBLE_EQ(sales[0].sale.quantity, 1.5);
    EXPECT_DOUBLE_EQ(sales[0].sale.value, 29.99);
    EXPECT_DOUBLE_EQ(sales[2].sale.value, 999.99);
    EXPECT_EQ(sales[2].sale.kind, 0u);
    EXPECT_EQ(sales[2].sale.name[0], 0);
    EXPECT_EQ(Texts(5), (std::vector<std::string>{"PLU - 1", "PLU - 2", "PLU - 3", "PLU - 4", "100 %"}));
    auto ev = Host().EventsWithCode(5);
    EXPECT_EQ(ev[3].percent, 0);
    EXPECT_EQ(ev[4].percent, 100);
    EXPECT_EQ(Host().CountEvents(9), 1);
    EXPECT_EQ(m_emu->Sales().size(), 3u);   // reading does not clear
}

TEST_F(DsaLogicTest, StreamPercentStaysSmall) {
    CDsaLogic& logic = OpenDevice(15, 1);
    std::vector<DsaEmuSale> many;
    for (uint32_t p = 1; p <= 80; ++p) many.push_back({p, 1000, 100});
    m_emu->SetSales(many);
    EXPECT_EQ(logic.ReadSale(kDsaPort, nullptr), 1);
    int most = 0, ones = 0;
    auto ev = Host().EventsWithCode(5);
    ev.pop_back();   // "100 %"
    for (const auto& e : ev) {
        most = std::max(most, e.percent);
        ones += e.percent == 1;
    }
    EXPECT_EQ(most, 2);   // (74 * 100) / 2730
    EXPECT_GT(ones, 0);
    EXPECT_EQ(Host().Sales().size(), 80u);
}

TEST_F(DsaLogicTest, ClearingConfirmsWith3056) {
    CDsaLogic& logic = OpenDevice(37, 2);
    m_emu->SetSales(ThreeSales());
    EXPECT_EQ(logic.ClearSale(kDsaPort, nullptr), 1) << logic.GetErrorCode();
    EXPECT_EQ(m_emu->Commands(), (std::vector<std::string>{"3055"}));
    EXPECT_EQ(Host().Sales().size(), 3u);
    EXPECT_TRUE(m_emu->WaitForAcks(5));   // three lines, the end line, "3056"
    EXPECT_TRUE(m_emu->Sales().empty());
}

TEST_F(DsaLogicTest, ClearingWithoutConfirmationFails) {
    CDsaLogic& logic = OpenDevice(37, 2);
    m_emu->SetSales(ThreeSales());
    for (int i = 0; i < 4; ++i) m_emu->QueueFrameFault(DsaEmulator::FrameFault::None);
    m_emu->QueueFrameFault(DsaEmulator::FrameFault::BadChecksum);   // the "3056" frame
    EXPECT_EQ(logic.ClearSale(kDsaPort, nullptr), 0);
    EXPECT_EQ(Host().Sales().size(), 3u);
    EXPECT_EQ(logic.GetErrorCode(), 10000);
}

TEST_F(DsaLogicTest, RepeatedSequenceNumberEndsTheStream) {
    CDsaLogic& logic = OpenDevice(15, 1);
    m_emu->SetSales(ThreeSales());
    m_emu->QueueFrameFault(DsaEmulator::FrameFault::None);
    m_emu->QueueFrameFault(DsaEmulator::FrameFault::RepeatSeq);
    EXPECT_EQ(logic.ReadSale(kDsaPort, nullptr), 0);
    EXPECT_EQ(logic.GetErrorCode(), 9999);
    EXPECT_EQ(Host().Sales().size(), 1u);
}

TEST_F(DsaLogicTest, SaleLineOutsideTheCapacityFails) {
    CDsaLogic& logic = OpenDevice(15, 1);
    m_emu->SetSales({{12, 1, 1}, {2731, 1, 1}});
    EXPECT_EQ(logic.ReadSale(kDsaPort, nullptr), 0);
    EXPECT_EQ(logic.GetErrorCode(), 105);
    EXPECT_EQ(Host().Sales().size(), 1u);
}

TEST_F(DsaLogicTest, Stream45BEndsAt99999) {
    CDsaLogic& logic = OpenDevice(40, 2);
    m_emu->SetSales({{2999, 2000, 500}, {3000, 1, 1}});
    EXPECT_EQ(logic.ClearSale(kDsaPort, nullptr), 1) << logic.GetErrorCode();
    auto req = m_emu->Requests();
    ASSERT_EQ(req.size(), 1u);
    EXPECT_EQ(req[0].command, "3055");
    EXPECT_EQ(req[0].data, "010000103000");
    auto sales = Host().Sales();
    ASSERT_EQ(sales.size(), 2u);
    EXPECT_EQ(sales[0].sale.plu, 2999u);
    EXPECT_DOUBLE_EQ(sales[0].sale.quantity, 2.0);
    EXPECT_EQ(Texts(5).back(), "100 %");
    EXPECT_TRUE(m_emu->WaitForAcks(3));
    EXPECT_EQ(m_emu->AcksReceived(), 3);   // no confirmation frame

    // 09999 is an ordinary PLU number, above the capacity.
    Host().Reset();
    m_emu->SetSales({{9999, 1, 1}});
    EXPECT_EQ(logic.ReadSale(kDsaPort, nullptr), 0);
    EXPECT_EQ(logic.GetErrorCode(), 105);
}

TEST_F(DsaLogicTest, Stream4000Models) {
    struct Case {
        int type;
        const char* command;
        const char* request;
        int acks;   // lines + end + confirmation
    } cases[] = {
        {13, "3060", "010001", 4},
        {14, "3060", "010000113320", 4},
        {36, "3055", "010000120000", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        CDsaLogic& logic = OpenDevice(c.type, 2);
        m_emu->SetSales({{100, 1000, 250}, {4000, 3000, 900}});
        EXPECT_EQ(logic.ClearSale(kDsaPort, nullptr), 1) << logic.GetErrorCode();
        auto req = m_emu->Requests();
        ASSERT_EQ(req.size(), 1u);
        EXPECT_EQ(req[0].command, c.command);
        EXPECT_EQ(req[0].data, c.request);
        EXPECT_EQ(Host().Sales().size(), 2u);
        EXPECT_TRUE(m_emu->WaitForAcks(c.acks));
        EXPECT_EQ(m_emu->AcksReceived(), c.acks);
        EXPECT_TRUE(m_emu->Sales().empty());
        CloseDevice();
    }
}

TEST_F(DsaLogicTest, DataLogOf4000IsOpenWhileTheLineIs) {
    CDsaLogic& logic = OpenDevice(14);
    EXPECT_TRUE(logic.Link().IsDataLogOpen());
    logic.Close(kDsaPort);
    EXPECT_FALSE(logic.Link().IsDataLogOpen());
}

// ---------------------------------------------------------------- breaks

struct BreakCase {
    const char* what;
    int type;
    uint32_t job;
    std::string command;
    int nth;
    std::function<int(CDsaLogic&)> run;
};

TEST_F(DsaLogicTest, BreakEndsEveryLoopWithoutAConfirmation) {
    static EcrItemRecord items[2];
    static EcrDeptRecord depts[2];
    items[0] = Item(7, "A", 1.0, 1);
    items[1] = Item(8, "B", 1.0, 1);
    depts[0] = Dept(1, "A", 1, 0.0);
    depts[1] = Dept(2, "B", 1, 0.0);
    const BreakCase cases[] = {
        {"PgmDEPT", 37, 11, "4001", 1, [](CDsaLogic& l) { return l.PgmDEPT(kDsaPort, depts, 2, nullptr); }},
        {"closing command", 37, 11, "4065", 1, [](CDsaLogic& l) { return l.PgmDEPT(kDsaPort, depts, 2, nullptr); }},
        {"PgmPLU", 37, 5, "4059", 1, [](CDsaLogic& l) { return l.PgmPLU(kDsaPort, items, 2, nullptr, 0); }},
        {"PgmPLU change", 15, 5, "4002", 1, [](CDsaLogic& l) { return l.PgmPLU(kDsaPort, items, 2, nullptr, 1); }},
        {"DelPLU", 40, 7, "4002", 1, [](CDsaLogic& l) { return l.DelPLU(kDsaPort, items, 2, nullptr); }},
        {"ReadAllDEPT", 15, 9, "4201", 2, [](CDsaLogic& l) { return l.ReadAllDEPT(kDsaPort, nullptr); }},
        {"ReadAllPLU", 14, 3, "4202", 3, [](CDsaLogic& l) { return l.ReadAllPLU(kDsaPort, nullptr); }},
        {"ReadPLU", 37, 4, "4202", 1, [](CDsaLogic& l) { return l.ReadPLU(kDsaPort, items, 2, nullptr); }},
        {"ReadSale", 37, 1, "2051", 1, [](CDsaLogic& l) { return l.ReadSale(kDsaPort, nullptr); }},
        {"ClearSale", 13, 2, "3060", 1, [](CDsaLogic& l) { return l.ClearSale(kDsaPort, nullptr); }},
        {"DSP ReadAllPLU", 109, 3, "101", 2, [](CDsaLogic& l) { return l.ReadAllPLU(kDsaPort, nullptr); }},
    };
    for (const BreakCase& c : cases) {
        SCOPED_TRACE(c.what);
        CDsaLogic& logic = OpenDevice(c.type, c.job);
        for (uint32_t p = 1; p <= 5; ++p) m_emu->SetPlu(p, EmuPlu(1, 100));
        m_emu->SetSales(ThreeSales());
        BreakAt(c.command, c.nth);
        EXPECT_EQ(c.run(logic), 0);
        EXPECT_EQ(logic.GetErrorCode(), -7);
        EXPECT_TRUE(Host().Confirmations().empty());
        // Nothing was sent after the request that was broken off.
        auto cmds = m_emu->Commands();
        ASSERT_FALSE(cmds.empty());
        EXPECT_EQ(cmds.back(), c.command);
        EXPECT_EQ(std::count(cmds.begin(), cmds.end(), c.command), c.nth);
        CloseDevice();
    }
}

// ---------------------------------------------------------------- DSP 500

TEST_F(DsaLogicTest, Dsp500ReadsGoodsUntilTheFirstEmptyRecord) {
    CDsaLogic& logic = OpenDevice(109, 3, 0, 19200);
    // The register's own line settings, whatever the host's baud rate.
    ASSERT_TRUE(m_spy);
    auto lines = m_spy->Requested();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().baud, 9600);
    EXPECT_EQ(lines.back().dataBits, 7);
    EXPECT_EQ(lines.back().parity, 'O');
    EXPECT_EQ(lines.back().stopBits, 1);
    DsaEmuPlu p;
    p.name = CDsaLink::Encode(CChrArr(PL("Żurek w słoiku 500ml"))).ToString();
    p.price = 123456;
    p.barcode = "1234567";
    m_emu->SetPlu(1, p);
    m_emu->SetPlu(2, p);
    EXPECT_EQ(logic.ReadAllPLU(kDsaPort, nullptr), 1) << logic.GetErrorCode();
    auto req = m_emu->Requests();
    ASSERT_EQ(req.size(), 3u);
    EXPECT_EQ(req[2].command, "101");
    EXPECT_EQ(req[2].data, "0000003");
    auto got = Host().Items();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_STREQ(got[0].name, PL("Żurek w słoiku 500ml"));
    EXPECT_DOUBLE_EQ(got[0].price, 1234.56);
    EXPECT_STREQ(got[0].code, "1234567");
    EXPECT_EQ(got[0].department, 0u);

    // A device refusal also ends the goods; a dead line fails the job.
    Host().Reset();
    m_emu->QueueErr("101", 18);
    EXPECT_EQ(logic.ReadAllPLU(kDsaPort, nullptr), 1);
    EXPECT_TRUE(Host().Items().empty());
    m_emu->QueueFrameFault(DsaEmulator::FrameFault::NoReply);
    EXPECT_EQ(logic.ReadAllPLU(kDsaPort, nullptr), 0);
    EXPECT_EQ(logic.GetErrorCode(), -5);
}

TEST_F(DsaLogicTest, Dsp500ReadsListedGoods) {
    CDsaLogic& logic = OpenDevice(109, 4);
    DsaEmuPlu p;
    p.name = DsaEmulator::DeviceText("Cukier");
    p.price = 450;
    m_emu->SetPlu(1, p);
    m_emu->SetPlu(9999999, p);
    EcrItemRecord items[3] = {Item(1, "", 0, 0), Item(2, "", 0, 0), Item(9999999, "", 0, 0)};
    EXPECT_EQ(logic.ReadPLU(kDsaPort, items, 3, nullptr), 1);
    EXPECT_EQ(logic.GetErrorCode(), 0);   // a gap before the last item leaves no code
    auto got = Host().Items();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1].number, 9999999u);
    EXPECT_STREQ(got[1].name, "Cukier");
    auto ev6 = Host().EventsWithCode(6);
    ASSERT_EQ(ev6.size(), 1u);   // PLU 2 is not in the register
    EXPECT_EQ(ev6[0].value, 202);
    EXPECT_EQ(m_emu->Requests()[2].data, "9999999");
}

TEST_F(DsaLogicTest, Dsp500ProgrammingIsNotAvailable) {
    CDsaLogic& logic = OpenDevice(109, 5);
    EcrItemRecord items[3] = {Item(1, "X", 1.0, 0), Item(0, "Y", 1.0, 0), Item(2, "Z", -1.0, 0)};
    EXPECT_EQ(logic.PgmPLU(kDsaPort, items, 3, nullptr, 0), 0);
    EXPECT_TRUE(m_emu->Requests().empty());
    auto conf = Host().Confirmations();
    ASSERT_EQ(conf.size(), 3u);
    EXPECT_EQ(conf[0].code, 25);
    EXPECT_EQ(conf[0].text, PL("Rozkaz niedostępny w tej wersji programu kasy"));
    EXPECT_EQ(conf[1].code, 105);
    EXPECT_EQ(conf[2].code, 109);
    // The slots the register does not serve, and those needing no work.
    EXPECT_EQ(logic.ClearSale(kDsaPort, nullptr), 1);
    EcrDeptRecord d = Dept(1, "X", 1, 0);
    EXPECT_EQ(logic.PgmDEPT(kDsaPort, &d, 1, nullptr), 1);
    EXPECT_EQ(logic.ReadSale(kDsaPort, nullptr), 0);
    EXPECT_EQ(logic.GetErrorCode(), 25);
    EXPECT_EQ(logic.DelPLU(kDsaPort, items, 1, nullptr), 0);
    EXPECT_EQ(logic.ReadAllDEPT(kDsaPort, nullptr), 0);
    double vat[8];
    EXPECT_EQ(logic.ReadVAT(kDsaPort, vat), 0);
    EXPECT_TRUE(m_emu->Requests().empty());
}

}  // namespace
}  // namespace orv::test

namespace orv::test {
namespace {

TEST_F(DsaLogicTest, OpenFailureKeepsTheTransportError) {
    StartDevice(DsaModel::Dsa100M0);
    CD1_ECR logic;
    const EcrDeviceRecord dev = DeviceRecord(15, 9, 9600);
    setenv("ECR_COM9", "/nonexistent/dsa-port", 1);
    logic.SetSerial(m_serial.get());
    EXPECT_EQ(logic.Open(9, &dev), 0);
    unsetenv("ECR_COM9");
    EXPECT_LT(logic.GetErrorCode(), 0);
    EXPECT_STRNE(logic.GetErrorMessage(), "");
    // Without a serial object nothing is opened.
    CD1_ECR bare;
    EXPECT_EQ(bare.Open(kDsaPort, &dev), 0);
    EXPECT_EQ(bare.GetErrorCode(), 999999);
    // The emulator's port still opens afterwards.
    const EcrDeviceRecord good = DeviceRecord(15, kDsaPort, 9600);
    EXPECT_EQ(logic.Open(kDsaPort, &good), 1);
    logic.Close(kDsaPort);
}

}  // namespace
}  // namespace orv::test
