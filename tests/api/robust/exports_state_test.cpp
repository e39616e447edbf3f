// The 25 exports driven by a random host: random sequences of job exports
// with random or null records, arrays and counts, type codes in and out of
// the table, EcrIsDone polling, EcrBreakJob, EcrCreate, EcrDelete,
// EcrError/EcrErrMsg, against scripted logic objects with random scripts.
// Checked after every step: the busy flag as a host sees it, that a refused
// job leaves a nonzero code, that a failed job ends with event 7 carrying
// EcrError's code and text, that a successful one ends with event 10, that
// every failed item is confirmed with its nonzero code (and no item twice),
// and that texts handed to the host are terminated within their size.
#include <dirent.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "api/registry.h"
#include "fakes/fake_logic.h"
#include "fakes/recording_host.h"
#include "orvanta/ecr.h"

using orv::test::CFakeLogic;
using orv::test::Host;
using orv::test::RecordingHost;
using orv::test::SlotScript;
namespace api = orv::api;

namespace {

class Random {
public:
    explicit Random(uint32_t seed) : m_gen(seed) {}
    int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(m_gen); }
    bool Chance(int percent) { return Int(0, 99) < percent; }

private:
    std::mt19937 m_gen;
};

// Holds the worker at the first event of a code until released (bounded).
class Gate {
public:
    void HoldAt(int event) {
        Host().SetEventHook([this, event](const orv::test::HostEvent& e) {
            if (e.code != event) return;
            std::unique_lock<std::mutex> lock(m_mutex);
            if (m_held) return;
            m_held = true;
            m_cv.notify_all();
            m_cv.wait_for(lock, std::chrono::seconds(10), [&] { return m_open; });
        });
    }
    bool WaitHeld() {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::seconds(10), [&] { return m_held; });
    }
    void Release() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = true;
        m_cv.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_held = false;
    bool m_open = false;
};

// Threads of the process now.
int ThreadCount() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (const dirent* e = readdir(d))
            if (e->d_name[0] != '.') ++n;
        closedir(d);
    }
    return n;
}

// The process's threads before a test makes any: one thread is made and
// joined first, so helper threads that a runtime starts with the first
// thread of a process (ThreadSanitizer's background thread) are counted.
int ThreadCountBeforeJobs() {
    std::thread([] {}).join();
    return ThreadCount();
}

// The process's threads once they have settled to at most `limit`: a worker
// that has cleared its running flag may still be on its way out for a moment
// (bounded: 2 s).
int SettledThreadCount(int limit) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    int n = ThreadCount();
    while (n > limit && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        n = ThreadCount();
    }
    return n;
}

constexpr int kNotAvailable = 25;
constexpr int kSystemError = 999999;

// A random slot script: success, or a failure whose code is in the logic
// object, only in the protocol object, or nowhere.
SlotScript RandomScript(Random& rnd, int failPercent) {
    SlotScript s;
    if (!rnd.Chance(failPercent)) return s;
    s.result = rnd.Chance(80) ? 0 : rnd.Int(2, 5);   // anything but 1 is a failure
    switch (rnd.Int(0, 2)) {
    case 0:
        s.error = rnd.Chance(20) ? -7 : rnd.Int(1, 3000);
        s.text = std::string(static_cast<size_t>(rnd.Int(0, 120)), 'e');
        break;
    case 1: s.protocolError = rnd.Int(-6, -1); break;
    default: break;
    }
    return s;
}

// The code a failed slot leaves for the host.
int ExpectedCode(const SlotScript& s) {
    if (s.error != 0) return s.error;
    if (s.protocolError != 0) return s.protocolError;
    return kNotAvailable;
}

struct Expectation {
    bool started = false;          // the export returned 1
    bool fail = false;
    int code = 0;                  // when it fails; 0: any nonzero
    // Item confirmations expected (record number, code), when known.
    bool checkConfirms = false;
    std::vector<std::pair<uint32_t, int>> confirms;
    bool tailWithoutDevice = false;   // items confirmed after the device stopped answering
    int vatCalls = -1, statusCalls = -1;   // -1: not checked
    bool progress = true;          // the record carries a progress callback
};

// The items of a loop that gave a silent device up are confirmed until a
// break is seen: how many of them are, and the job's code, are then open.
void LoosenAfterBreak(Expectation& x) {
    if (!x.tailWithoutDevice) return;
    x.checkConfirms = false;
    x.code = 0;
}

class ExportsState : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(orv::test::WaitEcrDone(10000));
        Host().Reset();
        api::SetTestLogic("CS6_ECR", &s6);
        api::SetTestLogic("CEM_ECR", &em);
        api::SetTestLogic("CMD_ECR", &md);
        api::SetTestLogic("CMDUSB_ECR", &mdusb);
        ASSERT_EQ(EcrCreate(nullptr), 1);
    }
    void TearDown() override {
        EXPECT_TRUE(orv::test::WaitEcrDone(10000));
        Host().Reset();
        api::ClearTestLogics();
    }

    CFakeLogic s6{"CS6_ECR"}, em{"CEM_ECR"}, md{"CMD_ECR"}, mdusb{"CMDUSB_ECR"};
};

// Checks the events of one job against what was expected of it.
void CheckJobOutcome(const Expectation& x, const std::vector<orv::test::HostEvent>& events, int error,
                     const std::string& message) {
    if (!x.progress) {
        // No events reach the host; the codes still tell.
        EXPECT_TRUE(events.empty());
        if (!x.started || x.fail) {
            EXPECT_NE(error, 0) << "a failed job ends with code 0";
        }
        if ((!x.started || x.fail) && x.code != 0) {
            EXPECT_EQ(error, x.code);
        }
        return;
    }
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front().code, ECR_EVENT_OPENING);
    int failed = 0, succeeded = 0;
    const orv::test::HostEvent* failEvent = nullptr;
    for (const auto& e : events) {
        EXPECT_LT(e.text.size(), 512u);
        if (e.code == ECR_EVENT_ITEM) {
            EXPECT_GE(e.percent, 0);
            EXPECT_LE(e.percent, 100);
        }
        if (e.code == ECR_EVENT_FAILED) {
            ++failed;
            failEvent = &e;
        }
        if (e.code == ECR_EVENT_SUCCEEDED) ++succeeded;
    }
    if (!x.started) {
        // Refused at the open: no job result, a system or device error, and
        // the last event says so.
        EXPECT_EQ(failed + succeeded, 0);
        EXPECT_EQ(events.back().code, ECR_EVENT_SYSTEM_ERROR);
        EXPECT_NE(error, 0);
        if (x.code != 0) {
            EXPECT_EQ(error, x.code);
        }
        return;
    }
    EXPECT_EQ(events.back().code, ECR_EVENT_CLOSED);
    EXPECT_EQ(failed + succeeded, 1);
    if (x.fail) {
        ASSERT_EQ(failed, 1) << "a failed job reported as success";
        EXPECT_NE(error, 0) << "a failed job ends with code 0";
        EXPECT_EQ(failEvent->value, error);
        EXPECT_EQ(failEvent->text, message);
        if (x.code != 0) {
            EXPECT_EQ(error, x.code);
        }
    } else {
        EXPECT_EQ(succeeded, 1);
    }
}

}  // namespace

TEST_F(ExportsState, RandomHostSequencesKeepTheBusyFlagJobBlockAndErrorRules) {
    CFakeLogic* fakes[] = {&s6, &em, &md, &mdusb};
    const int threadsBefore = ThreadCountBeforeJobs();
    int started = 0, failedJobs = 0, refused = 0, confirmChecks = 0;
    for (uint32_t seed = 1; seed <= 8; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        Random rnd(seed);
        bool busy = false;                 // as the host knows it
        Expectation pending;
        std::vector<EcrItemRecord> items;
        std::vector<EcrDeptRecord> depts;
        std::vector<EcrUnitRecord> units;
        for (int step = 0; step < 500; ++step) {
            SCOPED_TRACE("step " + std::to_string(step));
            const int what = rnd.Int(0, 99);
            if (what < 12) {
                const int done = EcrIsDone();
                if (!busy) {
                    EXPECT_EQ(done, 1);
                    continue;
                }
                // The fakes end at once: the job is over within a bound.
                const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
                int d = done;
                while (!d && std::chrono::steady_clock::now() < end) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    d = EcrIsDone();
                }
                ASSERT_EQ(d, 1) << "the job never ended";
                busy = false;
                CheckJobOutcome(pending, Host().Events(), EcrError(), EcrErrMsg());
                if (pending.fail) ++failedJobs;
                if (pending.checkConfirms) {
                    confirmChecks += pending.confirms.empty() ? 0 : 1;
                    std::vector<std::pair<uint32_t, int>> got;
                    for (const auto& c : Host().Confirmations()) {
                        got.emplace_back(c.number, c.code);
                        EXPECT_LT(c.text.size(), 64u);
                        EXPECT_NE(c.code, 0) << "a confirmation of a failed item with code 0";
                    }
                    EXPECT_EQ(got, pending.confirms);
                }
                if (pending.vatCalls >= 0) {
                    EXPECT_EQ(static_cast<int>(Host().VatCalls().size()), pending.vatCalls);
                }
                if (pending.statusCalls >= 0) {
                    EXPECT_EQ(static_cast<int>(Host().StatusCalls().size()), pending.statusCalls);
                }
                continue;
            }
            if (what < 17) {
                EXPECT_EQ(EcrBreakJob(), busy ? 1 : 0);
                if (busy) LoosenAfterBreak(pending);
                continue;
            }
            if (what < 20) {
                EXPECT_EQ(EcrDelete(), 1);
                continue;
            }
            if (what < 23) {
                if (busy) continue;   // taking the transports from a job is refused (checked below)
                EXPECT_EQ(EcrCreate(nullptr), 1);
                EXPECT_EQ(EcrError(), 0);
                EXPECT_STREQ(EcrErrMsg(), "");
                continue;
            }
            if (what < 27) {
                if (busy) continue;   // the code of a running job is read after EcrIsDone
                const char* msg = EcrErrMsg();
                ASSERT_NE(msg, nullptr);
                EXPECT_LT(std::strlen(msg), 512u);
                (void)EcrError();
                continue;
            }

            // ---- a job export ----
            if (busy) {
                // Refused before anything is copied: the running job's
                // record, arrays and events stay as they are.
                EcrItemRecord spare[2]{};
                EcrDeviceRecord other = orv::test::DeviceRecord(rnd.Int(-1, 120), rnd.Int(0, 20));
                int refused = 0;
                switch (rnd.Int(0, 4)) {
                case 0: refused = EcrReadVAT(&other, &RecordingHost::OnVat); break;
                case 1: refused = EcrPgmPLU(&other, spare, 2, &RecordingHost::OnItemProgram); break;
                case 2: refused = EcrDelFromPLU(&other, spare, nullptr); break;
                case 3: refused = EcrReadAllPLU(nullptr, &RecordingHost::OnItemRead); break;
                default: refused = EcrPgmUNIT(&other, nullptr, -1, nullptr); break;
                }
                EXPECT_EQ(refused, 0) << "a second job export before EcrIsDone was accepted";
                continue;
            }
            const int job = rnd.Int(1, 18);
            // The device: a served (scripted) class, an unserved family, or
            // a code outside the table.
            EcrDeviceRecord dev{};
            CFakeLogic* fake = nullptr;
            const int device = rnd.Int(0, 9);
            int type = 1, kind = 0;
            switch (device) {
            case 0: case 1: case 2: type = 1; fake = &s6; break;
            case 3: type = 20; fake = &em; break;
            case 4: type = 1; kind = 8; fake = &em; break;
            case 5: type = 100; kind = 5; fake = &mdusb; break;
            case 6: type = 100; kind = rnd.Int(0, 4); fake = &md; break;
            case 7: type = 106; fake = &mdusb; break;
            case 8: type = 10043; break;                    // a family not served: refused at the open
            default: type = rnd.Chance(50) ? 51 : rnd.Int(-5, 0); break;  // outside the table
            }
            dev.type = type;
            dev.kind = kind;
            dev.port = rnd.Chance(90) ? rnd.Int(1, 16) : rnd.Int(-3, 300);
            dev.baud = rnd.Chance(80) ? 9600 : rnd.Int(-5, 1000000);
            for (char& c : dev.address) c = static_cast<char>(rnd.Int(1, 255));   // not terminated
            dev.progress = rnd.Chance(95) ? &RecordingHost::OnProgress : nullptr;
            const bool nullRecord = rnd.Chance(5);
            const bool nullArray = rnd.Chance(12);
            int count = rnd.Chance(15) ? rnd.Int(-3, -1) : rnd.Int(0, 7);
            const size_t size = static_cast<size_t>(count < 1 ? 1 : count) + 2;
            items.assign(size, EcrItemRecord{});
            depts.assign(size, EcrDeptRecord{});
            units.assign(size, EcrUnitRecord{});
            for (size_t i = 0; i < size; ++i) {
                items[i].number = depts[i].number = units[i].number = static_cast<uint32_t>(100 + i);
                std::memset(items[i].name, 'n', sizeof items[i].name);   // not terminated
            }
            EcrItemRecord* ip = nullArray ? nullptr : items.data();
            EcrDeptRecord* dp = nullArray ? nullptr : depts.data();
            EcrUnitRecord* up = nullArray ? nullptr : units.data();
            const bool withCb = rnd.Chance(85);

            // Scripts of the object the job goes to (only while no job runs).
            Expectation x;
            x.progress = dev.progress != nullptr;
            if (fake) {
                for (CFakeLogic* f : fakes) f->itemFailures.clear();
                fake->open = RandomScript(rnd, 15);
                fake->close = SlotScript{};
                fake->close.result = rnd.Chance(90) ? 1 : 0;   // a failed close changes no outcome
                const SlotScript slot = RandomScript(rnd, 30);
                fake->readVat = fake->readStatus = fake->readSale = fake->clearSale = slot;
                fake->readAllPlu = fake->readPlu = fake->readAllDept = fake->readAllUnit = slot;
                fake->pgmPlu = fake->delPlu = fake->pgmDept = fake->pgmUnit = rnd.Chance(85) ? SlotScript{} : slot;
                fake->throwInSlot = rnd.Chance(4);
                fake->registerProtocol = true;
                fake->loopOptions.event6OnFirstFailure = rnd.Chance(50);
                fake->loopOptions.confirmSuccess = false;
                fake->plus.assign(static_cast<size_t>(rnd.Int(0, 3)), EcrItemRecord{});
                const int n = count <= 0 ? 1 : count;
                for (int i = 0; i < n; ++i) {
                    if (!rnd.Chance(30)) continue;
                    SlotScript f;
                    f.result = 0;
                    if (rnd.Chance(70)) {
                        f.error = rnd.Chance(15) ? -7 : rnd.Int(1, 3000);
                        f.text = std::string(static_cast<size_t>(rnd.Int(0, 100)), 'f');
                    } else {
                        f.protocolError = rnd.Int(-6, -1);
                    }
                    fake->itemFailures[i] = f;
                }
            }

            // Which array the job reads, with the count the export stores.
            bool arrayJob = false;
            int storedCount = count;
            const SlotScript* slot = nullptr;
            bool loopJob = false;
            int r = 0;
            Host().Reset();
            const EcrDeviceRecord* rec = nullRecord ? nullptr : &dev;
            switch (job) {
            case 1: r = EcrReadSale(rec, withCb ? &RecordingHost::OnSale : nullptr); slot = fake ? &fake->readSale : nullptr; break;
            case 2: r = EcrClearSale(rec, withCb ? &RecordingHost::OnSale : nullptr); slot = fake ? &fake->clearSale : nullptr; break;
            case 3: r = EcrReadAllPLU(rec, withCb ? &RecordingHost::OnItemRead : nullptr); slot = fake ? &fake->readAllPlu : nullptr; break;
            case 4:
                r = EcrReadPLU(rec, ip, count, withCb ? &RecordingHost::OnItemRead : nullptr);
                arrayJob = true;
                slot = fake ? &fake->readPlu : nullptr;
                break;
            case 5: r = EcrPgmPLU(rec, ip, count, withCb ? &RecordingHost::OnItemProgram : nullptr); arrayJob = loopJob = true; break;
            case 6: r = EcrUpDatePLU(rec, ip, count, withCb ? &RecordingHost::OnItemProgram : nullptr); arrayJob = loopJob = true; break;
            case 7: r = EcrDelPLU(rec, ip, count, withCb ? &RecordingHost::OnItemProgram : nullptr); arrayJob = loopJob = true; break;
            case 8: r = EcrDelAllPLU(rec, withCb ? &RecordingHost::OnItemProgram : nullptr); break;
            case 9: r = EcrReadAllDEPT(rec, withCb ? &RecordingHost::OnDeptRead : nullptr); slot = fake ? &fake->readAllDept : nullptr; break;
            case 10: r = EcrReadDEPT(rec, dp, count, withCb ? &RecordingHost::OnDeptRead : nullptr); break;
            case 11: r = EcrPgmDEPT(rec, dp, count, withCb ? &RecordingHost::OnDeptProgram : nullptr); arrayJob = loopJob = true; break;
            case 12: r = EcrReadAllUnit(rec, withCb ? &RecordingHost::OnUnitRead : nullptr); slot = fake ? &fake->readAllUnit : nullptr; break;
            case 13: r = EcrPgmUNIT(rec, up, count, withCb ? &RecordingHost::OnUnitProgram : nullptr); arrayJob = loopJob = true; break;
            case 14: r = EcrReadStatus(rec, withCb ? &RecordingHost::OnStatus : nullptr); slot = fake ? &fake->readStatus : nullptr; break;
            case 15: r = EcrReadVAT(rec, withCb ? &RecordingHost::OnVat : nullptr); slot = fake ? &fake->readVat : nullptr; break;
            case 16: r = EcrReadFromPLU(rec, ip, withCb ? &RecordingHost::OnItemRead : nullptr); storedCount = 2; break;
            case 17: r = EcrDelFromPLU(rec, ip, withCb ? &RecordingHost::OnItemProgram : nullptr); storedCount = 2; break;
            default: r = EcrPgmExBarcode(rec, ip, count, withCb ? &RecordingHost::OnItemProgram : nullptr); arrayJob = loopJob = true; break;
            }
            SCOPED_TRACE("job " + std::to_string(job) + " type " + std::to_string(type) + " kind " +
                         std::to_string(kind));

            if (nullRecord) {
                EXPECT_EQ(r, 0);
                EXPECT_EQ(EcrIsDone(), 1);
                EXPECT_EQ(EcrError(), -1);
                continue;
            }
            if (!fake) {
                EXPECT_EQ(r, 0);
                EXPECT_EQ(EcrIsDone(), 1) << "a refused job leaves the host busy";
                EXPECT_NE(EcrError(), 0) << "a refused job leaves code 0";
                if (type == 10043) {
                    EXPECT_EQ(EcrError(), kSystemError);
                }
                continue;
            }
            if (fake->open.result != 1 || fake->open.error != 0) {
                // Anything but exactly 1 from the open refuses the job.
                if (fake->open.result != 1) {
                    EXPECT_EQ(r, 0);
                    EXPECT_EQ(EcrIsDone(), 1);
                    ++refused;
                    x.started = false;
                    x.code = fake->open.error != 0           ? fake->open.error
                             : fake->open.protocolError != 0 ? fake->open.protocolError
                                                             : kSystemError;
                    CheckJobOutcome(x, Host().Events(), EcrError(), EcrErrMsg());
                    continue;
                }
            }
            ASSERT_EQ(r, 1) << "a job with a working open was refused";
            ++started;
            busy = true;
            x.started = true;

            // What the job should end with.
            const bool badArray = arrayJob && (nullArray || count < 0);
            if (fake->throwInSlot && job != 8 && job != 10 && job != 16 && job != 17 && !badArray) {
                x.fail = true;
                x.code = 0;     // 999999 unless a code was left earlier
            } else if (badArray) {
                x.fail = true;
                x.code = -1;
            } else if (job == 8) {
                x.fail = false;
            } else if (job == 10 || job == 16 || job == 17) {
                x.fail = true;
                x.code = kNotAvailable;
            } else if (loopJob) {
                const SlotScript& whole = job == 7 ? fake->delPlu
                                          : job == 11 ? fake->pgmDept
                                          : job == 13 ? fake->pgmUnit
                                                      : fake->pgmPlu;
                if (whole.result != 1 || whole.error != 0) {
                    x.fail = whole.result != 1;
                    x.code = whole.result != 1 ? ExpectedCode(whole) : 0;
                } else {
                    // The item loop: the last item handled decides; three
                    // items in a row without an answer (a transport code)
                    // end it, the rest confirmed with the third one's code.
                    const int n = storedCount <= 0 ? 1 : storedCount;
                    x.checkConfirms = withCb;
                    x.fail = false;
                    int silent = 0;
                    for (int i = 0; i < n; ++i) {
                        auto it = fake->itemFailures.find(i);
                        if (it == fake->itemFailures.end()) {
                            x.fail = false;
                            x.code = 0;
                            silent = 0;
                            continue;
                        }
                        const int code = ExpectedCode(it->second);
                        x.fail = true;
                        x.code = code;
                        if (code == -7) break;   // no confirmation; the loop ends
                        x.confirms.emplace_back(static_cast<uint32_t>(100 + i), code);
                        silent = (code <= -1 && code >= -10) ? silent + 1 : 0;
                        if (silent == 3) {
                            for (int j = i + 1; j < n; ++j)
                                x.confirms.emplace_back(static_cast<uint32_t>(100 + j), code);
                            x.tailWithoutDevice = i + 1 < n;
                            break;
                        }
                    }
                }
            } else if (slot) {
                x.fail = slot->result != 1;
                x.code = x.fail ? ExpectedCode(*slot) : 0;
            }
            if (job == 15) x.vatCalls = (!x.fail && withCb) ? 1 : 0;
            if (job == 14) x.statusCalls = (!x.fail && withCb) ? 1 : 0;
            pending = x;

            // Now and then the host acts while the job is held mid-way.
            if (rnd.Chance(8)) {
                // Not held: the job may already be over; these still hold.
                EXPECT_EQ(EcrBreakJob(), 1);
                LoosenAfterBreak(pending);
            }
        }
        // Let the last job end before the next seed.
        if (busy) {
            ASSERT_TRUE(orv::test::WaitEcrDone(10000));
            CheckJobOutcome(pending, Host().Events(), EcrError(), EcrErrMsg());
        }
    }
    // Every worker is gone once its job has ended: none piles up.
    EXPECT_LE(SettledThreadCount(threadsBefore + 1), threadsBefore + 1);
    // The sequences reached every kind of outcome.
    EXPECT_GT(started, 100);
    EXPECT_GT(failedJobs, 30);
    EXPECT_GT(refused, 10);
    EXPECT_GT(confirmChecks, 10);
    std::printf("jobs started %d (failed %d), refused at the open %d, confirmation lists checked %d\n", started,
                failedJobs, refused, confirmChecks);
}

// While a job is held mid-way, whatever the host does leaves it alone: no
// second job, no EcrCreate, EcrIsDone 0, EcrBreakJob 1; once released it ends
// with its own outcome.
TEST_F(ExportsState, HostCallsWhileAJobIsHeldChangeNothing) {
    Random rnd(31337);
    EcrDeviceRecord dev = orv::test::DeviceRecord(1, 3);
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        Host().Reset();
        s6.itemFailures.clear();
        const int count = rnd.Int(1, 6);
        std::vector<EcrItemRecord> items(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) items[static_cast<size_t>(i)].number = static_cast<uint32_t>(i + 1);
        const int failAt = rnd.Int(-1, count - 1);
        if (failAt >= 0) s6.itemFailures[failAt] = SlotScript{0, 500 + failAt, "bad item", 0};
        const int holdEvent = rnd.Chance(50) ? ECR_EVENT_ITEM : ECR_EVENT_WAIT;
        Gate gate;
        gate.HoldAt(holdEvent);
        ASSERT_EQ(EcrPgmPLU(&dev, items.data(), count, &RecordingHost::OnItemProgram), 1);
        ASSERT_TRUE(gate.WaitHeld());
        for (int k = 0; k < 6; ++k) {
            switch (rnd.Int(0, 5)) {
            case 0: EXPECT_EQ(EcrIsDone(), 0); break;
            case 1: EXPECT_EQ(EcrBreakJob(), 1); break;
            case 2: EXPECT_EQ(EcrCreate(nullptr), 0); break;
            case 3: EXPECT_EQ(EcrDelete(), 1); break;
            case 4: EXPECT_EQ(EcrReadVAT(&dev, &RecordingHost::OnVat), 0); break;
            default: EXPECT_EQ(EcrPgmPLU(nullptr, items.data(), count, &RecordingHost::OnItemProgram), 0); break;
            }
        }
        gate.Release();
        ASSERT_TRUE(orv::test::WaitEcrDone(10000));
        Host().SetEventHook(nullptr);
        const bool lastFails = failAt == count - 1;
        EXPECT_EQ(EcrError(), lastFails ? 500 + failAt : 0);
        const auto confirms = Host().Confirmations();
        ASSERT_EQ(confirms.size(), failAt >= 0 ? 1u : 0u);
        if (failAt >= 0) {
            EXPECT_EQ(confirms[0].code, 500 + failAt);
            EXPECT_EQ(confirms[0].number, static_cast<uint32_t>(failAt + 1));
        }
        EXPECT_EQ(Host().VatCalls().size(), 0u);
        EXPECT_EQ(Host().EventCodes().back(), ECR_EVENT_CLOSED);
    }
}

// A host that calls the exports from two threads at once (a UI thread and a
// timer, say): at most one job is ever under way; the other calls are refused.
TEST_F(ExportsState, TwoHostThreadsNeverRunTwoJobsAtOnce) {
    std::atomic<int> inJob{0};
    std::atomic<int> overlaps{0};
    Host().SetEventHook([&](const orv::test::HostEvent& e) {
        if (e.code == ECR_EVENT_OPENING && inJob.fetch_add(1) != 0) overlaps.fetch_add(1);
        if (e.code == ECR_EVENT_CLOSED) inJob.fetch_sub(1);
    });
    std::atomic<int> accepted{0};
    std::atomic<bool> go{false};
    auto host = [&](int which) {
        EcrDeviceRecord dev = orv::test::DeviceRecord(which == 0 ? 1 : 20, 2);
        while (!go.load()) {
        }
        for (int i = 0; i < 300; ++i) {
            if ((i + which) % 2 == 0) {
                if (EcrReadVAT(&dev, &RecordingHost::OnVat) == 1) accepted.fetch_add(1);
            } else {
                if (EcrDelAllPLU(&dev, nullptr) == 1) accepted.fetch_add(1);
            }
            EcrIsDone();
        }
    };
    std::thread a(host, 0), b(host, 1);
    go = true;
    a.join();
    b.join();
    ASSERT_TRUE(orv::test::WaitEcrDone(10000));
    Host().SetEventHook(nullptr);
    EXPECT_EQ(overlaps.load(), 0) << "two jobs were under way at once";
    EXPECT_GT(accepted.load(), 0);
}
