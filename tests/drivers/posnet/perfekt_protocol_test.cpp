// The Perfekt protocol against the emulator: frames byte for byte, the reply
// reader's checks, refusal codes, prices, codes and names on the wire, the
// reply parsers and the three "$b" walks.
#include <cmath>
#include <cstring>
#include <limits>

#include "perfekt_fixture.h"
#include "util/cp1250.h"

namespace orv::test {
namespace {

const std::string kFe = "\xFE";

Bytes Frame(const std::string& payloadAndChecksum) { return B("\x1BR" + payloadAndChecksum + "\x1B\\"); }

PerfektPlu MakaPlu() {
    PerfektPlu plu;
    plu.number = 7;
    std::strcpy(plu.name, PL("Mąka"));
    std::strcpy(plu.code, "590123412345");
    plu.price = 2.99;
    plu.vatGroup = 2;
    return plu;
}

// ---------------------------------------------------------------- frames

TEST_P(PerfektTest, StatusVatAndDeleteFramesAreByteExact) {
    StartDevice(1);
    auto link = OpenLink(1);
    std::string text;
    double rates[8];
    ASSERT_EQ(link->ReadStatus(text), 1) << link->m_nError;
    ASSERT_EQ(link->ReadVAT(rates), 1) << link->m_nError;
    ASSERT_EQ(link->DeletePlu(12), 0);   // not on the register: refused with 49
    EXPECT_EQ(link->m_nError, 49);
    auto frames = m_emu->Frames();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(Hex(frames[0].raw), "1B 52 24 7A 41 31 1B 5C");
    EXPECT_EQ(frames[1].raw, Frame("$sA8"));
    EXPECT_EQ(frames[2].raw, Frame("#d5" + kFe + "12\t79"));
    EXPECT_EQ(m_emu->ChecksumErrors(), 0);
}

TEST_P(PerfektTest, GoodsRecordFollowsTheVariant) {
    const std::string head = "#p5" + kFe + "1" + kFe + "7\tM\x86ka            \n0590123412345\n299\t";
    const struct {
        int variant;
        std::string rest;
    } cases[] = {
        {1, "0\t0\t0" + kFe + "0" + kFe + "0" + kFe + "1" + kFe + "54"},
        {4, "0\t0\t0" + kFe + "0" + kFe + "1" + kFe + "0" + kFe + "1" + kFe + "1" + kFe + "0" + kFe + "1" + kFe + "55"},
        {2, "0\t0" + kFe + "1" + kFe + "6D"},
        {3, "0\t0" + kFe + "1" + kFe + "6D"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.variant);
        StartDevice(c.variant);
        auto link = OpenLink(c.variant);
        ASSERT_EQ(link->WritePlu(MakaPlu(), 1), 1) << link->m_nError;
        auto frames = m_emu->Frames();
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(Hex(frames[0].raw), Hex(Frame(head + c.rest)));
        auto stored = m_emu->Plu(7);
        ASSERT_TRUE(stored.has_value());
        EXPECT_EQ(stored->vat, "1");
    }
}

TEST_P(PerfektTest, DepartmentFrameIsByteExact) {
    StartDevice(4);
    auto link = OpenLink(4);
    PerfektDept dept;
    dept.number = 3;
    std::strcpy(dept.name, PL("Nabiał"));
    ASSERT_EQ(link->WriteDept(dept, 1), 1) << link->m_nError;
    auto frames = m_emu->Frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].raw, Frame("#p7" + kFe + "1" + kFe + "3\tNabia\x92          \n0\t74"));
    EXPECT_EQ(m_emu->Dept(3), "Nabia\x92          ");
}

// ---------------------------------------------------------------- the reply reader

TEST_P(PerfektTest, ReplyChecks) {
    const struct {
        const char* what;
        PFault fault;
        int arg;
        int code;
    } cases[] = {
        {"wrong lead", PFault::WrongLead, 0, 10006},
        {"noise before the reply", PFault::Noise, 8, 10006},
        {"no closing ESC", PFault::NoClosingEsc, 0, 10004},
        {"wrong end byte", PFault::WrongEnd, 0, 10002},
        {"short frame", PFault::Short, 1, 9999},
        {"silence", PFault::Silence, 0, -5},
        {"hang-up", PFault::HangUp, 0, -6},
        {"split reply", PFault::Split, 3, 0},
        {"refused", PFault::Refuse, 11, 11},
    };
    orv::platform::SetTimeScale(0.1);   // a split reply arrives well within the time-out
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StartDevice(1);
        auto link = OpenLink(1);
        m_emu->Inject(Inj("$s", c.fault, c.arg));
        double rates[8];
        const int64_t t0 = orv::platform::MonotonicMillis();
        EXPECT_EQ(link->ReadVAT(rates), c.code == 0 ? 1 : 0);
        const int64_t elapsed = orv::platform::MonotonicMillis() - t0;
        EXPECT_EQ(link->m_nError, c.code);
        // A failed single try ends after the 0.2 s pause (scaled: 20 ms); a
        // refusal is an answer, not a failed try.
        if (c.code != 0 && c.fault != PFault::Refuse) {
            EXPECT_GE(elapsed, 19);
        }
        // One try only.
        EXPECT_EQ(m_emu->CountCommand("$s"), 1);
    }
}

TEST_P(PerfektTest, ALateAnswerIsDroppedBeforeTheNextFrame) {
    orv::platform::SetTimeScale(0.05);   // time-out 250..300 ms
    StartDevice(1);
    auto link = OpenLink(1);
    PerfektPlu plu = MakaPlu();
    // The first write's "#Z#p0" comes after its time-out ...
    m_emu->Inject(Inj("#p", PFault::Late, 400));
    EXPECT_EQ(link->WritePlu(plu, 1), 0);
    EXPECT_EQ(link->m_nError, -5);
    // ... and the second write is answered by its own "#Z#p0", not by it.
    m_emu->Inject(Inj("#p", PFault::Refuse, 41));
    plu.number = 8;
    EXPECT_EQ(link->WritePlu(plu, 1), 0);
    EXPECT_EQ(link->m_nError, 41);
    EXPECT_EQ(m_emu->CountCommand("#p"), 2);
}

// ---------------------------------------------------------------- refusals

TEST(PerfektCodes, CheckErrorReply) {
    const struct {
        const char* text;
        int code;
    } cases[] = {
        {"#p0", 0},    {"#p19", 19}, {"$b0", 120},    {"$b5", 125},   {"$r20", 20}, {"#pX", 9999},
        {"#p-7", 9999}, {"#p", 9999}, {"", 9999},      {"#p1000", 9999}, {"#p999", 999}, {"#p1 ", 9999},
        // The code ended by one field terminator, as every other field is.
        {"#p0\t", 0}, {"#p0\n", 0}, {"#p0\xFE", 0}, {"#p7\t", 7}, {"$r20\n", 20}, {"$b0\xFE", 120},
        {"#p999\t", 999}, {"#p1000\t", 9999},
        // A terminator without a digit, two terminators, anything after one.
        {"#p\t", 9999}, {"#p\xFE", 9999}, {"#p0\t\t", 9999}, {"#p0\tX", 9999}, {"#p0\t1", 9999},
    };
    for (const auto& c : cases) EXPECT_EQ(CPosnetPerfekt::CheckErrorReply(CChrArr(c.text)), c.code) << c.text;
}

TEST_P(PerfektTest, AnswersToAWrite) {
    const struct {
        const char* what;
        PFault fault;
        std::string text;
        int code;
    } cases[] = {
        // The two digits ending a reply are its checksum, not part of the code.
        {"accepted, checksum digits", PFault::Unframed, "#Z#p041", 0},
        {"refused with 19", PFault::Raw, "#Z#p19", 19},
        {"no number", PFault::Raw, "#Z#pX", 9999},
        {"a sign", PFault::Raw, "#Z#p-7", 9999},
        {"another command accepted", PFault::Raw, "#Z#d0", 9999},
        {"a data reply", PFault::Raw, "$R", 9999},
        {"accepted, TAB", PFault::Raw, "#Z#p0\t", 0},
        {"accepted, LF", PFault::Raw, "#Z#p0\n", 0},
        {"accepted, FE", PFault::Raw, "#Z#p0\xFE", 0},
        {"refused with 7, TAB", PFault::Raw, "#Z#p7\t", 7},
        {"a TAB and no number", PFault::Raw, "#Z#p\t", 9999},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StartDevice(1);
        auto link = OpenLink(1);
        m_emu->Inject(Inj("#p", c.fault, 0, c.text));
        EXPECT_EQ(link->WritePlu(MakaPlu(), 1), c.code == 0 ? 1 : 0);
        EXPECT_EQ(link->m_nError, c.code);
    }
}

TEST(PerfektCodes, ErrorTexts) {
    CPosnetPerfekt p;
    EXPECT_EQ(p.GetErrorText(55), PL("Błędne hasło"));
    EXPECT_EQ(p.GetErrorText(45), PL("Nie można usunąć rekordu"));
    EXPECT_EQ(p.GetErrorText(111), PL("Błędny numer rekordu"));
    EXPECT_EQ(p.GetErrorText(120), PL("Brak wskazanego PLU, lub pusta baza PLU"));
    EXPECT_EQ(p.GetErrorText(109), PL("Cena towaru poza zakresem"));
    EXPECT_EQ(p.GetErrorText(20), PL("Błąd wartości BRUTTO (syntaktyka, zakres lub brak)"));
    EXPECT_EQ(p.GetErrorText(-5), SerialErrorText(-5));
    for (int code : {0, 10, 12, 62, 105, 9999, 10002, 10004, 10006})
        EXPECT_EQ(p.GetErrorText(code), p.CTelepathyECR::GetErrorText(code)) << code;
}

// ---------------------------------------------------------------- values on the wire

TEST(PerfektCodes, Prices) {
    const struct {
        double price;
        bool ok;
        int64_t hundredths;
    } cases[] = {
        {0.29, true, 29},
        {1.005, true, 100},
        {0.125, true, 13},
        {2.99, true, 299},
        {0.0, true, 0},
        {21474836.47, true, 2147483647},
        {-0.01, false, 0},
        {21474836.48, false, 0},
        {std::numeric_limits<double>::quiet_NaN(), false, 0},
        {std::numeric_limits<double>::infinity(), false, 0},
    };
    for (const auto& c : cases) {
        int64_t v = -1;
        EXPECT_EQ(CPosnetPerfekt::PriceToWire(c.price, v), c.ok) << c.price;
        if (c.ok) {
            EXPECT_EQ(v, c.hundredths) << c.price;
        }
    }
}

TEST_P(PerfektTest, NumbersOutOfRangeSendNothing) {
    StartDevice(4);
    auto link = OpenLink(4);
    PerfektPlu plu = MakaPlu();
    for (uint32_t number : {0u, 1000000u}) {
        plu.number = number;
        EXPECT_EQ(link->WritePlu(plu, 1), 0);
        EXPECT_EQ(link->m_nError, 105);
        EXPECT_EQ(link->DeletePlu(static_cast<int>(number)), 0);
        EXPECT_EQ(link->m_nError, 105);
    }
    plu.number = 1;
    plu.price = -0.01;
    EXPECT_EQ(link->WritePlu(plu, 1), 0);
    EXPECT_EQ(link->m_nError, 109);
    PerfektDept dept;
    dept.number = 11;
    EXPECT_EQ(link->WriteDept(dept, 1), 0);
    EXPECT_EQ(link->m_nError, 111);
    EXPECT_TRUE(m_emu->Frames().empty());
}

TEST_P(PerfektTest, NamesAndCodesOnTheWire) {
    StartDevice(1);
    auto link = OpenLink(1);
    PerfektPlu plu = MakaPlu();
    // TAB, LF, ESC and 0xFE would end or shift fields: they go as blanks.
    std::strcpy(plu.name, "A\tB\nC\x1B" "D\xFE" "E");
    plu.code[0] = 0;
    ASSERT_EQ(link->WritePlu(plu, 1), 1) << link->m_nError;
    auto stored = m_emu->Plu(7);
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->name, "A B C D E       ");
    EXPECT_EQ(stored->code, "0000000000000");

    std::strcpy(plu.code, " 590 1234 ");
    ASSERT_EQ(link->WritePlu(plu, 1), 1) << link->m_nError;
    EXPECT_EQ(m_emu->Plu(7)->code, "0000005901234");

    // Thirteen zeros read back as no code.
    PerfektPlu back;
    PerfektSale sale;
    back.number = 9;
    m_emu->SetPlu(9, EmuPlu("Woda", "0000000000000", "150"));
    ASSERT_EQ(link->ReadPlu(back, sale), 1) << link->m_nError;
    EXPECT_STREQ(back.code, "");
    EXPECT_STREQ(back.name, "Woda            ");   // as the register keeps it
}

// ---------------------------------------------------------------- replies

TEST_P(PerfektTest, VatRates) {
    const struct {
        std::vector<std::string> fields;
        int ok;
    } cases[] = {
        {{"10000", "10100", "2300", "800", "0", "500", "700"}, 1},
        {{"2300", "800", "500", "0", "10000", "10100"}, 0},          // six fields
        {{"2300", "800", "5.00", "0", "10000", "10100", "0"}, 0},    // not a number
    };
    for (const auto& c : cases) {
        StartDevice(1);
        auto link = OpenLink(1);
        m_emu->SetVatFields(c.fields);
        double rates[8];
        EXPECT_EQ(link->ReadVAT(rates), c.ok);
        if (c.ok) {
            const double expected[8] = {-1.0, -3.0, 23.0, 8.0, 0.0, 5.0, 7.0, -3.0};
            for (int i = 0; i < 8; ++i) EXPECT_DOUBLE_EQ(rates[i], expected[i]) << i;
        } else {
            EXPECT_EQ(link->m_nError, 9999);
        }
    }
}

TEST_P(PerfektTest, SingleGoodsReads) {
    for (int variant : {1, 2, 4}) {
        SCOPED_TRACE(variant);
        StartDevice(variant);
        auto link = OpenLink(variant);
        PerfektEmuPlu p = EmuPlu("Mleko \x86", "5900000000017", "349", "2");
        p.flagA = "1";
        p.flagB = "1";
        p.link = "12";
        p.quantity = 2500;
        p.value = 873;
        m_emu->SetPlu(5, p);
        PerfektPlu plu;
        PerfektSale sale;
        plu.number = 5;
        ASSERT_EQ(link->ReadPlu(plu, sale), 1) << link->m_nError;
        EXPECT_EQ(plu.number, 5u);
        EXPECT_STREQ(plu.name, PL("Mleko ą         "));
        EXPECT_STREQ(plu.code, "5900000000017");
        EXPECT_DOUBLE_EQ(plu.price, 3.49);
        EXPECT_EQ(plu.vatGroup, 3u);
        EXPECT_EQ(plu.link, 12u);
        EXPECT_DOUBLE_EQ(sale.quantity, 2.5);
        if (variant == 2) {
            EXPECT_EQ(plu.flagA, 0u);
            EXPECT_DOUBLE_EQ(sale.value, 2.5 * 3.49);
        } else {
            EXPECT_EQ(plu.flagA, 1u);
            EXPECT_EQ(plu.flagB, 3u);
            EXPECT_DOUBLE_EQ(sale.value, 8.73);
        }

        // A VAT field of 7 fails a single read; an unknown PLU is the register's 20.
        p.vat = "7";
        m_emu->SetPlu(5, p);
        EXPECT_EQ(link->ReadPlu(plu, sale), 0);
        EXPECT_EQ(link->m_nError, 9999);
        plu.number = 6;
        EXPECT_EQ(link->ReadPlu(plu, sale), 0);
        EXPECT_EQ(link->m_nError, 20);
    }
}

TEST_P(PerfektTest, StatusText) {
    StartDevice(1);
    auto link = OpenLink(1);
    std::string text;
    ASSERT_EQ(link->ReadStatus(text), 1) << link->m_nError;
    EXPECT_EQ(text,
              "Typ kasy : ECR Perfekt\r\nTryb pracy fiskalny\r\nTotalizery zerowe\r\n"
              "Numer unikatowy : ABC12345678\r\nWersja software'u : 3.01\r\n");
    EXPECT_FALSE(link->StatusReply().IsEmpty());

    // Missing fields: the lines built so far, and no stored reply.
    m_emu->SetStatusFields("11" + kFe + "0" + kFe + "0" + kFe);
    ASSERT_EQ(link->ReadStatus(text), 1) << link->m_nError;
    EXPECT_EQ(text, "Typ kasy : Bingo Plus\r\nTryb pracy niefiskalny\r\nTotalizery niezerowe\r\n");
    EXPECT_TRUE(link->StatusReply().IsEmpty());

    m_emu->SetStatusFields("");
    EXPECT_EQ(link->ReadStatus(text), 0);
    EXPECT_EQ(link->m_nError, 9999);
}

// ---------------------------------------------------------------- walks

TEST_P(PerfektTest, ReadAllWalkEventsAndPercentages) {
    StartDevice(1);
    for (uint32_t n = 1; n <= 95; ++n) m_emu->SetPlu(n * 3, EmuPlu("P" + std::to_string(n), "0000000000000", "100"));
    auto link = OpenLink(1);
    std::vector<uint32_t> seen;
    ASSERT_EQ(link->ReadAllPlus([&](const PerfektPlu& p) { seen.push_back(p.number); }), 1) << link->m_nError;
    ASSERT_EQ(seen.size(), 95u);
    EXPECT_EQ(seen.front(), 3u);
    EXPECT_EQ(seen.back(), 285u);
    auto events = Host().EventsWithCode(ECR_EVENT_ITEM);
    ASSERT_EQ(events.size(), 95u);
    for (size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(events[i].text, "PLU - " + std::to_string((i + 1) * 3));
        EXPECT_EQ(events[i].percent, static_cast<int>(std::min<size_t>(i, 90)));
    }
    auto commands = m_emu->Commands();
    EXPECT_EQ(commands[0], "$b0\t");
    EXPECT_EQ(commands[1], "$b6\t");
}

TEST_P(PerfektTest, SalesWalkAndClearing) {
    StartDevice(1);
    auto link = OpenLink(1);
    m_emu->SetPlu(2, EmuPlu("Chleb", "0000000000000", "350", "1"));
    PerfektEmuPlu sold = EmuPlu("Piwo", "5900000000024", "499", "7");   // wire VAT 7
    sold.quantity = 3000;
    sold.value = 1497;
    m_emu->SetPlu(5, sold);
    m_emu->SetPlu(9, EmuPlu("Sok", "0000000000000", "250", "0"));
    m_emu->SetSale(9, 1500, 375);

    std::vector<std::pair<uint32_t, double>> sales;
    auto onSale = [&](const PerfektPlu& p, const PerfektSale& s) { sales.emplace_back(p.number, s.quantity); };
    ASSERT_EQ(link->ReadPluSales(onSale), 1) << link->m_nError;
    EXPECT_EQ(sales, (std::vector<std::pair<uint32_t, double>>{{5, 3.0}, {9, 1.5}}));
    EXPECT_EQ(m_emu->CountCommand("#p"), 0);

    sales.clear();
    m_emu->ClearFrames();
    ASSERT_EQ(link->ClearPluSales(onSale), 1) << link->m_nError;
    EXPECT_EQ(sales.size(), 2u);
    auto commands = m_emu->Commands();
    ASSERT_EQ(commands.size(), 5u);
    EXPECT_EQ(commands[0], "$b0\t");
    EXPECT_EQ(commands[1], "$b     5\t");
    EXPECT_EQ(commands[2].substr(0, 7), "#p5" + kFe + "1" + kFe + "5");
    EXPECT_EQ(commands[3], "$b     9\t");
    // The rewrite sends the VAT field back as it came, 7 as '7'.
    auto back = m_emu->Plu(5);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->vat, "7");
    EXPECT_EQ(back->price, "499");
    EXPECT_EQ(back->code, "5900000000024");
    EXPECT_EQ(back->quantity, 0);
    EXPECT_EQ(m_emu->Plu(9)->quantity, 0);
    EXPECT_EQ(m_emu->Plu(9)->vat, "0");
}

TEST_P(PerfektTest, WalkFailures) {
    const struct {
        const char* what;
        PerfektEmulator::Injection injection;
        bool emptyBase;
        int code;
        int frames;
    } cases[] = {
        {"empty base", Inj("", PFault::Silence), true, 120, 1},
        {"repeating next number", Inj("$b", PFault::RepeatNext, 0, "", 1, 1), false, 9999, 4},
        {"refused rewrite", Inj("#p", PFault::Refuse, 57), false, 57, 2},
        {"refused step", Inj("$b", PFault::Refuse, 20, "", 1, 1), false, 140, 3},
        {"silent step", Inj("$b", PFault::Silence, 0, "", 1, 1), false, -5, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StartDevice(1);
        auto link = OpenLink(1);
        if (!c.emptyBase) {
            PerfektEmuPlu p = EmuPlu("Kawa", "0000000000000", "1000");
            p.quantity = 1000;
            m_emu->SetPlu(1, p);
            m_emu->SetPlu(2, p);
            m_emu->SetPlu(3, p);
            m_emu->Inject(c.injection);
        }
        EXPECT_EQ(link->ClearPluSales([](const PerfektPlu&, const PerfektSale&) {}), 0);
        EXPECT_EQ(link->m_nError, c.code);
        EXPECT_EQ(m_emu->Frames().size(), static_cast<size_t>(c.frames));
    }
}

TEST_P(PerfektTest, ABreakInTheCallbackEndsTheWalk) {
    for (bool clearing : {true, false}) {
        SCOPED_TRACE(clearing);
        StartDevice(1);
        PerfektEmuPlu p = EmuPlu("Kawa", "0000000000000", "1000");
        p.quantity = 1000;
        m_emu->SetPlu(1, p);
        if (clearing) m_emu->SetPlu(2, p);   // reading: the break comes after the last record
        auto link = OpenLink(1);
        CTelepathy* serial = m_serial.get();
        auto onSale = [&](const PerfektPlu&, const PerfektSale&) { serial->Break(); };
        EXPECT_EQ(clearing ? link->ClearPluSales(onSale) : link->ReadPluSales(onSale), 0);
        EXPECT_EQ(link->m_nError, -7);
        // No rewrite, no further step.
        EXPECT_EQ(m_emu->Frames().size(), 1u);
    }
}

// Replies that do not parse fail with 9999 and hand nothing over.
TEST_P(PerfektTest, HostileReplies) {
    const std::string fe = kFe;
    const std::string goods = "Kawa            \n0000000000000\n1000\t0\t0\t0" + fe + "0" + fe;
    const struct {
        const char* what;
        const char* command;
        std::string reply;
    } cases[] = {
        {"goods without VAT", "$r", "$R" + goods + "0" + fe},
        {"price not a number", "$r", "$RKawa            \n0000000000000\n1O00\t0\t0\t0" + fe + "0" + fe + "0" + fe + "1" + fe},
        {"price of 19 digits", "$r", "$RKawa            \n0000000000000\n1000000000000000000\t0\t0\t0" + fe + "0" + fe + "0" + fe + "1" + fe},
        {"negative VAT", "$r", "$R" + goods + "0" + fe + "-1" + fe},
        {"empty name", "$r", "$R\n0000000000000\n1000\t0\t0\t0" + fe + "0" + fe + "0" + fe + "1" + fe},
        {"walk without numbers", "$b", "$B" + goods + "0" + fe + "1" + fe},
        {"walk with a next number past 32 bits", "$b", "$B" + goods + "0" + fe + "1" + fe + "1\t4294967296\t"},
        {"walk answered as a read", "$b", "$R" + goods + "0" + fe + "1" + fe + "1\t0\t"},
        {"department without its TAB field", "$r7", "$RNapoje          \n"},
        {"nothing but the answer code", "$r", "$R"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StartDevice(1);
        auto link = OpenLink(1);
        const std::string command = std::string(c.command).substr(0, 2);
        m_emu->Inject(Inj(command, PFault::Raw, 0, c.reply));
        PerfektPlu plu;
        PerfektSale sale;
        plu.number = 1;
        int handed = 0;
        int r = 0;
        if (std::string(c.command) == "$r7") {
            link->SetVariant(4);
            PerfektDept dept;
            dept.number = 1;
            r = link->ReadDept(dept);
        } else if (command == "$b") {
            r = link->ReadAllPlus([&](const PerfektPlu&) { ++handed; });
        } else {
            r = link->ReadPlu(plu, sale);
        }
        EXPECT_EQ(r, 0);
        EXPECT_EQ(link->m_nError, 9999);
        EXPECT_EQ(handed, 0);
    }
}

}  // namespace
}  // namespace orv::test
