// A CAS LP label scale on the master side of a pseudo-terminal, in either
// protocol variant:
//   LP-1 (variant 1): A5 -> "w", command byte -> 01, PLU number (2 bytes,
//     high first) -> the same two bytes, or 00 00 for a read of a PLU not
//     held; a write then takes the 72-byte record and answers 10; a read
//     answers the PLU number, the 72 bytes and 10 (75 bytes).
//   LP-16 (variant 16): text requests ended by CR: "pXXXX,49" -> "nXXXX",
//     the 73-byte record and its XOR byte -> "oXXXX"; "PXXXX,1" -> "OXXXX";
//     "rAAAAAA,32" -> "#32:" + 50 presence bytes + CR; "qXXXX," -> 94 bytes:
//     "QXXXX,49:", the record, its XOR byte, ten zero bytes and CR.
//
//   CasLpEmulator scale(3, 16);
//   scale.SetGoods(5, goods);
//   scale.Start();
//   ... run the library against port 3 ...
//   scale.Record(5);             // the record bytes as the scale holds them
//
// Faults: the base's queued faults apply to the next answer; the injections
// below replace answers.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>

#include "sim/emulator_base.h"

namespace orv::test {

class CasLpEmulator : public EmulatorBase {
public:
    struct Goods {
        uint32_t itemCode = 0;
        std::string name1;        // padded with spaces to 28
        std::string name2;
        uint32_t hundredths = 0;
        uint32_t sellDate = 0;
        uint32_t thousandths = 0;
        uint32_t department = 0;
        uint32_t code = 0;
    };

    explicit CasLpEmulator(int port = 1, int variant = 1);
    ~CasLpEmulator() override;

    int variant() const { return m_variant; }

    // ---- goods ----
    // Record bytes of the variant (72 for LP-1, 73 for LP-16).
    static Bytes Encode(int variant, const Goods& goods);
    void SetGoods(uint32_t plu, const Goods& goods);
    void SetRecord(uint32_t plu, const Bytes& record);
    Bytes Record(uint32_t plu) const;                 // empty when not held
    bool Holds(uint32_t plu) const;
    size_t GoodsCount() const;
    // LP-16: a presence byte other than 1 for a PLU (3 is a held PLU as well;
    // 0 hides it).
    void SetPresence(uint32_t plu, uint8_t value);

    // ---- injected faults ----
    // LP-1: the next `times` wake-ups are answered with `byte`.
    void WrongWakeUp(uint8_t byte, int times = 1);
    // LP-16: the next request beginning with `letter` is answered with
    // `answer` as it stands (nothing more is done for it).
    void InjectAnswer(char letter, const Bytes& answer);
    // LP-16: as above, and `late` follows `lateMs` later (the rest of an
    // answer that came apart on the line).
    void InjectAnswer(char letter, const Bytes& answer, const Bytes& late, int lateMs);
    // LP-16: map blocks from `block` (from 0) on are refused ("E" CR).
    void RefuseMapFrom(int block);
    // LP-16: the scale falls silent at the request of map block `block`
    // (from 0): that request and everything after it get no answer.
    void StopAtMapBlock(int block);

    // Requests seen (LP-16 lines without CR; LP-1 "A5 cc hhll"), the last
    // kRequestsKept of them.
    static constexpr size_t kRequestsKept = 10000;
    std::deque<std::string> Requests() const;

protected:
    void OnReceive(const uint8_t* data, size_t n) override;

private:
    void OnLp1(uint8_t b);
    void OnLp16(uint8_t b);
    void HandleLine(const std::string& line);
    Bytes Presence(int block) const;
    void Remember(const std::string& request);   // under m_state

    const int m_variant;
    mutable std::mutex m_state;
    std::map<uint32_t, Bytes> m_goods;
    std::map<uint32_t, uint8_t> m_presence;
    std::deque<std::string> m_requests;
    struct Injected {
        char letter;
        Bytes answer;
        Bytes late;
        int lateMs;
    };
    std::deque<Injected> m_injected;
    int m_wrongWakeUps = 0;
    uint8_t m_wrongByte = 0;
    int m_refuseFrom = -1;
    int m_stopAt = -1;

    // Receiving state.
    enum class Step { Idle, Command, Plu, Record } m_step = Step::Idle;
    uint8_t m_command = 0;
    uint32_t m_plu = 0;
    Bytes m_buf;
    std::string m_line;
};

}  // namespace orv::test
