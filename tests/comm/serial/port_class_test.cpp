// The port class on its own: opening and its notices, input length, output.
#include <thread>

#include "fakes/fake_serial_device.h"
#include "serial_fixture.h"

using namespace serial_test;
using orv::test::FakeSerialLine;

TEST_F(SerialTest, PortClassOpenFailuresShowTheirNotices) {
    auto line = FakeSerialLine::Create();
    COlfe_SComm port;
    port.SetCommPort(256);
    EXPECT_EQ(port.GetParameterError(), -1);
    EXPECT_EQ(port.GetCommPort(), 1);

    port.SetCommPort(12);
    port.SetSettings("9600,N,8,1");
    port.SetPortOpen(true);
    ASSERT_TRUE(port.GetPortOpen());
    EXPECT_EQ(line->LastPath(), orv::platform::SerialPortPath(12));
    EXPECT_TRUE(Messages().empty());

    port.SetPortOpen(true);   // already open
    EXPECT_EQ(port.GetLastError(), COlfe_SComm::kErrAlreadyOpen);
    port.SetCommPort(3);      // not while open
    EXPECT_EQ(port.GetParameterError(), -1);
    EXPECT_EQ(port.GetCommPort(), 12);
    port.SetPortOpen(false);

    line->SetPresent(false);
    port.SetPortOpen(true);
    EXPECT_FALSE(port.GetPortOpen());
    EXPECT_EQ(port.GetLastError(), COlfe_SComm::kErrFileNotFound);
    const std::vector<std::string> expected = {"m_lLastError = ERROR_ALREADY_INITIALIZED",
                                               "CSerial::Open - Unable to open port"};
    EXPECT_EQ(Messages(), expected);
    EXPECT_EQ(port.GetCommID(), -1);
}

TEST_F(SerialTest, PortClassInputLengthAndOutput) {
    auto line = FakeSerialLine::Create();
    COlfe_SComm port;
    port.SetSettings("9600,N,8,1");
    port.SetPortOpen(true);
    ASSERT_TRUE(port.GetPortOpen());
    line->Inject({'a', 'b', 'c'});
    port.SetInputLen(5);
    EXPECT_TRUE(port.GetInput().IsEmpty());        // more asked than held: nothing taken
    EXPECT_EQ(port.GetInBufferCount(), 3);
    port.SetInputLen(2);
    EXPECT_EQ(Str(port.GetInput()), "ab");
    port.SetInputLen(0);
    EXPECT_EQ(Str(port.GetInput()), "c");

    port.SetOutput(Bytes("xyz"));
    EXPECT_EQ(line->Written(), (std::vector<uint8_t>{'x', 'y', 'z'}));
    line->Inject({'q'});
    port.SetInBufferCount(0);
    EXPECT_EQ(port.GetInBufferCount(), 0);
    EXPECT_EQ(port.SetupHandshaking(7), COlfe_SComm::kErrInvalidArg);
    EXPECT_EQ(port.SetupReadTimeouts(2), COlfe_SComm::kErrInvalidArg);
    EXPECT_FALSE(port.GetCommEvent());
    port.SetPortOpen(false);
    uint32_t n = 1;
    EXPECT_EQ(port.Write(reinterpret_cast<const uint8_t*>("x"), 1, &n, 0), COlfe_SComm::kErrNoHandle);
    EXPECT_EQ(n, 0u);
}
