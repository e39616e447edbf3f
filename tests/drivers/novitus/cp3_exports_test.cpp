// Novitus registers through the exports, as a host drives them, with the
// fake control installed (and once without it, as on any real machine here).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "drivers/novitus/ps3000_ids.h"
#include "fakes/fake_fiscal_control.h"
#include "fakes/recording_host.h"
#include "orvanta/ecr.h"
#include "platform/clock.h"
#include "platform/control_host.h"
#include "util/cp1250.h"

namespace {

using orv::platform::Variant;
using orv::test::FakeNovitus;
using orv::test::Host;
using orv::test::RecordingHost;
using Lines = std::vector<std::string>;
namespace id = orv::novitus::ids;

bool WaitDone() { return orv::test::WaitEcrDone(20000); }

class Cp3Exports : public ::testing::Test {
protected:
    void SetUp() override {
        orv::platform::SetTimeScale(0.01);
        Host().Reset();
        ASSERT_EQ(EcrCreate(nullptr), 1);
    }
    void TearDown() override {
        EXPECT_TRUE(WaitDone());
        orv::platform::SetTimeScale(1.0);
    }
    static bool Succeeded() { return Host().CountEvents(ECR_EVENT_SUCCEEDED) == 1 && EcrError() == 0; }
};

TEST_F(Cp3Exports, NoControlFailsAtOpenWithTheInstallationMessage) {
    const EcrDeviceRecord dev = orv::test::DeviceRecord(26, 3);
    EXPECT_EQ(EcrReadAllPLU(&dev, &RecordingHost::OnItemRead), 0);   // refused at the open
    ASSERT_TRUE(WaitDone());
    const std::string text = PL("Błąd instalacji sterownika ActiveX. Do pobrania na stronie www producenta pod adresem :");
    EXPECT_EQ(EcrError(), 9997);
    EXPECT_EQ(std::string(EcrErrMsg()), text);
    auto six = Host().EventsWithCode(ECR_EVENT_DEVICE_ERROR);
    ASSERT_EQ(six.size(), 1u);
    EXPECT_EQ(six[0].value, 9997);
    EXPECT_EQ(six[0].text, text);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_SYSTEM_ERROR), 1);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_SUCCEEDED), 0);
}

TEST_F(Cp3Exports, EveryJobOnSerialAndTcp) {
    FakeNovitus fake;
    fake.rates = {230000, 80000};
    for (int type : {26, 87}) {
        SCOPED_TRACE(type);
        EcrDeviceRecord dev = orv::test::DeviceRecord(type, 3);
        if (type == 87) {
            dev.kind = 11;
            dev.port = static_cast<int32_t>(0x0A000005u);   // 10.0.0.5
        }
        fake.goods.clear();
        fake.depts.clear();
        fake.units.clear();
        fake.ClearLog();

        std::vector<EcrItemRecord> items = {
            orv::test::HostItemRecord({.number = 1, .name = "Chleb", .code = "5900001", .price = 3.5, .vat = 1}),
            orv::test::HostItemRecord({.number = 2, .name = "Mleko", .code = "5900002", .price = 2.99, .vat = 2})};
        auto run = [&](int started) {
            EXPECT_EQ(started, 1);
            EXPECT_TRUE(WaitDone());
            bool ok = Succeeded();
            Host().Reset();
            return ok;
        };
        EXPECT_TRUE(run(EcrPgmPLU(&dev, items.data(), 2, &RecordingHost::OnItemProgram)));
        EXPECT_EQ(fake.goods.size(), 2u);
        EXPECT_TRUE(run(EcrUpDatePLU(&dev, items.data(), 2, &RecordingHost::OnItemProgram)));
        EXPECT_TRUE(run(EcrPgmExBarcode(&dev, items.data(), 2, &RecordingHost::OnItemProgram)));
        EXPECT_EQ(fake.barcodes.size(), type == 26 ? 2u : 4u);
        Host().Reset();
        ASSERT_EQ(EcrReadAllPLU(&dev, &RecordingHost::OnItemRead), 1);
        ASSERT_TRUE(WaitDone());
        EXPECT_EQ(Host().Items().size(), 2u);
        EXPECT_TRUE(run(1));
        ASSERT_EQ(EcrReadPLU(&dev, items.data(), 2, &RecordingHost::OnItemRead), 1);
        ASSERT_TRUE(WaitDone());
        EXPECT_EQ(Host().Items().size(), 2u);
        EXPECT_TRUE(run(1));
        EXPECT_TRUE(run(EcrDelPLU(&dev, items.data(), 1, &RecordingHost::OnItemProgram)));
        EXPECT_EQ(fake.goods.size(), 1u);

        EcrDeptRecord dept{};
        dept.number = 1;
        std::snprintf(dept.name, sizeof dept.name, "Pieczywo");
        dept.vat_group = 1;
        EXPECT_TRUE(run(EcrPgmDEPT(&dev, &dept, 1, &RecordingHost::OnDeptProgram)));
        ASSERT_EQ(EcrReadAllDEPT(&dev, &RecordingHost::OnDeptRead), 1);
        ASSERT_TRUE(WaitDone());
        EXPECT_EQ(Host().Depts().size(), 1u);
        EXPECT_TRUE(run(1));

        EcrUnitRecord unit{2, "kg"};
        EXPECT_TRUE(run(EcrPgmUNIT(&dev, &unit, 1, &RecordingHost::OnUnitProgram)));
        ASSERT_EQ(EcrReadAllUnit(&dev, &RecordingHost::OnUnitRead), 1);
        ASSERT_TRUE(WaitDone());
        ASSERT_EQ(Host().Units().size(), 1u);
        EXPECT_EQ(Host().Units()[0].number, 2u);
        EXPECT_TRUE(run(1));

        fake.sales = fake.sales2 = {{{id::kSaleCode, Variant::Text("1")}, {id::kSaleQuantity, Variant::Double(1)}}};
        ASSERT_EQ(EcrClearSale(&dev, &RecordingHost::OnSale), 1);
        ASSERT_TRUE(WaitDone());
        EXPECT_EQ(Host().Sales().size(), 2u);
        EXPECT_TRUE(run(1));
        fake.sales = fake.sales2 = {{{id::kSaleCode, Variant::Text("1")}, {id::kSaleQuantity, Variant::Double(1)}}};
        EXPECT_TRUE(run(EcrReadSale(&dev, &RecordingHost::OnSale)));
        EXPECT_TRUE(run(EcrReadVAT(&dev, &RecordingHost::OnVat)));
        EXPECT_TRUE(run(EcrReadStatus(&dev, &RecordingHost::OnStatus)));

        // The connection of every job.
        Lines settings = fake.Lines("settings");
        const std::string port = type == 26 ? "settings 1 P TEXT \"COM3\"" : "settings 13 P TEXT \"10.0.0.5\"";
        EXPECT_NE(std::find(settings.begin(), settings.end(), port), settings.end());
        Lines m = fake.ControlMethods();
        EXPECT_EQ(std::count(m.begin(), m.end(), type == 26 ? "31 I4 0" : "31 I4 3"),
                  std::count(m.begin(), m.end(), "31 I4 0") + std::count(m.begin(), m.end(), "31 I4 3"));
    }
    EXPECT_EQ(EcrDelete(), 1);
    EXPECT_FALSE(orv::platform::FiscalControlWindow().IsCreated());
}

TEST_F(Cp3Exports, PreCreateAndDeleteCreateAndDestroyOnce) {
    FakeNovitus fake;
    int window = 0;
    EXPECT_EQ(EcrPreCreate(&window), 1);
    EXPECT_EQ(EcrPreCreate(&window), 1);
    EXPECT_EQ(fake.controlsCreated, 1);
    EXPECT_EQ(fake.controlsDestroyed, 1);
    EXPECT_EQ(fake.Lines("control"), (Lines{"control 30 P TEXT \"\""}));

    const EcrDeviceRecord dev = orv::test::DeviceRecord(26, 3);
    ASSERT_EQ(EcrReadVAT(&dev, &RecordingHost::OnVat), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(fake.controlsCreated, 2);
    EXPECT_EQ(EcrDelete(), 1);
    EXPECT_EQ(EcrDelete(), 1);
    EXPECT_EQ(fake.controlsDestroyed, 2);
    EXPECT_EQ(fake.objectsAlive, 0);
}

TEST_F(Cp3Exports, DeleteUnderARunningJobEndsItCleanly) {
    FakeNovitus fake;
    fake.goods = {{{id::kPluCode, Variant::Text("1")}}, {{id::kPluCode, Variant::Text("2")}}};
    std::atomic<bool> inRead{false}, deleted{false};
    fake.onMethod = [&](int dispid) {
        if (dispid != id::kNext || inRead.exchange(true)) return;
        for (int i = 0; i < 2000 && !deleted; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    const EcrDeviceRecord dev = orv::test::DeviceRecord(26, 3);
    ASSERT_EQ(EcrReadAllPLU(&dev, &RecordingHost::OnItemRead), 1);
    for (int i = 0; i < 2000 && !inRead; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(inRead);
    EXPECT_EQ(EcrDelete(), 1);
    deleted = true;
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 3068);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_FAILED), 1);
    EXPECT_EQ(fake.objectsAlive, 0);
    fake.onMethod = nullptr;
}

}  // namespace
