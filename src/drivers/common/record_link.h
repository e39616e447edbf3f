// The half-duplex record link of the CR-280 and Optimus registers. Every
// record travels as STX, (Optimus: a command letter,) the record's text, an
// end byte and a check byte (the XOR of every byte between STX and it); the
// receiver answers ACK or NAK; EOT ends a turn; ENQ from the register opens
// its turn of sending. The classes differ only in their traits and in how
// the register reports an error and how a confused register is brought
// back (the CR-280: the line is emptied and the record sent again; the
// Optimus: it is asked with ENQ until it answers; the Hida: the link is
// opened again with ENQ).
#pragma once

#include <cstdint>
#include <string>

#include "comm/telepathy_ecr.h"
#include "util/chrarr.h"

struct RecordLinkTraits {
    int dataBits;
    char parity;
    bool handshake;     // CTS wait, option 3, DTR handshake, RTS on, XON/XOFF off
    bool ctsWait;       // the CTS wait alone (implied by handshake)
    int readSeconds;    // every read waits this long
    bool letter;        // frames carry a command letter after STX
};

class CRecordLink : public CTelepathyECR {
public:
    enum : uint8_t { STX = 0x02, ETX = 0x03, EOT = 0x04, ENQ = 0x05, ACK = 0x06, DLE = 0x10, NAK = 0x15 };
    static constexpr int kTransmissions = 7;   // a record goes out at most this often
    static constexpr int kPolls = 7;           // attempts to receive one record

    explicit CRecordLink(const RecordLinkTraits& traits);

    using CTelepathyECR::Open;
    // The host's baud with the class's line settings; both queues emptied.
    // 1, or 0 with the port's error (the line is closed again).
    int Open(int port, int baud) override;
    void Close();

    static uint8_t Checksum(const CChrArr& bytes);   // XOR of all bytes, 0 for none
    // STX, letter (may be empty), text, end byte, check byte.
    static CChrArr Frame(const CChrArr& letter, const CChrArr& text, uint8_t end);

    // ---- bytes (1 / 0 with the error set) ----
    int WriteBytes(const CChrArr& bytes);   // short write: 10
    int SendByte(uint8_t b);
    int SendEOT();                          // also ends the register's turn
    CChrArr ReadBytes(int n);               // all n, or empty with the error
    int ReadByte();                         // the byte, or -1 when none came
    int AnswerENQ();                        // the register's ENQ, answered with ACK: its turn
    int ReadEOT();                          // 1 when the byte read is EOT
    int ExpectEOT();                        // as ReadEOT; another byte: 999
    int DrainAndFlush();

    // ---- records ----
    // Sends the record until the register acknowledges it (at most 7
    // transmissions; then EOT, and the register's EOT: 999). 1 / 0.
    int SendRecord(const CChrArr& letter, const CChrArr& text, uint8_t end = ETX);
    // The text of the next record of n characters (after STX was read), or
    // empty; the check byte is tested.
    CChrArr ReadBody(int n);
    // Up to 7 attempts to receive a record of n characters, each
    // acknowledged or refused; the register's EOT ends with 998, silence
    // from the third attempt with EOT sent. The text, or empty.
    CChrArr PollRecord(int n);
    // The PC's turn: the line emptied, the record sent, EOT.
    int CommandSequence(const CChrArr& letter, const CChrArr& text);
    // A turn of the register's that an earlier exchange left open (it was
    // broken off while the register waited for the PC's ACK) is ended with
    // EOT, so that the register takes the next request as one; whatever it
    // answers is let pass before that request.
    void EndRegistersTurn();
    // The PC gives up on an answer the register may still send: the next
    // request first waits for a quiet line.
    void MarkLineUnsettled();

    // ---- fields ----
    // A VAT group and flag word as "VVFF": -1 gives "00", 1..8 two digits,
    // any other group 103; the flag "01" when it is 1, else "00".
    int FormatVatFlag(int32_t vat, uint32_t flag, CChrArr& out);
    // A department as two characters: 255 "FF", 0..99 two digits, any
    // other 999 (it does not fit).
    int FormatDeptField(uint32_t dept, CChrArr& out);
    // "FF" 255, else the field's digits; 999 when they are none.
    int ParseDeptField(const CChrArr& field, uint32_t& dept);
    // A price as 8 digits of hundredths (x 100, + 0.1, cut); 109 below 0,
    // for NaN or above 999999.99.
    int FormatPrice(double price, CChrArr& out);
    // A field of decimal digits (blanks before them allowed); false otherwise.
    static bool DecimalField(const CChrArr& field, int64_t& v);

protected:
    // What follows STX in place of ACK (CR-280) or DLE 0x40 (Optimus): the
    // register's error; 1 with its code, else 0.
    virtual int ReadDeviceError(int& code) = 0;
    // After an answer that is neither ACK, NAK nor an error report: 1 sends
    // the record again (counted), 0 ends the send with the error set, 2
    // ends it as accepted.
    virtual int Recover(const CChrArr& frame) = 0;
    // DLE and its second byte (Optimus, Hida): 1 accepted, 0 failed.
    int HandleDle();
    // What the PC does when the register answers DLE 0x2C: the Optimus ends
    // its turn with EOT, the Hida opens the link again. 1 / 0.
    virtual int NewLink() { return SendEOT(); }
    // The register's 13-character status frame after DLE 0x40 (the PC's EOT
    // and the register's ENQ done): the code at positions 6-7 (0 or not
    // digits: 999), then its EOT answered with EOT. 1 when all went through.
    int ReadStatusFrame(int& code);
    bool Aborted();

    const RecordLinkTraits m_traits;

private:
    bool m_registersTurn = false;   // the register's turn is open (its ENQ answered, no EOT since)
};
