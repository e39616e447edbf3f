// A Novitus register on the Tango protocol, as a state machine on a byte
// stream: bytes from the PC go in through Feed(), the register's bytes come
// out through the sink. The front ends (a pseudo-terminal, a loopback TCP
// server: tango_emulator.h) carry the bytes.
//
// The register grants the line to an ENQ with ACK, checks each frame's
// checksum (a bad one gets NAK), answers a good one with ACK, and after the
// PC's EOT takes the line (ENQ), sends its reply frames one by one (each
// waiting for ACK; NAK repeats it) and ends with EOT. A refused request is
// answered with "@" instead of ACK; the PC then fetches the 40-byte error
// status frame in a turn of the register's.
//
// It keeps goods (the 126-byte records, keyed by their 18-byte code field),
// departments (the 39-byte records), units (16 bytes), the tax table, the
// status texts, the sale counters of both reports and the sale positions:
//   "M", "e", "0"          status text, further status, tax table
//   "H" "1" + D            writes a department; "H" other digit: reads a range
//   "I#00" "0"             goods with codes in the key range (one when the keys are equal)
//   "I#01" "0", "1" + D    reads units in a number range; writes one ("I#" + record)
//   "I" "1" + D            deletes the goods item (its record follows)
//   "h" "1" + D            writes a goods item: the 126-byte record, or the
//                          Tango register's 75-byte one
//   "d", "U" "0"/"2"       PLU report (117 bytes) / second report (92 bytes);
//                          "2" clears the counters
//   "O" "2"                sale positions (70 bytes, 119 with a line text)
// Unknown requests get "@" with 102; a delete of an unknown item, 8; a goods
// record with a bad tax letter, 9.
//
// Record layouts of the reports and positions (1-based positions):
//   report:   1 letter, 2-19 code, 20-24 PLU number, 25-64 name,
//             65-78 quantity (thousandths), 79-92 value (hundredths),
//             93-117 blanks ("d" only)
//   position: 1-6 number, 7-11 PLU number, 12-29 code, 30-49 name,
//             50-60 quantity (thousandths), 61-70 value (hundredths),
//             71-102 line text and 103-119 blanks (long form)
//   unit:     1-2 number, 3-16 name
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "sim/emulator_base.h"

namespace orv::test {

class TangoDevice {
public:
    static constexpr uint8_t STX = 0x02, ETX = 0x03, EOT = 0x04, ENQ = 0x05, ACK = 0x06, TAB = 0x09, NAK = 0x15,
                             ETB = 0x17, AT = 0x40;

    enum class Fault {
        EnqTab,            // TAB instead of ACK to an ENQ
        EnqAt,             // "@" to an ENQ
        EnqGarbage,        // a wrong byte to an ENQ
        EnqSilence,        // nothing to an ENQ
        FrameNak,          // NAK to a good PC frame
        FrameAt,           // "@" to a PC frame; arg: the code; text: a status body of its own
        FrameGarbage,      // arg wrong bytes instead of the ACK (1 when 0)
        FrameTabs,         // arg TABs instead of the ACK
        FrameSilence,      // nothing to a good PC frame
        NoEnq,             // nothing when the PC hands the line over
        NoEot,             // nothing after the last reply frame's ACK
        ReplyBadChecksum,  // the next reply frame with a wrong checksum (its repeat is good)
        ReplyLowerCase,    // the next reply frame's checksum in lower-case digits
        ReplyTabs,         // arg TABs before the next reply frame
        ReplyGarbage,      // arg wrong bytes instead of the next reply frame (a NAK brings it)
        ReplyEot,          // EOT instead of the next reply frame
        ReplySilence,      // nothing instead of the next reply frame (a NAK brings it)
        ReplyLate,         // the next reply frame arg (real) milliseconds late
        ReplyShort,        // the next reply frame without its last arg bytes
        Reset,             // the register forgets the turn when it would send its first reply
    };

    // Where the register's bytes go: the bytes and a delay in (real) ms.
    using Sink = std::function<void(const Bytes& bytes, int delayMs)>;

    // One frame received from the PC (a good one).
    struct Frame {
        char type = 0;
        std::string body;
    };

    TangoDevice();
    void SetSink(Sink sink);
    void Feed(const uint8_t* data, size_t n);
    // The line was dropped (a TCP connection ended): back to idle.
    void ResetLine();

    // ---- faults (each queued fault is used `count` times, in order) ----
    void QueueFault(Fault fault, int count = 1, int arg = 0, const std::string& text = std::string());
    void ClearFaults();
    // Sends every output in pieces of 1 to 3 bytes.
    void SetSegmented(bool on);
    // Called for every good PC frame before the register answers it (on the
    // front end's thread, with the register locked: the hook must not call
    // the register).
    void SetFrameHook(std::function<void(const Frame&)> hook);

    // ---- state ----
    // A goods record of the 126-byte layout; the register's PLU number is
    // assigned when the item is new.
    void PutGoods(const std::string& record126);
    bool HasGoods(const std::string& code) const;          // code trimmed or padded
    std::string GoodsRecord(const std::string& code) const; // 126 bytes, "" when none
    uint32_t GoodsNumber(const std::string& code) const;
    size_t GoodsCount() const;
    void PutDept(const std::string& record39);
    std::string DeptRecord(uint32_t number) const;
    void PutUnit(uint32_t number, const std::string& name852);
    std::string UnitRecord(uint32_t number) const;
    void SetTaxTable(const std::vector<std::string>& entries);   // seven 4-byte entries
    void SetStatusText(const std::string& text10);
    void SetMoreStatus(const std::string& a4, const std::string& b4, const std::string& c5);
    struct Sale {
        std::string code;         // as the goods record's code field, or trimmed
        uint32_t plu = 0;
        std::string name;         // CP852
        uint64_t quantity = 0;    // thousandths
        uint64_t value = 0;       // hundredths
        uint32_t position = 0;    // positions only
        std::string text;         // positions only: a line text makes the long form
    };
    void SetSales(const std::vector<Sale>& sales);
    size_t SaleCount() const;
    void SetPositions(const std::vector<Sale>& positions);
    // How the register writes the sale counters (quantity, value) of its
    // reports and positions and the number of a unit record: zero-padded,
    // blank-padded, or zero-padded behind a sign.
    enum class NumberStyle { Zeros, Blanks, Signed };
    void SetNumberStyle(NumberStyle style);

    // A goods record (126 bytes) from its fields, as a register holds it.
    struct GoodsFields {
        std::string code;         // trimmed; left-padded with blanks
        std::string name;         // CP852, padded to 40
        uint64_t price = 0;       // hundredths
        char tax = 'A';
        int digit = 0;
        uint16_t flags = 0;
        int dept = 1;
        int number2 = 0;
        std::string code2;
        int unit = 1;
    };
    static std::string MakeGoodsRecord(const GoodsFields& f);
    static std::string BuildFrame(char type, const std::string& body, uint8_t terminator = ETX);
    static uint16_t Checksum(const std::string& covered);

    // ---- what the PC sent ----
    std::vector<Frame> Frames() const;    // every good frame, repeats included
    std::vector<std::string> Requests() const;   // bodies of the "S" frames
    int EnqCount() const;
    int NakCount() const;                         // NAKs the PC sent
    void ClearLog();
    // Frames are kept for Frames() (default on; a long simulator run turns it off).
    void SetRecording(bool on);

private:
    enum class State { Idle, PcTurn, DevAsk, DevFrame, DevEnd };
    struct QueuedFault {
        Fault fault;
        int count;
        int arg;
        std::string text;
    };

    void OnByte(uint8_t b);
    void OnEnq();
    void OnPcFrame(const std::string& raw);
    void Process(const Frame& f);
    void StartReply();
    void SendNextFrame();
    void SendCurrentFrame(bool clean);
    void Out(const Bytes& bytes, int delayMs = 0);
    void Out(uint8_t b) { Out(Bytes{b}); }
    bool TakeFault(Fault f, int* arg = nullptr, std::string* text = nullptr);
    void Refuse(int code, const std::string& body = std::string());
    std::string ErrorStatus(int code) const;
    // Requests.
    void HandleRequest(const std::string& body);
    void HandleRecord(const std::string& body);
    std::vector<std::string> GoodsInRange(const std::string& from, const std::string& to) const;
    std::string GoodsReply(const std::string& key) const;
    std::string ReportLine(char report, const Sale& s) const;
    std::string PositionRecord(const Sale& s) const;
    // A number of the given width in the register's number style.
    std::string Styled(uint64_t v, int width) const;
    std::string FromShortRecord(const std::string& rec75) const;

    mutable std::mutex m_mutex;
    Sink m_sink;
    std::function<void(const Frame&)> m_hook;
    std::deque<QueuedFault> m_faults;
    bool m_segmented = false;

    // line state
    State m_state = State::Idle;
    bool m_inFrame = false;
    std::string m_raw;               // the frame being received, STX excluded
    int m_tail = -1;                 // checksum digits still awaited
    bool m_lastEnqTab = false;
    std::string m_request;           // the "S" body awaiting its "D"
    bool m_complete = false;         // the PC's part of the turn is done
    std::vector<std::string> m_replies;
    size_t m_next = 0;
    std::string m_current;           // the frame in flight
    int m_repeats = 0;

    // register state
    struct GoodsEntry {
        uint32_t number = 0;
        std::string record;          // 126 bytes
    };
    std::map<std::string, GoodsEntry> m_goods;   // by the 18-byte code field
    uint32_t m_nextNumber = 1;
    std::map<uint32_t, std::string> m_depts;
    std::map<uint32_t, std::string> m_units;
    std::vector<std::string> m_tax = {"2300", "0800", "0500", "0000", "9999", "FFFF", "FFFF"};
    std::string m_status = "SIM0000001";
    std::string m_more[3] = {"0100", "0200", "00300"};
    std::vector<Sale> m_sales;
    std::vector<Sale> m_positions;
    NumberStyle m_numbers = NumberStyle::Zeros;

    // log
    std::vector<Frame> m_frames;
    int m_enqs = 0;
    int m_naks = 0;
    bool m_recording = true;
};

}  // namespace orv::test
