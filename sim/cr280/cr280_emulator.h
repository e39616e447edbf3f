// An emulator of the CR-280 register, of the Optimus registers' link and of
// the Hida registers, on a pseudo-terminal.
//
// The PC's turn: frames STX (Optimus: a command letter) text ETX check
// (XOR of everything between STX and the check) are answered ACK, or NAK
// when the check is wrong. After the PC's EOT the last record accepted is
// carried out:
//   "Zp" clears the sales; "P0" + 39 characters programs an item (code 13,
//   department 2 or "FF", VAT/flag 4, price 8, name 12);
//   "p0" / "p1" + from 13 + to 13 asks for the goods / the sales of the
//   codes from..to, "d" for the departments: the register's turn follows.
// The register's turn: ENQ, the PC's ACK, then each record (waiting for the
// PC's ACK; NAK: the record again), then EOT. Goods and sales records are
// 55 characters ("P0", code 13, department 2, VAT/flag 4 as "VVFF", price 8,
// name 12, quantity 4, value 10, hundredths); departments 31 ("D00", number
// 2, name 12, value 8, field 2, VAT/flag 4). ENQ from the PC (the Optimus
// ready poll) is answered ACK. In its turn the register takes only the
// PC's ACK, NAK and EOT (EOT ends the turn) and waits there for as long as
// the PC leaves it, whatever else comes (a request, an ENQ).
//
// The Hida (Mode::Hida): the PC opens each job with ENQ (answered ACK), sends
// a 39-character header block 'S' ("0101", job letter, kind, from 13, to 13,
// flag, date 6) and for programming a data block 'D', then EOT. Goods
// ("01U" + '0' program / '2' delete, code 13, name 12, department 2 or "FF",
// price 8, VAT "GGFF", linked PLU 4) and departments ("01T", number 2,
// name 12, price 8, second value 2, VAT 4) are kept; the register answers a
// programming job with EOT, a read ('U', 'T', 'c' and 'd' with kind 0) with
// its turn of 'D' blocks: goods and departments as programmed (47 and 31
// characters), the first sales pass ("01c", code 13, sign, quantity 7, sign,
// value 9: 34 characters) for the items with a quantity or value, the
// second pass (32 characters) only from SetRawSaleLines. 'c' with kind 2
// clears the sales. QueueStatus makes the register answer the next block
// with DLE '@' and, after the PC's EOT, send its 13-character status block
// ("0101E", the code in 2 digits, "000000").
//
// Faults: QueueAnswer puts raw bytes in place of the next answer to a PC
// frame or ENQ (NAK, a stray byte, nothing, an error record, DLE pairs);
// QueueTurnRecord puts raw bytes in place of the next record of the
// register's turn (a bad check, a short record, EOT, an "S" record). An
// empty byte string is silence.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "sim/emulator_base.h"

namespace orv::test {

struct Cr280EmuItem {
    std::string dept = "01";     // 2 digits or "FF"
    std::string vatFlag = "1000";   // VAT digit, "0", flag digit, "0"
    uint64_t price = 0;          // hundredths
    std::string name;            // 12 bytes in the register's letter codes
    uint64_t quantity = 0;       // sold, hundredths
    uint64_t value = 0;          // sold, hundredths
    uint32_t linked = 0;         // Hida: the linked PLU number
};

struct Cr280EmuDept {
    std::string name;            // 12 bytes
    uint64_t value = 0;
    std::string field = "00";
    std::string vatFlag = "1000";
};

class Cr280Emulator : public EmulatorBase {
public:
    enum class Mode { Cr280, Optimus, Hida };

    Cr280Emulator(int port, Mode mode);
    ~Cr280Emulator() override { Stop(); }

    // ---- state (codes as the register keeps them: 13 characters) ----
    void SetItem(const std::string& code, const Cr280EmuItem& item);
    bool HasItem(const std::string& code) const;
    Cr280EmuItem Item(const std::string& code) const;
    void SetDept(uint32_t number, const Cr280EmuDept& dept);
    // Extra department records sent as they stand (31 characters each).
    void SetRawDepartments(const std::vector<std::string>& records);
    // Hida: extra lines of the first (34 characters) or second (32) sales
    // pass, sent as they stand after the items' lines; cleared with the sales.
    void SetRawSaleLines(int pass, const std::vector<std::string>& lines);
    std::vector<uint32_t> DeptNumbers() const;
    Cr280EmuDept Dept(uint32_t number) const;

    // ---- what the PC sent ----
    std::vector<std::string> Records() const;   // texts of the good frames
    int FramesReceived() const;                 // every frame, good or not
    int EotsReceived() const;
    int EnqsReceived() const;
    void ClearLog();

    // ---- faults ----
    void QueueAnswer(const Bytes& bytes);
    void QueueTurnRecord(const Bytes& bytes);
    // Hida: DLE '@' in answer to the next block, then the status block with
    // this code.
    void QueueStatus(int code);
    // Hida: raw bytes in place of the ACK to the PC's next ENQ (QueueAnswer
    // then serves the blocks only).
    void QueueLinkAnswer(const Bytes& bytes);

    // A frame as the register (or the PC) builds it.
    static Bytes Frame(const std::string& letter, const std::string& text);
    static std::string GoodsRecord(const std::string& code, const Cr280EmuItem& item);
    static std::string DeptRecord(uint32_t number, const Cr280EmuDept& dept);
    static std::string HidaGoodsRecord(const std::string& code, const Cr280EmuItem& item);
    static std::string HidaDeptRecord(uint32_t number, const Cr280EmuDept& dept);

protected:
    void OnReceive(const uint8_t* data, size_t n) override;

private:
    void HandleFrame(const Bytes& frame);
    void Answer(const Bytes& normal, bool fromPc);
    void CarryOut();                 // after the PC's EOT
    void SendTurnRecord();           // the next record of the register's turn, or EOT
    std::string TurnLetter() const;
    Bytes NextAnswer(const Bytes& normal);   // a queued answer in place of the normal one
    void HidaFrame(uint8_t letter, const std::string& text);
    void HidaEnq();
    void HidaEot();
    void HidaCarryOut();             // the job of the PC's turn
    void StartTurn(const std::deque<std::string>& out);

    const Mode m_mode;
    mutable std::mutex m_state;
    std::map<std::string, Cr280EmuItem> m_items;
    std::map<uint32_t, Cr280EmuDept> m_depts;
    std::vector<std::string> m_rawDepts;
    std::vector<std::string> m_records;
    int m_frames = 0, m_eots = 0, m_enqs = 0;
    std::deque<Bytes> m_answers;
    std::deque<Bytes> m_turnFaults;
    std::deque<int> m_statusCodes;
    std::deque<Bytes> m_linkAnswers;
    std::vector<std::string> m_rawSales[2];

    // Emulator thread only.
    Bytes m_buffer;
    bool m_inFrame = false;
    bool m_needCheck = false;
    std::string m_accepted;          // the last record accepted in the PC's turn
    bool m_refused = false;          // the last record of the PC's turn was refused
    enum class Turn { None, WaitAck, Sending } m_turn = Turn::None;
    std::deque<std::string> m_out;   // records of the register's turn
    Bytes m_lastSent;                // for a NAK
    std::vector<std::string> m_job;  // Hida: the blocks of the PC's turn
    int m_status = -1;               // Hida: a status block to send after the PC's EOT
};

}  // namespace orv::test
