#include "comm/olfe_scomm.h"

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "util/cp1250.h"

using orv::platform::kWaitBroken;
using orv::platform::kWaitLost;
using orv::platform::kWaitReady;
using orv::platform::kWaitTimeout;
using orv::platform::MessageKind;
using orv::platform::SerialWaitFor;
using orv::platform::ShowPlatformMessage;

uint32_t COlfe_SComm::OpenErrorNumber(int err) {
    switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case EIO:       // a device node without its hardware (e.g. /dev/ttyS1 on a PC with one port)
    case ENOTDIR:
    case EISDIR:    // a directory is no port
    case ENOTTY: return COlfe_SComm::kErrFileNotFound;
    case EWOULDBLOCK:
    case EBUSY:
    case EACCES:
    case EPERM: return COlfe_SComm::kErrAccessDenied;
    default: return COlfe_SComm::kErrGeneral;
    }
}

namespace {

bool LostError(long result) {
    return result == -EIO || result == -ENXIO || result == -ENODEV || result == -EPIPE || result == -EBADF;
}

// Rates the port class passes to the device unchanged; others count as bad.
bool KnownBaud(int baud) {
    static const int kRates[] = {110, 300, 600, 1200, 2400, 4800, 9600, 14400,
                                 19200, 38400, 56000, 57600, 115200, 128000, 256000};
    for (int r : kRates)
        if (r == baud) return true;
    return false;
}

char ParityLetter(int code) {
    static const char kLetters[] = {'N', 'O', 'E', 'M', 'S'};
    return (code >= 0 && code <= 4) ? kLetters[code] : 'N';
}

}  // namespace

COlfe_SComm::COlfe_SComm() = default;

COlfe_SComm::~COlfe_SComm() {
    if (m_device) m_device->Close();
}

int COlfe_SComm::SetNotifyWindow(EcrWindow window, uint32_t message) {
    m_notifier.SetWindow(window, message);
    m_abort.Clear();
    return 1;
}

int COlfe_SComm::AskOperator(MessageKind kind, const std::string& text, int defaultAnswer) {
    if (kind == MessageKind::Notice) return ShowPlatformMessage(kind, text, defaultAnswer);
    if (m_abort.IsSet()) return -7;
    struct Pending {
        orv::platform::BreakSignal done;   // set by the helper when the hook answered
        std::atomic<int> answer{0};
    };
    auto pending = std::make_shared<Pending>();
    try {
        std::thread([pending, kind, text, defaultAnswer] {
            pending->answer.store(ShowPlatformMessage(kind, text, defaultAnswer));
            pending->done.Set();
        }).detach();
    } catch (...) {
        return ShowPlatformMessage(kind, text, defaultAnswer);   // no thread: ask here
    }
    for (;;) {
        int r = orv::platform::WaitForSignal(pending->done, &m_abort, -1);
        if (pending->done.IsSet()) return pending->answer.load();
        if (r == kWaitBroken) return -7;
    }
}

// ---- properties ----

void COlfe_SComm::SetCommPort(int port) {
    if (m_open || port < 1 || port > 255) {
        m_paramError = -1;
        return;
    }
    m_commPort = port;
}

void COlfe_SComm::SetSettings(const std::string& text) {
    int baud = 0, bits = 0, stop = 0;
    char parity = 0;
    if (std::sscanf(text.c_str(), "%d,%c,%d,%d", &baud, &parity, &bits, &stop) != 4) {
        m_paramError = -1;
        return;
    }
    m_baud = baud;
    m_parity = parity;
    m_bits = bits;
    m_stop = stop;
}

std::string COlfe_SComm::GetSettings() const {
    char text[64];
    std::snprintf(text, sizeof text, "%d,%c,%d,%d", m_baud, m_parity, m_bits, m_stop);
    return text;
}

int COlfe_SComm::GetCommID() const { return m_device ? m_device->fd() : -1; }

void COlfe_SComm::MarkLostIf(long result) {
    if (LostError(result)) {
        m_lost = true;
        m_lastError = kErrDeviceLost;
    }
}

void COlfe_SComm::SetInBufferCount(int n) {
    if (n != 0) return;
    if (m_device) {
        int e = m_device->FlushInput();
        MarkLostIf(-e);
    }
    m_received.RemoveAll();
    m_inBufferCount = 0;
}

int COlfe_SComm::GetInBufferCount() {
    if (m_device && !m_lost) {
        // Whatever the line holds, in pieces of the input queue's size.
        uint8_t buf[4096];
        const size_t want = m_inBufferSize > 0 && static_cast<size_t>(m_inBufferSize) < sizeof buf
                                ? static_cast<size_t>(m_inBufferSize)
                                : sizeof buf;
        uint32_t got = 0;
        if (Read(buf, static_cast<uint32_t>(want), &got, 0) == kErrNone && got > 0) m_received.Append(buf, got);
    }
    m_inBufferCount = static_cast<uint16_t>(m_received.GetLength() > 0xFFFF ? 0xFFFF : m_received.GetLength());
    return m_received.GetLength();
}

void COlfe_SComm::SetOutBufferCount(int n) {
    if (n != 0) return;
    if (m_device) {
        int e = m_device->FlushOutput();
        MarkLostIf(-e);
    }
    m_toWrite = m_written = 0;
    m_writeTimeout = -1;
}

int COlfe_SComm::GetOutBufferCount() {
    if (!m_device) return 0;
    int n = m_device->OutputPending();
    if (n < 0) {
        MarkLostIf(n);
        return 0;
    }
    return n;
}

CChrArr COlfe_SComm::TakeReceived(int n) {
    if (n < 0 || n >= m_received.GetLength()) {
        CChrArr all;
        std::swap(all, m_received);
        return all;
    }
    CChrArr part = m_received.Left(n);
    m_received.RemoveAt(0, n);
    return part;
}

CChrArr COlfe_SComm::GetInput() {
    GetInBufferCount();
    if (m_inputLen == 0) return TakeReceived(-1);
    if (m_inputLen > m_received.GetLength()) return CChrArr();
    return TakeReceived(m_inputLen);
}

void COlfe_SComm::SetOutput(const CChrArr& bytes) {
    uint32_t written = 0;
    Write(bytes.data(), static_cast<uint32_t>(bytes.GetLength()), &written, -1);
}

int COlfe_SComm::ReadModemBits(int* bits) {
    *bits = 0;
    if (!m_device) return EBADF;
    int e = m_device->GetModemBits(bits);
    MarkLostIf(-e);
    return e;
}

bool COlfe_SComm::ModemLine(int bit) {
    int bits = 0;
    return ReadModemBits(&bits) == 0 && (bits & bit) != 0;
}

bool COlfe_SComm::GetCTSHolding() { return ModemLine(orv::platform::kModemCts); }
bool COlfe_SComm::GetCDHolding() { return ModemLine(orv::platform::kModemRlsd); }
bool COlfe_SComm::GetDSRHolding() { return ModemLine(orv::platform::kModemDsr); }
bool COlfe_SComm::GetRingHolding() { return ModemLine(orv::platform::kModemRing); }

void COlfe_SComm::SetDTREnable(bool on) {
    m_dcb.dtrControl = on ? (m_dtrMode == 2 ? 2 : m_dtrMode == 1 ? 1 : 0) : 0;
    if (!m_device) return;
    int e = m_device->SetDtr(m_dcb.dtrControl != 0);
    MarkLostIf(-e);
}

void COlfe_SComm::SetRTSEnable(bool on) {
    const bool wasHandshake = m_dcb.rtsControl == 2;
    m_dcb.rtsControl = on ? (m_rtsMode == 2 ? 2 : m_rtsMode == 1 ? 1 : 0) : 0;
    if (!m_device) return;
    // RTS handshake is hardware flow control on this platform.
    if (wasHandshake != (m_dcb.rtsControl == 2)) ApplySettings();
    int e = m_device->SetRts(m_dcb.rtsControl != 0);
    MarkLostIf(-e);
}

void COlfe_SComm::SetPortOpen(bool open) {
    if (!open) {
        if (m_device) m_device->Close();
        m_device.reset();
        m_open = false;
        return;
    }
    m_paramError = 0;
    m_toWrite = m_written = 0;
    m_writeTimeout = -1;
    m_received.RemoveAll();
    m_inputLen = 0;
    m_lastError = 0;
    if (m_open) {
        m_lastError = kErrAlreadyOpen;
        ShowPlatformMessage(MessageKind::Notice, "m_lLastError = ERROR_ALREADY_INITIALIZED");
        return;
    }
    if (m_commPort < 1 || m_commPort > 255) {
        m_paramError = -1;
        ShowPlatformMessage(MessageKind::Notice, " m_nSio_Error = TE_PARAM");
        return;
    }
    m_device = orv::platform::CreateSerialDevice();
    if (int e = m_device->Open(orv::platform::SerialPortPath(m_commPort)); e != 0) {
        m_device.reset();
        m_lastError = COlfe_SComm::OpenErrorNumber(e);
        ShowPlatformMessage(MessageKind::Notice, "CSerial::Open - Unable to open port");
        return;
    }
    m_lost = false;
    m_dcb = orv::platform::SerialLineSettings{};
    SetEventMask(0xC1);
    SetupReadTimeouts(0);

    const int baud = KnownBaud(m_baud) ? m_baud : -1;
    int parity = -1;
    switch (m_parity) {
    case 'E': parity = 2; break;
    case 'M': parity = 3; break;
    case 'N': parity = 0; break;
    case 'O': parity = 1; break;
    case 'S': parity = 4; break;
    default: break;
    }
    const int bits = (m_bits >= 5 && m_bits <= 8) ? m_bits : -1;
    const int stop = m_stop == 1 ? 0 : m_stop == 2 ? 2 : m_stop == 3 ? 1 : -1;
    uint32_t e = Setup(baud, bits, parity, stop);
    if (e != kErrNone && e != kErrBadParameter) {
        // The device refused even its line settings.
        m_device->Close();
        m_device.reset();
        m_lastError = e;
        ShowPlatformMessage(MessageKind::Notice, "CSerial::Open - Unable to setup the COM-port");
        return;
    }
    m_handshaking = DeriveHandshaking(m_xonOption, m_rtsMode, m_ctsOption);
    SetupHandshaking((m_handshaking == 1 || m_handshaking == 3) ? 2 : m_handshaking == 2 ? 1 : 0);
    m_open = true;
}

int COlfe_SComm::DeriveHandshaking(int xonXoff, int rtsMode, int ctsWait) {
    const bool rtsHandshake = rtsMode == 2;
    if (xonXoff != 1) return rtsHandshake ? 2 : 0;
    if (rtsHandshake) return 3;
    return ctsWait == 1 ? 3 : 1;
}

// ---- operations ----

uint32_t COlfe_SComm::SetEventMask(uint32_t mask) {
    if (!m_device) return m_lastError = kErrNoHandle;
    m_eventMask = mask;
    return kErrNone;
}

uint32_t COlfe_SComm::SetupReadTimeouts(int mode) {
    if (!m_device) return m_lastError = kErrNoHandle;
    if (mode != 0 && mode != 1) return kErrInvalidArg;
    m_readMode = mode;   // reads never wait here either way: the device is non-blocking
    return kErrNone;
}

uint32_t COlfe_SComm::ApplySettings() {
    int e = m_device->Configure(m_dcb);
    if (e == 0) return kErrNone;
    MarkLostIf(-e);
    return m_lost ? kErrDeviceLost : kErrGeneral;
}

uint32_t COlfe_SComm::Setup(int baud, int bits, int parityCode, int stopCode) {
    if (!m_device) return m_lastError = kErrNoHandle;
    uint32_t result = kErrNone;
    if (baud <= 0 || bits < 5 || bits > 8 || parityCode < 0 || parityCode > 4 || stopCode < 0 || stopCode > 2) {
        // The settings cannot be set: the line runs at 9600 8N1.
        ShowPlatformMessage(MessageKind::Notice,
                            PL("Niewłaściwe ustawienia portu szeregowego - port pracuje z ustawieniami 9600,N,8,1"));
        baud = 9600;
        bits = 8;
        parityCode = 0;
        stopCode = 0;
        result = kErrBadParameter;
    }
    m_dcb.baud = baud;
    m_dcb.dataBits = bits;
    m_dcb.parity = ParityLetter(parityCode);
    m_dcb.stopBits = stopCode == 0 ? 1 : stopCode == 2 ? 2 : 3;
    if (uint32_t e = ApplySettings(); e != kErrNone) result = e;
    m_lastError = result;
    return result;
}

uint32_t COlfe_SComm::SetupHandshaking(int mode) {
    if (!m_device) return m_lastError = kErrNoHandle;
    auto& d = m_dcb;
    switch (mode) {
    case 0:
        d.rtsControl = 0;
        d.dtrControl = 0;
        d.xonOut = d.xonIn = false;
        d.ctsOutFlow = d.dsrOutFlow = false;
        break;
    case 1:
        d.rtsControl = 2;
        d.dtrControl = 2;
        d.ctsOutFlow = d.dsrOutFlow = true;
        d.xonOut = d.xonIn = false;
        break;
    case 2:
        d.xonOut = d.xonIn = true;
        d.rtsControl = 0;
        d.dtrControl = 0;
        d.ctsOutFlow = d.dsrOutFlow = false;
        break;
    default: return kErrInvalidArg;
    }
    if ((m_ctsOption == 1 || m_rtsMode == 2) && m_xonOption == 0) {
        d.rtsControl = 2;
        d.dtrControl = 2;
        d.ctsOutFlow = true;
        d.dsrOutFlow = false;
        d.xonOut = d.xonIn = false;
        if (m_ctsOption == 1 && m_rtsMode != 2) {
            // Only the output waits for CTS.
            d.rtsControl = 0;
            d.dtrControl = 0;
        }
    }
    return m_lastError = ApplySettings();
}

uint32_t COlfe_SComm::Write(const uint8_t* data, uint32_t count, uint32_t* written, int timeoutMs) {
    *written = 0;
    if (!m_device) return m_lastError = kErrNoHandle;
    m_toWrite = count;
    m_written = 0;
    m_writeTimeout = timeoutMs;
    const int64_t end = timeoutMs < 0 ? -1 : orv::platform::MonotonicMillis() + timeoutMs;
    uint32_t result = kErrNone;
    uint32_t done = 0;
    while (done < count) {
        long n = m_device->Write(data + done, count - done);
        if (n < 0) {
            MarkLostIf(n);
            result = m_lost ? kErrDeviceLost : kErrWriteFault;
            break;
        }
        if (n > 0) {
            done += static_cast<uint32_t>(n);
            continue;
        }
        int left = -1;
        if (end >= 0) {
            int64_t l = end - orv::platform::MonotonicMillis();
            if (l <= 0) {
                result = kErrTimeout;
                break;
            }
            left = static_cast<int>(l);
        }
        int r = WaitDevice(SerialWaitFor::Room, left);
        if (r == kWaitBroken) {
            result = kErrAborted;
            break;
        }
        if (r == kWaitLost) {
            result = kErrDeviceLost;
            break;
        }
    }
    *written = done;
    m_written = done;
    m_lastError = result;
    return result;
}

uint32_t COlfe_SComm::Read(uint8_t* data, uint32_t count, uint32_t* read, int /*timeoutMs*/) {
    *read = 0;
    if (!m_device) return m_lastError = kErrNoHandle;
    long n = m_device->Read(data, count);
    if (n < 0) {
        MarkLostIf(n);
        return m_lastError = m_lost ? kErrDeviceLost : kErrGeneral;
    }
    *read = static_cast<uint32_t>(n);
    return kErrNone;
}

int COlfe_SComm::WaitDevice(SerialWaitFor what, int timeoutMs) {
    if (!m_device || m_lost) return kWaitLost;
    int r = m_device->Wait(what, &m_abort, timeoutMs);
    if (r == kWaitLost) {
        m_lost = true;
        m_lastError = kErrDeviceLost;
    }
    return r;
}
