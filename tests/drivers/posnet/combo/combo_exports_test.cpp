// The Combo registers through the exports, as a host drives them: a serial
// Combo (type 61), a Neo on USB (type 10, kind 12) and a register on TCP
// (type 90, kind 11): VAT and status, goods programmed and read back,
// sales read and cleared.
#include <cstring>

#include "drivers/posnet/combo/combo_fixture.h"

namespace orv::test {
namespace {

class ComboExports : public ComboTest {
protected:
    static void SetUpTestSuite() { EcrCreate(nullptr); }
    template <class Start>
    int RunExport(Start start) {
        EXPECT_EQ(start(), 1) << "refused: " << EcrError() << " " << Utf8(EcrErrMsg());
        EXPECT_TRUE(WaitEcrDone(30000));
        return EcrError();
    }
};

TEST_F(ComboExports, VatStatusGoodsAndSalesOnEachConnection) {
    struct Case {
        int type, kind, port;
        const char* address;
        const char* param;   // the first device parameter text
    };
    const Case cases[] = {
        {61, 0, 2, "", "COM2,9600,8,N,1,H"},
        {10, 12, 0, "POSNET NEO", "POSNET NEO"},
        {90, 11, (192 << 24) | (168 << 16) | (1 << 8) | 20, "", "192.168.1.20"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        fake.Reset();
        Host().Reset();
        fake.Do("plustat", "", "1|590|Chleb|2000|700");
        EcrDeviceRecord dev = Device(c.type, c.kind, c.port);
        std::strcpy(dev.address, c.address);

        EXPECT_EQ(RunExport([&] { return EcrReadVAT(&dev, &RecordingHost::OnVat); }), 0) << Utf8(EcrErrMsg());
        ASSERT_EQ(Host().VatCalls().size(), 1u);
        EXPECT_EQ(Host().VatCalls()[0][0], 23.0);
        EXPECT_EQ(fake.CallsOf("POS_SetDeviceParam")[0][2], c.param);

        EXPECT_EQ(RunExport([&] { return EcrReadStatus(&dev, &RecordingHost::OnStatus); }), 0) << Utf8(EcrErrMsg());
        ASSERT_EQ(Host().StatusCalls().size(), 1u);
        EXPECT_EQ(std::string(Host().StatusCalls()[0].status.information).rfind("Typ kasy : POSNET COMBO\r\n", 0), 0u);

        EcrItemRecord items[2] = {Goods(1, "Chleb", 3.5, 2, "590"), Goods(2, "Mleko", 2.19, 1, "591")};
        EXPECT_EQ(RunExport([&] { return EcrPgmPLU(&dev, items, 2, &RecordingHost::OnItemProgram); }), 0)
            << Utf8(EcrErrMsg());
        EXPECT_TRUE(Host().Confirmations().empty());
        EXPECT_EQ(RunExport([&] { return EcrReadAllPLU(&dev, &RecordingHost::OnItemRead); }), 0) << Utf8(EcrErrMsg());
        std::vector<EcrItemRecord> read = Host().Items();
        ASSERT_EQ(read.size(), 2u);
        EXPECT_STREQ(read[0].name, "Chleb");
        EXPECT_STREQ(read[0].code, "590");
        EXPECT_EQ(read[0].vat_group, 2u);
        EXPECT_EQ(Value(read[1].price), 2.19);

        EXPECT_EQ(RunExport([&] { return EcrReadSale(&dev, &RecordingHost::OnSale); }), 0) << Utf8(EcrErrMsg());
        EXPECT_EQ(RunExport([&] { return EcrClearSale(&dev, &RecordingHost::OnSale); }), 0) << Utf8(EcrErrMsg());
        std::vector<HostSale> sales = Host().Sales();
        ASSERT_EQ(sales.size(), 2u);
        EXPECT_EQ(Value(sales[1].sale.quantity), 2.0);
        EXPECT_EQ(Value(sales[1].sale.value), 7.0);
        EXPECT_EQ(fake.CountOf("POSS_PLUStatClearAll"), 1);

        EXPECT_TRUE(fake.Balanced()) << fake.Counts();
        EXPECT_EQ(fake.CountOf("POS_OpenDevice"), 6);
        EXPECT_EQ(fake.CountOf("POS_CloseDevice"), 6);
    }
}

TEST_F(ComboExports, AnOpenFailureRefusesTheJobWithTheLibrarysCode) {
    fake.Result("POS_OpenDevice", 0);
    fake.Result("POS_GetError", 12);
    EcrDeviceRecord dev = Device(61);
    EXPECT_EQ(EcrReadVAT(&dev, &RecordingHost::OnVat), 0);
    EXPECT_EQ(EcrError(), 12);
    EXPECT_EQ(Utf8(EcrErrMsg()), "Nie można otworzyć wskazanego urządzenia - port zajęty");
    EXPECT_TRUE(fake.Balanced()) << fake.Counts();
}

}  // namespace
}  // namespace orv::test
