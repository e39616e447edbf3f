// CCr280: the CR-280 register's record protocol (8E1, reads within 5 s) on
// the shared record link: goods, department, sales and request records,
// clearing, programming, the three uploads and the read of one item. The
// register reports an error with a 7-character record beginning "S".
#pragma once

#include <cstdint>
#include <functional>

#include "drivers/common/record_link.h"

#pragma pack(push, 1)
struct Cr280PLURecord {
    char code[14];      // 13 characters and a terminator
    char name[13];      // 12 characters and a terminator
    uint32_t dept;      // 255: no department
    double price;
    int32_t vat;        // 1..8, -1: none
    uint32_t flag;      // 1 set, else clear
    uint32_t extra;     // copied from the host item, not sent
};
struct Cr280DeptRecord {
    uint32_t number;
    char name[13];
    int32_t vat;        // 1..8, -1: none
    double value;
    uint32_t field;     // the two-digit field
    uint32_t flag;
};
struct Cr280SaleItem {
    char code[14];
    char name[13];
};
struct Cr280SaleRecord {
    char code[14];
    char name[13];
    double quantity;
    double value;
};
#pragma pack(pop)

class CCr280 : public CRecordLink {
public:
    CCr280();

    std::string GetErrorText(int code) override;

    static CChrArr Cp1250ToDevice(const CChrArr& text) { return Cp1250ToDsp800(text); }
    static CChrArr DeviceToCp1250(const CChrArr& text) { return Dsp800ToCp1250(text); }

    // ---- records (1, or 0 with the error) ----
    // kind byte, flag, from and to (each trimmed and right-aligned in 13).
    static CChrArr BuildRequest(uint8_t kind, uint8_t flag, const CChrArr& from, const CChrArr& to);
    int ParseVatFlag(const CChrArr& field, int32_t& vat, uint32_t& flag);   // 103
    int BuildPLURecord(const Cr280PLURecord& rec, CChrArr& body);   // 39 characters
    int ParsePLURecord(const CChrArr& text, Cr280PLURecord& rec);   // 55 characters

    // ---- commands ----
    int ClearSales();
    int SendPLU(const Cr280PLURecord& rec);
    // The item whose code rec holds; 10 when the register has none.
    int ReadOnePLU(Cr280PLURecord& rec);

    // ---- uploads ----
    using DeptFn = std::function<void(const Cr280DeptRecord&)>;
    using PluFn = std::function<void(const Cr280PLURecord&)>;
    using SaleFn = std::function<void(const Cr280SaleItem&, const Cr280SaleRecord&)>;
    int UploadDepartments(const DeptFn& fn);
    int UploadPLUs(const PluFn& fn);
    int UploadSales(const SaleFn& fn);

protected:
    int ReadDeviceError(int& code) override;
    int Recover(const CChrArr& frame) override;

private:
    int RunGoodsUpload(uint8_t flag, const PluFn& goods, const SaleFn& sales);
};
