// An emulator of the DSA/DSP cash registers on a pseudo-terminal.
//
// It checks each request frame's checksum (a bad one gets NAK), answers a
// good one with ACK and a reply frame carrying its own sequence number, and
// waits for the PC's ACK before pushing further sale lines. It keeps
// departments, PLUs and sale counters per model:
//   - "4001" programs a department, "4201" reads one;
//   - "4059" adds a PLU (an existing one answers ERR with the model's
//     "already there" code: 22 on the first DSA 100 series, 23 elsewhere),
//     "4002" changes one (department "00" deletes it), "4060" changes a
//     price (ERR 18 for an unknown PLU), "4202" reads one (an unknown PLU
//     comes back with department 00);
//   - "2051" streams the sale lines, "3055"/"3060" stream and clear them
//     (with the confirmation frame "3056"/"3061" where the model has one);
//   - closing commands "4061", "4062", "4065", "4066" answer "00";
//   - the DSP 500's "101" reads a 440-byte PLU record (blank when unknown).
// Replies to record commands carry the command and "00"; an error is the
// 7-byte data part "ERR00" and the 2-digit device code.
//
// Faults: QueueErr(cmd, code) answers the next request with that command
// with ERR; QueueFrameFault() spoils the next reply frame (bad checksum, no
// ETX, junk before it, the previous frame's sequence number, no reply at
// all, or no ACK either).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "sim/emulator_base.h"

namespace orv::test {

enum class DsaModel { Dsa100M0, Dsa100M1, Dsa45B, Dsa4000M1, Dsa4000M2, Dsa4000M3, Dsp500 };

struct DsaEmuPlu {
    std::string name;        // 16 bytes (20 on the DSP 500) in the device code
    uint64_t price = 0;      // hundredths
    uint32_t dept = 1;
    char flag = '0';
    uint64_t quantity = 0;   // thousandths
    std::string barcode;     // 13 bytes (7 on the DSP 500)
};

struct DsaEmuDept {
    std::string name;        // 16 bytes in the device code
    uint64_t amount = 0;     // hundredths
    char flag = '0';
    uint32_t tax = 0;
    uint64_t limit = 0;
};

struct DsaEmuSale {
    uint32_t plu = 0;
    uint64_t quantity = 0;   // thousandths
    uint64_t value = 0;      // hundredths
};

// One request frame as received.
struct DsaRequest {
    int seq = 0;
    std::string command;
    std::string data;
    Bytes frame;             // STX .. ETX
};

class DsaEmulator : public EmulatorBase {
public:
    // None lets one reply frame through unspoilt (to reach a later one).
    enum class FrameFault { None, BadChecksum, NoEtx, Junk, RepeatSeq, NoReply, NoAck };

    DsaEmulator(int port, DsaModel model);
    ~DsaEmulator() override { Stop(); }

    DsaModel Model() const { return m_model; }
    int ExistsCode() const { return m_model == DsaModel::Dsa100M0 ? 22 : 23; }

    // ---- state ----
    void SetPlu(uint32_t number, const DsaEmuPlu& plu);
    bool HasPlu(uint32_t number) const;
    DsaEmuPlu Plu(uint32_t number) const;
    size_t PluCount() const;
    void SetDept(uint32_t number, const DsaEmuDept& dept);
    bool HasDept(uint32_t number) const;
    DsaEmuDept Dept(uint32_t number) const;
    void SetSales(const std::vector<DsaEmuSale>& sales);
    std::vector<DsaEmuSale> Sales() const;
    // Sequence number of the next reply frame.
    void SetSequence(int seq);

    // ---- what the PC sent ----
    std::vector<DsaRequest> Requests() const;
    std::vector<std::string> Commands() const;
    int AcksReceived() const;
    // Waits (real time) until the PC has sent at least n ACKs.
    bool WaitForAcks(int n, int timeoutMs = 2000) const;
    int NaksSent() const;
    void ClearLog();

    // ---- faults ----
    void QueueErr(const std::string& command, int code);
    void QueueFrameFault(FrameFault fault);
    // Sends every reply frame this many (real) milliseconds after the ACK.
    void SetAnswerDelay(int ms);
    // Called on the emulator thread for each good request (for instance to
    // break the job off at a given command).
    void SetCommandHook(std::function<void(const DsaRequest&)> hook);
    // A hostile line: every byte string the device sends (kind 'A': the
    // ACK of a request, 'F': a reply frame) goes through this function, which
    // returns the pieces sent in its place, each after its own pause (real
    // milliseconds, slept on the emulator thread, so the order holds). It
    // runs on the emulator thread; set it before the job starts.
    struct Piece {
        int delayMs = 0;
        Bytes bytes;
    };
    using Mangler = std::function<std::vector<Piece>(char kind, const Bytes& bytes)>;
    void SetMangler(Mangler mangler);

    // Requests are kept for Requests() (default on; a long simulator run
    // turns it off).
    void SetRecordRequests(bool on);
    // CP1250 text in the device's character code (for loading goods).
    static std::string DeviceText(const std::string& cp1250);

    // A reply frame as this device builds it (also for byte checks).
    static Bytes Frame(int seq, const std::string& data);
    // Helpers for tests.
    static std::string Num(uint64_t value, int digits);

protected:
    void OnReceive(const uint8_t* data, size_t n) override;

private:
    void HandleFrame(const Bytes& frame);
    void Answer(const std::string& data);           // ACK, then the reply frame
    void SendReply(const std::string& data);        // the reply frame (faults applied)
    void Emit(char kind, const Bytes& bytes);       // through the mangler, if any
    Bytes ReplyFrame(const std::string& data);      // builds it, taking the next sequence number
    std::string Handle(const DsaRequest& req);      // reply data, "" = no reply frame
    std::string PluRecord(uint32_t number) const;
    std::string DeptRecord(uint32_t number) const;
    std::string SaleLine(const DsaEmuSale& s) const;
    int PluDigits() const;    // PLU number in records and queries
    int LineDigits() const;   // PLU number in sale lines
    int CommandLength() const { return m_model == DsaModel::Dsp500 ? 3 : 4; }

    const DsaModel m_model;
    mutable std::mutex m_stateMutex;
    mutable std::condition_variable m_ackCv;
    std::map<uint32_t, DsaEmuPlu> m_plus;
    std::map<uint32_t, DsaEmuDept> m_depts;
    std::vector<DsaEmuSale> m_sales;
    std::vector<DsaRequest> m_requests;
    std::vector<std::pair<std::string, int>> m_errs;
    std::vector<FrameFault> m_frameFaults;
    std::function<void(const DsaRequest&)> m_hook;
    Mangler m_mangler;
    int m_seq = 50;
    int m_lastSeq = -1;
    int m_acks = 0;
    int m_naks = 0;
    bool m_record = true;
    int m_delayMs = 0;

    // Emulator thread only.
    Bytes m_buffer;
    std::vector<std::string> m_pending;   // reply data sent one per PC ACK
};

}  // namespace orv::test
