// CElcom50 against the Elcom 50 emulator on a pseudo-terminal: request and
// reply framing, the PLU line, range checks, status codes, table reads.
#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "comm/telepathy.h"
#include "drivers/elcom50/celcom50.h"
#include "sim/elcom50/elcom50_emulator.h"
#include "fakes/recording_host.h"
#include "platform/clock.h"
#include "util/cp1250.h"

namespace {

using orv::test::Elcom50Emulator;
using orv::test::Host;
using Answer = Elcom50Emulator::Answer;

constexpr int kPort = 3;

Elcom50Plu MakePlu(uint32_t number, const char* name, double price, uint32_t tax = 1) {
    Elcom50Plu p;
    p.number = number;
    std::memcpy(p.name, name, std::min(std::strlen(name), sizeof p.name - 1));   // cut to the field
    std::strncpy(p.barcode, "5901234123457", sizeof p.barcode - 1);
    p.price = price;
    p.taxGroup = tax;
    p.department = 2;
    p.unit = 1;
    return p;
}

class Elcom50Protocol : public ::testing::Test {
protected:
    explicit Elcom50Protocol(int model = 24) : m_emu(kPort, model) {}

    void SetUp() override {
        orv::platform::SetTimeScale(0.1);
        Host().Reset();
        m_emu.Start();
        m_serial.SetCallback(&orv::test::RecordingHost::OnProgress);
        m_proto.SetSerial(&m_serial);
        m_proto.SetDeviceType(1, m_emu.model());
        ASSERT_EQ(m_proto.Open(kPort, 9600), 1) << m_proto.m_nError;
    }
    void TearDown() override {
        m_proto.ClosePort();
        m_emu.Stop();
        orv::platform::SetTimeScale(1.0);
    }

    // Sends one request and judges the reply, as every exchange does.
    int Exchange(const char* command, const char* params, CChrArr& data) {
        if (!m_proto.SendRequest(CChrArr(command), CChrArr(params))) return 0;
        return m_proto.CheckReply(CChrArr(command), data);
    }

    Elcom50Emulator m_emu;
    CTelepathy m_serial;
    CElcom50 m_proto;
};

class Elcom50Model25 : public Elcom50Protocol {
protected:
    Elcom50Model25() : Elcom50Protocol(25) {}
};

// ------------------------------------------------------------ framing

TEST_F(Elcom50Protocol, RequestLinesAreCommandTabReqParamsLf) {
    ASSERT_EQ(m_proto.ClearSale(), 1) << m_proto.m_nError;
    const std::string expected = "CONNECT\tREQ\nMAKEREPORT\tREQ\tPLU_Z\tNO\nDISCONNECT\tREQ\n";
    const orv::test::Bytes got = m_emu.Received();
    EXPECT_EQ(std::string(got.begin(), got.end()), expected);
    EXPECT_EQ(m_emu.ZeroingReports(), 1);
    EXPECT_FALSE(m_emu.Connected());
}

TEST_F(Elcom50Protocol, ReplyHeadAndDataPart) {
    struct Case {
        const char* reply;
        int result;
        const char* data;
    } cases[] = {
        {"GETREC\tRSP\n", 1, ""},                       // empty data
        {"GETREC\tRSP\t0\tabc\t\n", 1, "0\tabc\t"},     // data without the final LF
        {"GETREC\tRSP\t\n", 1, ""},
        {"GETREC\tRSPX\t0\n", 0, ""},                   // bad byte after the head
        {"GETREC\tRSP \t0\n", 0, ""},
        {"SETREC\tRSP\t0\n", 0, ""},                    // reply to another command
        {"GETREC\tRS\n", 0, ""},                        // shorter than the head
        {"GETREC\tREQ\t0\n", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        m_emu.Inject({"GETREC", "", Answer::Raw, c.reply});
        CChrArr data("junk");
        EXPECT_EQ(Exchange("GETREC", "PLU\t1", data), c.result);
        if (c.result == 1) {
            EXPECT_EQ(data.ToString(), c.data);
            EXPECT_EQ(m_proto.m_nError, 0);
        } else {
            EXPECT_EQ(m_proto.m_nError, EL50_ERR_BAD_REPLY);   // never 0
        }
    }
}

TEST_F(Elcom50Protocol, SilenceNoiseAndFieldSplitting) {
    m_emu.Inject({"GETDEVINFO", "", Answer::Silence, ""});
    CChrArr data;
    EXPECT_EQ(Exchange("GETDEVINFO", "", data), 0);
    EXPECT_EQ(m_proto.m_nError, -5);

    // Noise without a line end runs into the time-out; an endless line stops
    // at 2048 bytes.
    m_emu.Inject({"GETDEVINFO", "", Answer::Raw, "\x01\x7f\xff noise"});
    EXPECT_EQ(Exchange("GETDEVINFO", "", data), 0);
    EXPECT_EQ(m_proto.m_nError, -5);
    m_emu.Inject({"GETDEVINFO", "", Answer::Raw, std::string(3000, 'x')});
    EXPECT_EQ(Exchange("GETDEVINFO", "", data), 0);
    EXPECT_EQ(m_proto.m_nError, -8);
    // The next exchange starts clean.
    EXPECT_EQ(Exchange("GETDEVINFO", "", data), 1);

    CChrArr rest("a\t\tb");
    EXPECT_EQ(CElcom50::NextField(rest).ToString(), "a");
    EXPECT_EQ(CElcom50::NextField(rest).ToString(), "");
    EXPECT_EQ(CElcom50::NextField(rest).ToString(), "b");
    EXPECT_TRUE(rest.IsEmpty());
    EXPECT_TRUE(CElcom50::NextField(rest).IsEmpty());
}

// ------------------------------------------------------------ PLU line

TEST_F(Elcom50Protocol, PluLineFormat) {
    struct Case {
        const char* what;
        int model;
        const char* name;
        const char* barcode;
        double price;
        uint32_t unit, link, other;
        const char* line;
        uint32_t unitAfter;
    } cases[] = {
        {"price 12.50, short name padded", 24, "Mleko", "123", 12.5, 2, 0, 1,
         "12.50\tMleko                   \t3\t000000000000000123\t4\t2\t0000\t1\t", 2},
        {"unit 0 -> 1, link, other price 2 -> 0", 24, "Chleb", "5901234123457", 3.0, 0, 7, 2,
         "3.00\tChleb                   \t3\t000005901234123457\t4\t1\t7\t0\t", 1},
        {"unit 9 -> 1, long name cut at 24", 24, "Abcdefghijklmnopqrstuvwxyz0123", " 42 ", 0.125, 9, 20, 0,
         "0.13\tAbcdefghijklmnopqrstuvwx\t3\t000000000000000042\t4\t1\t20\t0\t", 1},
        {"20-digit barcode keeps its leftmost 18; 2.675 is below the tie", 24, "X", "12345678901234567890", 2.675, 8, 1, 1,
         "2.67\tX                       \t3\t123456789012345678\t4\t8\t1\t1\t", 8},
        {"model 25: 42-character name", 25, "Abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJ", "", 0.0, 3, 0, 0,
         "0.00\tAbcdefghijklmnopqrstuvwxyz0123456789ABCDEF\t3\t000000000000000000\t4\t3\t0000\t0\t", 3},
        {"TAB, CR, LF in name and code become blanks", 24, "A\tB\rC\nD", "1\t2", 1.0, 1, 0, 0,
         "1.00\tA B C D                 \t3\t0000000000000001 2\t4\t1\t0000\t0\t", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m_proto.SetDeviceType(1, c.model);
        Elcom50Plu p = MakePlu(1, "", c.price, 3);
        std::strncpy(p.name, c.name, sizeof p.name - 1);
        std::memset(p.barcode, 0, sizeof p.barcode);
        std::strncpy(p.barcode, c.barcode, sizeof p.barcode - 1);
        p.department = 4;
        p.unit = c.unit;
        p.link = c.link;
        p.otherPrice = c.other;
        EXPECT_EQ(m_proto.BuildPluRecord(p).ToString(), c.line);
        EXPECT_EQ(p.unit, c.unitAfter);
    }
}

TEST_F(Elcom50Protocol, WritePluSendsHeaderThenRecordInOneConnection) {
    Elcom50Plu p = MakePlu(5, "Mleko", 12.5, 2);
    p.unit = 0;
    ASSERT_EQ(m_proto.WritePlu(p), 1) << m_proto.m_nError;
    EXPECT_EQ(p.unit, 1u);
    const std::vector<std::string> expected = {
        "CONNECT\tREQ",
        "SETHEAD\tREQ\tPLU\tPLU_PRICE\tPLU_NAME\tPLU_TAXRATE\tPLU_BARCODE\tPLU_DPT\tPLU_UNIT\tPLU_LINK\tPLU_OTHERPRICE",
        "SETREC\tREQ\tPLU\t5\t12.50\tMleko                   \t2\t000005901234123457\t2\t1\t0000\t0\t",
        "DISCONNECT\tREQ",
    };
    EXPECT_EQ(m_emu.Requests(), expected);
    auto row = m_emu.Plu(5);
    ASSERT_TRUE(row.has_value());
    EXPECT_EQ(row->price, "12.50");
    EXPECT_EQ(row->unit, "1");
    EXPECT_EQ(row->tax, "2");
}

TEST_F(Elcom50Protocol, DeleteDepartmentAndUnitRecords) {
    Elcom50Plu p;
    p.number = 7;
    p.taxGroup = 99;   // not looked at when deleting
    ASSERT_EQ(m_proto.DeletePlu(p), 1) << m_proto.m_nError;
    Elcom50Dept d;
    d.number = 20;
    std::strcpy(d.name, "Nabial");
    ASSERT_EQ(m_proto.WriteDepartments(d), 1);
    Elcom50Unit u;
    u.number = 8;
    std::strcpy(u.name, "szt.");
    ASSERT_EQ(m_proto.WriteUnits(u), 1);
    const std::vector<std::string> expected = {
        "CONNECT\tREQ",
        "SETHEAD\tREQ\tPLU\tPLU_TAXRATE",
        "SETREC\tREQ\tPLU\t7\t0",
        "DISCONNECT\tREQ",
        "CONNECT\tREQ",
        "SETHEAD\tREQ\tDPT\tDPT_NAME",
        "SETREC\tREQ\tDPT\t20\tNabial                  ",
        "DISCONNECT\tREQ",
        "CONNECT\tREQ",
        "SETHEAD\tREQ\tMEASUREUNIT\tMEASUREUNIT_NAME",
        "SETREC\tREQ\tMEASUREUNIT\t8\tszt",
        "DISCONNECT\tREQ",
    };
    EXPECT_EQ(m_emu.Requests(), expected);
}

TEST_F(Elcom50Protocol, ReadRequestLines) {
    const std::string connect = "CONNECT\tREQ";
    const std::string disconnect = "DISCONNECT\tREQ";
    Elcom50Plu p;
    p.number = 1980;
    ASSERT_EQ(m_proto.ReadPlu(p), 1) << m_proto.m_nError;
    EXPECT_EQ(m_emu.Requests(),
              (std::vector<std::string>{connect,
                                        "SETHEAD\tREQ\tPLU\tPLU_PRICE\tPLU_NAME\tPLU_TAXRATE\tPLU_BARCODE\tPLU_DPT"
                                        "\tPLU_UNIT\tPLU_LINK\tPLU_OTHERPRICE\tPLU_QUANTITY\tPLU_AMOUNT",
                                        "GETREC\tREQ\tPLU\t1980", disconnect}));

    m_emu.ClearRequests();
    std::string text;
    ASSERT_EQ(m_proto.ReadDeviceInfo(text), 1);
    EXPECT_EQ(m_emu.Requests(), (std::vector<std::string>{connect, "GETDEVINFO\tREQ", disconnect}));

    // Table reads: the header, then one GETREC per row.
    double rates[8];
    Elcom50Dept depts[kEl50Departments];
    Elcom50Unit units[kEl50Units];
    struct Table {
        std::function<int()> read;
        const char* head;
        const char* row;   // GETREC parameters without the row number
        int rows;
    } tables[] = {
        {[&] { return m_proto.ReadTaxGroups(rates); }, "TAXGROUP\tTAXGROUP_RATE\tTAXGROUP_TYPE", "TAXGROUP\t", 7},
        {[&] { return m_proto.ReadDepartments(depts); }, "DPT\tDPT_NAME", "DPT\t", 20},
        {[&] { return m_proto.ReadUnits(units); }, "MEASUREUNIT\tMEASUREUNIT_NAME", "MEASUREUNIT\t", 8},
    };
    for (const Table& t : tables) {
        SCOPED_TRACE(t.head);
        m_emu.ClearRequests();
        ASSERT_EQ(t.read(), 1) << m_proto.m_nError;
        std::vector<std::string> expected = {connect, std::string("SETHEAD\tREQ\t") + t.head};
        for (int n = 1; n <= t.rows; ++n) expected.push_back(std::string("GETREC\tREQ\t") + t.row + std::to_string(n));
        expected.push_back(disconnect);
        EXPECT_EQ(m_emu.Requests(), expected);
    }
}

TEST_F(Elcom50Protocol, RangeChecksSendNothing) {
    struct Case {
        const char* what;
        std::function<int(CElcom50&)> op;
        int code;
    } cases[] = {
        {"PLU 0", [](CElcom50& e) { Elcom50Plu p = MakePlu(0, "A", 1); return e.WritePlu(p); }, 105},
        {"PLU 1981", [](CElcom50& e) { Elcom50Plu p = MakePlu(1981, "A", 1); return e.WritePlu(p); }, 105},
        {"tax 0", [](CElcom50& e) { Elcom50Plu p = MakePlu(1, "A", 1, 0); return e.WritePlu(p); }, 103},
        {"tax 8", [](CElcom50& e) { Elcom50Plu p = MakePlu(1, "A", 1, 8); return e.WritePlu(p); }, 103},
        {"link 21", [](CElcom50& e) { Elcom50Plu p = MakePlu(1, "A", 1); p.link = 21; return e.WritePlu(p); }, 999},
        {"price -0.01", [](CElcom50& e) { Elcom50Plu p = MakePlu(1, "A", -0.01); return e.WritePlu(p); }, 109},
        {"price 1e12", [](CElcom50& e) { Elcom50Plu p = MakePlu(1, "A", 1e12); return e.WritePlu(p); }, 109},
        {"price NaN", [](CElcom50& e) { Elcom50Plu p = MakePlu(1, "A", std::nan("")); return e.WritePlu(p); }, 109},
        {"delete PLU 0", [](CElcom50& e) { Elcom50Plu p; return e.DeletePlu(p); }, 105},
        {"read PLU 1981", [](CElcom50& e) { Elcom50Plu p; p.number = 1981; return e.ReadPlu(p); }, 105},
        {"department 21", [](CElcom50& e) { Elcom50Dept d; d.number = 21; return e.WriteDepartments(d); }, 110},
        {"department 0", [](CElcom50& e) { Elcom50Dept d; return e.WriteDepartments(d); }, 110},
        {"unit 9", [](CElcom50& e) { Elcom50Unit u; u.number = 9; return e.WriteUnits(u); }, 111},
        {"unit 0", [](CElcom50& e) { Elcom50Unit u; return e.WriteUnits(u); }, 111},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.op(m_proto), 0);
        EXPECT_EQ(m_proto.m_nError, c.code);
        EXPECT_FALSE(m_proto.GetErrorText(c.code).empty());
    }
    EXPECT_EQ(m_emu.ReceivedCount(), 0u);
}

// ------------------------------------------------------------ status codes

TEST_F(Elcom50Protocol, StatusCodesAreFoldedAndStored) {
    struct Case {
        const char* status;
        int stored;
    } cases[] = {
        {"2147942409", 24},                 // 0x80070009 unsigned
        {"-2147024887", 24},                // the same, signed
        {"24.00", 24},
        {"24", 24},
        {"393227", 1},                      // 0x0006000B
        {"2164916243", 36},                 // 0x810A0013
        {"-2130051063", 35},                // 0x810A0009 signed
        {"2147483649", static_cast<int>(0x80000001u)},   // unknown 32-bit code kept
        {"4294967297", 1},                  // beyond 32 bits: low 32 bits taken
        {"abc", 999},                       // not a number
        {"", 999},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        m_emu.Inject({"SETREC", "PLU\t1", Answer::Status, c.status});
        Elcom50Plu p = MakePlu(1, "A", 1.0);
        EXPECT_EQ(m_proto.WritePlu(p), 0);
        EXPECT_EQ(m_proto.m_nError, c.stored);
    }
    EXPECT_FALSE(m_emu.Plu(1).has_value());   // nothing was written
    EXPECT_EQ(m_proto.GetErrorText(24), PL("Kasa zajęta"));
    EXPECT_EQ(m_proto.GetErrorText(static_cast<int>(0x80070009u)), PL("Kasa zajęta"));
    EXPECT_EQ(m_proto.GetErrorText(3), PL("Operacja niemożliwa w tym stanie – wymagany tryb serwisowy"));
    EXPECT_EQ(m_proto.GetErrorText(36), PL("Pamięć podręczna zawiera 2 nieprzesłane raporty dobowe"));
    EXPECT_EQ(m_proto.GetErrorText(202), PL("Pod podanym numerem towar nie zdefiniowany"));
    EXPECT_EQ(CElcom50::MapErrorCode(0x8006001Bu), 19);
    EXPECT_EQ(CElcom50::MapErrorCode(37), 37);
}

TEST_F(Elcom50Protocol, FirstErrorSurvivesDisconnect) {
    // The register refuses the record and then the disconnect as well.
    m_emu.Inject({"SETREC", "", Answer::Status, "2147942409"});
    m_emu.Inject({"DISCONNECT", "", Answer::Status, "2147942410"});
    Elcom50Plu p = MakePlu(1, "A", 1.0);
    EXPECT_EQ(m_proto.WritePlu(p), 0);
    EXPECT_EQ(m_proto.m_nError, 24);

    // Missing reply fields (999), then a disconnect that is never answered.
    m_emu.Inject({"GETREC", "PLU\t2", Answer::MissingFields, "3"});
    m_emu.Inject({"DISCONNECT", "", Answer::Silence, ""});
    EXPECT_EQ(m_proto.ReadAllPlu([](const Elcom50Plu&) {}), 0);
    EXPECT_EQ(m_proto.m_nError, 999);

    // A wrong head on the record's reply, disconnect fine.
    m_emu.Inject({"SETREC", "", Answer::WrongHead, ""});
    EXPECT_EQ(m_proto.WritePlu(p), 0);
    EXPECT_EQ(m_proto.m_nError, 999);

    // A silent register: the time-out survives.
    m_emu.Inject({"SETHEAD", "", Answer::Silence, ""});
    EXPECT_EQ(m_proto.WritePlu(p), 0);
    EXPECT_EQ(m_proto.m_nError, -5);
    EXPECT_FALSE(m_emu.Connected());
}

// ------------------------------------------------------------ reads

TEST_F(Elcom50Protocol, ReadAllPluFiltersAndReportsProgress) {
    Elcom50Emulator::PluRow full;
    full.price = "12.50";
    full.name = "Mleko";
    full.tax = "1";
    full.barcode = "000005901234123457";
    full.dpt = "3";
    full.unit = "2";
    full.link = "0000";
    full.other = "1";
    m_emu.SetPlu(1, full);
    Elcom50Emulator::PluRow blankName = full;
    blankName.name = "                        ";
    blankName.tax = "0";                 // a deleted PLU
    m_emu.SetPlu(2, blankName);
    Elcom50Emulator::PluRow noTax = full;
    noTax.tax = "0";
    m_emu.SetPlu(3, noTax);
    Elcom50Emulator::PluRow noDept = full;
    noDept.dpt = "0";
    m_emu.SetPlu(4, noDept);
    Elcom50Emulator::PluRow last = full;
    last.name = "Ostatni";
    last.other = "0";
    m_emu.SetPlu(1980, last);

    std::vector<Elcom50Plu> got;
    ASSERT_EQ(m_proto.ReadAllPlu([&](const Elcom50Plu& p) { got.push_back(p); }), 1) << m_proto.m_nError;
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].number, 1u);
    EXPECT_STREQ(got[0].name, "Mleko");
    EXPECT_DOUBLE_EQ(got[0].price, 12.5);
    EXPECT_EQ(got[0].taxGroup, 1u);
    EXPECT_STREQ(got[0].barcode, "000005901234123457");
    EXPECT_EQ(got[0].department, 3u);
    EXPECT_EQ(got[0].unit, 2u);
    EXPECT_EQ(got[0].link, 0u);
    EXPECT_EQ(got[0].otherPrice, 1u);
    EXPECT_EQ(got[1].number, 1980u);
    EXPECT_EQ(got[1].otherPrice, 2u);

    const auto events = Host().EventsWithCode(ECR_EVENT_ITEM);
    ASSERT_EQ(events.size(), 1980u);
    EXPECT_EQ(events[0].text, "Pobieranie danych PLU - 1");
    EXPECT_EQ(events[0].percent, 0);
    EXPECT_EQ(events[989].percent, 50);      // 99000 / 1980
    EXPECT_EQ(events[1978].percent, 99);
    EXPECT_EQ(events[1979].text, "Pobieranie danych PLU - 1980");
    EXPECT_EQ(events[1979].percent, 0);      // 100 mod 100
    EXPECT_EQ(m_emu.CountRequests("GETREC"), 1980);
}

TEST_F(Elcom50Protocol, ReadAllPluStopsAtAnErrorOrMissingFields) {
    m_emu.Inject({"GETREC", "PLU\t3", Answer::Status, "2147942409"});
    EXPECT_EQ(m_proto.ReadAllPlu([](const Elcom50Plu&) {}), 0);
    EXPECT_EQ(m_proto.m_nError, 24);
    EXPECT_EQ(m_emu.CountRequests("GETREC"), 3);

    m_emu.ClearRequests();
    m_emu.Inject({"GETREC", "PLU\t2", Answer::MissingFields, "9"});   // amount missing
    EXPECT_EQ(m_proto.ReadSale([](const Elcom50Plu&, const Elcom50Sale&) {}), 0);
    EXPECT_EQ(m_proto.m_nError, 999);
    EXPECT_EQ(m_emu.CountRequests("GETREC"), 2);

    // An empty name is a missing field too.
    m_emu.ClearRequests();
    Elcom50Emulator::PluRow noName;
    noName.name = "";
    m_emu.SetPlu(4, noName);
    EXPECT_EQ(m_proto.ReadAllPlu([](const Elcom50Plu&) {}), 0);
    EXPECT_EQ(m_proto.m_nError, 999);
    EXPECT_EQ(m_emu.CountRequests("GETREC"), 4);
}

TEST_F(Elcom50Protocol, ReadSaleHandsEveryRecordWithItsFigures) {
    Elcom50Emulator::PluRow row;
    row.name = "Chleb";
    row.tax = "0";                       // deleted: tax group 0
    row.barcode = "123";
    row.quantity = "2.500";
    row.amount = "10.25";
    m_emu.SetPlu(7, row);
    int calls = 0;
    Elcom50Sale seven;
    Elcom50Plu sevenPlu;
    ASSERT_EQ(m_proto.ReadSale([&](const Elcom50Plu& p, const Elcom50Sale& s) {
        ++calls;
        if (p.number == 7) {
            sevenPlu = p;
            seven = s;
        }
    }), 1);
    EXPECT_EQ(calls, 1980);
    EXPECT_EQ(sevenPlu.number, 7u);
    EXPECT_STREQ(seven.name, "Chleb");
    EXPECT_STREQ(seven.barcode, "123");
    EXPECT_DOUBLE_EQ(seven.quantity, 2.5);
    EXPECT_DOUBLE_EQ(seven.amount, 10.25);
}

TEST_F(Elcom50Protocol, ReadPluGives202ForFieldsThatDoNotParse) {
    m_emu.Inject({"GETREC", "PLU\t4", Answer::MissingFields, "2"});
    Elcom50Plu p;
    p.number = 4;
    EXPECT_EQ(m_proto.ReadPlu(p), 0);
    EXPECT_EQ(m_proto.m_nError, 202);
    m_emu.Inject({"GETREC", "PLU\t4", Answer::Raw, "GETREC\tRSP\t0\tabc\tX\t1\t\t1\t1\t0\t1\t0\t0\n"});
    EXPECT_EQ(m_proto.ReadPlu(p), 0);
    EXPECT_EQ(m_proto.m_nError, 202);
    // An empty barcode is fine.
    m_emu.Inject({"GETREC", "PLU\t4", Answer::Raw, "GETREC\tRSP\t0\t1.5\tX\t1\t\t1\t1\t0\t1\t0\t0\n"});
    EXPECT_EQ(m_proto.ReadPlu(p), 1) << m_proto.m_nError;
    EXPECT_EQ(p.number, 4u);
    EXPECT_STREQ(p.name, "X");
    EXPECT_STREQ(p.barcode, "");
    EXPECT_DOUBLE_EQ(p.price, 1.5);
}

TEST_F(Elcom50Protocol, TaxGroupsOfEachType) {
    m_emu.SetTaxGroup(1, "23.00", 1);
    m_emu.SetTaxGroup(2, "8.00", 1);
    m_emu.SetTaxGroup(3, "5.00", 1);
    m_emu.SetTaxGroup(4, "0.00", 1);
    m_emu.SetTaxGroup(5, "0.00", 2);     // exempt
    m_emu.SetTaxGroup(6, "12.00", 0);    // not defined
    m_emu.SetTaxGroup(7, "7.00", 3);     // unknown type
    double rates[8];
    ASSERT_EQ(m_proto.ReadTaxGroups(rates), 1) << m_proto.m_nError;
    const double expected[8] = {23.0, 8.0, 5.0, 0.0, -1.0, -3.0, -3.0, -3.0};
    for (int i = 0; i < 8; ++i) EXPECT_DOUBLE_EQ(rates[i], expected[i]) << i;
    EXPECT_EQ(m_emu.CountRequests("GETREC"), 7);
    EXPECT_EQ(m_emu.Requests()[2], "GETREC\tREQ\tTAXGROUP\t1");

    // Only a group of type 1 needs its rate; an exempt or unused group may
    // leave it empty.
    m_emu.Inject({"GETREC", "TAXGROUP\t5", Answer::Raw, "GETREC\tRSP\t0\t\t2\n"});
    m_emu.Inject({"GETREC", "TAXGROUP\t6", Answer::Raw, "GETREC\tRSP\t0\t\t0\n"});
    ASSERT_EQ(m_proto.ReadTaxGroups(rates), 1) << m_proto.m_nError;
    for (int i = 0; i < 8; ++i) EXPECT_DOUBLE_EQ(rates[i], expected[i]) << i;

    m_emu.Inject({"GETREC", "TAXGROUP\t3", Answer::MissingFields, "1"});   // type missing
    EXPECT_EQ(m_proto.ReadTaxGroups(rates), 0);
    EXPECT_EQ(m_proto.m_nError, 999);
    m_emu.Inject({"GETREC", "TAXGROUP\t1", Answer::Raw, "GETREC\tRSP\t0\t\t1\n"});   // rate missing
    EXPECT_EQ(m_proto.ReadTaxGroups(rates), 0);
    EXPECT_EQ(m_proto.m_nError, 999);
    m_emu.Inject({"GETREC", "TAXGROUP\t2", Answer::Status, "8"});
    EXPECT_EQ(m_proto.ReadTaxGroups(rates), 0);
    EXPECT_EQ(m_proto.m_nError, 8);
}

TEST_F(Elcom50Protocol, DeviceInformationStopsAtTheFirstEmptyField) {
    std::string text;
    ASSERT_EQ(m_proto.ReadDeviceInfo(text), 1);
    EXPECT_EQ(text, std::string("Typ kasy : ELCOM 50\r\nSymbol kraju : PL\r\nWersja software'u : 1.07\r\n") +
                        PL("Wersja protokołu : ") + "2.1\r\nTryb pracy : FISKALNY\r\n");

    m_emu.SetDevInfo({"ELCOM 50", "PL", "", "2.1", "FISKALNY"});
    ASSERT_EQ(m_proto.ReadDeviceInfo(text), 1);
    EXPECT_EQ(text, "Typ kasy : ELCOM 50\r\nSymbol kraju : PL\r\n");

    m_emu.SetDevInfo({});
    ASSERT_EQ(m_proto.ReadDeviceInfo(text), 1);
    EXPECT_EQ(text, "");

    m_emu.Inject({"GETDEVINFO", "", Answer::Status, "2147942409"});
    EXPECT_EQ(m_proto.ReadDeviceInfo(text), 0);
    EXPECT_EQ(m_proto.m_nError, 24);
}

TEST_F(Elcom50Protocol, DepartmentsAndUnits) {
    m_emu.SetDept(1, "Nabial");
    m_emu.SetDept(2, "Abcdefghijklmnopqrstuvwxyz");
    m_emu.SetUnit(1, "szt");
    m_emu.SetUnit(2, "kilogram");
    Elcom50Dept depts[kEl50Departments];
    ASSERT_EQ(m_proto.ReadDepartments(depts), 1) << m_proto.m_nError;
    EXPECT_EQ(depts[0].number, 1u);
    EXPECT_STREQ(depts[0].name, "Nabial");
    EXPECT_STREQ(depts[1].name, "Abcdefghijklmnopqrstuvwx");   // model 24: 24 characters
    EXPECT_STREQ(depts[2].name, "---");                        // empty name
    EXPECT_EQ(depts[19].number, 20u);
    auto events = Host().EventsWithCode(ECR_EVENT_ITEM);
    ASSERT_EQ(events.size(), 20u);
    EXPECT_EQ(orv::test::Utf8(events[0].text), "Pobieranie danych o działach tow. - 1");
    EXPECT_EQ(events[0].percent, 5);
    EXPECT_EQ(events[19].percent, 0);                          // 100 mod 100

    Host().Reset();
    Elcom50Unit units[kEl50Units];
    ASSERT_EQ(m_proto.ReadUnits(units), 1) << m_proto.m_nError;
    EXPECT_STREQ(units[0].name, "szt");
    EXPECT_STREQ(units[1].name, "kilo");                       // at most 4
    EXPECT_STREQ(units[2].name, "---");
    EXPECT_EQ(units[7].number, 8u);
    events = Host().EventsWithCode(ECR_EVENT_ITEM);
    ASSERT_EQ(events.size(), 8u);
    EXPECT_EQ(events[0].text, "Pobieranie danych jed.miary - 1");
    EXPECT_EQ(events[0].percent, 12);
    EXPECT_EQ(events[7].percent, 0);

    m_emu.Inject({"GETREC", "DPT\t5", Answer::Status, "2147942409"});
    EXPECT_EQ(m_proto.ReadDepartments(depts), 0);
    EXPECT_EQ(m_proto.m_nError, 24);
}

TEST_F(Elcom50Model25, WiderNamesAndMoreRecords) {
    EXPECT_EQ(m_proto.GetMaxRecord(), 14980);
    Elcom50Plu p = MakePlu(14980, "Abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJ", 1.0);
    ASSERT_EQ(m_proto.WritePlu(p), 1) << m_proto.m_nError;
    auto row = m_emu.Plu(14980);
    ASSERT_TRUE(row.has_value());
    EXPECT_EQ(row->name, "Abcdefghijklmnopqrstuvwxyz0123456789ABCDEF");
    Elcom50Plu back;
    back.number = 14980;
    ASSERT_EQ(m_proto.ReadPlu(back), 1);
    EXPECT_STREQ(back.name, "Abcdefghijklmnopqrstuvwxyz0123456789ABCDEF");
    Elcom50Plu over = MakePlu(14981, "A", 1.0);
    EXPECT_EQ(m_proto.WritePlu(over), 0);
    EXPECT_EQ(m_proto.m_nError, 105);
}

}  // namespace
