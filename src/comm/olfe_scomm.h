// COlfe_SComm: the port class under CTelepathy. It owns the device, the
// bytes received and not yet taken, the line settings, the notifier and the
// abort flag.
//
// Operations return the system error numbers of the original port class:
// 0 success, 6 no device open, 1460 time-out, 1247 already open, 995 broken
// off, 1167 device lost, 29 write fault, 87 bad line settings, 0x80070057
// bad argument. Reads never block: they take what is there.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "comm/notifier.h"
#include "platform/break_signal.h"
#include "platform/message_hook.h"
#include "platform/serial_device.h"
#include "util/chrarr.h"

class COlfe_SComm {
public:
    // Error numbers of the port class.
    enum : uint32_t {
        kErrNone = 0,
        kErrFileNotFound = 2,
        kErrAccessDenied = 5,
        kErrNoHandle = 6,
        kErrWriteFault = 29,
        kErrGeneral = 31,
        kErrBadParameter = 87,
        kErrAborted = 995,
        kErrDeviceLost = 1167,
        kErrAlreadyOpen = 1247,
        kErrTimeout = 1460,
        kErrInvalidArg = 0x80070057u
    };

    COlfe_SComm();
    virtual ~COlfe_SComm();
    COlfe_SComm(const COlfe_SComm&) = delete;
    COlfe_SComm& operator=(const COlfe_SComm&) = delete;

    // Notifier (event block, host callback, window message).
    int SetNotifyWindow(EcrWindow window, uint32_t message);   // also clears the abort flag; returns 1
    EcrWindow GetNotifyWindow() const { return m_notifier.GetWindow(); }
    void SetCallback(EcrProgressCallback cb) { m_notifier.SetCallback(cb); }
    EcrProgressCallback GetCallback() const { return m_notifier.GetCallback(); }
    void Notify(int event, const std::string& text, int percent, int value) {
        m_notifier.Notify(event, text, percent, value);
    }
    const CProgressNotifier& Notifier() const { return m_notifier; }

    // The abort flag; Set wakes every wait of the port.
    orv::platform::BreakSignal& AbortSignal() { return m_abort; }

    // Operator questions and prompts asked from a job. The message hook runs
    // on a helper thread while this thread waits on the abort flag, so a
    // break ends the wait with -7 even when the hook blocks (its late answer
    // is dropped). Notices go straight to the hook. Otherwise the hook's answer.
    int AskOperator(orv::platform::MessageKind kind, const std::string& text, int defaultAnswer);

    // ---- properties ----
    void SetCommPort(int port);                 // 1..255, only while closed; else parameter error -1
    int GetCommPort() const { return m_commPort; }
    void SetSettings(const std::string& text);  // "baud,parity letter,data bits,stop bits"
    std::string GetSettings() const;
    void SetInBufferSize(int size) { m_inBufferSize = static_cast<uint16_t>(size); }
    int GetInBufferSize() const { return m_inBufferSize; }
    void SetOutBufferSize(int size) { m_outBufferSize = static_cast<uint16_t>(size); }
    int GetOutBufferSize() const { return m_outBufferSize; }
    void SetInputLen(int n) { m_inputLen = static_cast<uint16_t>(n); }
    int GetInputLen() const { return m_inputLen; }
    void SetHandshaking(int mode) { m_handshaking = mode; }
    int GetHandshaking() const { return m_handshaking; }
    int GetCommID() const;                      // the device's descriptor, -1 when closed
    int GetParameterError() const { return m_paramError; }
    uint32_t GetLastError() const { return m_lastError; }
    bool IsDeviceLost() const { return m_lost; }

    void SetInBufferCount(int n);               // 0: discard everything received
    int GetInBufferCount();                     // collect the driver's bytes; count held
    void SetOutBufferCount(int n);              // 0: discard the transmit queue
    int GetOutBufferCount();                    // bytes in the transmit queue
    CChrArr GetInput();                         // input-length bytes from the front (0: all)
    void SetOutput(const CChrArr& bytes);       // written without a time limit (a break ends it)

    bool GetCTSHolding();
    bool GetCDHolding();
    bool GetDSRHolding();
    bool GetRingHolding();
    int GetCommEvent() const { return 0; }
    void SetBreak() {}                          // no line break is sent
    void SetDTREnable(bool on);
    void SetRTSEnable(bool on);

    void SetPortOpen(bool open);
    bool GetPortOpen() const { return m_open; }

    // Modem bits (MS_*), or an errno value when they cannot be read.
    int ReadModemBits(int* bits);

    // The settings last given to the device.
    const orv::platform::SerialLineSettings& LineSettings() const { return m_dcb; }

    // ---- operations ----
    virtual uint32_t SetEventMask(uint32_t mask);
    virtual uint32_t SetupReadTimeouts(int mode);          // 0 or 1
    // parity code: 0 N, 1 O, 2 E, 3 M, 4 S; stop code: 0 one, 1 one and a
    // half, 2 two; -1 anywhere falls back to 9600 8N1 (with a notice) and
    // gives 87.
    virtual uint32_t Setup(int baud, int bits, int parityCode, int stopCode);
    virtual uint32_t SetupHandshaking(int mode);           // 0 none, 1 hardware, 2 software
    // Writes all bytes, waiting for room up to timeoutMs (-1 no limit);
    // *written counts what went out.
    virtual uint32_t Write(const uint8_t* data, uint32_t count, uint32_t* written, int timeoutMs);
    // Takes what is there (at most count bytes) at once.
    virtual uint32_t Read(uint8_t* data, uint32_t count, uint32_t* read, int timeoutMs);

    // Handshaking mode from the line options: 0 none, 1 XON/XOFF, 2 RTS/CTS, 3 both.
    static int DeriveHandshaking(int xonXoff, int rtsMode, int ctsWait);
    // The error number of a failed device open (errno): 2 not found (also a node
    // whose hardware is missing), 5 in use, 31 other.
    static uint32_t OpenErrorNumber(int err);

protected:
    // Waits on the device and the abort flag: kWaitReady, kWaitTimeout,
    // kWaitBroken or kWaitLost (which also marks the device lost).
    int WaitDevice(orv::platform::SerialWaitFor what, int timeoutMs);
    // Moves up to n received bytes (all when n < 0) out of the port object.
    CChrArr TakeReceived(int n);
    int ReceivedCount() const { return m_received.GetLength(); }
    void MarkLostIf(long result);                          // -EIO and the like mark the device lost

    CProgressNotifier m_notifier;
    orv::platform::BreakSignal m_abort;

    int m_paramError = 0;
    int m_commPort = 1;
    bool m_open = false;
    bool m_lost = false;
    uint16_t m_inBufferSize = 1024;
    uint16_t m_outBufferSize = 1024;
    uint16_t m_inBufferCount = 0;
    uint32_t m_toWrite = 0, m_written = 0;
    int m_writeTimeout = -1;
    CChrArr m_received;
    uint16_t m_inputLen = 0;
    // Line options copied from the service at every (re)open.
    int m_ctsOption = 0, m_option2 = 0, m_option3 = 0;
    int m_dtrMode = 1, m_rtsMode = 1;
    int m_xonOption = 0;
    int m_baud = 9600;
    int m_bits = 8;
    char m_parity = 'N';
    int m_stop = 1;
    int m_handshaking = 0;
    uint32_t m_lastError = 0;
    uint32_t m_eventMask = 0;
    int m_readMode = 0;
    std::unique_ptr<orv::platform::SerialDevice> m_device;
    orv::platform::SerialLineSettings m_dcb;

private:
    uint32_t ApplySettings();
    bool ModemLine(int bit);   // one modem status bit; false when unreadable
};
