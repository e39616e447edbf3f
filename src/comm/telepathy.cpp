// CTelepathy: the serial service keyed by port number.
//
// There is one port object: the number is used for the range check only and
// every operation acts on the port that is open. Waits block in poll() on
// the device and on the abort flag with a whole-second deadline on the
// monotonic clock, so a break ends any wait with -7 at once and a device that
// disappears ends it with -6.
#include "comm/telepathy.h"

#include <atomic>
#include <climits>
#include <cstdio>
#include <new>
#include <thread>

#include "comm/quiet_line.h"
#include "platform/clock.h"
#include "platform/message_hook.h"
#include "util/cp1250.h"

using orv::platform::kWaitBroken;
using orv::platform::kWaitLost;
using orv::platform::SecondDeadline;
using orv::platform::SerialWaitFor;

namespace {

std::atomic<int> g_probeError{0};

bool InRange(int port) { return port >= 1 && port <= 16; }

// Rates SetBaud accepts.
bool ServiceBaud(int baud) {
    static const int kRates[] = {75, 110, 150, 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    for (int r : kRates)
        if (r == baud) return true;
    return false;
}

}  // namespace

std::string SerialErrorText(int code) {
    switch (code) {
    case 0: return PL("Bez błędu");
    case -1: return PL("Błąd obsługi portu szeregowego: niewłaściwy parametr");
    case -2: return PL("Port szeregowy o danym numerze nie istnieje");
    case -3: return PL("Port szeregowy nie został aktywowany");
    case -4: return PL("Port szeregowy o danym numerze jest już w użyciu");
    case -5: return PL("Błąd obsługi portu szeregowego: czas oczekiwania upłynął");
    case -6: return PL("Błąd obsługi portu szeregowego: utrata połączenia");
    case -7: return PL("Transmisja przerwana przez użytkownika");
    case -8: return PL("Błąd obsługi portu szeregowego: przepełnienie bufora wejściowego");
    case -9: return PL("Błąd obsługi portu szeregowego: transmisja została przerwana");
    case -10: return PL("Błąd obsługi portu szeregowego: brak zasobów");
    default: return PL("Nieokreślony błąd #");
    }
}

CTelepathy::CTelepathy() { m_unsettled.fill(false); }

CTelepathy::~CTelepathy() { SetPortOpen(false); }

// ---- helpers ----

bool CTelepathy::PortUsable(int port) {
    if (!InRange(port)) {
        m_error = -1;
        return false;
    }
    if (!m_open) {
        m_error = -3;
        return false;
    }
    return true;
}

int CTelepathy::LostOrError(int fallback) { return m_lost ? -6 : fallback; }

int CTelepathy::MapPortError(uint32_t code) {
    switch (code) {
    case kErrNone: return 0;
    case kErrAborted: return -7;
    case kErrDeviceLost: return -6;
    case kErrTimeout: return -5;
    case kErrNoHandle: return -3;
    default: return -9;
    }
}

void CTelepathy::CopyOptionsToPort() {
    m_ctsOption = m_options.ctsWait;
    m_option2 = m_options.option2;
    m_option3 = m_options.option3;
    m_dtrMode = m_options.dtrMode;
    m_rtsMode = m_options.rtsMode;
    m_xonOption = m_options.xonXoff;
}

CChrArr CTelepathy::TakeAll() {
    GetInBufferCount();
    CChrArr all;
    std::swap(all, m_buffer);
    all += TakeReceived(-1);
    return all;
}

// ---- open and close ----

bool CTelepathy::ProbePort(int port) {
    int code = 0;
    if (!InRange(port)) {
        code = -1;
    } else {
        auto device = orv::platform::CreateSerialDevice();
        int e = device->Open(orv::platform::SerialPortPath(port));
        if (e != 0)
            code = OpenErrorNumber(e) == kErrFileNotFound ? -2 : -4;
        else
            device->Close();
    }
    g_probeError.store(code);
    return code == 0;
}

int CTelepathy::GetProbeError() { return g_probeError.load(); }

int CTelepathy::Open(int port, int inSize, int outSize, int baud, int bits, char parity, int stop) {
    m_error = 0;
    try {
        if (!ProbePort(port)) return m_error = GetProbeError();
        if (m_open) return m_error = -4;
        m_abort.Clear();
        m_buffer.RemoveAll();
        if (inSize > 0 && inSize <= 0xFFFF && inSize != 1024) SetInBufferSize(inSize);
        if (outSize > 0 && outSize <= 0xFFFF && outSize != 1024) SetOutBufferSize(outSize);
        m_inSize = inSize;
        m_outSize = outSize;
        m_openBaud = baud;
        m_openBits = bits;
        m_openParity = parity;
        m_openStop = stop;
        char text[64];
        std::snprintf(text, sizeof text, "%d,%c,%d,%d", baud, parity, bits, stop);
        SetSettings(text);
        m_options = LineOptions{};
        CopyOptionsToPort();
        m_handshaking = 0;
        m_openPort = port;
        SetCommPort(port);
        SetPortOpen(true);
        if (!m_open) {
            // The device went away or refused between the probe and the open.
            m_error = m_lastError == kErrFileNotFound ? -2 : -4;
            return m_error;
        }
        SetDTREnable(true);
        SetRTSEnable(true);
        return m_error;
    } catch (...) {
        return m_error = -4;
    }
}

int CTelepathy::Close(int port, int t) {
    m_error = 0;
    if (!InRange(port)) return m_error = -1;
    int r = WaitOutputDrained(port, t);
    if (r != -3) SetPortOpen(false);
    return m_error;
}

int CTelepathy::Reopen(int port) {
    m_error = 0;
    if (!PortUsable(port)) return m_error;
    try {
        Close(port, 0);   // a drain time-out stays in the error
        if (!ProbePort(port)) return m_error = GetProbeError();
        if (m_open) {
            m_error = -4;
            orv::platform::ShowPlatformMessage(orv::platform::MessageKind::Notice, "reopen - TE_CONFL");
            return m_error;
        }
        m_buffer.RemoveAll();
        char text[64];
        std::snprintf(text, sizeof text, "%d,%c,%d,%d", m_openBaud, m_openParity, m_openBits, m_openStop);
        SetSettings(text);
        CopyOptionsToPort();
        m_handshaking = DeriveHandshaking(m_options.xonXoff, m_options.rtsMode, m_options.ctsWait);
        SetCommPort(m_openPort);
        SetPortOpen(true);
        if (!m_open) return m_error = m_lastError == kErrFileNotFound ? -2 : -4;
        SetDTREnable(m_options.dtrMode == 1 || m_options.dtrMode == 2);
        SetRTSEnable(m_options.rtsMode == 1 || m_options.rtsMode == 2);
        return m_error;
    } catch (...) {
        return m_error = -4;
    }
}

// ---- line options ----

int CTelepathy::SetBaud(int port, int baud) {
    m_error = 0;
    if (!InRange(port)) {
        m_error = -1;
        return 0;
    }
    if (baud == 0) return m_openBaud;
    if (!ServiceBaud(baud)) {
        m_error = -1;
        return 0;
    }
    if (!PortUsable(port)) return m_error;   // the reopen's error: -3
    const int old = m_openBaud;
    m_openBaud = baud;
    int r = Reopen(port);
    return r != 0 ? r : old;
}

int CTelepathy::SetOption(int port, int LineOptions::*field, int value) {
    m_error = 0;
    const int old = m_options.*field;
    if (!PortUsable(port)) return old;
    if (value != old) {
        m_options.*field = value;
        Reopen(port);
    }
    return old;
}

int CTelepathy::SetCtsWait(int port, int value) { return SetOption(port, &LineOptions::ctsWait, value); }
int CTelepathy::SetLineOption2(int port, int value) { return SetOption(port, &LineOptions::option2, value); }
int CTelepathy::SetLineOption3(int port, int value) { return SetOption(port, &LineOptions::option3, value); }
int CTelepathy::SetXonXoff(int port, int value) { return SetOption(port, &LineOptions::xonXoff, value); }

int CTelepathy::SetLineMode(int port, bool dtr, int mode) {
    m_error = 0;
    int& stored = dtr ? m_options.dtrMode : m_options.rtsMode;
    const int old = stored;
    if (!PortUsable(port)) return old;
    stored = mode;
    const bool on = mode == 1 || mode == 2;
    if (dtr) {
        m_dtrMode = mode;   // the line follows the new mode at once
        SetDTREnable(on);
    } else {
        m_rtsMode = mode;
        SetRTSEnable(on);
    }
    if (mode != old && (mode == 2 || !on)) Reopen(port);
    if (m_error == 0 && m_lost) m_error = -6;
    return old;
}

int CTelepathy::SetDtrMode(int port, int mode) { return SetLineMode(port, true, mode); }
int CTelepathy::SetRtsMode(int port, int mode) { return SetLineMode(port, false, mode); }

// ---- state ----

int CTelepathy::GetError(int /*port*/) {
    if (m_error != 0) return m_error;
    return m_open ? 0 : -3;
}

int CTelepathy::GetInputCount(int port) {
    m_error = 0;
    if (!PortUsable(port)) return 0;
    int held = GetInBufferCount();
    if (m_lost) m_error = -6;
    return m_buffer.GetLength() + held;
}

int CTelepathy::GetOutputCount(int port) {
    m_error = 0;
    if (!PortUsable(port)) return 0;
    int n = GetOutBufferCount();
    if (m_lost) m_error = -6;
    return n;
}

int CTelepathy::FindInInput(int port, uint8_t byte) {
    m_error = 0;
    if (!PortUsable(port)) return 0;
    int pos = m_buffer.Find(byte);
    if (pos < 0) {
        GetInBufferCount();
        m_buffer += TakeReceived(-1);
        pos = m_buffer.Find(byte);
        if (m_lost) m_error = -6;
    }
    return pos + 1;
}

int CTelepathy::GetModemStatus(int port) {
    m_error = 0;
    if (!PortUsable(port)) return 0;
    int bits = 0;
    if (ReadModemBits(&bits) != 0) {
        m_error = LostOrError(-3);
        return 0;
    }
    return bits;
}

bool CTelepathy::GetCts(int port) {
    m_error = 0;
    return PortUsable(port) && GetCTSHolding();
}

bool CTelepathy::GetCd(int port) {
    m_error = 0;
    return PortUsable(port) && GetCDHolding();
}

bool CTelepathy::GetDsr(int port) {
    m_error = 0;
    return PortUsable(port) && GetDSRHolding();
}

bool CTelepathy::GetRing(int port) {
    m_error = 0;
    return PortUsable(port) && GetRingHolding();
}

int CTelepathy::FlushInput(int port) {
    m_error = 0;
    if (!PortUsable(port)) return m_error;
    m_buffer.RemoveAll();
    SetInBufferCount(0);
    return m_error = LostOrError(0);
}

int CTelepathy::FlushOutput(int port) {
    m_error = 0;
    if (!PortUsable(port)) return m_error;
    SetOutBufferCount(0);
    return m_error = LostOrError(0);
}

// ---- the quiet line ----

void CTelepathy::SetQuietLine(double quietSeconds, double limitSeconds) {
    m_quietSeconds = quietSeconds > 0 ? quietSeconds : 0;
    m_quietLimitSeconds = limitSeconds > m_quietSeconds ? limitSeconds : m_quietSeconds;
}

bool CTelepathy::IsUnsettled(int port) const { return InRange(port) && m_unsettled[static_cast<size_t>(port)]; }

void CTelepathy::MarkUnsettled(int port) {
    if (InRange(port)) m_unsettled[static_cast<size_t>(port)] = true;
}

void CTelepathy::NoteExchange(int port, int t, bool gotBytes) {
    if (!InRange(port)) return;
    // A look without waiting (t = 0) that finds nothing gives up no answer.
    // An answer cut at the buffer's end (-8) may still be coming in too.
    if (t != 0 && (m_error == -5 || m_error == -7 || m_error == -8))
        m_unsettled[static_cast<size_t>(port)] = true;
    else if (m_error == 0 && gotBytes && !m_abort.IsSet())
        m_unsettled[static_cast<size_t>(port)] = false;
}

void CTelepathy::SettleLine(int port) {
    if (!m_unsettled[static_cast<size_t>(port)]) return;
    const orv::comm::QuietLine q = orv::comm::WaitForQuietLine(
        m_quietSeconds, m_quietLimitSeconds,
        [this] {
            m_buffer.RemoveAll();
            SetInBufferCount(0);
        },
        [this](int ms) { return WaitDevice(SerialWaitFor::Input, ms); });
    // A break ends the wait at once and the write goes on as it would
    // (a request after a break is the caller's to refuse); the next one
    // waits again.
    if (q == orv::comm::QuietLine::Quiet || q == orv::comm::QuietLine::StillTalking)
        m_unsettled[static_cast<size_t>(port)] = false;
}

// ---- reading ----

CChrArr CTelepathy::Read(int port, int n, int t) {
    CChrArr bytes = ReadBytes(port, n, t);
    NoteExchange(port, t, !bytes.IsEmpty());
    return bytes;
}

CChrArr CTelepathy::ReadUntil(int port, uint8_t term, int maxLen, int t) {
    CChrArr bytes = ReadUpTo(port, term, maxLen, t);
    NoteExchange(port, t, !bytes.IsEmpty());
    return bytes;
}

CChrArr CTelepathy::ReadBytes(int port, int n, int t) {
    m_error = 0;
    if (!InRange(port) || n < 0 || n > GetInBufferSize()) {
        m_error = -1;
        return CChrArr();
    }
    if (!m_open) {
        m_error = -3;
        return CChrArr();
    }
    CChrArr result;
    try {
        int need = n;
        const int buffered = m_buffer.GetLength();
        if (buffered > 0) {
            if (n == 0 || buffered <= n) {
                std::swap(result, m_buffer);
                if (n == buffered) return result;
                need = n == 0 ? 0 : n - buffered;
            } else {
                result = m_buffer.Left(n);
                m_buffer.RemoveAt(0, n);
                return result;
            }
        }
        const SecondDeadline deadline(t);
        for (;;) {
            const int held = GetInBufferCount();
            if (need > 0 && held >= need) {
                if (m_abort.IsSet()) {
                    m_error = -7;
                    return result;
                }
                result += TakeReceived(need);
                return result;
            }
            if (need == 0 && held > 0) {
                if (m_abort.IsSet()) {
                    m_error = -7;
                    return result;
                }
                result += TakeReceived(-1);
            }
            if (need == 0 && !result.IsEmpty()) return result;
            if (m_lost) {
                m_error = -6;
                return result;
            }
            if (t == 0) {
                m_error = -5;
                return result;
            }
            if (m_abort.IsSet()) {
                m_error = -7;
                return result;
            }
            if (deadline.Passed()) {
                m_error = -5;
                return result;
            }
            int r = WaitDevice(SerialWaitFor::Input, deadline.RemainingMillis());
            if (r == kWaitBroken) {
                m_error = -7;
                return result;
            }
            if (r == kWaitLost) {
                m_error = -6;
                return result;
            }
        }
    } catch (const std::bad_alloc&) {
        m_error = -10;
        return result;
    }
}

CChrArr CTelepathy::ReadUpTo(int port, uint8_t term, int maxLen, int t) {
    m_error = 0;
    if (!InRange(port) || maxLen < 1) {
        m_error = -1;
        return CChrArr();
    }
    if (!m_open) {
        m_error = -3;
        return CChrArr();
    }
    if (maxLen > GetInBufferSize()) {
        m_error = -1;
        return CChrArr();
    }
    const SecondDeadline deadline(t);
    for (;;) {
        const int count = GetInputCount(port);
        const int pos = FindInInput(port, term);
        if (count >= maxLen || m_buffer.GetLength() >= maxLen) {
            if (pos > 0 && pos <= maxLen) return Read(port, pos, 0);
            CChrArr all = TakeAll();
            m_error = -8;
            return all;
        }
        if (pos > 0) return Read(port, pos, 0);
        if (m_lost) {
            m_error = -6;
            return CChrArr();
        }
        if (t == 0) {
            m_error = -5;
            return CChrArr();
        }
        if (m_abort.IsSet()) {
            m_error = -7;
            return CChrArr();
        }
        if (deadline.Passed()) {
            m_error = -5;
            return CChrArr();
        }
        int r = WaitDevice(SerialWaitFor::Input, deadline.RemainingMillis());
        if (r == kWaitBroken) {
            m_error = -7;
            return CChrArr();
        }
        if (r == kWaitLost) {
            m_error = -6;
            return CChrArr();
        }
    }
}

// ---- writing ----

int CTelepathy::WaitCts(int t) {
    const SecondDeadline deadline(t);
    for (;;) {
        int bits = 0;
        int e = ReadModemBits(&bits);
        if (m_lost) return -6;
        // A device without modem lines cannot hold CTS back.
        if (e != 0 || (bits & MS_CTS_ON)) return 0;
        if (m_abort.IsSet()) return -7;
        if (deadline.Passed()) return -5;   // t = 0: one look
        int r = WaitDevice(SerialWaitFor::Change, deadline.RemainingMillis());
        if (r == kWaitBroken) return -7;
        if (r == kWaitLost) return -6;
    }
}

int CTelepathy::Write(int port, const CChrArr& bytes, int t) {
    m_error = 0;
    if (!InRange(port) || bytes.IsEmpty()) {
        m_error = -1;
        return 0;
    }
    if (!m_open) {
        m_error = -3;
        return 0;
    }
    SettleLine(port);
    if (WaitOutputDrained(port, t) != 0) {
        NoteExchange(port, t, false);
        return 0;
    }
    const int chunk = GetOutBufferSize() > 0 ? GetOutBufferSize() : 1024;
    const int length = bytes.GetLength();
    int count = 0;
    for (int pos = 0; pos < length; pos += chunk) {
        const int size = length - pos < chunk ? length - pos : chunk;
        if (m_options.ctsWait == 1) {
            int r = WaitCts(t);
            if (r != 0) {
                m_error = r;
                return r == -6 ? count : 0;
            }
        }
        const SecondDeadline deadline(t);
        uint32_t written = 0;
        uint32_t e = COlfe_SComm::Write(bytes.data() + pos, static_cast<uint32_t>(size), &written,
                                        deadline.RemainingMillis());
        count += static_cast<int>(written);
        if (e != kErrNone) {
            m_error = MapPortError(e);
            NoteExchange(port, t, false);
            return count;
        }
        if (WaitOutputDrained(port, t) != 0) {
            NoteExchange(port, t, false);
            return count;
        }
    }
    return count;
}

int CTelepathy::WaitOutputDrained(int port, int t) {
    m_error = 0;
    if (!PortUsable(port)) return m_error;
    const SecondDeadline deadline(t);
    int pending = GetOutBufferCount();
    if (m_lost) return m_error = -6;
    if (pending == 0) return 0;
    for (;;) {
        if (m_abort.IsSet()) return m_error = -7;
        if (deadline.Passed()) return m_error = -5;
        int r = WaitDevice(SerialWaitFor::Change, deadline.RemainingMillis());
        if (r == kWaitBroken) return m_error = -7;
        if (r == kWaitLost) return m_error = -6;
        pending = GetOutBufferCount();
        if (m_lost) return m_error = -6;
        if (pending == 0) return 0;
    }
}

int CTelepathy::Delay(double seconds) {
    if (!(seconds > 0)) return 0;
    int64_t ms = orv::platform::ScaledMillis(seconds);
    if (ms > INT_MAX) ms = INT_MAX;
    if (orv::platform::SleepUnlessBroken(&m_abort, static_cast<int>(ms)) == kWaitBroken) {
        m_error = -7;
        return -7;
    }
    return 0;
}

// ---- break ----

void CTelepathy::Break() { m_abort.Set(); }

void CTelepathy::ClearBreak() { m_abort.Clear(); }

bool CTelepathy::IsAborted() { return m_abort.IsSet(); }
