// What the serial-family fuzz targets share: the fuzz input is everything a
// register answers. Its first byte picks the job, the second the device type
// of the family; the rest is a list of answers, each a length byte and that
// many bytes. Whenever the library waits for input and none is queued, the
// fake serial line hands it the next answer (length 0: nothing this time, so
// the wait runs out); once the list is used up the register is silent. The
// job runs at time scale 0: no wait of the library takes real time (a wait
// with nothing to feed ends at once as a time-out).
//
// After each job the harness checks the library's promises and aborts (a
// crash for the fuzzer) when one is broken: the job ends (in wall time and
// within a bound of waits for input), a failed job or item carries a nonzero
// code and a text, texts handed to the host are zero-terminated, an error
// event carries a code, a job that asked a register that sent nothing at
// all never succeeds, and the records handed to the host hold what the
// answers held (see fuzz/README.md).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace orv::fuzz {

using Bytes = std::vector<uint8_t>;

enum class SerialJob : uint8_t {
    ReadVat, ReadStatus, ProgramGoods, ReadGoodsByList, ReadAllGoods, ReadSales, ClearSales, Count
};
const char* JobName(SerialJob job);

struct SerialFamily {
    const char* name;
    std::vector<int> types;    // device type codes of the family
    int baud = 9600;
    // For the content check (see README): how the register's bytes become
    // host text where it has a character set of its own (byte for byte;
    // empty: ASCII as it stands), into how many pieces sent apart a host text
    // may have been joined (long names sent in two parts), and the widths of
    // numbers sent in binary (barcodes, prices, rates; none: as text only).
    std::function<Bytes(const Bytes&)> textMap;
    int textPieces = 1;
    std::vector<int> binaryWidths;
    int word7 = 0;             // the device record's word 7 (scale address, machine number)
    int word6 = 0;             // its word 6 (the bus controller's channel port)
    int kind = 0;              // the connection kind
    // USB HID: the answers are the bus controller's reports (each answer
    // one report) on the scripted HID bus, not bytes on a serial line.
    bool usb = false;
    // TCP: the answers come over a loopback connection, one to each piece
    // the library writes (at a slower clock: the library's waits take real
    // time); the device record carries the peer's address.
    bool tcp = false;
    // A read by list hands back the host's item with what the register
    // holds filled in: its texts may also come from the host's item and from
    // the request the library wrote.
    bool echoesRequest = false;
};

// A text map for registers that send texts as hexadecimal digit pairs: the
// stream decoded at both alignments (a zero byte between them).
Bytes HexPairs(const Bytes& bytes);
// A text map for registers that send a record in groups of seven bytes with
// bit 7 set on all, each group followed by a byte holding their bits 7: the
// stream decoded from each of the eight possible group starts (a zero byte
// between them).
Bytes SevenBitGroups(const Bytes& bytes);
// A text map for registers that send numbers and codes in packed BCD: every
// byte as its two hexadecimal digits.
Bytes BcdDigits(const Bytes& bytes);

}  // namespace orv::fuzz
namespace orv::test {
class FakeHidBus;
}
namespace orv::fuzz {

// The scripted HID bus the USB families run on.
orv::test::FakeHidBus& UsbBus();

// Runs one fuzz input; always returns 0 (a broken promise aborts).
int RunSerialInput(const SerialFamily& family, const uint8_t* data, size_t size);

// For the seed corpora: the input that picks `job` and type index `typeIndex`
// with these answers (answers longer than 255 bytes are split).
Bytes EncodeInput(SerialJob job, size_t typeIndex, const std::vector<Bytes>& answers);

// Runs one job with the line answered by `answer` (the bytes the library wrote
// since the last call -> the register's answer) at real time; returns the
// answers handed over, in order. Used to record seeds from the emulators.
std::vector<Bytes> RecordJob(const SerialFamily& family, SerialJob job, size_t typeIndex,
                             const std::function<Bytes(const Bytes&)>& answer);

}  // namespace orv::fuzz
