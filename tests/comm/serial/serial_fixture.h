// Shared set-up of the serial service tests: a scaled clock, a recording
// message hook, and helpers to time a call.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "comm/telepathy.h"
#include "platform/clock.h"
#include "platform/message_hook.h"

namespace serial_test {

// One library second lasts kUnitMs real milliseconds in these tests.
constexpr double kScale = 0.05;
constexpr int kUnitMs = 50;

inline CChrArr Bytes(const std::string& s) { return CChrArr(s); }
inline std::string Str(const CChrArr& a) { return a.ToString(); }

class SerialTest : public ::testing::Test {
protected:
    void SetUp() override {
        orv::platform::SetTimeScale(kScale);
        orv::platform::SetMessageHook([this](orv::platform::MessageKind, const std::string& text, int def) {
            std::lock_guard<std::mutex> lk(m_mutex);
            m_messages.push_back(text);
            return def;
        });
    }
    void TearDown() override {
        orv::platform::SetMessageHook(nullptr);
        orv::platform::SetTimeScale(1.0);
    }
    std::vector<std::string> Messages() {
        std::lock_guard<std::mutex> lk(m_mutex);
        return m_messages;
    }

    template <typename F>
    static int64_t ElapsedMs(F&& f) {
        auto t0 = std::chrono::steady_clock::now();
        f();
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_messages;
};

}  // namespace serial_test
