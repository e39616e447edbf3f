// CAdax: the Adax register's framed ASCII command protocol. Every command
// and answer travels in one frame: 0x03, a length byte, a sequence byte,
// the text, two checksum characters and 0x04. Programming, deleting and
// clearing run inside sessions that fixed command sequences open and close;
// goods, departments and sales are read as streams of answers that the PC
// acknowledges one by one with an empty frame.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "comm/telepathy_ecr.h"
#include "util/chrarr.h"

#pragma pack(push, 1)
// A goods item as the logic hands it over and gets it back.
struct AdaxPLURecord {
    char code[14];       // 0: 13 characters and a terminator
    char name[19];       // 14: 18 characters and a terminator
    uint32_t dept;       // 33: item byte 96
    double price;        // 37: item byte 100
    uint32_t vat;        // 45: item byte 92
    uint32_t word148;    // 49: item byte 148
    uint32_t linked;     // 53: item byte 176
};
// A department as the department upload builds it.
struct AdaxDeptRecord {
    uint32_t number;     // 0
    char name[19];       // 4
    uint32_t vat;        // 23: to department byte 60
    double price;        // 27: to department byte 64
    uint32_t word100;    // 35: to department byte 100
    uint32_t flags;      // 39: to department byte 88
};
#pragma pack(pop)
static_assert(sizeof(AdaxPLURecord) == 57, "packed goods record");
static_assert(sizeof(AdaxDeptRecord) == 43, "packed department record");

// One sale line of the sales upload: the item (code only) and its figures.
struct AdaxSale {
    AdaxPLURecord item;
    double quantity;
    double value;
};

class CAdax : public CTelepathyECR {
public:
    static constexpr uint8_t kStart = 0x03;
    static constexpr uint8_t kEnd = 0x04;
    static constexpr int kMaxPayload = 58;

    // Codes of this class beyond the register's own (1..16).
    enum : int {
        kErrFrame = 999,        // payload too long, short write, upload without its end
        kErrChecksum = 1000,
        kErrNoEnd = 1001,
        kErrNoStart = 1003,
        kErrGoods = 105,        // an item could not be deleted or updated, or its code is too long
        kErrPrice = 109,        // price outside 0..99,999,999.99
        kErrDept = 110,         // department outside 0..191
        kErrNoAnswer = 9999,    // no or bad answer without a code of its own
    };

    CAdax();

    using CTelepathyECR::Open;
    // 9600 8N1 whatever the baud; draws a new sequence number unlike the
    // last one; both queues emptied. 1, or 0 with the port's error.
    int Open(int port, int baud) override;
    void Close();
    std::string GetErrorText(int code) override;

    // ---- frames ----
    static uint32_t Checksum(const CChrArr& bytes);   // high * 100 + low
    static CChrArr BuildFrame(uint32_t sequence, const CChrArr& payload);
    // 1 when the whole frame went out and drained, else 0 (error set).
    int SendFrame(const CChrArr& payload);
    // The payload of the next good answer, or empty (error set).
    CChrArr ReadFrame();
    // One command: its frame and one answer; the answer, empty on failure.
    CChrArr Command(const CChrArr& payload);

    // ---- sequences (1 / 0) ----
    int WaitReady();
    int Connect();
    int OpenSession();
    int CloseSession();
    int BeginProgram();
    int BeginUpdate();
    int BeginDelete();
    int EndProgramming();
    int ClearSales();

    // ---- goods ----
    int ProgramPLU(const AdaxPLURecord& rec);
    int UpdatePrice(const AdaxPLURecord& rec);
    int DeletePLU(const char* code, size_t cap);
    // The checks made before any traffic: 105 for a code longer than 13
    // characters once trimmed, 110 for a department above 191 (withDept),
    // 109 for a price that is negative, NaN or above 99,999,999.99.
    int CheckItem(const char* code, size_t cap, double price, uint32_t dept, bool withDept);

    // ---- uploads (each runs inside its own session) ----
    using DeptFn = std::function<void(const AdaxDeptRecord&)>;
    using PluFn = std::function<void(const AdaxPLURecord&)>;
    using SaleFn = std::function<void(const AdaxSale&)>;
    int UploadDepartments(const DeptFn& fn);
    int UploadPLUs(const PluFn& fn);
    int UploadSales(const SaleFn& fn);

    // The Polish letters of code page 1250 as the register writes them.
    static CChrArr Cp1250ToDevice(const CChrArr& text);

    // The first sequence number of each Open is drawn from this generator;
    // tests seed it for repeatable frames.
    static void SeedSequence(uint32_t seed);

    uint32_t m_nSeq = 0;
    uint32_t m_nFlag = 1;

private:
    enum class Upload { Departments, Goods, Sales };
    int RunUpload(Upload kind, const DeptFn& depts, const PluFn& goods, const SaleFn& sales);
    // A step of a fixed sequence; a needed one fails the sequence when the
    // answer is empty.
    int Step(const CChrArr& payload, bool needed);
    bool Aborted();
    // Keeps the first failure's code over a later good closing.
    int CloseKeeping(int result);
};
