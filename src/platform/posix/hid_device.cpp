#include "platform/hid_device.h"

#include <hidapi/hidapi.h>

#include <algorithm>
#include <chrono>
#include <mutex>

namespace orv::platform {

namespace {

constexpr int kSliceMs = 50;

std::string Utf8(const wchar_t* w) {
    std::string out;
    if (!w) return out;
    for (; *w; ++w) {
        const uint32_t c = static_cast<uint32_t>(*w);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

class HidapiDevice : public HidDevice {
public:
    explicit HidapiDevice(hid_device* h) : m_h(h) {}
    ~HidapiDevice() override { hid_close(m_h); }

    int Write(const uint8_t* report, size_t size) override { return hid_write(m_h, report, size); }

    int Read(uint8_t* buf, size_t size, int timeoutMs, const BreakSignal* brk) override {
        if (size == 0) return 0;
        buf[0] = 0;   // the report ID
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            if (brk && brk->IsSet()) return kHidBroken;
            // A time-out of 0 still takes a report already waiting.
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
            const int slice = static_cast<int>(std::clamp<long long>(left, 0, kSliceMs));
            const int n = hid_read_timeout(m_h, buf + 1, size - 1, slice);
            if (n < 0) return kHidGone;
            if (n > 0) return n + 1;
            if (left <= slice) return kHidTimeout;
        }
    }

private:
    hid_device* m_h;
};

class HidapiBus : public HidBus {
public:
    std::vector<HidDeviceInfo> Enumerate() override {
        std::vector<HidDeviceInfo> out;
        if (!Init()) return out;
        hid_device_info* list = hid_enumerate(0, 0);
        for (hid_device_info* d = list; d; d = d->next) out.push_back({d->path ? d->path : "", Utf8(d->product_string)});
        hid_free_enumeration(list);
        return out;
    }
    std::unique_ptr<HidDevice> Open(const std::string& path) override {
        if (!Init()) return nullptr;
        hid_device* h = hid_open_path(path.c_str());
        if (!h) return nullptr;
        return std::make_unique<HidapiDevice>(h);
    }

private:
    static bool Init() {
        static const bool ok = hid_init() == 0;
        return ok;
    }
};

}  // namespace

HidBus& SystemHidBus() {
    static HidapiBus* hidapi = new HidapiBus;   // kept for the life of the process
    return *hidapi;
}

}  // namespace orv::platform
