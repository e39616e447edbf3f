// The CR-280 and Optimus record link against the emulator: frames, the
// goods body, NAKs, silence and stray bytes after a frame, the register's
// error record and DLE pairs, the poll of the register's records, the
// department upload's checks, the VAT/flag fields and the texts.
#include <cmath>
#include <cstring>

#include "cr280_fixture.h"
#include "drivers/cr280/ccr280.h"
#include "drivers/optimus/coptimus.h"
#include "util/cp1250.h"

namespace orv::test {
namespace {

Bytes ToBytes(const CChrArr& a) { return Bytes(a.data(), a.data() + a.GetLength()); }

Cr280PLURecord Plu(const char* code, const char* name, double price, uint32_t dept = 1, int32_t vat = 1,
                   uint32_t flag = 0) {
    Cr280PLURecord r{};
    std::strncpy(r.code, code, sizeof r.code - 1);
    std::strncpy(r.name, name, sizeof r.name - 1);
    r.price = price;
    r.dept = dept;
    r.vat = vat;
    r.flag = flag;
    return r;
}

Bytes Frame(const std::string& text) { return Cr280Emulator::Frame("", text); }
Bytes Plus(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class Cr280LinkTest : public Cr280Test {
protected:
    CCr280& OpenCr() {
        StartDevice();
        m_cr.SetSerial(m_serial.get());
        EXPECT_EQ(m_cr.Open(kCrPort, 9600), 1) << m_cr.m_nError;
        return m_cr;
    }
    COptimus& OpenOptimus() {
        StartDevice(Cr280Emulator::Mode::Optimus);
        m_op.SetSerial(m_serial.get());
        EXPECT_EQ(m_op.Open(kCrPort, 9600), 1) << m_op.m_nError;
        return m_op;
    }
    void TearDown() override {
        m_cr.Close();
        m_op.Close();
        // The serial object goes with the device; a table case starts anew.
        m_cr.SetSerial(nullptr);
        m_op.SetSerial(nullptr);
        Cr280Test::TearDown();
    }
    CCr280 m_cr;
    COptimus m_op;
};

TEST_F(Cr280LinkTest, FramesAreByteExact) {
    EXPECT_EQ(Hex(ToBytes(CRecordLink::Frame(CChrArr(), CChrArr("Zp"), 0x03))), Hex(Raw({0x02, 'Z', 'p', 0x03, 0x29})));
    EXPECT_EQ(Hex(ToBytes(CRecordLink::Frame(CChrArr("S"), CChrArr("AB"), 0x03))),
              Hex(Raw({0x02, 'S', 'A', 'B', 0x03, 0x53})));
    CCr280& cr = OpenCr();
    ASSERT_EQ(cr.ClearSales(), 1) << cr.m_nError;
    ASSERT_TRUE(m_emu->WaitForCount(6, 2000));
    EXPECT_EQ(Hex(m_emu->Received()), Hex(Raw({0x02, 'Z', 'p', 0x03, 0x29, 0x04})));
}

TEST_F(Cr280LinkTest, GoodsBodyAndItsRefusals) {
    CCr280 cr;
    CChrArr body;
    ASSERT_EQ(cr.BuildPLURecord(Plu("123", PL("Śliwka"), 12.345, 255, 2, 1), body), 1);
    EXPECT_EQ(body.ToString(), std::string("0000000000123FF020100001234") + "\xB1" + "liwka      ");
    ASSERT_EQ(cr.BuildPLURecord(Plu("1", "A", 0.29), body), 1);
    EXPECT_EQ(body.ToString().substr(19, 8), "00000029");
    ASSERT_EQ(cr.BuildPLURecord(Plu("1", "A", 1.0, 1, -1), body), 1);
    EXPECT_EQ(body.ToString().substr(15, 4), "0000");
    const struct {
        Cr280PLURecord rec;
        int code;
    } refused[] = {
        {Plu("1", "A", 1.0, 1, 0), 103},
        {Plu("1", "A", 1.0, 1, 9), 103},
        {Plu("1", "A", 1.0, 100), 999},
        {Plu("1", "A", -0.01), 109},
        {Plu("1", "A", 1000000.0), 109},
        {Plu("1", "A", std::nan("")), 109},
    };
    for (const auto& r : refused) {
        cr.m_nError = 0;
        EXPECT_EQ(cr.BuildPLURecord(r.rec, body), 0);
        EXPECT_EQ(cr.m_nError, r.code);
    }
}

TEST_F(Cr280LinkTest, SevenRefusalsEndWithEotAnd999) {
    CCr280& cr = OpenCr();
    for (int i = 0; i < 7; ++i) m_emu->QueueAnswer(Raw({0x15}));
    EXPECT_EQ(cr.ClearSales(), 0);
    EXPECT_EQ(cr.m_nError, 999);
    EXPECT_EQ(m_emu->FramesReceived(), 7);
    EXPECT_EQ(m_emu->EotsReceived(), 1);

    // Seven silences are bounded alike.
    m_emu->ClearLog();
    for (int i = 0; i < 7; ++i) m_emu->QueueAnswer(Bytes());
    const int64_t start = orv::platform::MonotonicMillis();
    EXPECT_EQ(cr.ClearSales(), 0);
    EXPECT_EQ(cr.m_nError, 999);
    EXPECT_EQ(m_emu->FramesReceived(), 7);
    // Seven reads of 5 s and the one for the register's EOT, with room to spare.
    EXPECT_LT(orv::platform::MonotonicMillis() - start, orv::platform::ScaledMillis(100.0));
}

TEST_F(Cr280LinkTest, AStrayByteAfterAFrameSendsItAgain) {
    CCr280& cr = OpenCr();
    m_emu->QueueAnswer(Raw({0x00}));
    EXPECT_EQ(cr.ClearSales(), 1) << cr.m_nError;
    EXPECT_EQ(m_emu->FramesReceived(), 2);
}

TEST_F(Cr280LinkTest, TheRegistersErrorRecordGivesItsCode) {
    CCr280& cr = OpenCr();
    const Bytes eot = Raw({0x04});
    m_emu->QueueAnswer(Plus(Frame("S?3abcd"), eot));
    EXPECT_EQ(cr.ClearSales(), 0);
    EXPECT_EQ(cr.m_nError, 3);
    EXPECT_EQ(cr.GetErrorText(3), "<ECR No.> error");
    m_emu->QueueAnswer(Plus(Frame("S?0abcd"), eot));
    EXPECT_EQ(cr.ClearSales(), 0);
    EXPECT_EQ(cr.m_nError, 999);
}

TEST_F(Cr280LinkTest, RecordsBeginningWithSAreSevenCharactersLong) {
    CCr280& cr = OpenCr();
    m_emu->Send(Frame("S?1abcd"));
    // Read as 55 characters it would fail (too few bytes, wrong check).
    ASSERT_EQ(cr.ReadByte(), 0x02);
    EXPECT_EQ(cr.ReadBody(55).ToString(), "S?1abcd");
}

struct PollCase {
    const char* what;
    std::vector<Bytes> faults;   // in place of the first records
    int result;
    int code;
    size_t items;
    bool unsettled;              // the register may still send: the next request waits for a quiet line
};

TEST_F(Cr280LinkTest, PollingTheRegistersRecords) {
    Cr280EmuItem item;
    item.name = "JABLKA      ";
    item.price = 250;
    const Bytes good = Frame(Cr280Emulator::GoodsRecord("0000000000001", item));
    Bytes badCheck = good;
    badCheck.back() ^= 0x55;
    const PollCase cases[] = {
        {"bad check: NAK, then the record", {badCheck}, 1, 0, 2, false},
        {"an S record: NAK, then the record", {Frame("S?1abcd")}, 1, 0, 2, false},
        {"early EOT: 998 ends the upload", {Raw({0x04})}, 1, 0, 0, false},
        {"silence: EOT on the third attempt", {Bytes()}, 0, -5, 0, false},   // the EOT went out on a quiet line
        {"seven bad frames", std::vector<Bytes>(7, badCheck), 0, 999, 0, true},
    };
    for (const PollCase& c : cases) {
        SCOPED_TRACE(c.what);
        CCr280& cr = OpenCr();
        m_emu->SetItem("0000000000001", item);
        m_emu->SetItem("0000000000002", item);
        for (const Bytes& f : c.faults) m_emu->QueueTurnRecord(f);
        Host().Reset();
        size_t got = 0;
        EXPECT_EQ(cr.UploadPLUs([&](const Cr280PLURecord&) { ++got; }), c.result);
        EXPECT_EQ(cr.m_nError, c.code);
        EXPECT_EQ(got, c.items);
        EXPECT_EQ(m_serial->IsUnsettled(kCrPort), c.unsettled);
        if (c.result == 1) {
            EXPECT_EQ(Host().EventsWithCode(5).back().text, "100 %");
        }
        cr.Close();
        TearDown();
        SetUp();
    }
}

TEST_F(Cr280LinkTest, ReadingOneItemTakesOnlyARecordOfItsCode) {
    // The register answers a request for one code with a record of another
    // (a stale or wrong answer): that record is not the item asked for.
    Cr280EmuItem item;
    item.name = "CHLEB       ";
    item.price = 350;
    struct Case {
        const char* what;
        std::vector<Bytes> turn;   // records in place of the register's own
        int result;
        int code;
    };
    const Case cases[] = {
        {"the register's own record", {}, 1, 0},
        {"another code in place of it", {Frame(Cr280Emulator::GoodsRecord("5801234123457", item))}, 0, 10},
        {"a code the asked one begins", {Frame(Cr280Emulator::GoodsRecord("59012341234", item))}, 0, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CCr280& cr = OpenCr();
        m_emu->SetItem("5901234123457", item);
        for (const Bytes& f : c.turn) m_emu->QueueTurnRecord(f);
        Cr280PLURecord rec{};
        std::strcpy(rec.code, "5901234123457");
        EXPECT_EQ(cr.ReadOnePLU(rec), c.result);
        EXPECT_EQ(cr.m_nError, c.code);
        if (c.result == 1) {
            EXPECT_STREQ(rec.code, "5901234123457");
        }
        cr.Close();
        TearDown();
        SetUp();
    }
}

TEST_F(Cr280LinkTest, DepartmentUploadChecksNumbersAndPassesOverBadVat) {
    Cr280EmuDept dept;
    dept.name = "OGOLNY      ";
    dept.value = 1000;
    dept.vatFlag = "2010";
    struct Case {
        const char* what;
        std::string extra;
        int result;
        int code;
        size_t depts;
    } cases[] = {
        {"VAT digit 9 passed over", Cr280Emulator::DeptRecord(3, {"X           ", 0, "00", "9000"}), 1, 0, 2},
        {"department 21", Cr280Emulator::DeptRecord(21, dept), 0, 999, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CCr280& cr = OpenCr();
        m_emu->SetDept(1, dept);
        m_emu->SetDept(2, dept);
        m_emu->SetRawDepartments({c.extra});
        std::vector<Cr280DeptRecord> got;
        EXPECT_EQ(cr.UploadDepartments([&](const Cr280DeptRecord& d) { got.push_back(d); }), c.result);
        EXPECT_EQ(cr.m_nError, c.code);
        ASSERT_EQ(got.size(), c.depts);
        EXPECT_EQ(int32_t{got[0].vat}, 2);   // packed: compared by value
        EXPECT_EQ(uint32_t{got[0].flag}, 1u);
        cr.Close();
        TearDown();
        SetUp();
    }
}

TEST_F(Cr280LinkTest, OptimusDlePairs) {
    COptimus& op = OpenOptimus();
    m_emu->QueueAnswer(Raw({0x10, 0x2C}));
    EXPECT_EQ(op.SendFrame('S', CChrArr("AB")), 1) << op.m_nError;
    // Accepted once the PC's EOT went out.
    ASSERT_TRUE(m_emu->WaitUntil([](const Bytes& b) { return !b.empty() && b.back() == 0x04; }, 2000));

    m_emu->QueueAnswer(Raw({0x10, 0x40}));
    EXPECT_EQ(op.SendFrame('S', CChrArr("AB")), 0);
    EXPECT_EQ(op.m_nError, 13);

    m_emu->QueueAnswer(Raw({0x10, 0x41}));
    EXPECT_EQ(op.SendFrame('D', CChrArr("AB")), 0);
    EXPECT_EQ(op.m_nError, 999);
}

TEST_F(Cr280LinkTest, OptimusAsksAConfusedRegisterWithEnq) {
    COptimus& op = OpenOptimus();
    m_emu->QueueAnswer(Raw({0x00}));   // a stray byte after the frame; ENQ gets ACK
    EXPECT_EQ(op.SendFrame('S', CChrArr("AB")), 1) << op.m_nError;
    EXPECT_EQ(m_emu->FramesReceived(), 2);
    EXPECT_EQ(m_emu->EnqsReceived(), 1);

    m_emu->ClearLog();
    Host().Reset();
    m_emu->QueueAnswer(Raw({0x00}));
    for (int i = 0; i < 7; ++i) m_emu->QueueAnswer(Bytes());
    EXPECT_EQ(op.SendFrame('S', CChrArr("AB")), 0);
    EXPECT_NE(op.m_nError, 0);
    EXPECT_EQ(m_emu->EnqsReceived(), 7);
    EXPECT_EQ(m_emu->EotsReceived(), 1);
    EXPECT_EQ(Host().CountEvents(6), 7);
}

TEST_F(Cr280LinkTest, OptimusOpensItsLineWithHandshake) {
    OpenOptimus();
    auto settings = m_spy->Requested();
    ASSERT_FALSE(settings.empty());
    const auto& s = settings.back();
    EXPECT_EQ(s.dataBits, 7);
    EXPECT_EQ(s.parity, 'E');
    EXPECT_TRUE(s.ctsOutFlow);
    EXPECT_FALSE(s.xonOut);
    const CTelepathy::LineOptions o = m_serial->GetLineOptions();
    EXPECT_EQ(o.ctsWait, 1);
    EXPECT_EQ(o.option3, 1);
    EXPECT_EQ(o.dtrMode, 2);
    EXPECT_EQ(o.rtsMode, 1);
    EXPECT_EQ(o.xonXoff, 0);
}

TEST_F(Cr280LinkTest, VatAndFlagFieldsAndTexts) {
    CCr280 cr;
    int32_t vat = 0;
    uint32_t flag = 0;
    ASSERT_EQ(cr.ParseVatFlag(CChrArr("2010"), vat, flag), 1);
    EXPECT_EQ(vat, 2);
    EXPECT_EQ(flag, 1u);
    ASSERT_EQ(cr.ParseVatFlag(CChrArr("0000"), vat, flag), 1);
    EXPECT_EQ(vat, -1);
    EXPECT_EQ(cr.ParseVatFlag(CChrArr("9000"), vat, flag), 0);
    EXPECT_EQ(cr.m_nError, 103);

    const struct {
        uint32_t variant;
        const char* field;
        int32_t vat;   // 0: refused with 103
    } cases[] = {
        {1, "040000", 2}, {1, "030000", 0}, {1, "080000", 1}, {1, "000000", -1},
        {2, "030000", 3}, {2, "090000", 0}, {2, "000000", -1},
    };
    for (const auto& c : cases) {
        COptimus op;
        op.m_nVariant = c.variant;
        uint32_t flags[6] = {};
        int32_t v = 0;
        EXPECT_EQ(op.ParseVatFlags(CChrArr(c.field), v, flags), c.vat != 0 ? 1 : 0) << c.variant << " " << c.field;
        if (c.vat != 0) {
            EXPECT_EQ(v, c.vat) << c.variant << " " << c.field;
        }
    }
    COptimus op;
    uint32_t flags[6] = {};
    int32_t v = 0;
    ASSERT_EQ(op.ParseVatFlags(CChrArr("010809"), v, flags), 1);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(flags[0], 1u);   // bit 3 of 8
    EXPECT_EQ(flags[1], 1u);   // bit 0 of 8 clear
    EXPECT_EQ(flags[2], 1u);   // bit 3 of 9
    EXPECT_EQ(flags[3], 0u);
    EXPECT_EQ(flags[4], 1u);   // bit 1 of 9 clear
    EXPECT_EQ(flags[5], 1u);

    EXPECT_EQ(op.GetErrorText(16), "<Be issuing X-report>!?");
    EXPECT_EQ(op.GetErrorText(1010), "<Not found the PLU> !?");
    EXPECT_EQ(op.GetErrorText(10), "<Not found the PLU> !?");
    EXPECT_EQ(op.GetErrorText(1), "<MARK> error !?");
    EXPECT_EQ(op.GetErrorText(31), "<PRINTER is busy> !?");
    EXPECT_EQ(cr.GetErrorText(16), "<Be issuing X-report>");
    EXPECT_EQ(cr.GetErrorText(103), PL("Błąd w stawce podatkowej towaru"));
}

}  // namespace
}  // namespace orv::test
