// The one serial port object of the process, addressed by port number.
// Error codes (also used by the TCP transport):
//   0 none, -1 bad parameter, -2 no such port, -3 port not open, -4 port in
//   use, -5 time-out, -6 connection lost, -7 broken off by the user,
//   -8 input overflow / no terminator, -9 transmission broken, -10 no resources.
// Port n (1..16) is the device named by the environment variable ECR_COM<n>
// when set, else /dev/ttyS<n-1>.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "comm/notifier.h"
#include "comm/olfe_scomm.h"
#include "util/chrarr.h"

// Modem status bits.
enum : int { MS_CTS_ON = 0x10, MS_DSR_ON = 0x20, MS_RING_ON = 0x40, MS_RLSD_ON = 0x80 };

std::string SerialErrorText(int code);   // CP1250

class CTelepathy : public COlfe_SComm {
public:
    CTelepathy();
    ~CTelepathy() override;

    int Open(int port, int inSize, int outSize, int baud, int bits, char parity, int stop);
    bool ProbePort(int port);
    static int GetProbeError();
    int Close(int port, int t);
    int Reopen(int port);

    int SetBaud(int port, int baud);
    int SetCtsWait(int port, int value);
    int SetLineOption2(int port, int value);
    int SetLineOption3(int port, int value);
    int SetXonXoff(int port, int value);
    int SetDtrMode(int port, int mode);
    int SetRtsMode(int port, int mode);

    int GetError(int port = 0);
    int GetInputCount(int port);
    int GetOutputCount(int port);
    int FindInInput(int port, uint8_t byte);       // 1-based, 0 when absent
    int GetModemStatus(int port);
    bool GetCts(int port);
    bool GetCd(int port);
    bool GetDsr(int port);
    bool GetRing(int port);
    int FlushInput(int port);
    int FlushOutput(int port);

    // The device's own Read and Write stay in reach beside these.
    using COlfe_SComm::Read;
    using COlfe_SComm::Write;
    CChrArr Read(int port, int n, int t);
    CChrArr ReadUntil(int port, uint8_t term, int maxLen, int t);
    int Write(int port, const CChrArr& bytes, int t);
    int WaitOutputDrained(int port, int t);
    int Delay(double seconds);

    void Break();
    void ClearBreak();
    bool IsAborted();

    // The quiet line (comm/quiet_line.h), per port number. A read or write
    // that ends by a time-out or a break marks the port unsettled; a read
    // that gets its bytes (no break asked for) settles it. The next Write on
    // an unsettled port first waits for the line to go quiet. The times are
    // the current device family's (its protocol object sets them).
    void SetQuietLine(double quietSeconds, double limitSeconds);
    bool IsUnsettled(int port) const;
    void MarkUnsettled(int port);

    std::string GetErrorText(int code) { return SerialErrorText(code); }

    // The six line options as stored here. StoreLineOptions only stores
    // them; the next Reopen applies them (the multiplexer sets several at
    // once this way).
    struct LineOptions {
        int ctsWait = 0, option2 = 0, option3 = 0, dtrMode = 1, rtsMode = 1, xonXoff = 0;
    };
    LineOptions GetLineOptions() const { return m_options; }
    void StoreLineOptions(const LineOptions& options) { m_options = options; }

private:
    CChrArr ReadBytes(int port, int n, int t);
    CChrArr ReadUpTo(int port, uint8_t term, int maxLen, int t);
    void NoteExchange(int port, int t, bool gotBytes);   // marks or settles the port
    void SettleLine(int port);                 // the quiet-line wait before a write
    bool PortUsable(int port);                 // range and open checks; sets the error
    int LostOrError(int fallback);             // -6 when the device is gone, else fallback
    void CopyOptionsToPort();
    CChrArr TakeAll();                         // the receive buffer and everything the port holds
    int WaitCts(int t);                        // 0, -5, -6 or -7
    int MapPortError(uint32_t code);
    int SetOption(int port, int LineOptions::*field, int value);   // stores, reopens on a change; old value
    int SetLineMode(int port, bool dtr, int mode);                  // DTR or RTS mode; old value

    CChrArr m_buffer;                          // taken from the port object, not yet handed out
    LineOptions m_options;
    int m_error = 0;
    int m_openPort = 0;
    int m_inSize = 1024, m_outSize = 1024;
    int m_openBaud = 9600;
    int m_openBits = 8;
    char m_openParity = 'N';
    int m_openStop = 1;
    std::array<bool, 17> m_unsettled;          // by port number 1..16
    double m_quietSeconds = 0.5;
    double m_quietLimitSeconds = 5.0;
};
