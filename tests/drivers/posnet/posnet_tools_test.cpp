// The example host against the simulator, as a person integrating a host
// tries them: ecr-sim serves a Posnet register, ecrctl runs jobs on it.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tools/ecrctl/ecrctl_runner.h"

namespace {

using orv::test::ecrctl::Contains;
using orv::test::ecrctl::Result;
using orv::test::ecrctl::RunEcrctl;

const std::string kSimulator = std::string(ORVANTA_BINARY_DIR) + "/tools/ecr-sim";

// ecr-sim as a child process; Start returns the line naming the port.
class SimulatorChild {
public:
    std::string Start(std::vector<std::string> args) {
        int fds[2];
        if (pipe(fds) != 0) return {};
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
        posix_spawn_file_actions_addclose(&fa, fds[0]);
        args.insert(args.begin(), kSimulator);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const int rc = posix_spawn(&m_pid, kSimulator.c_str(), &fa, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&fa);
        close(fds[1]);
        m_out = fdopen(fds[0], "r");
        char line[256] = {};
        if (rc != 0 || !m_out || !std::fgets(line, sizeof line, m_out)) return {};
        std::string s = line;
        if (!s.empty() && s.back() == '\n') s.pop_back();
        return s;
    }
    ~SimulatorChild() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_out) std::fclose(m_out);
    }

private:
    pid_t m_pid = -1;
    FILE* m_out = nullptr;
};

// A goods file for the simulator; removed again by the destructor.
struct GoodsFile {
    char path[32] = "/tmp/posnet_goods_XXXXXX";
    explicit GoodsFile(const std::string& lines) {
        const int fd = mkstemp(path);
        if (fd >= 0) close(fd);
        std::ofstream(path) << lines;
    }
    ~GoodsFile() { unlink(path); }
};

// Points the port's variable at the simulator while it lives.
struct PortVariable {
    std::string name;
    std::string saved;
    bool had = false;
    PortVariable(int port, const std::string& line) : name("ECR_COM" + std::to_string(port)) {
        const char* old = std::getenv(name.c_str());
        had = old != nullptr;
        saved = had ? old : "";
        setenv(name.c_str(), line.substr(name.size() + 1).c_str(), 1);
    }
    ~PortVariable() {
        if (had)
            setenv(name.c_str(), saved.c_str(), 1);
        else
            unsetenv(name.c_str());
    }
};

TEST(PosnetTools, EcrctlAgainstTheSimulator) {
    if (access(kSimulator.c_str(), X_OK) != 0 || access(orv::test::ecrctl::kEcrctl.c_str(), X_OK) != 0)
        GTEST_SKIP() << "ecr-sim or ecrctl is not built";
    GoodsFile goods("number;code;name;vat;dept;price\n1;5901234123457;Mąka tortowa;1;0;2.99\n2;;Kawa;2;0;17.50\n");
    SimulatorChild sim;
    const std::string line = sim.Start({"--device", "perfekt", "--type", "62", "--port", "12", "--goods", goods.path});
    ASSERT_EQ(line.rfind("ECR_COM12=/dev/pts/", 0), 0u) << line;
    PortVariable variable(12, line);

    Result all = RunEcrctl({"--type", "62", "--port", "12", "read-plu-all", "--csv-out", "--quiet"});
    EXPECT_EQ(all.status, 0) << all.err;
    EXPECT_TRUE(Contains(all.out, "Mąka tortowa")) << all.out;
    EXPECT_TRUE(Contains(all.out, "17.50")) << all.out;

    Result vat = RunEcrctl({"--type", "62", "--port", "12", "read-vat"});
    EXPECT_EQ(vat.status, 0) << vat.err;
    EXPECT_TRUE(Contains(vat.out, "A      23.00")) << vat.out;

    Result dept = RunEcrctl({"--type", "62", "--port", "12", "read-dept"});
    EXPECT_EQ(dept.status, 0) << dept.err;
    EXPECT_TRUE(Contains(dept.out, "Ogólny")) << dept.out;

    // No units on this register: the job fails with 25.
    Result units = RunEcrctl({"--type", "62", "--port", "12", "read-units"});
    EXPECT_EQ(units.status, 1) << units.err;
    EXPECT_TRUE(Contains(units.err, "25")) << units.err;
}

TEST(PosnetTools, EcrctlAgainstTheSimulatedPosnetEcr) {
    if (access(kSimulator.c_str(), X_OK) != 0 || access(orv::test::ecrctl::kEcrctl.c_str(), X_OK) != 0)
        GTEST_SKIP() << "ecr-sim or ecrctl is not built";
    GoodsFile goods("1;5901234123457;Mąka tortowa;1;2;2.99\n");
    SimulatorChild sim;
    const std::string line = sim.Start({"--device", "posnet-ecr", "--port", "13", "--goods", goods.path});
    ASSERT_EQ(line.rfind("ECR_COM13=/dev/pts/", 0), 0u) << line;
    PortVariable variable(13, line);

    Result all = RunEcrctl({"--type", "21", "--port", "13", "read-plu-all", "--csv-out", "--quiet"});
    EXPECT_EQ(all.status, 0) << all.err;
    EXPECT_TRUE(Contains(all.out, "Mąka tortowa")) << all.out;
    EXPECT_TRUE(Contains(all.out, "2.99")) << all.out;

    Result clear = RunEcrctl({"--type", "21", "--port", "13", "clear-sales"});
    EXPECT_EQ(clear.status, 1) << clear.err;
    EXPECT_TRUE(Contains(clear.err, "25")) << clear.err;
}

}  // namespace
