// ecrctl, the example host, run as a separate program against the shared
// library: its help, its usage errors, a family this version does not
// serve, a whole job against an emulated register, Ctrl-C, and a run after
// Ctrl-C against a register still answering the broken-off job.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "sim/elcom50/elcom50_emulator.h"
#include "sim/elzab/elzab_emulator.h"
#include "tools/ecrctl/ecrctl_runner.h"

extern char** environ;

namespace {

using namespace orv::test::ecrctl;

TEST(Ecrctl, HelpDocumentsEveryJob) {
    Result r = RunEcrctl({"--help"});
    ASSERT_EQ(r.status, 0);
    for (const char* job : {"read-sales", "clear-sales", "read-plu-all", "read-plu", "program-plu", "update-plu",
                            "delete-plu", "delete-plu-all", "read-dept", "read-dept-list", "program-dept",
                            "read-units", "program-units", "read-status", "read-vat", "read-from-plu",
                            "delete-from-plu", "program-barcode"})
        EXPECT_TRUE(Contains(r.out, std::string("  ") + job + " ")) << job;
    for (const char* option : {"--type", "--port", "--baud", "--kind", "--address", "--flags", "--csv-out",
                               "--csv", "--numbers", "Ctrl-C"})
        EXPECT_TRUE(Contains(r.out, option)) << option;
    // How a list of numbers is written, ranges included.
    EXPECT_TRUE(Contains(r.out, "1,5,10-20")) << r.out;
}

TEST(Ecrctl, UnservedFamilyEndsWithTheClearErrorAndAFailureStatus) {
    Result r = RunEcrctl({"--type", "64", "--port", "2", "read-vat"});   // Elcom: not served
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "999999")) << r.err;
    EXPECT_TRUE(Contains(r.err, "Brak obsługi urządzenia tego typu w tej wersji biblioteki")) << r.err;
    // The events of the refused start are shown too.
    EXPECT_TRUE(Contains(r.err, "(6)")) << r.err;
    EXPECT_TRUE(Contains(r.err, "(8)")) << r.err;
}

TEST(Ecrctl, TypeOutsideTheTableFails) {
    Result r = RunEcrctl({"--type", "51", "read-status", "--quiet"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "System kas fiskalnych - błąd systemu !")) << r.err;
}

TEST(Ecrctl, NumbersWithALeadingZeroAreDecimal) {
    // 051 is type 51 (outside the table), not 41 read as octal (a scale).
    Result r = RunEcrctl({"--type", "051", "--port", "09", "read-vat", "--quiet"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "System kas fiskalnych - błąd systemu !")) << r.err;
    // Hexadecimal stays available with 0x.
    r = RunEcrctl({"--type", "0x40", "--flags", "0x2", "read-vat", "--quiet"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "Brak obsługi urządzenia tego typu w tej wersji biblioteki")) << r.err;
}

TEST(Ecrctl, UsageErrors) {
    const std::vector<std::vector<std::string>> cases = {
        {"read-vat"},                                   // no type
        {"--type", "1"},                                // no job
        {"--type", "1", "read-vat", "read-status"},     // two jobs
        {"--type", "1", "make-coffee"},                 // unknown job
        {"--type", "x1", "read-vat"},                   // bad number
        {"--type", "1", "--bogus", "read-vat"},         // unknown option
        {"--type", "1", "program-plu"},                 // no CSV file
        {"--type", "1", "program-plu", "--csv", "/nonexistent/goods.csv"},
        {"--type", "1", "read-plu"},                    // no numbers
        {"--type", "1", "--port", "300.1.1.1", "read-vat"},
        // Options the job does not take are refused, not ignored.
        {"--type", "1", "read-plu-all", "--csv", "goods.csv"},
        {"--type", "1", "read-vat", "--numbers", "1-3"},
        {"--type", "1", "read-plu", "--numbers", "1", "--csv", "goods.csv"},
        {"--type", "1", "program-plu", "--csv", "goods.csv", "--numbers", "1"},
        {"--type", "1", "delete-plu-all", "--numbers", "1"},
    };
    for (const auto& args : cases) {
        std::string joined;
        for (const auto& a : args) joined += a + " ";
        SCOPED_TRACE(joined);
        Result r = RunEcrctl(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(Contains(r.err, "ecrctl: ")) << r.err;
    }
}

class EcrctlRegister : public ::testing::Test {
protected:
    static constexpr int kPort = 11;
    void SetUp() override {
        reg.Start();
        reg.SetTaxGroup(1, "23.00", 1);
        reg.SetTaxGroup(2, "8.00", 1);
    }
    std::string port = std::to_string(kPort);
    orv::test::Elcom50Emulator reg{kPort, 24};
};

TEST_F(EcrctlRegister, ProgramsGoodsFromCsvAndReadsThemBack) {
    char path[] = "/tmp/ecrctl_goods_XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    {
        std::ofstream csv(path);
        csv << "number;code;name;vat;dept;price;unit\n"
            << "1;5901234123457;Mleko łaciate;1;1;3.49;1\n"
            << "2;;Chleb;2;1;4,20;1\n";
    }
    Result pgm = RunEcrctl({"--type", "16", "--port", port, "program-plu", "--csv", path});
    unlink(path);
    ASSERT_EQ(pgm.status, 0) << pgm.err;
    EXPECT_TRUE(Contains(pgm.err, "Programowanie danych o towarach")) << pgm.err;
    EXPECT_TRUE(Contains(pgm.err, "100%")) << pgm.err;
    EXPECT_TRUE(Contains(pgm.err, "ecrctl: done")) << pgm.err;
    EXPECT_TRUE(reg.Plu(1).has_value());
    EXPECT_TRUE(reg.Plu(2).has_value());

    Result read = RunEcrctl({"--type", "16", "--port", port, "read-plu", "--numbers", "1-2", "--csv-out", "--quiet"});
    ASSERT_EQ(read.status, 0) << read.err;
    EXPECT_TRUE(Contains(read.out, "number;code;name;vat;dept;price;unit\n")) << read.out;
    EXPECT_TRUE(Contains(read.out, "Mleko łaciate")) << read.out;
    EXPECT_TRUE(Contains(read.out, "3.49")) << read.out;
    EXPECT_TRUE(Contains(read.out, "Chleb")) << read.out;
    EXPECT_TRUE(Contains(read.out, "4.20")) << read.out;
    // The register pads names to its width; the CSV carries them without the blanks.
    EXPECT_TRUE(Contains(read.out, ";Mleko łaciate;1;1;3.49;1\n")) << read.out;
    EXPECT_TRUE(Contains(read.out, ";Chleb;2;1;4.20;1\n")) << read.out;
}

// A read that fails before any record came prints no empty table, only the
// failure.
TEST_F(EcrctlRegister, AFailedReadPrintsNoEmptyTable) {
    reg.Inject({"GETREC", "", orv::test::Elcom50Emulator::Answer::WrongHead, "", -1});
    Result r = RunEcrctl({"--type", "16", "--port", port, "read-plu-all", "--quiet"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(Contains(r.err, "the job failed")) << r.err;
    EXPECT_FALSE(Contains(r.out, "number")) << r.out;
    EXPECT_FALSE(Contains(r.out, "records)")) << r.out;
}

TEST_F(EcrctlRegister, ReadsVatRatesAsATable) {
    Result r = RunEcrctl({"--type", "17", "--port", port, "read-vat"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "A      23.00")) << r.out;
    EXPECT_TRUE(Contains(r.out, "B      8.00")) << r.out;
    EXPECT_TRUE(Contains(r.out, "(8 records)")) << r.out;
}

TEST_F(EcrctlRegister, CtrlCBreaksTheJobOff) {
    // The register stops answering once the goods are being read.
    reg.Inject({"GETREC", "", orv::test::Elcom50Emulator::Answer::Silence, "", -1});
    auto t0 = std::chrono::steady_clock::now();
    Result r = RunEcrctl({"--type", "16", "--port", port, "read-plu-all"}, [&](pid_t pid) {
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (reg.CountRequests("GETREC") == 0 && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        kill(pid, SIGINT);
    });
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(Contains(r.err, "breaking the job off")) << r.err;
    EXPECT_TRUE(Contains(r.err, "error -7")) << r.err;
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
}

// A register that answers 200 ms late: Ctrl-C breaks a goods read off
// while an answer is on its way, and ecrctl at once run again reads the
// register's own rates, not the answer left over from the first run.
TEST(EcrctlSlowRegister, ARunAfterCtrlCPrintsTheRegistersTrueData) {
    constexpr int kElzabPort = 12;
    orv::test::ElzabEmulator reg(kElzabPort, 13);   // rates 23, 8, 5, 0
    for (uint32_t n = 1; n <= 30; ++n) reg.AddPlu(n, "Towar " + std::to_string(n), 1, 1, 1.0 + n);
    reg.SetAnswerDelay(200);
    reg.Start();
    const std::string port = std::to_string(kElzabPort);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        reg.ClearFrames();
        Result broken = RunEcrctl({"--type", "27", "--port", port, "read-plu-all"}, [&](pid_t pid) {
            auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            auto reads = [&] {
                int n = 0;
                for (uint8_t c : reg.Commands()) n += c == 0xAC;
                return n;
            };
            while (reads() < 2 + round && std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            kill(pid, SIGINT);
        });
        EXPECT_EQ(broken.status, 1) << broken.err;
        EXPECT_TRUE(Contains(broken.err, "error -7")) << broken.err;

        Result r = RunEcrctl({"--type", "27", "--port", port, "read-vat"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(Contains(r.out, "A      23.00")) << r.out;
        EXPECT_TRUE(Contains(r.out, "B      8.00")) << r.out;
        EXPECT_TRUE(Contains(r.out, "C      5.00")) << r.out;
    }
}

}  // namespace
