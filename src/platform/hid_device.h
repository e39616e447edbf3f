// USB HID devices. The Medesa bus controller is found by its product
// string among the present HID interfaces and then exchanges fixed-size
// reports. Reports are laid out as on the system the drivers were written
// for: byte 0 is the report ID (0), the data follows.
//
// The bus is injectable: tests install their own (SetHidBus) in place of
// the system's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/break_signal.h"

namespace orv::platform {

struct HidDeviceInfo {
    std::string path;      // what Open takes
    std::string product;   // the product string, UTF-8 ("" when it cannot be read)
};

// Results of the reads below (negative), besides a byte count.
enum : int { kHidTimeout = -5, kHidGone = -6, kHidBroken = -7 };

class HidDevice {
public:
    virtual ~HidDevice() = default;
    // Writes one report (byte 0 the report ID). Bytes written, or -1.
    virtual int Write(const uint8_t* report, size_t size) = 0;
    // Reads one report into buf with the report ID 0 first: the byte count
    // (the ID included), or kHidTimeout after timeoutMs (0: a report already
    // waiting is still taken), kHidBroken as soon as the break is set
    // (looked at every 50 ms at least), kHidGone when the device went away.
    virtual int Read(uint8_t* buf, size_t size, int timeoutMs, const BreakSignal* brk) = 0;
};

class HidBus {
public:
    virtual ~HidBus() = default;
    virtual std::vector<HidDeviceInfo> Enumerate() = 0;
    // Opened for reading and writing, or null.
    virtual std::unique_ptr<HidDevice> Open(const std::string& path) = 0;
};

// The system's own bus: hidapi on POSIX systems, the device setup API and
// the HID class driver on Windows.
HidBus& SystemHidBus();

// The bus in use: the system's unless a test installed another (null
// restores it).
HidBus& CurrentHidBus();
void SetHidBus(HidBus* bus);

}  // namespace orv::platform
