// Opening, probing, closing and the error table of the serial service.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>

#include "sim/pty_pair.h"
#include "fakes/fake_serial_device.h"
#include "serial_fixture.h"
#include "util/cp1250.h"

using namespace serial_test;
using orv::test::FakeSerialLine;
using orv::test::PtyPair;

namespace {

int OpenDefault(CTelepathy& port, int n) { return port.Open(n, 1024, 1024, 9600, 8, 'N', 1); }

}  // namespace

TEST_F(SerialTest, OpenRefusesBadMissingAndBusyPorts) {
    PtyPair pty(2);
    setenv("ECR_COM5", "/nonexistent/ttyX", 1);
    setenv("ECR_COM6", "/dev/null", 1);   // not a serial device
    // A node whose device cannot be reached opens with EIO (like /dev/ttyS1
    // without its hardware): a pseudo-terminal slave that is still locked.
    const int locked = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(locked, 0);
    ASSERT_EQ(grantpt(locked), 0);
    char lockedName[128];
    ASSERT_EQ(ptsname_r(locked, lockedName, sizeof lockedName), 0);
    setenv("ECR_COM7", lockedName, 1);
    setenv("ECR_COM8", "/tmp", 1);        // a directory
    CTelepathy port;
    struct Case { int port; int expect; };
    for (const Case& c : {Case{17, -1}, Case{0, -1}, Case{-3, -1}, Case{5, -2}, Case{6, -2}, Case{7, -2},
                         Case{8, -2}}) {
        EXPECT_EQ(OpenDefault(port, c.port), c.expect) << "port " << c.port;
        EXPECT_EQ(port.GetError(), c.expect);
        EXPECT_EQ(CTelepathy::GetProbeError(), c.expect);
        EXPECT_FALSE(port.GetPortOpen());
    }
    unsetenv("ECR_COM5");
    unsetenv("ECR_COM6");
    unsetenv("ECR_COM7");
    unsetenv("ECR_COM8");
    close(locked);

    ASSERT_EQ(OpenDefault(port, 2), 0);
    // Same port again, and any other number while a port is open.
    EXPECT_EQ(OpenDefault(port, 2), -4);
    PtyPair other(3);
    EXPECT_EQ(OpenDefault(port, 3), -4);
    EXPECT_TRUE(port.GetPortOpen());
    EXPECT_EQ(port.Close(2, 0), 0);
    EXPECT_FALSE(port.GetPortOpen());
}

TEST_F(SerialTest, PortHeldByAnotherOpenGivesMinus4) {
    PtyPair pty(4);
    int fd = open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    CTelepathy port;
    EXPECT_FALSE(port.ProbePort(4));
    EXPECT_EQ(CTelepathy::GetProbeError(), -4);
    EXPECT_EQ(OpenDefault(port, 4), -4);
    close(fd);
    EXPECT_TRUE(port.ProbePort(4));
    EXPECT_EQ(OpenDefault(port, 4), 0);
    // While we hold it, nobody else gets it: not another service object either.
    CTelepathy second;
    EXPECT_EQ(OpenDefault(second, 4), -4);
}

TEST_F(SerialTest, PortPathComesFromEnvironmentElseTtyS) {
    unsetenv("ECR_COM12");
    EXPECT_EQ(orv::platform::SerialPortPath(12), "/dev/ttyS11");
    EXPECT_EQ(orv::platform::SerialPortPath(1), "/dev/ttyS0");
    setenv("ECR_COM12", "/dev/ttyUSB0", 1);
    EXPECT_EQ(orv::platform::SerialPortPath(12), "/dev/ttyUSB0");
    unsetenv("ECR_COM12");
}

TEST_F(SerialTest, OperationsOnAClosedPortGiveMinus3AndBadNumbersMinus1) {
    CTelepathy port;
    const CChrArr data = Bytes("x");
    struct Op { const char* name; std::function<void(int)> call; };
    const std::vector<Op> ops = {
        {"Read", [&](int p) { EXPECT_TRUE(port.Read(p, 1, 0).IsEmpty()); }},
        {"ReadUntil", [&](int p) { EXPECT_TRUE(port.ReadUntil(p, '\r', 10, -1).IsEmpty()); }},
        {"Write", [&](int p) { EXPECT_EQ(port.Write(p, data, 0), 0); }},
        {"WaitOutputDrained", [&](int p) { port.WaitOutputDrained(p, -1); }},
        {"GetInputCount", [&](int p) { EXPECT_EQ(port.GetInputCount(p), 0); }},
        {"GetOutputCount", [&](int p) { EXPECT_EQ(port.GetOutputCount(p), 0); }},
        {"FindInInput", [&](int p) { EXPECT_EQ(port.FindInInput(p, 'x'), 0); }},
        {"GetModemStatus", [&](int p) { EXPECT_EQ(port.GetModemStatus(p), 0); }},
        {"FlushInput", [&](int p) { port.FlushInput(p); }},
        {"FlushOutput", [&](int p) { port.FlushOutput(p); }},
        {"SetCtsWait", [&](int p) { EXPECT_EQ(port.SetCtsWait(p, 1), 0); }},
        {"SetDtrMode", [&](int p) { EXPECT_EQ(port.SetDtrMode(p, 0), 1); }},
        {"Reopen", [&](int p) { port.Reopen(p); }},
        // A closed port: the reopen's -3 comes back, never a rate; a bad number gives 0.
        {"SetBaud", [&](int p) { EXPECT_EQ(port.SetBaud(p, 19200), p == 1 ? -3 : 0); }},
    };
    for (const Op& op : ops) {
        // ReadUntil must not wait without limit on a closed port.
        int64_t ms = ElapsedMs([&] { op.call(1); });
        EXPECT_EQ(port.GetError(1), -3) << op.name;
        EXPECT_LT(ms, 100) << op.name;
        op.call(17);
        EXPECT_EQ(port.GetError(17), -1) << op.name << " on port 17";
    }
    EXPECT_FALSE(port.GetCts(1));
    EXPECT_EQ(port.GetError(), -3);
    EXPECT_EQ(port.Close(1, 0), -3);
}

TEST_F(SerialTest, OpenResetsLineOptionsRaisesLinesAndClearsTheBreak) {
    auto line = FakeSerialLine::Create();
    CTelepathy port;
    ASSERT_EQ(OpenDefault(port, 1), 0);
    port.SetCtsWait(1, 1);
    port.SetXonXoff(1, 1);
    port.SetLineOption2(1, 7);
    port.SetDtrMode(1, 0);
    port.SetRtsMode(1, 2);
    ASSERT_EQ(port.Close(1, 0), 0);
    port.Break();
    line->ClearRecords();

    ASSERT_EQ(port.Open(1, 1024, 1024, 19200, 7, 'E', 2), 0);
    const auto o = port.GetLineOptions();
    EXPECT_EQ(o.ctsWait, 0);
    EXPECT_EQ(o.option2, 0);
    EXPECT_EQ(o.option3, 0);
    EXPECT_EQ(o.dtrMode, 1);
    EXPECT_EQ(o.rtsMode, 1);
    EXPECT_EQ(o.xonXoff, 0);
    EXPECT_FALSE(port.IsAborted());
    EXPECT_TRUE(line->Dtr());
    EXPECT_TRUE(line->Rts());
    const auto s = line->Settings();
    EXPECT_EQ(s.baud, 19200);
    EXPECT_EQ(s.dataBits, 7);
    EXPECT_EQ(s.parity, 'E');
    EXPECT_EQ(s.stopBits, 2);
    EXPECT_FALSE(s.ctsOutFlow);
    EXPECT_FALSE(s.xonOut);
    EXPECT_EQ(port.GetSettings(), "19200,E,7,2");
}

TEST_F(SerialTest, CloseDrainsFirstAndClosesEvenOnTimeout) {
    auto line = FakeSerialLine::Create();
    CTelepathy port;
    ASSERT_EQ(OpenDefault(port, 1), 0);
    line->SetAutoDrain(false);
    EXPECT_EQ(port.Write(1, Bytes("abc"), 0), 3);   // the drain after the chunk times out at once
    EXPECT_EQ(port.GetError(1), -5);
    EXPECT_EQ(port.Close(1, 1), -5);
    EXPECT_FALSE(port.GetPortOpen());
    EXPECT_FALSE(line->IsOpen());
    EXPECT_EQ(line->OutputQueued(), 0u);   // closing never waits for it
    EXPECT_EQ(port.GetError(1), -5);
}

TEST_F(SerialTest, ErrorTextsAreThePolishTable) {
    struct Case { int code; const char* text; };
    const Case cases[] = {
        {0, PL("Bez błędu")},
        {-1, PL("Błąd obsługi portu szeregowego: niewłaściwy parametr")},
        {-2, PL("Port szeregowy o danym numerze nie istnieje")},
        {-3, PL("Port szeregowy nie został aktywowany")},
        {-4, PL("Port szeregowy o danym numerze jest już w użyciu")},
        {-5, PL("Błąd obsługi portu szeregowego: czas oczekiwania upłynął")},
        {-6, PL("Błąd obsługi portu szeregowego: utrata połączenia")},
        {-7, PL("Transmisja przerwana przez użytkownika")},
        {-8, PL("Błąd obsługi portu szeregowego: przepełnienie bufora wejściowego")},
        {-9, PL("Błąd obsługi portu szeregowego: transmisja została przerwana")},
        {-10, PL("Błąd obsługi portu szeregowego: brak zasobów")},
        {-11, PL("Nieokreślony błąd #")},
        {5, PL("Nieokreślony błąd #")},
    };
    CTelepathy port;
    for (const Case& c : cases) {
        EXPECT_EQ(SerialErrorText(c.code), c.text) << c.code;
        EXPECT_EQ(port.GetErrorText(c.code), c.text) << c.code;
    }
    // CP1250 bytes, not UTF-8: "ł" is 0xB3.
    EXPECT_NE(SerialErrorText(-1).find('\xB3'), std::string::npos);
}

TEST_F(SerialTest, ReopenKeepsSettingsAndDropsPendingInput) {
    auto line = FakeSerialLine::Create();
    CTelepathy port;
    ASSERT_EQ(port.Open(1, 1024, 1024, 4800, 8, 'O', 1), 0);
    line->Inject({'a', 'b'});
    ASSERT_EQ(port.GetInputCount(1), 2);
    EXPECT_EQ(port.Reopen(1), 0);
    EXPECT_EQ(line->OpenCount(), 4);   // probe and open, then probe and open again
    EXPECT_EQ(line->Settings().baud, 4800);
    EXPECT_EQ(line->Settings().parity, 'O');
    EXPECT_EQ(port.GetInputCount(1), 0);
}
