#include "serial_harness.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "fakes/fake_serial_device.h"
#include "fuzz_checks.h"
#include "fakes/recording_host.h"
#include "orvanta/ecr.h"
#include "platform/clock.h"

namespace orv::fuzz {

using orv::test::FakeSerialLine;
using orv::test::Host;
using orv::test::RecordingHost;

namespace {

// Waits for input the library may make once the answers are used up before
// the job counts as hung (the item loop gives up after three silent items).
constexpr int kWaitsAfterAnswers = 400;
constexpr int kJobWallMillis = 20000;

[[noreturn]] void Broken(const char* what, SerialJob job, int type) {
    std::fprintf(stderr, "broken promise (%s, type %d): %s\n", JobName(job), type, what);
    std::fflush(stderr);
    std::abort();
}

bool ItemTerminated(const EcrItemRecord& it) {
    return Terminated(it.code) && Terminated(it.name) && Terminated(it.code2);
}

std::shared_ptr<FakeSerialLine>& Line() {
    static std::shared_ptr<FakeSerialLine> line = [] {
        EcrCreate(nullptr);
        return FakeSerialLine::Create();
    }();
    return line;
}

EcrItemRecord Goods(uint32_t number, const char* name, const char* code, double price) {
    return orv::test::HostItemRecord(
        {.number = number, .name = name, .code = code, .price = price, .vat = 1, .dept = 1, .unit = 1});
}

// Starts the job through the exports; 0 when the library refused it.
int StartJob(SerialJob job, const EcrDeviceRecord* dev, EcrItemRecord* items) {
    switch (job) {
    case SerialJob::ReadVat: return EcrReadVAT(dev, RecordingHost::OnVat);
    case SerialJob::ReadStatus: return EcrReadStatus(dev, RecordingHost::OnStatus);
    case SerialJob::ProgramGoods: return EcrPgmPLU(dev, items, 3, RecordingHost::OnItemProgram);
    case SerialJob::ReadGoodsByList: return EcrReadPLU(dev, items, 3, RecordingHost::OnItemRead);
    case SerialJob::ReadAllGoods: return EcrReadAllPLU(dev, RecordingHost::OnItemRead);
    case SerialJob::ReadSales: return EcrReadSale(dev, RecordingHost::OnSale);
    case SerialJob::ClearSales: return EcrClearSale(dev, RecordingHost::OnSale);
    case SerialJob::Count: break;
    }
    return 0;
}

// Runs the job with the line answered by `feeder`; returns whether it started.
bool RunJob(const SerialFamily& family, SerialJob job, int type, double timeScale, int wallMillis,
            const FakeSerialLine::Feeder& feeder) {
    auto& line = Line();
    line->Install();
    line->ClearRecords();
    line->SetFeeder(feeder);
    Host().Reset();
    orv::platform::SetTimeScale(timeScale);

    EcrItemRecord items[3] = {Goods(1, "Chleb", "5901234123457", 3.5), Goods(2, "Mleko 2%", "", 2.99),
                              Goods(3, "Kawa ziarnista Arabica 1kg", "20000", 45.0)};
    EcrDeviceRecord dev = orv::test::DeviceRecord(type, 1, family.baud, 0);
    if (!StartJob(job, &dev, items)) {
        line->SetFeeder(nullptr);
        return false;
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(wallMillis);
    while (!EcrIsDone()) {
        if (std::chrono::steady_clock::now() > end) Broken("the job did not end in time", job, type);
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    line->SetFeeder(nullptr);
    return true;
}

void CheckPromises(SerialJob job, int type, bool answered) {
    const int error = EcrError();
    const char* msg = EcrErrMsg();
    if (error != 0 && (msg == nullptr || msg[0] == '\0')) Broken("a failed job without a text", job, type);
    if (error == 0 && !answered) Broken("a job succeeded with a silent register", job, type);
    if (error == -7) Broken("a job nobody broke off ended as broken off", job, type);
    for (const auto& c : Host().Confirmations()) {
        if (c.code != 0 && c.text.empty()) Broken("a failed item without a text", job, type);
        if (!ItemTerminated(c.item)) Broken("a confirmed item with an unterminated text", job, type);
    }
    for (const auto& it : Host().Items())
        if (!ItemTerminated(it)) Broken("a read item with an unterminated text", job, type);
    for (const auto& s : Host().Sales()) {
        if (!ItemTerminated(s.item)) Broken("a sale's item with an unterminated text", job, type);
        if (!Terminated(s.sale.text)) Broken("a sale with an unterminated text", job, type);
    }
    for (const auto& s : Host().StatusCalls()) {
        const EcrStatusRecord& r = s.status;
        if (!Terminated(r.device_text) || !Terminated(r.text2) || !Terminated(r.unique_number) ||
            !Terminated(r.date) || !Terminated(r.time) || !Terminated(r.information))
            Broken("a status with an unterminated text", job, type);
    }
    for (const auto& e : Host().EventsWithCode(ECR_EVENT_DEVICE_ERROR))
        if (e.value == 0) Broken("an error event without a code", job, type);
}

}  // namespace

const char* JobName(SerialJob job) {
    static const char* const names[] = {"read-vat", "read-status", "program-goods", "read-goods-by-list",
                                        "read-all-goods", "read-sales", "clear-sales"};
    auto i = static_cast<size_t>(job);
    return i < sizeof names / sizeof names[0] ? names[i] : "?";
}

int RunSerialInput(const SerialFamily& family, const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const auto job = static_cast<SerialJob>(data[0] % static_cast<uint8_t>(SerialJob::Count));
    const int type = family.types[data[1] % family.types.size()];

    // The answers, in order.
    std::vector<Bytes> answers;
    for (size_t pos = 2; pos < size;) {
        size_t n = data[pos++];
        n = std::min(n, size - pos);
        answers.emplace_back(data + pos, data + pos + n);
        pos += n;
    }
    size_t next = 0;
    int waitsAfter = 0;
    bool heard = false;
    auto feeder = [&](const Bytes&) -> Bytes {
        if (next < answers.size()) {
            const Bytes& a = answers[next++];
            heard = heard || !a.empty();
            return a;
        }
        if (++waitsAfter > kWaitsAfterAnswers) Broken("the job keeps waiting for a silent register", job, type);
        return {};
    };
    if (RunJob(family, job, type, 1e-9, kJobWallMillis, feeder)) {
        // A job that asks the register nothing (one the model does without)
        // may succeed without an answer.
        const bool asked = !Line()->Written().empty();
        CheckPromises(job, type, heard || !asked);
    }
    return 0;
}

Bytes EncodeInput(SerialJob job, size_t typeIndex, const std::vector<Bytes>& answers) {
    Bytes out{static_cast<uint8_t>(job), static_cast<uint8_t>(typeIndex)};
    for (const Bytes& a : answers) {
        size_t pos = 0;
        do {
            size_t n = std::min<size_t>(255, a.size() - pos);
            out.push_back(static_cast<uint8_t>(n));
            out.insert(out.end(), a.begin() + static_cast<long>(pos), a.begin() + static_cast<long>(pos + n));
            pos += n;
        } while (pos < a.size());
    }
    return out;
}

std::vector<Bytes> RecordJob(const SerialFamily& family, SerialJob job, size_t typeIndex,
                             const std::function<Bytes(const Bytes&)>& answer) {
    std::vector<Bytes> answers;
    std::mutex m;
    auto feeder = [&](const Bytes& written) -> Bytes {
        Bytes a = answer(written);
        std::lock_guard<std::mutex> lk(m);
        answers.push_back(a);
        return a;
    };
    RunJob(family, job, family.types[typeIndex], 1.0, 120000, feeder);
    std::lock_guard<std::mutex> lk(m);
    return answers;
}

}  // namespace orv::fuzz
