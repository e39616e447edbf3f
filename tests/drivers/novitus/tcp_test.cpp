// CTN_ECR over TCP (connection kind 11) against the Tango register on a
// loopback address of its own, port 5001, with replies in small segments.
#include <cstring>
#include <string>
#include <vector>

#include "drivers/novitus/ctn_ecr.h"
#include "job/job_block.h"
#include "tango_fixture.h"
#include "util/cp1250.h"

namespace orv::test {
namespace {

constexpr int kNetwork = 11;

class TangoTcp : public TangoTest {
protected:
    void SetUp() override {
        TangoTest::SetUp();
        m_net = std::make_unique<TangoTcpEmulator>(NextLoopbackAddress());
        ASSERT_TRUE(m_net->Start()) << m_net->AddressText();
        m_net->SetSegmented(true);
    }
    void TearDown() override {
        if (m_ctn.IsRunning()) {
            m_socket->Break();
            WaitJobEnd(m_ctn, 10000);
        }
        m_net.reset();
        TangoTest::TearDown();
    }
    bool Run(uint32_t job, uint32_t address, const std::function<void()>& fill = {}) {
        Host().Reset();
        EcrDeviceRecord dev = DeviceRecord(86, static_cast<int>(address), 9600, kNetwork);
        PrepareJobBlock(job, dev);
        if (fill) fill();
        RunJob(m_ctn, job, m_serial.get(), m_socket.get(), 30000);
        return Host().CountEvents(ECR_EVENT_SUCCEEDED) == 1;
    }

    std::unique_ptr<TangoTcpEmulator> m_net;
    CTN_ECR m_ctn;
};

TEST_F(TangoTcp, JobsOverTcpWithRepliesInPieces) {
    // A frame in paced pieces takes longer than the fastest clock allows.
    orv::platform::SetTimeScale(0.1);
    TangoDevice& dev = m_net->Device();
    dev.SetTaxTable({"2300", "0800", "0500", "0000", "9999", "FFFF", "FFFF"});
    std::vector<EcrItemRecord> items = {HostItemRecord({.name = PL("Sól"), .code = "590", .price = 1.99, .vat = 1}),
                                        HostItemRecord({.name = "Cukier", .code = "591", .price = 4.2, .vat = 2})};
    ASSERT_TRUE(Run(5, m_net->Address(), [&] {
        g_jobBlock.items = items.data();
        g_jobBlock.count = 2;
    })) << m_ctn.GetErrorCode();
    EXPECT_EQ(dev.GoodsCount(), 2u);
    EXPECT_EQ(m_ctn.Protocol().GetModel(), 20u);
    EXPECT_EQ(CTN_ECR::ModelForType(85), 19u);
    EXPECT_EQ(CTN_ECR::ModelForType(26), 13u);
    EXPECT_EQ(CTN_ECR::ModelForType(12), 1u);
    EXPECT_TRUE(m_ctn.Protocol().IsTcp());

    ASSERT_TRUE(Run(3, m_net->Address()));
    ASSERT_EQ(Host().Items().size(), 2u);
    EXPECT_STREQ(Host().Items()[0].name, PL("Sól"));
    EXPECT_DOUBLE_EQ(Host().Items()[1].price, 4.2);

    ASSERT_TRUE(Run(14, m_net->Address()));
    ASSERT_EQ(Host().StatusCalls().size(), 1u);
    EXPECT_STREQ(Host().StatusCalls()[0].status.unique_number, "SIM0000001");
    EXPECT_DOUBLE_EQ(Host().StatusCalls()[0].vat[0], 23.0);
    // Every job is a connection of its own.
    EXPECT_EQ(m_net->Connections(), 3);
}

// The remaining slots over TCP, replies in pieces.
TEST_F(TangoTcp, EverySlotOverTcp) {
    orv::platform::SetTimeScale(0.1);
    TangoDevice& dev = m_net->Device();
    TangoDevice::GoodsFields f;
    f.code = "590";
    f.name = "SOL";
    f.price = 199;
    dev.PutGoods(TangoDevice::MakeGoodsRecord(f));
    dev.SetSales({{"590", 1, "SOL", 2000, 398, 0, ""}});
    dev.SetPositions({{"590", 1, "SOL", 1000, 199, 1, "PARAGON 12"}});

    EcrDeptRecord depts[1] = {};
    depts[0].number = 3;
    std::strcpy(depts[0].name, "Chemia");
    depts[0].vat_group = 1;
    EcrUnitRecord units[1] = {{4, "op"}};
    std::vector<EcrItemRecord> items = {HostItemRecord({.name = "SOL", .code = "590"})};
    std::strcpy(items[0].code2, "777");

    EXPECT_TRUE(Run(11, m_net->Address(), [&] {
        g_jobBlock.depts = depts;
        g_jobBlock.count = 1;
    }));
    EXPECT_TRUE(Run(9, m_net->Address()));
    ASSERT_EQ(Host().Depts().size(), 1u);
    EXPECT_STREQ(Host().Depts()[0].name, "Chemia");
    EXPECT_TRUE(Run(13, m_net->Address(), [&] {
        g_jobBlock.units = units;
        g_jobBlock.count = 1;
    }));
    EXPECT_TRUE(Run(12, m_net->Address()));
    ASSERT_EQ(Host().Units().size(), 1u);
    EXPECT_EQ(Host().Units()[0].number, 4u);
    EXPECT_TRUE(Run(18, m_net->Address(), [&] {
        g_jobBlock.items = items.data();
        g_jobBlock.count = 1;
        g_jobBlock.kind = 2;
    }));
    EXPECT_TRUE(Run(4, m_net->Address(), [&] {
        g_jobBlock.items = items.data();
        g_jobBlock.count = 1;
    }));
    ASSERT_EQ(Host().Items().size(), 1u);
    EXPECT_STREQ(Host().Items()[0].code2, "777");
    EXPECT_TRUE(Run(1, m_net->Address()));
    EXPECT_EQ(Host().Sales().size(), 2u);
    EXPECT_TRUE(Run(2, m_net->Address()));
    EXPECT_EQ(dev.SaleCount(), 0u);
    EXPECT_TRUE(Run(1, m_net->Address(), [&] { g_jobBlock.device.flags = 2; }));
    ASSERT_EQ(Host().Sales().size(), 1u);
    EXPECT_STREQ(Host().Sales()[0].sale.text, "PARAGON 12");
    EXPECT_TRUE(Run(7, m_net->Address(), [&] {
        g_jobBlock.items = items.data();
        g_jobBlock.count = 1;
    }));
    EXPECT_EQ(dev.GoodsCount(), 0u);
}

TEST_F(TangoTcp, RefusedConnectionFailsWithTheTransportsCodeAndText) {
    const std::string nobody = NextLoopbackAddress();   // nothing listens there
    TangoTcpEmulator probe(nobody);
    EXPECT_FALSE(Run(15, probe.Address()));
    const int code = m_ctn.GetErrorCode();
    EXPECT_TRUE(code == 10061 || code == -3) << code;
    EXPECT_EQ(std::string(m_ctn.GetErrorMessage()), CTelepathyEth().GetErrorText(code));
    EXPECT_NE(std::string(m_ctn.GetErrorMessage()), SerialErrorText(-3));
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_FAILED) + Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 1);

    // No address at all: a bad parameter, with the transport's text.
    EXPECT_FALSE(Run(15, 0));
    EXPECT_EQ(m_ctn.GetErrorCode(), -1);
    EXPECT_EQ(std::string(m_ctn.GetErrorMessage()), CTelepathyEth().GetErrorText(-1));
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_SYSTEM_ERROR), 2);
}

TEST_F(TangoTcp, SilentRegisterOverTcp) {
    FastClock();
    std::vector<EcrItemRecord> items;
    for (int i = 1; i <= 5; ++i) items.push_back(HostItemRecord({.name = "X", .code = "7", .price = 1.0, .vat = 1}));
    m_net->SetSilent(true);
    EXPECT_FALSE(Run(5, m_net->Address(), [&] {
        g_jobBlock.items = items.data();
        g_jobBlock.count = 5;
    }));
    EXPECT_EQ(m_ctn.GetErrorCode(), 9999);
    EXPECT_EQ(Host().Confirmations().size(), 5u);
    int enqs = 0;
    for (uint8_t b : m_net->Received()) enqs += b == 0x05;
    EXPECT_EQ(enqs, 3 * 7);
}

}  // namespace
}  // namespace orv::test
