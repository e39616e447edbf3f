// The reader of answer frames that begin with one start byte and end with
// one end byte (the DSA registers: STX .. ETX; the Adax registers: 0x03 ..
// 0x04). Each link gives its bytes, bounds and codes, and a check that
// judges a complete frame (and takes over its sequence number).
//
// How a frame is read:
//   - before each attempt, bytes already waiting that hold no start byte are
//     dropped up to and including an end byte; when they hold neither, the
//     junk wait passes and, if still neither has come, the input is emptied
//     and 0.2 s pass; bytes before a start byte are dropped;
//   - one byte is awaited, 50 s for the first attempt and 5 s later on; a
//     byte other than the start byte gives the "no start" code;
//   - after the start byte the bytes up to the end byte are read (at most
//     `longest`, 1 s); line noise may hold a start byte of its own, so the
//     frame is what follows the last start byte before the first end byte;
//   - more than `shortest` bytes: not closed by the end byte gives the "no
//     end" code, a failed check the "check" code; fewer keep the transport
//     error (9999 when there is none);
//   - time-outs and frames begun by the start byte count as attempts (the
//     link's retry count bounds them); stray bytes and other transport
//     errors are bounded on their own (7 passes). A bad frame's code
//     outlives later pure time-outs. A break (-7) ends the read at once.
#pragma once

#include <cstdint>
#include <functional>

#include "comm/telepathy_ecr.h"
#include "util/chrarr.h"

struct FrameReaderSpec {
    uint8_t start;
    uint8_t end;
    double junkWait;   // seconds waited for a frame when only junk stands in the input
    int longest;       // most bytes read after the start byte
    int shortest;      // a frame has more than this many bytes after the start byte
    int codeNoStart;   // a byte other than the start byte came first
    int codeNoEnd;     // the frame is not closed by the end byte
    int codeCheck;     // the frame's check failed
};

// The bytes after the start byte up to and including the end byte; true
// when the frame is good (the link then takes over its sequence number).
using FrameCheck = std::function<bool(const CChrArr& frame)>;
// Every piece of bytes taken from the line (a link's data log).
using FrameLog = std::function<void(const CChrArr& bytes)>;

// One good frame of the link's line (the bytes after the start byte up to
// and including the end byte, error 0), or an empty array with the link's
// error set. Uses the link's serial service, port and retry count.
CChrArr ReadStartEndFrame(CTelepathyECR& link, const FrameReaderSpec& spec, const FrameCheck& check,
                          const FrameLog& log = {});
