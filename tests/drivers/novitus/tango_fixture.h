// Shared set-up of the Tango tests: a fast clock, the recording host, the
// Tango register on a pseudo-terminal, and a serial and a socket object of
// the test's own (their events go to the recording host).
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "comm/socket.h"
#include "comm/telepathy.h"
#include "drivers/novitus/tango_link.h"
#include "fakes/recording_host.h"
#include "platform/clock.h"
#include "sim/tango/tango_emulator.h"

namespace orv::test {

constexpr int kTangoPort = 6;
using TFault = TangoDevice::Fault;

// Tests that wait out a silent register run on a faster clock.
inline void FastClock() { orv::platform::SetTimeScale(0.02); }

// A loopback address of its own for each TCP test (port 5001 is fixed).
inline std::string NextLoopbackAddress() {
    static std::atomic<int> counter{0};
    const int n = counter++;
    char buf[32];
    std::snprintf(buf, sizeof buf, "127.%d.%d.%d", 16 + static_cast<int>(getpid() % 200), (n / 200) % 250,
                  2 + n % 200);
    return buf;
}

class TangoTest : public ::testing::Test {
protected:
    void SetUp() override {
        // 10-second reads last 0.5 s: a loaded machine still answers in time.
        orv::platform::SetTimeScale(0.05);
        Host().Reset();
        m_emu = std::make_unique<TangoEmulator>(kTangoPort);
        m_emu->Start();
        m_serial = std::make_unique<CTelepathy>();
        m_serial->SetCallback(&RecordingHost::OnProgress);
        m_socket = std::make_unique<CTelepathySocket>();
        m_socket->SetCallback(&RecordingHost::OnProgress);
    }
    void TearDown() override {
        if (m_breaker.joinable()) m_breaker.join();
        if (m_emu) m_emu->Stop();
        m_serial.reset();
        m_socket.reset();
        m_emu.reset();
        orv::platform::SetTimeScale(1.0);
        Host().Reset();
    }

    TangoDevice& Dev() { return m_emu->Device(); }

    // Opens a protocol object on the register's line.
    void OpenLink(CTangoLink& link) {
        link.SetSerial(m_serial.get());
        link.SetSocket(m_socket.get());
        ASSERT_EQ(link.OpenSerial(kTangoPort, 9600), 1) << link.m_nError;
    }

    // Breaks the serial object off after ms (real) milliseconds.
    void BreakAfter(int ms) {
        CTelepathy* serial = m_serial.get();
        CTelepathySocket* socket = m_socket.get();
        m_breaker = std::thread([=] {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            serial->Break();
            socket->Break();
        });
    }

    // Breaks the serial object off 20 ms after the register has received
    // what pred looks for.
    void BreakWhen(std::function<bool(const Bytes&)> pred) {
        CTelepathy* serial = m_serial.get();
        TangoEmulator* emu = m_emu.get();
        m_breaker = std::thread([=] {
            emu->WaitUntil(pred, 5000);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            serial->Break();
        });
    }

    std::unique_ptr<TangoEmulator> m_emu;
    std::unique_ptr<CTelepathy> m_serial;
    std::unique_ptr<CTelepathySocket> m_socket;
    std::thread m_breaker;
};


}  // namespace orv::test
