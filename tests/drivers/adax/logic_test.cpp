// The Adax job logic against the emulator: the session command lists, the
// operator's box, the three uploads with their placeholders and stream
// faults, programming, price updates and deleting with the refusals made
// before any traffic, kept failure codes and breaks.
#include <cstring>

#include "adax_fixture.h"
#include "util/cp1250.h"

namespace orv::test {
namespace {

using F = AdaxEmulator::Fault;

EcrItemRecord Item(const char* code, const char* name, double price, uint32_t dept) {
    return HostItemRecord({.number = 0, .name = name, .code = code, .price = price, .dept = dept});
}

AdaxEmuItem Sold(int64_t quantity, int64_t value) {
    AdaxEmuItem item;
    item.name = "TOWAR";
    item.price = 100;
    item.soldQuantity = quantity;
    item.soldValue = value;
    return item;
}

std::vector<std::string> Texts(int code) {
    std::vector<std::string> out;
    for (const auto& e : Host().EventsWithCode(code)) out.push_back(e.text);
    return out;
}

// ---------------------------------------------------------------- sessions

TEST_F(AdaxTest, ClearingRunsInOneSessionWithOneBox) {
    CAD_ECR& logic = OpenLogic(2);
    m_emu->SetItem("5901", Sold(2000, 450));
    ASSERT_EQ(logic.ClearSale(kAdaxPort, nullptr), 1) << logic.GetErrorCode();
    EXPECT_EQ(m_emu->Commands(),
              Join(Join(OpeningCommands(), {"*SZZk", "*SK", "*S2020Q", "*Si"}), ClosingCommands()));
    auto boxes = Messages();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].kind, orv::platform::MessageKind::Prompt);
    EXPECT_EQ(boxes[0].text, PL("Proszę zablokować klawiaturę na kasie - kl.<Zegar>"));
    EXPECT_EQ(m_emu->Item("5901").soldValue, 0);
    EXPECT_FALSE(m_emu->SessionOpen());
    EXPECT_EQ(Host().EventCodes().front(), ECR_EVENT_BULK);
}

TEST_F(AdaxTest, AFailingFirstConnectDoesNotStopTheSession) {
    CAD_ECR& logic = OpenLogic(2);
    m_emu->QueueAnswerFault(F::Silence);   // the first *I
    ASSERT_EQ(logic.ClearSale(kAdaxPort, nullptr), 1) << logic.GetErrorCode();
    EXPECT_EQ(m_emu->Commands(),
              Join(Join(OpeningCommands(), {"*SZZk", "*SK", "*S2020Q", "*Si"}), ClosingCommands()));
}

TEST_F(AdaxTest, AFailedCommandKeepsItsCodeOverAGoodClosing) {
    CAD_ECR& logic = OpenLogic(2);
    auto seen = std::make_shared<int>(0);
    AdaxEmulator* emu = m_emu.get();
    m_emu->SetCommandHook([=](const std::string& c) {
        if (c == "*SK" && ++*seen == 1) emu->QueueAnswerFault(F::BadChecksum);
    });
    EXPECT_EQ(logic.ClearSale(kAdaxPort, nullptr), 0);
    EXPECT_EQ(logic.GetErrorCode(), 1000);
    // The rest of the clearing was skipped, the session was closed.
    EXPECT_EQ(m_emu->Commands(), Join(Join(OpeningCommands(), {"*SZZk", "*SK"}), ClosingCommands()));
    EXPECT_FALSE(m_emu->SessionOpen());
}

// ---------------------------------------------------------------- uploads

TEST_F(AdaxTest, GoodsUploadHandsOverCodesWithTheFixedValues) {
    CAD_ECR& logic = OpenLogic(3);
    m_emu->SetItem("5901234123457", Sold(0, 0));
    m_emu->SetItem("77", Sold(1000, 250));
    ASSERT_EQ(logic.ReadAllPLU(kAdaxPort, nullptr), 1) << logic.GetErrorCode();
    EXPECT_EQ(m_emu->Commands(), Join(Join(OpeningCommands(), {"*X8", "", "", "", "", ""}), ClosingCommands()));
    auto items = Host().Items();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_STREQ(items[0].code, "5901234123457");
    EXPECT_STREQ(items[1].code, "77");
    for (const EcrItemRecord& it : items) {
        EXPECT_EQ(it.number, 0u);
        EXPECT_STREQ(it.name, "");
        EXPECT_DOUBLE_EQ(it.price, 1.0);
        EXPECT_EQ(it.department, 1u);
        EXPECT_EQ(it.vat_group, 1u);
        EXPECT_EQ(it.unit, 1u);
        EXPECT_EQ(it.word148, 0u);
        EXPECT_EQ(it.linked_plu, 0u);
    }
    EXPECT_EQ(Texts(ECR_EVENT_ITEM), (std::vector<std::string>{"Kod kreskowy - 5901234123457", "Kod kreskowy - 77"}));
}

TEST_F(AdaxTest, DepartmentUploadHandsOverOnePlaceholderPerAnswer) {
    CAD_ECR& logic = OpenLogic(9);
    m_emu->SetDepartments({"A", "B", "C", "D"});
    ASSERT_EQ(logic.ReadAllDEPT(kAdaxPort, nullptr), 1) << logic.GetErrorCode();
    auto depts = Host().Depts();
    ASSERT_EQ(depts.size(), 4u);
    for (uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(depts[i].number, i + 1);
        EXPECT_STREQ(depts[i].name, "ABCDEFGHIJKL");
        EXPECT_EQ(depts[i].vat_group, 1u);
        EXPECT_DOUBLE_EQ(depts[i].price, 1.0);
        EXPECT_EQ(depts[i].word100, 99u);
        EXPECT_EQ(depts[i].flags, 0u);
    }
    EXPECT_EQ(Texts(ECR_EVENT_ITEM), (std::vector<std::string>(4, "DEPT")));
}

TEST_F(AdaxTest, SalesWithoutValueOrQuantityAreDropped) {
    CAD_ECR& logic = OpenLogic(1);
    m_emu->SetItem("1", Sold(1500, 375));
    m_emu->SetItem("2", Sold(0, 100));
    m_emu->SetItem("3", Sold(2000, 0));
    m_emu->SetItem("4", Sold(-1000, 200));
    ASSERT_EQ(logic.ReadSale(kAdaxPort, nullptr), 1) << logic.GetErrorCode();
    auto sales = Host().Sales();
    ASSERT_EQ(sales.size(), 2u);
    EXPECT_STREQ(sales[0].sale.code, "1");
    EXPECT_STREQ(sales[0].item.code, "1");
    EXPECT_DOUBLE_EQ(sales[0].sale.quantity, 1.5);
    EXPECT_DOUBLE_EQ(sales[0].sale.value, 3.75);
    EXPECT_EQ(sales[0].sale.plu, 0u);
    EXPECT_STREQ(sales[1].sale.code, "4");
    EXPECT_DOUBLE_EQ(sales[1].sale.quantity, -1.0);
}

TEST_F(AdaxTest, StreamAnswersThatAreNoRecords) {
    struct Case {
        const char* what;
        uint32_t job;
        std::vector<F> faults;   // on the answers of the stream, after *X8's
        int result;
        int code;
        size_t records;
        int notices;
    } cases[] = {
        {"ready frame passed over", 3, {F::None, F::Ready}, 1, 0, 2, 0},
        {"Error stops the goods", 3, {F::None, F::Error}, 0, 9999, 0, 1},
        {"Error lets the sales go on", 1, {F::None, F::Error}, 1, 0, 2, 1},
        {"endless stream", 3, {F::Endless}, 0, 9999, 0, 0},
        {"a broken answer", 3, {F::None, F::NoEnd}, 0, 1001, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m_messages.clear();
        Host().Reset();
        CAD_ECR& logic = OpenLogic(c.job);
        m_emu->SetItem("1", Sold(1000, 100));
        m_emu->SetItem("2", Sold(1000, 100));
        auto queued = std::make_shared<bool>(false);
        AdaxEmulator* emu = m_emu.get();
        std::vector<F> faults = c.faults;
        m_emu->SetCommandHook([=](const std::string& cmd) {
            if (cmd == "*X8" && !*queued) {
                *queued = true;
                for (F f : faults) emu->QueueAnswerFault(f);
            }
        });
        const int r = c.job == 1 ? logic.ReadSale(kAdaxPort, nullptr) : logic.ReadAllPLU(kAdaxPort, nullptr);
        EXPECT_EQ(r, c.result);
        EXPECT_EQ(logic.GetErrorCode(), c.code);
        EXPECT_EQ(c.job == 1 ? Host().Sales().size() : Host().Items().size(), c.records);
        int notices = 0;
        for (const auto& m : Messages())
            if (m.kind == orv::platform::MessageKind::Notice && m.text == "Error") ++notices;
        EXPECT_EQ(notices, c.notices);
        EXPECT_FALSE(m_emu->SessionOpen());   // the session is closed in every case
        m_logic.Close(kAdaxPort);
        m_emu->SetCommandHook({});
        m_emu->ClearLog();
    }
}

// ---------------------------------------------------------------- programming

TEST_F(AdaxTest, ProgrammingSendsEachItemInOneSession) {
    CAD_ECR& logic = OpenLogic(5);
    EcrItemRecord items[2] = {Item("123", PL("Jabłka"), 12.345, 1), Item(" 5901 ", "Bulka", 0.6, 2)};
    ASSERT_EQ(logic.PgmPLU(kAdaxPort, items, 2, nullptr, 0), 1) << logic.GetErrorCode();
    EXPECT_EQ(m_emu->Commands(),
              (std::vector<std::string>{"*I", "*SZZl11Q", "*WH0          1230000001234" "0000",
                                        "*WH1Jabska            A9", "*WH0         59010000000060" "0000",
                                        "*WH1Bulka             B9", "*SKZi", "*SZi"}));
    EXPECT_EQ(m_emu->Item("123").price, 1234u);
    EXPECT_EQ(m_emu->Item("5901").dept, 'B');
    EXPECT_TRUE(Host().Confirmations().empty());
    EXPECT_EQ(Texts(ECR_EVENT_ITEM), (std::vector<std::string>{PL("Programowanie Jabłka"), "Programowanie Bulka"}));
}

TEST_F(AdaxTest, UpdateChangesOnlyThePrice) {
    CAD_ECR& logic = OpenLogic(6);
    m_emu->SetItem("123", Sold(0, 0));
    EcrItemRecord item = Item("123", "X", 12.5, 1);
    ASSERT_EQ(logic.PgmPLU(kAdaxPort, &item, 1, nullptr, 1), 1) << logic.GetErrorCode();
    EXPECT_EQ(m_emu->Commands(),
              (std::vector<std::string>{"*I", "*SZZl12Q", "*S123R", "*S12,50Q", "*SKZi", "*SZi"}));
    EXPECT_EQ(m_emu->Item("123").price, 1250u);
    EXPECT_EQ(Texts(ECR_EVENT_ITEM), (std::vector<std::string>{"Aktualizacja danych 123"}));
}

TEST_F(AdaxTest, ItemsTheRegisterCannotTakeAreRefusedBeforeTraffic) {
    struct Case {
        const char* what;
        EcrItemRecord item;
        int kind;
        int code;
        const char* text;
    } cases[] = {
        {"code of 14 characters", Item("12345678901234", "A", 1.0, 1), 0, 105, PL("Nieokreślony błąd")},
        {"department 192", Item("1", "A", 1.0, 192), 0, 110, PL("Numer działu poza zakresem")},
        {"negative price", Item("1", "A", -0.01, 1), 0, 109, PL("Cena towaru poza zakresem")},
        {"price over 99,999,999.99", Item("1", "A", 100000000.0, 1), 1, 109, PL("Cena towaru poza zakresem")},
        {"NaN price", Item("1", "A", std::nan(""), 1), 1, 109, PL("Cena towaru poza zakresem")},
        {"blank code to update", Item("   ", "A", 1.0, 1), 1, 105, PL("Nieokreślony błąd")},
    };
    CAD_ECR& logic = OpenLogic(5);
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        Host().Reset();
        m_emu->ClearLog();
        EcrItemRecord items[2] = {c.item, Item("9", "Dobry", 1.0, 191)};
        EXPECT_EQ(logic.PgmPLU(kAdaxPort, items, 2, nullptr, c.kind), 1);
        auto conf = Host().Confirmations();
        ASSERT_EQ(conf.size(), 1u);
        EXPECT_EQ(conf[0].code, c.code);
        EXPECT_EQ(conf[0].text, c.text);
        ASSERT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 1);   // the first failure, not the last item
        // Only the good item went out.
        const auto cmds = m_emu->Commands();
        ASSERT_EQ(cmds.size(), 6u);
        EXPECT_EQ(cmds[2], c.kind == 1 ? "*S9R" : "*WH0            90000000100" "0000");
    }
}

TEST_F(AdaxTest, DeletingRemovesItemsAndRefusesABlankCode) {
    CAD_ECR& logic = OpenLogic(7);
    m_emu->SetItem("123", Sold(0, 0));
    EcrItemRecord items[2] = {Item(" ", "Pusty", 0, 0), Item("123", "Jabłka", 0, 0)};
    ASSERT_EQ(logic.DelPLU(kAdaxPort, items, 2, nullptr), 1) << logic.GetErrorCode();
    EXPECT_EQ(m_emu->Commands(), (std::vector<std::string>{"*I", "*SZZl13Q", "*S123R0B", "*SKZi", "*SZi"}));
    EXPECT_FALSE(m_emu->HasItem("123"));
    auto conf = Host().Confirmations();
    ASSERT_EQ(conf.size(), 1u);
    EXPECT_EQ(conf[0].code, 105);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 1);
}

TEST_F(AdaxTest, AFailedDeleteOrUpdateIs105) {
    CAD_ECR& logic = OpenLogic(7);
    m_emu->SetItem("123", Sold(0, 0));
    auto seen = std::make_shared<int>(0);
    AdaxEmulator* emu = m_emu.get();
    m_emu->SetCommandHook([=](const std::string& c) {
        if (c == "*SZZl13Q" && ++*seen == 1) emu->QueueAnswerFault(F::None), emu->QueueAnswerFault(F::NoEnd);
    });
    EcrItemRecord item = Item("123", "A", 0, 0);
    EXPECT_EQ(logic.DelPLU(kAdaxPort, &item, 1, nullptr), 0);
    EXPECT_EQ(logic.GetErrorCode(), 105);
    auto conf = Host().Confirmations();
    ASSERT_EQ(conf.size(), 1u);
    EXPECT_EQ(conf[0].code, 105);
}

TEST_F(AdaxTest, ARegisterThatStopsAnsweringGetsNoClosing) {
    CAD_ECR& logic = OpenLogic(5);
    Link().m_nRetry = 1;   // one wait per answer keeps this short
    m_emu->SetIdlePeriod(0);
    m_emu->SetSilent(true);
    EcrItemRecord items[5] = {Item("1", "A", 1.0, 1), Item("2", "B", 1.0, 1), Item("3", "C", 1.0, 1),
                              Item("4", "D", 1.0, 1), Item("5", "E", 1.0, 1)};
    EXPECT_EQ(logic.PgmPLU(kAdaxPort, items, 5, nullptr, 0), 0);
    EXPECT_EQ(logic.GetErrorCode(), -5);
    auto conf = Host().Confirmations();
    ASSERT_EQ(conf.size(), 5u);   // every item is accounted for
    for (const auto& c : conf) EXPECT_EQ(c.code, -5);
    // Three items were tried; nothing followed them, no programming end either.
    const Bytes sent = m_emu->Received();
    const std::string line(sent.begin(), sent.end());
    EXPECT_NE(line.find("*WH0" + std::string(12, ' ') + "3"), std::string::npos);
    EXPECT_EQ(line.find("*WH0" + std::string(12, ' ') + "4"), std::string::npos);
    EXPECT_EQ(line.find("*SKZi"), std::string::npos);
}

TEST_F(AdaxTest, ABreakEndsTheJobWithoutConfirmationOrFurtherFrames) {
    CAD_ECR& logic = OpenLogic(5);
    EcrItemRecord items[3] = {Item("1", "A", 1.0, 1), Item("2", "B", 1.0, 1), Item("3", "C", 1.0, 1)};
    BreakAt("*WH0            20000000100" "0000");
    EXPECT_EQ(logic.PgmPLU(kAdaxPort, items, 3, nullptr, 0), 0);
    EXPECT_EQ(logic.GetErrorCode(), -7);
    EXPECT_TRUE(Host().Confirmations().empty());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto cmds = m_emu->Commands();
    ASSERT_FALSE(cmds.empty());
    EXPECT_EQ(cmds.back(), "*WH0            20000000100" "0000");
}

TEST_F(AdaxTest, ABreakInTheOperatorsBoxEndsTheSession) {
    CAD_ECR& logic = OpenLogic(2);
    CTelepathy* serial = m_serial.get();
    orv::platform::SetMessageHook([serial](orv::platform::MessageKind, const std::string&, int def) {
        serial->Break();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return def;
    });
    EXPECT_EQ(logic.ClearSale(kAdaxPort, nullptr), 0);
    EXPECT_EQ(logic.GetErrorCode(), -7);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(m_emu->Commands(), (std::vector<std::string>{"*I", "*SZZi", "*U"}));
}

// ---------------------------------------------------------------- other slots

TEST_F(AdaxTest, SlotsTheRegisterCannotServeFailWith25WithoutTraffic) {
    CAD_ECR& logic = OpenLogic(15);
    double vat[8] = {};
    EXPECT_EQ(logic.ReadVAT(kAdaxPort, vat), 0);
    for (double v : vat) EXPECT_EQ(v, -3.0);
    EXPECT_EQ(logic.GetErrorCode(), 25);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_BULK), 1);

    Host().Reset();
    EcrItemRecord items[2] = {Item("5901", "A", 1, 1), Item("77", "B", 1, 1)};
    EXPECT_EQ(logic.ReadPLU(kAdaxPort, items, 2, nullptr), 0);
    EXPECT_EQ(logic.GetErrorCode(), 25);
    auto ev = Host().EventsWithCode(ECR_EVENT_ITEM);
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].text, "Kod kreskowy - 5901");
    EXPECT_EQ(ev[0].percent, 50);
    EXPECT_TRUE(Host().Items().empty());

    Host().Reset();
    EcrDeptRecord depts[3] = {};
    EXPECT_EQ(logic.PgmDEPT(kAdaxPort, depts, 3, nullptr), 0);
    auto conf = Host().Confirmations();
    ASSERT_EQ(conf.size(), 3u);
    for (const auto& c : conf) EXPECT_EQ(c.code, 25);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 1);
    EXPECT_TRUE(m_emu->Commands().empty());
}

}  // namespace
}  // namespace orv::test
