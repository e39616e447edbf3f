// Shared set-up of the Posnet Combo tests: the stand-in for the Posnet
// libraries (tests/fakes/libs/fakeposnet.cpp) named by both library
// variables and steered through its control function, a scratch temporary
// directory (the sale log) and the recording host.
#pragma once

#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "comm/telepathy.h"
#include "drivers/posnet/cpc_ecr.h"
#include "drivers/posnet/posnet_combo.h"
#include "fakes/recording_host.h"
#include "job/job_block.h"
#include "util/cp1250.h"

namespace orv::test {

inline const char* FakePosnetPath() { return ORVANTA_FAKES_DIR "/libfakeposnet.so"; }

// The doubles of the host records are 4-byte aligned: read them by value.
inline double Value(double v) { return v; }

class FakePosnet {
public:
    FakePosnet() {
        m_handle = dlopen(FakePosnetPath(), RTLD_NOW);
        if (!m_handle) return;
        m_control = reinterpret_cast<ControlFn>(dlsym(m_handle, "PosnetFakeControl"));
        m_count = reinterpret_cast<CountFn>(dlsym(m_handle, "PosnetFakeCallCount"));
        m_call = reinterpret_cast<CallFn>(dlsym(m_handle, "PosnetFakeCall"));
        m_query = reinterpret_cast<QueryFn>(dlsym(m_handle, "PosnetFakeQuery"));
    }
    ~FakePosnet() {
        if (m_handle) dlclose(m_handle);
    }
    bool Ok() const { return m_control && m_count && m_call && m_query; }

    void Do(const char* command, const char* name = "", const std::string& arg = "") {
        EXPECT_EQ(m_control(command, name, arg.c_str()), 1) << command;
    }
    void Reset() { Do("reset"); }
    // NAME returns v for the next n calls (all further calls when n < 0).
    void Result(const char* name, long long v, int n = -1) {
        Do("result", name, std::to_string(v) + (n > 0 ? "," + std::to_string(n) : ""));
    }
    // The k-th call of NAME (from 1) returns v.
    void At(const char* name, int k, long long v) { Do("at", name, std::to_string(k) + "," + std::to_string(v)); }

    // Every call as "NAME|arg|arg...".
    std::vector<std::string> Calls() const {
        std::vector<std::string> out;
        for (int i = 0, n = m_count(); i < n; ++i) out.push_back(m_call(i));
        return out;
    }
    // The calls of one entry point, without the name.
    std::vector<std::vector<std::string>> CallsOf(const std::string& name) const {
        std::vector<std::vector<std::string>> out;
        for (const std::string& c : Calls()) {
            std::vector<std::string> f = Split(c);
            if (f[0] != name) continue;
            f.erase(f.begin());
            out.push_back(f);
        }
        return out;
    }
    int CountOf(const std::string& name) const { return static_cast<int>(CallsOf(name).size()); }
    std::vector<std::string> Names() const {
        std::vector<std::string> out;
        for (const std::string& c : Calls()) out.push_back(Split(c)[0]);
        return out;
    }
    std::string Query(const char* what) const { return m_query(what); }
    // Every handle given out was given back.
    std::string Counts() const { return Query("counts"); }
    bool Balanced() const {
        const std::string c = Counts();
        return c.find(" open=0 ") != std::string::npos && c.find(" live=0") != std::string::npos;
    }

    static std::vector<std::string> Split(const std::string& s) {
        std::vector<std::string> out(1);
        for (char c : s) {
            if (c == '|')
                out.emplace_back();
            else
                out.back() += c;
        }
        return out;
    }

private:
    using ControlFn = int (*)(const char*, const char*, const char*);
    using CountFn = int (*)();
    using CallFn = const char* (*)(int);
    using QueryFn = const char* (*)(const char*);
    void* m_handle = nullptr;
    ControlFn m_control = nullptr;
    CountFn m_count = nullptr;
    CallFn m_call = nullptr;
    QueryFn m_query = nullptr;
};

class ComboTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fake.Ok()) << dlerror();
        char tmpl[] = "/tmp/posnet_combo_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_tmp = tmpl;
        if (const char* t = std::getenv("TMPDIR")) {
            m_hadTmp = true;
            m_oldTmp = t;
        }
        setenv("TMPDIR", m_tmp.c_str(), 1);
        setenv("ECR_LIB_LIBPOSNET", FakePosnetPath(), 1);
        setenv("ECR_LIB_LIBHLAPI", FakePosnetPath(), 1);
        fake.Reset();
        Host().Reset();
    }
    void TearDown() override {
        if (m_hadTmp)
            setenv("TMPDIR", m_oldTmp.c_str(), 1);
        else
            unsetenv("TMPDIR");
        std::string cmd = "rm -rf '" + m_tmp + "'";
        if (std::system(cmd.c_str()) != 0) {
        }
    }

    static EcrDeviceRecord Device(int type, int kind = 0, int port = 3, int baud = 9600) {
        return DeviceRecord(type, port, baud, kind);
    }
    // Runs a job on the test's own driver object; its error code.
    int Run(uint32_t job, const EcrDeviceRecord& dev) {
        g_jobBlock.job = job;
        g_jobBlock.device = dev;
        g_jobBlock.progressCb = dev.progress;
        RunJob(logic, job, &serial, nullptr);
        return logic.GetErrorCode();
    }
    // A job block for job on dev with every recorder callback.
    void Prepare(uint32_t job, const EcrDeviceRecord& dev) { PrepareJobBlock(job, dev); }
    template <class Rec>
    void Array(std::vector<Rec>& records, uint32_t kind = 0);

    std::string ErrorText() const { return logic.GetErrorMessage(); }

    // The sale log written by the last sale read (empty when none).
    std::string SaleLog() const {
        std::string found;
        if (DIR* d = opendir(m_tmp.c_str())) {
            while (dirent* e = readdir(d)) {
                std::string n = e->d_name;
                if (n.rfind("XWSALE_", 0) == 0) found = m_tmp + "/" + n;
            }
            closedir(d);
        }
        if (found.empty()) return found;
        std::ifstream in(found, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    static EcrItemRecord Goods(uint32_t number, const char* name, double price, uint32_t vat = 1,
                               const char* code = "") {
        return HostItemRecord({.number = number, .name = name, .code = code, .price = price, .vat = vat});
    }

    FakePosnet fake;
    CTelepathy serial;
    CPC_ECR logic;
    std::string m_tmp;

private:
    std::string m_oldTmp;
    bool m_hadTmp = false;
};

template <>
inline void ComboTest::Array<EcrItemRecord>(std::vector<EcrItemRecord>& r, uint32_t kind) {
    g_jobBlock.items = r.data();
    g_jobBlock.count = static_cast<uint32_t>(r.size());
    g_jobBlock.kind = kind;
}
template <>
inline void ComboTest::Array<EcrDeptRecord>(std::vector<EcrDeptRecord>& r, uint32_t) {
    g_jobBlock.depts = r.data();
    g_jobBlock.count = static_cast<uint32_t>(r.size());
}
template <>
inline void ComboTest::Array<EcrUnitRecord>(std::vector<EcrUnitRecord>& r, uint32_t) {
    g_jobBlock.units = r.data();
    g_jobBlock.count = static_cast<uint32_t>(r.size());
}

}  // namespace orv::test
