// A Posnet ECR register (device type 21) on the master side of a
// pseudo-terminal. It takes frames ESC 'P' command sequence CR data checksum
// ESC '\' (checking the checksum) and answers with the request's sequence:
//
//   ",a"  status 0 and two numbers; the goods list starts again
//   "*a"  20 fields: status, two numbers, ten more, rates A..F, the index
//         of the last defined rate
//   "*b"  7 fields: status, a number, the goods count, a number, the field
//         mask, a number, a number
//   "(k"  the first goods record, "(l" the next one; status 91 past the end
//
// A record reply is the status and eleven fields: number, name, VAT group,
// barcode, price, two flags, department, a number, sold value, sold
// quantity.
//
//   PosnetEcrEmulator reg(1);
//   reg.SetRecord(5, {...});
//   reg.Inject({"(l", PosnetEcrEmulator::Fault::Status, 55});
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "sim/posnet/posnet_emulator.h"

namespace orv::test {

struct PosnetEcrEmuRecord {
    std::string name;
    std::string vat = "1";
    std::string barcode = "0000000000000";
    std::string price = "0.00";
    std::string flagA = "0";
    std::string flagB = "0";
    std::string dept = "1";
    std::string extra = "0";
    std::string value = "0.00";
    std::string quantity = "0.000";
};

enum class PosnetEcrFault {
    Silence,         // no answer
    Late,            // the answer `arg` ms late
    Garbage,         // `arg` (default 8) bytes of noise instead of the answer
    WrongSequence,   // the answer carries the next sequence number
    BadChecksum,     // the answer's checksum is off by one bit
    MissingCr,       // the data does not begin with CR
    Status,          // the data is only the status `arg`
    Raw,             // the data is CR + `text`
    Split,           // the answer in pieces of `arg` (default 3) bytes, 20 ms apart
    HangUp,          // the line goes away instead of an answer
    WrongLead,       // ESC 'R' instead of ESC 'P'
    WrongEnd,        // the closing ESC followed by 'X' instead of '\'
    NoClosingEsc,    // the answer without its closing ESC '\'
};
struct PosnetEcrInjection {
    std::string command;    // "" for any
    PosnetEcrFault fault = PosnetEcrFault::Silence;
    int arg = 0;
    std::string text;
    int times = 1;          // -1 for ever
    int skip = 0;           // matching commands answered normally first
};
struct PosnetEcrFrame {
    Bytes raw;
    std::string command;
    int sequence = -1;
    std::string data;       // after the sequence's CR, before the checksum
    bool checksumOk = true;
};

class PosnetEcrEmulator : public PosnetEmulator<PosnetEcrFrame, PosnetEcrInjection> {
public:
    using Fault = PosnetEcrFault;
    using Injection = PosnetEcrInjection;
    using Frame = PosnetEcrFrame;

    explicit PosnetEcrEmulator(int port = 1);
    ~PosnetEcrEmulator() override;

    void SetRecord(uint32_t number, const PosnetEcrEmuRecord& record);
    void ClearRecords();
    void SetMask(uint32_t mask);
    // Record replies with only the first n fields after the status (0: all).
    void SetRecordFields(size_t n);
    // The count "*b" reports; -1 (default) the number of records; `text`
    // other than "" replaces it as it stands.
    void SetReportedCount(const std::string& text);
    void SetRates(const std::vector<std::string>& sixRates, const std::string& lastIndex);

    std::vector<std::string> Commands() const;   // command + sequence digits of each frame


    // A framed answer with the command, sequence and data given.
    static Bytes Framed(const std::string& command, int sequence, const std::string& data);

protected:
    void OnReceive(const uint8_t* data, size_t n) override;

private:
    void Handle(const Frame& frame);
    std::string Answer(const Frame& frame);

    std::map<uint32_t, PosnetEcrEmuRecord> m_records;
    std::map<uint32_t, PosnetEcrEmuRecord>::const_iterator m_position;
    bool m_positionValid = false;
    uint32_t m_mask = 0x80F;
    size_t m_recordFields = 0;
    std::string m_reportedCount;
    std::vector<std::string> m_rates = {"23.00", "8.00", "5.00", "0.00", "0.00", "0.00"};
    std::string m_lastRate = "3";
};

}  // namespace orv::test
