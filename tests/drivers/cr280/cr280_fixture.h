// Shared set-up of the CR-280 and Optimus tests: a fast clock, the
// recording host, the emulator of either on a pseudo-terminal (through the
// line-settings spy, since the Optimus line is 7E1) and a serial object.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "comm/telepathy.h"
#include "fakes/line_settings_spy.h"
#include "fakes/recording_host.h"
#include "orvanta/ecr.h"
#include "platform/clock.h"
#include "sim/cr280/cr280_emulator.h"

namespace orv::test {

constexpr int kCrPort = 8;

// Waits (real time) until the condition holds.
inline bool Eventually(const std::function<bool()>& cond, int timeoutMs = 2000) {
    for (int waited = 0; !cond(); waited += 2) {
        if (waited >= timeoutMs) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

inline Bytes Raw(std::initializer_list<int> bytes) {
    Bytes b;
    for (int v : bytes) b.push_back(static_cast<uint8_t>(v));
    return b;
}

class Cr280Test : public ::testing::Test {
protected:
    void SetUp() override {
        // 10 ms of real time are one library second.
        orv::platform::SetTimeScale(0.01);
        Host().Reset();
    }
    void TearDown() override {
        if (m_emu) m_emu->Stop();
        m_serial.reset();
        m_emu.reset();
        m_spy.reset();
        orv::platform::SetTimeScale(1.0);
        Host().Reset();
    }
    Cr280Emulator& StartDevice(Cr280Emulator::Mode mode = Cr280Emulator::Mode::Cr280) {
        m_spy = std::make_unique<LineSettingsSpy>();
        m_emu = std::make_unique<Cr280Emulator>(kCrPort, mode);
        m_emu->Start();
        m_serial = std::make_unique<CTelepathy>();
        m_serial->SetCallback(&RecordingHost::OnProgress);
        return *m_emu;
    }
    std::string Sent() {
        const Bytes b = m_emu->Received();
        return std::string(b.begin(), b.end());
    }

    std::unique_ptr<LineSettingsSpy> m_spy;
    std::unique_ptr<Cr280Emulator> m_emu;
    std::unique_ptr<CTelepathy> m_serial;
};

// The same for jobs through the exports: the logic objects made first, and
// each job run to its end.
class Cr280ExportsTest : public Cr280Test {
protected:
    void SetUp() override {
        Cr280Test::SetUp();
        ASSERT_EQ(EcrCreate(nullptr), 1);
    }
    void Run(bool started) {
        ASSERT_TRUE(started);
        ASSERT_TRUE(WaitEcrDone(30000));
    }
};

}  // namespace orv::test
