// The CR-280 job logic on its own: a break ends the job before the next
// frame, without a confirmation.
#include "cr280_fixture.h"
#include "drivers/cr280/ccr_ecr.h"
#include "job/job_block.h"

namespace orv::test {
namespace {

TEST_F(Cr280Test, ABreakEndsProgrammingBeforeTheNextFrame) {
    Cr280Emulator& emu = StartDevice();
    CCR_ECR logic;
    EcrDeviceRecord dev = DeviceRecord(11, kCrPort, 9600);
    PrepareJobBlock(5, dev);
    logic.SetSerial(m_serial.get());
    ASSERT_EQ(logic.Open(kCrPort, &dev), 1) << logic.GetErrorCode();
    EcrItemRecord items[3] = {HostItemRecord({.name = "A", .code = "1", .price = 1.0, .vat = 1, .dept = 1}),
                              HostItemRecord({.name = "B", .code = "2", .price = 1.0, .vat = 1, .dept = 1}),
                              HostItemRecord({.name = "C", .code = "3", .price = 1.0, .vat = 1, .dept = 1})};
    CTelepathy* serial = m_serial.get();
    Host().SetEventHook([serial](const HostEvent& e) {
        if (e.code == ECR_EVENT_ITEM && e.text == "Nazwa - B") serial->Break();
    });
    EXPECT_EQ(logic.PgmPLU(kCrPort, items, 3, nullptr, 0), 0);
    EXPECT_EQ(logic.GetErrorCode(), -7);
    EXPECT_TRUE(Host().Confirmations().empty());
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(emu.FramesReceived(), 1);
    logic.Close(kCrPort);
}

}  // namespace
}  // namespace orv::test
