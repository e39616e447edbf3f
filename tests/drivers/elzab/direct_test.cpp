// What no type code of the dispatcher reaches (the model entries of types
// 20, 24, 99 and 300, connection kind 10) through the logic object itself,
// and the multiplexers on the fake serial line.
#include "elzab_fixture.h"

#include "job/job_block.h"
#include "comm/telepathy.h"
#include "drivers/elzab/cs6_ecr.h"
#include "fakes/fake_serial_device.h"
#include "util/cp1250.h"

namespace orv::test {
namespace {

TEST(ElzabModels, TypeCodeToModelCode) {
    const std::pair<int, uint32_t> table[] = {
        {1, 1},   {2, 2},   {3, 3},   {4, 8},   {77, 8},  {5, 10},  {76, 10},  {6, 5},    {20, 32},  {22, 33},
        {24, 34}, {27, 13}, {28, 14}, {29, 15}, {78, 15}, {30, 16}, {31, 17},  {32, 18},  {46, 19},  {53, 23},
        {63, 24}, {79, 25}, {80, 26}, {81, 27}, {94, 28}, {95, 29}, {98, 30},  {99, 31},  {102, 20}, {300, 20},
        {700, 21}, {701, 22}, {43, 1}, {84, 1}, {92, 1},  {93, 1},  {0, 1},    {-5, 1},
    };
    for (auto [type, model] : table) EXPECT_EQ(CS6_ECR::ModelForType(type), model) << "type " << type;
}

TEST(ElzabModels, Capacities) {
    const std::pair<uint32_t, uint32_t> plu[] = {
        {2, 2047},  {3, 1279},   {4, 9983},   {5, 20479}, {8, 4095},  {13, 10239}, {21, 28671}, {22, 61439},
        {23, 511},  {26, 40959}, {28, 16383}, {29, 8191}, {33, 3017}, {35, 3000},  {1, 6143},   {24, 6143},
    };
    for (auto [model, cap] : plu) EXPECT_EQ(CSystem600::PluCapacity(model), cap) << "model " << model;
    for (uint32_t m = 1; m <= 35; ++m) {
        bool big = (m >= 13 && m <= 16) || (m >= 24 && m <= 31) || m == 33 || m == 34;
        EXPECT_EQ(CSystem600::DeptCapacity(m), big ? 99u : 16u) << "model " << m;
    }
}

class ElzabDirectTest : public ElzabTest {
protected:
    // Runs a job on an own CS6_ECR object, as the dispatcher would.
    int RunDirect(uint32_t job) {
        PrepareJobBlock(job, device);
        EXPECT_TRUE(RunJob(logic, job, &serial, nullptr, 20000) || logic.GetErrorCode() != 0);
        return logic.GetErrorCode();
    }
    // Programs one item (kind 0) through the object.
    int ProgramDirect(EcrItemRecord& item) {
        PrepareJobBlock(5, device);
        g_jobBlock.items = &item;
        g_jobBlock.count = 1;
        g_jobBlock.kind = 0;
        RunJob(logic, 5, &serial, nullptr);
        return logic.GetErrorCode();
    }
    CTelepathy serial;
    CS6_ECR logic;
};

TEST_F(ElzabDirectTest, Type24HasLongNamesOfModel34) {
    Register(24, 34);
    EcrItemRecord it = Item(20000, "Kawa ziarnista Arabica 1kg", 1, 1, 45.0);
    EXPECT_EQ(ProgramDirect(it), 0) << logic.GetErrorMessage();
    EXPECT_EQ(reg->Commands(), (std::vector<uint8_t>{0xC0, 0xD0, 0x9E, 0x6B}));
    EXPECT_EQ(logic.Protocol().GetModel(), 34u);
}

TEST_F(ElzabDirectTest, Type300IsModel20) {
    Register(300, 20);
    EcrItemRecord it = Item(17, "A", 1, 1, 1.0);
    EXPECT_EQ(ProgramDirect(it), 0) << logic.GetErrorMessage();
    EXPECT_EQ(reg->GetPlu(17)->barcode, 2900170000000ull);
    EXPECT_EQ(reg->Commands(), (std::vector<uint8_t>{0xC0, 0xA9}));   // model 20 reads no rates
}

TEST_F(ElzabDirectTest, Type99IsModel31) {
    Register(99, 31);
    reg->SetCapacityReply(3);
    reg->AddPlu(2, PL("Herbata czarna liściasta"), 1, 1, 9.99);
    EXPECT_EQ(RunDirect(3), 0) << logic.GetErrorMessage();
    auto items = Host().Items();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(std::string(items[0].name).substr(0, 24), PL("Herbata czarna liściasta"));
}

TEST_F(ElzabDirectTest, ReportSlotsThatNoJobReaches) {
    Register(53, 23);
    reg->AddStreamRecord(ElzabEmulator::kA3, {8, 3, 0, 300, 0, 0});
    reg->AddStreamRecord(ElzabEmulator::kA5Pass3, {9, 4, 0, 400, 0, 0});
    PrepareJobBlock(1, device);
    serial.SetNotifyWindow(nullptr, 0);
    logic.SetSerial(&serial);
    ASSERT_EQ(logic.Open(1, &device), 1);
    EXPECT_EQ(logic.ReadSaleReport2(1, RecordingHost::OnSale), 1);
    EXPECT_EQ(logic.ReadSaleReport3(1, RecordingHost::OnSale), 1);
    logic.Close(1);
    auto sales = Host().Sales();
    ASSERT_EQ(sales.size(), 2u);
    EXPECT_EQ(sales[0].sale.plu, 8u);
    EXPECT_EQ(sales[1].sale.plu, 9u);
    EXPECT_EQ(reg->Commands(), (std::vector<uint8_t>{0xC0, 0xA2, 0xA3, 0xC0, 0xA5, 0xA5, 0xA5, 0xA5}));
}

// Kind 10: the channel byte after 0xFE, then DTR and RTS off.
TEST_F(ElzabDirectTest, Kind10SelectsTheChannelByByte) {
    auto line = FakeSerialLine::Create();
    device = DeviceRecord(1, 1, 19200, 10);
    device.word6 = 3;
    EXPECT_EQ(RunDirect(8), 0) << logic.GetErrorMessage();
    EXPECT_EQ(line->Written(), (Bytes{0xFE, 0x03}));
    EXPECT_EQ(logic.Protocol().GetMuxFlag(), 8);
    EXPECT_EQ(logic.Protocol().GetMuxChannel(), 3);
    EXPECT_FALSE(line->Dtr());
    EXPECT_FALSE(line->Rts());
    EXPECT_EQ(line->Settings().parity, 'E');
    EXPECT_EQ(line->Settings().baud, 19200);
    FakeSerialLine::Uninstall();
}

// A selection that fails on the line keeps the transport's code with its own
// text (the multiplexer's texts are for its codes 1 and 2); a channel that
// does not fit the byte is the multiplexer's "bad channel". Either way the
// line is closed again.
TEST_F(ElzabDirectTest, Kind10FailuresCloseTheLine) {
    auto line = FakeSerialLine::Create();
    device = DeviceRecord(1, 1, 9600, 10);
    device.word6 = 3;
    line->SetWriteError(EIO);
    EXPECT_EQ(RunDirect(8), -6);
    EXPECT_EQ(std::string(logic.GetErrorMessage()), PL("Błąd obsługi portu szeregowego: utrata połączenia"));
    EXPECT_FALSE(line->IsOpen());

    line->SetWriteError(0);
    line->ClearRecords();
    device.word6 = 256;
    EXPECT_EQ(RunDirect(8), 1);
    EXPECT_EQ(std::string(logic.GetErrorMessage()), PL("Błędny numer kanału multipleksera"));
    EXPECT_TRUE(line->Written().empty());
    EXPECT_FALSE(line->IsOpen());
    FakeSerialLine::Uninstall();
}

// Kind 2 through the exports: channels 1..4 by the levels of DTR and RTS.
TEST_F(ElzabDirectTest, Kind2SelectsTheChannelByLineLevels) {
    struct Case {
        int channel;
        bool rts, dtr;
    };
    const Case cases[] = {{1, true, false}, {2, true, true}, {3, false, false}, {4, false, true}};
    auto line = FakeSerialLine::Create();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.channel);
        line->ClearRecords();
        device = DeviceRecord(27, 1, 9600, 2);
        device.word6 = c.channel;
        EXPECT_EQ(Run([&] { return EcrDelAllPLU(&device, RecordingHost::OnItemProgram); }), 0);
        auto changes = line->LineChanges();
        // DTR is set before RTS; the last level of each is the channel's.
        int lastD = -1, lastR = -1;
        for (size_t i = 0; i < changes.size(); ++i) (changes[i].line == 'D' ? lastD : lastR) = static_cast<int>(i);
        ASSERT_GE(lastD, 0);
        ASSERT_GE(lastR, 0);
        EXPECT_LT(lastD, lastR);
        EXPECT_EQ(changes[lastD].on, c.dtr);
        EXPECT_EQ(changes[lastR].on, c.rts);
        EXPECT_TRUE(line->Written().empty());
    }

    // Channel 5 does not exist: the open fails with the multiplexer's code
    // and text, and the line is closed again for the next job.
    line->ClearRecords();
    device.word6 = 5;
    int started = EcrDelAllPLU(&device, RecordingHost::OnItemProgram);
    EXPECT_EQ(started, 0);
    WaitDone(2000);
    EXPECT_EQ(EcrError(), 1);
    EXPECT_EQ(ErrMsg(), std::string(PL("Błędny numer kanału multipleksera")));
    EXPECT_FALSE(line->IsOpen());
    device.word6 = 1;
    EXPECT_EQ(Run([&] { return EcrDelAllPLU(&device, RecordingHost::OnItemProgram); }), 0);
    FakeSerialLine::Uninstall();
}

}  // namespace
}  // namespace orv::test
