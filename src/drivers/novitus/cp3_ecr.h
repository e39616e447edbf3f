// CP3_ECR: job logic of the Novitus registers driven through the fiscal
// control (device types 26, 60, 71, 72, 82, 83, 87). It converts between the
// host's records and the control's transfers of CPs3000.
#pragma once

#include <string>

#include "drivers/novitus/ps3000.h"
#include "job/logic_ecr.h"

class CP3_ECR : public CLogicECR {
public:
    std::string GetErrorText(int code) override { return m_ps.GetErrorText(code); }
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
    int ReadAllUnit(int port, EcrUnitReadCallback cb) override;
    int PgmUNIT(int port, EcrUnitRecord* units, int count, EcrUnitProgramCallback cb) override;

    // The control's "no answer" codes: time-out, device silent, connection broken.
    bool IsNoAnswer(int code) const override;

    orv::novitus::CPs3000& Protocol() { return m_ps; }
    int SaleMode() const { return m_saleMode; }
    // Largest price or amount the registers take (device text 21).
    static constexpr double kMaxAmount = 21474836.39;

private:
    int Fail() { return ProtocolFailed(m_ps, 9999); }   // copies the protocol's code and text; 0
    int SaleReports(int mode);
    int ReceiptLoop();
    bool CodeRefused(const char* code, size_t size);
    bool ItemRefused(const EcrItemRecord& item, bool full);
    bool AmountRefused(double v);

    orv::novitus::CPs3000 m_ps;
    int m_saleMode = 0;
};
