// The Posnet ECR register (type 21) through the exports, as a host drives it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/recording_host.h"
#include "orvanta/ecr.h"
#include "platform/clock.h"
#include "sim/posnet/posnet_ecr_emulator.h"
#include "util/cp1250.h"

namespace {

using orv::test::Host;
using orv::test::PosnetEcrEmulator;
using orv::test::RecordingHost;

constexpr int kPort = 10;

TEST(PosnetEcrExports, ReadsGoodsSalesVatAndStatusAndRefusesTheRest) {
    orv::platform::SetTimeScale(0.1);
    Host().Reset();
    ASSERT_EQ(EcrCreate(nullptr), 1);
    PosnetEcrEmulator reg(kPort);
    orv::test::PosnetEcrEmuRecord bread;
    bread.name = "Chleb";
    bread.price = "3.50";
    bread.barcode = "5900000000017";
    reg.SetRecord(1, bread);
    orv::test::PosnetEcrEmuRecord beer;
    beer.name = "Piwo";
    beer.price = "4.99";
    beer.quantity = "2.000";
    beer.value = "9.98";
    reg.SetRecord(4, beer);
    reg.Start();
    const EcrDeviceRecord dev = orv::test::DeviceRecord(21, kPort, 115200);
    auto done = [] { return orv::test::WaitEcrDone(60000); };

    ASSERT_EQ(EcrReadAllPLU(&dev, &RecordingHost::OnItemRead), 1);
    ASSERT_TRUE(done());
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    auto items = Host().Items();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_STREQ(items[0].name, "Chleb");
    EXPECT_STREQ(items[0].code, "5900000000017");
    EXPECT_DOUBLE_EQ(items[1].price, 4.99);

    Host().Reset();
    ASSERT_EQ(EcrReadSale(&dev, &RecordingHost::OnSale), 1);
    ASSERT_TRUE(done());
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    ASSERT_EQ(Host().Sales().size(), 1u);
    EXPECT_EQ(Host().Sales()[0].sale.plu, 4u);
    EXPECT_DOUBLE_EQ(Host().Sales()[0].sale.value, 9.98);

    Host().Reset();
    ASSERT_EQ(EcrReadVAT(&dev, &RecordingHost::OnVat), 1);
    ASSERT_TRUE(done());
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    ASSERT_EQ(Host().VatCalls().size(), 1u);
    EXPECT_DOUBLE_EQ(Host().VatCalls()[0][0], 23.0);
    EXPECT_DOUBLE_EQ(Host().VatCalls()[0][6], -1.0);

    Host().Reset();
    ASSERT_EQ(EcrReadStatus(&dev, &RecordingHost::OnStatus), 1);
    ASSERT_TRUE(done());
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    EXPECT_EQ(Host().StatusCalls().size(), 1u);

    Host().Reset();
    reg.ClearFrames();
    EcrItemRecord item = orv::test::HostItemRecord({.number = 9, .name = "Nowy", .price = 1.0, .vat = 1});
    ASSERT_EQ(EcrPgmPLU(&dev, &item, 1, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(done());
    EXPECT_EQ(EcrError(), 25);
    EXPECT_EQ(orv::test::Utf8(EcrErrMsg()), "Rozkaz niedostępny w tej wersji programu kasy");
    ASSERT_EQ(Host().Confirmations().size(), 1u);
    EXPECT_EQ(Host().Confirmations()[0].code, 25);
    ASSERT_EQ(EcrClearSale(&dev, &RecordingHost::OnSale), 1);
    ASSERT_TRUE(done());
    EXPECT_EQ(EcrError(), 25);
    EXPECT_TRUE(reg.Frames().empty());
    EXPECT_EQ(reg.ChecksumErrors(), 0);
    reg.Stop();
    orv::platform::SetTimeScale(1.0);
}

}  // namespace
