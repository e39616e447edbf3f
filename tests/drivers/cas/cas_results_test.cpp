// CAS XML scales: reading the result files the transfer program writes
// (records with and without a PLU, indentation, comments, CDATA, both
// encodings, malformed and missing files), the records the host gets, stale
// result files, a missing program, and a break during the program's run.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "drivers/cas/ccas_xml.h"
#include "drivers/cas/ccas_xml_ecr.h"
#include "util/cp1250_unicode.h"
#include "drivers/cas/scales_fixture.h"

namespace {

using namespace orv::test;

// A PLU result file in CP1250, as CASCale.exe might write it.
const std::string kPluResultCp1250 =
    "<?xml version=\"1.0\" encoding=\"windows-1250\"?>\r\n"
    "<CAS_POLSKA>\r\n"
    "  <!-- written by the scale program -->\r\n"
    "  <Dane>\r\n"
    "    <REKORD>\r\n"
    "      <PLU>12</PLU>\r\n"
    "      <Nazwa01>Jab\xB3ka \x9Cwie\xBF\x65</Nazwa01>\r\n"
    "      <Nazwa02>Polskie</Nazwa02>\r\n"
    "      <Nazwa03>kl. I</Nazwa03>\r\n"
    "      <BarCode>5900000000001234</BarCode>\r\n"
    "      <UnitPrice>349</UnitPrice>\r\n"
    "      <SpecialPrice>299.5</SpecialPrice>\r\n"
    "      <TaxNo>2</TaxNo>\r\n"
    "      <Department>3</Department>\r\n"
    "      <PluType>3</PluType>\r\n"
    "      <PriceType>1</PriceType>\r\n"
    "      <SellDate>7</SellDate>\r\n"
    "      <Unknown>99</Unknown>\r\n"
    "    </REKORD>\r\n"
    "    <REKORD>\r\n"
    "      <Nazwa01>Bez numeru</Nazwa01>\r\n"
    "      <Department>8</Department>\r\n"
    "    </REKORD>\r\n"
    "    <REKORD>\r\n"
    "      <PLU>13</PLU>\r\n"
    "      <Nazwa01><!-- a note -->Ser<?pi x?></Nazwa01>\r\n"
    "      <Nazwa02><![CDATA[& <Co>]]></Nazwa02>\r\n"
    "    </REKORD>\r\n"
    "  </Dane>\r\n"
    "</CAS_POLSKA>\r\n";

std::string Utf8Version() {
    std::string text = Cp1250ToUtf8(kPluResultCp1250);
    const std::string from = "encoding=\"windows-1250\"";
    text.replace(text.find(from), from.size(), "encoding=\"UTF-8\"");
    return text;
}

class CasResults : public ScaleTest {
protected:
    std::vector<CasPluRecord> ParsePlus(const std::string& bytes, int* result = nullptr) {
        dir.Write("result.xml", bytes);
        std::vector<CasPluRecord> out;
        const int r = xml.ParsePLUFile(dir.File("result.xml"), [&](const CasPluRecord& rec) { out.push_back(rec); });
        if (result) *result = r;
        return out;
    }
    CCas_XML xml;
};

void ExpectTheTwoRecords(const std::vector<CasPluRecord>& recs) {
    ASSERT_EQ(recs.size(), 2u);
    const CasPluRecord& a = recs[0];
    EXPECT_EQ(a.plu, 12u);
    EXPECT_STREQ(a.name, "Jab\xB3ka \x9Cwie\xBF\x65");
    EXPECT_STREQ(a.lines[0], "Jab\xB3ka \x9Cwie\xBF\x65");
    EXPECT_STREQ(a.lines[1], "Polskie");
    EXPECT_STREQ(a.lines[2], "kl. I");
    EXPECT_STREQ(a.barcode, "5900000000001");   // 13 characters
    EXPECT_DOUBLE_EQ(a.unitPrice, 3.49);
    EXPECT_DOUBLE_EQ(a.specialPrice, 2.995);
    EXPECT_EQ(a.taxNo, 2u);
    EXPECT_EQ(a.department, 3u);
    EXPECT_EQ(a.pluType, 2u);
    EXPECT_EQ(a.priceType, 1u);
    EXPECT_EQ(a.sellDate, 7u);
    // The second element has no PLU: no record. The third starts empty:
    // nothing of the first two is carried over.
    const CasPluRecord& b = recs[1];
    EXPECT_EQ(b.plu, 13u);
    EXPECT_STREQ(b.name, "Ser");
    EXPECT_STREQ(b.lines[1], "& <Co>");
    EXPECT_EQ(b.department, 0u);
    EXPECT_EQ(b.unitPrice, 0.0);
    EXPECT_STREQ(b.barcode, "");
}

TEST_F(CasResults, PluRecordsFromAWindows1250File) {
    int r = 0;
    ExpectTheTwoRecords(ParsePlus(kPluResultCp1250, &r));
    EXPECT_EQ(r, 1);
}

TEST_F(CasResults, PluRecordsFromAUtf8File) {
    ExpectTheTwoRecords(ParsePlus(Utf8Version()));
    // With a byte-order mark and no declaration at all.
    std::string bare = Utf8Version();
    bare = "\xEF\xBB\xBF" + bare.substr(bare.find("?>") + 2);
    ExpectTheTwoRecords(ParsePlus(bare));
}

TEST_F(CasResults, DeclarationsNameTheEncoding) {
    // The name "Łódź" in the bytes each declaration promises.
    const std::string cp = "\xA3\xF3\x64\x9F";
    const std::string utf = "\xC5\x81\xC3\xB3\x64\xC5\xBA";
    const struct {
        std::string head;
        std::string name;
    } cases[] = {
        {"<?xml version='1.0' encoding='CP1250'?>", cp},
        {"<?xml version=\"1.0\" encoding = \"Windows-1250\" standalone=\"yes\"?>", cp},
        {"<?xml version=\"1.0\" encoding=\"utf-8\"?>", utf},
        {"<?xml version=\"1.0\"?>", utf},
        {"", utf},
    };
    for (const auto& c : cases) {
        const auto recs = ParsePlus(c.head + "<A><REKORD><PLU>1</PLU><Nazwa01>" + c.name + "</Nazwa01></REKORD></A>");
        ASSERT_EQ(recs.size(), 1u) << c.head;
        EXPECT_STREQ(recs[0].name, cp.c_str()) << c.head;
    }
}

TEST(CodePage1250, EveryDefinedByteRoundTrips) {
    int undefined = 0;
    for (int b = 1; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        const std::string utf8 = Cp1250ToUtf8(one);
        if (utf8 == "?" && b != '?') {
            ++undefined;
            continue;
        }
        EXPECT_EQ(Utf8ToCp1250(utf8), one) << b;
    }
    EXPECT_EQ(undefined, 5);   // 0x81, 0x83, 0x88, 0x90, 0x98
    EXPECT_EQ(Cp1250ToUtf8("\x80\xB3\x96\xFF"), "\xE2\x82\xAC\xC5\x82\xE2\x80\x93\xCB\x99");
    // Outside the page, and malformed sequences, become '?'.
    EXPECT_EQ(Utf8ToCp1250("\xE4\xB8\xAD|\xC5|\xF0\x9F\x98\x80|\xC0\xAF"), "?|?|?|??");
}

TEST_F(CasResults, PluTypeValues) {
    const struct {
        const char* text;
        uint32_t type;
    } cases[] = {{"0", 0}, {"1", 1}, {"2", 2}, {"3", 2}, {"4", 0}, {"x", 0}};
    for (const auto& c : cases) {
        const auto recs = ParsePlus(std::string("<A><REKORD><PLU>1</PLU><PluType>") + c.text + "</PluType></REKORD></A>");
        ASSERT_EQ(recs.size(), 1u);
        EXPECT_EQ(recs[0].pluType, c.type) << c.text;
    }
}

TEST_F(CasResults, BadFilesFailWith9999) {
    const char* cases[] = {
        "<CAS_POLSKA><REKORD><PLU>1</PLU></CAS_POLSKA>",                            // not well formed
        "",                                                                         // empty
        "<?xml version=\"1.0\" encoding=\"ISO-8859-5\"?><A/>",                      // encoding not known
        "<?xml version=\"1.0\" encoding=\"windows-1250\"",                          // declaration cut off
    };
    for (const char* text : cases) {
        int r = -1;
        const auto recs = ParsePlus(text, &r);
        EXPECT_EQ(r, 0) << text;
        EXPECT_EQ(xml.m_nError, 9999) << text;
        EXPECT_TRUE(recs.empty()) << text;
    }
    std::vector<CasDeptRecord> depts;
    EXPECT_EQ(xml.ParseDeptFile(dir.File("missing.xml"), [&](const CasDeptRecord& d) { depts.push_back(d); }), 0);
    EXPECT_EQ(xml.m_nError, 9999);
    EXPECT_EQ(xml.ParsePLUFile(dir.Path(), nullptr), 0);   // a directory
    EXPECT_EQ(xml.m_nError, 9999);
    // A FIFO under the name is refused at once, not waited on.
    ASSERT_EQ(::mkfifo(dir.File("fifo.xml").c_str(), 0600), 0);
    auto read = std::async(std::launch::async, [&] { return xml.ParsePLUFile(dir.File("fifo.xml"), nullptr); });
    const bool prompt = read.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    if (!prompt) {
        // Let a reader stuck in the open go on, so the test ends.
        const int writer = ::open(dir.File("fifo.xml").c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) ::close(writer);
    }
    EXPECT_TRUE(prompt);
    EXPECT_EQ(read.get(), 0);
    EXPECT_EQ(xml.m_nError, 9999);
}

TEST_F(CasResults, DepartmentRecordsFromAttributes) {
    dir.Write("dept.xml",
              "<?xml version=\"1.0\" encoding=\"windows-1250\"?>\r\n<CAS_POLSKA>\r\n <Dane>\r\n"
              "  <REKORD NO=\"5\" NAME=\"Nabia\xB3 i sery, bardzo d\xB3uga nazwa\"/>\r\n"
              "  <REKORD NO=\"6\"/>\r\n"
              "  <!-- <REKORD NO=\"7\" NAME=\"commented out\"/> -->\r\n"
              "  <REKORD NAME=\"Bez numeru &amp; co\"></REKORD>\r\n"
              " </Dane>\r\n</CAS_POLSKA>\r\n");
    std::vector<CasDeptRecord> depts;
    ASSERT_EQ(xml.ParseDeptFile(dir.File("dept.xml"), [&](const CasDeptRecord& d) { depts.push_back(d); }), 1);
    ASSERT_EQ(depts.size(), 2u);
    EXPECT_EQ(depts[0].number, 5u);
    EXPECT_STREQ(depts[0].name, "Nabia\xB3 i sery, bardzo d\xB3");   // 24 characters
    EXPECT_EQ(depts[1].number, 0u);
    EXPECT_STREQ(depts[1].name, "Bez numeru & co");
}

class CasReadJobs : public ScaleTest {
protected:
    CCAS_XML_ECR logic;
};

TEST_F(CasReadJobs, ReadAllPluHandsTheHostFreshRecords) {
    dir.InstallFake("CASCale.exe");
    dir.Write("fake_result", kPluResultCp1250);
    EXPECT_EQ(Run(logic, 111, kJobReadAllPlu), 0);
    EXPECT_TRUE(Succeeded());
    const auto codes = Host().EventCodes();
    ASSERT_GE(codes.size(), 3u);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_BULK), 1);

    const auto items = Host().Items();
    ASSERT_EQ(items.size(), 2u);
    const EcrItemRecord& a = items[0];
    EXPECT_EQ(a.number, 12u);
    EXPECT_STREQ(a.code, "5900000000001");
    EXPECT_STREQ(a.name, "Jab\xB3ka \x9Cwie\xBF\x65");
    EXPECT_DOUBLE_EQ(a.price, 3.49);
    EXPECT_DOUBLE_EQ(a.price2, 2.995);
    EXPECT_EQ(a.vat_group, 2u);
    EXPECT_EQ(a.department, 3u);
    EXPECT_EQ(a.word156, 2u);
    EXPECT_EQ(a.attr2, 1u);
    EXPECT_EQ(a.word152, 7u);
    EXPECT_EQ(a.unit, 1u);
    EXPECT_EQ(a.attr1, 0u);
    EXPECT_STREQ(a.scale_text[1], "Polskie");
    EXPECT_EQ(items[1].number, 13u);
    EXPECT_EQ(items[1].unit, 1u);
    EXPECT_EQ(items[1].department, 0u);
}

TEST_F(CasReadJobs, ReadAllDeptHandsTheHostDepartments) {
    dir.InstallFake("CASCale.exe");
    dir.Write("fake_result", "<CAS_POLSKA><Dane><REKORD NO=\"3\" NAME=\"Pieczywo\"/></Dane></CAS_POLSKA>");
    EXPECT_EQ(Run(logic, 111, kJobReadAllDept), 0);
    const auto depts = Host().Depts();
    ASSERT_EQ(depts.size(), 1u);
    EXPECT_EQ(depts[0].number, 3u);
    EXPECT_STREQ(depts[0].name, "Pieczywo");
    EXPECT_EQ(depts[0].vat_group, 0u);
}

TEST_F(CasReadJobs, AStaleResultIsNeverReused) {
    dir.InstallFake("CASCale.exe");
    dir.Write("fake_result_0", kPluResultCp1250);   // only the first run writes a result
    EXPECT_EQ(Run(logic, 111, kJobReadAllPlu), 0);
    EXPECT_EQ(Host().Items().size(), 2u);
    Host().Reset();
    EXPECT_EQ(Run(logic, 111, kJobReadAllPlu), 9999);
    EXPECT_EQ(std::string(logic.GetErrorMessage()), "Cas_XML");
    EXPECT_TRUE(Host().Items().empty());
    EXPECT_EQ(dir.Calls().size(), 2u);
}

TEST_F(CasReadJobs, AMissingProgramFailsWith9999) {
    EXPECT_EQ(Run(logic, 111, kJobReadAllPlu), 9999);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_FAILED), 1);
    std::vector<EcrItemRecord> items = {ScaleItem(1, "A", 1.0)};
    Host().Reset();
    EXPECT_EQ(Run(logic, 111, kJobPgmPlu, &items), 9999);
    EXPECT_EQ(std::string(logic.GetErrorMessage()), "Cas_XML");
    EXPECT_TRUE(Host().Confirmations().empty());
    Host().Reset();
    EXPECT_EQ(Run(logic, 111, kJobDelPlu, &items), 9999);
    ASSERT_EQ(Host().Confirmations().size(), 1u);
    EXPECT_EQ(Host().Confirmations()[0].code, 9999);
}

TEST_F(CasReadJobs, ABreakDuringAHangingProgramEndsTheJobAndTheProgram) {
    orv::platform::SetTimeScale(0.1);
    dir.InstallFake("CASCale.exe");
    dir.Write("fake_sleep", "60");
    dir.Write("fake_result", kPluResultCp1250);
    std::thread breaker([&] {
        const int pid = dir.WaitForPid();
        serial.Break();
        logic.Break();
        // Checked after the job below has ended.
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!ProcessGone(pid) && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_TRUE(ProcessGone(pid));
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Run(logic, 111, kJobReadAllPlu), -7);
    breaker.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(Host().Items().empty());
    EXPECT_FALSE(dir.Exists("XWR_PLU.XML"));
    const auto failed = Host().EventsWithCode(ECR_EVENT_FAILED);
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].value, -7);
}

TEST_F(CasReadJobs, ABreakDuringAProgrammingRunEndsItWithoutConfirmations) {
    dir.InstallFake("CASCale.exe");
    dir.Write("fake_sleep", "60");
    std::vector<EcrItemRecord> items = {ScaleItem(1, "A", 1.0), ScaleItem(0, "B", 1.0), ScaleItem(2, "C", 1.0)};
    std::thread breaker([&] {
        dir.WaitForPid();
        serial.Break();
        logic.Break();
    });
    EXPECT_EQ(Run(logic, 111, kJobPgmPlu, &items), -7);
    breaker.join();
    // Only the refused middle item was confirmed, before the program ran.
    ASSERT_EQ(Host().Confirmations().size(), 1u);
    EXPECT_EQ(Host().Confirmations()[0].code, 105);
}

TEST_F(CasReadJobs, ABreakDuringADeleteRunEndsTheLoopWithoutAConfirmation) {
    dir.InstallFake("CASCale.exe");
    dir.Write("fake_sleep", "60");
    std::vector<EcrItemRecord> items = {ScaleItem(1, "A", 0), ScaleItem(2, "B", 0), ScaleItem(3, "C", 0)};
    int pid = 0;
    std::thread breaker([&] {
        pid = dir.WaitForPid();
        serial.Break();
        logic.Break();
    });
    EXPECT_EQ(Run(logic, 111, kJobDelPlu, &items), -7);
    breaker.join();
    EXPECT_TRUE(ProcessGone(pid));
    EXPECT_EQ(dir.Calls().size(), 1u);   // the later items were not started
    EXPECT_TRUE(Host().Confirmations().empty());
    EXPECT_EQ(Host().EventsWithCode(ECR_EVENT_ITEM).size(), 1u);
}

TEST_F(CasReadJobs, ABreakDuringThePauseStartsNoProgram) {
    orv::platform::SetTimeScale(1.0);   // a real one-second pause
    dir.InstallFake("CASCale.exe");
    std::vector<EcrItemRecord> items = {ScaleItem(1, "A", 1.0), ScaleItem(2, "B", 1.0)};
    Host().SetEventHook([&](const HostEvent& e) {
        if (e.code == ECR_EVENT_ITEM && e.percent == 100) serial.Break();
    });
    EXPECT_EQ(Run(logic, 111, kJobPgmPlu, &items), -7);
    EXPECT_TRUE(dir.Calls().empty());
    EXPECT_TRUE(Host().Confirmations().empty());
}

TEST_F(CasReadJobs, SlotsWithoutWork) {
    dir.InstallFake("CASCale.exe");
    std::vector<EcrItemRecord> items = {ScaleItem(1, "A", 1.0)};
    const struct {
        uint32_t job;
        bool ok;
    } cases[] = {{kJobReadPlu, true}, {kJobPgmDept, true}, {kJobClearSale, true},
                 {kJobReadVat, true}, {kJobReadStatus, true}, {kJobReadSale, false}};
    for (const auto& c : cases) {
        Host().Reset();
        const int code = Run(logic, 111, c.job, &items);
        EXPECT_EQ(code == 0, c.ok) << c.job;
        EXPECT_EQ(Host().CountEvents(ECR_EVENT_SUCCEEDED), c.ok ? 1 : 0) << c.job;
    }
    EXPECT_TRUE(dir.Calls().empty());
    // A scale reports no rates: all eight "not defined".
    Host().Reset();
    Run(logic, 111, kJobReadVat);
    const auto vat = Host().VatCalls();
    ASSERT_EQ(vat.size(), 1u);
    for (double rate : vat[0]) EXPECT_EQ(rate, -3.0);
}

}  // namespace
