// An Elcom 50 register on the master side of a pseudo-terminal: it parses
// the request lines (COMMAND TAB "REQ" [TAB params] LF), keeps the PLU,
// department, unit and tax-group tables, answers device information and the
// PLU zeroing report, and can be told to answer a request wrongly.
//
//   Elcom50Emulator reg(1, 24);          // port 1, model 24 (1980 PLUs)
//   reg.Start();
//   reg.Inject({"GETREC", "PLU\t5", Elcom50Emulator::Answer::Status, "2147942409"});
//   ... run the library ...
//   reg.Requests();                      // every request line, LF cut off
//
// Tables hold the texts as the register received them; a PLU that was never
// written reads back with a blank name (spaces to the model's name width),
// tax group 0 and department 0.
// The register refuses everything but CONNECT while not connected
// (0x8007000A) and SETREC/GETREC without a header (0x8006001B).
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/emulator_base.h"

namespace orv::test {

class Elcom50Emulator : public EmulatorBase {
public:
    struct PluRow {
        std::string price = "0.00";
        std::string name;
        std::string tax = "0";
        std::string barcode;
        std::string dpt = "0";
        std::string unit = "0";
        std::string link = "0";
        std::string other = "0";
        std::string quantity = "0";
        std::string amount = "0";
    };
    struct TaxGroup {
        std::string rate = "0.00";
        int type = 0;    // 1 rate, 2 exempt, other undefined
    };
    enum class Answer {
        Status,          // the usual answer with `text` as its status field
        WrongHead,       // answers as if to the command named in `text` (default "GETDEVSTATE")
        BadByte,         // the head is followed by `text` (default "X") instead of TAB or LF
        MissingFields,   // the usual answer cut to the status and atoi(`text`) fields
        Silence,         // no answer at all
        Raw,             // `text` sent as it is
    };
    struct Injection {
        std::string command;       // request command
        std::string key;           // "" any; else the first two parameters ("PLU\t5") or all of them
        Answer answer = Answer::Status;
        std::string text;
        int times = 1;             // how many requests it answers; -1 for ever
    };

    explicit Elcom50Emulator(int port = 1, int model = 24);
    ~Elcom50Emulator() override;

    int model() const { return m_model; }
    int maxRecord() const { return m_model == 25 ? 14980 : 1980; }

    // ---- tables ----
    void SetPlu(uint32_t number, const PluRow& row);
    std::optional<PluRow> Plu(uint32_t number) const;     // only rows written or set
    size_t PluCount() const;
    void SetSale(uint32_t number, const std::string& quantity, const std::string& amount);
    void SetDept(uint32_t number, const std::string& name);
    std::string Dept(uint32_t number) const;
    void SetUnit(uint32_t number, const std::string& name);
    std::string Unit(uint32_t number) const;
    void SetTaxGroup(int group, const std::string& rate, int type);
    void SetDevInfo(const std::vector<std::string>& fields);
    int ZeroingReports() const;

    // ---- what was asked ----
    std::vector<std::string> Requests() const;             // request lines without their LF
    void ClearRequests();
    int CountRequests(const std::string& command) const;
    bool Connected() const;

    // ---- long runs (the simulator) ----
    void SetRecording(bool on);                            // off: request lines are not kept
    void SetAnswerDelay(int ms);                           // every answer that much later
    // Every answer in pieces of 1..maxChunk bytes (a fixed pseudo-random
    // sequence), each gapMs after the one before; maxChunk 0 turns it off.
    void SetChunking(int maxChunk, int gapMs);

    // ---- wrong answers ----
    void Inject(const Injection& injection);
    void ClearInjections();

protected:
    void OnReceive(const uint8_t* data, size_t n) override;

private:
    void HandleLine(const std::string& line);
    std::string Respond(const std::string& command, const std::vector<std::string>& params);
    std::string GetRecord(const std::vector<std::string>& params);
    std::string SetRecord(const std::vector<std::string>& params);
    std::string SetHead(const std::vector<std::string>& params);
    bool TakeInjection(const std::string& command, const std::vector<std::string>& params, Injection& out);

    const int m_model;
    std::string m_line;

    mutable std::mutex m_state;
    std::map<uint32_t, PluRow> m_plu;
    std::vector<std::string> m_dept;
    std::vector<std::string> m_unit;
    std::vector<TaxGroup> m_tax;
    std::vector<std::string> m_devInfo;
    std::vector<std::string> m_requests;
    std::vector<Injection> m_injections;
    std::vector<std::string> m_head;     // table, then columns
    bool m_connected = false;
    int m_zReports = 0;
    bool m_recording = true;
    int m_delayMs = 0;
    int m_chunkMax = 0;
    int m_chunkGapMs = 0;
    uint32_t m_chunkSeed = 1;
};

// Status codes the emulator answers with.
constexpr uint32_t kEl50MissingParameter = 0x80020005u;
constexpr uint32_t kEl50UnsupportedOperation = 0x80050010u;
constexpr uint32_t kEl50UnknownRecord = 0x80060007u;
constexpr uint32_t kEl50UnsupportedTable = 0x80060009u;
constexpr uint32_t kEl50UnknownAttribute = 0x8006000Au;
constexpr uint32_t kEl50NoHeader = 0x8006001Bu;
constexpr uint32_t kEl50Refused = 0x8007000Au;

}  // namespace orv::test
