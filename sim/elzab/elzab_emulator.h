// An Elzab cash register on the master side of a pseudo-terminal.
//
// It parses ESC + command byte + the command's data, answers ACK or an error
// byte, the status byte and the fixed-length replies, and keeps goods,
// departments, units, VAT rates, sales counters and sales streams. Tests
// script faults per command (silence, any answer byte, a status byte, short
// replies, stale bytes, delays) and read back every frame received.
//
// Choices for the layouts the register documentation leaves open (the
// driver follows the same):
//   0xA5, 0xA2, 0xA3 records (11 bytes): PLU number 2 bytes high byte first,
//     quantity 4 (signed, LSB first), decimals 1, value 4 (hundredths).
//   0xAD, 0xAE records (16 bytes): the 11 bytes above, then the unit price
//     4 (hundredths, LSB first) and the VAT group 1.
//   0xA2/0xA3/0xAD/0xAE carry no data and no status byte: ACK, then records
//     until a record that begins with 0xFF.
//   0xFE: ACK, then 3 bytes (model code, 0, 0).
//   0x6B write (01 + PLU + 16 characters) and 0x9E: ACK, then the status.
//   0xA8 not allowed yet: the answer byte 0x65 (201) in place of ACK.
//
//   orv::test::ElzabEmulator reg(1, 13);   // port 1, model 13
//   reg.Start();
//   reg.AddPlu(1, "Chleb", 1, 1, 3.50);
//   ... EcrReadPLU on port 1 ...
//   reg.Frames();                           // what the library sent
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/emulator_base.h"

namespace orv::test {

class ElzabEmulator : public EmulatorBase {
public:
    struct Plu {
        uint32_t number = 0;
        Bytes name;              // CP852, 19 bytes as the register keeps it
        Bytes name2;             // characters 17-32 on models with long names (16 bytes)
        uint8_t vat = 1;
        uint8_t dept = 1;
        uint8_t byte21 = 0;
        uint8_t unit = 1;
        uint8_t byte23 = 0;
        uint64_t barcode = 0;
        uint32_t price = 0;      // hundredths
        uint8_t byte34 = 0;
    };
    struct Counter {
        int32_t quantity = 0;    // raw, with decimals
        uint8_t decimals = 0;
        int32_t value = 0;       // hundredths
    };
    struct SaleRecord {
        uint16_t plu = 0;
        int32_t quantity = 0;
        uint8_t decimals = 0;
        int32_t value = 0;
        uint32_t price = 0;      // only in the 0xAD/0xAE records
        uint8_t vat = 0;
    };
    // Sales streams: the four passes of 0xA5, and 0xA2, 0xA3, 0xAD, 0xAE.
    enum Stream { kA5Pass0, kA5Pass1, kA5Pass2, kA5Pass3, kA2, kA3, kAD, kAE, kStreamCount };
    // One received command with its data (ESC not included).
    struct Frame {
        uint8_t command = 0;
        Bytes data;
    };

    explicit ElzabEmulator(int port = 1, uint32_t model = 13);
    ~ElzabEmulator() override { Stop(); }

    // ---- configuration (any thread) ----
    void SetModel(uint32_t model);
    uint32_t Model() const;
    void SetRegisterNumber(uint32_t number);        // answered to 0xC0 as two digits
    void SetRegisterNumberReply(const Bytes& two);  // raw 2-byte reply to 0xC0
    void SetCapacityReply(uint32_t capacity);       // 0x91; default: the model's capacity
    uint32_t PluCapacity() const;
    uint32_t DeptCapacity() const;

    // Rates of groups A..G in per cent; -3 undefined, -1 exempt. Models with
    // the 12-byte reply send A..F (0xFF high byte for undefined).
    void SetVatRates(const std::vector<double>& rates);
    void SetVatReply(const Bytes& raw);             // raw reply to 0xD0

    void AddPlu(uint32_t number, const std::string& name1250, uint8_t vat, uint8_t dept, double price,
                uint64_t barcode = 0, uint8_t unit = 1);
    void SetPlu(const Plu& plu);
    std::optional<Plu> GetPlu(uint32_t number) const;
    size_t PluCount() const;
    void ClearPlus();
    // The stored name of a PLU in code page 1250, padded as the register keeps it.
    std::string PluName1250(uint32_t number) const;

    void SetDept(uint8_t number, const std::string& name1250);
    std::optional<Bytes> GetDept(uint8_t number) const;
    // The byte 0xC7 and 0xCB answer for a number that is not defined: 102 or 202.
    void SetNotDefinedByte(uint8_t b);
    void SetUnit(uint8_t number, const std::string& name1250);
    Bytes GetUnit(uint8_t number) const;

    void SetCounter(uint16_t plu, Counter counter);
    std::optional<Counter> GetCounter(uint16_t plu) const;
    void AddStreamRecord(Stream stream, const SaleRecord& record);
    // The next n clears (0xA8) are answered 201 ("not all read").
    void SetNotAllRead(int clears);
    int ClearsDone() const;                         // clears confirmed with 0x06

    void SetStatus(uint8_t deviceType, const std::string& unique11, const Bytes& dateTime10, uint16_t receipt,
                   std::array<uint8_t, 4> flags);

    // ---- faults, per command (-1: any command), in order ----
    void QueueSilence(int command, int times = 1);             // no answer at all
    void QueueAnswer(int command, uint8_t answer, int times = 1);  // this byte instead of ACK, nothing more
    void QueueStatus(int command, uint8_t status, int times = 1);  // ACK (none for 0x02), then this status byte
    void QueueShortReply(int command, int bytes, int times = 1);   // only the first bytes of the answer
    void QueueStale(int command, const Bytes& extra);          // extra bytes after the answer
    void QueueDelay(int command, int ms);                      // the answer ms later
    void SetAnswerDelay(int ms);                               // every answer ms later
    // Every answer in random pieces, each up to maxGapMs after the one before
    // (0: in one piece). The pieces follow a fixed sequence from seed.
    void SetChunking(int maxGapMs, uint32_t seed = 1);
    void ClearScripts();

    // ---- what the library sent ----
    std::vector<Frame> Frames() const;
    std::vector<uint8_t> Commands() const;
    void ClearFrames();
    // Keep no per-byte and per-frame history (long-running simulator).
    void SetRecording(bool on);

protected:
    void OnReceive(const uint8_t* data, size_t n) override;

private:
    enum class Act { Silence, Answer, Status, Short, Stale, Delay };
    struct Script {
        int command;
        Act act;
        int arg;
        Bytes bytes;
        int times;
    };

    int DataLength(uint8_t command, const Bytes& dataSoFar) const;
    void Handle(uint8_t command, const Bytes& data);
    Bytes Answer(uint8_t command, const Bytes& data, bool& ackFirst);
    uint8_t CheckPlu(const Plu& plu) const;
    Bytes PluReply(const Plu& plu) const;
    static Bytes SaleBytes(const SaleRecord& r, bool longRecord);
    void Emit(Bytes answer, uint8_t command);

    mutable std::mutex m_stateMutex;
    uint32_t m_model;
    Bytes m_registerReply{'0', '0'};
    std::optional<uint32_t> m_capacityReply;
    std::vector<double> m_vatRates;
    std::optional<Bytes> m_vatRaw;
    std::map<uint32_t, Plu> m_plus;
    std::map<uint8_t, Bytes> m_depts;
    std::array<Bytes, 16> m_units;
    uint8_t m_notDefined = 102;
    std::map<uint16_t, Counter> m_counters;
    std::array<std::vector<SaleRecord>, kStreamCount> m_streams;
    int m_notAllRead = 0;
    int m_clearsDone = 0;
    uint8_t m_deviceType = 0x31;
    Bytes m_unique;
    Bytes m_dateTime;
    uint16_t m_receipt = 0;
    std::array<uint8_t, 4> m_flags{};
    std::deque<Script> m_scripts;
    int m_answerDelay = 0;
    int m_chunkGap = 0;
    uint32_t m_chunkSeed = 1;
    bool m_recording = true;
    std::vector<Frame> m_frames;

    // Parser (emulator thread only).
    enum class Parse { Idle, Command, Data, ClearConfirm };
    Parse m_parse = Parse::Idle;
    uint8_t m_command = 0;
    Bytes m_data;
};

}  // namespace orv::test
