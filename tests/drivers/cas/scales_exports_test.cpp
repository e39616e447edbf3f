// The file-exchange scales through the exports, as a host drives them: one
// end-to-end run per type code (111 CAS XML, 113 Proxima), and the direct
// CAS object that no type code selects.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "api/registry.h"
#include "drivers/cas/scales_fixture.h"
#include "orvanta/ecr.h"
#include "util/cp1250.h"

namespace {

using namespace orv::test;

bool WaitDone() { return WaitEcrDone(30000); }

class ScalesExports : public ScaleTest {
protected:
    void SetUp() override {
        ScaleTest::SetUp();
        ASSERT_EQ(EcrCreate(nullptr), 1);
    }
};

TEST_F(ScalesExports, CasXmlScaleType111) {
    dir.InstallFake("CASCale.exe");
    dir.Write("fake_result_1",
              "<?xml version=\"1.0\" encoding=\"windows-1250\"?>\r\n<CAS_POLSKA><Dane>"
              "<REKORD><PLU>5</PLU><Nazwa01>Pi\xEAtka</Nazwa01><UnitPrice>250</UnitPrice></REKORD>"
              "</Dane></CAS_POLSKA>\r\n");
    dir.Write("fake_result_2", "<CAS_POLSKA><REKORD NO=\"2\" NAME=\"Pieczywo\"/></CAS_POLSKA>");
    const EcrDeviceRecord dev = DeviceRecord(111, static_cast<int>(kScaleAddress));

    std::vector<EcrItemRecord> items = {ScaleItem(5, "Pi\xEAtka", 2.5), ScaleItem(0, "Zero", 1.0),
                                        ScaleItem(6, "Chleb", 3.2)};
    ASSERT_EQ(EcrPgmPLU(&dev, items.data(), 3, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0);
    ASSERT_EQ(Host().Confirmations().size(), 1u);
    EXPECT_EQ(Host().Confirmations()[0].code, 105);
    EXPECT_EQ(Host().Confirmations()[0].text, "Cas_XML");
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_CLOSED), 1);

    ASSERT_EQ(EcrReadAllPLU(&dev, &RecordingHost::OnItemRead), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0);
    ASSERT_EQ(Host().Items().size(), 1u);
    EXPECT_EQ(Host().Items()[0].number, 5u);
    EXPECT_STREQ(Host().Items()[0].name, "Pi\xEAtka");
    EXPECT_DOUBLE_EQ(Host().Items()[0].price, 2.5);

    ASSERT_EQ(EcrReadAllDEPT(&dev, &RecordingHost::OnDeptRead), 1);
    ASSERT_TRUE(WaitDone());
    ASSERT_EQ(Host().Depts().size(), 1u);
    EXPECT_STREQ(Host().Depts()[0].name, "Pieczywo");

    ASSERT_EQ(EcrReadSale(&dev, &RecordingHost::OnSale), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_NE(EcrError(), 0);

    const auto calls = dir.Calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_NE(dir.Read("call0_XWS_QUERY.xml").value_or("").find("<Adres>192.168.1.50</Adres>"), std::string::npos);
}

TEST_F(ScalesExports, ProximaScaleType113) {
    dir.InstallFake("wmplw.exe");
    const EcrDeviceRecord dev = DeviceRecord(113, static_cast<int>(kScaleAddress));
    std::vector<EcrItemRecord> items = {ScaleItem(5, "Pi\xEAtka", 2.5, 3, "12345678")};
    ASSERT_EQ(EcrUpDatePLU(&dev, items.data(), 1, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0);
    EXPECT_TRUE(Host().Confirmations().empty());
    const auto calls = dir.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].size(), 3u);
    EXPECT_EQ(dir.Read("call0_pargat.ini").value_or("").rfind("IP_DESTI=192.168.1.50\r\n", 0), 0u);
    EXPECT_EQ(dir.Read("call0_MEDESA.EXP").value_or("").size(), 140u);
}

TEST_F(ScalesExports, TheDirectCasObjectRefusesToOpen) {
    CLogicECR* direct = orv::api::FindLogic("CCAS_ECR");
    ASSERT_NE(direct, nullptr);
    const EcrDeviceRecord dev = DeviceRecord(111, 1);
    PrepareJobBlock(kJobReadAllPlu, dev);
    EXPECT_FALSE(RunJob(*direct, kJobReadAllPlu, &serial, &socket));
    EXPECT_EQ(direct->GetErrorCode(), 999999);
    EXPECT_STREQ(direct->GetErrorMessage(), PL("Brak obsługi urządzenia tego typu w tej wersji biblioteki"));
    EXPECT_EQ(orv::api::SelectLogicName(111, 0), std::string("CCAS_XML_ECR"));
    EXPECT_EQ(orv::api::SelectLogicName(113, 0), std::string("CMPR_ECR"));
}

}  // namespace
