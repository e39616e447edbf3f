// Shared set-up of the Elzab driver tests: an emulated register on port 1,
// the recording host, and jobs run through the exports.
#pragma once

#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/elzab/elzab_emulator.h"
#include "fakes/recording_host.h"
#include "orvanta/ecr.h"
#include "platform/clock.h"

namespace orv::test {

// Bytes ESC + command + data, for byte-exact expectations.
inline Bytes Cmd(uint8_t command, const Bytes& data = {}) {
    Bytes b{0x1B, command};
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// The doubles of the host records are 4-byte aligned: read them by value.
inline double Value(double v) { return v; }

inline EcrItemRecord Item(uint32_t number, const char* name, uint32_t vat, uint32_t dept, double price,
                          const char* code = "", uint32_t unit = 1) {
    return HostItemRecord(
        {.number = number, .name = name, .code = code, .price = price, .vat = vat, .dept = dept, .unit = unit});
}

// A fresh TMPDIR for the test's lifetime.
class ScratchTmp {
public:
    ScratchTmp() {
        char tmpl[] = "/tmp/elzab_tools_XXXXXX";
        m_path = mkdtemp(tmpl);
        const char* old = std::getenv("TMPDIR");
        m_hadOld = old != nullptr;
        if (old) m_old = old;
        setenv("TMPDIR", m_path.c_str(), 1);
    }
    ~ScratchTmp() {
        if (m_hadOld)
            setenv("TMPDIR", m_old.c_str(), 1);
        else
            unsetenv("TMPDIR");
        std::string cmd = "rm -rf '" + m_path + "'";
        if (std::system(cmd.c_str()) != 0) {
        }
    }
    // name -> content of every file whose name starts with prefix.
    std::map<std::string, std::string> Files(const std::string& prefix) const {
        std::map<std::string, std::string> out;
        DIR* d = opendir(m_path.c_str());
        while (dirent* e = d ? readdir(d) : nullptr) {
            std::string name = e->d_name;
            if (name.rfind(prefix, 0) != 0) continue;
            std::ifstream f(m_path + "/" + name, std::ios::binary);
            std::stringstream ss;
            ss << f.rdbuf();
            out[name] = ss.str();
        }
        if (d) closedir(d);
        return out;
    }

private:
    std::string m_path, m_old;
    bool m_hadOld = false;
};

class ElzabTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EcrCreate(nullptr); }

    void SetUp() override {
        orv::platform::SetTimeScale(1.0);
        Host().Reset();
    }
    void TearDown() override {
        // A job still running (a failed expectation) is broken off first.
        if (!EcrIsDone()) {
            EcrBreakJob();
            WaitDone(10000);
        }
        if (reg) reg->Stop();
        reg.reset();
        orv::platform::SetTimeScale(1.0);
    }

    // The emulated register for a device type, on port 1.
    ElzabEmulator& Register(int type, uint32_t model) {
        if (reg) {   // one pty per port at a time: the old one gives its name back first
            reg->Stop();
            reg.reset();
        }
        reg = std::make_unique<ElzabEmulator>(1, model);
        reg->Start();
        device = DeviceRecord(type, 1, 9600, 0);
        return *reg;
    }

    static bool WaitDone(int timeoutMs) { return WaitEcrDone(timeoutMs); }

    // Starts a job through an export, waits for it, returns EcrError().
    int Run(const std::function<int()>& start, int timeoutMs = 30000) {
        int started = start();
        EXPECT_EQ(started, 1) << "the export refused the job";
        EXPECT_TRUE(WaitDone(timeoutMs)) << "the job did not end";
        return EcrError();
    }

    std::string ErrMsg() const { return EcrErrMsg(); }

    std::unique_ptr<ElzabEmulator> reg;
    EcrDeviceRecord device{};
};

}  // namespace orv::test
