// Proxima scales: pargat.ini, the 138-character export lines, refusals,
// the transfer program's arguments and working directory, and whatever else
// may stand under the two file names.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "drivers/proxima/cmpr_ecr.h"
#include "drivers/proxima/cproxima_txt.h"
#include "drivers/common/scale_file_job.h"
#include "drivers/cas/scales_fixture.h"

namespace {

using namespace orv::test;

const char* const kSettings =
    "IP_DESTI=192.168.1.50\r\n"
    "PORT_DESTI=2003\r\n"
    "PORT_LOCAL=2003\r\n"
    "REINTENTS=1\r\n"
    "TIMEOUT=3\r\n"
    "DISPLAY=1\r\n"
    "DEBUG=0\r\n"
    "INGREDIENTS=20\r\n";

EcrItemRecord ProximaItem(uint32_t plu, const char* name, double price, double special, uint32_t dept, uint32_t tax,
                          const char* barcode) {
    EcrItemRecord r = ScaleItem(plu, name, price, dept, barcode);
    r.price2 = special;
    r.vat_group = tax;
    return r;
}

TEST(ProximaLines, LayoutOfTheExportLine) {
    const struct {
        EcrItemRecord item;
        const char* line;
    } cases[] = {
        {ProximaItem(12, "Jab\xB3ka", 3.49, 2.99, 5, 2, "12345678"),
         "T 01 00000012 Jab\xB3ka                   000349 0 000299 000000 000000 000012 00 05 1 0 00 0 0 09 01 "
         "000000 000000 24 13 01234567800000 00 1"},
        {ProximaItem(10000, "Kie\xB3\x62\x61sa \x9Cl\xB9ska w\xEA\x64zona extra", 9999.99, 0, 99, 4, "5900000000001234"),
         "T 01 00010000 Kie\xB3\x62\x61sa \x9Cl\xB9ska w\xEA\x64zona  999999 0 000000 000000 000000 010000 00 99 3 0 00 "
         "0 0 09 01 000000 000000 24 13 05900000000001 00 1"},
        {ProximaItem(1, "A", 0, 0, 1, 0, " 77 "),
         "T 01 00000001 A                        000000 0 000000 000000 000000 000001 00 01 0 0 00 0 0 09 01 000000 "
         "000000 24 13 07700000000000 00 1"},
        {ProximaItem(2, "Tax 1", 1.005, 0.29, 10, 1, ""),
         "T 01 00000002 Tax 1                    000100 0 000029 000000 000000 000002 00 10 0 0 00 0 0 09 01 000000 "
         "000000 24 13 00000000000000 00 1"},
        {ProximaItem(3, "Tax 5\r\n", 1, 0, 2, 5, "1"),
         "T 01 00000003 Tax 5                    000100 0 000000 000000 000000 000003 00 02 0 0 00 0 0 09 01 000000 "
         "000000 24 13 01000000000000 00 1"},
    };
    for (const auto& c : cases) {
        CProximaTxt proto;
        CasPluRecord rec = CasPluFromItem(c.item);
        const std::string line = proto.BuildLine(rec);
        EXPECT_EQ(proto.m_nError, 0);
        EXPECT_EQ(line.size(), 138u);
        EXPECT_EQ(line, c.line);
    }
}

TEST(ProximaLines, Refusals) {
    const struct {
        EcrItemRecord item;
        int code;
    } cases[] = {
        {ProximaItem(0, "A", 1, 0, 1, 1, ""), 105},     {ProximaItem(10001, "A", 1, 0, 1, 1, ""), 105},
        {ProximaItem(1, "A", 10000, 0, 1, 1, ""), 109}, {ProximaItem(1, "A", 1, 10000, 1, 1, ""), 109},
        {ProximaItem(1, "A", -1, 0, 1, 1, ""), 109},    {ProximaItem(1, "A", 1, -0.5, 1, 1, ""), 109},
        {ProximaItem(1, "A", 1, 0, 0, 1, ""), 110},     {ProximaItem(1, "A", 1, 0, 100, 1, ""), 110},
        {ProximaItem(0, "A", 10000, 0, 0, 1, ""), 105},   // the PLU is checked first
    };
    for (const auto& c : cases) {
        CProximaTxt proto;
        CasPluRecord rec = CasPluFromItem(c.item);
        EXPECT_EQ(proto.WritePluLine(rec), 0);
        EXPECT_EQ(proto.m_nError, c.code) << c.item.number << " " << c.item.price << " " << c.item.department;
        EXPECT_EQ(proto.GetErrorText(c.code), "PROXIMA TXT");
    }
}

class ProximaJobs : public ScaleTest {
protected:
    CMPR_ECR logic;
};

TEST_F(ProximaJobs, ProgrammingWritesTheFilesAndRunsTheProgramInTheWorkingDirectory) {
    dir.InstallFake("wmplw.exe");
    std::vector<EcrItemRecord> items = {ProximaItem(12, "Jab\xB3ka", 3.49, 2.99, 5, 2, "12345678"),
                                        ProximaItem(13, "Zero", 1, 0, 0, 1, ""),
                                        ProximaItem(1, "A", 0, 0, 1, 0, " 77 ")};
    EXPECT_EQ(Run(logic, 113, kJobPgmPlu, &items), 0);
    EXPECT_TRUE(Succeeded());

    const auto calls = dir.Calls();
    ASSERT_EQ(calls.size(), 1u);
    const std::vector<std::string> expected = {"wmplw.exe", dir.Path(), "MEDESA.EXP"};
    EXPECT_EQ(calls[0], expected);
    EXPECT_EQ(dir.Read("call0_pargat.ini").value_or(""), kSettings);
    EXPECT_EQ(dir.Read("call0_MEDESA.EXP").value_or(""),
              "T 01 00000012 Jab\xB3ka                   000349 0 000299 000000 000000 000012 00 05 1 0 00 0 0 09 01 "
              "000000 000000 24 13 01234567800000 00 1\r\n"
              "T 01 00000001 A                        000000 0 000000 000000 000000 000001 00 01 0 0 00 0 0 09 01 "
              "000000 000000 24 13 07700000000000 00 1\r\n");
    const auto confirms = Host().Confirmations();
    ASSERT_EQ(confirms.size(), 1u);
    EXPECT_EQ(confirms[0].number, 13u);
    EXPECT_EQ(confirms[0].code, 110);
    EXPECT_EQ(confirms[0].text, "PROXIMA TXT");
}

TEST_F(ProximaJobs, ARefusedLastItemStillSendsTheOthersAndFailsTheJob) {
    dir.InstallFake("wmplw.exe");
    std::vector<EcrItemRecord> items = {ProximaItem(1, "A", 1, 0, 1, 1, ""), ProximaItem(2, "B", 1, 0, 100, 1, "")};
    EXPECT_EQ(Run(logic, 113, kJobPgmPlu, &items), 110);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_FAILED), 1);
    ASSERT_EQ(dir.Calls().size(), 1u);
    const std::string exported = dir.Read("call0_MEDESA.EXP").value_or("");
    EXPECT_EQ(exported.size(), 140u);   // one line and its CR LF
    EXPECT_EQ(exported.rfind("T 01 00000001 ", 0), 0u);
}

TEST_F(ProximaJobs, AMissingProgramFailsWith9999) {
    std::vector<EcrItemRecord> items = {ProximaItem(1, "A", 1, 0, 1, 1, "")};
    EXPECT_EQ(Run(logic, 113, kJobPgmPlu, &items), 9999);
    EXPECT_EQ(std::string(logic.GetErrorMessage()), "PROXIMA TXT");
    // The files were written all the same.
    EXPECT_EQ(dir.Read("pargat.ini").value_or(""), kSettings);
    EXPECT_EQ(dir.Read("MEDESA.EXP").value_or("").size(), 140u);
}

TEST_F(ProximaJobs, ABreakEndsAHangingProgram) {
    orv::platform::SetTimeScale(0.1);
    dir.InstallFake("wmplw.exe");
    dir.Write("fake_sleep", "60");
    std::vector<EcrItemRecord> items = {ProximaItem(1, "A", 1, 0, 1, 1, "")};
    int pid = 0;
    std::thread breaker([&] {
        pid = dir.WaitForPid();
        serial.Break();
        logic.Break();
    });
    EXPECT_EQ(Run(logic, 113, kJobPgmPlu, &items), -7);
    breaker.join();
    EXPECT_TRUE(ProcessGone(pid));
}

TEST_F(ProximaJobs, TheProgramIsNamedFromTheCurrentDirectory) {
    struct Runner : orv::platform::ProcessRunner {
        orv::platform::ProcessResult Run(const std::string& p, const std::vector<std::string>& a,
                                         const orv::platform::BreakSignal*) override {
            program = p;
            args = a;
            orv::platform::ProcessResult r;
            r.outcome = orv::platform::kProcessEnded;
            return r;
        }
        std::string program;
        std::vector<std::string> args;
    } runner;
    logic.Protocol().SetProcessRunner(&runner);
    std::vector<EcrItemRecord> items = {ProximaItem(1, "A", 1, 0, 1, 1, "")};
    EXPECT_EQ(Run(logic, 113, kJobPgmPlu, &items), 0);
    logic.Protocol().SetProcessRunner(nullptr);
    EXPECT_EQ(runner.program, "./wmplw.exe");
    EXPECT_EQ(runner.args, std::vector<std::string>{"MEDESA.EXP"});
}

TEST_F(ProximaJobs, OnlyProgrammingDoesWork) {
    dir.InstallFake("wmplw.exe");
    std::vector<EcrItemRecord> items = {ProximaItem(1, "A", 1, 0, 1, 1, "")};
    const struct {
        uint32_t job;
        bool ok;
    } cases[] = {{kJobReadAllPlu, true}, {kJobReadPlu, true},   {kJobDelPlu, true},    {kJobReadAllDept, true},
                 {kJobPgmDept, true},    {kJobClearSale, true}, {kJobReadVat, true},   {kJobReadStatus, true},
                 {kJobReadSale, false}};
    for (const auto& c : cases) {
        Host().Reset();
        const int code = Run(logic, 113, c.job, &items);
        EXPECT_EQ(code == 0, c.ok) << c.job;
        EXPECT_EQ(Host().CountEvents(ECR_EVENT_SUCCEEDED), c.ok ? 1 : 0) << c.job;
    }
    EXPECT_TRUE(dir.Calls().empty());
    EXPECT_FALSE(dir.Exists("MEDESA.EXP"));
}

TEST_F(ProximaJobs, OpenFailsWhenTheSettingsCannotBeWritten) {
    std::filesystem::create_directory(dir.File("pargat.ini"));
    std::vector<EcrItemRecord> items = {ProximaItem(1, "A", 1, 0, 1, 1, "")};
    Run(logic, 113, kJobPgmPlu, &items);
    EXPECT_FALSE(started);
    EXPECT_EQ(logic.GetErrorCode(), 9999);
    EXPECT_TRUE(dir.Calls().empty());
}

// Whatever stands under either file name in the working directory: a FIFO
// nobody reads (which would hold a writer for good), a FIFO someone reads, a
// symbolic link to someone's file or to a file not there yet, a hard link to
// someone's file. The job ends at once with 9999, nothing is written
// through the name and the program is not run.
TEST_F(ProximaJobs, WhatIsNoPlainFileOfItsOwnUnderTheFileNamesFailsTheJobAtOnce) {
    std::filesystem::create_directory(dir.File("elsewhere"));
    const std::string victim = dir.File("elsewhere/victim.txt");
    const std::string absent = dir.File("elsewhere/absent.txt");
    const struct {
        const char* what;
        std::function<void(const std::string& name)> plant;
        bool reader;
    } plants[] = {
        {"FIFO without a reader", [](const std::string& n) { ::mkfifo(n.c_str(), 0600); }, false},
        {"FIFO with a reader", [](const std::string& n) { ::mkfifo(n.c_str(), 0600); }, true},
        {"link to a file", [&](const std::string& n) { std::filesystem::create_symlink(victim, n); }, false},
        {"link to no file", [&](const std::string& n) { std::filesystem::create_symlink(absent, n); }, false},
        {"hard link to a file", [&](const std::string& n) { std::filesystem::create_hard_link(victim, n); }, false},
    };
    dir.InstallFake("wmplw.exe");
    std::vector<EcrItemRecord> items = {ProximaItem(1, "A", 1, 0, 1, 1, "")};
    for (const char* file : {"pargat.ini", "MEDESA.EXP"}) {
        for (const auto& p : plants) {
            SCOPED_TRACE(std::string(file) + ": " + p.what);
            dir.Write("elsewhere/victim.txt", "someone's data");
            const std::string name = dir.File(file);
            p.plant(name);
            const int reader = p.reader ? ::open(name.c_str(), O_RDONLY | O_NONBLOCK) : -1;
            Host().Reset();
            const auto start = std::chrono::steady_clock::now();
            auto job = std::async(std::launch::async, [&] { return Run(logic, 113, kJobPgmPlu, &items); });
            if (job.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
                ADD_FAILURE() << "the job hangs";
                const int rescue = ::open(name.c_str(), O_RDWR | O_NONBLOCK);   // lets a blocked open go on
                job.wait();
                if (rescue >= 0) ::close(rescue);
            }
            const int code = job.get();
            const auto took = std::chrono::steady_clock::now() - start;
            if (reader >= 0) ::close(reader);

            EXPECT_EQ(code, 9999);
            EXPECT_EQ(std::string(logic.GetErrorMessage()), "PROXIMA TXT");
            EXPECT_LT(took, std::chrono::seconds(1));
            EXPECT_EQ(Host().CountEvents(ECR_EVENT_SUCCEEDED), 0);
            EXPECT_TRUE(dir.Calls().empty());
            EXPECT_EQ(dir.Read("elsewhere/victim.txt").value_or(""), "someone's data");
            EXPECT_FALSE(std::filesystem::exists(absent));
            std::filesystem::remove(name);
            std::filesystem::remove(dir.File("pargat.ini"));
            std::filesystem::remove(dir.File("MEDESA.EXP"));
        }
    }
}

}  // namespace
