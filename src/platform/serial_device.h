// A serial device as the port class needs it: open/close, line settings,
// queue flushes and counts, non-blocking reads and writes, DTR/RTS and the
// modem status lines, and waits that a break signal ends.
//
// Port numbers: port n opens the path in the environment variable ECR_COM<n>
// when it is set (e.g. ECR_COM1=/dev/ttyUSB0), else the system's own name
// of it: /dev/ttyS<n-1>, on Windows \\.\COM<n>.
//
// The real implementation works on a tty through termios (on Windows through
// the communications API); tests install a
// factory that makes in-memory devices (SetSerialDeviceFactory).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/break_signal.h"

namespace orv::platform {

// Line settings, the fields of a device control block.
struct SerialLineSettings {
    int baud = 9600;
    int dataBits = 8;          // 5..8
    char parity = 'N';         // N, O, E, M (mark), S (space)
    int stopBits = 1;          // 1, 2, or 3 for 1.5
    // Flow control and line control.
    bool ctsOutFlow = false;   // output waits for CTS
    bool dsrOutFlow = false;   // output waits for DSR (not available on Linux; recorded only)
    int rtsControl = 1;        // 0 disable, 1 enable, 2 handshake
    int dtrControl = 1;        // 0 disable, 1 enable, 2 handshake
    bool xonOut = false;       // output obeys XON/XOFF
    bool xonIn = false;        // input sends XON/XOFF
    bool operator==(const SerialLineSettings&) const = default;
};

// One character's time on the line in microseconds (start bit, data,
// parity, stop); 0 without a speed.
int64_t CharMicros(const SerialLineSettings& s);
// The slice of a wait for a change of the modem lines or the output queue,
// which raise no event of their own: at most cap (and timeoutMs when not
// -1), and while pending bytes wait to go out no longer than they take on
// the line (at least 1 ms), so a fast line is not slowed to the slice's pace.
int ChangeSlice(int timeoutMs, int cap, int pending, int64_t charMicros);

// Modem status bits (the values the port service reports).
enum : int { kModemCts = 0x10, kModemDsr = 0x20, kModemRing = 0x40, kModemRlsd = 0x80 };

// What Wait() waits for.
enum class SerialWaitFor {
    Input,    // bytes to read
    Room,     // room to write
    Change    // a possible change of the modem lines or of the output queue
};

class SerialDevice {
public:
    virtual ~SerialDevice() = default;

    // 0, or an errno value: ENOENT (no such device), EWOULDBLOCK (held by
    // another open), EACCES, ENOTTY (not a terminal) ...
    virtual int Open(const std::string& path) = 0;
    virtual void Close() = 0;                       // never blocks on undrained output
    virtual bool IsOpen() const = 0;

    virtual int Configure(const SerialLineSettings& settings) = 0;   // 0 or errno
    virtual int FlushInput() = 0;                                    // 0 or errno
    virtual int FlushOutput() = 0;                                   // 0 or errno
    virtual int InputPending() = 0;     // bytes in the receive queue, or -errno
    virtual int OutputPending() = 0;    // bytes in the transmit queue, or -errno

    // Non-blocking: the count moved (0 when nothing / no room), or -errno.
    // A lost device gives -EIO (or another -errno).
    virtual long Write(const uint8_t* data, size_t size) = 0;
    virtual long Read(uint8_t* data, size_t size) = 0;

    // 0 or errno. A device without modem lines accepts the call without effect.
    virtual int SetDtr(bool on) = 0;
    virtual int SetRts(bool on) = 0;
    // 0 and the kModem* bits, or errno (ENOTTY: the device has no modem lines).
    virtual int GetModemBits(int* bits) = 0;

    // Waits for `what` until timeoutMs passes (-1 without limit) or the break
    // is set. Returns kWaitReady, kWaitTimeout, kWaitBroken or kWaitLost.
    // For Change a device that cannot signal changes returns kWaitReady after
    // a short slice (10 ms) so that the caller looks again.
    virtual int Wait(SerialWaitFor what, const BreakSignal* brk, int timeoutMs) = 0;

    virtual int fd() const = 0;   // pollable descriptor, -1 when closed
};

using SerialDeviceFactory = std::function<std::unique_ptr<SerialDevice>()>;

// Test seam: devices come from this factory from now on; an empty factory
// restores the system's devices. Not reachable from the exports.
void SetSerialDeviceFactory(SerialDeviceFactory factory);
std::unique_ptr<SerialDevice> CreateSerialDevice();
// The system's own device (termios here, the communications API on Windows).
std::unique_ptr<SerialDevice> CreateSystemSerialDevice();
std::unique_ptr<SerialDevice> CreateTermiosDevice();   // POSIX systems only

// The device path of port n (see above), and the system's own name of it.
std::string SerialPortPath(int port);
std::string SystemSerialPortPath(int port);

}  // namespace orv::platform
