// ecr-sim's Hida register, as a person integrating a host uses it: started
// as a program, its port given to the library.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "fakes/recording_host.h"
#include "fakes/simulator_process.h"
#include "orvanta/ecr.h"

namespace orv::test {
namespace {

TEST(HidaSimulator, ServesGoodsAndDepartments) {
    if (access(SimulatorPath().c_str(), X_OK) != 0) GTEST_SKIP() << "ecr-sim is not built";
    Simulator sim;
    const std::string line = sim.Start({"--device", "hida", "--port", "9"});
    ASSERT_EQ(line.rfind("ECR_COM9=", 0), 0u) << line;
    setenv("ECR_COM9", line.substr(9).c_str(), 1);
    Host().Reset();
    ASSERT_EQ(EcrCreate(nullptr), 1);
    const EcrDeviceRecord dev = DeviceRecord(23, 9, 9600);

    ASSERT_EQ(EcrReadAllDEPT(&dev, &RecordingHost::OnDeptRead), 1);
    ASSERT_TRUE(WaitEcrDone(30000));
    EXPECT_EQ(EcrError(), 0) << Utf8(EcrErrMsg());
    auto depts = Host().Depts();
    ASSERT_EQ(depts.size(), 3u);
    EXPECT_STREQ(depts[1].name, "PIECZYWO    ");
    EXPECT_EQ(depts[1].vat_group, 2u);

    EcrItemRecord item = HostItemRecord({.name = "Kawa", .code = "5901234123457", .price = 17.5, .vat = 2, .dept = 1});
    Host().Reset();
    ASSERT_EQ(EcrPgmPLU(&dev, &item, 1, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitEcrDone(30000));
    EXPECT_EQ(EcrError(), 0) << Utf8(EcrErrMsg());
    Host().Reset();
    ASSERT_EQ(EcrReadAllPLU(&dev, &RecordingHost::OnItemRead), 1);
    ASSERT_TRUE(WaitEcrDone(30000));
    EXPECT_EQ(EcrError(), 0) << Utf8(EcrErrMsg());
    auto goods = Host().Items();
    ASSERT_EQ(goods.size(), 1u);
    EXPECT_STREQ(goods[0].name, "Kawa        ");
    EXPECT_DOUBLE_EQ(goods[0].price, 17.5);
    unsetenv("ECR_COM9");
    EXPECT_EQ(sim.Stop(SIGTERM), 0);
}

}  // namespace
}  // namespace orv::test
