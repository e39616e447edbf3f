// Elcom 50 under hostile conditions: garbage, cut, oversized and wrong
// replies, odd status fields, registers that vanish mid-reply, replies in
// small pieces, breaks at random moments and out-of-range host values. Every
// run is seed-driven and bounded; the checks are the library's promises: a
// job ends in time, a failure is never reported as success (nor as a user
// break it was not), confirmations of failed items carry a nonzero code and
// its text, and records handed to the host are zero-terminated.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "job/job_block.h"
#include "comm/telepathy.h"
#include "drivers/elcom50/cel50_ecr.h"
#include "drivers/elcom50/elcom50_items.h"
#include "sim/elcom50/elcom50_emulator.h"
#include "fakes/recording_host.h"
#include "orvanta/ecr.h"
#include "platform/clock.h"

namespace {

using orv::test::Elcom50Emulator;
using orv::test::Host;
using orv::test::HostDeptRecord;
using orv::test::HostItem;
using orv::test::RecordingHost;
using Answer = Elcom50Emulator::Answer;

constexpr int kPort = 7;

using enum orv::test::Elcom50Job;

// A small fixed-seed generator (the same sequence on every machine).
class Rng {
public:
    explicit Rng(uint64_t seed) : m_s(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint32_t Next() {
        m_s ^= m_s << 13;
        m_s ^= m_s >> 7;
        m_s ^= m_s << 17;
        return static_cast<uint32_t>(m_s >> 16);
    }
    int Range(int lo, int hi) { return lo + static_cast<int>(Next() % static_cast<uint32_t>(hi - lo + 1)); }
    bool Chance(int percent) { return Range(1, 100) <= percent; }
    template <class T>
    const T& Pick(const std::vector<T>& v) { return v[Next() % v.size()]; }

private:
    uint64_t m_s;
};

std::string RandomBytes(Rng& rng, int n, bool allowLf) {
    std::string s;
    for (int i = 0; i < n; ++i) {
        char c = static_cast<char>(rng.Next() & 0xFF);
        if (!allowLf && c == '\n') c = '#';
        s += c;
    }
    return s;
}

// A random field for a record reply: numbers of every shape, empty fields,
// binary bytes, long texts.
std::string RandomField(Rng& rng) {
    switch (rng.Range(0, 9)) {
    case 0: return "";
    case 1: return std::to_string(rng.Next());
    case 2: return "-" + std::to_string(rng.Next());
    case 3: return std::string(static_cast<size_t>(rng.Range(20, 400)), '9');
    case 4: return "12.5" + std::string(static_cast<size_t>(rng.Range(0, 30)), '7');
    case 5: return RandomBytes(rng, rng.Range(1, 60), false);
    case 6: return std::string(static_cast<size_t>(rng.Range(43, 200)), 'N');
    case 7: return "nan";
    case 8: return " 3 ";
    default: return std::to_string(rng.Range(0, 25));
    }
}

bool Terminated(const char* field, size_t size) { return std::memchr(field, 0, size) != nullptr; }

// Everything handed to the host is zero-terminated within its field.
void ExpectWellFormedRecords(const std::string& where) {
    for (const EcrItemRecord& r : Host().Items()) {
        EXPECT_TRUE(std::isfinite(r.price)) << where;
        EXPECT_TRUE(Terminated(r.name, sizeof r.name)) << where;
        EXPECT_TRUE(Terminated(r.code, sizeof r.code)) << where;
    }
    for (const auto& s : Host().Sales()) {
        EXPECT_TRUE(std::isfinite(s.sale.quantity) && std::isfinite(s.sale.value)) << where;
        EXPECT_TRUE(Terminated(s.item.name, sizeof s.item.name)) << where;
        EXPECT_TRUE(Terminated(s.sale.name, sizeof s.sale.name)) << where;
        EXPECT_TRUE(Terminated(s.sale.code, sizeof s.sale.code)) << where;
    }
    for (const EcrDeptRecord& d : Host().Depts()) EXPECT_TRUE(Terminated(d.name, sizeof d.name)) << where;
    for (const EcrUnitRecord& u : Host().Units()) EXPECT_TRUE(Terminated(u.name, sizeof u.name)) << where;
    for (const auto& st : Host().StatusCalls())
        EXPECT_TRUE(Terminated(st.status.information, sizeof st.status.information)) << where;
    for (const auto& vat : Host().VatCalls()) {
        for (double rate : vat) EXPECT_TRUE(std::isfinite(rate)) << where;
    }
}

// Exactly one closing event; a failure carries a nonzero code, and every
// confirmation is a failure with its code and text.
void ExpectHonestEnd(int errorCode, const std::string& where) {
    const int ok = Host().CountEvents(ECR_EVENT_SUCCEEDED);
    const int failed = Host().CountEvents(ECR_EVENT_FAILED);
    EXPECT_EQ(ok + failed, 1) << where;
    if (failed == 1) {
        EXPECT_NE(errorCode, 0) << where;
        EXPECT_NE(Host().EventsWithCode(ECR_EVENT_FAILED).at(0).value, 0) << where;
    }
    for (const auto& c : Host().Confirmations()) {
        EXPECT_NE(c.code, 0) << where;
        EXPECT_FALSE(c.text.empty()) << where;
    }
}

EcrDeptRecord Dept(uint32_t number, const char* name) { return HostDeptRecord({.number = number, .name = name}); }

EcrUnitRecord Unit(uint32_t number, const char* name) {
    EcrUnitRecord u;
    std::memset(&u, 0, sizeof u);
    u.number = number;
    std::strncpy(u.name, name, sizeof u.name - 1);
    return u;
}

void FillRegister(Elcom50Emulator& reg) {
    Elcom50Emulator::PluRow row;
    row.price = "4.99";
    row.name = "Ser";
    row.tax = "2";
    row.barcode = "000000000000000777";
    row.dpt = "5";
    row.unit = "3";
    row.link = "0000";
    row.other = "1";
    row.quantity = "2.000";
    row.amount = "9.98";
    for (uint32_t n : {1u, 2u, 3u, 40u}) reg.SetPlu(n, row);
    reg.SetTaxGroup(1, "23.00", 1);
    reg.SetTaxGroup(2, "8.00", 1);
    reg.SetTaxGroup(3, "", 2);
    reg.SetDept(1, "Nabial");
    reg.SetUnit(1, "kg");
}

// One seeded trial: the job drawn from `jobs`, the type (16, or 17 when
// `bothTypes` draws it), the host's records forgotten and a register with a
// few records.
struct Trial {
    Trial(uint64_t seed, const std::vector<uint32_t>& jobs, bool bothTypes)
        : rng(seed), job(rng.Pick(jobs)), type(bothTypes && rng.Chance(50) ? 17 : 16),
          where("seed " + std::to_string(seed) + " job " + std::to_string(job)), reg(kPort, type == 17 ? 25 : 24) {
        Host().Reset();
        FillRegister(reg);
    }
    Rng rng;
    const uint32_t job;
    const int type;
    const std::string where;
    Elcom50Emulator reg;
};

// The host's arrays of one job, kept alive while it runs.
struct JobData {
    std::vector<EcrItemRecord> items;
    std::vector<EcrDeptRecord> depts;
    std::vector<EcrUnitRecord> units;

    void Into(uint32_t job) {
        g_jobBlock.items = items.empty() ? nullptr : items.data();
        g_jobBlock.depts = depts.empty() ? nullptr : depts.data();
        g_jobBlock.units = units.empty() ? nullptr : units.data();
        size_t n = 0;
        if (job == kPgmPlu || job == kDelPlu || job == kReadPlu) n = items.size();
        if (job == kPgmDept) n = depts.size();
        if (job == kPgmUnit) n = units.size();
        g_jobBlock.count = static_cast<uint32_t>(n);
    }
};

JobData MakeJobData(Rng& rng, uint32_t job) {
    JobData d;
    const int n = rng.Range(1, 3);
    for (int i = 0; i < n; ++i) {
        const uint32_t number = static_cast<uint32_t>(rng.Range(1, 3));
        if (job == kPgmDept) d.depts.push_back(Dept(static_cast<uint32_t>(rng.Range(1, 20)), "Dzial"));
        else if (job == kPgmUnit) d.units.push_back(Unit(static_cast<uint32_t>(rng.Range(1, 8)), "szt"));
        else d.items.push_back(HostItem(number, "Towar", 1.0 + i, 1));
    }
    return d;
}

// The commands a job sends between CONNECT and DISCONNECT.
std::vector<std::string> BodyCommands(uint32_t job) {
    switch (job) {
    case kClearSale: return {"MAKEREPORT"};
    case kPgmPlu:
    case kDelPlu:
    case kPgmDept:
    case kPgmUnit: return {"SETHEAD", "SETREC"};
    case kReadStatus: return {"GETDEVINFO", "SETHEAD", "GETREC"};
    default: return {"SETHEAD", "GETREC"};
    }
}

class Elcom50Robust : public ::testing::Test {
protected:
    void SetUp() override {
        orv::platform::SetTimeScale(0.02);   // the 5 s waits take 100 ms
        Host().Reset();
    }
    void TearDown() override {
        if (m_logic.IsRunning()) {
            m_logic.Break();
            m_serial.Break();
            orv::test::WaitJobEnd(m_logic, 10000);
        }
        orv::platform::SetTimeScale(1.0);
    }

    // Runs a job on the logic object; returns the milliseconds it took.
    int64_t Run(int type, uint32_t job, JobData& data) {
        orv::test::PrepareJobBlock(job, orv::test::DeviceRecord(type, kPort));
        data.Into(job);
        m_serial.ClearBreak();
        const int64_t t0 = orv::platform::MonotonicMillis();
        EXPECT_TRUE(orv::test::RunJob(m_logic, job, &m_serial, nullptr, 20000));
        return orv::platform::MonotonicMillis() - t0;
    }

    void HostileRun(int seed, const std::vector<uint32_t>& jobs);

    CTelepathy m_serial;
    CEL50_ECR m_logic;
};

// One wrong answer to the first item's write: the item is confirmed with
// the register's folded code (none may pass for a transport failure or a
// user break), or with the overflow of a reply longer than any reply may be
// even when it ends with its LF and a good status; the loop goes on.
TEST_F(Elcom50Robust, WrongAnswerToAWriteIsConfirmedAndTheLoopGoesOn) {
    const std::string overlong = "\tRSP\t0\t" + std::string(3000, 'A') + "\n";
    struct Case {
        const char* command;
        std::string answer;   // a status, or a whole reply when it holds "RSP"
        int code;             // 0: any code that is not a transport code
    };
    const Case cases[] = {
        {"SETREC", "2147942409", 24}, {"SETREC", "-2147024887", 24}, {"SETREC", "24.00", 24},
        {"SETREC", "36", 36},         {"SETREC", "1", 1},             {"SETREC", "-7", 0},
        {"SETREC", "4294967289", 0},  {"SETREC", "-5", 0},            {"SETREC", "-1", 0},
        {"SETREC", "4294967291", 0},  {"SETREC", "-10", 0},           {"SETREC", "-4", 0},
        {"SETREC", "2147483648", 0},  {"SETREC", "99999999999999999999999", 0},
        {"SETREC", "abc", 999},       {"SETREC", "", 999},            {"SETREC", "1e3", 999},
        {"SETREC", "0x10", 999},      {"SETHEAD", "SETHEAD" + overlong, -8},
        {"SETREC", "SETREC" + overlong, -8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.command) + " " + c.answer.substr(0, 30));
        Host().Reset();
        Elcom50Emulator reg(kPort, 24);
        const bool raw = c.answer.find("RSP") != std::string::npos;
        reg.Inject({c.command, "", raw ? Answer::Raw : Answer::Status, c.answer, 1});
        reg.Start();
        JobData data;
        data.items = {HostItem(1, "A", 1.0), HostItem(2, "B", 2.0)};
        Run(16, kPgmPlu, data);
        reg.Stop();
        const auto confirms = Host().Confirmations();
        ASSERT_EQ(confirms.size(), 1u);
        EXPECT_EQ(confirms[0].number, 1u);
        if (c.code != 0) {
            EXPECT_EQ(confirms[0].code, c.code);
        } else {
            EXPECT_FALSE(confirms[0].code >= -10 && confirms[0].code <= 0) << confirms[0].code;
        }
        EXPECT_TRUE(reg.Plu(2).has_value());   // the loop went on
        ExpectHonestEnd(m_logic.GetErrorCode(), c.answer.substr(0, 30));
    }
}

// A register that says an answer twice in one go shifts no record onto the
// next number: what is left of a reply is dropped before the next request.
TEST_F(Elcom50Robust, DoubledReplyShiftsNothing) {
    Elcom50Emulator reg(kPort, 24);
    Elcom50Emulator::PluRow row;
    row.tax = "1";
    row.dpt = "1";
    row.name = "Drugi";
    reg.SetPlu(2, row);
    row.name = "Trzeci";
    reg.SetPlu(3, row);
    const std::string two = "GETREC\tRSP\t0\t2.00\tDrugi\t1\t\t1\t1\t0\t0\t0\t0\n";
    reg.Inject({"GETREC", "PLU\t2", Answer::Raw, two + two, 1});
    reg.Start();
    JobData none;
    Run(16, kReadAllPlu, none);
    reg.Stop();
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_SUCCEEDED), 1) << m_logic.GetErrorCode();
    const auto got = Host().Items();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].number, 2u);
    EXPECT_STREQ(got[0].name, "Drugi");
    EXPECT_EQ(got[1].number, 3u);
    EXPECT_STREQ(got[1].name, "Trzeci");
}

// One run of a job with one request answered wrongly, chosen by the seed.
void Elcom50Robust::HostileRun(int seed, const std::vector<uint32_t>& jobs) {
    const std::vector<std::string> statuses = {"-7", "4294967289", "-5", "2147942409", "24.00", "0.5", "abc", "",
                                               "37", " 7 ", "+3", "1e3", "99999999999999999999999"};
    {
        // The bulk reads walk every record: the 1980 of type 16 are enough.
        const bool bulk = jobs.size() == 2 && jobs[0] == kReadAllPlu;
        Trial t(static_cast<uint64_t>(seed), jobs, !bulk);
        Rng& rng = t.rng;
        const uint32_t job = t.job;
        const int type = t.type;
        const std::string& where = t.where;
        Elcom50Emulator& reg = t.reg;
        SCOPED_TRACE(where);

        std::vector<std::string> commands = BodyCommands(job);
        commands.push_back("CONNECT");
        commands.push_back("DISCONNECT");
        const std::string command = rng.Pick(commands);
        std::string key;
        if (command == "GETREC" && rng.Chance(60)) {
            const char* table = job == kReadAllDept ? "DPT" : job == kReadAllUnit ? "MEASUREUNIT"
                                : job == kReadPlu || job == kReadAllPlu || job == kReadSale ? "PLU"
                                                                           : "TAXGROUP";
            key = std::string(table) + "\t" + std::to_string(rng.Range(1, 3));
        }
        const int kind = rng.Range(0, 10);
        bool fatal = command != "CONNECT" && command != "DISCONNECT";
        Elcom50Emulator::Injection inj{command, key, Answer::Status, "", 1};
        switch (kind) {
        case 0:
            inj.text = rng.Pick(statuses);
            if (inj.text == "0.5") fatal = false;
            break;
        case 1: inj.answer = Answer::WrongHead; break;
        case 2:
            inj.answer = Answer::BadByte;
            inj.text = std::string(1, static_cast<char>(rng.Range('!', '~')));
            break;
        case 3:
            inj.answer = Answer::MissingFields;
            inj.text = std::to_string(rng.Range(0, 4));
            fatal = false;   // some replies have no more fields than that
            break;
        case 4: inj.answer = Answer::Silence; break;
        case 5:
            inj.answer = Answer::Raw;
            inj.text = RandomBytes(rng, rng.Range(0, 3000), true);
            break;
        case 6:   // the right head, cut before its LF
            inj.answer = Answer::Raw;
            inj.text = command + "\tRSP\t0\t1";
            break;
        case 7:   // longer than any reply may be
            inj.answer = Answer::Raw;
            inj.text = command + "\tRSP\t0\t" + std::string(3000, 'A') + "\n";
            break;
        case 8: {  // a good status with random fields
            inj.answer = Answer::Raw;
            inj.text = command + "\tRSP\t0";
            const int fields = rng.Range(0, 12);
            for (int i = 0; i < fields; ++i) inj.text += "\t" + RandomField(rng);
            inj.text += "\n";
            fatal = false;
            break;
        }
        case 9:  // CR LF ending
            inj.answer = Answer::Raw;
            inj.text = command + "\tRSP\t0\r\n";
            fatal = false;
            break;
        default: {  // a good record reply with one field spoiled
            std::vector<std::string> row = {"0", "4.99", "Ser", "2", "000000000000000777", "5", "3", "0000", "1",
                                            "2.000", "9.98"};
            if (job == kReadVat || job == kReadStatus) row = {"0", "23.00", "1"};
            if (job == kReadAllDept || job == kReadAllUnit) row = {"0", "Nazwa"};
            row[static_cast<size_t>(rng.Range(1, static_cast<int>(row.size()) - 1))] = RandomField(rng);
            inj.answer = Answer::Raw;
            inj.text = command;
            inj.text += "\tRSP";
            for (const std::string& f : row) inj.text += "\t" + f;
            inj.text += "\n";
            fatal = false;
            break;
        }
        }
        reg.Inject(inj);
        reg.Start();
        JobData data = MakeJobData(rng, job);
        const int64_t took = Run(type, job, data);
        reg.Stop();

        // A walk of every record is many exchanges on a busy machine.
        EXPECT_LT(took, job == kReadAllPlu || job == kReadSale ? 30000 : 5000);
        EXPECT_FALSE(m_logic.IsRunning());
        ExpectHonestEnd(m_logic.GetErrorCode(), where);
        ExpectWellFormedRecords(where);
        EXPECT_NE(m_logic.GetErrorCode(), -7) << "no break was asked for";
        for (const auto& c : Host().Confirmations()) EXPECT_NE(c.code, -7);
        const bool used = reg.CountRequests(command) > 0 && (key.empty() || [&] {
            for (const std::string& r : reg.Requests())
                if (r == command + "\tREQ\t" + key) return true;
            return false;
        }());
        if (fatal && used) {
            const bool reported = Host().CountEvents(ECR_EVENT_FAILED) == 1 || !Host().Confirmations().empty();
            EXPECT_TRUE(reported) << "kind " << kind << " on " << command << " " << key;
        }
    }
}

// Random wrong replies to random requests of every short job, both types.
TEST_F(Elcom50Robust, HostileRepliesNeverPassAsSuccess) {
    const std::vector<uint32_t> jobs = {kPgmPlu,  kDelPlu,      kPgmDept, kPgmUnit, kReadPlu,    kReadPlu,
                                        kReadAllDept, kReadAllUnit, kReadVat, kReadVat, kReadStatus, kClearSale};
    for (int seed = 1; seed <= 200; ++seed) HostileRun(seed, jobs);
}

// The same during the reads that walk every PLU record.
TEST_F(Elcom50Robust, HostileRepliesDuringBulkReads) {
    for (int seed = 1; seed <= 4; ++seed) HostileRun(seed + 500, {kReadAllPlu, kReadSale});
}

// Numbers no register gives, in fields that are numbers all the same: the
// host gets a failure or finite values, never an infinite price or rate.
TEST_F(Elcom50Robust, OutlandishNumbersInRecords) {
    const std::string huge(400, '9');
    struct Case {
        const char* column;
        std::string value;
    };
    const Case cases[] = {{"price", huge},           {"price", "-" + huge},   {"quantity", huge},
                          {"amount", "-" + huge},     {"tax", "99999999999"}, {"dpt", "-1"},
                          {"unit", "4294967296"},     {"link", huge},         {"price", "0." + huge}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.column) + " " + c.value.substr(0, 20));
        Host().Reset();
        Elcom50Emulator reg(kPort, 24);
        FillRegister(reg);
        Elcom50Emulator::PluRow row = *reg.Plu(2);
        if (std::string(c.column) == "price") row.price = c.value;
        if (std::string(c.column) == "quantity") row.quantity = c.value;
        if (std::string(c.column) == "amount") row.amount = c.value;
        if (std::string(c.column) == "tax") row.tax = c.value;
        if (std::string(c.column) == "dpt") row.dpt = c.value;
        if (std::string(c.column) == "unit") row.unit = c.value;
        if (std::string(c.column) == "link") row.link = c.value;
        reg.SetPlu(2, row);
        reg.SetTaxGroup(2, c.value, 1);
        reg.Start();
        JobData read;
        read.items = {HostItem(1, "", 0), HostItem(2, "", 0), HostItem(3, "", 0)};
        Run(16, kReadPlu, read);
        ExpectHonestEnd(m_logic.GetErrorCode(), "read");
        ExpectWellFormedRecords("read");
        EXPECT_EQ(Host().Items().size() + Host().Confirmations().size(), 3u);
        Host().Reset();
        JobData none;
        Run(16, kReadVat, none);
        ExpectHonestEnd(m_logic.GetErrorCode(), "vat");
        ExpectWellFormedRecords("vat");
        reg.Stop();
    }
}

// The register goes away in the middle of a reply: every job ends with a
// transport failure, soon.
TEST_F(Elcom50Robust, RegisterVanishingMidReplyEndsTheJob) {
    const std::vector<uint32_t> jobs = {kPgmPlu, kReadPlu, kReadAllDept, kReadStatus, kClearSale, kReadAllPlu};
    for (int seed = 1; seed <= 24; ++seed) {
        Trial t(static_cast<uint64_t>(seed) + 1000, jobs, false);
        Rng& rng = t.rng;
        const uint32_t job = t.job;
        const std::string& where = t.where;
        Elcom50Emulator& reg = t.reg;
        SCOPED_TRACE(where);
        std::vector<std::string> commands = BodyCommands(job);
        const std::string command = rng.Pick(commands);
        reg.Inject({command, "", Answer::Raw, command + "\tRSP\t0\tcut", 1});
        reg.Start();
        const std::string seen = command + "\tREQ";
        std::atomic<bool> done{false};
        const int lateMs = rng.Range(0, 15);
        std::thread cutter([&] {
            if (reg.WaitUntil([&](const orv::test::Bytes& b) {
                    return done.load() || std::string(b.begin(), b.end()).find(seen) != std::string::npos;
                }, 10000)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(lateMs));
                reg.Disconnect();
            }
        });
        JobData data = MakeJobData(rng, job);
        const int64_t took = Run(16, job, data);
        done = true;
        reg.Disconnect();
        cutter.join();
        EXPECT_LT(took, 5000);
        ExpectHonestEnd(m_logic.GetErrorCode(), where);
        ExpectWellFormedRecords(where);
        EXPECT_NE(m_logic.GetErrorCode(), -7);
        const bool reported = Host().CountEvents(ECR_EVENT_FAILED) == 1 || !Host().Confirmations().empty();
        EXPECT_TRUE(reported);

        // The register stays away: the next job fails at once as well (its
        // line does not open, or the job fails).
        Host().Reset();
        JobData next = MakeJobData(rng, job);
        orv::test::PrepareJobBlock(job, orv::test::DeviceRecord(16, kPort));
        next.Into(job);
        const int64_t t0 = orv::platform::MonotonicMillis();
        const bool started = orv::test::RunJob(m_logic, job, &m_serial, nullptr, 20000);
        EXPECT_LT(orv::platform::MonotonicMillis() - t0, 5000);
        EXPECT_NE(m_logic.GetErrorCode(), 0);
        EXPECT_NE(m_logic.GetErrorCode(), -7);
        if (started) {
            ExpectHonestEnd(m_logic.GetErrorCode(), where + " after");
            EXPECT_TRUE(Host().CountEvents(ECR_EVENT_FAILED) == 1 || !Host().Confirmations().empty());
        } else {
            EXPECT_EQ(Host().CountEvents(ECR_EVENT_SUCCEEDED), 0);
            EXPECT_GE(Host().CountEvents(ECR_EVENT_SYSTEM_ERROR), 1);
        }
    }
}

// Replies that arrive in small pieces are put together byte for byte, and
// what was programmed reads back the same.
TEST_F(Elcom50Robust, RepliesInPiecesReadBackExactly) {
    orv::platform::SetTimeScale(1.0);
    for (int seed = 1; seed <= 4; ++seed) {
        Rng rng(static_cast<uint64_t>(seed) + 2000);
        const int type = seed % 2 ? 16 : 17;
        SCOPED_TRACE("seed " + std::to_string(seed));
        Host().Reset();
        Elcom50Emulator reg(kPort, type == 17 ? 25 : 24);
        reg.SetTaxGroup(1, "23.00", 1);
        reg.SetChunking(rng.Range(1, 7), rng.Range(0, 2));
        reg.Start();
        JobData program;
        program.items = {HostItem(5, "Kawa ziarnista 1kg", 49.99, 1, "5901234123457"),
                         HostItem(6, "Herbata", 12.5, 2, "77")};
        Run(type, kPgmPlu, program);
        EXPECT_EQ(Host().CountEvents(ECR_EVENT_SUCCEEDED), 1);
        Host().Reset();
        JobData read;
        read.items = {HostItem(5, "", 0), HostItem(6, "", 0)};
        Run(type, kReadPlu, read);
        ASSERT_EQ(Host().CountEvents(ECR_EVENT_SUCCEEDED), 1) << m_logic.GetErrorCode();
        const auto got = Host().Items();
        ASSERT_EQ(got.size(), 2u);
        const std::string pad(static_cast<size_t>(type == 17 ? 42 : 24) - 18, ' ');
        EXPECT_EQ(std::string(got[0].name), "Kawa ziarnista 1kg" + pad);
        EXPECT_STREQ(got[0].code, "000005901234123457");
        EXPECT_DOUBLE_EQ(got[0].price, 49.99);
        EXPECT_EQ(got[1].vat_group, 2u);
        EXPECT_DOUBLE_EQ(got[1].price, 12.5);
        Host().Reset();
        JobData none;
        Run(type, kReadVat, none);
        ASSERT_EQ(Host().VatCalls().size(), 1u);
        EXPECT_DOUBLE_EQ(Host().VatCalls()[0][0], 23.0);
        reg.Stop();
    }
}

// A reply that drips in byte by byte, slower than the reply wait, fails
// with a time-out when the wait is up, not when the drip ends; odd baud
// rates in the device record fail the open or work, never hang.
TEST_F(Elcom50Robust, DrippingRepliesAndOddBaudRates) {
    {
        Elcom50Emulator reg(kPort, 24);
        reg.SetChunking(1, 20);   // about 2 s for a tax-group reply; the wait is 100 ms
        reg.Start();
        JobData none;
        const int64_t took = Run(16, kReadVat, none);
        EXPECT_LT(took, 1500);
        EXPECT_EQ(m_logic.GetErrorCode(), -5);
        ExpectHonestEnd(m_logic.GetErrorCode(), "drip");
        EXPECT_TRUE(Host().VatCalls().empty());
        reg.Stop();
    }
    for (int baud : {0, 1, -9600, 12345, 3000000, 2147483647}) {
        SCOPED_TRACE(baud);
        Host().Reset();
        Elcom50Emulator reg(kPort, 24);
        reg.Start();
        orv::test::PrepareJobBlock(kReadVat, orv::test::DeviceRecord(16, kPort, baud));
        m_serial.ClearBreak();
        const int64_t t0 = orv::platform::MonotonicMillis();
        EXPECT_TRUE(orv::test::RunJob(m_logic, kReadVat, &m_serial, nullptr, 20000));
        EXPECT_LT(orv::platform::MonotonicMillis() - t0, 3000);
        EXPECT_FALSE(m_logic.IsRunning());
        if (Host().VatCalls().empty()) {
            EXPECT_NE(m_logic.GetErrorCode(), 0);
        }
        reg.Stop();
    }
    // The port is free again for a good job.
    Host().Reset();
    Elcom50Emulator reg(kPort, 24);
    reg.Start();
    JobData none;
    Run(16, kReadVat, none);
    EXPECT_EQ(Host().VatCalls().size(), 1u) << m_logic.GetErrorCode();
    reg.Stop();
}

// Host values out of range or malformed: refused with the right code before
// any traffic for that item, or sent as a well-formed line.
TEST_F(Elcom50Robust, HostileHostValues) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        uint32_t number;
        double price;
        uint32_t vat;
        uint32_t unit;
        uint32_t link;
        int code;   // 0: accepted
    };
    const Case cases[] = {
        {0, 1.0, 1, 1, 0, 105},          {1981, 1.0, 1, 1, 0, 105},        {UINT32_MAX, 1.0, 1, 1, 0, 105},
        {1, 1.0, 0, 1, 0, 103},          {1, 1.0, 8, 1, 0, 103},           {1, 1.0, UINT32_MAX, 1, 0, 103},
        {1, nan, 1, 1, 0, 109},          {1, inf, 1, 1, 0, 109},           {1, -inf, 1, 1, 0, 109},
        {1, -0.01, 1, 1, 0, 109},        {1, 1e300, 1, 1, 0, 109},         {1, 99999999.995, 1, 1, 0, 109},
        {1, std::numeric_limits<double>::max(), 1, 1, 0, 109},
        {1, 1.0, 1, 1, 21, 999},         {1, 1.0, 1, 1, UINT32_MAX, 999},
        {1, -0.0, 1, 1, 0, 0},           {1, 4.9e-324, 1, 1, 0, 0},        {1, 99999999.99, 1, 1, 0, 0},
        {1, 1.0, 7, UINT32_MAX, 20, 0},  {1980, 0.005, 1, 9, 1, 0},
    };
    Elcom50Emulator reg(kPort, 24);
    reg.Start();
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE("case " + std::to_string(index++));
        Host().Reset();
        reg.ClearRequests();
        JobData data;
        EcrItemRecord item = HostItem(c.number, "", c.price, c.vat);
        std::memset(item.name, 'N', sizeof item.name);      // no terminator at all
        std::memset(item.code, '7', sizeof item.code);
        item.name[3] = '\t';
        item.name[5] = '\n';
        item.name[7] = '\r';
        item.unit = c.unit;
        item.linked_plu = c.link;
        data.items = {item};
        Run(16, kPgmPlu, data);
        const auto requests = reg.Requests();
        if (c.code != 0) {
            EXPECT_TRUE(requests.empty());
            ASSERT_EQ(Host().Confirmations().size(), 1u);
            EXPECT_EQ(Host().Confirmations()[0].code, c.code);
            EXPECT_EQ(m_logic.GetErrorCode(), c.code);
            continue;
        }
        EXPECT_EQ(Host().CountEvents(ECR_EVENT_SUCCEEDED), 1) << m_logic.GetErrorCode();
        ASSERT_EQ(requests.size(), 4u);
        const std::string& line = requests[2];
        size_t tabs = 0;
        for (char ch : line) {
            tabs += ch == '\t';
            EXPECT_NE(ch, '\r');
        }
        EXPECT_EQ(tabs, 12u) << line;   // "SETREC" "REQ" "PLU" number, 8 values, the closing TAB
        const auto row = reg.Plu(c.number);
        ASSERT_TRUE(row.has_value());
        std::string name(24, 'N');
        name[3] = name[5] = name[7] = ' ';
        EXPECT_EQ(row->name, name);
        EXPECT_EQ(row->barcode, std::string(18, '7'));
        EXPECT_NE(row->price.find('.'), std::string::npos);
        EXPECT_EQ(row->price.find('-'), std::string::npos) << row->price;
        EXPECT_EQ(row->unit, c.unit >= 1 && c.unit <= 8 ? std::to_string(c.unit) : "1");
    }

    // Departments and units: numbers out of range and names without a
    // terminator.
    struct NameCase {
        uint32_t job;
        uint32_t number;
        int code;
    };
    const NameCase names[] = {{kPgmDept, 0, 110}, {kPgmDept, 21, 110}, {kPgmDept, UINT32_MAX, 110},
                              {kPgmDept, 20, 0},  {kPgmUnit, 0, 111},  {kPgmUnit, 9, 111},
                              {kPgmUnit, UINT32_MAX, 111}, {kPgmUnit, 8, 0}};
    for (const NameCase& c : names) {
        SCOPED_TRACE("job " + std::to_string(c.job) + " number " + std::to_string(c.number));
        Host().Reset();
        reg.ClearRequests();
        JobData data;
        if (c.job == kPgmDept) {
            EcrDeptRecord d = Dept(c.number, "");
            std::memset(d.name, 'D', sizeof d.name);
            d.name[1] = '\t';
            data.depts = {d};
        } else {
            EcrUnitRecord u = Unit(c.number, "");
            std::memset(u.name, '\n', sizeof u.name);
            data.units = {u};
        }
        Run(16, c.job, data);
        if (c.code != 0) {
            EXPECT_TRUE(reg.Requests().empty());
            ASSERT_EQ(Host().Confirmations().size(), 1u);
            EXPECT_EQ(Host().Confirmations()[0].code, c.code);
            continue;
        }
        EXPECT_EQ(Host().CountEvents(ECR_EVENT_SUCCEEDED), 1) << m_logic.GetErrorCode();
        if (c.job == kPgmDept) EXPECT_EQ(reg.Dept(c.number), "D" + std::string(1, ' ') + std::string(22, 'D'));
        else EXPECT_EQ(reg.Unit(c.number), "   ");
    }
    reg.Stop();
}

// A user break through the exports at a random moment of a running job ends
// it within the promised time, with -7 and no confirmation.
TEST(Elcom50RobustExports, BreakAtRandomMomentsEndsTheJobQuickly) {
    orv::platform::SetTimeScale(1.0);
    ASSERT_EQ(EcrCreate(nullptr), 1);
    const std::vector<uint32_t> jobs = {kPgmPlu, kReadPlu, kReadAllPlu, kReadAllDept, kReadStatus, kReadSale};
    for (int seed = 1; seed <= 24; ++seed) {
        Trial t(static_cast<uint64_t>(seed) + 3000, jobs, false);
        Rng& rng = t.rng;
        const uint32_t job = t.job;
        const std::string& where = t.where;
        Elcom50Emulator& reg = t.reg;
        SCOPED_TRACE(where);
        reg.SetAnswerDelay(rng.Range(0, 8));
        if (rng.Chance(30)) reg.Inject({"GETREC", "", Answer::Silence, "", 1});
        reg.Start();
        const EcrDeviceRecord dev = orv::test::DeviceRecord(16, kPort);
        std::vector<EcrItemRecord> items;
        for (int i = 0; i < 6; ++i) items.push_back(HostItem(static_cast<uint32_t>(i + 1), "Towar", 1.0 + i, 1));
        int started = 0;
        switch (job) {
        case kPgmPlu: started = EcrPgmPLU(&dev, items.data(), 6, &RecordingHost::OnItemProgram); break;
        case kReadPlu: started = EcrReadPLU(&dev, items.data(), 6, &RecordingHost::OnItemRead); break;
        case kReadAllPlu: started = EcrReadAllPLU(&dev, &RecordingHost::OnItemRead); break;
        case kReadAllDept: started = EcrReadAllDEPT(&dev, &RecordingHost::OnDeptRead); break;
        case kReadStatus: started = EcrReadStatus(&dev, &RecordingHost::OnStatus); break;
        default: started = EcrReadSale(&dev, &RecordingHost::OnSale); break;
        }
        ASSERT_EQ(started, 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(rng.Range(0, 60)));
        const int64_t t0 = orv::platform::MonotonicMillis();
        EcrBreakJob();
        ASSERT_TRUE(orv::test::WaitEcrDone(10000));
        const int64_t took = orv::platform::MonotonicMillis() - t0;
        EXPECT_LT(took, 150);   // 50 ms, with room for a loaded machine
        const int ok = Host().CountEvents(ECR_EVENT_SUCCEEDED);
        const int failed = Host().CountEvents(ECR_EVENT_FAILED);
        EXPECT_EQ(ok + failed, 1);
        if (failed == 1) {
            EXPECT_EQ(EcrError(), -7);
        }
        EXPECT_TRUE(Host().Confirmations().empty());
        ExpectWellFormedRecords(where);
        reg.Stop();
    }
    orv::platform::SetTimeScale(1.0);
}

// A host that breaks from inside its own progress callback (on the worker's
// thread): the job sends nothing more and ends with -7.
TEST(Elcom50RobustExports, BreakFromInsideACallback) {
    orv::platform::SetTimeScale(1.0);
    ASSERT_EQ(EcrCreate(nullptr), 1);
    for (int at : {1, 7, 300}) {
        SCOPED_TRACE(at);
        Host().Reset();
        Elcom50Emulator reg(kPort, 24);
        reg.Start();
        const std::string text = "Pobieranie danych PLU - " + std::to_string(at);
        Host().SetEventHook([&](const orv::test::HostEvent& e) {
            if (e.code == ECR_EVENT_ITEM && e.text == text) EcrBreakJob();
        });
        const EcrDeviceRecord dev = orv::test::DeviceRecord(16, kPort);
        ASSERT_EQ(EcrReadAllPLU(&dev, &RecordingHost::OnItemRead), 1);
        ASSERT_TRUE(orv::test::WaitEcrDone(10000));
        Host().SetEventHook(nullptr);
        EXPECT_EQ(EcrError(), -7);
        EXPECT_EQ(Host().CountEvents(ECR_EVENT_FAILED), 1);
        // Not one request after the break, however fast the replies come.
        EXPECT_EQ(reg.CountRequests("GETREC"), at);
        // The register is not left connected.
        EXPECT_TRUE(reg.WaitUntil([](const orv::test::Bytes& b) {
            return std::string(b.begin(), b.end()).find("DISCONNECT\tREQ\n") != std::string::npos;
        }, 2000));
        reg.Stop();
    }
}

}  // namespace
