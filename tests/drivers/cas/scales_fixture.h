// Shared set-up of the scale tests: a private working and temporary
// directory with the fake transfer program in it, the transports, the
// recording host, and item builders.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "job/job_block.h"
#include "comm/socket.h"
#include "comm/telepathy.h"
#include "fakes/recording_host.h"
#include "job/logic_ecr.h"
#include "platform/clock.h"
#include "platform/process/work_dir.h"

namespace orv::test {

// 192.168.1.50 as the device record holds it (first octet in the top byte).
constexpr uint32_t kScaleAddress = 0xC0A80132u;

inline EcrItemRecord ScaleItem(uint32_t number, const char* name, double price, uint32_t dept = 1,
                               const char* code = "") {
    return HostItemRecord({.number = number, .name = name, .code = code, .price = price, .vat = 1, .dept = dept});
}

// A golden file of the CAS tests, with "@DIR@" replaced by `dir`.
inline std::string Golden(const std::string& name, const std::string& dir) {
    const std::filesystem::path path = std::filesystem::path(ORVANTA_SOURCE_DIR) / "tests/drivers/cas/golden" / name;
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (size_t at; (at = text.find("@DIR@")) != std::string::npos;) text.replace(at, 5, dir);
    return text;
}

class ScaleTest : public ::testing::Test {
protected:
    void SetUp() override {
        orv::platform::SetTimeScale(0.01);   // the 1 s pause lasts 10 ms
        Host().Reset();
    }
    void TearDown() override {
        Host().Reset();
        orv::platform::SetTimeScale(1.0);
    }

    // Runs one job on `logic` as the dispatcher does; returns the job's
    // final error code (0 after success).
    int Run(CLogicECR& logic, int type, uint32_t job, std::vector<EcrItemRecord>* items = nullptr,
            int count = -1) {
        EcrDeviceRecord dev = DeviceRecord(type, static_cast<int>(kScaleAddress));
        PrepareJobBlock(job, dev);
        if (items) {
            g_jobBlock.items = items->data();
            g_jobBlock.count = static_cast<uint32_t>(count >= 0 ? count : static_cast<int>(items->size()));
            g_jobBlock.depts = &dept;
            g_jobBlock.units = &unit;
        }
        started = RunJob(logic, job, &serial, &socket);
        return logic.GetErrorCode();
    }

    // Final event (10 success, 7 failure) of the last job.
    static bool Succeeded() { return Host().CountEvents(ECR_EVENT_SUCCEEDED) == 1 && Host().CountEvents(ECR_EVENT_FAILED) == 0; }

    WorkDir dir;
    CTelepathy serial;
    CTelepathySocket socket;
    bool started = false;
    EcrDeptRecord dept{};
    EcrUnitRecord unit{};
};

// Job codes.
enum : uint32_t {
    kJobReadSale = 1, kJobClearSale = 2, kJobReadAllPlu = 3, kJobReadPlu = 4, kJobPgmPlu = 5,
    kJobUpdatePlu = 6, kJobDelPlu = 7, kJobReadAllDept = 9, kJobPgmDept = 11, kJobReadStatus = 14,
    kJobReadVat = 15,
};

}  // namespace orv::test
