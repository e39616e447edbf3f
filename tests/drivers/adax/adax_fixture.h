// Shared set-up of the Adax tests: a fast clock, the recording host, a
// recording message hook, an Adax emulator on a pseudo-terminal and a
// serial object of the test's own.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "comm/telepathy.h"
#include "drivers/adax/cad_ecr.h"
#include "fakes/recording_host.h"
#include "job/job_block.h"
#include "platform/clock.h"
#include "platform/message_hook.h"
#include "sim/adax/adax_emulator.h"

namespace orv::test {

constexpr int kAdaxPort = 6;

struct OperatorMessage {
    orv::platform::MessageKind kind;
    std::string text;
};

class AdaxTest : public ::testing::Test {
protected:
    void SetUp() override {
        // 10 ms of real time are one library second: the register's first
        // answer is awaited 0.5 s, a silent one costs 0.7 s in all.
        orv::platform::SetTimeScale(0.01);
        Host().Reset();
        CAdax::SeedSequence(1234);
        orv::platform::SetMessageHook([this](orv::platform::MessageKind kind, const std::string& text, int def) {
            std::lock_guard<std::mutex> lk(m_msgMutex);
            m_messages.push_back({kind, text});
            return def;
        });
        m_emu = std::make_unique<AdaxEmulator>(kAdaxPort);
        m_emu->SetIdlePeriod(60);
        m_emu->Start();
        m_serial = std::make_unique<CTelepathy>();
        m_serial->SetCallback(&RecordingHost::OnProgress);
    }
    void TearDown() override {
        m_logic.Close(kAdaxPort);
        m_emu.reset();
        m_serial.reset();
        orv::platform::SetMessageHook({});
        orv::platform::SetTimeScale(1.0);
        Host().Reset();
    }

    // The logic object opened on the emulator's line, as for job `job`.
    CAD_ECR& OpenLogic(uint32_t job = 5) {
        m_device = DeviceRecord(19, kAdaxPort, 19200);
        PrepareJobBlock(job, m_device);
        m_logic.SetSerial(m_serial.get());
        m_logic.SetError(0, std::string());
        EXPECT_EQ(m_logic.Open(kAdaxPort, &m_device), 1) << m_logic.GetErrorCode();
        return m_logic;
    }
    CAdax& Link() { return m_logic.Protocol(); }

    std::vector<OperatorMessage> Messages() {
        std::lock_guard<std::mutex> lk(m_msgMutex);
        return m_messages;
    }

    // Breaks the job off when the register sees the n-th frame with this text.
    void BreakAt(const std::string& text, int n = 1) {
        auto seen = std::make_shared<int>(0);
        CTelepathy* serial = m_serial.get();
        m_emu->SetCommandHook([=](const std::string& c) {
            if (c == text && ++*seen == n) serial->Break();
        });
    }

    std::unique_ptr<AdaxEmulator> m_emu;
    std::unique_ptr<CTelepathy> m_serial;
    CAD_ECR m_logic;
    EcrDeviceRecord m_device{};
    std::mutex m_msgMutex;
    std::vector<OperatorMessage> m_messages;
};

// The frames a session opening and closing send, in order (the ready
// frames are only read).
inline std::vector<std::string> OpeningCommands() { return {"*I", "*SZZi", "*U", "*I", "", "*LI", "*P", ""}; }
inline std::vector<std::string> ClosingCommands() { return {"", "*SZZi", "*U", "*SZ"}; }

inline std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace orv::test
