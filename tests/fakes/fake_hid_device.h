// A scripted USB HID bus for the Medesa bus controller: devices with
// product strings (one may fail to open); the controller's reports are
// answered through the Medesa emulator's answer logic (no line), or with a
// scripted fault.
//
//   orv::test::FakeHidBus bus;                 // installed while it lives
//   bus.AddDevice("/dev/hidraw1", "Keyboard");
//   bus.AddDevice("/dev/hidraw2", "US-BUS CONTROLLER");
//   ... run the library ...
//   bus.Reports();                             // every report written
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/hid_device.h"
#include "sim/medesa/medesa_emulator.h"

namespace orv::test {

class FakeHidBus : public orv::platform::HidBus {
public:
    enum class Fault {
        None,
        Status4,      // the controller reports that the scale did not answer (byte 1 = 4)
        NoClose,      // a report without "}"
        ShortReport,  // 100 bytes only
        Silence,      // no report at all
        Unplug,       // the device goes away
        Late,         // the answer comes just after the read that waits for it gave up
        Refuse,       // the scale refuses (answer byte 2 EE)
        FlipBit,      // bit 0 of the answer's byte 7 flipped after the checksum was made
    };

    FakeHidBus();
    ~FakeHidBus() override;

    void AddDevice(const std::string& path, const std::string& product, bool failsOpen = false);
    MedesaEmulator& Scale() { return m_scale; }
    void QueueFault(Fault fault, int times = 1);

    // Answers every report written with what the feeder returns for it
    // (nothing: no answer), in place of the scale and the faults; null
    // restores them.
    using Feeder = std::function<std::vector<uint8_t>(const std::vector<uint8_t>& report)>;
    void SetFeeder(Feeder feeder);
    void ClearReports();
    // The controller's report the scale answers this report with.
    std::vector<uint8_t> ScaleAnswer(const std::vector<uint8_t>& report, Fault fault = Fault::None);

    std::vector<std::vector<uint8_t>> Reports() const;   // written, 255 bytes each
    std::vector<std::string> Opened() const;             // paths opened, in order
    int OpenDevices() const;                             // devices open now

    std::vector<orv::platform::HidDeviceInfo> Enumerate() override;
    std::unique_ptr<orv::platform::HidDevice> Open(const std::string& path) override;

private:
    class Device;
    friend class Device;
    struct Entry {
        std::string path, product;
        bool failsOpen;
    };
    int Write(const uint8_t* report, size_t size);
    int Read(uint8_t* buf, size_t size, int timeoutMs, const orv::platform::BreakSignal* brk);

    MedesaEmulator m_scale;
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<Entry> m_devices;
    std::deque<Fault> m_faults;
    std::deque<std::vector<uint8_t>> m_pending;   // answers not yet read
    std::deque<std::vector<uint8_t>> m_late;      // answers that come once a read timed out
    std::vector<std::vector<uint8_t>> m_reports;
    std::vector<std::string> m_opened;
    int m_open = 0;
    bool m_unplugged = false;
    Feeder m_feeder;
};

}  // namespace orv::test
