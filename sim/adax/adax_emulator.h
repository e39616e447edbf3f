// An emulator of the Adax cash registers on a pseudo-terminal.
//
// Frames in both directions: 0x03, length (text + 38), sequence (0x20 +
// 0..15), text, two checksum characters, 0x04. A frame whose length byte or
// checksum is wrong is not answered. Each answer carries the request's
// sequence number + 1 (mod 16). While the line is quiet (no command waiting
// for its answer, no stream running) the register sends its 10-byte ready
// frame "ADAX.READY" every idle period.
//
// Commands ("OK" answers them unless said otherwise):
//   ""          a poll, or in a stream the acknowledgement that brings the
//               next answer (after the end answer: no answer, the stream is over);
//   "*I", "*SZZi", "*U", "*LI", "*P" (keyboard locked: session open),
//   "*SZ" (session closed), "*SZZl11Q" / "*SZZl12Q" / "*SZZl13Q" (goods
//   programming / price update / deleting mode), "*SKZi", "*SZi" (mode ends),
//   "*SZZk", "*SK", "*S2020Q", "*Si" (in this order: the sales are cleared);
//   "*WH0" code(13) price(10) "0000", then "*WH1" name(18) department
//   (0x40 + number) "9": programs an item;
//   "*S" code "R" selects an item, "*S" price "Q" (with a decimal comma) sets
//   its price; "*S" code "R0B" deletes one (an unknown code: "Error" answer);
//   "*X8": the goods report as a stream: per item "X30" (code, quantity
//   sold) and "X31" (code, value sold), then the end answer;
//   "*XE": the departments as a stream, then the end answer;
//   anything else: the 10-byte "Error 0008" answer.
// Stream answers: "ADAX" + 6-digit counter, "S", "0001", the 3-character
// tag, then the data (code right-aligned in 13, two blanks, 10 digits); the
// end answer is 18 bytes: counter part, "S", "0000", "XF ".
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/emulator_base.h"

namespace orv::test {

struct AdaxEmuItem {
    std::string name;          // 18 characters as the register keeps them
    uint8_t dept = 'A';        // the department byte (0x40 + number)
    uint64_t price = 0;        // hundredths
    int64_t soldQuantity = 0;  // thousandths
    int64_t soldValue = 0;     // hundredths
};

class AdaxEmulator : public EmulatorBase {
public:
    // Applied to the next answer the register sends (in order, one each).
    enum class Fault {
        None,         // the answer goes out unspoilt
        BadChecksum,  // the checksum is spoilt
        NoEnd,        // the frame runs on past its longest length instead of ending
        Junk,         // noise before the frame
        Short,        // 0x03, the empty text's 5 bytes instead of the answer
        Silence,      // no answer
        // (after a spoilt or missing answer no ready frame comes until the next command)
        Error,        // the "Error" answer instead (in a stream: before the next record)
        Ready,        // a ready frame instead (in a stream: before the next record)
        Endless,      // the stream never ends: answers that complete no record
        Late,         // one noise byte first, the answer itself much later (QueueLateAnswer)
    };

    explicit AdaxEmulator(int port);
    ~AdaxEmulator() override;

    // Quiet time after which the ready frame is sent (real ms; 0: never).
    void SetIdlePeriod(int ms);

    // ---- state ----
    void SetItem(const std::string& code, const AdaxEmuItem& item);
    bool HasItem(const std::string& code) const;
    AdaxEmuItem Item(const std::string& code) const;
    size_t ItemCount() const;
    void SetDepartments(const std::vector<std::string>& names);
    bool SessionOpen() const;

    // ---- what the PC sent ----
    std::vector<std::string> Commands() const;   // texts of the good frames, in order
    std::vector<Bytes> Frames() const;           // the good frames as received
    int BadFrames() const;
    void ClearLog();
    // Waits (real time) until n good frames were received.
    bool WaitForCommands(size_t n, int timeoutMs = 2000) const;

    // ---- faults ----
    void QueueAnswerFault(Fault fault);
    // The next answer comes late: one noise byte noiseMs after the command,
    // the answer answerMs after it (real milliseconds).
    void QueueLateAnswer(int noiseMs, int answerMs);
    // Called on the emulator thread for each good frame's text.
    void SetCommandHook(std::function<void(const std::string&)> hook);

    static Bytes Frame(int seq, const std::string& text);
    static constexpr const char* kReady = "ADAX.READY";
    static constexpr const char* kError = "Error 0008";

protected:
    void OnReceive(const uint8_t* data, size_t n) override;

private:
    void HandleFrame(const Bytes& frame);
    std::string Handle(const std::string& cmd, bool& answer);   // under m_state
    void Answer(const std::string& text);                       // applies the next fault
    void SendText(const std::string& text);
    std::string Record(const std::string& tag, const std::string& data);
    void Tick();

    mutable std::mutex m_state;
    mutable std::condition_variable m_cv;
    std::map<std::string, AdaxEmuItem> m_items;
    std::vector<std::string> m_itemOrder;
    std::vector<std::string> m_depts;
    std::vector<std::string> m_commands;
    std::vector<Bytes> m_frames;
    std::deque<Fault> m_faults;
    std::deque<std::pair<int, int>> m_late;   // noise and answer delays of the Late faults
    std::function<void(const std::string&)> m_hook;
    int m_bad = 0;
    int m_seq = 0;             // sequence of the next answer
    int m_counter = 0;         // stream answers sent
    bool m_session = false;
    int m_mode = 0;            // 11 programming, 12 update, 13 delete
    int m_clearStep = 0;
    std::string m_lastCode;    // from *WH0
    std::string m_selected;    // from *S..R
    std::deque<std::string> m_stream;
    bool m_streaming = false;
    bool m_endless = false;
    bool m_waiting = false;    // a command is left unanswered
    int m_idleMs = 500;
    int64_t m_lastActivity = 0;
    bool m_stop = false;
    std::thread m_ticker;

    Bytes m_buffer;            // emulator thread only
};

}  // namespace orv::test
