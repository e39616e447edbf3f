// ecrctl with hostile input: CSV files of random garbage, numbers out of
// their fields' range, prices with trailing text, byte-order marks, files
// in the Windows code page, odd options. A bad input is a usage error
// (status 2) and never a silently different record; what is valid reaches
// the device unchanged (checked through the Proxima scale's export file).
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "platform/process/work_dir.h"
#include "tools/ecrctl/ecrctl_runner.h"

namespace {

using namespace orv::test::ecrctl;
using orv::test::WorkDir;

std::string Joined(const std::vector<std::string>& args) {
    std::string out;
    for (const auto& a : args) out += a + " ";
    return out;
}

// Type 51 lies outside the device table: the job is refused at once after
// the input was read, so input handling is tested without any device.
constexpr const char* kNoDevice = "51";

TEST(EcrctlInput, NumbersAndPricesThatDoNotFitAreUsageErrors) {
    WorkDir dir;
    const struct {
        const char* what;
        std::string csv;
    } files[] = {
        {"item number above 32 bits", "4294967297;;Mleko;1;1;3.49\n"},
        {"negative item number", "-1;;Mleko;1;1;3.49\n"},
        {"VAT group above 32 bits", "1;;Mleko;4294967296;1;3.49\n"},
        {"department above 32 bits", "1;;Mleko;1;99999999999999999999;3.49\n"},
        {"unit above 32 bits", "1;;Mleko;1;1;3.49;4294967296\n"},
        {"price with a thousands separator", "1;;Mleko;1;1;1,234.56\n"},
        {"price with a currency", "1;;Mleko;1;1;3.49 zl\n"},
        {"price not a number", "1;;Mleko;1;1;nan\n"},
        {"price beyond a double", "1;;Mleko;1;1;1e999\n"},
        {"number with a zero byte in it", std::string("1;;Mleko;1;1;3.49\n2") + '\0' + ";;Ser;1;1;1.00\n"},
        {"second line without a number", "1;;Mleko;1;1;3.49\n;;Ser;1;1;1.00\n"},
        {"quote left open", "1;;\"Mleko;1;1;3.49\n"},
    };
    for (const auto& f : files) {
        SCOPED_TRACE(f.what);
        dir.Write("goods.csv", f.csv);
        const Result r = RunEcrctl({"--type", kNoDevice, "program-plu", "--csv", dir.File("goods.csv"), "--quiet"});
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_TRUE(Contains(r.err, "ecrctl: ")) << r.err;
    }
    const std::vector<std::vector<std::string>> options = {
        {"--type", "4294967297", "read-vat"},
        {"--type", "51", "--port", "99999999999", "read-vat"},
        {"--type", "51", "--baud", "-4294967296", "read-vat"},
        {"--type", "51", "--flags", "0x1FFFFFFFF", "read-vat"},
        {"--type", "51", "read-plu", "--numbers", "1-4294967296"},
        {"--type", "51", "read-plu", "--numbers", "-9223372036854775808-9223372036854775807"},
        {"--type", "51", "read-plu", "--numbers", "5-1"},
        {"--type", "51", "read-plu", "--numbers", ",,,"},
        {"--type", "51", "read-plu", "--numbers", "1-"},
        {"--type", "51", "--port", "1.2.3.4.5", "read-vat"},
        {"--type", "51", "--port", "1.2.3", "read-vat"},
        {"--type", "51", "--port", "-1.2.3.4", "read-vat"},
        {"--type", "51", "--type"},
        {"--type", "", "read-vat"},
        {"--type", "51", "program-plu", "--csv", "/dev/zero"},   // endless, no lines
        {"--type", "51", "program-plu", "--csv", "/tmp"},
    };
    for (const auto& args : options) {
        SCOPED_TRACE(Joined(args));
        const Result r = RunEcrctl(args);
        EXPECT_EQ(r.status, 2) << r.err;
    }
    // Values that fit are taken: a word may hold the same 32 bits unsigned.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--type", "51", "--port", "3232235826", "--quiet", "read-vat"},
          std::vector<std::string>{"--type", "51", "--flags", "-1", "--quiet", "read-vat"},
          std::vector<std::string>{"--type", "51", "--quiet", "read-plu", "--numbers", "0,4294967295"}}) {
        SCOPED_TRACE(Joined(args));
        const Result r = RunEcrctl(args);
        EXPECT_EQ(r.status, 1) << r.err;   // refused by the library, not by ecrctl
    }
}

// Seeded garbage: ecrctl never crashes, and ends either with a usage error
// or with the library's refusal of the device type.
TEST(EcrctlInput, RandomGarbageFilesEndCleanly) {
    WorkDir dir;
    const char* const pieces[] = {";", ",", "\"", "\"\"", "\n", "\r\n", "\r", "#", "1", "-", "0x", "4294967295",
                                  "3.49", "1e308", "\xEF\xBB\xBF", "\xC5\x82", "\xEA", "\xF0\x9F", "\x00", " ",
                                  "\t", "Mleko", "" /* 300 x */};
    const size_t count = sizeof pieces / sizeof pieces[0];
    const char* const jobs[] = {"program-plu", "program-dept", "program-units", "delete-plu", "update-plu"};
    for (uint32_t seed = 1; seed <= 60; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        std::string csv;
        for (int i = 0, n = 1 + static_cast<int>(rng() % 60); i < n; ++i) {
            const size_t k = rng() % count;
            if (k == 19) csv += std::string(1, '\0');
            else if (k == count - 1) csv += std::string(300, 'x');
            else csv += pieces[k];
        }
        dir.Write("in.csv", csv);
        const auto start = std::chrono::steady_clock::now();
        const Result r = RunEcrctl({"--type", kNoDevice, jobs[seed % 5], "--csv", dir.File("in.csv"), "--quiet"});
        EXPECT_EQ(r.signal, 0);
        EXPECT_TRUE(r.status == 1 || r.status == 2) << r.status << " " << r.err;
        EXPECT_TRUE(r.status != 2 || Contains(r.err, "ecrctl: ")) << r.err;
        EXPECT_TRUE(r.status != 1 || Contains(r.err, "the job was not started")) << r.err;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    }
}

// A file as spreadsheets write it: a byte-order mark before the first data
// line (no header), UTF-8 and Windows code page names side by side, a
// comma-separated line whose quoted name holds a ';'. Every line reaches
// the scale, and the names byte for byte in CP1250.
TEST(EcrctlInput, SpreadsheetFilesReachTheScaleUnchanged) {
    WorkDir dir;
    dir.InstallFake("wmplw.exe");
    dir.Write("goods.csv",
              "\xEF\xBB\xBF" "1;;M\xC4\x99ka;1;1;3.49\r\n"
              "2;;M\xEAka \xB3\xF3\x64\x9F;1;2;1.00\r\n"
              "3,,\"a;b\",1,3,2.50\r\n");
    const Result r = RunEcrctl({"--type", "113", "--port", "3232235826", "program-plu", "--csv", dir.File("goods.csv"),
                                "--quiet"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string exported = dir.Read("MEDESA.EXP").value_or("");
    ASSERT_EQ(exported.size(), 3u * 140u) << exported;
    const struct {
        const char* number;
        std::string name;
    } expected[] = {{"00000001", "M\xEAka"}, {"00000002", "M\xEAka \xB3\xF3\x64\x9F"}, {"00000003", "a;b"}};
    for (size_t i = 0; i < 3; ++i) {
        const std::string line = exported.substr(i * 140, 140);
        EXPECT_EQ(line.substr(5, 8), expected[i].number) << line;
        std::string name = expected[i].name;
        name.resize(24, ' ');
        EXPECT_EQ(line.substr(14, 24), name) << line;
    }
    EXPECT_TRUE(Contains(dir.Read("pargat.ini").value_or(""), "IP_DESTI=192.168.1.50\r\n"));
}

// The job's code follows its last record; a record refused before it still
// makes the run a failure for a script.
TEST(EcrctlInput, ARefusedRecordIsNoSuccess) {
    WorkDir dir;
    dir.InstallFake("wmplw.exe");
    dir.Write("goods.csv", "0;;Zero;1;1;1.00\n2;;Dwa;1;1;2.00\n");
    const Result r = RunEcrctl({"--type", "113", "program-plu", "--csv", dir.File("goods.csv"), "--quiet"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(Contains(r.out, "item 0 refused: 105 PROXIMA TXT")) << r.out;
    EXPECT_TRUE(Contains(r.err, "1 record was refused")) << r.err;
    EXPECT_EQ(dir.Read("MEDESA.EXP").value_or("").size(), 140u);   // the other one was sent
}

// Ctrl-C while the scale's transfer program hangs: the program is ended and
// the run fails with -7, soon.
TEST(EcrctlInput, CtrlCEndsAHangingTransferProgram) {
    WorkDir dir;
    dir.InstallFake("wmplw.exe");
    dir.Write("fake_sleep", "60");
    dir.Write("goods.csv", "1;;Ser;1;1;1.00\n");
    int program = 0;
    std::chrono::steady_clock::time_point interrupted{};
    const Result r = RunEcrctl({"--type", "113", "program-plu", "--csv", dir.File("goods.csv"), "--quiet"},
                               [&](pid_t pid) {
                                   program = dir.WaitForPid();
                                   interrupted = std::chrono::steady_clock::now();
                                   ::kill(pid, SIGINT);
                               });
    EXPECT_LT(std::chrono::steady_clock::now() - interrupted, std::chrono::seconds(8));   // 3 s grace at most
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(Contains(r.err, "error -7")) << r.err;
    ASSERT_GT(program, 0);
    EXPECT_TRUE(orv::test::ProcessGone(program));
}

}  // namespace
