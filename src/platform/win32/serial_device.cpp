// Serial devices over the Win32 communications API.
//
// The port is opened exclusively and overlapped. Reads and writes never block
// the caller: a read asks only for what the driver holds, a write hands its
// bytes to one overlapped write and returns. The
// waits are overlapped operations waited for together with the break event:
//   Input  - a one-byte read that completes when a byte arrives; the byte
//            is kept and handed out first by the next Read;
//   Room   - the write still in flight;
//   Change - WaitCommEvent on the modem lines and the empty transmit queue,
//            and the write in flight.
// A port whose driver cannot report modem events (a pseudo-terminal behind an
// emulation, some USB adapters) gets the short slice of the interface instead.
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/serial_device.h"
#include "platform/win32/break_wait.h"

namespace orv::platform {

namespace {

// Win32 failures that mean the device itself is gone (unplugged adapter,
// closed handle).
bool DeviceGone(DWORD err) {
    switch (err) {
    case ERROR_INVALID_HANDLE:
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_NOT_READY:
    case ERROR_BAD_UNIT:
        return true;
    default:
        return false;
    }
}

// The errno value of a failure on an open device.
int IoErrno(DWORD err) { return DeviceGone(err) ? EIO : EINVAL; }

// The errno value of a failed open, as the port class sorts them.
int OpenErrno(DWORD err) {
    switch (err) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_NAME:
        return ENOENT;
    case ERROR_SHARING_VIOLATION:
    case ERROR_ACCESS_DENIED:
    case ERROR_BUSY:
        return EBUSY;
    default:
        return EINVAL;
    }
}

BYTE ParityCode(char parity) {
    switch (parity) {
    case 'O': return ODDPARITY;
    case 'E': return EVENPARITY;
    case 'M': return MARKPARITY;
    case 'S': return SPACEPARITY;
    default: return NOPARITY;
    }
}

// One overlapped operation with its own manual-reset event.
struct Overlapped {
    OVERLAPPED ov{};
    bool pending = false;

    bool Create() {
        ov = OVERLAPPED{};
        ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        return ov.hEvent != nullptr;
    }
    void Destroy() {
        if (ov.hEvent != nullptr) CloseHandle(ov.hEvent);
        ov.hEvent = nullptr;
        pending = false;
    }
    void Rearm() {
        HANDLE e = ov.hEvent;
        ov = OVERLAPPED{};
        ov.hEvent = e;
        ResetEvent(e);
    }
};

class Win32SerialDevice final : public SerialDevice {
public:
    ~Win32SerialDevice() override { Close(); }

    int Open(const std::string& path) override {
        Close();
        HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED, nullptr);
        if (h == INVALID_HANDLE_VALUE) return OpenErrno(GetLastError());
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(h, &dcb)) {   // not a serial port
            CloseHandle(h);
            return ENOTTY;
        }
        if (!m_read.Create() || !m_write.Create() || !m_event.Create()) {
            CloseHandle(h);
            DestroyEvents();
            return ENOMEM;
        }
        m_handle = h;
        m_haveAhead = false;
        m_writeFailed = 0;
        m_noModemEvents = false;
        m_lostRead = false;
        m_charMicros = 0;
        SetupComm(h, 4096, 4096);
        // Raw at once: binary, no flow control, no character replacement,
        // nothing aborted on line errors.
        MakeRaw(dcb);
        SetCommState(h, &dcb);
        SetCommMask(h, kEventMask);
        // Reads wait until their count has come: Read asks only for what the
        // driver holds, the read ahead of a wait for one byte.
        COMMTIMEOUTS t{};
        SetCommTimeouts(h, &t);
        PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR);
        return 0;
    }

    void Close() override {
        if (m_handle == nullptr) return;
        // Nothing waits for undrained output: abort and discard everything,
        // then let the overlapped operations finish before their memory goes.
        for (Overlapped* o : {&m_read, &m_write, &m_event})
            if (o->pending) Abort(*o);
        PurgeComm(m_handle, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
        CloseHandle(m_handle);
        m_handle = nullptr;
        DestroyEvents();
        m_haveAhead = false;
    }

    bool IsOpen() const override { return m_handle != nullptr; }

    int Configure(const SerialLineSettings& s) override {
        if (m_handle == nullptr) return EBADF;
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(m_handle, &dcb)) return IoErrno(GetLastError());
        MakeRaw(dcb);
        dcb.BaudRate = static_cast<DWORD>(s.baud);
        dcb.ByteSize = static_cast<BYTE>(s.dataBits);
        dcb.Parity = ParityCode(s.parity);
        dcb.fParity = s.parity != 'N';
        dcb.StopBits = s.stopBits == 1 ? ONESTOPBIT : s.stopBits == 2 ? TWOSTOPBITS : ONE5STOPBITS;
        dcb.fOutxCtsFlow = s.ctsOutFlow;
        dcb.fOutxDsrFlow = s.dsrOutFlow;
        dcb.fRtsControl = s.rtsControl == 2 ? RTS_CONTROL_HANDSHAKE
                          : s.rtsControl == 1 ? RTS_CONTROL_ENABLE
                                              : RTS_CONTROL_DISABLE;
        dcb.fDtrControl = s.dtrControl == 2 ? DTR_CONTROL_HANDSHAKE
                          : s.dtrControl == 1 ? DTR_CONTROL_ENABLE
                                              : DTR_CONTROL_DISABLE;
        dcb.fOutX = s.xonOut;
        dcb.fInX = s.xonIn;
        if (!SetCommState(m_handle, &dcb)) return IoErrno(GetLastError());
        m_charMicros = CharMicros(s);
        return 0;
    }

    int FlushInput() override {
        if (m_handle == nullptr) return EBADF;
        // The byte a wait read ahead counts as received: it goes too.
        if (m_read.pending) Abort(m_read);
        m_haveAhead = false;
        if (!PurgeComm(m_handle, PURGE_RXCLEAR)) return IoErrno(GetLastError());
        return 0;
    }

    int FlushOutput() override {
        if (m_handle == nullptr) return EBADF;
        int out = OutputPending();
        if (out < 0) return -out;
        if (out == 0) return 0;
        if (m_write.pending) Abort(m_write);
        if (!PurgeComm(m_handle, PURGE_TXABORT | PURGE_TXCLEAR)) return IoErrno(GetLastError());
        return 0;
    }

    int InputPending() override {
        if (m_handle == nullptr) return -EBADF;
        COMSTAT st{};
        DWORD errors = 0;
        if (!ClearCommError(m_handle, &errors, &st)) return -IoErrno(GetLastError());
        CollectReadAhead();
        return static_cast<int>(st.cbInQue + (m_haveAhead ? 1 : 0));
    }

    int OutputPending() override {
        if (m_handle == nullptr) return -EBADF;
        COMSTAT st{};
        DWORD errors = 0;
        if (!ClearCommError(m_handle, &errors, &st)) return -IoErrno(GetLastError());
        if (st.cbOutQue > 0) return static_cast<int>(st.cbOutQue);
        // A write still in flight whose bytes the driver does not count.
        if (WritePending()) return static_cast<int>(m_writeBuf.size());
        return 0;
    }

    long Write(const uint8_t* data, size_t size) override {
        if (m_handle == nullptr) return -EBADF;
        // Looked at first: the write in flight may have failed just now.
        const bool busy = WritePending();
        if (m_writeFailed != 0) {
            const int e = m_writeFailed;
            m_writeFailed = 0;
            return -e;
        }
        if (size == 0) return 0;
        if (busy) return 0;   // no room until the write in flight is done
        if (size > kMaxWrite) size = kMaxWrite;
        m_writeBuf.assign(data, data + size);
        m_write.Rearm();
        DWORD n = 0;
        if (WriteFile(m_handle, m_writeBuf.data(), static_cast<DWORD>(size), &n, &m_write.ov))
            return static_cast<long>(n);
        const DWORD err = GetLastError();
        if (err != ERROR_IO_PENDING) return -IoErrno(err);
        m_write.pending = true;
        return static_cast<long>(size);   // handed over; the driver sends it
    }

    long Read(uint8_t* data, size_t size) override {
        if (m_handle == nullptr) return -EBADF;
        if (size == 0) return 0;
        CollectReadAhead();
        size_t got = 0;
        if (m_haveAhead) {
            data[0] = m_aheadByte;
            m_haveAhead = false;
            got = 1;
        }
        // A read ahead still pending means nothing came since: the line is
        // empty (its byte will be the next one).
        if (m_read.pending || got == size) return static_cast<long>(got);
        // Only what the driver holds is asked for, so the read completes at
        // once whatever the time-outs say.
        COMSTAT st{};
        DWORD errors = 0;
        if (!ClearCommError(m_handle, &errors, &st)) return got > 0 ? static_cast<long>(got) : -IoErrno(GetLastError());
        if (st.cbInQue == 0) return static_cast<long>(got);
        const DWORD want = static_cast<DWORD>(std::min<size_t>({size - got, st.cbInQue, 0x10000}));
        m_read.Rearm();
        DWORD n = 0;
        if (!ReadFile(m_handle, data + got, want, &n, &m_read.ov)) {
            DWORD err = GetLastError();
            if (err == ERROR_IO_PENDING) {
                m_read.pending = true;
                const bool ok = GetOverlappedResult(m_handle, &m_read.ov, &n, TRUE);
                m_read.pending = false;
                err = ok ? ERROR_SUCCESS : GetLastError();
            }
            if (err == ERROR_OPERATION_ABORTED) return static_cast<long>(got);
            if (err != ERROR_SUCCESS) return got > 0 ? static_cast<long>(got) : -IoErrno(err);
        }
        return static_cast<long>(got + n);
    }

    int SetDtr(bool on) override { return Escape(on ? SETDTR : CLRDTR); }
    int SetRts(bool on) override { return Escape(on ? SETRTS : CLRRTS); }

    int GetModemBits(int* bits) override {
        *bits = 0;
        if (m_handle == nullptr) return EBADF;
        DWORD status = 0;
        if (!GetCommModemStatus(m_handle, &status)) {
            const DWORD err = GetLastError();
            return DeviceGone(err) ? EIO : ENOTTY;
        }
        // The Win32 bits are the values the port service reports.
        *bits = static_cast<int>(status & (MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON));
        return 0;
    }

    int Wait(SerialWaitFor what, const BreakSignal* brk, int timeoutMs) override {
        if (m_handle == nullptr) return kWaitLost;
        switch (what) {
        case SerialWaitFor::Input: return WaitInput(brk, timeoutMs);
        case SerialWaitFor::Room: return WaitRoom(brk, timeoutMs);
        case SerialWaitFor::Change: return WaitChange(brk, timeoutMs);
        }
        return kWaitLost;
    }

    // The handle's value: handles of the system fit in 32 bits.
    int fd() const override {
        return m_handle == nullptr ? -1 : static_cast<int>(reinterpret_cast<intptr_t>(m_handle));
    }

private:
    static constexpr DWORD kEventMask = EV_CTS | EV_DSR | EV_RLSD | EV_RING | EV_TXEMPTY;
    static constexpr size_t kMaxWrite = 0x10000;
    static constexpr int kChangeSliceMs = 10;
    static constexpr int kEventSliceMs = 100;

    static void MakeRaw(DCB& dcb) {
        dcb.fBinary = TRUE;
        dcb.fErrorChar = FALSE;
        dcb.fNull = FALSE;
        dcb.fAbortOnError = FALSE;
        dcb.fDsrSensitivity = FALSE;
        dcb.fTXContinueOnXoff = TRUE;
        dcb.XonChar = 0x11;
        dcb.XoffChar = 0x13;
        dcb.XonLim = 512;
        dcb.XoffLim = 512;
    }

    // Cancels an overlapped operation and waits until the driver let go of
    // it (its buffer and event may go after that).
    void Abort(Overlapped& o) {
        CancelIoEx(m_handle, &o.ov);
        DWORD n = 0;
        GetOverlappedResult(m_handle, &o.ov, &n, TRUE);
        o.pending = false;
    }

    void DestroyEvents() {
        m_read.Destroy();
        m_write.Destroy();
        m_event.Destroy();
    }

    // Takes the byte of a finished read ahead as received.
    void CollectReadAhead() {
        if (!m_read.pending) return;
        DWORD n = 0;
        if (GetOverlappedResult(m_handle, &m_read.ov, &n, FALSE)) {
            m_read.pending = false;
            if (n > 0) m_haveAhead = true;
            return;
        }
        const DWORD err = GetLastError();
        if (err == ERROR_IO_INCOMPLETE) return;
        m_read.pending = false;   // failed or aborted: nothing came
        if (DeviceGone(err)) m_lostRead = true;
    }

    bool WritePending() {
        if (!m_write.pending) return false;
        DWORD n = 0;
        if (GetOverlappedResult(m_handle, &m_write.ov, &n, FALSE)) {
            m_write.pending = false;
            return false;
        }
        const DWORD err = GetLastError();
        if (err == ERROR_IO_INCOMPLETE) return true;
        m_write.pending = false;
        if (err != ERROR_OPERATION_ABORTED) m_writeFailed = IoErrno(err);
        return false;
    }

    int WaitInput(const BreakSignal* brk, int timeoutMs) {
        CollectReadAhead();
        if (m_lostRead) return kWaitLost;
        if (m_haveAhead) return kWaitReady;
        if (brk != nullptr && brk->IsSet()) return kWaitBroken;
        if (!m_read.pending) {
            COMSTAT st{};
            DWORD errors = 0;
            if (!ClearCommError(m_handle, &errors, &st)) return DeviceGone(GetLastError()) ? kWaitLost : kWaitReady;
            if (st.cbInQue > 0) return kWaitReady;
            m_read.Rearm();
            DWORD n = 0;
            if (ReadFile(m_handle, &m_aheadByte, 1, &n, &m_read.ov)) {
                if (n > 0) m_haveAhead = true;
                return kWaitReady;
            }
            const DWORD err = GetLastError();
            if (err != ERROR_IO_PENDING) return DeviceGone(err) ? kWaitLost : kWaitReady;
            m_read.pending = true;
        }
        // The read stays pending after a time-out or a break; its byte is
        // collected by the next read or wait.
        const HANDLE h = m_read.ov.hEvent;
        const int r = win32::WaitForHandles(&h, 1, brk, timeoutMs, nullptr);
        if (r != kWaitReady) return r;
        CollectReadAhead();
        return m_lostRead ? kWaitLost : kWaitReady;
    }

    int WaitRoom(const BreakSignal* brk, int timeoutMs) {
        if (!WritePending()) return kWaitReady;
        const HANDLE h = m_write.ov.hEvent;
        const int r = win32::WaitForHandles(&h, 1, brk, timeoutMs, nullptr);
        if (r == kWaitReady) WritePending();
        return r;
    }

    int WaitChange(const BreakSignal* brk, int timeoutMs) {
        if (m_lostRead) return kWaitLost;
        const bool writing = WritePending();
        if (!m_noModemEvents && !ArmCommEvent()) m_noModemEvents = true;
        // Without modem events the short slice of the interface; with them a
        // longer one all the same, so that an event the driver does not
        // report (an empty queue on some adapters) costs no more than that.
        const int cap = m_noModemEvents ? kChangeSliceMs : kEventSliceMs;
        const int slice = ChangeSlice(timeoutMs, cap, OutputPending(), m_charMicros);
        HANDLE set[2];
        int n = 0;
        if (m_event.pending) set[n++] = m_event.ov.hEvent;
        if (writing) set[n++] = m_write.ov.hEvent;
        int which = -1;
        const int r = win32::WaitForHandles(set, n, brk, slice, &which);
        if (r == kWaitReady) {
            if (m_event.pending && set[which] == m_event.ov.hEvent) {
                DWORD bytes = 0;
                const BOOL ok = GetOverlappedResult(m_handle, &m_event.ov, &bytes, FALSE);
                m_event.pending = false;
                if (!ok && DeviceGone(GetLastError())) return kWaitLost;
            } else {
                WritePending();
            }
            return kWaitReady;
        }
        if (r != kWaitTimeout) return r;
        return slice == timeoutMs ? kWaitTimeout : kWaitReady;
    }

    // Starts a WaitCommEvent unless one is pending; false when the driver
    // cannot report the events.
    bool ArmCommEvent() {
        if (m_event.pending) return true;
        m_event.Rearm();
        m_eventBits = 0;
        if (WaitCommEvent(m_handle, &m_eventBits, &m_event.ov)) {
            SetEvent(m_event.ov.hEvent);   // happened already: the wait ends at once
            m_event.pending = true;
            return true;
        }
        if (GetLastError() != ERROR_IO_PENDING) return false;
        m_event.pending = true;
        return true;
    }

    int Escape(DWORD function) {
        if (m_handle == nullptr) return EBADF;
        if (EscapeCommFunction(m_handle, function)) return 0;
        const DWORD err = GetLastError();
        return DeviceGone(err) ? EIO : 0;   // no modem lines: accepted without effect
    }

    HANDLE m_handle = nullptr;
    Overlapped m_read, m_write, m_event;
    // The one-byte read a wait keeps pending, and whether its byte came and
    // is not handed out yet (a new one starts only once it is).
    uint8_t m_aheadByte = 0;
    bool m_haveAhead = false;
    std::vector<uint8_t> m_writeBuf;  // the bytes of the write in flight
    DWORD m_eventBits = 0;            // filled by WaitCommEvent
    int m_writeFailed = 0;            // errno of a write that failed in flight
    bool m_noModemEvents = false;     // WaitCommEvent refused: slices instead
    bool m_lostRead = false;
    int64_t m_charMicros = 0;
};

}  // namespace

std::unique_ptr<SerialDevice> CreateSystemSerialDevice() { return std::make_unique<Win32SerialDevice>(); }

std::string SystemSerialPortPath(int port) { return "\\\\.\\COM" + std::to_string(port); }

}  // namespace orv::platform
