// A serial device for the tests of lines a pseudo-terminal cannot carry
// (7 data bits with parity): it records the settings the library asks for
// and runs the pseudo-terminal itself as 8N1, which carries the same ASCII
// frames.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "platform/serial_device.h"

namespace orv::test {

class LineSettingsSpy {
public:
    LineSettingsSpy() {
        orv::platform::SetSerialDeviceFactory([this] { return std::make_unique<Device>(*this); });
    }
    ~LineSettingsSpy() { orv::platform::SetSerialDeviceFactory({}); }
    LineSettingsSpy(const LineSettingsSpy&) = delete;
    LineSettingsSpy& operator=(const LineSettingsSpy&) = delete;

    std::vector<orv::platform::SerialLineSettings> Requested() const {
        std::lock_guard<std::mutex> lk(m_mutex);
        return m_requested;
    }

private:
    class Device final : public orv::platform::SerialDevice {
    public:
        explicit Device(LineSettingsSpy& spy) : m_spy(spy), m_real(orv::platform::CreateTermiosDevice()) {}
        int Open(const std::string& path) override { return m_real->Open(path); }
        void Close() override { m_real->Close(); }
        bool IsOpen() const override { return m_real->IsOpen(); }
        int Configure(const orv::platform::SerialLineSettings& s) override {
            {
                std::lock_guard<std::mutex> lk(m_spy.m_mutex);
                m_spy.m_requested.push_back(s);
            }
            orv::platform::SerialLineSettings carried = s;
            carried.dataBits = 8;
            carried.parity = 'N';
            return m_real->Configure(carried);
        }
        int FlushInput() override { return m_real->FlushInput(); }
        int FlushOutput() override { return m_real->FlushOutput(); }
        int InputPending() override { return m_real->InputPending(); }
        int OutputPending() override { return m_real->OutputPending(); }
        long Write(const uint8_t* data, size_t size) override { return m_real->Write(data, size); }
        long Read(uint8_t* data, size_t size) override { return m_real->Read(data, size); }
        int SetDtr(bool on) override { return m_real->SetDtr(on); }
        int SetRts(bool on) override { return m_real->SetRts(on); }
        int GetModemBits(int* bits) override { return m_real->GetModemBits(bits); }
        int Wait(orv::platform::SerialWaitFor what, const orv::platform::BreakSignal* brk, int timeoutMs) override {
            return m_real->Wait(what, brk, timeoutMs);
        }
        int fd() const override { return m_real->fd(); }

    private:
        LineSettingsSpy& m_spy;
        std::unique_ptr<orv::platform::SerialDevice> m_real;
    };

    mutable std::mutex m_mutex;
    std::vector<orv::platform::SerialLineSettings> m_requested;
};

}  // namespace orv::test
