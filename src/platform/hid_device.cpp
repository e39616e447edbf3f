#include "platform/hid_device.h"

#include <atomic>

namespace orv::platform {

namespace {

std::atomic<HidBus*> g_bus{nullptr};

}  // namespace

HidBus& CurrentHidBus() {
    HidBus* bus = g_bus.load();
    return bus ? *bus : SystemHidBus();
}

void SetHidBus(HidBus* bus) { g_bus.store(bus); }

}  // namespace orv::platform
