// CAS XML scales: the job files the transfer program gets, byte for byte
// (send, delete, PLU read, department read), the address, the record
// refusals, the programming loop's runs of the program, and the readers of
// the result files.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "drivers/cas/ccas_xml.h"
#include "drivers/cas/ccas_xml_ecr.h"
#include "drivers/cas/scales_fixture.h"

namespace {

using namespace orv::test;

class CasJobFiles : public ScaleTest {
protected:
    void SetUp() override {
        ScaleTest::SetUp();
        dir.InstallFake("CASCale.exe");
    }
    CCAS_XML_ECR logic;
};

TEST_F(CasJobFiles, SendJobHoldsTheAcceptedItemsAndRunsTheProgramOnce) {
    // Refused items in the middle and at the end; names with quotes,
    // ampersands, control bytes and more than 24 characters.
    std::vector<EcrItemRecord> items = {
        ScaleItem(1, "Jab\xB3ka", 3.49),
        ScaleItem(0, "Zero", 1.00),
        ScaleItem(10000, "Ser \"Gouda\" & <Co>", 9999.99),
        ScaleItem(10001, "Za du\xBFy", 1.00),
        ScaleItem(7, "Kie\xB3\x62\x61sa \x9Cl\xB9ska w\xEA\x64zona extra", 1.005),
        ScaleItem(8, "Tab\there", 10000.00),
        ScaleItem(9, "Linia\r\nnowa", 0.5),
        ScaleItem(10, "Ujemna", -1.0),
    };
    EXPECT_EQ(Run(logic, 111, kJobPgmPlu, &items), 109);   // the last item's code
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_FAILED), 1);

    const auto calls = dir.Calls();
    ASSERT_EQ(calls.size(), 1u);
    const std::vector<std::string> expected = {"CASCale.exe", dir.Path(), dir.File("XWS_QUERY.xml")};
    EXPECT_EQ(calls[0], expected);
    EXPECT_EQ(dir.Read("call0_XWS_QUERY.xml").value_or(""), Golden("send.xml", dir.Path()));

    const auto confirms = Host().Confirmations();
    ASSERT_EQ(confirms.size(), 4u);
    const uint32_t numbers[] = {0, 10001, 8, 10};
    const int codes[] = {105, 105, 109, 109};
    for (size_t i = 0; i < confirms.size(); ++i) {
        EXPECT_EQ(confirms[i].number, numbers[i]);
        EXPECT_EQ(confirms[i].code, codes[i]);
        EXPECT_EQ(confirms[i].text, "Cas_XML");
    }
    // Event 5 per item with "Nazwa - " and the name, percentages up to 100.
    const auto progress = Host().EventsWithCode(ECR_EVENT_ITEM);
    ASSERT_EQ(progress.size(), items.size());
    EXPECT_EQ(progress[0].text, "Nazwa - Jab\xB3ka");
    EXPECT_EQ(progress[0].percent, 12);
    EXPECT_EQ(progress[7].percent, 100);
}

TEST_F(CasJobFiles, ARefusedMiddleItemIsConfirmedAndTheOthersAreSent) {
    std::vector<EcrItemRecord> items = {ScaleItem(1, "A", 1.0), ScaleItem(0, "B", 2.0), ScaleItem(3, "C", 3.0)};
    EXPECT_EQ(Run(logic, 111, kJobPgmPlu, &items), 0);
    EXPECT_TRUE(Succeeded());
    ASSERT_EQ(dir.Calls().size(), 1u);
    const std::string job = dir.Read("call0_XWS_QUERY.xml").value_or("");
    EXPECT_NE(job.find("<REKORD PLU=\"1\" NAZWA01=\"A\" UNITPRICE=\"100\" ITEMCODE=\"1\" />\r\n"
                       "<REKORD PLU=\"3\" NAZWA01=\"C\" UNITPRICE=\"300\" ITEMCODE=\"3\" />\r\n</Dane>\r\n"),
              std::string::npos);
    const auto confirms = Host().Confirmations();
    ASSERT_EQ(confirms.size(), 1u);
    EXPECT_EQ(confirms[0].number, 0u);
    EXPECT_EQ(confirms[0].code, 105);
}

TEST_F(CasJobFiles, AllItemsRefusedLeaveAWholeFileAndNoRun) {
    std::vector<EcrItemRecord> items = {ScaleItem(0, "A", 1.0), ScaleItem(2, "B", 12345.0)};
    EXPECT_EQ(Run(logic, 111, kJobPgmPlu, &items), 109);
    EXPECT_TRUE(dir.Calls().empty());
    const std::string job = dir.Read("XWS_QUERY.xml").value_or("");
    EXPECT_NE(job.find("<Dane>\r\n</Dane>\r\n</CAS_POLSKA>\r\n"), std::string::npos);
    EXPECT_EQ(Host().Confirmations().size(), 2u);
}

TEST_F(CasJobFiles, CountZeroCountsAsOneAndANullArrayFails) {
    std::vector<EcrItemRecord> items = {ScaleItem(5, "Pi\xEAtka", 2.5), ScaleItem(6, "never", 1.0)};
    EXPECT_EQ(Run(logic, 111, kJobPgmPlu, &items, 0), 0);
    const std::string job = dir.Read("call0_XWS_QUERY.xml").value_or("");
    EXPECT_NE(job.find("PLU=\"5\""), std::string::npos);
    EXPECT_EQ(job.find("PLU=\"6\""), std::string::npos);

    Host().Reset();
    EcrDeviceRecord dev = DeviceRecord(111, static_cast<int>(kScaleAddress));
    PrepareJobBlock(kJobPgmPlu, dev);
    g_jobBlock.items = nullptr;
    g_jobBlock.count = 3;
    RunJob(logic, kJobPgmPlu, &serial, &socket);
    EXPECT_EQ(logic.GetErrorCode(), -1);
    EXPECT_EQ(dir.Calls().size(), 1u);
}

TEST_F(CasJobFiles, AJobFileThatCannotBeWrittenFailsWith9999) {
    ::setenv("TMPDIR", dir.File("missing").c_str(), 1);   // the fixture restores it
    std::vector<EcrItemRecord> items = {ScaleItem(1, "A", 1.0)};
    EXPECT_EQ(Run(logic, 111, kJobPgmPlu, &items), 9999);
    EXPECT_EQ(Run(logic, 111, kJobDelPlu, &items), 9999);
    EXPECT_EQ(Run(logic, 111, kJobReadAllPlu), 9999);
    EXPECT_TRUE(dir.Calls().empty());
}

TEST_F(CasJobFiles, DeleteJobFile) {
    std::vector<EcrItemRecord> items = {ScaleItem(4321, "X", 0)};
    EXPECT_EQ(Run(logic, 111, kJobDelPlu, &items), 0);
    EXPECT_TRUE(Succeeded());
    ASSERT_EQ(dir.Calls().size(), 1u);
    EXPECT_EQ(dir.Read("call0_XWS_QUERY.xml").value_or(""), Golden("delete.xml", dir.Path()));
}

TEST_F(CasJobFiles, DeletingFivePlusRunsTheProgramFiveTimes) {
    std::vector<EcrItemRecord> items;
    for (uint32_t n : {11u, 12u, 13u, 14u, 15u}) items.push_back(ScaleItem(n, "X", 0));
    EXPECT_EQ(Run(logic, 111, kJobDelPlu, &items), 0);
    ASSERT_EQ(dir.Calls().size(), 5u);
    for (int i = 0; i < 5; ++i) {
        const std::string job = dir.Read("call" + std::to_string(i) + "_XWS_QUERY.xml").value_or("");
        const std::string n = std::to_string(11 + i);
        EXPECT_NE(job.find("<Dane>\r\n<REKORD PLUSTART=\"" + n + "\" PLUKONIEC=\"" + n + "\"/>\r\n</Dane>"),
                  std::string::npos)
            << job;
    }
}

TEST_F(CasJobFiles, ReadJobFiles) {
    dir.Write("fake_result", "<CAS_POLSKA/>");
    EXPECT_EQ(Run(logic, 111, kJobReadAllPlu), 0);
    EXPECT_EQ(Run(logic, 111, kJobReadAllDept), 0);
    ASSERT_EQ(dir.Calls().size(), 2u);
    EXPECT_EQ(dir.Read("call0_XWS_QUERY.xml").value_or(""), Golden("read_plu.xml", dir.Path()));
    EXPECT_EQ(dir.Read("call1_XWS_QUERY.xml").value_or(""), Golden("read_dept.xml", dir.Path()));
}

// Records the runs instead of spawning anything: the program exactly as
// named, its arguments, and the job file as it stood at the run.
class RecordingRunner : public orv::platform::ProcessRunner {
public:
    struct RunCall {
        std::string program;
        std::vector<std::string> args;
        std::string job;
    };
    orv::platform::ProcessResult Run(const std::string& program, const std::vector<std::string>& args,
                                     const orv::platform::BreakSignal*) override {
        RunCall call{program, args, {}};
        if (!args.empty()) {
            std::ifstream in(args[0], std::ios::binary);
            call.job.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        calls.push_back(call);
        orv::platform::ProcessResult r;
        r.outcome = outcome;
        return r;
    }
    std::vector<RunCall> calls;
    orv::platform::ProcessOutcome outcome = orv::platform::kProcessEnded;
};

TEST_F(CasJobFiles, TheProgramIsNamedFromTheCurrentDirectory) {
    RecordingRunner runner;
    logic.Protocol().SetProcessRunner(&runner);
    std::vector<EcrItemRecord> items = {ScaleItem(21, "X", 0), ScaleItem(22, "Y", 0)};
    EXPECT_EQ(Run(logic, 111, kJobDelPlu, &items), 0);
    ASSERT_EQ(runner.calls.size(), 2u);
    for (const auto& call : runner.calls) {
        EXPECT_EQ(call.program, "./CASCale.exe");
        EXPECT_EQ(call.args, std::vector<std::string>{dir.File("XWS_QUERY.xml")});
    }
    EXPECT_NE(runner.calls[1].job.find("PLUSTART=\"22\""), std::string::npos);
    EXPECT_TRUE(dir.Calls().empty());   // nothing was spawned

    // A program that cannot start fails each item with 9999.
    runner.outcome = orv::platform::kProcessNotStarted;
    Host().Reset();
    EXPECT_EQ(Run(logic, 111, kJobDelPlu, &items), 9999);
    EXPECT_EQ(Host().Confirmations().size(), 2u);
    logic.Protocol().SetProcessRunner(nullptr);
}

TEST(CasAddress, MostSignificantByteFirst) {
    const struct {
        uint32_t word;
        const char* text;
    } cases[] = {{0, "0.0.0.0"},
                 {0xC0A80132u, "192.168.1.50"},
                 {0x0A000001u, "10.0.0.1"},
                 {0x7F000001u, "127.0.0.1"},
                 {0xFFFFFFFFu, "255.255.255.255"},
                 {0x01020304u, "1.2.3.4"}};
    for (const auto& c : cases) EXPECT_EQ(DottedAddress(c.word), c.text);
}

TEST(CasRecords, PluNumberAndPriceLimits) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        uint32_t plu;
        double price;
        int code;   // 0: accepted
        const char* unitPrice;
    } cases[] = {
        {1, 1.005, 0, "100"},        {10000, 9999.99, 0, "999999"}, {1, 10000.00, 109, nullptr},
        {0, 1.0, 105, nullptr},      {10001, 1.0, 105, nullptr},    {0xFFFFFFFFu, 1.0, 105, nullptr},
        {2, 0.0, 0, "0"},            {2, 0.29, 0, "29"},            {2, -0.01, 109, nullptr},
        {2, nan, 109, nullptr},      {2, 1e300, 109, nullptr},      {2, 9999.994, 0, "999999"},
    };
    for (const auto& c : cases) {
        CCas_XML xml;
        CasPluRecord rec{};
        rec.plu = c.plu;
        rec.unitPrice = c.price;
        std::strcpy(rec.name, "N");
        const int r = xml.WritePluRecord(rec);
        EXPECT_EQ(r, c.code == 0 ? 1 : 0) << c.plu << " " << c.price;
        EXPECT_EQ(xml.m_nError, c.code) << c.plu << " " << c.price;
        if (c.unitPrice) {
            uint32_t units = 0;
            ASSERT_TRUE(ScaleHundredths(c.price, units));
            EXPECT_EQ(std::to_string(units), c.unitPrice);
        }
    }
}

TEST(CasRecords, EscapedNames) {
    EXPECT_EQ(CCas_XML::Escape("a&b<c>d\"e'f"), "a&amp;b&lt;c&gt;d&quot;e'f");
    EXPECT_EQ(CCas_XML::Escape(std::string("x\x01\x1F\ty\x7F\xB3", 7)), std::string("x   y\x7F\xB3"));
}

}  // namespace
