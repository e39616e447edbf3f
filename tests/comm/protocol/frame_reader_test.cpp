// The reader of start/end framed answers shared by the DSA registers and
// the Adax, against both emulators over a pseudo-terminal: the first wait
// for an answer is the long one until a real attempt (a frame read or
// refused) was made; a noise byte before the answer is no attempt.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "comm/telepathy.h"
#include "drivers/adax/cadax.h"
#include "drivers/dsa/cdsa100.h"
#include "platform/clock.h"
#include "sim/adax/adax_emulator.h"
#include "sim/dsa/dsa_emulator.h"

namespace orv::test {
namespace {

constexpr int kPort = 9;
constexpr double kScale = 0.01;   // 10 ms of real time are one library second

int RealMs(double seconds) { return static_cast<int>(seconds * 1000.0 * kScale); }

struct Outcome {
    int result;
    int error;
};

// One exchange with the DSA 100 whose reply frame comes as the case says:
// a noise byte `noise` seconds after the request's ACK, the reply `answer`
// seconds after it.
Outcome DsaExchange(double noise, double answer) {
    DsaEmulator emu(kPort, DsaModel::Dsa100M1);
    emu.SetMangler([=](char kind, const Bytes& bytes) {
        if (kind != 'F') return std::vector<DsaEmulator::Piece>{{0, bytes}};
        return std::vector<DsaEmulator::Piece>{{RealMs(noise), Bytes{0x7E}},
                                               {RealMs(answer - noise), bytes}};
    });
    emu.Start();
    CTelepathy serial;
    CDsa100 dsa;
    dsa.m_nModel = 1;
    dsa.SetSerial(&serial);
    EXPECT_EQ(dsa.Open(kPort, 9600), 1) << dsa.m_nError;
    Outcome o{dsa.CloseGoods(), dsa.m_nError};
    dsa.Close();
    emu.Stop();
    return o;
}

// One command to the Adax whose answer comes as the case says.
Outcome AdaxExchange(double noise, double answer) {
    AdaxEmulator emu(kPort);
    emu.SetIdlePeriod(0);
    emu.Start();
    emu.QueueLateAnswer(RealMs(noise), RealMs(answer));
    CTelepathy serial;
    CAdax adax;
    adax.SetSerial(&serial);
    EXPECT_EQ(adax.Open(kPort, 9600), 1) << adax.m_nError;
    const CChrArr got = adax.Command(CChrArr("*I"));
    Outcome o{got.IsEmpty() ? 0 : 1, adax.m_nError};
    adax.Close();
    emu.Stop();
    return o;
}

class FrameReaderTest : public ::testing::Test {
protected:
    void SetUp() override { orv::platform::SetTimeScale(kScale); }
    void TearDown() override { orv::platform::SetTimeScale(1.0); }
};

TEST_F(FrameReaderTest, ANoiseByteIsNoAttemptAndKeepsTheLongFirstWait) {
    struct Case {
        const char* family;
        std::function<Outcome(double, double)> exchange;
        double noise;    // library seconds after the request
        double answer;
        Outcome expected;
    } cases[] = {
        // A noise byte after 5 s, the answer 40 s after the request: past
        // five short waits after the noise, within the first long one.
        {"DSA 100", DsaExchange, 5.0, 40.0, {1, 0}},
        {"Adax", AdaxExchange, 5.0, 40.0, {1, 0}},
        // A noise byte at once, the answer 20 s later.
        {"DSA 100", DsaExchange, 1.0, 21.0, {1, 0}},
        {"Adax", AdaxExchange, 1.0, 21.0, {1, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.family) + ", answer after " + std::to_string(c.answer) + " s");
        const int64_t start = orv::platform::MonotonicMillis();
        const Outcome o = c.exchange(c.noise, c.answer);
        EXPECT_EQ(o.result, c.expected.result);
        EXPECT_EQ(o.error, c.expected.error);
        // Taken as soon as it came, not after further waits.
        EXPECT_LT(orv::platform::MonotonicMillis() - start, orv::platform::ScaledMillis(c.answer + 15.0));
    }
}

}  // namespace
}  // namespace orv::test
