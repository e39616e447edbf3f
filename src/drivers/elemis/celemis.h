// CElemis: the Elemis registers' protocol. Every request is one record of
// 259 bytes (type, a two-byte address, a 256-byte payload) in a 7-bit line
// coding:
//
//   0x03, 37 groups of 7 record bytes and one byte collecting their bit 7,
//   the 16-bit sum (low byte first) and a byte collecting its two bit 7s,
//   0x04, 0xFF              (every byte between 0x03 and 0x04 has bit 7 set)
//
// The register answers one status byte: 2 accepted, 3 a coded record of the
// same shape follows (299 bytes and 0x04). Goods (10,000 slots in blocks of
// four 64-byte records), eight departments, VAT rates, sale counters and
// the identification are exchanged as fixed binary layouts. Every operation
// returns 1, or 0 with the error code in m_nError.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "comm/telepathy_ecr.h"
#include "util/chrarr.h"

// Own error codes of this protocol (their texts are the common ones).
enum : int {
    EMS_ERR_SHORT_WRITE = 10,
    EMS_ERR_BAD_ANSWER = 23,      // a status byte other than the one expected
    EMS_ERR_DEPT_VAT = 103,       // department VAT group outside 1..8
    EMS_ERR_PLU_NUMBER = 105,     // PLU number outside 1..10000
    EMS_ERR_CODE = 108,           // code with a non-digit or longer than 13; bad link constant
    EMS_ERR_PRICE = 109,          // price negative, not a number or above 42949672.95
    EMS_ERR_RANGE = 110,          // PLU VAT group or department number outside 1..8
    EMS_ERR_EMPTY_SLOT = 202,     // a single PLU the register does not hold
    EMS_ERR_RECORD = 9999,        // a record of the wrong length, an attribute above 255
};

constexpr uint32_t kEmsPluCount = 10000;
constexpr int kEmsBlocks = 2500;
constexpr int kEmsSaleBlocks = 500;
constexpr int kEmsDepts = 8;
constexpr int kEmsNameWidth = 18;
constexpr int kEmsRecordSize = 259;
constexpr int kEmsPayloadSize = 256;
constexpr int kEmsCodedSize = 299;
constexpr int kEmsFrameSize = 302;
constexpr int kEmsPluSize = 64;
constexpr int kEmsSlotSize = 32;
constexpr int kEmsSaleSize = 17;
constexpr uint32_t kEmsEmptyVat = 255;

struct ElemisPlu {
    uint32_t number = 0;
    char code[32] = {0};          // to the device at most 13 digits
    char name[kEmsNameWidth + 1] = {0};
    uint32_t vatGroup = 0;        // 1..8; 255 an empty slot
    double price = 0.0;
    uint32_t attribute = 0;       // the device's one-byte attribute
    uint32_t reserved = 0;
};

struct ElemisDept {
    uint32_t number = 0;          // 1..8
    char name[kEmsNameWidth + 1] = {0};
    uint32_t vatGroup = 0;
    double price = 0.0;
};

struct ElemisSale {
    uint32_t number = 0;
    char code[14] = {0};
    double quantity = 0.0;
    double value = 0.0;
};

class CElemis : public CTelepathyECR {
public:
    CElemis();
    ~CElemis() override;

    using CTelepathyECR::Open;
    // Opens the line (1024-byte queues, the baud, 8N1), then the link. 1
    // only when the register accepted the link; the line is closed again
    // when it did not.
    int Open(int port, int baud) override;
    // The link-close request; 1 when accepted.
    int Close();
    // The link-close after a break: nothing is sent when the last exchange
    // had already timed out; else the request goes out with the break held
    // off and its answer gets only a short look. 1 when accepted.
    int CloseAfterBreak();

    // The 12-digit link constant: ECR_ELEMIS_LINK when set and not empty,
    // else "000000000000".
    static std::string LinkConstant();

    // ---- line coding ----
    static CChrArr Encode(uint8_t type, uint8_t addr0, uint8_t addr1, const CChrArr& payload);
    static CChrArr Decode(const CChrArr& coded);   // 299 bytes -> 259; else empty
    // Whether the 16-bit sum a coded block (299 bytes) carries is that of
    // its decoded record.
    static bool SumMatches(const CChrArr& coded, const CChrArr& record);
    // A request answered with a record is asked at most this often while
    // the replies fail their sum.
    static constexpr int kSumTries = 3;
    static CChrArr PackBcd(const std::string& digits);   // empty for a non-digit
    static std::string UnpackBcd(const CChrArr& bytes);  // a nibble above 9 gives '-'

    // ---- exchanges ----
    int SendRecord(uint8_t type, uint8_t addr0, uint8_t addr1, const CChrArr& payload);
    int ExpectAccepted();                      // status byte 2
    CChrArr ReadDataFrame();                   // status 3 and the record's payload, or empty
    int Poll();
    // A request answered with a record; its 256-byte payload, or empty.
    CChrArr Query(uint8_t type, uint8_t addr0, uint8_t addr1, const CChrArr& payload = CChrArr());
    // A request answered with status 2.
    int Command(uint8_t type, uint8_t addr0, uint8_t addr1, const CChrArr& payload);

    // ---- records ----
    int BuildPluRecord(const ElemisPlu& plu, CChrArr& out);
    int ToPlu(const CChrArr& record, uint32_t number, ElemisPlu& out);
    static CChrArr PluMask();

    // ---- operations ----
    int ReadVatRates(double rates[8]);
    int ReadIdentification(std::string& first, std::string& id, std::string& third);
    int ClearSales();
    using PluSink = std::function<void(const ElemisPlu&)>;
    int ReadAllPlu(const PluSink& sink);
    int ReadPlu(ElemisPlu& plu);
    int WritePlu(const ElemisPlu& plu);
    using DeptSink = std::function<void(const ElemisDept&)>;
    int ReadAllDept(const DeptSink& sink);
    int WriteDept(const ElemisDept& dept);
    using SaleSink = std::function<void(const ElemisSale&)>;
    int ReadSales(const SaleSink& sink);

    std::string GetErrorText(int code) override { return CTelepathyECR::GetErrorText(code); }

private:
    int Fail(int code);
    bool Broken();
    CChrArr ReadBytes(int n);
    // An answer given up while the register may still be sending the rest:
    // the next request waits for the line to go quiet.
    void GiveUpAnswer(int code);
    bool m_timedOut = false;   // the last read ended by its time-out
    bool m_badSum = false;     // the last data frame failed its sum
};
