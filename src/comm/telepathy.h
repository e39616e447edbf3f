// The one serial port object of the process, addressed by port number.
// Error codes (also used by the TCP transport):
//   0 none, -1 bad parameter, -2 no such port, -3 port not open, -4 port in
//   use, -5 time-out, -6 connection lost, -7 broken off by the user,
//   -8 input overflow / no terminator, -9 transmission broken, -10 no resources.
// Port n (1..16) is the device named by the environment variable ECR_COM<n>
// when set, else /dev/ttyS<n-1>.
#pragma once

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

    CChrArr Read(int port, int n, int t);
    CChrArr ReadUntil(int port, uint8_t term, int maxLen, int t);
    int Write(int port, const CChrArr& bytes, int t);
    int WaitOutputDrained(int port, int t);
    int Delay(double seconds);

    void Break();
    void ClearBreak();
    bool IsAborted();

    std::string GetErrorText(int code) { return SerialErrorText(code); }
};
