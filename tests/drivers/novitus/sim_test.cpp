// ecr-sim's Novitus registers as a person integrating a host uses them: the
// Tango register on a pseudo-terminal, the Next register on 127.0.0.1:5001.
#include <cstdlib>
#include <fstream>
#include <string>

#include "fakes/simulator_process.h"
#include "orvanta/ecr.h"
#include "tango_fixture.h"
#include "util/cp1250.h"

namespace orv::test {
namespace {

class TangoSimulator : public ::testing::Test {
protected:
    void SetUp() override {
        if (access(SimulatorPath().c_str(), X_OK) != 0) GTEST_SKIP() << "ecr-sim is not built";
        Host().Reset();
        ASSERT_EQ(EcrCreate(nullptr), 1);
        m_goods = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/tango_goods_" +
                  std::to_string(getpid()) + ".csv";
        std::ofstream f(m_goods);
        f << "number;code;name;VAT group;department;price\n"
             "1;5901234123457;Chleb \xC5\xBCytni;2;1;4.50\n"
             "7;;Mleko;9;1;3,29\n";   // a VAT group without a letter: skipped
    }
    void TearDown() override { std::remove(m_goods.c_str()); }
    // Runs a job through the exports; its error code.
    int ReadAll(const EcrDeviceRecord& dev) {
        Host().Reset();
        EXPECT_EQ(EcrReadAllPLU(&dev, &RecordingHost::OnItemRead), 1);
        EXPECT_TRUE(WaitEcrDone(30000));
        return EcrError();
    }
    std::string m_goods;
};

TEST_F(TangoSimulator, TangoOnAPseudoTerminal) {
    Simulator sim;
    const std::string line = sim.Start({"--device", "tango", "--port", "7", "--goods", m_goods});
    ASSERT_EQ(line.rfind("ECR_COM7=/dev/pts/", 0), 0u) << line;
    setenv("ECR_COM7", line.substr(9).c_str(), 1);
    EXPECT_EQ(ReadAll(DeviceRecord(12, 7, 9600)), 0) << Utf8(EcrErrMsg());
    ASSERT_EQ(Host().Items().size(), 1u);
    EXPECT_STREQ(Host().Items()[0].name, "Chleb \xBFytni");
    EXPECT_EQ(sim.Stop(SIGTERM), 0);
    unsetenv("ECR_COM7");
}

TEST_F(TangoSimulator, NextOnTcp) {
    Simulator sim;
    const std::string line = sim.Start({"--device", "next", "--goods", m_goods});
    if (line.empty()) GTEST_SKIP() << "127.0.0.1:5001 is in use";
    ASSERT_EQ(line, "PORT=2130706433");
    EXPECT_EQ(ReadAll(DeviceRecord(86, 2130706433, 0, 11)), 0) << Utf8(EcrErrMsg());
    ASSERT_EQ(Host().Items().size(), 1u);
    EXPECT_STREQ(Host().Items()[0].code, "5901234123457");
    EXPECT_EQ(sim.Stop(SIGINT), 0);
}

}  // namespace
}  // namespace orv::test
