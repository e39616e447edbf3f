// Shared set-up of the DSA tests: a fast clock, the recording host, a DSA
// emulator on a pseudo-terminal and a serial object of the test's own.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "job/job_block.h"
#include "comm/telepathy.h"
#include "drivers/dsa/dsa_link.h"
#include "sim/dsa/dsa_emulator.h"
#include "fakes/recording_host.h"
#include "fakes/line_settings_spy.h"
#include "platform/clock.h"

namespace orv::test {

constexpr int kDsaPort = 5;

class DsaTest : public ::testing::Test {
protected:
    void SetUp() override {
        orv::platform::SetTimeScale(0.01);
        Host().Reset();
        CDsaLink::SeedSequence(1234);
    }
    void TearDown() override {
        if (m_emu) m_emu->Stop();
        m_serial.reset();
        m_emu.reset();
        m_spy.reset();
        orv::platform::SetTimeScale(1.0);
        Host().Reset();
    }

    // An emulator of the model on kDsaPort and a serial object whose events
    // go to the recording host.
    DsaEmulator& StartDevice(DsaModel model) {
        // The DSP 500's 7O1 line runs on the pseudo-terminal as 8N1.
        m_spy.reset();
        if (model == DsaModel::Dsp500) m_spy = std::make_unique<LineSettingsSpy>();
        m_emu = std::make_unique<DsaEmulator>(kDsaPort, model);
        m_emu->Start();
        m_serial = std::make_unique<CTelepathy>();
        m_serial->SetCallback(&RecordingHost::OnProgress);
        return *m_emu;
    }

    // Ends the device of one case of a table (the next case starts anew).
    void StopDevice() {
        if (m_emu) m_emu->Stop();
        m_serial.reset();
        m_emu.reset();
        m_spy.reset();
        Host().Reset();
    }

    // Opens a protocol object on the emulator's line.
    void OpenLink(CDsaLink& link, int baud = 9600) {
        link.SetSerial(m_serial.get());
        ASSERT_EQ(link.Open(kDsaPort, baud), 1) << link.m_nError;
    }

    // Breaks the job off when the device sees the n-th request with the
    // command (n from 1).
    void BreakAt(const std::string& command, int n = 1) {
        auto seen = std::make_shared<int>(0);
        CTelepathy* serial = m_serial.get();
        m_emu->SetCommandHook([=](const DsaRequest& r) {
            if (r.command == command && ++*seen == n) serial->Break();
        });
    }

    std::unique_ptr<LineSettingsSpy> m_spy;
    std::unique_ptr<DsaEmulator> m_emu;
    std::unique_ptr<CTelepathy> m_serial;
};

// Text of a CP1250 byte string for comparisons.
inline std::string Cp(const CChrArr& a) { return a.ToString(); }

}  // namespace orv::test
