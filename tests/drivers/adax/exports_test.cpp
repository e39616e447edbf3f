// The Adax register through the exports, as a host drives it: programming
// goods, reading them back as the register reports them, clearing sales.
#include "adax_fixture.h"
#include "orvanta/ecr.h"
#include "util/cp1250.h"

namespace orv::test {
namespace {

TEST_F(AdaxTest, Type19ThroughTheExports) {
    ASSERT_EQ(EcrCreate(nullptr), 1);
    const EcrDeviceRecord dev = DeviceRecord(19, kAdaxPort, 9600);
    EcrItemRecord items[2] = {HostItemRecord({.name = PL("Śliwki"), .code = "5901234123457", .price = 8.99, .dept = 2}),
                              HostItemRecord({.name = "Za dlugi", .code = "12345678901234", .price = 1.0, .dept = 1})};
    ASSERT_EQ(EcrPgmPLU(&dev, items, 2, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitEcrDone(30000));
    EXPECT_EQ(EcrError(), 105);
    auto conf = Host().Confirmations();
    ASSERT_EQ(conf.size(), 1u);
    EXPECT_STREQ(conf[0].item.code, "12345678901234");
    EXPECT_EQ(m_emu->Item("5901234123457").price, 899u);
    EXPECT_EQ(m_emu->Item("5901234123457").name, "yliwki            ");
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_CLOSED), 1);

    Host().Reset();
    ASSERT_EQ(EcrReadAllPLU(&dev, &RecordingHost::OnItemRead), 1);
    ASSERT_TRUE(WaitEcrDone(30000));
    EXPECT_EQ(EcrError(), 0) << Utf8(EcrErrMsg());
    auto got = Host().Items();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_STREQ(got[0].code, "5901234123457");
    EXPECT_DOUBLE_EQ(got[0].price, 1.0);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_SUCCEEDED), 1);

    Host().Reset();
    ASSERT_EQ(EcrReadVAT(&dev, &RecordingHost::OnVat), 1);
    ASSERT_TRUE(WaitEcrDone(30000));
    EXPECT_EQ(EcrError(), 25);
    EXPECT_TRUE(Host().VatCalls().empty());
}

}  // namespace
}  // namespace orv::test
