// The communication library link: loading the library and its entry points,
// konfig.txt and modkonf.txt, request records, answer headers and data
// lines, the modem link's start, and the exchange files.
#include <chrono>

#include "drivers/elzab/modem/modem_fixture.h"
#include "util/chrarr.h"
#include "util/cp1250.h"

namespace orv::test {
namespace {

class ModemLink : public ModemTest {
protected:
    void SetUp() override {
        ModemTest::SetUp();
        modem.SetSerial(&serial);
    }
    void TearDown() override {
        modem.Close();
        ModemTest::TearDown();
    }
    int Open(uint32_t model, int link, const char* address = "0221234567", int port = 3, int baud = 9600,
             int channel = 1) {
        return modem.Open(port, baud, link, channel, 20, 5, model, address);
    }
    CElzabModem modem;
};

// ---- the library ----

TEST_F(ModemLink, LibraryIsFoundByTheLoadersSearchAndTheVariableNamesAnother) {
    CElzabModem::ResetLibraryForTests();
    ASSERT_EQ(Open(14, 0), 1) << modem.ErrorText();   // libwinip.so by the normal search

    // A missing library: error 999999 naming it; modkonf.txt is written all the same.
    CElzabModem::ResetLibraryForTests();
    setenv("ECR_LIB_WINIP", (m_dir + "/none/libwinip.so").c_str(), 1);
    ::unlink("modkonf.txt");
    EXPECT_EQ(Open(14, 0), 0);
    EXPECT_EQ(modem.m_nError, 999999);
    EXPECT_EQ(modem.ErrorText(), PL("Nie można załadować biblioteki ") + m_dir + "/none/libwinip.so");
    EXPECT_TRUE(FileExists("modkonf.txt"));
    EXPECT_TRUE(ExchangeFilesLeft().empty());

    // A library without one entry point: the first missing one is named,
    // and every later Open looks again.
    setenv("ECR_LIB_WINIP", ORVANTA_FAKES_DIR "/libwinip_partial.so", 1);
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_EQ(Open(14, 0), 0);
        EXPECT_EQ(modem.m_nError, 999999);
        EXPECT_EQ(modem.ErrorText(), "Brak funkcji __OTowar w bibliotece " ORVANTA_FAKES_DIR "/libwinip_partial.so");
    }

    // Then a good one.
    CElzabModem::ResetLibraryForTests();
    setenv("ECR_LIB_WINIP", ORVANTA_FAKES_DIR "/libwinip.so", 1);
    fake.Reset();
    EXPECT_EQ(Open(14, 0), 1) << modem.ErrorText();
    EXPECT_EQ(fake.Names(), (std::vector<std::string>{"__OZegar"}));
}

TEST_F(ModemLink, ModemConfigIsWrittenOnceAfterTheLoadAndKonfigOnEveryOpen) {
    CElzabModem::ResetLibraryForTests();
    ASSERT_EQ(Open(14, 0), 1);
    std::string expected;
    for (const char* l : {"$AT&F0", "$ATS0=0", "$ATS12=0", "$ATL1", "$ATN1", "$ATM1", "$ATX4", "$AT&Q5", "$AT&R1",
                          "$AT&S0", "$ATQ0", "$ATE1", "$ATV1", "$AT&K3", "$AT&D0", "$AT&C1"})
        expected += std::string(l) + "\r\n";
    EXPECT_EQ(ReadText("modkonf.txt"), expected);

    // An existing file stays as it is, also when the library is loaded again.
    { std::ofstream("modkonf.txt", std::ios::trunc) << "mine"; }
    std::ofstream("konfig.txt", std::ios::trunc) << "old";
    ASSERT_EQ(Open(14, 0), 1);
    CElzabModem::ResetLibraryForTests();
    ASSERT_EQ(Open(14, 0), 1);
    EXPECT_EQ(ReadText("modkonf.txt"), "mine");
    EXPECT_EQ(ReadText("konfig.txt"), "$5\tCOM3:9600:MUX0:1\t20\tDELTA LUX 20479");
}

TEST_F(ModemLink, KonfigLineByModelAndConnection) {
    struct Case {
        int type, kind, port, baud, channel;
        const char* address;
        bool relays;
        const char* expected;
    } cases[] = {
        {28, 8, 3, 9600, 1, "0221234567", true, "$5\tCOM3:9600:MUX2:1\t20\tDELTA LUX 20479\t0221234567"},
        {84, 8, 3, 9600, 1, "0221234567", true, "$5\tCOM3:115200:STX0:1\t20\tK10"},
        {92, 13, 1, 9600, 1, "AnyString:3001:255.255.255.250:7000", true,
         "$5\tCOM1:115200:STX6:1\t20\tSIGMA\tAnyString:1002:10.20.30.6:8088:ELZABMUX:10:3"},
        {92, 13, 1, 9600, 1, "AnyString:3001:255.255.255.250:7000", false,
         "$5\tCOM1:115200:STX6:1\t20\tSIGMA\tAnyString:1002:000.000.000.000:8088:ELZABMUX:10:3"},
        {93, 13, 1, 9600, 1, "Relay:3001:192.168.1.9:1", true,
         "$5\tCOM1:115200:STX6:1\t20\tMINI ONLINE\tAnyString:1002:192.168.1.9:1001:ELZABMUX:10:3"},
        {43, 13, 1, 9600, 1, "AnyString:3001", true, "$5\tCOM1:115200:STX6:1\t20\tJOTA ONLINE\tAnyString:3001"},
        {84, 13, 1, 9600, 1, "AnyString:3001:1.2.3.4:5", true, "$5\tCOM1:115200:STX0:1\t20\tK10"},
        {28, 13, 1, 19200, 1, "anystring:3001:255.255.255.255:9", true,
         "$5\tCOM1:19200:MUX5:1\t20\tDELTA LUX 20479\tanystring:3001:255.255.255.255:9"},
        {28, 13, 1, 19200, 1, "AnyString:3001:255.255.255.255:9", true,
         "$5\tCOM1:19200:MUX5:1\t20\tDELTA LUX 20479\tAnyString:3001:000.000.000.000:9"},
        {28, 2, 3, 19200, 1, "0221234567", true, "$5\tCOM3:19200:MUX1:1\t20\tDELTA LUX 20479"},
        {28, 9, 4, 4800, 1, "", true, "$5\tCOM4:19200:MUX1:1\t20\tDELTA LUX 20479"},
        {28, 7, 3, 9600, 1, "", true, "$5\tCOM3:9600:MUX3:1\t20\tDELTA LUX 20479"},
        {28, 10, 3, 9600, 2, "", true, "$5\tCOM3:9600:MUX4:2\t20\tDELTA LUX 20479"},
        {77, 7, 3, 9600, 1, "", true, "$5\tCOM3:9600:MUX3:1\t20\tSYSTEM 600"},
        {20, 0, 2, 9600, 1, "", true, "$5\tCOM2:9600:MUX0:1\t20\tMINI 2000"},
        {99, 8, 3, 9600, 1, "022\t12\r\n3", true, "$5\tCOM3:9600:MUX2:1\t20\tJOTA E 6143\t022 12  3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.type) + "/" + std::to_string(c.kind) + " " + c.address);
        RelaysResolve() = c.relays;
        EcrDeviceRecord dev = Device(c.type, c.kind, 5, c.port, c.baud);
        dev.word6 = c.channel;
        StrNCopyZ(dev.address, c.address, 63);
        CEM_ECR logic;
        Prepare(15, dev);
        ASSERT_TRUE(Job(logic, 15, dev));
        EXPECT_EQ(logic.GetErrorCode(), 0) << logic.GetErrorMessage();
        EXPECT_EQ(ReadText("konfig.txt"), c.expected);
    }
}

TEST_F(ModemLink, AKonfigThatCannotBeWrittenFailsTheOpen) {
    ASSERT_EQ(::mkdir("konfig.txt", 0700), 0);   // nothing can replace it
    EXPECT_EQ(Open(14, 0), 0);
    EXPECT_EQ(modem.m_nError, 6);
    EXPECT_TRUE(fake.Names().empty());
    EXPECT_TRUE(ExchangeFilesLeft().empty());
}

TEST_F(ModemLink, AddressIsCutTo63Bytes) {
    std::string address(80, '7');
    ASSERT_EQ(Open(14, 2, address.c_str()), 1);
    EXPECT_EQ(ReadText("konfig.txt"), "$5\tCOM3:9600:MUX2:1\t20\tDELTA LUX 20479\t" + std::string(63, '7'));
}

// ---- request records ----

TEST_F(ModemLink, GoodsRecordsPerModelFamily) {
    ElzabPlu plu;
    plu.number = 17;
    StrNCopyZ(plu.name, "Chleb \xAF" "ytni\tmaly", 47);   // CP1250 Ż, a TAB
    plu.vat = 1;
    plu.dept = 2;
    plu.byte21 = 3;
    plu.unit = 1;
    plu.byte23 = 1;
    plu.byte34 = 4;
    plu.price = 12.345;
    const std::string name852 = Cp1250ToCp852(CChrArr("Chleb \xAF" "ytni maly")).ToString();
    auto pad = [](std::string s, size_t n) {
        s.resize(n, ' ');
        return s;
    };
    struct Case {
        uint32_t model;
        const char* barcode;
        std::string expected;
    } cases[] = {
        {14, "590123", "17\t" + pad(name852, 19) + "\t1\t2\t3\t1\t1\t0000000590123\t1234\t4"},
        {21, " 5901234123457 ", "17\t" + pad(name852, 20) + "\t1\t2\t3\t1\t1\t5901234123457\t1234\t4"},
        {28, "", "17\t" + pad(name852, 32) + "\t1\t2\t3\t1\t1\t0000000000000\t1234\t4\t0\t0\t0\t1\t0"},
        {32, "1", "17\t" + pad(name852, 16) + "  " + pad(name852.substr(16), 16) +
                      "\t1\t2\t3\t1\t1\t0000000000001\t1234\t4\t0\t0\t0\t1\t0"},
        {36, "590123", "17\t" + pad(name852, 32) + "\t1\t2\t3\t1\t1\t590123\t1234\t4\t0\t0\t0\t1\t201109212800\t0"},
        {35, "", "17\t" + pad(name852, 32) + "\t1\t2\t3\t1\t1\t0000000000000\t1234\t4\t0\t0\t0\t1\t201109212800\t0"},
        {38, "123456789012345", "17\t" + pad(name852, 32) +
                                    "\t1\t2\t3\t1\t1\t000123456789012345\t1234\t4\t0\t0\t0\t1\t201109212800\t0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        modem.SetModel(c.model);
        std::string record;
        EXPECT_EQ(modem.GoodsRecord(plu, c.barcode, record), 0);
        EXPECT_EQ(record, c.expected);
    }

    // Refusals before anything is written.
    std::string record;
    modem.SetModel(14);
    EXPECT_EQ(modem.GoodsRecord(plu, "12345678901234", record), 0);   // not cut: goes out whole
    EXPECT_NE(record.find("\t12345678901234\t"), std::string::npos) << record;
    modem.SetModel(36);
    EXPECT_EQ(modem.GoodsRecord(plu, "1234567890123456789", record), 108);
    EXPECT_EQ(modem.GoodsRecord(plu, "123456789012345678", record), 0);
    ElzabPlu bad = plu;
    bad.price = -0.01;
    EXPECT_EQ(modem.GoodsRecord(bad, "", record), 109);
    bad = plu;
    bad.vat = 10;
    EXPECT_EQ(modem.GoodsRecord(bad, "", record), 103);

    EXPECT_EQ(modem.BarcodeRecord(17, " 123 ", record), 0);
    EXPECT_EQ(record, "17\t0000000000123");
    EXPECT_EQ(modem.BarcodeRecord(17, "12345678901234", record), 108);
    EXPECT_EQ(CElzabModem::DeleteRecord(4711), "4711");
    EXPECT_EQ(CElzabModem::DeptRecord(3, "Nabia\xB3"), "3\tNabia\x88             ");   // CP852 ł
    EXPECT_EQ(CElzabModem::UnitRecord(2, "kg\r\n"), "2\tkg  ");
    EXPECT_EQ(CElzabModem::UnitRecord(2, "litry"), "2\tlitr");
}

TEST_F(ModemLink, RequestFileHoldsTheHeaderAndOneLinePerRecord) {
    ASSERT_EQ(Open(14, 0), 1);
    ASSERT_EQ(modem.WriteInFile(), 1);
    const std::string first = modem.RequestFile();
    EXPECT_EQ(first.rfind(m_tmp + "/XWS", 0), 0u) << first;
    ASSERT_EQ(modem.AddRecord("1"), 1);
    ASSERT_EQ(modem.AddRecord("22"), 1);
    ASSERT_EQ(modem.DeletePlus(), 1);
    EXPECT_EQ(fake.Calls().back().name, "__KTowar");
    EXPECT_EQ(fake.Calls().back().request, "#5\r\n#\r\n#\r\n$1\r\n$22");
    // A new request replaces the old file.
    ASSERT_EQ(modem.WriteInFile(), 1);
    EXPECT_FALSE(FileExists(first));
    ASSERT_EQ(modem.CloseInFile(), 1);
    EXPECT_EQ(ReadText(modem.RequestFile()), "#5\r\n#\r\n#");
    modem.Close();
    EXPECT_TRUE(ExchangeFilesLeft().empty());
}

TEST_F(ModemLink, WithoutATemporaryDirectoryTheFilesAreInAndOutInTheWorkingDirectory) {
    setenv("TMPDIR", (m_dir + "/missing").c_str(), 1);
    ::symlink("/tmp/elzab_modem_planted", "IN.TMP");   // a planted link is not written through
    ASSERT_EQ(Open(14, 0), 1) << modem.ErrorText();
    EXPECT_FALSE(FileExists("/tmp/elzab_modem_planted"));
    auto calls = fake.Calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().in, "IN.TMP");
    EXPECT_EQ(calls.back().out, "OUT.TMP");
    EXPECT_FALSE(FileExists("OUT.TMP"));   // removed once read
    modem.Close();
    EXPECT_FALSE(FileExists("IN.TMP"));
}

// ---- answers ----

TEST_F(ModemLink, AnswerHeaderAndDataLineDefects) {
    ASSERT_EQ(Open(14, 0), 1);
    struct Case {
        const char* answer;   // nullptr: no answer file at all
        int error;
    } cases[] = {
        {"#5\r\n#\r\n#\r\n$10-12-26\t12:30", 0},
        {"#5\n#\n#\n$10-12-26\t12:30:15\n", 0},   // LF alone ends lines too
        {"#5\r\n#\r\n#\r\n$10-12-26\t12:30\r\n", 0},
        {"#100\r\n#\r\n#\r\n$10-12-26\t12:30", 19},
        {"#99999999999999999999999\r\n#\r\n#\r\n$10-12-26\t12:30", 19},
        {"#0\r\n#\r\n#\r\n$10-12-26\t12:30", 19},
        {"#x\r\n#\r\n#\r\n$10-12-26\t12:30", 19},
        {"#7\r\n#\r\n#\r\n$10-12-26\t12:30", 22},
        {"#7\r\n#\r\n", 8},   // a malformed header before another register's number
        {"#\r\n#\r\n#\r\n$10-12-26\t12:30", 8},
        {"5\r\n#\r\n#\r\n$10-12-26\t12:30", 8},
        {"#5\r\n#\r\n", 8},
        {"#5\r\n*\r\n#\r\n$10-12-26\t12:30", 8},
        {"", 8},
        {nullptr, 6},
        {"#5\r\n#\r\n#", 6},                          // no data line
        {"#5\r\n#\r\n#\r\n10-12-26\t12:30", 6},       // not a data line
        {"#5\r\n#\r\n#\r\n\r\n$10-12-26\t12:30", 6},  // an empty line
        {"#5\r\n#\r\n#\r\n$10-12-2026\t12:30", 6},    // date of 10 characters
        {"#5\r\n#\r\n#\r\n$10-12-26\t12:3", 6},
        {"#5\r\n#\r\n#\r\n$10-12-26", 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer ? c.answer : "(none)");
        fake.Reset();
        if (c.answer)
            fake.Do("raw", "__OZegar", c.answer);
        else
            fake.Do("answer", "__OZegar", "none");
        std::string date, time;
        EXPECT_EQ(modem.ReadClock(date, time), c.error == 0 ? 1 : 0);
        EXPECT_EQ(modem.m_nError, c.error);
        if (c.error == 0) {
            EXPECT_EQ(date, "10-12-26");
        }
        EXPECT_TRUE(modem.AnswerFile().empty());
    }
}

TEST_F(ModemLink, NumbersAreLocaleFreeDecimalsAndNothingReadsAsZero) {
    ASSERT_EQ(Open(14, 0), 1);
    struct Case {
        const char* line;
        bool ok;
        uint32_t number;
    } receipts[] = {
        {"123", true, 123},        {" 42 ", true, 42},   {"7.9", true, 7},   {"7,9", true, 7},
        {"4294967295", true, 4294967295u}, {"4294967296", false, 0}, {"", false, 0}, {"12x", false, 0},
        {"1e3", false, 0},         {"-1", false, 0},     {"1.2.3", false, 0}, {".", false, 0},
    };
    for (const Case& c : receipts) {
        SCOPED_TRACE(c.line);
        fake.Do("receipt", "", c.line);
        uint32_t n = 99;
        EXPECT_EQ(modem.ReadReceiptNumber(n), c.ok ? 1 : 0);
        EXPECT_EQ(modem.m_nError, c.ok ? 0 : 6);
        if (c.ok) {
            EXPECT_EQ(n, c.number);
        }
    }

    uint32_t type = 0;
    std::string text;
    fake.Do("type", "", "ALFA\t1.00\t14");
    EXPECT_EQ(modem.ReadDeviceType(type, text), 1);
    EXPECT_EQ(type, 14u);
    EXPECT_EQ(text, "ALFA");
    for (const char* bad : {"\t1.00\t14", "ALFA\t\t14", "ALFA\t1.00", "ALFA\t1.00\tK"}) {
        fake.Do("type", "", bad);
        EXPECT_EQ(modem.ReadDeviceType(type, text), 0) << bad;
        EXPECT_EQ(modem.m_nError, 6);
    }
}

TEST_F(ModemLink, VatWordsEmptyAndMissingFieldsNeverLeaveAStaleRate) {
    ASSERT_EQ(Open(14, 0), 1);
    struct Case {
        const char* line;
        int ok;
        std::array<double, 8> rates;
    } cases[] = {
        {"23.00\t8,00\t 5 \t0\tREZERWA\tZWOLNIONA\tREZERWA", 1, {23, 8, 5, 0, -3, -1, -3, -3}},
        {"23\t8", 1, {23, 8, -3, -3, -3, -3, -1, -3}},
        {"23\t\t5\t5\t5\t5\t7", 1, {23, -3, -3, -3, -3, -3, 7, -3}},
        {"", 1, {-3, -3, -3, -3, -3, -3, -1, -3}},
        {"1\t2\t3\t4\t5\t6\t", 1, {1, 2, 3, 4, 5, 6, -1, -3}},
        {"23\tabc", 0, {-3, -3, -3, -3, -3, -3, -3, -3}},
        {"23\t8\t5\t0\t0\t0\t1e1", 0, {-3, -3, -3, -3, -3, -3, -3, -3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        fake.Do("vat", "", c.line);
        double rates[8];
        for (double& r : rates) r = 77.0;   // a stale area
        EXPECT_EQ(modem.ReadVatRates(rates), c.ok);
        EXPECT_EQ(modem.m_nError, c.ok ? 0 : 6);
        for (int i = 0; i < 8; ++i) EXPECT_EQ(rates[i], c.rates[static_cast<size_t>(i)]) << i;
    }
}

TEST_F(ModemLink, Models21And22ReadClockReceiptAndTypeWithoutACall) {
    for (uint32_t model : {21u, 22u}) {
        fake.Reset();
        ASSERT_EQ(Open(model, 2), 1);
        std::string date = "x", time = "y", text = "z";
        uint32_t receipt = 9, type = 9;
        EXPECT_EQ(modem.ReadClock(date, time), 1);
        EXPECT_EQ(modem.ReadReceiptNumber(receipt), 1);
        EXPECT_EQ(modem.ReadDeviceType(type, text), 1);
        EXPECT_EQ(date + time + text, "");
        EXPECT_EQ(receipt + type, 0u);
        EXPECT_TRUE(fake.Names().empty());
        EXPECT_TRUE(modem.LinkUp());
    }
}

// ---- the modem link ----

TEST_F(ModemLink, ModemLinkStartsWhenTheClockCannotBeRead) {
    orv::platform::SetTimeScale(0.05);
    fake.Result("__OZegar", 5, 1);
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Open(14, 2), 1) << modem.m_nError;
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(fake.Names(), (std::vector<std::string>{"__OZegar", "__ModStart", "__OZegar"}));
    EXPECT_GE(ms, 95);   // the 2.0 s pause, scaled
    EXPECT_TRUE(modem.LinkUp());

    // The clock answers at once: no start, but a second read.
    fake.Reset();
    ASSERT_EQ(Open(14, 2), 1);
    EXPECT_EQ(fake.Names(), (std::vector<std::string>{"__OZegar", "__OZegar"}));
    // Other links read it once.
    fake.Reset();
    ASSERT_EQ(Open(14, 5), 1);
    EXPECT_EQ(fake.Names(), (std::vector<std::string>{"__OZegar"}));
}

TEST_F(ModemLink, AFailedModemStartKeepsItsCodeWhenTheStopFollows) {
    fake.Result("__OZegar", 5);
    fake.Result("__ModStart", 0xF9);
    fake.Result("__ModStop", 3);
    EXPECT_EQ(Open(14, 2), 0);
    EXPECT_EQ(modem.m_nError, 249);   // unsigned
    EXPECT_EQ(fake.Names(), (std::vector<std::string>{"__OZegar", "__ModStart", "__ModStop"}));
    EXPECT_FALSE(modem.LinkUp());
    EXPECT_TRUE(ExchangeFilesLeft().empty());
}

TEST_F(ModemLink, ABreakIsLookedAtBeforeEveryCall) {
    ASSERT_EQ(Open(14, 0), 1);
    serial.Break();
    size_t before = fake.Calls().size();
    double rates[8];
    EXPECT_EQ(modem.ReadVatRates(rates), 0);
    EXPECT_EQ(modem.m_nError, -7);
    EXPECT_EQ(fake.Calls().size(), before);
    serial.ClearBreak();
}

}  // namespace
}  // namespace orv::test
