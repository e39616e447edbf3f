// The fixture of the job framework tests: a scripted logic class run
// through the job block on port 3, with items, departments and units.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "comm/socket.h"
#include "comm/telepathy.h"
#include "fakes/fake_logic.h"
#include "fakes/recording_host.h"

namespace orv::test {

inline constexpr int kPort = 3;
inline const std::vector<std::string> kNoCalls;

class JobFramework : public ::testing::Test {
protected:
    void SetUp() override {
        Host().Reset();
        PrepareJobBlock(0, DeviceRecord(1, kPort));
        for (uint32_t i = 0; i < 3; ++i) {
            items[i].number = 10 + i;
            depts[i].number = 20 + i;
            units[i].number = 30 + i;
        }
    }
    void TearDown() override { Host().Reset(); }

    // Runs `job` and returns whether it started.
    bool Run(uint32_t job) { return RunJob(logic, job, &serial, &socket); }

    std::vector<std::string> Titles() {
        std::vector<std::string> t;
        for (const auto& e : Host().EventsWithCode(ECR_EVENT_TITLE)) t.push_back(e.text);
        return t;
    }

    CTelepathy serial;
    CTelepathySocket socket;
    CFakeLogic logic;
    EcrItemRecord items[3]{};
    EcrDeptRecord depts[3]{};
    EcrUnitRecord units[3]{};
};

}  // namespace orv::test
