// Serial devices on Windows: placeholder until the communications API
// backend lands. Every open fails cleanly.
#include <cerrno>

#include "platform/serial_device.h"

namespace orv::platform {

namespace {

class UnavailableSerialDevice final : public SerialDevice {
public:
    int Open(const std::string&) override { return ENOSYS; }
    void Close() override {}
    bool IsOpen() const override { return false; }
    int Configure(const SerialLineSettings&) override { return EBADF; }
    int FlushInput() override { return EBADF; }
    int FlushOutput() override { return EBADF; }
    int InputPending() override { return -EBADF; }
    int OutputPending() override { return -EBADF; }
    long Write(const uint8_t*, size_t) override { return -EBADF; }
    long Read(uint8_t*, size_t) override { return -EBADF; }
    int SetDtr(bool) override { return EBADF; }
    int SetRts(bool) override { return EBADF; }
    int GetModemBits(int*) override { return EBADF; }
    int Wait(SerialWaitFor, const BreakSignal*, int) override { return kWaitLost; }
    int fd() const override { return -1; }
};

}  // namespace

std::unique_ptr<SerialDevice> CreateSystemSerialDevice() { return std::make_unique<UnavailableSerialDevice>(); }

std::string SystemSerialPortPath(int port) { return "\\\\.\\COM" + std::to_string(port); }

}  // namespace orv::platform
