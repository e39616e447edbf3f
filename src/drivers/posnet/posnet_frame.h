// CPosnetFrameLink: the steps both serial Posnet protocols share (the
// Perfekt/Bingo registers and the Posnet ECR). A frame is
//
//   ESC <lead> payload checksum ESC '\'
//
// with the checksum 0xFF XOR every payload byte as two upper-case
// hexadecimal digits. The lead letter and the shortest acceptable reply are
// the protocol's own. Every operation returns 1, or 0 with the error field
// set.
#pragma once

#include <cstdint>
#include <string>

#include "comm/telepathy_ecr.h"
#include "util/chrarr.h"

// Codes of the frame steps.
enum : int {
    POSNET_ERR_SHORT_WRITE = 10,     // fewer bytes written than the frame holds
    POSNET_ERR_BAD_REPLY = 9999,     // no usable reply (too short, unparsable, unexpected)
    POSNET_ERR_BAD_END = 10002,      // the byte after the closing ESC is not '\'
    POSNET_ERR_NO_ESC = 10004,       // the reply is not ended by ESC
    POSNET_ERR_BAD_LEAD = 10006,     // the reply does not begin with ESC and the lead letter
};

class CPosnetFrameLink : public CTelepathyECR {
public:
    struct Traits {
        uint8_t lead = 'R';          // second byte of every frame
        int shortestReply = 6;       // bytes up to and including the closing ESC
        // A reply shorter than that (also bytes that came without an ESC in
        // time): true reports the read's own code (9999 when it had none),
        // false 9999.
        bool shortTakesReadCode = false;
    };

    explicit CPosnetFrameLink(const Traits& traits) : m_traits(traits) {}

    using CTelepathyECR::Open;
    // The baud given, 8N1, 1024-byte queues, no CTS wait, line options 2 and
    // 3 off, DTR and RTS on, XON/XOFF setting 3, both queues flushed. A
    // failure after the line was opened closes it again.
    int Open(int port, int baud) override;

    static uint8_t CalcChecksum(const CChrArr& bytes);
    static CChrArr ChecksumText(const CChrArr& bytes);   // two upper-case hex digits
    // The whole frame of a payload.
    CChrArr BuildFrame(const CChrArr& payload) const;

    // Sends one frame: a break already asked for sends nothing (-7); earlier
    // output is let out, a late answer to an earlier frame and any other
    // stale input dropped; then the frame is dumped, written and drained.
    int SendFrame(const CChrArr& payload);
    // Reads one reply: the bytes after the lead up to the closing ESC (that
    // ESC cut off, the checksum digits kept). Empty with the error set on
    // failure: the read's code for no answer at all (-5 for silence),
    // 10006, 10004, 10002, or 9999 / the read's code for a short reply.
    CChrArr ReceiveFrame();

    // Texts of the registers' own codes 1..77 (the Perfekt also knows 44-47);
    // null for codes the table does not hold.
    static const char* RegisterText(int code, bool withDeleteCodes);

protected:
    // Waits for an overdue answer, then drops stale input. 1 / 0 (error set).
    int DropStaleInput();
    bool IsAborted() const;

private:
    CChrArr ReadCounted(int n);          // dumped; the port's error into m_lastReadError
    void NoteReadTimeout(const CChrArr& got);

    Traits m_traits;
    int m_lastReadError = 0;
    bool m_bAnswerOverdue = false;       // a reply timed out and may still come
    bool m_bSilent = false;              // nothing came through such a wait
};
