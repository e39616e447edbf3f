// Eco Print label printers: the ";"-separated data lines, their refusals,
// and the batch file run from the working directory.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "drivers/cas/scales_fixture.h"
#include "drivers/common/scale_file_job.h"
#include "drivers/ecoprint/cecoprint.h"
#include "drivers/ecoprint/cep_ecr.h"
#include "orvanta/ecr.h"

namespace {

using namespace orv::test;

EcrItemRecord Flagged(EcrItemRecord item, uint32_t flag) {
    item.word156 = flag;
    return item;
}

TEST(EcoPrintLines, LayoutAndRefusals) {
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        EcrItemRecord item;
        std::string line;   // empty: refused with `code`
        int code;
    } cases[] = {
        {Flagged(ScaleItem(7, "Ser", 12.5, 1), 1), "7;Ser;;12.50;0;0;0;7;0;0;;01.01.01;1;0;0;0;01.01.01", 0},
        {Flagged(ScaleItem(7, "Ser", 12.5, 1), 2), "7;Ser;;12.50;0;0;0;7;0;0;;01.01.01;0;0;0;0;01.01.01", 0},
        {ScaleItem(10000, "  Jab\xB3ka  ", 0.005, 1), "10000;Jab\xB3ka;;0.01;0;0;0;10000;0;0;;01.01.01;0;0;0;0;01.01.01", 0},
        {ScaleItem(1, "a;b\tc", 123456.789, 1), "1;a b c;;123456.79;0;0;0;1;0;0;;01.01.01;0;0;0;0;01.01.01", 0},
        {ScaleItem(2, "123456789012345678901234567890", 0, 1),
         "2;123456789012345678901234;;0.00;0;0;0;2;0;0;;01.01.01;0;0;0;0;01.01.01", 0},
        {ScaleItem(0, "A", 1, 1), "", 105},
        {ScaleItem(10001, "A", 1, 1), "", 105},
        {ScaleItem(1, "A", -1, 1), "", 109},
        {ScaleItem(1, "A", inf, 1), "", 109},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.item.number);
        CEcoPrint proto;
        CasPluRecord rec = CasPluFromItem(c.item);
        EXPECT_EQ(proto.BuildLine(rec), c.line);
        EXPECT_EQ(proto.m_nError, c.code);
        EXPECT_EQ(proto.GetErrorText(c.code), "Eco Print");
    }
}

class EcoPrintJobs : public ScaleTest {
protected:
    CEP_ECR logic;
};

TEST_F(EcoPrintJobs, ProgrammingWritesTheLinesAndRunsTheBatch) {
    dir.InstallFake("Eco_Print.bat");
    std::vector<EcrItemRecord> items = {ScaleItem(0, "Zero", 1.0, 1), ScaleItem(7, "Ser", 12.5, 1),
                                        ScaleItem(8, "Mleko;2%", 2.0, 1)};
    EXPECT_EQ(Run(logic, 115, kJobPgmPlu, &items), 0);
    EXPECT_TRUE(Succeeded());
    const auto calls = dir.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], (std::vector<std::string>{"Eco_Print.bat", dir.Path()}));
    EXPECT_EQ(dir.Read("call0_Eco_Print.txt").value_or(""),
              "7;Ser;;12.50;0;0;0;7;0;0;;01.01.01;0;0;0;0;01.01.01\r\n"
              "8;Mleko 2%;;2.00;0;0;0;8;0;0;;01.01.01;0;0;0;0;01.01.01\r\n");
    const auto confirms = Host().Confirmations();
    ASSERT_EQ(confirms.size(), 1u);
    EXPECT_EQ(confirms[0].code, 105);
    EXPECT_EQ(confirms[0].text, "Eco Print");
    EXPECT_FALSE(dir.Exists("wagi.ini"));
}

TEST_F(EcoPrintJobs, RefusalsAndFailures) {
    struct Case {
        const char* what;
        std::vector<EcrItemRecord> items;
        bool install;
        int code;
        size_t calls;
    };
    const std::vector<Case> cases = {
        {"item 0 alone", {ScaleItem(0, "A", 1, 1)}, true, 105, 0},
        {"last refused", {ScaleItem(1, "A", 1, 1), ScaleItem(2, "B", -1, 1)}, true, 109, 1},
        {"program missing", {ScaleItem(1, "A", 1, 1)}, false, 9999, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WorkDir own;
        if (c.install) own.InstallFake("Eco_Print.bat");
        Host().Reset();
        std::vector<EcrItemRecord> items = c.items;
        EXPECT_EQ(Run(logic, 115, kJobPgmPlu, &items), c.code);
        EXPECT_EQ(Host().CountEvents(ECR_EVENT_FAILED), 1);
        EXPECT_EQ(own.Calls().size(), c.calls);
    }
}

TEST_F(EcoPrintJobs, ABreakEndsTheBatchsWait) {
    orv::platform::SetTimeScale(0.1);
    dir.InstallFake("Eco_Print.bat");
    dir.Write("fake_sleep", "60");
    std::vector<EcrItemRecord> items = {ScaleItem(1, "A", 1, 1)};
    std::thread breaker([&] {
        dir.WaitForPid();
        serial.Break();
        logic.Break();
    });
    EXPECT_EQ(Run(logic, 115, kJobPgmPlu, &items), -7);
    breaker.join();
}

TEST_F(EcoPrintJobs, ThroughTheExports) {
    dir.InstallFake("Eco_Print.bat");
    ASSERT_EQ(EcrCreate(nullptr), 1);
    EcrDeviceRecord dev = DeviceRecord(115, 1);
    std::vector<EcrItemRecord> items = {ScaleItem(7, "Ser", 12.5, 1)};
    ASSERT_EQ(EcrPgmPLU(&dev, items.data(), 1, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitEcrDone(30000));
    EXPECT_EQ(EcrError(), 0);
    EXPECT_EQ(dir.Calls().size(), 1u);
    ASSERT_EQ(EcrDelPLU(&dev, items.data(), 1, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitEcrDone(30000));
    EXPECT_EQ(EcrError(), 0);
    EXPECT_EQ(dir.Calls().size(), 1u);
}

}  // namespace
