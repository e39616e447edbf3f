// The device factory seam and the port-number-to-path rule.
#include "platform/serial_device.h"

#include <cstdlib>
#include <mutex>
#include <utility>

namespace orv::platform {

namespace {
std::mutex g_factoryMutex;
SerialDeviceFactory g_factory;   // empty: the system's own devices
}  // namespace

void SetSerialDeviceFactory(SerialDeviceFactory factory) {
    std::lock_guard<std::mutex> lock(g_factoryMutex);
    g_factory = std::move(factory);
}

std::unique_ptr<SerialDevice> CreateSerialDevice() {
    SerialDeviceFactory factory;
    {
        std::lock_guard<std::mutex> lock(g_factoryMutex);
        factory = g_factory;
    }
    if (factory) {
        if (auto device = factory()) return device;
    }
    return CreateSystemSerialDevice();
}

int64_t CharMicros(const SerialLineSettings& s) {
    if (s.baud <= 0) return 0;
    const int bits = 1 + s.dataBits + (s.parity == 'N' ? 0 : 1) + (s.stopBits == 1 ? 1 : 2);
    return static_cast<int64_t>(bits) * 1000000 / s.baud;
}

int ChangeSlice(int timeoutMs, int cap, int pending, int64_t charMicros) {
    int slice = (timeoutMs < 0 || timeoutMs > cap) ? cap : timeoutMs;
    if (pending > 0 && charMicros > 0) {
        const int64_t ms = (pending * charMicros + 999) / 1000;
        if (ms < slice) slice = ms < 1 ? 1 : static_cast<int>(ms);
    }
    return slice;
}

std::string SerialPortPath(int port) {
    const std::string name = "ECR_COM" + std::to_string(port);
    const char* path = std::getenv(name.c_str());
    if (path != nullptr && path[0] != '\0') return path;
    return SystemSerialPortPath(port);
}

}  // namespace orv::platform
