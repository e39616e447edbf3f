// The Hida link against the emulator: the bytes of a job, the link with its
// DLE ',' requests and silence, the answers to a block (NAKs, silence, DLE
// ',', DLE '@' with a status), and the reads: goods, one item, departments
// and both sales passes.
#include <cstring>
#include <vector>

#include "drivers/cr280/cr280_fixture.h"
#include "drivers/hida/chida.h"
#include "util/cp1250.h"

namespace orv::test {
namespace {

constexpr uint8_t kStx = 0x02, kEot = 0x04, kEnq = 0x05, kAck = 0x06, kDle = 0x10, kNak = 0x15;

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}
Bytes Block(const char* letter, const std::string& text) { return Cr280Emulator::Frame(letter, text); }
Bytes Block(const char* letter, const CChrArr& text) { return Block(letter, text.ToString()); }

HidaPlu Plu(const char* code, const char* name, double price) {
    HidaPlu p;
    p.code = CChrArr(code);
    p.name = CChrArr(name);
    p.price = price;
    p.dept = 1;
    p.vat = 1;
    return p;
}

Cr280EmuItem EmuItem(const char* name, uint64_t price, const char* vat = "0100") {
    Cr280EmuItem item;
    item.name = name;
    item.name.resize(12, ' ');
    item.dept = "01";
    item.price = price;
    item.vatFlag = vat;
    return item;
}

class HidaLinkTest : public Cr280Test {
protected:
    CHida& OpenHida() {
        StartDevice(Cr280Emulator::Mode::Hida);
        m_hida.SetSerial(m_serial.get());
        EXPECT_EQ(m_hida.Open(kCrPort, 9600), 1) << m_hida.m_nError;
        return m_hida;
    }
    // A table case starts with a fresh register and line.
    void Again() {
        m_hida.Close();
        m_hida.SetSerial(nullptr);
        TearDown();
        SetUp();
    }
    void TearDown() override {
        m_hida.Close();
        m_hida.SetSerial(nullptr);
        Cr280Test::TearDown();
    }
    CHida m_hida;
};

TEST_F(HidaLinkTest, ProgrammingAnItemByteForByte) {
    CHida& h = OpenHida();
    const HidaPlu plu = Plu("5901234123457", PL("Łódka"), 3.5);
    ASSERT_EQ(h.ProgramPlu(plu), 1) << h.m_nError;
    CChrArr data;
    ASSERT_EQ(h.BuildPluText(plu, '0', data), 1);
    const Bytes expected = Cat({{kEnq},
                                Block("S", CHida::BuildJobHeader('U', '1', CChrArr(), CChrArr(), '0')),
                                Block("D", data),
                                {kEot}});
    EXPECT_EQ(Hex(m_emu->Received()), Hex(expected));
    // The register's side: ACK to the ENQ and to each block, EOT at the end.
    EXPECT_EQ(Hex(m_emu->Sent()), Hex(Raw({kAck, kAck, kAck, kEot})));
    ASSERT_TRUE(m_emu->HasItem("5901234123457"));
    EXPECT_EQ(m_emu->Item("5901234123457").name, "\xAA\xCD" "dka       ");
    EXPECT_EQ(m_emu->Item("5901234123457").price, 350u);

    // The header block on the wire: STX, 'S', the text, ETX, the XOR of 'S'..ETX.
    const Bytes header = Block("S", CHida::BuildJobHeader('c', '2', CChrArr("0"), CChrArr("0"), '1'));
    uint8_t x = 0;
    for (size_t i = 1; i + 1 < header.size(); ++i) x ^= header[i];
    EXPECT_EQ(header.front(), kStx);
    EXPECT_EQ(header[1], 'S');
    EXPECT_EQ(header.back(), x);
    EXPECT_EQ(header.size(), 39u + 4u);
}

TEST_F(HidaLinkTest, OpeningTheLink) {
    const struct {
        const char* what;
        std::vector<Bytes> answers;   // to the PC's ENQs
        int result;
        int code;
        int enqs;
        int eots;                     // the PC's EOTs
    } cases[] = {
        {"seven DLE ',': EOT, the register's EOT, 999", std::vector<Bytes>(7, Raw({kDle, ','})), 0, 999, 7, 1},
        {"silence throughout keeps the time-out", std::vector<Bytes>(7, Bytes()), 0, -5, 7, 1},
        {"seven stray bytes", std::vector<Bytes>(7, Raw({'?'})), 0, 999, 7, 1},
        {"DLE and another byte", {Raw({kDle, 'x'})}, 0, 999, 1, 1},
        {"two DLE ',' and a NAK, then ACK", {Raw({kDle, ','}), Raw({kDle, ','}), Raw({kNak})}, 1, 0, 4, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CHida& h = OpenHida();
        for (const Bytes& a : c.answers) m_emu->QueueLinkAnswer(a);
        EXPECT_EQ(h.ClearSales(), c.result);
        EXPECT_EQ(h.m_nError, c.code);
        EXPECT_EQ(m_emu->EnqsReceived(), c.enqs);
        EXPECT_TRUE(Eventually([&] { return m_emu->EotsReceived() == c.eots; })) << m_emu->EotsReceived();
        EXPECT_EQ(m_emu->FramesReceived(), c.result);
        Again();
    }
}

TEST_F(HidaLinkTest, AnswersToABlock) {
    const struct {
        const char* what;
        std::vector<Bytes> answers;   // to the blocks, in order
        int result;
        int code;
        int frames;
        int enqs;
    } cases[] = {
        {"a NAK: the block again", {Raw({kNak})}, 1, 0, 3, 1},
        {"seven NAKs: EOT and 999", std::vector<Bytes>(7, Raw({kNak})), 0, 999, 7, 1},
        {"silence: a new link and the block again", {Bytes()}, 1, 0, 3, 2},
        {"a stray byte: a new link and the block again", {Raw({'x'})}, 1, 0, 3, 2},
        {"NAKs and silences count together", {Raw({kNak}), Bytes(), Raw({kNak}), Bytes(), Raw({kNak}), Bytes(),
                                              Raw({kNak})}, 0, 999, 7, 4},
        {"DLE ',': a new link, the block taken", {Raw({kDle, ','})}, 1, 0, 2, 2},
        {"DLE and another byte", {Raw({kDle, 'x'})}, 0, 999, 1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CHida& h = OpenHida();
        for (const Bytes& a : c.answers) m_emu->QueueAnswer(a);
        EXPECT_EQ(h.ProgramPlu(Plu("1", "A", 1.0)), c.result);
        EXPECT_EQ(h.m_nError, c.code);
        EXPECT_EQ(m_emu->FramesReceived(), c.frames);
        EXPECT_EQ(m_emu->EnqsReceived(), c.enqs);
        EXPECT_EQ(m_emu->HasItem("0000000000001"), c.result == 1);
        Again();
    }
}

TEST_F(HidaLinkTest, SilenceAfterEveryBlockIsBounded) {
    CHida& h = OpenHida();
    for (int i = 0; i < 10; ++i) m_emu->QueueAnswer(Bytes());
    const int64_t start = orv::platform::MonotonicMillis();
    EXPECT_EQ(h.ClearSales(), 0);
    EXPECT_NE(h.m_nError, 0);
    EXPECT_EQ(m_emu->FramesReceived(), 7);
    // Seven reads of 5 s after the blocks and the closing one, with room to spare.
    EXPECT_LT(orv::platform::MonotonicMillis() - start, orv::platform::ScaledMillis(80.0));
}

TEST_F(HidaLinkTest, TheRegistersStatus) {
    const struct {
        int status;
        int code;
        const char* text;
    } cases[] = {
        {7, 7, "<All sorts of No. is limit over>"},
        {14, 14, "<Can not delete>"},
        {0, 999, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        CHida& h = OpenHida();
        m_emu->QueueStatus(c.status);
        EXPECT_EQ(h.ProgramPlu(Plu("1", "A", 1.0)), 0);
        EXPECT_EQ(h.m_nError, c.code);
        if (c.text) {
            EXPECT_EQ(h.GetErrorText(c.code), c.text);
        }
        // After DLE '@': EOT, ACK to the register's ENQ, ACK to its status
        // block, EOT after its EOT.
        const Bytes tail = Raw({kEot, kAck, kAck, kEot});
        EXPECT_TRUE(Eventually([&] { return m_emu->EotsReceived() == 2; }));
        const Bytes got = m_emu->Received();
        ASSERT_GE(got.size(), tail.size());
        EXPECT_EQ(Hex(Bytes(got.end() - 4, got.end())), Hex(tail));
        EXPECT_FALSE(m_emu->HasItem("0000000000001"));
        Again();
    }
}

TEST_F(HidaLinkTest, ReadingGoods) {
    CHida& h = OpenHida();
    int got = 0;
    Host().Reset();
    ASSERT_EQ(h.ReadAllPlu([&](const HidaPlu&) { ++got; }), 1) << h.m_nError;
    EXPECT_EQ(got, 0);
    EXPECT_EQ(Host().EventsWithCode(5).back().text, "100 %");
    EXPECT_EQ(Host().EventsWithCode(5).back().percent, 100);
    // The empty register: its ENQ answered, its EOT answered.
    const Bytes header = Block("S", CHida::BuildJobHeader('U', '0', CChrArr("0"), CChrArr("0"), '1'));
    const Bytes expected = Cat({{kEnq}, header, {kEot, kAck, kEot}});
    EXPECT_TRUE(m_emu->WaitForCount(expected.size(), 2000));
    EXPECT_EQ(Hex(m_emu->Received()), Hex(expected));

    HidaPlu one;
    one.code = CChrArr("77");
    EXPECT_EQ(h.ReadOnePlu(one), 0);
    EXPECT_EQ(h.m_nError, 10);
    EXPECT_EQ(h.GetErrorText(10), "<Not found the PLU>");

    m_emu->SetItem("0000000000077", EmuItem("MASLO", 699, "0201"));
    m_emu->SetItem("0000000000078", EmuItem("ZLE", 100, "0900"));   // refused by the parser: passed over
    m_emu->SetItem("0000000000079", EmuItem("SER", 1250));
    Bytes bad = Block("D", Cr280Emulator::HidaGoodsRecord("0000000000077", EmuItem("MASLO", 699, "0201")));
    bad.back() ^= 0x5A;
    m_emu->QueueTurnRecord(bad);   // a bad check: NAK, and the block again
    std::vector<HidaPlu> all;
    ASSERT_EQ(h.ReadAllPlu([&](const HidaPlu& p) { all.push_back(p); }), 1) << h.m_nError;
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].code.ToString(), "0000000000077");
    EXPECT_DOUBLE_EQ(all[0].price, 6.99);
    EXPECT_EQ(all[0].vat, 2);
    EXPECT_EQ(all[0].flag, 1u);
    EXPECT_EQ(all[1].code.ToString(), "0000000000079");

    one.code = CChrArr("77");
    ASSERT_EQ(h.ReadOnePlu(one), 1) << h.m_nError;
    EXPECT_EQ(one.name.ToString(), "MASLO       ");

    // A record of another code in answer to one code is not that item, also
    // when one code begins the other.
    for (const char* other : {"0000000000079", "0000000000007", "0000000000770"}) {
        SCOPED_TRACE(other);
        m_emu->QueueTurnRecord(Block("D", Cr280Emulator::HidaGoodsRecord(other, EmuItem("SER", 1250))));
        one.code = CChrArr("77");
        EXPECT_EQ(h.ReadOnePlu(one), 0);
        EXPECT_EQ(h.m_nError, 10);
        ASSERT_EQ(h.ReadOnePlu(one), 1) << h.m_nError;   // the line is ready for the next request
        EXPECT_EQ(one.code.ToString(), "0000000000077");
    }

    // Silence in the register's turn: EOT on the third read, the time-out kept.
    m_emu->QueueTurnRecord(Bytes());
    EXPECT_EQ(h.ReadAllPlu({}), 0);
    EXPECT_EQ(h.m_nError, -5);
}

TEST_F(HidaLinkTest, DepartmentsStopAtTwentyAndPassOverABadVatGroup) {
    CHida& h = OpenHida();
    for (uint32_t d = 1; d <= 20; ++d) {
        Cr280EmuDept dept;
        dept.name = "DZIAL       ";
        dept.value = 100 * d;
        dept.vatFlag = d == 3 ? "0900" : "0100";
        m_emu->SetDept(d, dept);
    }
    Cr280EmuDept more;
    more.name = "NADMIAR     ";
    m_emu->SetRawDepartments({Cr280Emulator::HidaDeptRecord(21, more)});
    Host().Reset();
    std::vector<HidaDept> got;
    ASSERT_EQ(h.ReadAllDept([&](const HidaDept& d) { got.push_back(d); }), 1) << h.m_nError;
    ASSERT_EQ(got.size(), 19u);
    EXPECT_EQ(got[2].number, 4u);
    EXPECT_EQ(got.back().number, 20u);
    EXPECT_DOUBLE_EQ(got.back().price, 20.0);
    auto progress = Host().EventsWithCode(5);
    ASSERT_EQ(progress.size(), 20u);
    EXPECT_EQ(progress[0].text, "DEPT - 1");
    EXPECT_EQ(progress[0].percent, 5);
    EXPECT_EQ(progress.back().percent, 100);

    // Fewer departments end at the register's EOT.
    Again();
    CHida& again = OpenHida();
    Cr280EmuDept one;
    one.name = "OGOLNY      ";
    one.vatFlag = "0100";
    m_emu->SetDept(2, one);
    got.clear();
    ASSERT_EQ(again.ReadAllDept([&](const HidaDept& d) { got.push_back(d); }), 1) << again.m_nError;
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].name.ToString(), "OGOLNY      ");
}

TEST_F(HidaLinkTest, SalesInTwoPasses) {
    CHida& h = OpenHida();
    Cr280EmuItem sold = EmuItem("CHLEB", 350);
    sold.quantity = 250;
    sold.value = 875;
    m_emu->SetItem("0000000000005", sold);
    m_emu->SetItem("0000000000006", EmuItem("NIC", 100));   // nothing sold: no line
    m_emu->SetRawSaleLines(1, {"01c" "0000000000009" "F" "0000100" "F" "000000199"});
    m_emu->SetRawSaleLines(2, {"01d" "0000000000005" "0" "0000000" "0" "0000500",
                               "01d" "0000000000007" "0" "0000300" "0" "0000600"});
    std::vector<HidaSale> got;
    ASSERT_EQ(h.ReadSales([&](const HidaSale& s) { got.push_back(s); }), 1) << h.m_nError;
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].code.ToString(), "0000000000005");
    EXPECT_DOUBLE_EQ(got[0].quantity, 2.5);
    EXPECT_DOUBLE_EQ(got[0].value, 8.75);
    EXPECT_DOUBLE_EQ(got[1].quantity, -1.0);
    EXPECT_DOUBLE_EQ(got[1].value, -1.99);
    // The second pass: only the line with a quantity.
    EXPECT_EQ(got[2].code.ToString(), "0000000000007");
    EXPECT_DOUBLE_EQ(got[2].value, 6.0);
    const auto records = m_emu->Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].substr(0, 6), "0101c0");
    EXPECT_EQ(records[1].substr(0, 6), "0101d0");

    ASSERT_EQ(h.ClearSales(), 1) << h.m_nError;
    got.clear();
    ASSERT_EQ(h.ReadSales([&](const HidaSale& s) { got.push_back(s); }), 1) << h.m_nError;
    EXPECT_TRUE(got.empty());
}

TEST_F(HidaLinkTest, TheLineIs8N1WithTheCtsWait) {
    OpenHida();
    auto settings = m_spy->Requested();
    ASSERT_FALSE(settings.empty());
    EXPECT_EQ(settings.back().dataBits, 8);
    EXPECT_EQ(settings.back().parity, 'N');
    EXPECT_TRUE(settings.back().ctsOutFlow);
    const CTelepathy::LineOptions o = m_serial->GetLineOptions();
    EXPECT_EQ(o.ctsWait, 1);
    EXPECT_EQ(o.option3, 0);
    EXPECT_EQ(o.xonXoff, 0);
}

}  // namespace
}  // namespace orv::test
