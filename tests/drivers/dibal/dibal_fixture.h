// Shared set-up of the Dibal tests: a fast clock, the recording host, a
// Dibal scale emulator on a pseudo-terminal (its 8E1 line carried as 8N1
// by the line-settings spy) and a serial object of the test's own.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <thread>
#include <memory>
#include <string>
#include <vector>

#include "comm/telepathy.h"
#include "drivers/dibal/cdi_ecr.h"
#include "drivers/dibal/cdibal.h"
#include "fakes/line_settings_spy.h"
#include "fakes/recording_host.h"
#include "job/job_block.h"
#include "platform/clock.h"
#include "sim/dibal/dibal_emulator.h"
#include "util/cp1250.h"

namespace orv::test {

constexpr int kDibalPort = 6;

enum DibalJob : uint32_t { kJobReadAllPlu = 3, kJobPgmPlu = 5 };

using DAnswer = DibalEmulator::Answer;
using DFault = DibalEmulator::RecordFault;

class DibalTest : public ::testing::Test {
protected:
    // A 5 s answer wait lasts 200 ms: long enough for a loaded machine's
    // emulator thread, short enough for the silences the tests wait out.
    static constexpr double kTimeScale = 0.04;

    void SetUp() override {
        orv::platform::SetTimeScale(kTimeScale);
        Host().Reset();
    }
    void TearDown() override {
        if (m_logic.IsRunning()) {
            m_logic.Break();
            if (m_serial) m_serial->Break();
            WaitJobEnd(m_logic, 10000);
        }
        if (m_emu) m_emu->Stop();
        m_serial.reset();
        m_emu.reset();
        m_spy.reset();
        orv::platform::SetTimeScale(1.0);
        Host().Reset();
    }

    // A new scale (one case of a table ends the previous one first).
    DibalEmulator& StartScale(bool addressed, int address = 1) {
        if (m_emu) m_emu->Stop();
        m_serial.reset();
        m_emu.reset();
        m_spy.reset();
        m_spy = std::make_unique<LineSettingsSpy>();
        m_emu = std::make_unique<DibalEmulator>(kDibalPort, addressed, address);
        m_emu->Start();
        m_serial = std::make_unique<CTelepathy>();
        m_serial->SetCallback(&RecordingHost::OnProgress);
        return *m_emu;
    }

    // A protocol object on the emulator's line (mode flag 1: 8N1).
    void OpenLink(CDibal& link, uint32_t modeFlag, int address = 1) {
        link.SetSerial(m_serial.get());
        link.SetModeFlag(modeFlag);
        ASSERT_EQ(link.Open(kDibalPort, 9600, address), 1) << link.m_nError;
    }

    EcrDeviceRecord Device(int type, int address = 1) {
        EcrDeviceRecord dev = DeviceRecord(type, kDibalPort, 9600);
        dev.word7 = address;
        return dev;
    }

    // Runs a job on the logic object; true when it succeeded (event 10).
    bool RunItems(int type, uint32_t job, std::vector<EcrItemRecord>& items, int address = 1) {
        PrepareJobBlock(job, Device(type, address));
        g_jobBlock.items = items.data();
        g_jobBlock.count = static_cast<uint32_t>(items.size());
        EXPECT_TRUE(RunJob(m_logic, job, m_serial.get(), nullptr));
        return Host().CountEvents(ECR_EVENT_SUCCEEDED) == 1;
    }
    bool RunRead(int type) {
        PrepareJobBlock(kJobReadAllPlu, Device(type));
        EXPECT_TRUE(RunJob(m_logic, kJobReadAllPlu, m_serial.get(), nullptr));
        return Host().CountEvents(ECR_EVENT_SUCCEEDED) == 1;
    }

    std::unique_ptr<LineSettingsSpy> m_spy;
    std::unique_ptr<DibalEmulator> m_emu;
    std::unique_ptr<CTelepathy> m_serial;
    CDI_ECR m_logic;
};

inline EcrItemRecord DibalHostItem(uint32_t number, const char* name, double price, uint32_t dept = 1,
                                   uint32_t vat = 1) {
    return HostItemRecord({.number = number, .name = name, .price = price, .vat = vat, .dept = dept});
}

inline DibalItem MakeDibalItem(uint32_t plu, const char* name, double price) {
    DibalItem d;
    std::memset(&d, 0, sizeof d);
    d.plu = plu;
    std::strncpy(d.name, name, sizeof d.name - 1);
    d.price = price;
    d.flag = 1;
    d.department = 1;
    d.vatGroup = 1;
    return d;
}

// Waits (real time) until pred holds: the emulator thread may still be at
// the last bytes when an unanswered exchange has ended on the library's side.
inline bool Eventually(const std::function<bool()>& pred, int timeoutMs = 3000) {
    const int64_t end = orv::platform::MonotonicMillis() + timeoutMs;
    while (!pred()) {
        if (orv::platform::MonotonicMillis() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

inline std::string Str(const Bytes& b) { return std::string(b.begin(), b.end()); }
inline std::string Str(const CChrArr& a) { return a.ToString(); }

}  // namespace orv::test
