// CPosnetPerfekt: the text protocol of the Posnet Perfekt and Bingo
// registers. Commands and answers are framed ESC 'R' ... ESC '\' (see
// CPosnetFrameLink); a command is a two-character name and a body of fields
// ended by LF, TAB or the byte 0xFE; numbers travel as decimal text, names in
// Mazovia. The register answers "#Z" with the refused command and a code
// for a write, delete or refusal, or a reply named after the command in
// upper case ("$R" to "$r") with the record's fields.
//
// Record layouts by variant: 1 (type 38 and others) and 4 (types 54, 62)
// carry two flags (variant 4 also four fixed fields), 2 and 3 (types 44,
// 45) the short goods record without flags. Every operation returns 1, or 0
// with the error field set.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "drivers/posnet/posnet_frame.h"
#include "util/chrarr.h"

// Codes of this protocol besides the frame steps' and the register's own.
enum : int {
    PERFEKT_ERR_PLU_NUMBER = 105,      // PLU number outside 1..999999
    PERFEKT_ERR_BARCODE = 108,         // more than 13 characters in a code
    PERFEKT_ERR_PRICE = 109,           // price negative, not a number or too large
    PERFEKT_ERR_DEPT_NUMBER = 111,     // department number outside 1..10
    PERFEKT_ERR_WALK_OFFSET = 120,     // added to the code of a refused "$b"
};

constexpr uint32_t kPerfektMaxPlu = 999999;
constexpr uint32_t kPerfektDepartments = 10;
constexpr int kPerfektNameWidth = 16;
constexpr int kPerfektCodeWidth = 13;
constexpr double kPerfektMaxPrice = 21474836.47;

// Goods record.
struct PerfektPlu {
    uint32_t number = 0;
    char code[14] = {0};               // up to 13 characters; empty when none
    char name[25] = {0};               // CP1250; 16 travel
    uint32_t vatGroup = 0;             // 1..7 (the wire carries 0..6)
    double price = 0.0;
    uint32_t flagA = 0;                // 1 or 0
    uint32_t flagB = 0;                // written 1 / 0, read back 3 / 0
    uint32_t link = 0;                 // linked PLU, 0 none
    // The VAT field as the register sent it in a walk: a sales clearing
    // rewrites the record with exactly this field. Empty otherwise.
    char rawVat[20] = {0};
};

// Sales counters of one PLU.
struct PerfektSale {
    uint32_t number = 0;
    char code[14] = {0};
    char name[25] = {0};
    double quantity = 0.0;
    double value = 0.0;
};

struct PerfektDept {
    uint32_t number = 0;               // 1..10
    char name[17] = {0};
};

class CPosnetPerfekt : public CPosnetFrameLink {
public:
    CPosnetPerfekt();
    ~CPosnetPerfekt() override;

    void SetVariant(int variant) { m_nVariant = variant; }
    int GetVariant() const { return m_nVariant; }
    bool LongLayout() const { return m_nVariant != 2 && m_nVariant != 3; }

    // One frame out and its answer in: on success `body` holds the reply
    // (answer code, fields, checksum digits) and `command` is emptied.
    int Transact(const CChrArr& prefix, CChrArr& command, CChrArr& body, int tries);

    int ReadStatus(std::string& text);
    int ReadVAT(double rates[8]);
    int ReadPlu(PerfektPlu& plu, PerfektSale& sale);
    int WritePlu(const PerfektPlu& plu, int option);
    int DeletePlu(int number);
    int WriteDept(const PerfektDept& dept, int option);
    int ReadDept(PerfektDept& dept);

    using PluCallback = std::function<void(const PerfektPlu&)>;
    using SaleCallback = std::function<void(const PerfektPlu&, const PerfektSale&)>;
    int ReadAllPlus(const PluCallback& callback);
    int ReadPluSales(const SaleCallback& callback);
    // As ReadPluSales, and every sold PLU is written back (which clears its
    // counters).
    int ClearPluSales(const SaleCallback& callback);

    std::string GetErrorText(int code) override;
    // The code of a "#Z" answer (without "#Z" and the checksum): the refused
    // command's name, then the code in decimal (at most 999), perhaps ended
    // by one TAB, LF or 0xFE; "$b" adds 120. 9999 for anything else.
    static int CheckErrorReply(const CChrArr& text);

    // ---- building and parsing (no traffic) ----
    // Hundredths of a price, rounded half away from zero; false for a price
    // that is negative, not a number or above 21 474 836.47.
    static bool PriceToWire(double price, int64_t& hundredths);
    // The goods record of "#p" for this variant; 0 with 105 or 109.
    int BuildPluRecord(const PerfektPlu& plu, CChrArr& record);
    // A goods reply (fields only). `walk` reads the trailing PLU number and
    // next number, and keeps a VAT field of 7 or more.
    bool ParsePlu(CChrArr fields, bool walk, PerfektPlu& plu, PerfektSale& sale, uint32_t* next) const;
    // Host text as it goes on the wire: bytes below 0x20 and 0xFE (which end
    // or shift fields) become blanks.
    static CChrArr WireText(const char* text, size_t cap);

    const CChrArr& StatusReply() const { return m_statusReply; }

private:
    enum class Walk { All, Sales, Clear };
    // Sends a command and checks its answer: `answer` "#Z" expects the
    // command accepted (code 0), any other the reply of that name, whose
    // fields (answer code and checksum cut off) go to `fields`.
    int Command(const char* command, const CChrArr& body, const char* answer, CChrArr& fields);
    int RunWalk(Walk kind, const SaleCallback& callback);
    int Fail(int code) {
        m_nError = code;
        return 0;
    }

    int m_nVariant = 1;
    CChrArr m_statusReply;               // the last complete "$Z" reply
};
