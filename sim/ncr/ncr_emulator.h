// An NCR register on the master side of a pseudo-terminal.
//
// Link: every frame is EOT, n+0x2F, sequence, job+0x20, data, STX, check,
// ETX (check: XOR of what precedes it, low 7 bits + 40). The register
// answers a good frame from the host with ACK and a spoilt one with NAK,
// sends its own frames with its own rising sequence characters ('0'..'9'),
// resends its last frame on a NAK and takes an ACK, or the host's next
// frame, as its acknowledgement. DLE asks for the 50-byte status frame
// "A01:w1:w2:w3:<10 characters>:<text>:<text>" (a DLE from the host after
// "B90" is answered so too, which ends the host's wait with its "A01").
//
// Dialogues (texts as the register takes them):
//   "0;#P;#H;"                      -> "C01" x busy, then "A01" (or "B90",
//                                      answered by "XXXX:XX;#H;" and DLE)
//   "0;*2;*F;*3"                    -> "B80"; each department text -> "B80"; "*" ends
//   "0;*2;+4;*G;+1;*3"              -> "B23" x continues (each answered by
//                                      "0;"), "B81"; the goods text -> "B81"; "*" ends
//   "0;*2;+4;&M1:999999999999;*3"   -> "B23" x continues (answered by "0"),
//                                      then "C08" blocks of the goods and an end block "*"
//   "0;*2;+2;*B1:10;#H;*3;"         -> "B23" x continues (answered by "0;"),
//                                      then "C04" blocks of the sales and an end block "*"
// A block is status ':' block number (4 hex digits, from 0000) ':' block
// counter (2 digits, block number mod 100) ':' data ':' flag ':' flag.
// Goods data: code:price in hundredths:department:name(12, CP852):0:A.
// Sale data: code:quantity:value in hundredths:0.
//
//   NcrEmulator reg(3);               // port 3
//   reg.Start();
//   reg.SetBusyReplies(3);
//   ... run the library ...
//   reg.Requests();                   // the data of every good frame taken
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/emulator_base.h"

namespace orv::test {

class NcrEmulator : public EmulatorBase {
public:
    struct Plu {
        std::string code;       // as received
        std::string price;      // hundredths, digits
        std::string dept;
        std::string name;       // CP852, as received (12 characters)
        std::string text;       // the whole goods text as received
    };
    struct Sale {
        std::string code;
        std::string quantity;   // as the register reports it ("1,500")
        std::string value;      // hundredths
    };
    // How the register spoils its next frames (each send counts, resends too).
    enum class Spoil { BadCheck, FirstByte, OtherJob, NoiseBefore, Short };

    explicit NcrEmulator(int port = 1);
    ~NcrEmulator() override;

    // ---- register state ----
    void SetStatusWords(uint32_t first, uint32_t second, uint32_t third);
    void SetStatusText(const std::string& whole);   // replaces the whole status reply ("" = built)
    void SetBusyReplies(int n);                     // "C01" replies before "A01"
    void SetAskNextStep(bool on);                   // "B90" instead of "A01"
    void SetContinues(int n);                       // "B23" replies before goods and lists; -1 for ever
    void AddPlu(const std::string& code, uint32_t hundredths, uint32_t dept, const std::string& nameCp852);
    std::vector<Plu> Goods() const;
    std::optional<Plu> FindPlu(const std::string& code) const;
    std::vector<std::string> Departments() const;   // department texts as received
    void AddSale(const std::string& code, const std::string& quantity, const std::string& value);
    void RepeatBlock(int index);                    // that list block goes out twice
    void SetBlockData(int index, const std::string& data);   // that block's data replaced
    void SetBlockReply(int index, const std::string& text);  // that block's whole reply replaced
    void ClearBlockFaults();                        // no repeats, no replaced blocks
    // The first reply to the host's frame `request` is `text` instead.
    void InjectReply(const std::string& request, const std::string& text);

    // ---- link faults ----
    void NakFrames(int n);                          // the next n host frames get NAK
    void AnswerFramesWith(uint8_t byte, int n);     // ... or this byte instead of ACK
    void SpoilFrames(Spoil how, int n);             // the next n frames sent are spoilt

    // ---- what happened ----
    std::vector<std::string> Requests() const;      // data of every good host frame, in order
    void ClearRequests();
    int CountRequests(const std::string& text) const;
    int NaksReceived() const;
    int DleReceived() const;
    int SequenceErrors() const;                     // host frames not echoing the last sequence sent
    int FramesSent() const;                         // own frames, resends included
    void SetRecording(bool on);                     // off: requests are not kept

protected:
    void OnReceive(const uint8_t* data, size_t n) override;

private:
    enum class Mode { Idle, Depts, GoodsIn, Lists };
    void TakeFrame(uint8_t sequence, const std::string& data);   // under m_state
    void Dispatch(const std::string& data);                      // under m_state
    void QueueList(bool sales);                                  // under m_state
    void QueueGoodsStep();                                       // under m_state
    std::string StatusText() const;                              // under m_state
    Bytes Frame(const std::string& data, uint8_t sequence);      // under m_state; spoils
    void SendNext();                                             // under m_state
    void Out(const Bytes& bytes);

    std::string m_input;

    mutable std::mutex m_state;
    uint32_t m_words[3] = {64, 128, 128};
    std::string m_statusText;
    int m_busy = 0;
    bool m_askNext = false;
    int m_continues = 0;
    int m_continuesLeft = 0;
    std::vector<Plu> m_goods;
    std::vector<std::string> m_depts;
    std::vector<Sale> m_sales;
    std::vector<int> m_repeat;
    std::vector<std::pair<int, std::string>> m_blockData;
    std::vector<std::pair<int, std::string>> m_blockReply;
    std::deque<std::pair<std::string, std::string>> m_injected;
    std::deque<std::string> m_queue;                // frames still to send
    std::optional<std::string> m_pending;           // sent, not acknowledged
    uint8_t m_pendingSeq = 0;
    Mode m_mode = Mode::Idle;
    bool m_listSales = false;
    bool m_goodsText = false;                       // the goods text comes next
    uint8_t m_seq = '9';
    bool m_sentAny = false;
    int m_nakFrames = 0;
    int m_otherAnswers = 0;
    uint8_t m_otherByte = 0;
    Spoil m_spoil = Spoil::BadCheck;
    int m_spoilCount = 0;
    std::vector<std::string> m_requests;
    bool m_recording = true;
    int m_naks = 0;
    int m_dles = 0;
    int m_seqErrors = 0;
    int m_framesSent = 0;
};

}  // namespace orv::test
