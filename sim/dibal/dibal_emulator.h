// A Dibal scale on the master side of a pseudo-terminal. It takes
// 128-character records in plain frames (STX record ETX check) or, as an
// addressed scale, in addressed frames (SOH nn "80" STX record ETX check)
// after a poll (EOT nn+1 BEL, answered BEL), checks the XOR byte (a bad one
// is answered NAK), keeps the goods it is sent ("X1" by PLU number, "X2"
// texts beside them) and answers "KB000202" with its "X1" records, one
// frame each, waiting for ACK (NAK resends); the records end in silence.
// An addressed scale takes plain frames too (the goods request comes so).
//
//   DibalEmulator scale(1);                        // port 1, plain frames
//   DibalEmulator scale(1, true, 7);               // addressed, scale 7
//   scale.Script("X1", {Answer::Nak, Answer::Nak, Answer::Nak});
//   scale.Start();
//
// Scripts answer the next frames of a kind in order, then the usual answer
// comes back. Kinds: "KB000201", "KB000202", "KB000203", "X1", "X2" (or
// "X1:nnnnnn" for one PLU number, looked at first), "poll" and "enq".
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "sim/emulator_base.h"

namespace orv::test {

class DibalEmulator : public EmulatorBase {
public:
    enum class Answer {
        Usual,       // ACK to a frame or ENQ, BEL to a poll
        Ack,
        Nak,
        Bel,
        Silence,
        WrongByte,   // a byte that is none of the link's ('?')
        Garbage,     // eight bytes of noise without any control byte
    };
    // How one record of the read answer goes out.
    enum class RecordFault {
        None,
        BadCheck,    // the check byte is off by one
        MissingEtx,  // the frame's ETX and check byte are left out
        StrayByte,   // a single 'Z' instead of the frame
        Garbage,     // eight bytes of noise instead of the frame
        Silence,     // nothing: the read answer ends here
    };

    explicit DibalEmulator(int port = 1, bool addressed = false, int address = 1);
    ~DibalEmulator() override;

    void Script(const std::string& kind, const std::vector<Answer>& answers);
    void QueueRecordFaults(const std::vector<RecordFault>& faults);

    // Every frame received with a good check, in order (resends included).
    std::vector<std::string> Frames() const;
    // Payloads of the frames whose check byte was wrong.
    int BadFrames() const;
    int Polls() const;
    int Enquiries() const;
    // Goods: "X1" records by PLU number, "X2" records beside them.
    void SetGoods(uint32_t plu, const std::string& x1);
    std::map<uint32_t, std::string> Goods() const;
    std::map<uint32_t, std::string> Texts() const;
    // Whether a bulk transfer was started and not yet ended.
    bool InBulk() const;
    void SetRecording(bool on);

    static Bytes PlainFrame(const std::string& payload);
    static uint8_t Check(const std::string& bytes);

protected:
    void OnReceive(const uint8_t* data, size_t n) override;

private:
    Answer NextAnswer(const std::string& kind, const std::string& plu);
    void Answer_(Answer a, uint8_t usual);
    void HandleRecord(const std::string& payload, bool addressed);
    void SendReadRecord();

    const bool m_addressed;
    const int m_address;
    mutable std::mutex m_mu;
    std::string m_buf;
    std::map<std::string, std::deque<Answer>> m_scripts;
    std::deque<RecordFault> m_recordFaults;
    std::vector<std::string> m_frames;
    int m_badFrames = 0;
    int m_polls = 0;
    int m_enquiries = 0;
    bool m_recording = true;
    bool m_bulk = false;
    std::map<uint32_t, std::string> m_goods;
    std::map<uint32_t, std::string> m_texts;
    // The read answer: records still to go, the one on the line.
    std::vector<std::string> m_reading;
    size_t m_readIndex = 0;
    bool m_readActive = false;
};

}  // namespace orv::test
