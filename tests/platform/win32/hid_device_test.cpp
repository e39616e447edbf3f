// The system's HID bus of the Windows build: enumeration over the device
// setup API gives usable entries (or none, where no HID device is present)
// and a path that names no device opens nothing. Exchanges with a device
// need one; the drivers' tests reach theirs through an installed bus.
#include <gtest/gtest.h>

#include "platform/hid_device.h"

namespace {

TEST(Win32HidBus, EnumeratesPresentInterfacesAndOpensOnlyRealOnes) {
    orv::platform::HidBus& bus = orv::platform::CurrentHidBus();
    for (const orv::platform::HidDeviceInfo& info : bus.Enumerate()) {
        SCOPED_TRACE(info.path);
        EXPECT_FALSE(info.path.empty());
    }
    EXPECT_EQ(bus.Open("\\\\?\\hid#vid_0000&pid_0000#0#{4d1e55b2-f16f-11cf-88cb-001111000030}"), nullptr);
    EXPECT_EQ(bus.Open(""), nullptr);
}

}  // namespace
