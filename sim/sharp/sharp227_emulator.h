// An emulator of the Sharp 227 register (the command link) on a
// pseudo-terminal.
//
// Commands arrive as STX, a letter, 2 checksum digits and ETX and are
// answered ACK (NAK for a bad checksum). "Q" and "p" are followed by data
// blocks (record text, 2 checksum digits, CR) and an end block (the
// checksum of all record texts, SUB), each answered ACK or NAK; the records
// take effect when a good end block arrives: goods by their 14-character
// key (a record whose price is "00000000" and whose name is "-" key "-"
// deletes the goods), departments by their number. "S", "q" and "T" are
// answered with the goods, departments or sales in data blocks and an end
// block, each sent again on NAK (3 times at most). "P" clears the sales.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "sim/emulator_base.h"

namespace orv::test {

class Sharp227Emulator : public EmulatorBase {
public:
    enum class BlockFault { BadChecksum, Noise, Repeat };

    explicit Sharp227Emulator(int port);
    ~Sharp227Emulator() override { Stop(); }

    // ---- state (record texts as on the line) ----
    void SetGoods(const std::map<std::string, std::string>& byKey);
    std::map<std::string, std::string> Goods() const;
    void SetDepartments(const std::map<std::string, std::string>& byNumber);
    std::map<std::string, std::string> Departments() const;
    void SetSales(const std::vector<std::string>& records);
    std::vector<std::string> Sales() const;

    // ---- what the host sent ----
    std::string Commands() const;                 // the letters, in order
    std::vector<std::string> Records() const;     // the record texts of good data blocks
    int NaksSent() const;
    void ClearLog();

    // ---- faults ----
    void NakHostFrames(int count);                // the next frames get NAK
    void SpoilReplyBlock(int nth, BlockFault fault, int copies = 1);   // nth data block of a reply
    void SetReplyDelay(int ms);

    static Bytes DataFrame(const std::string& text);

protected:
    void OnReceive(const uint8_t* data, size_t n) override;

private:
    enum class State { Idle, Command, Receiving, Replying };
    void OnByte(uint8_t b);
    void OnCommand(uint8_t letter);
    void Commit();
    void SendNext();
    void SendCurrent(bool first);
    void Out(const Bytes& bytes);

    mutable std::mutex m_stateMutex;
    std::map<std::string, std::string> m_goods;
    std::map<std::string, std::string> m_depts;
    std::vector<std::string> m_sales;
    std::string m_commands;
    std::vector<std::string> m_records;
    int m_naks = 0;
    int m_nakNext = 0;
    struct Spoil {
        int nth;
        BlockFault fault;
        int copies;
    };
    std::vector<Spoil> m_spoils;
    int m_replyBlocks = 0;
    int m_delayMs = 0;

    // Emulator thread only.
    State m_state = State::Idle;
    Bytes m_frame;
    uint8_t m_writing = 0;
    std::vector<std::string> m_pending;
    std::deque<Bytes> m_out;      // data frames, then the end frame
    Bytes m_current;
    bool m_currentIsData = false;
    int m_sends = 0;
};

}  // namespace orv::test
