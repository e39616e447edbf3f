// CAD_ECR: job logic of the Adax registers (type 19) over CAdax. Goods are
// programmed, price-updated and deleted inside programming sessions; goods,
// departments and sales are read as answer streams (the register gives
// only the codes of its goods, so the rest of each read record holds fixed
// values); sales are cleared in a session. Single goods reads, department
// programming, VAT rates and status are not available (code 25).
#pragma once

#include "drivers/adax/cadax.h"
#include "job/logic_ecr.h"

class CAD_ECR : public CLogicECR {
public:
    std::string GetErrorText(int code) override { return m_adax.GetErrorText(code); }
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

    // Conversions between the host's records and the register's.
    static AdaxPLURecord FromHostItem(const EcrItemRecord& item);
    static EcrItemRecord ToHostItem(const AdaxPLURecord& rec);
    static EcrDeptRecord ToHostDept(const AdaxDeptRecord& rec);
    static void ToHostSale(const AdaxSale& sale, EcrItemRecord& item, EcrSaleRecord& line);

    CAdax& Protocol() { return m_adax; }

private:
    // Takes the protocol's code and text after a failed operation.
    int Failed();

    CAdax m_adax;
};
