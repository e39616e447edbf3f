// The Sharp registers through the exports, as a host drives them: one
// end-to-end run per type code against the emulator on a pseudo-terminal.
#include <cstring>

#include "orvanta/ecr.h"
#include "sharp_fixture.h"
#include "util/cp1250.h"

namespace orv::test {
namespace {

EcrItemRecord Item(uint32_t number, const char* name, const char* code, double price, uint32_t dept) {
    return HostItemRecord({.number = number, .name = name, .code = code, .price = price, .dept = dept});
}

class SharpExports : public SharpTest {
protected:
    void SetUp() override {
        SharpTest::SetUp();
        ASSERT_EQ(EcrCreate(nullptr), 1);
    }
    void ExpectSuccess() {
        EXPECT_EQ(EcrError(), 0) << Utf8(EcrErrMsg());
        EXPECT_EQ(Host().CountEvents(ECR_EVENT_SUCCEEDED), 1);
        EXPECT_EQ(Host().CountEvents(ECR_EVENT_CLOSED), 1);
    }
};

TEST_F(SharpExports, EveryTypeProgramsReadsAndDeletesGoods) {
    struct Case {
        int type;
        const SharpTraits* traits;
        bool barcodes;   // the type keys goods by barcode
    };
    const Case cases[] = {{33, &kSharp457Traits, false}, {18, &kSharp495Traits, false}, {97, &kSharp285Traits, true},
                          {47, &kSharp277Traits, false}, {48, &kSharp277Traits, false}, {49, &kSharp277Traits, true},
                          {50, &kSharp277Traits, true},  {25, &kSharp455Traits, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        SharpEmulator& emu = StartDevice(*c.traits, 3);
        EcrDeviceRecord dev = DeviceRecord(c.type, kSharpPort, 9600);
        dev.word7 = 3;   // machine number
        EcrItemRecord items[2] = {Item(10, PL("Chleb żytni"), "5901234567890", 4.99, 1),
                                  Item(11, PL("Bułka"), "12345678", 0.6, 2)};
        ASSERT_EQ(EcrPgmPLU(&dev, items, 2, &RecordingHost::OnItemProgram), 1);
        ASSERT_TRUE(WaitEcrDone(60000));
        ExpectSuccess();
        EXPECT_TRUE(Host().Confirmations().empty());

        Host().Reset();
        ASSERT_EQ(EcrReadAllPLU(&dev, &RecordingHost::OnItemRead), 1);
        ASSERT_TRUE(WaitEcrDone(60000));
        ExpectSuccess();
        auto got = Host().Items();
        ASSERT_EQ(got.size(), 2u);
        bool bread = false;
        for (const auto& it : got) {
            if (std::strncmp(it.name, PL("Chleb"), 5) != 0) continue;
            bread = true;
            EXPECT_DOUBLE_EQ(it.price, 4.99);
            EXPECT_EQ(it.department, 1u);
            if (c.barcodes)
                EXPECT_STREQ(it.code, "5901234567890");
            else
                EXPECT_EQ(it.number, 10u);
        }
        EXPECT_TRUE(bread);

        Host().Reset();
        ASSERT_EQ(EcrDelPLU(&dev, items, 1, &RecordingHost::OnItemProgram), 1);
        ASSERT_TRUE(WaitEcrDone(60000));
        ExpectSuccess();
        EXPECT_EQ(emu.File(kSharpPluFile).records.size() + emu.File(kSharpEanFile).records.size(), 1u);
        Host().Reset();
        ASSERT_EQ(EcrReadVAT(&dev, &RecordingHost::OnVat), 1);
        ASSERT_TRUE(WaitEcrDone(60000));
        ExpectSuccess();
        ASSERT_EQ(Host().VatCalls().size(), 1u);
        EXPECT_DOUBLE_EQ(Host().VatCalls()[0][1], 8.0);
        StopDevice();
    }
}

TEST_F(SharpExports, DepartmentsAndAFailedOpen) {
    SharpEmulator& emu = StartDevice(kSharp457Traits);
    EcrDeviceRecord dev = DeviceRecord(33, kSharpPort, 9600);
    dev.word7 = 1;   // machine number
    EcrDeptRecord depts[2]{};
    depts[0].number = 1;
    std::strcpy(depts[0].name, PL("Pieczywo świeże"));
    depts[1].number = 100;   // out of range: confirmed with 110
    std::strcpy(depts[1].name, "Inne");
    ASSERT_EQ(EcrPgmDEPT(&dev, depts, 2, &RecordingHost::OnDeptProgram), 1);
    ASSERT_TRUE(WaitEcrDone(60000));
    EXPECT_EQ(EcrError(), 110);
    auto conf = Host().Confirmations();
    ASSERT_EQ(conf.size(), 1u);
    EXPECT_EQ(conf[0].code, 110);
    EXPECT_EQ(conf[0].text, PL("Błędny numer działu"));

    Host().Reset();
    ASSERT_EQ(EcrReadAllDEPT(&dev, &RecordingHost::OnDeptRead), 1);
    ASSERT_TRUE(WaitEcrDone(60000));
    ExpectSuccess();
    ASSERT_EQ(Host().Depts().size(), 1u);
    EXPECT_STREQ(Host().Depts()[0].name, PL("Pieczywo świeże"));

    // A register that does not answer: the job fails with 9999 or a
    // transport code, never with 0.
    emu.SetSilent(true);
    Host().Reset();
    ASSERT_EQ(EcrReadVAT(&dev, &RecordingHost::OnVat), 1);
    ASSERT_TRUE(WaitEcrDone(60000));
    EXPECT_NE(EcrError(), 0);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_FAILED), 1);
}

}  // namespace
}  // namespace orv::test
