// CAS LP label scales through the exports, as a host drives them: type 105
// (LP-1) and type 110 (LP-16) against the scale emulator.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fakes/recording_host.h"
#include "orvanta/ecr.h"
#include "platform/clock.h"
#include "sim/cas_lp/cas_lp_emulator.h"

namespace {

using orv::test::CasLpEmulator;
using orv::test::Host;
using orv::test::RecordingHost;

constexpr int kPort = 8;

bool WaitDone() { return orv::test::WaitEcrDone(60000); }

EcrItemRecord Item(uint32_t number, const char* name, double price) {
    EcrItemRecord r = orv::test::HostItemRecord({.number = number, .name = name, .code = "2000123", .price = price});
    std::strcpy(r.scale_text[0], "Zak\xB3" "ady Mi\xEAsne");   // "Zakłady Mięsne"
    r.department = 4;
    r.word152 = 3;
    r.code224 = 12;
    r.amount = 0.25;
    return r;
}

class CasLpExports : public ::testing::Test {
protected:
    void SetUp() override {
        orv::platform::SetTimeScale(0.1);
        Host().Reset();
        ASSERT_EQ(EcrCreate(nullptr), 1);
    }
    void TearDown() override { orv::platform::SetTimeScale(1.0); }
};

TEST_F(CasLpExports, Type105ProgramsAndReadsBack) {
    CasLpEmulator scale(kPort, 1);
    scale.Start();
    const EcrDeviceRecord dev = orv::test::DeviceRecord(105, kPort);

    std::vector<EcrItemRecord> items = {Item(1, "Kie\xB3" "basa \xBF" "ywiecka", 21.9), Item(1001, "Poza", 1.0),
                                        Item(2, "Drogi", 10000.0), Item(3, "Boczek", 9999.99)};
    ASSERT_EQ(EcrPgmPLU(&dev, items.data(), 4, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();   // the last item went through
    const auto confirms = Host().Confirmations();
    ASSERT_EQ(confirms.size(), 2u);
    EXPECT_EQ(confirms[0].number, 1001u);
    EXPECT_EQ(confirms[0].code, 105);
    EXPECT_EQ(confirms[0].text, "Nieokre\x9Clony b\xB3\xB9" "d");
    EXPECT_EQ(confirms[1].code, 109);
    EXPECT_TRUE(scale.Holds(1));
    EXPECT_FALSE(scale.Holds(2));
    const auto rec = scale.Record(1);
    EXPECT_EQ(std::string(rec.begin() + 4, rec.begin() + 32), "Kielbasa zywiecka" + std::string(11, ' '));
    EXPECT_EQ(std::string(rec.begin() + 32, rec.begin() + 60), "Zaklady Miesne" + std::string(14, ' '));

    Host().Reset();
    ASSERT_EQ(EcrReadAllPLU(&dev, &RecordingHost::OnItemRead), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    const auto read = Host().Items();
    ASSERT_EQ(read.size(), 1u);   // PLU 2 is missing: the read ends there
    EXPECT_EQ(read[0].number, 1u);
    EXPECT_STREQ(read[0].code, "200012");   // the first 6 characters, back as a number
    EXPECT_DOUBLE_EQ(read[0].price, 21.9);
    EXPECT_DOUBLE_EQ(read[0].amount, 0.25);
    EXPECT_EQ(read[0].department, 4u);
    EXPECT_EQ(read[0].word152, 3u);
    EXPECT_EQ(read[0].code224, 12u);
    EXPECT_EQ(read[0].vat_group, 1u);
    EXPECT_EQ(read[0].unit, 1u);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_BULK), 1);

    // Nothing else is served: LP-1 reads no single PLU and deletes nothing.
    for (int job = 0; job < 3; ++job) {
        Host().Reset();
        int started = 0;
        if (job == 0) started = EcrReadPLU(&dev, items.data(), 1, &RecordingHost::OnItemRead);
        if (job == 1) started = EcrDelPLU(&dev, items.data(), 1, &RecordingHost::OnItemProgram);
        if (job == 2) started = EcrReadVAT(&dev, &RecordingHost::OnVat);
        ASSERT_EQ(started, 1);
        ASSERT_TRUE(WaitDone());
        EXPECT_NE(EcrError(), 0) << job;
    }
    Host().Reset();
    ASSERT_EQ(EcrClearSale(&dev, &RecordingHost::OnSale), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0);
}

TEST_F(CasLpExports, Type105SilentScaleEndsAfterThreeItems) {
    orv::platform::SetTimeScale(0.02);
    CasLpEmulator scale(kPort, 1);
    scale.SetSilent(true);
    scale.Start();
    const EcrDeviceRecord dev = orv::test::DeviceRecord(105, kPort);
    std::vector<EcrItemRecord> items;
    for (uint32_t i = 1; i <= 5; ++i) items.push_back(Item(i, "Towar", 1.0));
    ASSERT_EQ(EcrPgmPLU(&dev, items.data(), 5, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 24);
    ASSERT_EQ(Host().Confirmations().size(), 5u);
    EXPECT_EQ(scale.Received().size(), 9u);   // three tries of three items; nothing for the last two
}

TEST_F(CasLpExports, Type110ProgramsReadsAndDeletes) {
    CasLpEmulator scale(kPort, 16);
    scale.Start();
    const EcrDeviceRecord dev = orv::test::DeviceRecord(110, kPort, 19200);

    std::vector<EcrItemRecord> items = {Item(50, "Pasztet", 7.5), Item(51, "Sch\xB3" "ab", 29.99)};
    ASSERT_EQ(EcrPgmPLU(&dev, items.data(), 2, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    EXPECT_TRUE(Host().Confirmations().empty());
    EXPECT_TRUE(scale.Holds(50) && scale.Holds(51));

    // PLU 52 is not held: event 6, and the read goes on.
    Host().Reset();
    std::vector<EcrItemRecord> wanted = {Item(52, "", 0), Item(51, "", 0), Item(50, "", 0)};
    ASSERT_EQ(EcrReadPLU(&dev, wanted.data(), 3, &RecordingHost::OnItemRead), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    ASSERT_EQ(Host().Items().size(), 2u);
    EXPECT_EQ(Host().Items()[0].number, 51u);
    EXPECT_EQ(std::string(Host().Items()[0].name), "Schlab" + std::string(22, ' '));
    EXPECT_DOUBLE_EQ(Host().Items()[0].price, 29.99);
    EXPECT_EQ(Host().Items()[1].number, 50u);
    ASSERT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 1);
    EXPECT_EQ(Host().EventsWithCode(ECR_EVENT_DEVICE_ERROR)[0].value, 202);

    Host().Reset();
    ASSERT_EQ(EcrDelPLU(&dev, items.data(), 1, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    EXPECT_FALSE(scale.Holds(50));

    Host().Reset();
    scale.RefuseMapFrom(1);
    ASSERT_EQ(EcrReadAllPLU(&dev, &RecordingHost::OnItemRead), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    ASSERT_EQ(Host().Items().size(), 0u);   // 51 lies in the refused block 1

    scale.RefuseMapFrom(-1);
    Host().Reset();
    ASSERT_EQ(EcrReadAllPLU(&dev, &RecordingHost::OnItemRead), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    ASSERT_EQ(Host().Items().size(), 1u);
    EXPECT_EQ(Host().Items()[0].number, 51u);
}

}  // namespace
