// Shared set-up of the Elzab communication library tests: the fake library
// (tests/fakes/libs/winip.cpp) steered through its control function, a
// scratch working directory (konfig.txt, modkonf.txt) and temporary
// directory (exchange files), the recording host and the operator's
// answers to questions.
#pragma once

#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "comm/telepathy.h"
#include "drivers/elzab/cem_ecr.h"
#include "drivers/elzab/elzab_modem.h"
#include "fakes/recording_host.h"
#include "platform/clock.h"
#include "platform/message_hook.h"

namespace orv::test {

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The doubles of the host records are 4-byte aligned: read them by value.
inline double Value(double v) { return v; }

inline bool FileExists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

inline std::vector<std::string> DirNames(const std::string& dir) {
    std::vector<std::string> out;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != "..") out.push_back(n);
        }
        closedir(d);
    }
    return out;
}

// The fake library, opened by the path the loader finds it at, so it is
// the very object the driver uses.
class FakeWinip {
public:
    struct Call {
        std::string name, in, out, request, konfig, answer;
    };

    FakeWinip() {
        m_handle = dlopen(ORVANTA_FAKES_DIR "/libwinip.so", RTLD_NOW);
        if (!m_handle) return;
        m_control = reinterpret_cast<ControlFn>(dlsym(m_handle, "WinipFakeControl"));
        m_count = reinterpret_cast<CountFn>(dlsym(m_handle, "WinipFakeCallCount"));
        m_field = reinterpret_cast<FieldFn>(dlsym(m_handle, "WinipFakeCallField"));
        m_query = reinterpret_cast<QueryFn>(dlsym(m_handle, "WinipFakeQuery"));
    }
    ~FakeWinip() {
        if (m_handle) dlclose(m_handle);
    }
    bool Ok() const { return m_control && m_count && m_field && m_query; }

    void Do(const char* command, const char* name = "", const std::string& arg = "") {
        EXPECT_EQ(m_control(command, name, arg.c_str()), 1) << command;
    }
    void Reset() { Do("reset"); }
    // NAME returns value for the next n calls (all further calls when n < 0).
    void Result(const char* name, int value, int n = -1) {
        Do("result", name, std::to_string(value) + (n > 0 ? "," + std::to_string(n) : ""));
    }

    std::vector<Call> Calls() const {
        std::vector<Call> out;
        int n = m_count();
        for (int i = 0; i < n; ++i) {
            Call c;
            c.name = Field(i, "name");
            c.in = Field(i, "in");
            c.out = Field(i, "out");
            c.request = Field(i, "request");
            c.konfig = Field(i, "konfig");
            c.answer = Field(i, "answer");
            out.push_back(c);
        }
        return out;
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> out;
        for (const Call& c : Calls()) out.push_back(c.name);
        return out;
    }
    int CountOf(const std::string& name) const {
        int n = 0;
        for (const std::string& s : Names()) n += s == name;
        return n;
    }
    std::string Query(const char* what) const { return m_query(what); }

private:
    std::string Field(int i, const char* field) const {
        int size = 0;
        const char* p = m_field(i, field, &size);
        return std::string(p, static_cast<size_t>(size));
    }
    using ControlFn = int (*)(const char*, const char*, const char*);
    using CountFn = int (*)();
    using FieldFn = const char* (*)(int, const char*, int*);
    using QueryFn = const char* (*)(const char*);
    void* m_handle = nullptr;
    ControlFn m_control = nullptr;
    CountFn m_count = nullptr;
    FieldFn m_field = nullptr;
    QueryFn m_query = nullptr;
};

// Relay names as a test network knows them: only the sixth resolves unless
// a test says otherwise.
inline bool& RelaysResolve() {
    static bool on = true;
    return on;
}
inline bool TestResolver(const char* name, std::string& out) {
    if (RelaysResolve() && std::string(name) == "elzab-relay-6") {
        out = "10.20.30.6";
        return true;
    }
    return false;
}

class ModemTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fake.Ok()) << dlerror();
        char tmpl[] = "/tmp/elzab_modem_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        m_tmp = m_dir + "/tmp";
        ::mkdir(m_tmp.c_str(), 0700);
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        m_oldCwd = cwd;
        ASSERT_EQ(chdir(m_dir.c_str()), 0);
        if (const char* t = std::getenv("TMPDIR")) {
            m_hadTmp = true;
            m_oldTmp = t;
        }
        setenv("TMPDIR", m_tmp.c_str(), 1);
        unsetenv("ECR_LIB_WINIP");
        fake.Reset();
        Host().Reset();
        RelaysResolve() = true;
        CElzabModem::SetResolver(&TestResolver);
        orv::platform::SetTimeScale(0.01);
        Answer(0);
    }
    void TearDown() override {
        orv::platform::SetMessageHook({});
        CElzabModem::SetResolver(nullptr);
        orv::platform::SetTimeScale(1.0);
        unsetenv("ECR_LIB_WINIP");
        if (m_hadTmp)
            setenv("TMPDIR", m_oldTmp.c_str(), 1);
        else
            unsetenv("TMPDIR");
        if (chdir(m_oldCwd.c_str()) != 0) {
        }
        std::string cmd = "rm -rf '" + m_dir + "'";
        if (std::system(cmd.c_str()) != 0) {
        }
    }

    // The operator answers every question with `answer` (1 yes, 0 no).
    void Answer(int answer) {
        orv::platform::SetMessageHook([this, answer](orv::platform::MessageKind kind, const std::string& text, int) {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (kind == orv::platform::MessageKind::Question) m_questions.push_back(text);
            return answer;
        });
    }
    std::vector<std::string> Questions() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_questions;
    }

    // Exchange files still present in the temporary or working directory.
    std::vector<std::string> ExchangeFilesLeft() const {
        std::vector<std::string> left;
        for (const std::string& n : DirNames(m_tmp))
            if (n.rfind("XWS", 0) == 0 || n.rfind("XWR", 0) == 0) left.push_back(n);
        for (const std::string& n : DirNames(m_dir))
            if (n == "IN.TMP" || n == "OUT.TMP") left.push_back(n);
        return left;
    }

    // A device record for the library driver.
    static EcrDeviceRecord Device(int type, int kind, int reg = 5, int port = 3, int baud = 9600) {
        EcrDeviceRecord d = DeviceRecord(type, port, baud, kind);
        d.word6 = 1;
        d.word7 = reg;
        return d;
    }

    // Runs a job on a driver object of its own (not the registry's).
    bool Job(CEM_ECR& logic, uint32_t job, const EcrDeviceRecord& dev) {
        g_jobBlock.device = dev;
        g_jobBlock.progressCb = dev.progress;
        return RunJob(logic, job, &serial, nullptr);
    }
    void Prepare(uint32_t job, const EcrDeviceRecord& dev) { PrepareJobBlock(job, dev); }

    FakeWinip fake;
    CTelepathy serial;
    std::string m_dir, m_tmp;

private:
    std::string m_oldCwd, m_oldTmp;
    bool m_hadTmp = false;
    std::mutex m_mutex;
    std::vector<std::string> m_questions;
};

}  // namespace orv::test
