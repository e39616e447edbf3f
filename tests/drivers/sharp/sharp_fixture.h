// Shared set-up of the Sharp tests: a fast clock, the recording host, a
// Sharp register emulator on a pseudo-terminal (the 7O1 line runs there as
// 8N1) and a serial object of the test's own.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "comm/telepathy.h"
#include "drivers/sharp/sharp_link.h"
#include "fakes/line_settings_spy.h"
#include "fakes/recording_host.h"
#include "platform/clock.h"
#include "sim/sharp/sharp_emulator.h"

namespace orv::test {

constexpr int kSharpPort = 6;

class SharpTest : public ::testing::Test {
protected:
    void SetUp() override {
        orv::platform::SetTimeScale(0.02);   // a 5 s time-out lasts 100..120 ms
        Host().Reset();
    }
    void TearDown() override {
        StopDevice();
        orv::platform::SetTimeScale(1.0);
    }

    SharpEmulator& StartDevice(const SharpTraits& traits, int machine = 1) {
        StopDevice();
        m_spy = std::make_unique<LineSettingsSpy>();
        m_emu = std::make_unique<SharpEmulator>(kSharpPort, traits, machine);
        m_emu->Start();
        m_serial = std::make_unique<CTelepathy>();
        m_serial->SetCallback(&RecordingHost::OnProgress);
        return *m_emu;
    }

    void StopDevice() {
        if (m_emu) m_emu->Stop();
        m_serial.reset();
        m_emu.reset();
        m_spy.reset();
        Host().Reset();
    }

    void OpenLink(CSharpLink& link, int baud = 9600) {
        link.SetSerial(m_serial.get());
        ASSERT_EQ(link.Open(kSharpPort, baud), 1) << link.m_nError;
    }

    // Events of one code the host got.
    std::vector<HostEvent> EventsOf(int code) const {
        std::vector<HostEvent> out;
        for (const HostEvent& e : Host().Events())
            if (e.code == code) out.push_back(e);
        return out;
    }

    std::unique_ptr<LineSettingsSpy> m_spy;
    std::unique_ptr<SharpEmulator> m_emu;
    std::unique_ptr<CTelepathy> m_serial;
};

inline std::string Text(const Bytes& b) { return std::string(b.begin(), b.end()); }
inline std::string Text(const CChrArr& a) { return a.ToString(); }

inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline int CountByte(const Bytes& b, uint8_t v) { return static_cast<int>(std::count(b.begin(), b.end(), v)); }

// A goods row with the fields the tests set.
inline SharpPluRow Row(uint32_t number, const char* code, const char* name, uint32_t dept, double price) {
    SharpPluRow r;
    r.number = number;
    std::strncpy(r.code, code, sizeof r.code - 1);
    std::strncpy(r.name, name, sizeof r.name - 1);
    r.dept = dept;
    r.price = price;
    return r;
}

}  // namespace orv::test
