// The Adax link against the emulator: frame bytes, the sequence the
// register hands back, the reader's bounds on bad checksums, broken frames,
// junk, short frames, silence and a hang-up; the letter map and the texts.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "adax_fixture.h"
#include "util/cp1250.h"

namespace orv::test {
namespace {

Bytes ToBytes(const CChrArr& a) { return Bytes(a.data(), a.data() + a.GetLength()); }

class AdaxLinkTest : public AdaxTest {
protected:
    // The link alone: no ready frames come between its frames.
    CAdax& OpenLink(int baud = 9600) {
        m_emu->SetIdlePeriod(0);
        m_adax.SetSerial(m_serial.get());
        EXPECT_EQ(m_adax.Open(kAdaxPort, baud), 1) << m_adax.m_nError;
        return m_adax;
    }
    void TearDown() override {
        m_adax.Close();
        AdaxTest::TearDown();
    }
    // The last frame the register received.
    Bytes LastFrame() {
        auto frames = m_emu->Frames();
        return frames.empty() ? Bytes() : frames.back();
    }
    CAdax m_adax;
};

TEST_F(AdaxLinkTest, FramesAreByteExact) {
    struct Case {
        uint32_t seq;
        const char* payload;
        Bytes frame;
    } cases[] = {
        {37, "", {0x03, 0x26, 0x25, 0x21, 0x2E, 0x04}},
        {5, "*I", {0x03, 0x28, 0x25, 0x2A, 0x49, 0x23, 0x23, 0x04}},
    };
    CAdax& adax = OpenLink();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.payload);
        EXPECT_EQ(Hex(ToBytes(CAdax::BuildFrame(c.seq, CChrArr(c.payload)))), Hex(c.frame));
        m_emu->ClearLog();
        adax.m_nSeq = c.seq;
        ASSERT_EQ(adax.SendFrame(CChrArr(c.payload)), 1) << adax.m_nError;
        ASSERT_TRUE(m_emu->WaitForCommands(1));
        EXPECT_EQ(Hex(LastFrame()), Hex(c.frame));
        EXPECT_EQ(adax.m_nSeq, c.seq & 15u);   // kept masked
    }
}

TEST_F(AdaxLinkTest, LongestPayloadIs58Bytes) {
    CAdax& adax = OpenLink();
    EXPECT_EQ(adax.SendFrame(CChrArr(std::string(58, 'A'))), 1);
    ASSERT_TRUE(m_emu->WaitUntil([](const Bytes& b) { return b.size() >= 63; }, 2000));
    m_emu->ClearLog();
    EXPECT_EQ(adax.SendFrame(CChrArr(std::string(59, 'A'))), 0);
    EXPECT_EQ(adax.m_nError, 999);
    EXPECT_FALSE(m_emu->WaitForCount(1, 100));   // nothing written
}

TEST_F(AdaxLinkTest, OpenTakes9600Baud8N1AndDrawsASeededSequence) {
    CAdax& adax = OpenLink(19200);
    const auto line = m_serial->LineSettings();
    EXPECT_EQ(line.baud, 9600);
    EXPECT_EQ(line.dataBits, 8);
    EXPECT_EQ(line.parity, 'N');
    const uint32_t first = adax.m_nSeq;
    EXPECT_LT(first, 100u);
    adax.Close();
    // The same seed draws the same number, unless it equals the last one.
    CAdax::SeedSequence(1234);
    CAdax other;
    other.SetSerial(m_serial.get());
    ASSERT_EQ(other.Open(kAdaxPort, 9600), 1);
    EXPECT_EQ(other.m_nSeq, first);
    other.Close();
    CAdax::SeedSequence(1234);
    ASSERT_EQ(adax.Open(kAdaxPort, 9600), 1);
    EXPECT_NE(adax.m_nSeq, first);
}

TEST_F(AdaxLinkTest, TheAnswersSequenceGoesBack) {
    CAdax& adax = OpenLink();
    adax.m_nSeq = 5;
    EXPECT_FALSE(adax.Command(CChrArr("*I")).IsEmpty()) << adax.m_nError;
    EXPECT_EQ(adax.m_nSeq, 6u);   // the register answered with 6
    EXPECT_FALSE(adax.Command(CChrArr("*I")).IsEmpty());
    auto frames = m_emu->Frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0][2], 0x25);
    EXPECT_EQ(frames[1][2], 0x26);
}

TEST_F(AdaxLinkTest, BadAnswersEndWithinTheBoundsAndKeepTheirCode) {
    using F = AdaxEmulator::Fault;
    struct Case {
        const char* what;
        F fault;
        int code;   // 0: the answer is read
    } cases[] = {
        // A bad frame's code outlives the time-outs that follow it.
        {"bad checksum", F::BadChecksum, 1000},
        {"no end byte", F::NoEnd, 1001},
        {"a frame of five bytes, then silence", F::Short, -5},
        {"silence", F::Silence, -5},
        {"junk before the answer", F::Junk, 0},
    };
    CAdax& adax = OpenLink();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m_emu->QueueAnswerFault(c.fault);
        const int64_t start = orv::platform::MonotonicMillis();
        CChrArr answer = adax.Command(CChrArr("*I"));
        EXPECT_EQ(answer.IsEmpty(), c.code != 0);
        EXPECT_EQ(adax.m_nError, c.code);
        // Within the first wait (50 s), four more (5 s) and a pause.
        EXPECT_LT(orv::platform::MonotonicMillis() - start, orv::platform::ScaledMillis(95.0));
    }
}

TEST_F(AdaxLinkTest, FiveBadFramesInARowFailWithTheirCode) {
    struct Case {
        const char* what;
        Bytes frame;
        int code;
    } cases[] = {
        {"bad checksum", {0x03, 0x28, 0x27, 'O', 'K', 0x20, 0x20, 0x04}, 1000},
        {"five bytes after the start", {0x03, 0x26, 0x27, 0x21, 0x2F, 0x04}, 9999},
    };
    CAdax& adax = OpenLink();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Five of them stand in the line at once: each is one attempt.
        Bytes five;
        for (int i = 0; i < 5; ++i) five.insert(five.end(), c.frame.begin(), c.frame.end());
        m_emu->Send(five);
        const int64_t start = orv::platform::MonotonicMillis();
        EXPECT_TRUE(adax.ReadFrame().IsEmpty());
        EXPECT_EQ(adax.m_nError, c.code);
        // No wait for a further frame (the first alone is 50 s).
        EXPECT_LT(orv::platform::MonotonicMillis() - start, orv::platform::ScaledMillis(15.0));
        EXPECT_EQ(m_serial->GetInputCount(kAdaxPort), 0);
        // The register may still send: the next request waits for a quiet line.
        EXPECT_TRUE(m_serial->IsUnsettled(kAdaxPort));
    }
}

TEST_F(AdaxLinkTest, JunkIsDroppedWithoutCountingAnAttempt) {
    CAdax& adax = OpenLink();
    adax.m_nRetry = 1;   // a single attempt: only the frame may count
    Bytes junk = EmulatorBase::Garbage(40, Bytes{0x03, 0x04});
    Bytes frame = AdaxEmulator::Frame(3, "OK");
    junk.insert(junk.end(), frame.begin(), frame.end());
    m_emu->Send(junk);
    CChrArr answer = adax.ReadFrame();
    EXPECT_EQ(answer.ToString(), "OK") << adax.m_nError;
    EXPECT_EQ(adax.m_nSeq, 3u);
}

TEST_F(AdaxLinkTest, NoiseAndHangUpEndInTheBoundsWithACode) {
    CAdax& adax = OpenLink();
    adax.m_nWait = 1;   // the pause for junk (20 s) would only make this slow
    // Endless noise without a start byte.
    std::atomic<bool> stop{false};
    std::thread noise([&] {
        while (!stop) {
            m_emu->Send(EmulatorBase::Garbage(16, Bytes{0x03, 0x04}));
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    const int64_t start = orv::platform::MonotonicMillis();
    EXPECT_TRUE(adax.ReadFrame().IsEmpty());
    stop = true;
    noise.join();
    EXPECT_NE(adax.m_nError, 0);
    EXPECT_LT(orv::platform::MonotonicMillis() - start, orv::platform::ScaledMillis(300.0));

    // The register goes away.
    m_emu->Disconnect();
    EXPECT_TRUE(adax.Command(CChrArr("*I")).IsEmpty());
    EXPECT_NE(adax.m_nError, 0);
}

TEST_F(AdaxLinkTest, ProgrammingFramesCarryTheFieldsAsTheRegisterWantsThem) {
    CAdax& adax = OpenLink();
    AdaxPLURecord rec{};
    std::strcpy(rec.code, "123");
    std::strcpy(rec.name, PL("Kąt"));
    rec.dept = 1;
    rec.price = 12.345;
    ASSERT_EQ(adax.ProgramPLU(rec), 1) << adax.m_nError;
    rec.price = 12.5;
    ASSERT_EQ(adax.UpdatePrice(rec), 1) << adax.m_nError;
    EXPECT_EQ(m_emu->Commands(), (std::vector<std::string>{"*WH0          1230000001234" "0000",
                                                           "*WH1Knt               A9", "*S123R", "*S12,50Q"}));
}

TEST_F(AdaxLinkTest, LettersAndTexts) {
    EXPECT_EQ(CAdax::Cp1250ToDevice(CChrArr(PL("ĄĆĘŁŃÓŚŹŻąćęłńóśźż x"))).ToString(), "norsuvy~}norsuvy~} x");
    CAdax adax;
    const struct {
        int code;
        const char* text;
    } texts[] = {
        {1, "<MARK> error"},
        {10, "<Not found the PLU>"},
        {14, "<Can not delete>"},
        {16, "<Be issuing X-report>"},
        {15, PL("Nieokreślony błąd")},
        {109, PL("Cena towaru poza zakresem")},
        {110, PL("Numer działu poza zakresem")},
        {25, PL("Rozkaz niedostępny w tej wersji programu kasy")},
    };
    for (const auto& t : texts) EXPECT_EQ(adax.GetErrorText(t.code), t.text) << t.code;
    EXPECT_EQ(adax.GetErrorText(-5), CTelepathyECR().GetErrorText(-5));
}

}  // namespace
}  // namespace orv::test
