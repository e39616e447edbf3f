// The traffic dumps of the Elzab link, and the device simulator as a person
// integrating a host uses it: start it, read the port line, run jobs, stop it.
#include "elzab_fixture.h"
#include "fakes/simulator_process.h"

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace orv::test {
namespace {

bool AnyFileIs(const std::map<std::string, std::string>& files, const std::string& content) {
    for (const auto& [name, text] : files)
        if (text == content) return true;
    return false;
}

class ElzabToolsTest : public ElzabTest {};

// Commands, data blocks and replies land in the dumps; a reply that never
// came leaves an empty file.
TEST_F(ElzabToolsTest, TrafficDumps) {
    ScratchTmp tmp;
    Register(27, 13);
    orv::platform::SetTimeScale(0.05);
    reg->AddPlu(1, "Chleb", 1, 1, 3.5);
    EcrItemRecord q = Item(1, "", 0, 0, 0);
    EXPECT_EQ(Run([&] { return EcrReadPLU(&device, &q, 1, RecordingHost::OnItemRead); }), 0);
    auto sent = tmp.Files("XWS_");
    auto received = tmp.Files("XWR_");
    EXPECT_TRUE(AnyFileIs(sent, "\x1B\xC0"));
    EXPECT_TRUE(AnyFileIs(sent, "\x1B\xAC"));
    EXPECT_TRUE(AnyFileIs(sent, std::string("\x01\x00", 2)));
    EXPECT_TRUE(AnyFileIs(received, "\x06"));
    EXPECT_TRUE(AnyFileIs(received, std::string(1, '\0')));   // the status byte
    EXPECT_TRUE(AnyFileIs(tmp.Files("XWT_"), "00"));          // the register number

    reg->QueueSilence(0xD0);
    EXPECT_EQ(Run([&] { return EcrReadVAT(&device, RecordingHost::OnVat); }), 100);
    EXPECT_TRUE(AnyFileIs(tmp.Files("XWR_"), ""));
}


TEST_F(ElzabToolsTest, SimulatorServesJobsUntilSignalled) {
    if (access(SimulatorPath().c_str(), X_OK) != 0) GTEST_SKIP() << "ecr-sim is not built";
    ScratchTmp tmp;
    std::string goods = std::string(std::getenv("TMPDIR")) + "/goods.csv";
    {
        std::ofstream f(goods);
        f << "number;code;name;VAT group;department;price;unit\n"
             "1;5901234123457;Chleb \xC5\xBCytni;2;1;4.50;1\n"   // UTF-8 "żytni"
             "7;;Mleko;2;1;3,29;2\n"
             "9;;Grupa 300;300;1;1.00\n"   // a group beyond its byte: skipped, not wrapped
             "10;;Jednostka 256;1;1;1.00;256\n"
             "20000;;Poza pojemnoscia;1;1;1.00\n";
    }
    for (int sig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(sig);
        Simulator sim;
        std::string line = sim.Start({"--port", "3", "--type", "27", "--goods", goods});
        ASSERT_EQ(line.rfind("ECR_COM3=/dev/pts/", 0), 0u) << line;
        const char* old = std::getenv("ECR_COM3");
        std::string saved = old ? old : "";
        setenv("ECR_COM3", line.substr(9).c_str(), 1);

        Host().Reset();
        device = DeviceRecord(27, 3, 9600, 0);
        EcrItemRecord q[] = {Item(1, "", 0, 0, 0), Item(9, "", 0, 0, 0), Item(10, "", 0, 0, 0), Item(7, "", 0, 0, 0)};
        EXPECT_EQ(Run([&] { return EcrReadPLU(&device, q, 4, RecordingHost::OnItemRead); }), 0) << ErrMsg();
        auto items = Host().Items();
        ASSERT_EQ(items.size(), 2u);
        auto missing = Host().EventsWithCode(ECR_EVENT_DEVICE_ERROR);
        ASSERT_EQ(missing.size(), 2u);
        EXPECT_EQ(missing[0].value, 202);
        EXPECT_EQ(missing[1].value, 202);
        EXPECT_EQ(std::string(items[0].name).substr(0, 11), "Chleb \xBFytni");   // code page 1250
        EXPECT_STREQ(items[0].code, "5901234123457");
        EXPECT_DOUBLE_EQ(Value(items[1].price), 3.29);
        EXPECT_EQ(items[1].unit, 2u);
        EcrItemRecord added = Item(8, "Nowy", 1, 1, 1.0);
        EXPECT_EQ(Run([&] { return EcrPgmPLU(&device, &added, 1, RecordingHost::OnItemProgram); }), 0);

        EXPECT_EQ(sim.Stop(sig), 0);
        if (old)
            setenv("ECR_COM3", saved.c_str(), 1);
        else
            unsetenv("ECR_COM3");
    }
}

TEST_F(ElzabToolsTest, SimulatorRefusesUnknownDevices) {
    if (access(SimulatorPath().c_str(), X_OK) != 0) GTEST_SKIP() << "ecr-sim is not built";
    std::string cmd = SimulatorPath() + " --device nosuch >/dev/null 2>&1";
    int status = std::system(cmd.c_str());
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
}

// Runs the simulator to its end; its exit status and what it printed on
// standard output and standard error.
struct SimulatorRun {
    int status = -1;
    std::string out, err;
};
SimulatorRun RunSimulator(const std::string& args) {
    SimulatorRun r;
    char errPath[] = "/tmp/ecr_sim_err_XXXXXX";
    const int fd = mkstemp(errPath);
    if (fd < 0) return r;
    close(fd);
    FILE* p = popen((SimulatorPath() + " " + args + " 2>" + errPath).c_str(), "r");
    if (!p) return r;
    char buf[512];
    while (fgets(buf, sizeof buf, p)) r.out += buf;
    const int status = pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(errPath);
    r.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    unlink(errPath);
    return r;
}

TEST_F(ElzabToolsTest, SimulatorHelpGoesToStandardOutputAndExplainsEveryOption) {
    if (access(SimulatorPath().c_str(), X_OK) != 0) GTEST_SKIP() << "ecr-sim is not built";
    const SimulatorRun r = RunSimulator("--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    for (const char* option : {"--device", "--type", "--model", "--port", "--register", "--goods", "--delay", "--help",
                               "elzab", "elcom50", "dsa"})
        EXPECT_NE(r.out.find(option), std::string::npos) << option << " in\n" << r.out;
}

TEST_F(ElzabToolsTest, SimulatorRefusesATypeItsDeviceDoesNotServe) {
    if (access(SimulatorPath().c_str(), X_OK) != 0) GTEST_SKIP() << "ecr-sim is not built";
    const SimulatorRun elcom = RunSimulator("--device elcom50 --type 27");
    EXPECT_EQ(elcom.status, 2);
    EXPECT_EQ(elcom.out, "");   // no port line: nothing was started
    EXPECT_NE(elcom.err.find("does not serve type 27; it serves types 16, 17"), std::string::npos) << elcom.err;
    const SimulatorRun elzab = RunSimulator("--device elzab --type 16");
    EXPECT_EQ(elzab.status, 2);
    EXPECT_NE(elzab.err.find("27"), std::string::npos) << elzab.err;
    const SimulatorRun dsa = RunSimulator("--device dsa");
    EXPECT_EQ(dsa.status, 2);
    EXPECT_NE(dsa.err.find("needs --type, one of: 13, 14, 15, 36, 37, 40"), std::string::npos) << dsa.err;
}

}  // namespace
}  // namespace orv::test
