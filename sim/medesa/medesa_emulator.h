// A Medesa scale on the master side of a pseudo-terminal. The line returns
// every frame the library sends ("||" + escaped payload and checksum + "}"),
// then the scale answers with a frame of its own:
//   4B21 VAT rate i  -> address, 00, 4B, 21, i, 00, 00, rate (2 packed bytes)
//   4B02 department  -> address, 00, 4B, 02, n, 00, 00, name (24), 00
//   4C02 department  -> address, 00, CC, 02, the three data bytes
//   4B01 PLU block b -> address, 00, 4B, 01, the block as written (35 bytes)
//   4C01 PLU block b -> address, 00, CC, 01, the three data bytes
// A PLU block never written is answered with a refusal (byte 2 EE).
// A slow line or scale: SetLateness returns the frame and/or sends the
// answer some milliseconds after the frame came in; a stale answer (one the
// library stopped waiting for) can be put ahead of the next answer.
// The answer logic is also reachable without a line (Answer), for the USB
// bus controller fake.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "sim/emulator_base.h"

namespace orv::test {

class MedesaEmulator : public EmulatorBase {
public:
    enum class Fault {
        None,
        NoEcho,        // the frame is not returned (the scale answers nothing either)
        SpoiltEcho,    // a returned copy without its "||"
        Refuse,        // a write answered with byte 2 EE
        Unframed,      // an answer of 12 bytes without "||"
        ShortReply,    // a framed answer of 8 bytes
        Garbage,       // 20 bytes of noise ending in "}"
        Silence,       // the frame comes back, no answer follows
        FlipBit,       // the answer with bit 0 of its byte 7 flipped after the checksum was made
    };
    using Block = std::vector<uint8_t>;   // 35 data bytes after the header

    explicit MedesaEmulator(int port = 1, uint8_t address = 1);
    ~MedesaEmulator() override;

    // ---- the scale's memory ----
    void SetVatRate(int index, uint16_t hundredths);   // index 0..3
    void SetDept(uint32_t number, const std::string& name);   // scale letters
    std::string Dept(uint32_t number) const;
    Block PluBlock(uint32_t plu, int block) const;            // empty when not written
    bool HoldsPlu(uint32_t plu) const;
    size_t WrittenBlocks() const;

    // ---- faults: the next answers, in order ----
    void QueueMedesaFault(Fault fault, int times = 1);
    // The next `frames` frames (-1: every one): the copy returned echoMs
    // after the frame came in, the answer answerMs after it (0, 0: at once).
    void SetLateness(int echoMs, int answerMs, int frames = -1);
    // The next answer is preceded by the answer to this payload (as if a
    // late answer to an earlier request landed just then).
    void QueueStaleAnswer(const Bytes& payload);

    // ---- what was asked ----
    std::vector<Bytes> Payloads() const;    // unescaped payloads without checksum
    void ClearPayloads();

    // The frame the scale answers to a payload (none for an unknown job).
    Bytes Answer(const Bytes& payload);
    static Bytes Frame(const Bytes& payload);
    // The frame with bit 0 of payload byte `index` flipped after the
    // checksum was computed (a bit spoilt on the line).
    static Bytes FrameWithFlippedBit(const Bytes& payload, size_t index);

protected:
    void OnReceive(const uint8_t* data, size_t n) override;

private:
    Fault TakeFault();

    const uint8_t m_address;
    mutable std::mutex m_state;
    std::array<uint16_t, 4> m_vat{};
    std::map<uint32_t, std::string> m_dept;
    std::map<std::pair<uint32_t, int>, Block> m_plu;
    std::vector<Fault> m_faults;
    std::vector<Bytes> m_stale;
    int m_echoMs = 0;
    int m_answerMs = 0;
    int m_lateFrames = 0;
    std::vector<Bytes> m_payloads;
    Bytes m_frame;
};

}  // namespace orv::test
