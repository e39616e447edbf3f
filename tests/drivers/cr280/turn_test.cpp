// A job broken off while the register is in its turn of sending (it sent a
// record and waits for the PC's ACK), on the CR-280 (type 11) and the Hida
// (type 23): the register waits in its turn, so the next job must end that
// turn first; it then goes through at once.
#include <atomic>
#include <stdexcept>
#include <string>

#include "cr280_fixture.h"
#include "orvanta/ecr.h"

namespace orv::test {
namespace {

enum class Stop { Break, Throw };
std::atomic<Stop> g_stop{Stop::Break};

// The host's item callback: keeps the item, then breaks the job off or throws.
void ECR_CALL StopAtFirstItem(const EcrItemRecord* item) {
    RecordingHost::OnItemRead(item);
    if (g_stop.load() == Stop::Break) {
        EcrBreakJob();
        return;
    }
    throw std::runtime_error("host callback failed");
}

class Cr280TurnTest : public Cr280ExportsTest {};

TEST_F(Cr280TurnTest, AJobBrokenOffInTheRegistersTurnLeavesTheNextOneClean) {
    struct Case {
        const char* name;
        Cr280Emulator::Mode mode;
        int type;
        const char* vatFlag;   // a VAT group of 1 as each register keeps it
        Stop stop;
        int stoppedWith;
    } cases[] = {
        {"CR-280, break", Cr280Emulator::Mode::Cr280, 11, "1000", Stop::Break, -7},
        {"CR-280, throwing callback", Cr280Emulator::Mode::Cr280, 11, "1000", Stop::Throw, 999999},
        {"Hida, break", Cr280Emulator::Mode::Hida, 23, "0100", Stop::Break, -7},
        {"Hida, throwing callback", Cr280Emulator::Mode::Hida, 23, "0100", Stop::Throw, 999999},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Cr280Emulator& emu = StartDevice(c.mode);
        Cr280EmuItem item;
        item.name = "Chleb       ";
        item.vatFlag = c.vatFlag;
        item.price = 350;
        for (const char* code : {"0000000000001", "0000000000002", "0000000000003"}) emu.SetItem(code, item);
        const EcrDeviceRecord dev = DeviceRecord(c.type, kCrPort, 9600);

        g_stop = c.stop;
        Run(EcrReadAllPLU(&dev, &StopAtFirstItem));
        EXPECT_EQ(EcrError(), c.stoppedWith) << Utf8(EcrErrMsg());
        EXPECT_EQ(Host().Items().size(), 1u);

        Host().Reset();
        EcrItemRecord wanted = HostItemRecord({.code = "2"});
        const int64_t start = orv::platform::MonotonicMillis();
        Run(EcrReadPLU(&dev, &wanted, 1, &RecordingHost::OnItemRead));
        EXPECT_EQ(EcrError(), 0) << Utf8(EcrErrMsg());
        const auto read = Host().Items();
        EXPECT_EQ(read.size(), 1u);
        EXPECT_STREQ(read.empty() ? "" : read[0].code, "0000000000002");
        // No wait for an answer that could not come (5 s a read).
        EXPECT_LT(orv::platform::MonotonicMillis() - start, orv::platform::ScaledMillis(5.0) + 500);
        // The next case starts with a device of its own.
        TearDown();
        SetUp();
    }
}

}  // namespace
}  // namespace orv::test
