// The Elzab link through the exports: answer bytes, silence, breaks, stale
// input and the register-number check.
#include "elzab_fixture.h"

#include "util/cp1250.h"

namespace orv::test {
namespace {

constexpr int kTypeModel13 = 27;

class ElzabLinkTest : public ElzabTest {};

// Every answer byte in place of ACK becomes byte + 100, taken unsigned.
TEST_F(ElzabLinkTest, AnswerByteMapsToCode) {
    struct Case {
        uint8_t answer;
        int code;
        const char* text;
    };
    const Case cases[] = {
        {0x15, 121, PL("Nieokreślony błąd")},
        {0x00, 100, PL("Nieokreślony błąd")},
        {0x01, 101, PL("Pamięć CMOS została skasowana (wezwij serwis)")},
        {0x66, 202, PL("Pod podanym numerem towar nie zdefiniowany")},
        {0x7E, 226, PL("Towar ma już raz zmienioną stawkę")},
        {0x80, 228, PL("Nieokreślony błąd")},
        {0x95, 249, PL("Nieokreślony błąd")},
        {0x9C, 256, PL("Nieokreślony błąd")},
        {0xFF, 355, PL("Nieokreślony błąd")},
    };
    Register(kTypeModel13, 13);
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.answer));
        Host().Reset();
        reg->QueueAnswer(0xD0, c.answer);
        EXPECT_EQ(Run([&] { return EcrReadVAT(&device, RecordingHost::OnVat); }), c.code);
        EXPECT_EQ(ErrMsg(), c.text);
        EXPECT_TRUE(Host().VatCalls().empty());
        auto failed = Host().EventsWithCode(ECR_EVENT_FAILED);
        ASSERT_EQ(failed.size(), 1u);
        EXPECT_EQ(failed[0].value, c.code);
    }
}

// The status byte after an accepted write: 0x02 is "name error".
TEST_F(ElzabLinkTest, StatusByteOfWriteMapsToCode) {
    Register(kTypeModel13, 13);
    reg->QueueStatus(0xA9, 0x02);
    EcrItemRecord items[] = {Item(1, "Chleb", 1, 1, 3.5)};
    EXPECT_EQ(Run([&] { return EcrPgmPLU(&device, items, 1, RecordingHost::OnItemProgram); }), 102);
    EXPECT_EQ(ErrMsg(), std::string(PL("Błąd w nazwie towaru")));
    auto confirms = Host().Confirmations();
    ASSERT_EQ(confirms.size(), 1u);
    EXPECT_EQ(confirms[0].code, 102);
    EXPECT_EQ(confirms[0].text, PL("Błąd w nazwie towaru"));
}

TEST_F(ElzabLinkTest, SilentRegisterGives100AfterFiveSeconds) {
    Register(kTypeModel13, 13);
    const double scale = 0.05;   // a library second lasts 50 ms
    orv::platform::SetTimeScale(scale);
    reg->QueueSilence(0xD0);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(Run([&] { return EcrReadVAT(&device, RecordingHost::OnVat); }), 100);
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() / scale;
    EXPECT_GE(secs, 4.9);
    EXPECT_LT(secs, 10.0);
    EXPECT_EQ(ErrMsg(), std::string(PL("Nieokreślony błąd")));
}

TEST_F(ElzabLinkTest, ShortReplyKeepsTheTimeOut) {
    Register(kTypeModel13, 13);
    orv::platform::SetTimeScale(0.05);
    reg->QueueShortReply(0xD0, 6);   // ACK and 5 of the 12 bytes
    EXPECT_EQ(Run([&] { return EcrReadVAT(&device, RecordingHost::OnVat); }), -5);
    EXPECT_TRUE(Host().VatCalls().empty());
}

TEST_F(ElzabLinkTest, BreakWhileWaitingForAckKeepsMinus7) {
    Register(kTypeModel13, 13);
    reg->QueueSilence(0xD0);
    ASSERT_EQ(EcrReadVAT(&device, RecordingHost::OnVat), 1);
    ASSERT_TRUE(reg->WaitUntil(
        [](const Bytes& b) {
            for (size_t i = 1; i < b.size(); ++i)
                if (b[i - 1] == 0x1B && b[i] == 0xD0) return true;
            return false;
        },
        5000));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    auto t0 = std::chrono::steady_clock::now();
    EcrBreakJob();
    ASSERT_TRUE(WaitDone(2000));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(500));
    EXPECT_EQ(EcrError(), -7);
    EXPECT_EQ(ErrMsg(), std::string(PL("Transmisja przerwana przez użytkownika")));
}

// Bytes left in the input queue before a command are dropped after a short
// pause; the command's own answer is read correctly.
TEST_F(ElzabLinkTest, StaleInputIsPurgedBeforeTheNextCommand) {
    Register(kTypeModel13, 13);
    reg->QueueStale(0xC0, {0x06, 0x41, 0x15, 0x9C});
    EXPECT_EQ(Run([&] { return EcrReadVAT(&device, RecordingHost::OnVat); }), 0);
    auto vat = Host().VatCalls();
    ASSERT_EQ(vat.size(), 1u);
    EXPECT_DOUBLE_EQ(vat[0][0], 23.0);
    EXPECT_DOUBLE_EQ(vat[0][1], 8.0);
    // The command went out only after the pause.
    auto records = reg->Records();
    ASSERT_GE(records.size(), 4u);
    EXPECT_EQ(records[2].byte, 0x1B);
    EXPECT_EQ(records[3].byte, 0xD0);
    EXPECT_GE(records[2].ms - records[1].ms, 90);
}

TEST_F(ElzabLinkTest, RegisterNumberMismatchGives22WithoutOtherTraffic) {
    Register(kTypeModel13, 13);
    reg->SetRegisterNumber(7);
    device.word7 = 3;
    EcrItemRecord items[] = {Item(1, "Chleb", 1, 1, 3.5)};
    EXPECT_EQ(Run([&] { return EcrPgmPLU(&device, items, 1, RecordingHost::OnItemProgram); }), 22);
    EXPECT_EQ(ErrMsg(), std::string(PL("Pod podanym skojarzeniem kasa o innym numerze")));
    EXPECT_EQ(reg->Received(), Cmd(0xC0));
    EXPECT_TRUE(Host().Confirmations().empty());

    // The right number lets the job through.
    device.word7 = 7;
    reg->ClearReceived();
    EXPECT_EQ(Run([&] { return EcrPgmPLU(&device, items, 1, RecordingHost::OnItemProgram); }), 0);
    EXPECT_EQ(reg->Commands(), (std::vector<uint8_t>{0xC0, 0xC0, 0xD0, 0xA9}));
}

TEST_F(ElzabLinkTest, RegisterNumberThatIsNotTwoDigitsIsABadAnswer) {
    Register(kTypeModel13, 13);
    reg->SetRegisterNumberReply({'4', 0x9C});
    EXPECT_EQ(Run([&] { return EcrReadVAT(&device, RecordingHost::OnVat); }), 23);
    EXPECT_EQ(ErrMsg(), std::string(PL("Niepoprawna odpowiedź z kasy")));
}

// The line is 8E1 at the record's baud rate; the job closes it at the end,
// so the next job opens it again.
TEST_F(ElzabLinkTest, ConsecutiveJobsReopenTheLine) {
    Register(kTypeModel13, 13);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Run([&] { return EcrReadVAT(&device, RecordingHost::OnVat); }), 0);
    EXPECT_EQ(Host().VatCalls().size(), 3u);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_CLOSED), 3);
}

}  // namespace
}  // namespace orv::test
