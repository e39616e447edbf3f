#include "fakes/fake_hid_device.h"

#include <algorithm>
#include <chrono>

namespace orv::test {

class FakeHidBus::Device : public orv::platform::HidDevice {
public:
    explicit Device(FakeHidBus& bus) : m_bus(bus) {}
    ~Device() override {
        std::lock_guard<std::mutex> lock(m_bus.m_mutex);
        --m_bus.m_open;
    }
    int Write(const uint8_t* report, size_t size) override { return m_bus.Write(report, size); }
    int Read(uint8_t* buf, size_t size, int timeoutMs, const orv::platform::BreakSignal* brk) override {
        return m_bus.Read(buf, size, timeoutMs, brk);
    }

private:
    FakeHidBus& m_bus;
};

FakeHidBus::FakeHidBus() : m_scale(16, 1) { orv::platform::SetHidBus(this); }

FakeHidBus::~FakeHidBus() { orv::platform::SetHidBus(nullptr); }

void FakeHidBus::AddDevice(const std::string& path, const std::string& product, bool failsOpen) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_devices.push_back({path, product, failsOpen});
}

void FakeHidBus::QueueFault(Fault fault, int times) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (int i = 0; i < times; ++i) m_faults.push_back(fault);
}

void FakeHidBus::SetFeeder(Feeder feeder) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_feeder = std::move(feeder);
    m_pending.clear();
}

void FakeHidBus::ClearReports() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_reports.clear();
}

std::vector<std::vector<uint8_t>> FakeHidBus::Reports() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_reports;
}

std::vector<std::string> FakeHidBus::Opened() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_opened;
}

int FakeHidBus::OpenDevices() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_open;
}

std::vector<orv::platform::HidDeviceInfo> FakeHidBus::Enumerate() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<orv::platform::HidDeviceInfo> out;
    for (const Entry& e : m_devices) out.push_back({e.path, e.product});
    return out;
}

std::unique_ptr<orv::platform::HidDevice> FakeHidBus::Open(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const Entry& e : m_devices) {
        if (e.path != path) continue;
        m_opened.push_back(path);
        if (e.failsOpen) return nullptr;
        ++m_open;
        m_unplugged = false;
        m_pending.clear();   // a fresh device holds no old answers
        m_late.clear();
        return std::make_unique<Device>(*this);
    }
    return nullptr;
}

std::vector<uint8_t> FakeHidBus::ScaleAnswer(const std::vector<uint8_t>& r, Fault fault) {
    // The frame from byte 2 up to its "}": its payload, without the checksum.
    std::vector<uint8_t> answer(255, 0);
    answer[1] = r.size() > 1 ? r[1] : 0;
    auto close = std::find(r.begin() + std::min<size_t>(2, r.size()), r.end(), uint8_t{0x7D});
    if (close != r.end() && r.size() > 4) {
        Bytes escaped(r.begin() + 4, close);
        Bytes body;
        for (size_t i = 0; i < escaped.size(); ++i) {
            if (escaped[i] == 0x7E && i + 1 < escaped.size()) {
                const uint8_t n = escaped[++i];
                body.push_back(n == 0 ? 0x7C : n == 1 ? 0x7D : n == 3 ? 0x7F : 0x7E);
            } else {
                body.push_back(escaped[i]);
            }
        }
        if (!body.empty()) body.pop_back();
        Bytes payload = m_scale.Answer(body);
        if (fault == Fault::Refuse && payload.size() > 2) payload[2] = 0xEE;
        const Bytes frame = fault == Fault::FlipBit ? MedesaEmulator::FrameWithFlippedBit(payload, 7) : MedesaEmulator::Frame(payload);
        std::copy_n(frame.begin(), std::min<size_t>(frame.size(), 253), answer.begin() + 2);
    }
    return answer;
}

int FakeHidBus::Write(const uint8_t* report, size_t size) {
    std::vector<uint8_t> r(report, report + size);
    Fault fault = Fault::None;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_unplugged) return -1;
        m_reports.push_back(r);
        if (m_feeder) {
            std::vector<uint8_t> answer = m_feeder(r);
            if (!answer.empty()) {
                m_pending.push_back(std::move(answer));
                m_cv.notify_all();
            }
            return static_cast<int>(size);
        }
        if (!m_faults.empty()) {
            fault = m_faults.front();
            m_faults.pop_front();
        }
    }
    std::vector<uint8_t> answer = ScaleAnswer(r, fault);
    std::lock_guard<std::mutex> lock(m_mutex);
    switch (fault) {
    case Fault::Status4: answer[1] = 4; break;
    case Fault::NoClose: std::replace(answer.begin(), answer.end(), uint8_t{0x7D}, uint8_t{0x20}); break;
    case Fault::ShortReport: answer.resize(100); break;
    case Fault::Silence: return static_cast<int>(size);
    case Fault::Unplug: m_unplugged = true; return static_cast<int>(size);
    case Fault::Late: m_late.push_back(answer); return static_cast<int>(size);
    case Fault::Refuse: case Fault::FlipBit: case Fault::None: break;
    }
    m_pending.push_back(answer);
    m_cv.notify_all();
    return static_cast<int>(size);
}

int FakeHidBus::Read(uint8_t* buf, size_t size, int timeoutMs, const orv::platform::BreakSignal* brk) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        if (m_unplugged) return orv::platform::kHidGone;
        if (brk && brk->IsSet()) return orv::platform::kHidBroken;
        if (!m_pending.empty()) {
            std::vector<uint8_t> r = m_pending.front();
            m_pending.pop_front();
            const size_t n = std::min(size, r.size());
            std::copy_n(r.begin(), n, buf);
            return static_cast<int>(n);
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= end) {
            // What was late arrives now, for whoever reads next.
            if (timeoutMs > 0) {
                m_pending.insert(m_pending.end(), m_late.begin(), m_late.end());
                m_late.clear();
            }
            return orv::platform::kHidTimeout;
        }
        m_cv.wait_for(lock, std::min<std::chrono::steady_clock::duration>(end - now, std::chrono::milliseconds(20)));
    }
}

}  // namespace orv::test
