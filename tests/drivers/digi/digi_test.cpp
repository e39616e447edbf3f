// Digi scales: wagi.ini and sm_eth.ini, the 185-character data records and
// their refusals, and the transfer program run from the working directory.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "drivers/cas/scales_fixture.h"
#include "drivers/common/scale_file_job.h"
#include "drivers/digi/cdg_ecr.h"
#include "drivers/digi/cdigi.h"
#include "orvanta/ecr.h"

namespace {

using namespace orv::test;

const char* const kSmEth = "[Zbiory]\r\nDaneWej=.\\XWS_DIGI.txt\r\nDaneWyj=.\\ERR_DIGI.txt\r\nSemaforWyj=.\\SEM_DIGI.txt";

// The record of item `plu` with the fields given, as the scale gets it.
std::string Record(const std::string& plu8, const std::string& name29, const std::string& price8,
                   const std::string& plu4, const std::string& dept4) {
    const std::string blank(29, ' ');
    return "0" + plu8 + "3" + name29 + " " + blank + " " + blank + " " + blank + price8 + "0" "17" "09" "27" + plu4 +
           "00000000" + dept4 + "0" "000" "0000" "0" "000" "0" "000" "0000" "0000" "0";
}

std::string Pad(std::string s, size_t n) {
    s.resize(n, ' ');
    return s;
}

TEST(DigiRecords, LayoutAndRefusals) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        EcrItemRecord item;
        std::string record;   // empty: refused with `code`
        int code;
    } cases[] = {
        {ScaleItem(7, "Ser", 12.5, 99), Record("00000007", Pad("Ser", 29), "00001250", "0007", "0099"), 0},
        {ScaleItem(9999, "Ab", 9999.99, 1), Record("00009999", Pad("Ab", 29), "00999999", "9999", "0001"), 0},
        {ScaleItem(1, "A", 1.15, 1), Record("00000001", Pad("A", 29), "00000115", "0001", "0001"), 0},
        {ScaleItem(1, "123456789012345678901234567890", 1, 1),
         Record("00000001", Pad("123456789012345678901234", 29), "00000100", "0001", "0001"), 0},
        {ScaleItem(1, "Jab\xB3ka\tx\r", 1, 1), Record("00000001", Pad("Jab\xB3ka x ", 29), "00000100", "0001", "0001"), 0},
        {ScaleItem(1, "A", 10000.0, 1), "", 109},
        {ScaleItem(1, "A", -0.01, 1), "", 109},
        {ScaleItem(1, "A", nan, 1), "", 109},
        {ScaleItem(1, "A", 1, 100), "", 110},
        {ScaleItem(1, "A", 1, 0), "", 110},
        {ScaleItem(0, "A", 1, 1), "", 105},
        {ScaleItem(10001, "A", 1, 1), "", 105},
        {ScaleItem(10000, "A", 1, 1), "", 9999},   // the barcode's four digits cannot hold it
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.item.number);
        CDigi proto;
        CasPluRecord rec = CasPluFromItem(c.item);
        const std::string r = proto.BuildRecord(rec);
        EXPECT_EQ(r, c.record);
        EXPECT_EQ(proto.m_nError, c.code);
        if (!c.record.empty()) {
            EXPECT_EQ(r.size(), 185u);
        }
        EXPECT_EQ(proto.GetErrorText(c.code), "DIGI");
    }
}

TEST(DigiRecords, ConfigurationFiles) {
    EXPECT_EQ(CDigi::WagiIni(0xC0A80A05u, 3), "[1]\r\nNazwa=Waga3\r\nAdres=192.168.10.5");
    EXPECT_EQ(CDigi::SmEthIni(), kSmEth);
}

class DigiJobs : public ScaleTest {
protected:
    CDG_ECR logic;
};

TEST_F(DigiJobs, FirstRefusedLastAcceptedRunsTheProgram) {
    dir.InstallFake("sm_eth.exe");
    std::vector<EcrItemRecord> items = {ScaleItem(0, "Zero", 1.0, 1), ScaleItem(7, "Ser", 12.5, 99),
                                        ScaleItem(8, "Mleko", 2.0, 2)};
    EXPECT_EQ(Run(logic, 108, kJobPgmPlu, &items), 0);
    EXPECT_TRUE(Succeeded());
    const auto calls = dir.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], (std::vector<std::string>{"sm_eth.exe", dir.Path(), "W=1", "I=1"}));
    EXPECT_EQ(dir.Read("call0_sm_eth.ini").value_or(""), kSmEth);
    EXPECT_EQ(dir.Read("call0_wagi.ini").value_or(""), "[1]\r\nNazwa=Waga0\r\nAdres=192.168.1.50");
    EXPECT_EQ(dir.Read("call0_XWS_DIGI.txt").value_or(""),
              Record("00000007", Pad("Ser", 29), "00001250", "0007", "0099") + "\r\n" +
                  Record("00000008", Pad("Mleko", 29), "00000200", "0008", "0002") + "\r\n");
    const auto confirms = Host().Confirmations();
    ASSERT_EQ(confirms.size(), 1u);
    EXPECT_EQ(confirms[0].number, 0u);
    EXPECT_EQ(confirms[0].code, 105);
    EXPECT_EQ(confirms[0].text, "DIGI");
}

TEST_F(DigiJobs, RefusalsAndFailures) {
    struct Case {
        const char* what;
        std::vector<EcrItemRecord> items;
        bool install;
        int code;
        size_t calls;
        size_t dataBytes;
    };
    const std::vector<Case> cases = {
        {"item 0 alone", {ScaleItem(0, "A", 1, 1)}, true, 105, 0, 0},
        {"last refused", {ScaleItem(1, "A", 1, 1), ScaleItem(2, "B", 1, 100)}, true, 110, 1, 187},
        {"program missing", {ScaleItem(1, "A", 1, 1)}, false, 9999, 0, 187},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WorkDir own;
        if (c.install) own.InstallFake("sm_eth.exe");
        Host().Reset();
        std::vector<EcrItemRecord> items = c.items;
        EXPECT_EQ(Run(logic, 108, kJobPgmPlu, &items), c.code);
        EXPECT_EQ(Host().CountEvents(ECR_EVENT_FAILED), 1);
        EXPECT_EQ(std::string(logic.GetErrorMessage()), "DIGI");
        EXPECT_EQ(own.Calls().size(), c.calls);
        EXPECT_EQ(own.Read("XWS_DIGI.txt").value_or("?").size(), c.dataBytes);
    }
}

TEST_F(DigiJobs, ABreakEndsTheProgramsWait) {
    orv::platform::SetTimeScale(0.1);
    dir.InstallFake("sm_eth.exe");
    dir.Write("fake_sleep", "60");
    std::vector<EcrItemRecord> items = {ScaleItem(1, "A", 1, 1)};
    std::thread breaker([&] {
        dir.WaitForPid();
        serial.Break();
        logic.Break();
    });
    EXPECT_EQ(Run(logic, 108, kJobPgmPlu, &items), -7);
    breaker.join();
    EXPECT_TRUE(Host().Confirmations().empty());
}

TEST_F(DigiJobs, OpenFailsWhenTheConfigurationCannotBeWritten) {
    std::filesystem::create_directory(dir.File("wagi.ini"));
    std::vector<EcrItemRecord> items = {ScaleItem(1, "A", 1, 1)};
    Run(logic, 108, kJobPgmPlu, &items);
    EXPECT_FALSE(started);
    EXPECT_EQ(logic.GetErrorCode(), 9999);
}

TEST_F(DigiJobs, ThroughTheExports) {
    dir.InstallFake("sm_eth.exe");
    ASSERT_EQ(EcrCreate(nullptr), 1);
    EcrDeviceRecord dev = DeviceRecord(108, static_cast<int>(0xC0A80A05u));
    dev.word7 = 3;
    std::vector<EcrItemRecord> items = {ScaleItem(7, "Ser", 12.5, 99)};
    ASSERT_EQ(EcrPgmPLU(&dev, items.data(), 1, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitEcrDone(30000));
    EXPECT_EQ(EcrError(), 0);
    EXPECT_EQ(dir.Read("call0_wagi.ini").value_or(""), "[1]\r\nNazwa=Waga3\r\nAdres=192.168.10.5");
    ASSERT_EQ(EcrReadVAT(&dev, &RecordingHost::OnVat), 1);
    ASSERT_TRUE(WaitEcrDone(30000));
    EXPECT_EQ(EcrError(), 0);
    const auto rates = Host().VatCalls();
    ASSERT_EQ(rates.size(), 1u);
    EXPECT_EQ(rates[0][0], -3.0);
    ASSERT_EQ(EcrReadSale(&dev, &RecordingHost::OnSale), 1);
    ASSERT_TRUE(WaitEcrDone(30000));
    EXPECT_NE(EcrError(), 0);
}

}  // namespace
