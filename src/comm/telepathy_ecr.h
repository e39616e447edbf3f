// CTelepathyECR: the base of every protocol class. It holds the borrowed
// serial service and port number, the last error code, the data and sale
// logs, the default way of opening a serial line, the common error texts,
// the VAT rate lookup and the serial multiplexer selection.
#pragma once

#include <string>

#include "comm/telepathy.h"
#include "util/chrarr.h"

class CTelepathyECR {
public:
    CTelepathyECR();
    virtual ~CTelepathyECR();
    CTelepathyECR(const CTelepathyECR&) = delete;
    CTelepathyECR& operator=(const CTelepathyECR&) = delete;

    // 9600 baud; calls Open(port, 9600).
    virtual int Open(int port);
    // 1024-byte queues, the baud, 8N1, both queues flushed. 1 / 0 (error set).
    virtual int Open(int port, int baud);

    // Writes the whole array (5 s), then waits for it to leave (5 s). 1 / 0
    // with the port's error, or shortCode when fewer bytes went out.
    int SendAll(const CChrArr& bytes, int shortCode = 999999);
    // One write of a protocol: dumps the bytes to the sent-traffic file,
    // then SendAll with the short-write code 10.
    int SendBytes(const CChrArr& bytes);
    // Clears the error and closes the port with a 1 s drain wait.
    void ClosePort();

    // Common texts (CP1250); negative codes give the serial texts.
    virtual std::string GetErrorText(int code);

    // 1..8, or 0 with error 103. -4.0 looks for the second 0.0 rate;
    // -3.0 and -2.0 give 0; exact comparison otherwise.
    int FindVatIndex(double rate, const double rates[8]);

    // First IPv4 address of a host name as dotted text.
    static bool ResolveHostName(const char* name, std::string& out);

    // Forwards an event to the serial service's notifier.
    void Notify(int event, const std::string& text, int percent, int value);

    // Logs in the temporary directory.
    void OpenDataLog();
    void OpenSaleLog();
    void WriteDataLog(const CChrArr& bytes, char label);
    void WriteSaleLog(const CChrArr& bytes);
    void CloseDataLog();
    void CloseSaleLog();
    bool IsDataLogOpen() const { return m_nDataLogOpen != 0; }
    bool IsSaleLogOpen() const { return m_nSaleLogOpen != 0; }

    // Serial multiplexer: 1 success, 0 failure with the error field set
    // (1 bad channel, 2 channel not found, or a serial code).
    int SelectMuxChannel(int port, int type, int channel);
    int SelectMuxChannelByCommand(int port, int type, int channel);
    static std::string GetMuxErrorText(int code);

    // Lends the serial service, which takes this family's quiet line with it.
    void SetSerial(CTelepathy* serial) {
        m_pSerial = serial;
        if (serial) serial->SetQuietLine(m_dQuietSeconds, m_dQuietLimitSeconds);
    }
    CTelepathy* GetSerial() const { return m_pSerial; }
    int GetError() const { return m_nError; }
    void SetError(int code) { m_nError = code; }

    // Fields shared with the protocol classes.
    CTelepathy* m_pSerial = nullptr;
    int m_nPort = 0;
    int m_nWait = 0;
    int m_nRetry = 0;
    int m_nError = 0;
    // The quiet line (comm/quiet_line.h) of this family: after an exchange
    // broken off or timed out, the next request waits until the line has
    // been silent this long (seconds), dropping what comes, but no longer
    // than the limit (at most one of the family's time-outs).
    double m_dQuietSeconds = 0.5;
    double m_dQuietLimitSeconds = 5.0;

private:
    // The one write of SendAll (a seam for transports that report counts).
    virtual int WriteForSendAll(const CChrArr& bytes, int seconds);

    int m_saleLogFd = -1;
    int m_nSaleLogOpen = 0;
    int m_dataLogFd = -1;
    int m_nDataLogOpen = 0;
};

// Rotating traffic dumps in the temporary directory (XWR_n.dat, XWS_n.dat,
// XWT_n.dat, XWX_n.dat, n = 0..9). Failures are silent.
void DumpReceived(const CChrArr& bytes);
void DumpSent(const CChrArr& bytes);
void DumpBlock(const CChrArr& bytes);
void DumpReadUntil(const CChrArr& bytes);
