// The job framework cases that work through the system itself: the sale
// log in a temporary directory named by TMPDIR, and a real serial line on a
// pseudo-terminal.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "job/job_framework_fixture.h"
#include "sim/emulator_base.h"

using orv::test::CFakeLogic;
using orv::test::Host;
using orv::test::JobFramework;
using orv::test::kPort;
using orv::test::RunJob;

namespace {

// ---- the sale log of job 1 ----

TEST_F(JobFramework, SaleReadWritesTheSaleLogHeader) {
    char dirTemplate[] = "/tmp/orv_salelog_XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    const std::string dir = dirTemplate;
    const char* oldTmp = std::getenv("TMPDIR");
    std::string saved = oldTmp ? oldTmp : "";
    setenv("TMPDIR", dir.c_str(), 1);

    ASSERT_TRUE(Run(1));

    if (oldTmp) setenv("TMPDIR", saved.c_str(), 1); else unsetenv("TMPDIR");
    std::string logName;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (std::strncmp(e->d_name, "XWSALE_", 7) == 0) logName = dir + "/" + e->d_name;
        closedir(d);
    }
    ASSERT_FALSE(logName.empty());
    std::ifstream in(logName, std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content.substr(0, 8), std::string("#1\r\n#\r\n#"));
    std::system(("rm -rf '" + dir + "'").c_str());
}

// ---- the port after a failed open ----

// An open that gets the line but then fails (wrong device): the port must
// not stay held, or the next job finds it in use.
class LineThenFail : public CFakeLogic {
public:
    int Open(int port, const EcrDeviceRecord* record) override {
        CFakeLogic::Open(port, record);
        if (Protocol().Open(port, 9600) != 1) {
            SetError(Protocol().m_nError, "line");
            return 0;
        }
        SetError(9999, "no answer");
        return 0;
    }
};

TEST_F(JobFramework, FailedOpenLeavesTheSerialPortAndTheSocketFree) {
    orv::test::EmulatorBase device(kPort);
    device.Start();
    ASSERT_EQ(socket.Create(), 0);
    ASSERT_TRUE(socket.Handle().IsOpen());
    LineThenFail failing;
    EXPECT_FALSE(RunJob(failing, 15, &serial, &socket));
    EXPECT_EQ(failing.GetErrorCode(), 9999);
    // The port is free again, and the socket closed.
    EXPECT_EQ(serial.Open(kPort, 1024, 1024, 9600, 8, 'N', 1), 0);
    serial.Close(kPort, 0);
    EXPECT_FALSE(socket.Handle().IsOpen());
    device.Stop();
}

}  // namespace
