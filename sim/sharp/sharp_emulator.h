// An emulator of the Sharp block-link registers on a pseudo-terminal,
// parameterised by the protocol class's traits (header width, machine
// number).
//
// It answers the selection EOT EOT EOT + 6 digits + ENQ with ACK when the
// digits are its machine number (else stays silent), checks every block
// (STX, number digit, data, 2 hex digits, CR) and answers ACK or NAK, and
// runs the transfers:
//   - "10-00" writes a file, "10-02" deletes the keys that follow; both
//     take effect on the closing EOT, and only when the block flagged last
//     has arrived;
//   - "20-00" reads a file ("11/", "31/", "01/", "21/" for the tax rates)
//     whole (a key of a letter and zeros) or one record by its key;
//     "20-02" reads the sale counters, "20-12" reads and clears them;
//   - "32-..." clears sale counters on the EOT ("0109..." those of the
//     goods by number, "0120..." by barcode, "32-31" all);
//   - "99-00" returns the 40-character result record of the last transfer.
// A read is answered by ENQ, then the header and the data blocks (numbered
// 0, 1, 2, ... modulo 10, each sent again on NAK, at most 3 times), then
// EOT. A missing record or file is answered by EOT instead of the ENQ with
// the result 0404; an empty file by EOT with the result 0000.
//
// Files are kept as records of field texts by key, with the layout (field
// lengths) of the latest write: a price-only write changes only the price
// field of the records it names.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "drivers/sharp/sharp_traits.h"
#include "sim/emulator_base.h"

namespace orv::test {

// One file of the register.
struct SharpEmuFile {
    int keyBytes = 0;                 // h6
    std::vector<int> lengths;         // bytes of fields 1..n (0: absent)
    std::map<std::string, std::vector<std::string>> records;   // key -> field texts (2 x length characters)
};

struct SharpEmuSale {
    std::string key;
    uint64_t quantity = 0;            // thousandths
    uint64_t value = 0;               // hundredths
};

class SharpEmulator : public EmulatorBase {
public:
    enum class BlockFault { BadChecksum, WrongNumber, Noise, Short };

    SharpEmulator(int port, const SharpTraits& traits, int machine = 1);
    ~SharpEmulator() override { Stop(); }

    // ---- state ----
    void SetMachine(int machine);
    void SetFile(uint32_t file, const SharpEmuFile& contents);
    SharpEmuFile File(uint32_t file) const;
    void SetSales(uint32_t file, int keyBytes, const std::vector<SharpEmuSale>& sales);
    std::vector<SharpEmuSale> Sales(uint32_t file) const;
    // Seven 4-character groups.
    void SetVatGroups(const std::string& groups);
    int ResultCode() const;
    void SetResultCode(int code);

    // ---- what the host sent ----
    // The data of every good block (without number digit and checksum).
    std::vector<std::string> HostBlocks() const;
    // The data of every job-code block.
    std::vector<std::string> JobCodes() const;
    int NaksSent() const;
    int Selections() const;
    void ClearLog();
    // Blocks and job codes are kept for the getters above (default on; a
    // long simulator run turns it off).
    void SetRecordBlocks(bool on);

    // ---- faults (armed from now on) ----
    void NakHostBlocks(int count);                          // the next blocks get NAK
    void EotOnDataBlock(int nth, int result);               // the nth data block of a write gets EOT
    void SpoilReplyBlock(int nth, BlockFault fault, int copies = 1);   // the nth reply block's first copies
    void EotForReplyBlock(int nth, int result);             // EOT in place of the nth reply block
    void SetSelectAnswer(int byte);                         // -1: ACK
    // A register slow to wake: each selection is left unanswered the first
    // time and answered when the host tries it again.
    void AnswerSecondSelections(bool on);
    // A register that never ends a file: after the header of a read it
    // sends empty data blocks, none of them flagged last.
    void EndlessEmptyBlocks(bool on);
    // A register that answers a read of one record with another record of
    // the file (the next one held after it, else the first).
    void AnswerWithAnotherRecord(bool on);
    void SetReplyDelay(int ms);

    // Reply blocks as this register frames them (for byte checks).
    static Bytes Block(int number, const std::string& data);
    static uint8_t Checksum(const std::string& text);

protected:
    void OnReceive(const uint8_t* data, size_t n) override;

private:
    enum class State { Idle, AwaitJob, Receiving, AwaitEot, Replying };
    struct Item {
        Bytes bytes;
        bool block = false;
    };
    struct Spoil {
        int nth;
        BlockFault fault;
        int copies;
    };

    void Out(const Bytes& bytes);
    void OnByte(uint8_t b);
    void OnBlock(const Bytes& block);
    void OnJob(const std::string& data);
    void OnWriteBlock(const std::string& data);
    void Commit();
    void StartReply();
    void ReplyFile(uint32_t file, const std::string& key);
    void ReplySales(uint32_t file, bool clear);
    void EndWith(int result);                          // EOT instead of ENQ
    void SendNext();
    void SendItem(bool first);
    std::string HeaderText(uint32_t h0, uint32_t h2, int keyBytes, const std::vector<int>& lengths) const;
    void ClearSales(const std::string& key, bool all);

    const SharpTraits& m_traits;
    mutable std::mutex m_stateMutex;
    int m_machine;
    std::map<uint32_t, SharpEmuFile> m_files;
    std::map<uint32_t, std::pair<int, std::vector<SharpEmuSale>>> m_sales;
    std::string m_vat = "23.008.005.000.0B000B00000A0";
    int m_result = 0;
    std::vector<std::string> m_blocks;
    std::vector<std::string> m_jobs;
    int m_naks = 0;
    int m_selections = 0;
    int m_nakNext = 0;
    int m_eotData = 0, m_eotDataResult = 0;
    int m_eotReply = 0, m_eotReplyResult = 0;
    std::vector<Spoil> m_spoils;
    int m_selectAnswer = -1;
    bool m_secondSelections = false;
    bool m_endlessEmpty = false;
    bool m_anotherRecord = false;
    int m_delayMs = 0;
    bool m_record = true;

    // Emulator thread only.
    State m_state = State::Idle;
    Bytes m_selection;
    Bytes m_block;
    bool m_inBlock = false;
    int m_expect = 0;
    std::string m_job;
    std::vector<std::string> m_args;
    std::vector<uint32_t> m_header;
    std::vector<std::string> m_pending;
    bool m_complete = false;
    int m_dataBlocks = 0;       // data blocks since EotOnDataBlock was armed
    int m_replyBlocks = 0;      // reply blocks since SpoilReplyBlock / EotForReplyBlock was armed
    std::deque<Item> m_out;
    Item m_last;
    int m_sends = 0;
    bool m_clearAfterReply = false;
    uint32_t m_replyFile = 0;
    bool m_selectionHeard = false;   // the first try of a selection went unanswered
    bool m_endlessActive = false;
    int m_endlessNumber = 0;
};

}  // namespace orv::test
