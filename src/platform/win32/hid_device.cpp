// USB HID devices over SetupAPI and the HID class driver (Win32).
//
// Enumeration walks the present interfaces of the HID device-interface
// class; each is opened without access rights (which every HID interface
// allows, keyboards and mice included) only to read its product string.
// Open takes an interface for reading and writing, shared with others, in
// overlapped mode. The class driver exchanges whole reports of the lengths
// the device declares, report ID first: a write is padded with zeros to the
// output report length, a read delivers the report as the device sent it.
// A read that times out or is broken off stays queued with the driver and
// delivers its report to the next Read, so no report is lost.
#include "platform/hid_device.h"

#include <windows.h>
#include <setupapi.h>
// The HID class headers declare no C linkage of their own.
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/win32/win32_text.h"
#include "platform/win32/wait.h"

namespace orv::platform {

namespace {

// A write the device does not take within this time has failed.
constexpr DWORD kWriteTimeoutMs = 1000;

struct Handle {
    HANDLE h = INVALID_HANDLE_VALUE;
    explicit Handle(HANDLE v) : h(v) {}
    ~Handle() {
        if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool ok() const { return h != INVALID_HANDLE_VALUE; }
};

bool ReportLengths(HANDLE h, size_t& input, size_t& output) {
    PHIDP_PREPARSED_DATA data = nullptr;
    if (!::HidD_GetPreparsedData(h, &data)) return false;
    HIDP_CAPS caps{};
    const bool ok = ::HidP_GetCaps(data, &caps) == HIDP_STATUS_SUCCESS;
    ::HidD_FreePreparsedData(data);
    input = caps.InputReportByteLength;
    output = caps.OutputReportByteLength;
    return ok;
}

class Win32HidDevice : public HidDevice {
public:
    Win32HidDevice(HANDLE h, size_t inputLength, size_t outputLength)
        : m_h(h), m_input(inputLength), m_output(outputLength) {
        m_readEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        m_writeEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ~Win32HidDevice() override {
        // The read left pending may have been started on another thread:
        // it is cancelled by its own record.
        if (m_pending) {
            DWORD n = 0;
            ::CancelIoEx(m_h, &m_readOv);
            ::GetOverlappedResult(m_h, &m_readOv, &n, TRUE);
        }
        ::CloseHandle(m_h);
        if (m_readEvent) ::CloseHandle(m_readEvent);
        if (m_writeEvent) ::CloseHandle(m_writeEvent);
    }
    Win32HidDevice(const Win32HidDevice&) = delete;
    Win32HidDevice& operator=(const Win32HidDevice&) = delete;

    bool Usable() const { return m_readEvent && m_writeEvent; }

    int Write(const uint8_t* report, size_t size) override {
        if (size == 0 || m_output == 0 || size > m_output) return -1;
        std::vector<uint8_t> out(m_output, 0);
        std::memcpy(out.data(), report, size);
        OVERLAPPED ov{};
        ov.hEvent = m_writeEvent;
        ::ResetEvent(m_writeEvent);
        DWORD n = 0;
        if (!::WriteFile(m_h, out.data(), static_cast<DWORD>(out.size()), nullptr, &ov)) {
            if (::GetLastError() != ERROR_IO_PENDING) return -1;
            if (::WaitForSingleObject(m_writeEvent, kWriteTimeoutMs) != WAIT_OBJECT_0) {
                // This write alone: a read left pending stays.
                ::CancelIoEx(m_h, &ov);
                ::GetOverlappedResult(m_h, &ov, &n, TRUE);
                return -1;
            }
        }
        if (!::GetOverlappedResult(m_h, &ov, &n, TRUE) || n != out.size()) return -1;
        return static_cast<int>(size);
    }

    int Read(uint8_t* buf, size_t size, int timeoutMs, const BreakSignal* brk) override {
        if (size == 0) return 0;
        if (brk && brk->IsSet()) return kHidBroken;
        if (m_input == 0) return kHidGone;
        if (!m_pending) {
            m_buffer.assign(m_input, 0);
            m_readOv = OVERLAPPED{};
            m_readOv.hEvent = m_readEvent;
            ::ResetEvent(m_readEvent);
            if (!::ReadFile(m_h, m_buffer.data(), static_cast<DWORD>(m_buffer.size()), nullptr, &m_readOv) &&
                ::GetLastError() != ERROR_IO_PENDING)
                return kHidGone;
            m_pending = true;
        }
        const int r = win32::WaitObjectOrBreak(m_readEvent, brk, timeoutMs < 0 ? 0 : timeoutMs);
        if (r == kWaitTimeout) return kHidTimeout;
        if (r == kWaitBroken) return kHidBroken;
        DWORD n = 0;
        const BOOL done = ::GetOverlappedResult(m_h, &m_readOv, &n, FALSE);
        if (!done && ::GetLastError() == ERROR_IO_INCOMPLETE) return kHidTimeout;
        m_pending = false;
        if (!done) return kHidGone;
        const size_t got = std::min<size_t>(n, size);
        std::memcpy(buf, m_buffer.data(), got);
        return static_cast<int>(got);
    }

private:
    HANDLE m_h;
    size_t m_input;
    size_t m_output;
    HANDLE m_readEvent = nullptr;
    HANDLE m_writeEvent = nullptr;
    OVERLAPPED m_readOv{};
    std::vector<uint8_t> m_buffer;
    bool m_pending = false;
};

std::string Utf8(const wchar_t* text) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

HANDLE OpenPath(const std::string& path, DWORD access, DWORD flags) {
    const std::wstring wide = win32::Widen(path);
    if (wide.empty()) return INVALID_HANDLE_VALUE;
    return ::CreateFileW(wide.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags,
                         nullptr);
}

std::string ProductString(const std::string& path) {
    Handle h(OpenPath(path, 0, 0));
    if (!h.ok()) return std::string();
    wchar_t text[128] = {0};   // 256 bytes, the most the driver gives
    if (!::HidD_GetProductString(h.h, text, sizeof text)) return std::string();
    text[127] = 0;
    return Utf8(text);
}

class Win32HidBus : public HidBus {
public:
    std::vector<HidDeviceInfo> Enumerate() override {
        std::vector<HidDeviceInfo> out;
        GUID hidClass;
        ::HidD_GetHidGuid(&hidClass);
        HDEVINFO set = ::SetupDiGetClassDevsW(&hidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (set == INVALID_HANDLE_VALUE) return out;
        for (DWORD i = 0;; ++i) {
            SP_DEVICE_INTERFACE_DATA iface{};
            iface.cbSize = sizeof iface;
            if (!::SetupDiEnumDeviceInterfaces(set, nullptr, &hidClass, i, &iface)) break;
            DWORD need = 0;
            ::SetupDiGetDeviceInterfaceDetailW(set, &iface, nullptr, 0, &need, nullptr);
            if (need < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) continue;
            std::vector<uint8_t> storage(need + sizeof(wchar_t), 0);
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
            if (!::SetupDiGetDeviceInterfaceDetailW(set, &iface, detail, need, nullptr, nullptr)) continue;
            HidDeviceInfo info;
            info.path = win32::NarrowPath(detail->DevicePath);
            if (info.path.empty()) continue;
            info.product = ProductString(info.path);
            out.push_back(std::move(info));
        }
        ::SetupDiDestroyDeviceInfoList(set);
        return out;
    }

    std::unique_ptr<HidDevice> Open(const std::string& path) override {
        HANDLE h = OpenPath(path, GENERIC_READ | GENERIC_WRITE, FILE_FLAG_OVERLAPPED);
        if (h == INVALID_HANDLE_VALUE) return nullptr;
        size_t input = 0;
        size_t output = 0;
        if (!ReportLengths(h, input, output)) {
            ::CloseHandle(h);
            return nullptr;
        }
        auto device = std::make_unique<Win32HidDevice>(h, input, output);
        if (!device->Usable()) return nullptr;
        return device;
    }
};

}  // namespace

HidBus& SystemHidBus() {
    static Win32HidBus* system = new Win32HidBus;   // kept for the life of the process
    return *system;
}

}  // namespace orv::platform
