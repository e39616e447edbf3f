// CNcr: the NCR registers' protocol.
//
// Frame layer: every request and reply is one frame
//
//   EOT  n+0x2F  sequence  job+0x20  data(n)  STX  check  ETX
//
// where the check character is the XOR of everything before it, its low
// 7 bits plus 40. A request carries the sequence character of the last good
// reply; the side that receives a frame answers ACK, or NAK for a spoilt one.
//
// Job layer: ':'-separated texts. A transfer starts with DLE (the register
// answers its 50-byte status frame "A01:w1:w2:w3:..."), then "0;#P;#H;";
// the register reports "C01" while busy and "A01" when done. Departments go
// after "0;*2;*F;*3" (answered "B80"), goods after "0;*2;+4;*G;+1;*3"
// ("B81"), and the goods list and the sale counters come back in "C08" and
// "C04" blocks ended by a data field "*". Every operation returns 1, or 0
// with the error code in m_nError.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "comm/telepathy_ecr.h"
#include "util/chrarr.h"

// Own error codes of this protocol.
enum : int {
    NCR_ERR_SHORT_WRITE = 10,    // fewer bytes written than the frame holds
    NCR_ERR_OTHER_JOB = 22,      // a reply for another job
    NCR_ERR_EMPTY_CODE = 108,    // goods code empty, or longer than 13 characters
    NCR_ERR_PRICE = 109,         // price negative, not a number or above 9999999.99
    NCR_ERR_DEPT = 110,          // department outside 1..99
    NCR_ERR_BAD_REPLY = 999,     // refused, unexpected or missing answer
    NCR_ERR_CHECK = 1000,        // check character wrong
    NCR_ERR_NO_STX = 1001,
    NCR_ERR_NO_ETX = 1002,
    NCR_ERR_SHORT_FRAME = 1003,  // fewer bytes than the length character says
    NCR_ERR_LENGTH = 1004,       // length character not above 0x2F
    NCR_ERR_NOT_EOT = 1005,      // a reply that does not begin with EOT
};

constexpr int kNcrCodeWidth = 12;        // goods code as the register keeps it
constexpr int kNcrCodeMax = 13;          // longest host code taken (cut to 12)
constexpr int kNcrNameWidth = 12;        // goods name
constexpr int kNcrDeptNameWidth = 9;     // department name as sent
constexpr uint32_t kNcrMaxDept = 99;
constexpr int kNcrMaxData = 0xFF - 0x2F; // longest frame data the length character can give

// One goods record between the protocol and the logic (texts CP1250).
struct NcrPlu {
    char code[32] = {0};     // as the host gave it; at most 13 are taken, 12 sent
    char name[kNcrNameWidth + 1] = {0};
    uint32_t department = 0;
    double price = 0.0;
    uint32_t vatGroup = 0;
    uint32_t second = 0;     // host item word 148 (not sent)
    uint32_t third = 0;      // host item word 176 (not sent)
};

struct NcrDept {
    uint32_t number = 0;
    char name[kNcrNameWidth + 1] = {0};
    uint32_t flag = 0;
    double price = 0.0;
    uint32_t vatGroup = 0;
    uint32_t second = 0;
};

struct NcrSale {
    char code[kNcrCodeMax + 1] = {0};
    double quantity = 0.0;
    double value = 0.0;
};

// A reply text taken apart.
struct NcrReply {
    CChrArr status;          // 3 characters
    CChrArr block;           // 4 hexadecimal digits (long replies only)
    CChrArr counter;         // 2 decimal digits (long replies only)
    CChrArr data;
    bool hasBlock = false;
};

struct NcrStatus {
    uint32_t words[3] = {0, 0, 0};
};

class CNcr : public CTelepathyECR {
public:
    static constexpr uint8_t STX = 0x02;
    static constexpr uint8_t ETX = 0x03;
    static constexpr uint8_t EOT = 0x04;
    static constexpr uint8_t ACK = 0x06;
    static constexpr uint8_t DLE = 0x10;
    static constexpr uint8_t NAK = 0x15;

    CNcr();
    ~CNcr() override;

    // Open(port, baud) is the base's: 1024-byte queues, the baud, 8N1, both
    // directions flushed.
    std::string GetErrorText(int code) override;

    // ---- frame layer ----
    static uint8_t CalcCheckChar(const CChrArr& bytes);
    static CChrArr BuildFrame(int job, uint8_t sequence, const CChrArr& data);
    // Sends one request frame: 1 when the register acknowledged it.
    int SendFrame(int job, uint8_t sequence, const CChrArr& data);
    // The data of one good reply frame for `job`, or empty (error set; a
    // good frame without data leaves the error 0).
    CChrArr ReceiveFrame(int job);
    // ReceiveFrame, then ACK when the frame had data.
    CChrArr SendAck(int job);
    // A request of job 0 with the last sequence character.
    int Send(const CChrArr& data) { return SendFrame(0, m_lastSequence, data); }
    // One control byte (ACK, DLE, NAK).
    int WriteByte(uint8_t byte);
    static bool IsAck(uint8_t byte) { return byte == ACK; }
    static bool IsNak(uint8_t byte) { return byte == NAK; }

    uint8_t LastSequence() const { return m_lastSequence; }
    void SetLastSequence(uint8_t sequence) { m_lastSequence = sequence; }

    // ---- reply texts ----
    static bool ParseReply(const CChrArr& reply, NcrReply& out);
    static bool ParseStatusReply(const CChrArr& reply, NcrStatus& out);
    // The status words' verdict: 1 go on; 0 refused (error set, 999 when
    // no bit names the fault). A code may stand beside a 1.
    int CheckStatusWords(const NcrStatus& status);

    // ---- record texts (1, or 0 with 108, 109 or 110) ----
    int BuildPluText(const NcrPlu& plu, CChrArr& out);
    int BuildDeptText(const NcrDept& dept, CChrArr& out);
    static bool ParsePluData(const CChrArr& data, NcrPlu& out);
    static bool ParseSaleData(const CChrArr& data, NcrSale& out);

    // ---- jobs ----
    int PrepareTransfer(int job, int stop);
    int WaitJobEnd(int job, int stop);
    int ProgramDept(const NcrDept& dept);
    int ProgramPlu(const NcrPlu& plu);
    using PluSink = std::function<void(const NcrPlu&)>;
    using SaleSink = std::function<void(const NcrSale&)>;
    int ReadAllPlu(const PluSink& sink);
    int ReadSales(const SaleSink& sink);
    using DeptSink = std::function<void(const NcrDept&)>;
    int ReadAllDept(const DeptSink& sink);
    int ReadVat(double rates[8]);
    int ClearSales();
    int DeletePlu(const NcrPlu& plu);
    int ReadPlu(NcrPlu& plu);

    // Limits of the list reads (a register that never ends a list).
    static constexpr int kListTries = 3;
    static constexpr int kMaxBlocks = 65536;
    static constexpr int kMaxContinues = 7;     // "B23" answered in a row
    static constexpr int kMaxEmptyPolls = 3;    // empty replies in a row while a job ends
    static constexpr int kMaxPasses = 1000;

private:
    int Fail(int code);                 // sets code unless an error stands; 0
    bool Broken();                      // a break was asked for: error -7
    int Pause(double seconds);          // 0, or -7 on a break
    void Resynchronise();
    CChrArr ReadBytes(int n, int seconds);
    int ReadAck();                      // after a frame: 1 ACK, 2 NAK, 0 anything else (error set)
    // Receives a reply and takes it apart; 0 with the error on failure.
    int Expect(bool ack, NcrReply& reply);
    using BlockFn = std::function<int(const CChrArr& data)>;
    int ReadList(const CChrArr& command, bool sales, const BlockFn& each);

    double m_nDelay = 1.0;              // seconds waited while resynchronising
    uint8_t m_lastSequence = 0;
};
