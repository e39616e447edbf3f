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

std::string SerialPortPath(int port) {
    const std::string name = "ECR_COM" + std::to_string(port);
    const char* path = std::getenv(name.c_str());
    if (path != nullptr && path[0] != '\0') return path;
    return SystemSerialPortPath(port);
}

}  // namespace orv::platform
