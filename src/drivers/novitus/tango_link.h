// CTangoLink: the Tango protocol of the Novitus registers, written once over
// a transport switch (a serial port of the serial service, or the TCP
// socket), with the traits of the two protocol classes (CProtokolTango /
// CNext and CTango).
//
// The line is turned around with ENQ/ACK/EOT. A frame is STX, a type byte
// ("S" request, "D" data), the body, ETX (or ETB when more frames follow) and
// the four hexadecimal digits of the checksum over type, body and
// terminator. The receiver knows the body length from its request. NAK asks
// for a repeat, TAB says "busy, wait", "@" announces an error status frame
// whose first body bytes hold the register's code in hexadecimal.
//
// Every request is one turn: handshake, the "S" frame (and the "D" frames of
// a write), EOT, the register's ENQ answered with ACK, its reply frames each
// acknowledged, its EOT and ours. Each operation returns 1, or 0 with the
// last error code set: a transport code (-1..-10, -7 broken off), 9998 (the
// register ended with EOT), 9999 (no valid answer), 10 (a short write), the
// register's own code from an error status frame, or a record's refusal.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "comm/socket.h"
#include "drivers/novitus/tango_records.h"
#include "util/chrarr.h"

// What tells the protocol classes apart.
struct TangoTraits {
    bool tcp;              // may run over TCP
    bool dataLog;          // every read and write also goes to the data log
    bool notifySocket;     // notices go through the socket's notifier (else the serial's)
    bool shortGoodsWrite;  // goods are written as the 75-byte record
    bool fullErrorList;    // the full list of device texts (else codes 1..40, 260, 261, 273, 277)
};

class CTangoLink : public CTelepathyEcrEth {
public:
    static constexpr uint8_t STX = 0x02, ETX = 0x03, EOT = 0x04, ENQ = 0x05, ACK = 0x06, TAB = 0x09,
                             NAK = 0x15, ETB = 0x17, AT = 0x40;
    static constexpr int kNoAnswer = 9999;    // no valid answer after the repetitions
    static constexpr int kDeviceEot = 9998;   // the register ended with EOT
    static constexpr int kShortWrite = 10;
    static constexpr int kMissing = 202;      // the register holds no such item
    static constexpr int kTcpPort = 5001;

    explicit CTangoLink(const TangoTraits& traits);
    ~CTangoLink() override;

    const TangoTraits& Traits() const { return m_traits; }

    // ---- opening ----
    int OpenSerial(int port, int baud);
    // Starts the connect to the address (first octet in the top byte), TCP
    // port 5001; the connect's result (the first request awaits it).
    int OpenTcp(uint32_t address);
    int Close();
    bool IsTcp() const { return m_nMode == 1; }
    void SetModel(uint32_t model) { m_nModel = model; }
    uint32_t GetModel() const { return m_nModel; }

    // ---- link operations ----
    CChrArr ReadBytes(int n);
    int WriteBytes(const CChrArr& bytes);
    int ReadByte();                    // the byte, or -1 when none came (error set)
    int SendByte(uint8_t byte) { return WriteBytes(CChrArr(1, byte)); }
    int SendEot() { return SendByte(EOT); }
    int AnswerEnq();
    int ReadEot();
    static bool IsBusy(int byte) { return byte == TAB; }
    int Handshake();
    int SendFrame(uint8_t type, const CChrArr& body, uint8_t terminator);
    CChrArr ReceiveFrame(int n);
    CChrArr ReceiveFrameLong(int n, int m, uint8_t& terminator);
    int ReadErrorStatus(int& code);
    static uint16_t CalcChecksum(const CChrArr& bytes) { return tango::Checksum(bytes); }
    // The frame as sent: STX, type, body, terminator, checksum digits.
    static CChrArr BuildFrame(uint8_t type, const CChrArr& body, uint8_t terminator);

    std::string GetErrorText(int code) override;
    // A text that goes with the last error instead of GetErrorText's
    // (empty when none); set by the requests that name their own.
    const std::string& ErrorTextOverride() const { return m_errorText; }
    // Whether the last failure came from the register's silence or a bad
    // answer in a request turn (not from a record refused before any
    // traffic, nor from a break).
    bool FailedForWantOfAnswer() const;
    // Whether the last failure happened in a request turn (the register
    // was talked to), not in a record refused before any traffic.
    bool FailedInTurn() const { return m_bInTurn; }
    // A record refused before any traffic: 0 with the code (and a text of
    // its own when given).
    int Refuse(int code, const std::string& text = std::string());

    // ---- requests ----
    using GoodsFn = std::function<void(const tango::Goods&)>;
    using DeptFn = std::function<void(const tango::Dept&)>;
    using UnitFn = std::function<void(const tango::Unit&)>;
    using SaleFn = std::function<void(const tango::SaleLine&)>;

    int ReadStatusText(std::string& text);                // "M": the 10-character status text
    int ReadMoreStatus(std::string pieces[3]);            // "e"
    int ReadTaxTable(double rates[8]);                    // "0"
    int ReadPlu(const CChrArr& key, tango::Goods& goods); // 202 when the register has none
    int WritePlu(const tango::Goods& goods);              // "h" (the record of the traits)
    int DeletePlu(const CChrArr& key);                    // reads it, then "I" sub-code 1
    // Reads the item and writes it back with another second code.
    int WriteSecondCode(const CChrArr& key, const std::string& code2);
    int ReadAllPlu(const GoodsFn& fn);
    int ReadDepts(const DeptFn& fn);
    int WriteDept(const tango::Dept& dept);
    int ReadUnits(const UnitFn& fn);
    int WriteUnit(const tango::Unit& unit);
    // "d" (PLU report) or "U" (second report); sub-code 0 reads, 2 also clears.
    int ReadReport(char report, char sub, const SaleFn& fn);
    int ReadPositions(const SaleFn& fn);                  // "O"

    // Events for the host (list progress, handshake notices).
    void NotifyHost(int event, const std::string& text, int percent, int value);

    // Key ranges of the list reads.
    static CChrArr AllCodesFrom() { return CChrArr(tango::kKeyWidth, ' '); }
    static CChrArr AllCodesTo() { return CChrArr(tango::kKeyWidth, '~'); }

protected:
    // One request turn: handshake, the "S" frame, the "D" frames, EOT, the
    // register's ENQ, then `replies` (which reads the reply frames and the
    // end of the turn). 1, or 0 with the error set.
    int Turn(const CChrArr& request, const std::vector<CChrArr>& records, const std::function<int()>& replies);
    // Reply of one frame of n bytes, then the register's EOT and ours.
    int OneReply(int n, CChrArr& body);
    // Replies of frames of n (or n and m) bytes until the register's EOT;
    // each body goes to fn, which returns 0 to end the list with an error.
    int ListReplies(int n, int m, const char* progress, const std::function<int(const CChrArr&)>& fn);
    // A list read: the request, then records of length (or longLength)
    // bytes, each parsed and handed to fn; a record that does not parse
    // ends the list with 9999 (and the text badRecordText gives for it,
    // when it gives one).
    template <class Rec>
    int ReadList(const CChrArr& request, int length, int longLength, const char* progress,
                 bool (*parse)(const CChrArr&, Rec&), const std::function<void(const Rec&)>& fn,
                 const char* (*badRecordText)(const CChrArr&) = nullptr);
    // No reply frame: the register's EOT and ours.
    int EndOfTurn();

private:
    CChrArr ReceiveAnyFrame(int n, int m, uint8_t* terminator);
    // The goods record of the last read, as a write carries it.
    CChrArr HeldGoodsRecord() const;
    bool Broken();
    int Fail(int code) {
        m_nError = code;
        return 0;
    }
    int TransportError();                 // the current transport code
    int FlushIn();
    int FlushOut();
    int WaitDrained();

    const TangoTraits m_traits;
    uint8_t m_nMode = 0;                  // 1 TCP, else serial
    uint32_t m_nModel = 1;
    std::string m_errorText;
    CChrArr m_lastGoods;                  // reply of the last goods read
    bool m_bInTurn = false;               // the last failure happened in a request turn
    bool m_bAnswered = false;             // the register refused with an error status
};
