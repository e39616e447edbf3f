// A Posnet Perfekt or Bingo register on the master side of a pseudo-terminal.
// It takes frames ESC 'R' payload checksum ESC '\' (checking the checksum),
// keeps goods with their sales counters and the VAT field as received,
// departments 1..10, seven VAT fields and the status fields, and answers
// "$z", "$s", "$r", "$b", "#p" and "#d" in the layout of its variant
// (1 and 4 long goods records, 4 with four more fields and departments;
// 2 and 3 the short record):
//
//   PerfektEmulator reg(1, 4);             // port 1, variant 4
//   reg.Start();
//   reg.Inject({"#p", PerfektEmulator::Fault::Refuse, 19});   // next "#p" refused with 19
//   ... run the library ...
//   reg.Frames();                          // every frame received
//
// A refusal answers "#Z", the command's name and the code. An unknown PLU
// reads as "#Z$r20", an undefined department as "#Z$r111", an empty goods
// base walks as "#Z$b0". Writing a PLU zeroes its sales counters. Some
// registers end the code as they end every other field:
//
//   reg.SetCodeEnd("\t");                  // "#Z#p0" TAB, before Start()
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/posnet/posnet_emulator.h"

namespace orv::test {

struct PerfektEmuPlu {
    std::string name = "                ";   // 16 bytes in Mazovia, as received
    std::string code = "0000000000000";      // 13 characters; all zeros: none
    std::string price = "0";                 // hundredths, as received
    std::string flagA = "0";
    std::string flagB = "0";
    std::vector<std::string> extra = {"1", "0", "1", "1"};   // variant 4's four fields
    std::string link = "0";
    std::string vat = "0";                   // the VAT field as received (0..6 for groups 1..7)
    int64_t quantity = 0;                    // sold, thousandths
    int64_t value = 0;                       // sold, hundredths
};

enum class PerfektFault {
    Silence,        // no answer
    Late,           // the answer `arg` ms late
    Noise,          // `arg` (default 8) bytes of noise, then the answer
    WrongLead,      // ESC 'P' instead of ESC 'R'
    WrongEnd,       // the closing ESC followed by 'X' instead of '\'
    NoClosingEsc,   // the answer without its closing ESC '\'
    Short,          // ESC 'R', the first `arg` payload bytes, ESC '\'
    Split,          // the answer in pieces of `arg` (default 3) bytes, 20 ms apart
    Refuse,         // "#Z", the command and code `arg` (the command is not carried out)
    RepeatNext,     // a "$b" answer names its own PLU as the next one
    HangUp,         // the line goes away instead of an answer
    Raw,            // `text` framed as the answer (checksum added)
    Unframed,       // ESC 'R', `text` as it stands (no checksum added), ESC '\'
};
struct PerfektInjection {
    std::string command;    // "" for any
    PerfektFault fault = PerfektFault::Silence;
    int arg = 0;
    std::string text;
    int times = 1;          // answers it applies to; -1 for ever
    int skip = 0;           // matching commands answered normally first
};
struct PerfektFrame {
    Bytes raw;              // ESC 'R' ... ESC '\'
    std::string command;    // two characters
    std::string body;       // after the command, before the checksum
    bool checksumOk = true;
};

class PerfektEmulator : public PosnetEmulator<PerfektFrame, PerfektInjection> {
public:
    using Fault = PerfektFault;
    using Injection = PerfektInjection;
    using Frame = PerfektFrame;

    explicit PerfektEmulator(int port = 1, int variant = 1);
    ~PerfektEmulator() override;

    int variant() const { return m_variant; }
    bool LongLayout() const { return m_variant != 2 && m_variant != 3; }

    // ---- state ----
    void SetPlu(uint32_t number, const PerfektEmuPlu& plu);
    std::optional<PerfektEmuPlu> Plu(uint32_t number) const;
    size_t PluCount() const;
    void SetSale(uint32_t number, int64_t quantityThousandths, int64_t valueHundredths);
    void SetDept(uint32_t number, const std::string& mazoviaName);   // "" undefines it
    std::string Dept(uint32_t number) const;
    void SetVatFields(const std::vector<std::string>& fields);       // sent each with a TAB
    void SetStatusFields(const std::string& fields);                  // the "$Z" answer after its code
    // The bytes after the code of every "#Z" answer ("" by default, or a
    // field terminator); set before Start().
    void SetCodeEnd(const std::string& end) { m_codeEnd = end; }

    // ---- what was received ----
    std::vector<std::string> Commands() const;   // command + body of each frame

    // A framed answer: ESC 'R' payload checksum ESC '\'.
    static Bytes Framed(const std::string& payload, uint8_t lead = 'R');

protected:
    void OnReceive(const uint8_t* data, size_t n) override;

private:
    void Handle(const Frame& frame);
    std::string Answer(const Frame& frame, bool repeatNext);
    std::string PluRecord(const PerfektEmuPlu& plu) const;
    std::string ReadRecord(const std::string& body);
    std::string Walk(const std::string& body, bool repeatNext);
    std::string Program(const std::string& body);
    std::string Delete(const std::string& body);
    // "#Z", the command and the code, ended as this register ends it.
    std::string Refused(const std::string& command, int code) const;

    const int m_variant;
    std::map<uint32_t, PerfektEmuPlu> m_plu;
    std::vector<std::string> m_dept;             // 1..10 at 0..9, "" undefined
    std::vector<std::string> m_vat;
    std::string m_status;
    std::string m_codeEnd;
};

}  // namespace orv::test
