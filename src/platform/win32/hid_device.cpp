// USB HID devices on Windows: placeholder until the SetupAPI backend lands.
// The system's bus shows no devices.
#include <atomic>

#include "platform/hid_device.h"

namespace orv::platform {

namespace {

class NoHidBus final : public HidBus {
public:
    std::vector<HidDeviceInfo> Enumerate() override { return {}; }
    std::unique_ptr<HidDevice> Open(const std::string&) override { return nullptr; }
};

std::atomic<HidBus*> g_bus{nullptr};

}  // namespace

HidBus& CurrentHidBus() {
    static NoHidBus none;
    HidBus* bus = g_bus.load();
    return bus ? *bus : none;
}

void SetHidBus(HidBus* bus) { g_bus.store(bus); }

}  // namespace orv::platform
