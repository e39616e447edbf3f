// The Tango registers through the exports, as a host drives them: type 12
// on a pseudo-terminal, type 86 over TCP (connection kind 11).
#include <cstring>
#include <string>

#include "orvanta/ecr.h"
#include "tango_fixture.h"
#include "util/cp1250.h"

namespace orv::test {
namespace {

class TangoExports : public TangoTest {
protected:
    void SetUp() override {
        TangoTest::SetUp();
        ASSERT_EQ(EcrCreate(nullptr), 1);
    }
    void ExpectSuccess() {
        EXPECT_EQ(EcrError(), 0) << Utf8(EcrErrMsg());
        EXPECT_EQ(Host().CountEvents(ECR_EVENT_SUCCEEDED), 1);
        EXPECT_EQ(Host().CountEvents(ECR_EVENT_CLOSED), 1);
    }
};

TEST_F(TangoExports, Type12ProgramsGoodsAndReadsVat) {
    const EcrDeviceRecord dev = DeviceRecord(12, kTangoPort, 9600);
    EcrItemRecord items[2] = {HostItemRecord({.name = PL("Śledź"), .code = "5900001", .price = 9.99, .vat = 1}),
                              HostItemRecord({.name = "Woda", .code = "5900002", .price = 1.5, .vat = 8})};
    ASSERT_EQ(EcrPgmPLU(&dev, items, 2, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitEcrDone(30000));
    // The second item's tax group is refused before any traffic.
    EXPECT_EQ(EcrError(), 9);
    auto conf = Host().Confirmations();
    ASSERT_EQ(conf.size(), 1u);
    EXPECT_EQ(conf[0].code, 9);
    EXPECT_EQ(conf[0].text, PL("Błędna stawka PTU "));
    EXPECT_TRUE(Dev().HasGoods("5900001"));
    EXPECT_EQ(Dev().Requests().size(), 1u);

    Host().Reset();
    ASSERT_EQ(EcrReadVAT(&dev, &RecordingHost::OnVat), 1);
    ASSERT_TRUE(WaitEcrDone(30000));
    ExpectSuccess();
    ASSERT_EQ(Host().VatCalls().size(), 1u);
    EXPECT_DOUBLE_EQ(Host().VatCalls()[0][0], 23.0);
}

TEST_F(TangoExports, Type86OverTcp) {
    TangoTcpEmulator net(NextLoopbackAddress());
    ASSERT_TRUE(net.Start());
    net.Device().PutUnit(1, "szt");
    EcrDeviceRecord dev = DeviceRecord(86, static_cast<int>(net.Address()), 0, 11);
    ASSERT_EQ(EcrReadAllUnit(&dev, &RecordingHost::OnUnitRead), 1);
    ASSERT_TRUE(WaitEcrDone(30000));
    ExpectSuccess();
    ASSERT_EQ(Host().Units().size(), 1u);
    EXPECT_STREQ(Host().Units()[0].name, "szt");
    EXPECT_EQ(net.Connections(), 1);
}

}  // namespace
}  // namespace orv::test
