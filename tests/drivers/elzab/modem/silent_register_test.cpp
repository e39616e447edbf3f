// An Elzab register behind the communication library that stops answering
// in the middle of a list read, through the exports: three items without an
// answer (100) end the job, the rest are reported without library calls;
// a register that answers "not defined" is never cut off.
#include "fakes/silent_device.h"
#include "modem_fixture.h"
#include "orvanta/ecr.h"

namespace orv::test {
namespace {

class ModemSilent : public ModemTest {
protected:
    static void SetUpTestSuite() { EcrCreate(nullptr); }

    int ReadList() {
        std::vector<EcrItemRecord> items;
        for (uint32_t i = 1; i <= kSilentJobItems; ++i) items.push_back(HostItemRecord({.number = i}));
        const EcrDeviceRecord dev = Device(28, 7);
        EXPECT_EQ(EcrReadPLU(&dev, items.data(), kSilentJobItems, &RecordingHost::OnItemRead), 1);
        EXPECT_TRUE(WaitEcrDone(30000));
        return EcrError();
    }
};

TEST_F(ModemSilent, ARegisterThatStopsAnsweringEndsAListReadAfterThreeItems) {
    for (int n = 1; n <= 3; ++n)
        fake.Do("goods", "", std::to_string(n) + "\tB                  \t1\t1\t0\t1\t0\t0000000000000\t150\t0");
    AtItem(4, [&] { fake.Result("__OTowar", 100); });
    EXPECT_EQ(ReadList(), 100);
    ExpectProgressToTheEnd();
    EXPECT_EQ(Host().Items().size(), 3u);
    EXPECT_EQ(fake.CountOf("__OTowar"), 6);
    auto sixes = Host().EventsWithCode(ECR_EVENT_DEVICE_ERROR);
    ASSERT_EQ(sixes.size(), 17u);
    for (const auto& e : sixes) EXPECT_EQ(e.value, 100);

    // Goods the register does not hold are answers: every item is asked.
    fake.Reset();
    Host().Reset();
    EXPECT_EQ(ReadList(), 202);
    EXPECT_EQ(fake.CountOf("__OTowar"), kSilentJobItems);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), kSilentJobItems);
}

}  // namespace
}  // namespace orv::test
