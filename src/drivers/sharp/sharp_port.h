// CSharpPort: the byte layer every Sharp link shares: sending and reading
// with 5-second limits and the traffic dumps, pauses a break ends, the
// negated byte-sum checksum, the note of a silent register or failed port,
// and the Sharp error texts.
#pragma once

#include <cstdint>
#include <string>

#include "comm/telepathy_ecr.h"
#include "drivers/sharp/sharp_records.h"
#include "util/chrarr.h"

class CSharpPort : public CTelepathyECR {
public:
    static constexpr uint8_t CR = 0x0D;

    std::string GetErrorText(int code) override { return SharpErrorText(code); }
    void Close();

    // Opens the line: 1024-byte queues, the baud, the data bits and parity,
    // 1 stop bit, both queues flushed. 1, or 0 with the error (the line is
    // closed again when its set-up fails).
    int OpenLine(int port, int baud, int dataBits, char parity);

    // Dumped as sent; empty -> 1; a port error or a short write (10) -> 0.
    // Nothing is sent once the user has broken off (-7).
    int SendBytes(const CChrArr& bytes);
    int SendByte(uint8_t byte) { return SendBytes(CChrArr(1, byte)); }
    // Exactly count bytes (5 s), dumped; empty after a port error.
    CChrArr ReadBytes(int count);
    uint8_t ReadByte();   // 0 when nothing came
    // Up to and including CR, at most maxLength bytes (5 s); empty after a
    // port error.
    CChrArr ReadUntilCR(int maxLength);
    // A pause that a break ends: 1, or 0 with -7.
    int Pause(double seconds);

    // The sum of the bytes, negated, modulo 256.
    static uint8_t Checksum(const CChrArr& bytes);

    // The transport code behind the last failure when the register did
    // not answer or the port failed (-1..-10 but -7), else 0: a 9999 may
    // stand for silence. Any byte heard from the register clears it, so a
    // register that answered a later try is not taken for silent.
    int NoAnswerCode() const { return m_nNoAnswer; }
    // Whether a failure with this code came for want of an answer: a
    // transport code other than a break, or 9999 standing for silence.
    bool IsSilence(int code) const {
        return (code <= -1 && code >= -10 && code != -7) || (code == kSharpNoAnswer && m_nNoAnswer != 0);
    }

protected:
    void NoteTransport(int code);
    // Clears the error and the silence note at the start of a transfer.
    void BeginTransfer();
    // Leaves `fallback` where a failure left no code; returns 0.
    int Failed(int fallback = kSharpNoAnswer);

    int m_nNoAnswer = 0;

private:
    CChrArr TakeRead(CChrArr bytes, void (*dump)(const CChrArr&));
};
