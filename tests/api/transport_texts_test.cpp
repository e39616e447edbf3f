// A transport code (-1..-10) reads the same in every family: the serial
// line's own text, whatever table the family looks its device codes up in.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "comm/telepathy.h"
#include "fakes/recording_host.h"
#include "orvanta/ecr.h"
#include "platform/clock.h"
#include "sim/dsa/dsa_emulator.h"

namespace orv::test {
namespace {

class TransportTexts : public ::testing::Test {
protected:
    void SetUp() override {
        EcrCreate(nullptr);
        Host().Reset();
    }
    void TearDown() override {
        orv::platform::SetTimeScale(1.0);
        unsetenv("ECR_COM9");
    }
    static EcrDeviceRecord Device(int type, int port) {
        EcrDeviceRecord dev{};
        dev.type = type;
        dev.port = port;
        dev.baud = 9600;
        dev.progress = RecordingHost::OnProgress;
        return dev;
    }
};

// Every serial family, on a port whose device does not exist: the open
// fails with a transport code and the serial line's text for it.
TEST_F(TransportTexts, AnOpenFailureReadsTheSameInEveryFamily) {
    setenv("ECR_COM9", "/nonexistent/orvanta-port", 1);
    const struct {
        int type;
        const char* family;
    } families[] = {{27, "Elzab"}, {15, "DSA 100"}, {40, "DSA 45B"}, {13, "DSA 4000"}, {109, "DSP 500"}, {16, "Elcom 50"}};
    for (const auto& f : families) {
        SCOPED_TRACE(f.family);
        Host().Reset();
        const EcrDeviceRecord dev = Device(f.type, 9);
        EXPECT_EQ(EcrReadVAT(&dev, RecordingHost::OnVat), 0);
        ASSERT_TRUE(WaitEcrDone());
        const int code = EcrError();
        ASSERT_GE(code, -10);
        ASSERT_LE(code, -1);
        EXPECT_EQ(std::string(EcrErrMsg()), SerialErrorText(code));
        for (const HostEvent& e : Host().EventsWithCode(8)) EXPECT_EQ(e.text, SerialErrorText(code));
    }
}

// A DSA register that falls silent mid-job: the time-out (-5) carries the
// serial line's text, not the device table's "unknown error".
TEST_F(TransportTexts, ATimeOutInTheMiddleOfADsaJob) {
    orv::platform::SetTimeScale(0.01);
    DsaEmulator reg(9, DsaModel::Dsa100M0);
    reg.Start();
    reg.SetSilent(true);
    EcrItemRecord item{};
    item.number = 1;
    const EcrDeviceRecord dev = Device(15, 9);
    ASSERT_EQ(EcrReadPLU(&dev, &item, 1, RecordingHost::OnItemRead), 1);
    ASSERT_TRUE(WaitEcrDone());
    EXPECT_EQ(EcrError(), -5);
    EXPECT_EQ(std::string(EcrErrMsg()), SerialErrorText(-5));
    const auto failed = Host().EventsWithCode(7);
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].text, SerialErrorText(-5));
}

}  // namespace
}  // namespace orv::test
