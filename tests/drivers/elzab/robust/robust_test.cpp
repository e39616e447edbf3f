// Elzab jobs under hostile conditions: answers cut short, garbage answer and
// status bytes, silence, stale bytes, answers in random pieces, a register
// that vanishes mid-reply, breaks at random moments and odd host values.
//
// Each job is first run on an undisturbed register (the reference). A
// disturbed run must then either succeed with exactly the reference's
// results, or fail with a nonzero code and its text, having handed over only
// records of the reference and confirmed every failed item with a nonzero
// code. Seeds are fixed, so every run sends the same faults.
#include "../elzab_fixture.h"

#include <cmath>
#include <limits>
#include <map>
#include <random>

#include "util/cp1250.h"

namespace orv::test {
namespace {

using Plu = ElzabEmulator::Plu;

bool SamePlu(const std::optional<Plu>& a, const std::optional<Plu>& b) {
    if (a.has_value() != b.has_value()) return false;
    if (!a) return true;
    return a->number == b->number && a->name == b->name && a->name2 == b->name2 && a->vat == b->vat &&
           a->dept == b->dept && a->byte21 == b->byte21 && a->unit == b->unit && a->byte23 == b->byte23 &&
           a->barcode == b->barcode && a->price == b->price && a->byte34 == b->byte34;
}

template <class T>
bool SameBytes(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

template <class T>
bool Contains(const std::vector<T>& list, const T& x) {
    for (const T& y : list)
        if (SameBytes(x, y)) return true;
    return false;
}

template <size_t N>
bool Terminated(const char (&text)[N]) {
    return std::memchr(text, 0, N) != nullptr;
}

// The arrays a job works on; they live until the job has ended.
struct JobData {
    std::vector<EcrItemRecord> items;
    std::vector<EcrDeptRecord> depts;
    std::vector<EcrUnitRecord> units;
};

enum class Kind { Read, ReadList, ItemWrite, ItemDelete, DeptWrite, UnitWrite };

struct Scenario {
    const char* name;
    int type;
    uint32_t model;
    uint32_t flags;
    Kind kind;
    // What the job sends (fault targets). Not the capacity read 0x91: when
    // it fails, a walk goes over the model's whole table.
    std::vector<uint8_t> commands;
    JobData data;
    std::function<int(EcrDeviceRecord&, JobData&)> start;
    std::function<void(ElzabEmulator&)> setup = {};   // beyond Fill
};

void Fill(ElzabEmulator& r) {
    r.SetCapacityReply(12);   // long-name models walk 12 PLUs
    r.AddPlu(1, "Chleb razowy krojony 500g", 1, 1, 3.49, 5901234123457ull);
    r.AddPlu(5, PL("Żółty ser gouda"), 2, 3, 27.9, 0, 2);
    r.AddPlu(12, "X", 3, 1, 0.01);
    r.SetDept(1, "Pieczywo");
    r.SetDept(3, PL("Nabiał"));
    r.SetCounter(1, {12345, 3, 4321});
    r.SetCounter(5, {-2, 0, -558});
    r.AddStreamRecord(ElzabEmulator::kA5Pass0, {5, 2, 0, 700, 0, 0});
    r.AddStreamRecord(ElzabEmulator::kA5Pass2, {12, 15, 1, 1234, 0, 0});
    r.AddStreamRecord(ElzabEmulator::kA2, {1, 3, 0, 1047, 0, 0});
    r.AddStreamRecord(ElzabEmulator::kA3, {5, 1, 0, 2790, 0, 0});
    r.AddStreamRecord(ElzabEmulator::kAD, {12, 2500, 3, 1250, 500, 2});
    r.AddStreamRecord(ElzabEmulator::kAE, {1, 1, 0, 349, 349, 1});
}

std::vector<Scenario> Scenarios() {
    auto items = [](std::initializer_list<EcrItemRecord> l) { return JobData{std::vector<EcrItemRecord>(l), {}, {}}; };
    const JobData plus = items({Item(1, "Nowy chleb", 1, 1, 4.99, "5900000000001"),
                                Item(7, PL("Śmietana 18%"), 2, 3, 3.2, "", 2), Item(12, "Y", 3, 1, 12.345)});
    std::vector<Scenario> s;
    auto add = [&](const char* name, int type, uint32_t model, uint32_t flags, Kind kind,
                   std::vector<uint8_t> commands, JobData data, std::function<int(EcrDeviceRecord&, JobData&)> start) {
        s.push_back({name, type, model, flags, kind, std::move(commands), std::move(data), std::move(start)});
    };
    add("ReadVAT long", 94, 28, 0, Kind::Read, {0xC0, 0xD0}, {},
        [](EcrDeviceRecord& d, JobData&) { return EcrReadVAT(&d, RecordingHost::OnVat); });
    add("ReadVAT short", 2, 2, 0, Kind::Read, {0xC0, 0xD0}, {},
        [](EcrDeviceRecord& d, JobData&) { return EcrReadVAT(&d, RecordingHost::OnVat); });
    add("ReadStatus", 27, 13, 0, Kind::Read, {0xC0, 0xFF, 0x71, 0x35, 0x66, 0xD0, '[', 'T', 'U', 'V'}, {},
        [](EcrDeviceRecord& d, JobData&) { return EcrReadStatus(&d, RecordingHost::OnStatus); });
    add("ReadAllPLU", 94, 28, 0, Kind::Read, {0xC0, 0xAC, 0x6B}, {},
        [](EcrDeviceRecord& d, JobData&) { return EcrReadAllPLU(&d, RecordingHost::OnItemRead); });
    add("ReadPLU", 94, 28, 0, Kind::ReadList, {0xC0, 0xAC, 0x6B},
        items({Item(1, "", 0, 0, 0), Item(2, "", 0, 0, 0), Item(5, "", 0, 0, 0), Item(12, "", 0, 0, 0)}),
        [](EcrDeviceRecord& d, JobData& j) {
            return EcrReadPLU(&d, j.items.data(), static_cast<int>(j.items.size()), RecordingHost::OnItemRead);
        });
    auto pgm = [](EcrDeviceRecord& d, JobData& j) {
        return EcrPgmPLU(&d, j.items.data(), static_cast<int>(j.items.size()), RecordingHost::OnItemProgram);
    };
    add("PgmPLU 0xA9", 27, 13, 0, Kind::ItemWrite, {0xC0, 0xD0, 0xA9}, plus, pgm);
    add("PgmPLU 0x9E", 94, 28, 0, Kind::ItemWrite, {0xC0, 0xD0, 0x9E, 0x6B}, plus, pgm);
    add("PgmPLU 0x02", 700, 21, 0, Kind::ItemWrite, {0xC0, 0xD0, 0xFE, 0x02}, plus, pgm);
    add("UpDatePLU", 27, 13, 0, Kind::ItemWrite, {0xC0, 0xD0, 0xA6, 0xA9}, plus,
        [](EcrDeviceRecord& d, JobData& j) {
            return EcrUpDatePLU(&d, j.items.data(), static_cast<int>(j.items.size()), RecordingHost::OnItemProgram);
        });
    add("PgmExBarcode", 27, 13, 0, Kind::ItemWrite, {0xC0, 0xEB}, plus, [](EcrDeviceRecord& d, JobData& j) {
        return EcrPgmExBarcode(&d, j.items.data(), static_cast<int>(j.items.size()), RecordingHost::OnItemProgram);
    });
    add("DelPLU", 27, 13, 0, Kind::ItemDelete, {0xC0, 0xF1},
        items({Item(5, "", 0, 0, 0), Item(6, "", 0, 0, 0), Item(1, "", 0, 0, 0)}),
        [](EcrDeviceRecord& d, JobData& j) {
            return EcrDelPLU(&d, j.items.data(), static_cast<int>(j.items.size()), RecordingHost::OnItemProgram);
        });
    JobData depts, units;
    // Records numbered as given, each named by fmt from its number.
    auto numbered = [](auto& list, std::initializer_list<uint32_t> numbers, const char* fmt) {
        for (uint32_t n : numbers) {
            typename std::remove_reference_t<decltype(list)>::value_type r{};
            r.number = n;
            std::snprintf(r.name, sizeof r.name, fmt, n);
            list.push_back(r);
        }
    };
    numbered(depts.depts, {2u, 3u, 99u}, "Grupa %u");
    numbered(units.units, {2u, 6u, 16u}, "j%u");
    add("PgmDEPT", 27, 13, 0, Kind::DeptWrite, {0xC0, 0xC6}, depts, [](EcrDeviceRecord& d, JobData& j) {
        return EcrPgmDEPT(&d, j.depts.data(), static_cast<int>(j.depts.size()), RecordingHost::OnDeptProgram);
    });
    add("ReadAllDEPT", 53, 23, 0, Kind::Read, {0xC0, 0xC7}, {},
        [](EcrDeviceRecord& d, JobData&) { return EcrReadAllDEPT(&d, RecordingHost::OnDeptRead); });
    add("PgmUNIT", 27, 13, 0, Kind::UnitWrite, {0xC0, 0xC4}, units, [](EcrDeviceRecord& d, JobData& j) {
        return EcrPgmUNIT(&d, j.units.data(), static_cast<int>(j.units.size()), RecordingHost::OnUnitProgram);
    });
    add("ReadAllUnit", 27, 13, 0, Kind::Read, {0xC0, 0xC5}, {},
        [](EcrDeviceRecord& d, JobData&) { return EcrReadAllUnit(&d, RecordingHost::OnUnitRead); });
    auto sale = [](EcrDeviceRecord& d, JobData&) { return EcrReadSale(&d, RecordingHost::OnSale); };
    add("ReadSale counters", 94, 28, 0, Kind::Read, {0xC0, 0xA5, 0xCB, 0xAC, 0x6B}, {}, sale);
    add("ReadSale stream", 94, 28, 2, Kind::Read, {0xC0, 0xAD, 0xAE}, {}, sale);
    add("ClearSale", 27, 13, 1, Kind::Read, {0xC0, 0xA8, 0xA2, 0xA3, 0xA5}, {}, sale);
    add("ClearSale not all read", 27, 13, 1, Kind::Read, {0xC0, 0xA8, 0xA2, 0xA3, 0xA5}, {}, sale);
    s.back().setup = [](ElzabEmulator& r) { r.SetNotAllRead(2); };
    add("EcrClearSale", 94, 28, 0, Kind::Read, {0xC0, 0xA8, 0xA2, 0xA3, 0xA5}, {},
        [](EcrDeviceRecord& d, JobData&) { return EcrClearSale(&d, RecordingHost::OnSale); });
    s.back().setup = [](ElzabEmulator& r) { r.SetNotAllRead(1); };
    return s;
}

// What a job handed over and left in the register.
struct Outcome {
    int error = 0;
    std::string text;
    std::vector<EcrItemRecord> items;
    std::vector<HostSale> sales;
    std::vector<VatRates> vat;
    std::vector<HostStatus> status;
    std::vector<EcrDeptRecord> depts;
    std::vector<EcrUnitRecord> units;
    std::vector<HostConfirm> confirms;
    std::vector<HostEvent> events;
    std::map<uint32_t, std::optional<Plu>> plus;
    std::map<uint32_t, std::optional<Bytes>> deptState;
    std::map<uint32_t, Bytes> unitState;
    int clears = 0;
    std::vector<uint8_t> sent;   // commands the register received
    double seconds = 0;
};

bool SameSale(const HostSale& a, const HostSale& b) { return SameBytes(a.item, b.item) && SameBytes(a.sale, b.sale); }

class ElzabRobustTest : public ElzabTest {
protected:
    // Sets up the register for the scenario (arm runs before the job starts,
    // for faults), runs the job and collects its outcome.
    Outcome RunScenario(const Scenario& sc, const std::function<void(ElzabEmulator&)>& arm,
                        const std::function<void()>& during = {}) {
        Host().Reset();
        Register(sc.type, sc.model);
        device.flags = sc.flags;
        Fill(*reg);
        if (sc.setup) sc.setup(*reg);
        if (arm) arm(*reg);
        JobData data = sc.data;
        auto t0 = std::chrono::steady_clock::now();
        Outcome o;
        EXPECT_EQ(sc.start(device, data), 1) << sc.name;
        if (during) during();
        if (!WaitDone(12000)) {
            ADD_FAILURE() << sc.name << ": the job did not end";
            EcrBreakJob();
            WaitDone(10000);
        }
        o.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        o.error = EcrError();
        o.text = EcrErrMsg();
        o.items = Host().Items();
        o.sales = Host().Sales();
        o.vat = Host().VatCalls();
        o.status = Host().StatusCalls();
        o.depts = Host().Depts();
        o.units = Host().Units();
        o.confirms = Host().Confirmations();
        o.events = Host().Events();
        for (uint32_t n = 0; n <= 13; ++n) o.plus[n] = reg->GetPlu(n);
        for (uint32_t n : {1u, 2u, 3u, 99u}) o.deptState[n] = reg->GetDept(static_cast<uint8_t>(n));
        for (uint32_t n = 1; n <= 16; ++n) o.unitState[n] = reg->GetUnit(static_cast<uint8_t>(n));
        // The confirmation of a clear is the job's last byte: let the
        // register take it in.
        auto lastIsClear = [&] {
            auto cmds = reg->Commands();
            return !cmds.empty() && cmds.back() == 0xA8;
        };
        for (int i = 0; i < 50 && lastIsClear() && reg->ClearsDone() == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        o.clears = reg->ClearsDone();
        o.sent = reg->Commands();
        return o;
    }

    const Outcome& Reference(size_t index, const Scenario& sc) {
        auto it = m_refs.find(index);
        if (it != m_refs.end()) return it->second;
        Outcome o = RunScenario(sc, {});
        EXPECT_EQ(o.error, 0) << sc.name << ": " << Utf8(o.text);
        return m_refs[index] = o;
    }

    // The promises every run keeps, disturbed or not.
    static void CheckWellFormed(const Outcome& o) {
        if (o.error != 0) {
            EXPECT_FALSE(o.text.empty()) << "code " << o.error << " without a text";
        }
        for (const auto& c : o.confirms) {
            EXPECT_NE(c.code, 0) << "a confirmation with code 0 for item " << c.number;
            EXPECT_FALSE(c.text.empty()) << "a confirmation without text, code " << c.code;
        }
        for (const auto& i : o.items) {
            EXPECT_TRUE(Terminated(i.code));
            EXPECT_TRUE(Terminated(i.name));
            EXPECT_TRUE(Terminated(i.code2));
        }
        for (const auto& s : o.sales) {
            EXPECT_TRUE(Terminated(s.item.code));
            EXPECT_TRUE(Terminated(s.item.name));
            EXPECT_TRUE(Terminated(s.sale.text));
            EXPECT_TRUE(Terminated(s.sale.code));
            EXPECT_TRUE(Terminated(s.sale.name));
        }
        for (const auto& d : o.depts) EXPECT_TRUE(Terminated(d.name));
        for (const auto& u : o.units) EXPECT_TRUE(Terminated(u.name));
        for (const auto& st : o.status) {
            EXPECT_TRUE(Terminated(st.status.unique_number));
            EXPECT_TRUE(Terminated(st.status.date));
            EXPECT_TRUE(Terminated(st.status.time));
            EXPECT_TRUE(Terminated(st.status.device_text));
            EXPECT_TRUE(Terminated(st.status.information));
        }
        for (const auto& e : o.events) EXPECT_LE(e.text.size(), 255u);
    }

    // A disturbed run against the reference: the same results when it
    // succeeded, and never anything the reference does not hold.
    static void CheckAgainst(const Scenario& sc, const Outcome& ref, const Outcome& o) {
        CheckWellFormed(o);
        for (const auto& i : o.items) EXPECT_TRUE(Contains(ref.items, i)) << "a read record differs: " << i.number;
        for (const auto& d : o.depts) EXPECT_TRUE(Contains(ref.depts, d)) << "a department differs: " << d.number;
        for (const auto& u : o.units) EXPECT_TRUE(Contains(ref.units, u)) << "a unit differs: " << u.number;
        for (const auto& s : o.sales) {
            bool found = false;
            for (const auto& r : ref.sales) found = found || SameSale(r, s);
            EXPECT_TRUE(found) << "a sale differs: PLU " << s.sale.plu;
        }
        for (const auto& v : o.vat) EXPECT_TRUE(ref.vat.size() == 1 && v == ref.vat[0]);
        for (const auto& st : o.status) EXPECT_TRUE(ref.status.size() == 1 && SameBytes(st.status, ref.status[0].status));

        // Items the loop reached and did not confirm as failed are done as
        // in the reference (the one a break interrupted excepted).
        std::vector<std::string> reached;
        for (const auto& e : o.events)
            if (e.code == ECR_EVENT_ITEM) reached.push_back(e.text);
        auto confirmed = [&](uint32_t n) {
            for (const auto& c : o.confirms)
                if (c.number == n) return true;
            return false;
        };
        size_t reachedCount = reached.size();
        if (o.error == -7 && reachedCount > 0) --reachedCount;
        if (sc.kind == Kind::ItemWrite || sc.kind == Kind::ItemDelete) {
            for (size_t i = 0; i < reachedCount && i < sc.data.items.size(); ++i) {
                uint32_t n = sc.data.items[i].number;
                if (confirmed(n)) continue;
                EXPECT_TRUE(SamePlu(o.plus.at(n), ref.plus.at(n))) << "PLU " << n << " not as programmed";
            }
        } else if (sc.kind == Kind::DeptWrite) {
            for (size_t i = 0; i < reachedCount && i < sc.data.depts.size(); ++i) {
                uint32_t n = sc.data.depts[i].number;
                if (!confirmed(n)) {
                    EXPECT_EQ(o.deptState.at(n), ref.deptState.at(n)) << "department " << n;
                }
            }
        } else if (sc.kind == Kind::UnitWrite) {
            for (size_t i = 0; i < reachedCount && i < sc.data.units.size(); ++i) {
                uint32_t n = sc.data.units[i].number;
                if (!confirmed(n)) {
                    EXPECT_EQ(o.unitState.at(n), ref.unitState.at(n)) << "unit " << n;
                }
            }
        } else if (sc.kind == Kind::ReadList && o.error != -7 && !reached.empty()) {
            // Each item of the list is read or reported by an event.
            int failures = 0;
            for (const auto& e : o.events) failures += e.code == ECR_EVENT_DEVICE_ERROR;
            EXPECT_EQ(o.items.size() + static_cast<size_t>(failures), sc.data.items.size());
        }

        if (o.error != 0) return;
        // Success: exactly the reference (a list read reports its failures
        // by events only).
        if (sc.kind == Kind::ReadList) return;
        EXPECT_EQ(o.items.size(), ref.items.size());
        EXPECT_EQ(o.sales.size(), ref.sales.size());
        EXPECT_EQ(o.depts.size(), ref.depts.size());
        EXPECT_EQ(o.units.size(), ref.units.size());
        EXPECT_EQ(o.vat.size(), ref.vat.size());
        EXPECT_EQ(o.status.size(), ref.status.size());
        if (sc.kind == Kind::Read) {
            for (const auto& [n, p] : ref.plus) EXPECT_TRUE(SamePlu(o.plus.at(n), p)) << "PLU " << n;
            EXPECT_EQ(o.clears, ref.clears);
        }
        if (sc.kind == Kind::Read) {
            EXPECT_TRUE(o.confirms.empty());
        }
    }

    std::map<size_t, Outcome> m_refs;
};

// A random fault aimed at one of the scenario's commands.
struct FaultPlan {
    std::string what;
    std::function<void(ElzabEmulator&)> arm;
};

FaultPlan RandomFault(std::mt19937& rng, const std::vector<uint8_t>& commands, bool allowStale) {
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
    int cmd = commands[static_cast<size_t>(pick(static_cast<int>(commands.size())))];
    if (pick(8) == 0) cmd = -1;
    // "Not defined" (0x66, 0xCA) is a legitimate answer that skips a record.
    auto byteNot = [&](std::initializer_list<int> avoid) {
        for (;;) {
            int b = pick(256);
            bool bad = false;
            for (int a : avoid) bad = bad || a == b;
            if (!bad) return static_cast<uint8_t>(b);
        }
    };
    char buf[96];
    switch (pick(allowStale ? 6 : 5)) {
    case 0: {
        int times = 1 + pick(2);
        std::snprintf(buf, sizeof buf, "silence %02X x%d", cmd & 0xFF, times);
        return {buf, [=](ElzabEmulator& r) { r.QueueSilence(cmd, times); }};
    }
    case 1: {
        uint8_t b = byteNot({0x06, 0x65, 0x66});   // 0x65: "not all read" asks for more reading
        std::snprintf(buf, sizeof buf, "answer %02X to %02X", b, cmd & 0xFF);
        return {buf, [=](ElzabEmulator& r) { r.QueueAnswer(cmd, b); }};
    }
    case 2: {
        // Only where a status byte follows the ACK: elsewhere it would be
        // the first byte of the data (a one-byte reply, a stream's end).
        bool hasStatus = false;
        for (int c : {0xAC, 0x6B, 0xA9, 0x9E, 0x02, 0xA6, 0xEB, 0xF1, 0xC6, 0xC7, 0xC4, 0xCB, 0xA5})
            hasStatus = hasStatus || c == cmd;
        if (!hasStatus) cmd = 0xAC;
        uint8_t b = byteNot({0x00, 0x66, 0xCA});
        std::snprintf(buf, sizeof buf, "status %02X to %02X", b, cmd & 0xFF);
        return {buf, [=](ElzabEmulator& r) { r.QueueStatus(cmd, b); }};
    }
    case 3: {
        int n = pick(12);
        std::snprintf(buf, sizeof buf, "%d bytes of the answer to %02X", n, cmd & 0xFF);
        return {buf, [=](ElzabEmulator& r) { r.QueueShortReply(cmd, n); }};
    }
    case 4: {
        int ms = pick(60);   // well inside the time-out
        std::snprintf(buf, sizeof buf, "answer to %02X %d ms late", cmd & 0xFF, ms);
        return {buf, [=](ElzabEmulator& r) { r.QueueDelay(cmd, ms); }};
    }
    default: {
        Bytes extra(static_cast<size_t>(1 + pick(5)));
        for (auto& b : extra) b = static_cast<uint8_t>(pick(256));
        std::snprintf(buf, sizeof buf, "stale %s after %02X", Hex(extra).c_str(), cmd & 0xFF);
        return {buf, [=](ElzabEmulator& r) { r.QueueStale(cmd, extra); }};
    }
    }
}

// Stale bytes after an answer, an answer a little late, answers in random
// pieces: none of these may change what a job does.
TEST_F(ElzabRobustTest, HarmlessDisturbancesChangeNothing) {
    orv::platform::SetTimeScale(0.05);   // time-outs of 250 ms
    auto scenarios = Scenarios();
    std::mt19937 rng(20261209);
    for (int seed = 0; seed < 3 * static_cast<int>(scenarios.size()); ++seed) {
        size_t index = static_cast<size_t>(seed) % scenarios.size();
        const Scenario& sc = scenarios[index];
        const Outcome& ref = Reference(index, sc);
        bool chunked = seed % 3 == 1;
        std::string what;
        std::vector<std::function<void(ElzabEmulator&)>> arms;
        if (chunked) {
            uint32_t chunkSeed = rng();
            what = "answers in pieces";
            arms.push_back([=](ElzabEmulator& r) { r.SetChunking(3, chunkSeed); });
        } else {
            for (int k = 0; k < 3; ++k) {
                int cmd = sc.commands[rng() % sc.commands.size()];
                Bytes extra(1 + rng() % 4);
                for (auto& b : extra) b = static_cast<uint8_t>(rng());
                if (seed % 3 == 0) {
                    what += "stale " + Hex(extra) + " after " + std::to_string(cmd) + "; ";
                    arms.push_back([=](ElzabEmulator& r) { r.QueueStale(cmd, extra); });
                } else {
                    int ms = static_cast<int>(rng() % 80);
                    what += "delay " + std::to_string(ms) + " for " + std::to_string(cmd) + "; ";
                    arms.push_back([=](ElzabEmulator& r) { r.QueueDelay(cmd, ms); });
                }
            }
        }
        SCOPED_TRACE(std::string(sc.name) + " seed " + std::to_string(seed) + ": " + what);
        Outcome o = RunScenario(sc, [&](ElzabEmulator& r) {
            for (auto& a : arms) a(r);
        });
        EXPECT_EQ(o.error, 0) << Utf8(o.text);
        CheckAgainst(sc, ref, o);
        EXPECT_TRUE(o.confirms.size() == ref.confirms.size());
    }
}

// Garbage, silence and replies cut short: the job fails with a code or does
// exactly what the reference did, and ends within its bounded retries.
TEST_F(ElzabRobustTest, HostileAnswersFailCleanlyOrChangeNothing) {
    const double scale = 0.05;   // time-outs of 250 to 300 ms
    orv::platform::SetTimeScale(scale);
    auto scenarios = Scenarios();
    std::mt19937 rng(7);
    for (int seed = 0; seed < 5 * static_cast<int>(scenarios.size()); ++seed) {
        size_t index = static_cast<size_t>(seed) % scenarios.size();
        const Scenario& sc = scenarios[index];
        const Outcome& ref = Reference(index, sc);
        std::vector<FaultPlan> faults;
        int n = 1 + static_cast<int>(rng() % 3);
        // Every third run also sends its answers in pieces (then no stale
        // bytes: their last pieces could come after the next command).
        bool chunked = seed % 3 == 2;
        for (int k = 0; k < n; ++k) faults.push_back(RandomFault(rng, sc.commands, !chunked));
        if (chunked) {
            uint32_t chunkSeed = rng();
            faults.push_back({"answers in pieces", [=](ElzabEmulator& r) { r.SetChunking(2, chunkSeed); }});
        }
        std::string what;
        for (const auto& f : faults) what += f.what + "; ";
        SCOPED_TRACE(std::string(sc.name) + " seed " + std::to_string(seed) + ": " + what);
        Outcome o = RunScenario(sc, [&](ElzabEmulator& r) {
            for (const auto& f : faults) f.arm(r);
        });
        CheckAgainst(sc, ref, o);
        EXPECT_NE(o.error, -7);
        // At most 6 attempts of one read per fault, each at most one
        // time-out long, and a wait for an overdue answer now and then.
        EXPECT_LT(o.seconds, 6.0 * n * 6.2 * scale + 2.0);
    }
}


// Bytes the register sends after an answer are dropped before the next
// command also where ESC, the command and the data leave as one block (0x9E)
// and before the name's second half (0x6B) that follows it.
TEST_F(ElzabRobustTest, StaleBytesBeforeTheBlockWriteAreDropped) {
    orv::platform::SetTimeScale(0.05);
    Register(94, 28);
    // Each refusal is preceded by stale bytes that read as "accepted".
    reg->QueueStale(0xD0, {0x06, 0x00});
    reg->QueueStatus(0x9E, 0x02);           // the first item's block write refused
    reg->QueueStale(0x9E, {0x06, 0x00});    // the second item's block write accepted, then stale bytes
    reg->QueueStatus(0x6B, 0x02);           // and its name's second half refused
    EcrItemRecord items[] = {Item(1, "Kawa ziarnista Arabica 1kg", 1, 1, 45.0), Item(2, "Herbata czarna", 2, 1, 9.99)};
    EXPECT_EQ(Run([&] { return EcrPgmPLU(&device, items, 2, RecordingHost::OnItemProgram); }), 102) << Utf8(ErrMsg());
    auto confirms = Host().Confirmations();
    ASSERT_EQ(confirms.size(), 2u);
    EXPECT_EQ(confirms[0].number, 1u);
    EXPECT_EQ(confirms[0].code, 102);
    EXPECT_EQ(confirms[1].number, 2u);
    EXPECT_EQ(confirms[1].code, 102);
    EXPECT_EQ(reg->Commands(), (std::vector<uint8_t>{0xC0, 0xD0, 0x9E, 0x9E, 0x6B}));
}

// A break at a random moment ends the job with -7 at once (the register
// answers every command 15 ms late, in pieces every other run), hands nothing
// wrong to the host, and the next job runs normally. The wait itself ends
// within 50 ms; the bound here also covers the job's close, its last events
// and the host's polling on a machine busy with other tests.
TEST_F(ElzabRobustTest, BreakAtRandomMomentsEndsTheJobAtOnce) {
    orv::platform::SetTimeScale(1.0);
    auto scenarios = Scenarios();
    std::mt19937 rng(42);
    int broken = 0;
    for (int seed = 0; seed < 2 * static_cast<int>(scenarios.size()); ++seed) {
        size_t index = static_cast<size_t>(seed) % scenarios.size();
        const Scenario& sc = scenarios[index];
        orv::platform::SetTimeScale(0.05);
        const Outcome& ref = Reference(index, sc);
        orv::platform::SetTimeScale(1.0);
        int breakAfterMs = static_cast<int>(rng() % 120);
        SCOPED_TRACE(std::string(sc.name) + " seed " + std::to_string(seed) + ": break after " +
                     std::to_string(breakAfterMs) + " ms");
        double breakToEnd = 0;
        bool breakSent = false;
        Outcome o = RunScenario(
            sc,
            [&](ElzabEmulator& r) {
                r.SetAnswerDelay(15);
                if (seed % 2) r.SetChunking(2, static_cast<uint32_t>(seed));
            },
            [&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(breakAfterMs));
                if (EcrIsDone()) return;
                auto t0 = std::chrono::steady_clock::now();
                breakSent = true;
                EcrBreakJob();
                WaitDone(5000);
                breakToEnd = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            });
        CheckAgainst(sc, ref, o);
        if (breakSent && o.error != 0) {
            ++broken;
            EXPECT_EQ(o.error, -7) << Utf8(o.text);
            EXPECT_LT(breakToEnd, 0.150);
            for (const auto& e : o.events)
                if (e.code == ECR_EVENT_DEVICE_ERROR) {
                    EXPECT_NE(e.value, -7) << "a break reported as a failure";
                }
        }
        // The late answers have arrived; the next job starts clean.
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        reg->SetAnswerDelay(0);
        Host().Reset();
        EXPECT_EQ(Run([&] { return EcrReadVAT(&device, RecordingHost::OnVat); }, 5000), 0) << Utf8(ErrMsg());
    }
    EXPECT_GT(broken, static_cast<int>(scenarios.size()));   // most runs were broken off mid-job
}

// The register goes away in the middle of an answer: the job notices the
// hang-up at once (no 5-second time-out, no retries against a dead line),
// fails with a code, and the next job on the port opens it again.
TEST_F(ElzabRobustTest, RegisterVanishingMidReplyFailsTheJobAtOnce) {
    orv::platform::SetTimeScale(1.0);
    auto scenarios = Scenarios();
    std::mt19937 rng(99);
    for (int seed = 0; seed < 2 * static_cast<int>(scenarios.size()); ++seed) {
        size_t index = static_cast<size_t>(seed) % scenarios.size();
        const Scenario& sc = scenarios[index];
        orv::platform::SetTimeScale(0.05);
        const Outcome& ref = Reference(index, sc);
        orv::platform::SetTimeScale(1.0);
        // A command of the undisturbed run, and less than its whole answer.
        uint8_t cmd = ref.sent[rng() % ref.sent.size()];
        int bytes = cmd == 0xA8 || cmd == 0x02 ? 0 : static_cast<int>(rng() % 2);
        SCOPED_TRACE(std::string(sc.name) + " seed " + std::to_string(seed) + ": gone after " +
                     std::to_string(bytes) + " bytes of the answer to " + std::to_string(cmd));
        bool gone = false;
        Outcome o = RunScenario(
            sc, [&](ElzabEmulator& r) { r.QueueShortReply(cmd, bytes); },
            [&] {
                // The register drops the line once the command has come.
                bool seen = reg->WaitUntil(
                    [&](const Bytes& b) {
                        for (size_t i = 0; i + 1 < b.size(); ++i)
                            if (b[i] == 0x1B && b[i + 1] == cmd) return true;
                        return false;
                    },
                    3000);
                if (!seen) return;
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                gone = !EcrIsDone();
                reg->Disconnect();
            });
        CheckAgainst(sc, ref, o);
        if (gone) {
            EXPECT_NE(o.error, 0);
            EXPECT_NE(o.error, -7);
            EXPECT_LT(o.seconds, 2.0);
        }
        // A new register on the same port: the port opens again.
        Register(sc.type, sc.model);
        Host().Reset();
        EXPECT_EQ(Run([&] { return EcrReadVAT(&device, RecordingHost::OnVat); }, 5000), 0) << Utf8(ErrMsg());
    }
}

// Odd host values: each item is refused with a nonzero code and its text
// before any of its traffic, or stored exactly as the rules give.
TEST_F(ElzabRobustTest, OddHostValuesAreRefusedOrStoredExactly) {
    orv::platform::SetTimeScale(0.05);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<EcrItemRecord> items;
    const double prices[] = {nan, inf, -inf, -0.01, -0.0, 1e300, 21474836.47, 21474836.48, 12.345, 0.005,
                             0.994999, 1e-300, 99999.99};
    uint32_t n = 1;
    for (double p : prices) items.push_back(Item(n++, "Cena", 1, 1, p));
    const char* codes[] = {"12345678901234", "1234567890123", "123abc", "abc", "0000000000000", " 1",
                           "9999999999999"};
    for (const char* c : codes) items.push_back(Item(n++, "Kod", 1, 1, 1.0, c));
    EcrItemRecord full = Item(n++, "", 1, 1, 1.0);
    std::memset(full.name, 'N', sizeof full.name);   // no terminating zero
    std::memset(full.code, '7', sizeof full.code);
    items.push_back(full);
    EcrItemRecord noName = Item(n++, "", 1, 1, 1.0);
    std::memset(noName.name, 'M', sizeof noName.name);
    items.push_back(noName);
    for (double rate : {nan, -3.0, -4.0, 8.0, 23.0000001, 0.0}) {
        items.push_back(Item(n++, "Stawka", 0, 1, 1.0));
        items.back().vat_rate = rate;
    }
    items.push_back(Item(0, "Zero", 1, 1, 1.0));
    items.push_back(Item(n++, "Jednostka", 1, 1, 1.0, "", 17));
    items.push_back(Item(n++, "Jednostka", 1, 1, 1.0, "", 16));
    items.push_back(Item(n++, "Grupa", 1, 255, 1.0));
    items.push_back(Item(n++, "VAT", 9, 1, 1.0));

    struct Model {
        int type;
        uint32_t model;
    };
    for (Model m : {Model{27, 13}, Model{94, 28}, Model{700, 21}}) {
        for (int kind : {0, 1}) {
            SCOPED_TRACE("model " + std::to_string(m.model) + " kind " + std::to_string(kind));
            Host().Reset();
            Register(m.type, m.model);
            reg->SetVatRates({23.0, 8.0, 5.0, 0.0, 0.0, -1.0, -3.0});
            for (const auto& it : items)
                if (kind == 1 && it.number % 2 == 0) reg->AddPlu(it.number, "Stary", 1, 1, 1.0);
            std::vector<EcrItemRecord> job = items;
            int error = Run([&] {
                return kind == 1 ? EcrUpDatePLU(&device, job.data(), static_cast<int>(job.size()),
                                                RecordingHost::OnItemProgram)
                                 : EcrPgmPLU(&device, job.data(), static_cast<int>(job.size()),
                                             RecordingHost::OnItemProgram);
            });
            Outcome o;
            o.error = error;
            o.text = ErrMsg();
            o.confirms = Host().Confirmations();
            o.events = Host().Events();
            CheckWellFormed(o);
            std::map<uint32_t, int> confirmed;
            for (const auto& c : o.confirms) confirmed[c.number] = c.code;
            for (const auto& it : items) {
                SCOPED_TRACE("item " + std::to_string(it.number) + " price " + std::to_string(it.price) + " code " +
                             std::string(it.code, strnlen(it.code, sizeof it.code)));
                if (confirmed.count(it.number)) continue;
                auto p = reg->GetPlu(it.number);
                ASSERT_TRUE(p) << "neither stored nor refused";
                uint32_t price = static_cast<uint32_t>(std::trunc(it.price * 100.0 + 0.1));
                EXPECT_EQ(p->price, price);
                char digits[33] = {};
                std::memcpy(digits, it.code, sizeof it.code);
                uint64_t code = 0;
                for (const char* c = digits; *c >= '0' && *c <= '9'; ++c) code = code * 10 + static_cast<uint64_t>(*c - '0');
                EXPECT_EQ(p->barcode, code);
                if (m.model != 21) {
                    EXPECT_EQ(p->dept, it.department);
                    if (it.vat_group != 0 && kind == 0) {
                        EXPECT_EQ(p->vat, it.vat_group);
                    }
                }
                if (it.unit != 0) {
                    EXPECT_EQ(p->unit, it.unit);
                }
            }
        }
    }
}

// Odd device records and register-number replies: a job either reads the
// rates right or fails with a code and its text, soon, and the port is free
// for the next job.
TEST_F(ElzabRobustTest, OddDeviceRecordsFailCleanlyOrWork) {
    orv::platform::SetTimeScale(0.05);
    struct Case {
        const char* what;
        std::function<void(EcrDeviceRecord&, ElzabEmulator&)> change;
        int expected;   // 1: any nonzero code
    };
    const Case cases[] = {
        {"port 0", [](EcrDeviceRecord& d, ElzabEmulator&) { d.port = 0; }, 1},
        {"port 17", [](EcrDeviceRecord& d, ElzabEmulator&) { d.port = 17; }, 1},
        {"port -1", [](EcrDeviceRecord& d, ElzabEmulator&) { d.port = -1; }, 1},
        {"baud 0", [](EcrDeviceRecord& d, ElzabEmulator&) { d.baud = 0; }, 0},
        {"baud -9600", [](EcrDeviceRecord& d, ElzabEmulator&) { d.baud = -9600; }, 0},
        {"baud 12345", [](EcrDeviceRecord& d, ElzabEmulator&) { d.baud = 12345; }, 0},
        {"baud 2^31-1", [](EcrDeviceRecord& d, ElzabEmulator&) { d.baud = 0x7FFFFFFF; }, 0},
        {"wait -5", [](EcrDeviceRecord& d, ElzabEmulator&) { d.word3 = -5; }, 0},
        {"register -1", [](EcrDeviceRecord& d, ElzabEmulator&) { d.word7 = -1; }, 22},
        {"register 100", [](EcrDeviceRecord& d, ElzabEmulator& r) {
             d.word7 = 100;
             r.SetRegisterNumber(0);
         }, 22},
        {"register reply A1", [](EcrDeviceRecord&, ElzabEmulator& r) { r.SetRegisterNumberReply(B("A1")); }, 23},
        {"register reply FF 00", [](EcrDeviceRecord&, ElzabEmulator& r) { r.SetRegisterNumberReply({0xFF, 0x00}); }, 23},
        {"register reply ' 0'", [](EcrDeviceRecord&, ElzabEmulator& r) { r.SetRegisterNumberReply(B(" 0")); }, 23},
        {"kind 77", [](EcrDeviceRecord& d, ElzabEmulator&) { d.kind = 77; }, -100},
        {"flags all", [](EcrDeviceRecord& d, ElzabEmulator&) { d.flags = 0xFFFFFFFFu; }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Host().Reset();
        Register(27, 13);
        c.change(device, *reg);
        auto t0 = std::chrono::steady_clock::now();
        int started = EcrReadVAT(&device, RecordingHost::OnVat);
        EXPECT_TRUE(WaitDone(5000));
        double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        int error = EcrError();
        std::string text = ErrMsg();
        EXPECT_LT(secs, 2.0);
        if (c.expected == -100) {
            // Whatever the kind does, it does it cleanly.
            if (error != 0) {
                EXPECT_FALSE(text.empty());
            }
        } else if (c.expected == 1) {
            EXPECT_NE(error, 0);
            EXPECT_FALSE(text.empty());
            EXPECT_TRUE(Host().VatCalls().empty());
        } else {
            EXPECT_EQ(started, 1);
            EXPECT_EQ(error, c.expected) << Utf8(text);
            if (c.expected != 0) {
                EXPECT_FALSE(text.empty());
                EXPECT_TRUE(Host().VatCalls().empty());
                EXPECT_EQ(reg->Commands(), (std::vector<uint8_t>{0xC0}));
            } else {
                ASSERT_EQ(Host().VatCalls().size(), 1u);
                EXPECT_EQ(Host().VatCalls()[0][0], 23.0);
            }
        }
        // The port is free again.
        device = DeviceRecord(27, 1, 9600, 0);
        reg->SetRegisterNumber(0);
        Host().Reset();
        EXPECT_EQ(Run([&] { return EcrReadVAT(&device, RecordingHost::OnVat); }, 5000), 0) << Utf8(ErrMsg());
    }
}

// A register that answers later than the time-out answers in order: the
// late answer comes before the answer to the next command and must not be
// taken for it.
TEST_F(ElzabRobustTest, AnAnswerAfterTheTimeOutIsNotTakenForTheNext) {
    orv::platform::SetTimeScale(0.05);   // time-outs of 250 to 300 ms
    Register(27, 13);
    reg->AddPlu(1, "Jeden", 1, 1, 1.0);
    reg->AddPlu(5, PL("Pięć"), 2, 1, 5.0);
    reg->QueueDelay(0xAC, 330);   // PLU 1: after the time-out
    reg->QueueDelay(0xAC, 100);   // PLU 5: in time, after the late answer
    EcrItemRecord items[] = {Item(1, "", 0, 0, 0), Item(5, "", 0, 0, 0)};
    EXPECT_EQ(Run([&] { return EcrReadPLU(&device, items, 2, RecordingHost::OnItemRead); }), 0) << Utf8(ErrMsg());
    auto read = Host().Items();
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].number, 5u);
    EXPECT_EQ(std::string(read[0].name).substr(0, 4), PL("Pięć"));
    EXPECT_DOUBLE_EQ(Value(read[0].price), 5.0);
    auto errors = Host().EventsWithCode(ECR_EVENT_DEVICE_ERROR);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].value, 100);

    // A register that stays silent through that wait is not waited for
    // again: 12 items cost 12 time-outs and one wait, not 23 (250-300 ms
    // each).
    Host().Reset();
    reg->QueueSilence(0xAC, 12);
    std::vector<EcrItemRecord> many;
    for (uint32_t n = 1; n <= 12; ++n) many.push_back(Item(n, "", 0, 0, 0));
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(Run([&] { return EcrReadPLU(&device, many.data(), 12, RecordingHost::OnItemRead); }), 100);
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_LT(secs, 4.8);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 12);
    EXPECT_TRUE(Host().Items().empty());
}

// Host callbacks that break the job off themselves (on the library's
// thread): nothing more goes to the register.
void ECR_CALL BreakingItemRead(const EcrItemRecord* item) {
    RecordingHost::OnItemRead(item);
    EcrBreakJob();
}
void ECR_CALL BreakingSale(const EcrItemRecord* item, const EcrSaleRecord* sale) {
    RecordingHost::OnSale(item, sale);
    EcrBreakJob();
}
void ECR_CALL BreakingItemProgram(const EcrItemRecord* item, int code, const char text[64]) {
    RecordingHost::OnItemProgram(item, code, text);
    EcrBreakJob();
}
void ECR_CALL BreakingDeptRead(const EcrDeptRecord* dept) {
    RecordingHost::OnDeptRead(dept);
    EcrBreakJob();
}

TEST_F(ElzabRobustTest, BreakInsideAHostCallbackSendsNothingMore) {
    orv::platform::SetTimeScale(0.05);
    struct Case {
        const char* what;
        int type;
        uint32_t model, flags;
        std::vector<uint8_t> commands;   // all the register receives
    };
    const Case cases[] = {
        {"item read", 94, 28, 0, {0xC0, 0x91, 0xAC, 0x6B}},
        {"sale record", 94, 28, 2, {0xC0, 0xAD}},
        {"department read", 53, 23, 0, {0xC0, 0xC7}},
        {"confirmation of a refused item", 27, 13, 0, {0xC0, 0xD0}},
        {"progress of the second item", 27, 13, 0, {0xC0, 0xD0, 0xA9}},
    };
    for (size_t k = 0; k < std::size(cases); ++k) {
        const Case& c = cases[k];
        SCOPED_TRACE(c.what);
        Host().Reset();
        Register(c.type, c.model);
        device.flags = c.flags;
        Fill(*reg);
        EcrItemRecord items[] = {Item(1, "A", 1, 1, 1.0), Item(2, "B", 1, 1, 2.0), Item(3, "C", 1, 1, 3.0)};
        int error = 0;
        switch (k) {
        case 0: error = Run([&] { return EcrReadAllPLU(&device, BreakingItemRead); }); break;
        case 1: error = Run([&] { return EcrReadSale(&device, BreakingSale); }); break;
        case 2: error = Run([&] { return EcrReadAllDEPT(&device, BreakingDeptRead); }); break;
        case 3:
            items[0].price = -1.0;   // refused before its traffic
            error = Run([&] { return EcrPgmPLU(&device, items, 3, BreakingItemProgram); });
            break;
        default:
            Host().SetEventHook([](const HostEvent& e) {
                if (e.code == ECR_EVENT_ITEM && e.text == "Programowanie danych PLU 2") EcrBreakJob();
            });
            error = Run([&] { return EcrPgmPLU(&device, items, 3, RecordingHost::OnItemProgram); });
            break;
        }
        EXPECT_EQ(error, -7) << Utf8(ErrMsg());
        EXPECT_EQ(reg->Commands(), c.commands);
        EXPECT_LE(Host().Items().size() + Host().Sales().size() + Host().Depts().size(), 1u);
        EXPECT_LE(Host().Confirmations().size(), k == 3 ? 1u : 0u);
    }
}

}  // namespace
}  // namespace orv::test
