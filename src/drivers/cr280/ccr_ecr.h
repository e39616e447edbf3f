// CCR_ECR: job logic of the CR-280 registers (type 11) over CCr280. Goods
// are programmed and read (all of them, or the listed codes), departments
// and sales are read, sales cleared. Deleting goods and programming
// departments are not available (each item is refused with 25), nor are
// VAT rates and status.
#pragma once

#include "drivers/cr280/ccr280.h"
#include "job/logic_ecr.h"

class CCR_ECR : public CLogicECR {
public:
    std::string GetErrorText(int code) override { return m_cr.GetErrorText(code); }
    int Open(int port, const EcrDeviceRecord* record) override;
    int Close(int port) override;
    int ReadVAT(int port, double vat[8]) override;
    int ReadStatus(int port, EcrStatusRecord* status, double vat[8]) override;
    int ReadSale(int port, EcrSaleCallback cb) override;
    int ClearSale(int port, EcrSaleCallback cb) override;
    int ReadAllPLU(int port, EcrItemReadCallback cb) override;
    int ReadPLU(int port, EcrItemRecord* items, int count, EcrItemReadCallback cb) override;
    int PgmPLU(int port, EcrItemRecord* items, int count, EcrItemProgramCallback cb, int kind) override;
    int DelPLU(int port, EcrItemRecord* items, int count, EcrItemProgramCallback cb) override;
    int ReadAllDEPT(int port, EcrDeptReadCallback cb) override;
    int PgmDEPT(int port, EcrDeptRecord* depts, int count, EcrDeptProgramCallback cb) override;

    // A host item without a code (empty or blank) in a read.
    static constexpr int kNoCode = 108;

    // The register's record of a host item: 0 with 999 (code longer than
    // 13 characters) or 103 (VAT group other than 0..8).
    int FromHostItem(const EcrItemRecord& item, Cr280PLURecord& rec);
    // The record with the item's code alone (trimmed): 0 with 999 when it
    // is longer than 13 characters.
    int CodeFromHostItem(const EcrItemRecord& item, Cr280PLURecord& rec);
    static EcrItemRecord ToHostItem(const Cr280PLURecord& rec);
    static EcrDeptRecord ToHostDept(const Cr280DeptRecord& rec);

    CCr280& Protocol() { return m_cr; }

private:
    int Result(int r);   // a failure takes the protocol's code and text

    CCr280 m_cr;
};
