// CPF_ECR: job logic of the Posnet Perfekt and Bingo registers (device types
// 38, 44, 45, 54 and 62) over the embedded CPosnetPerfekt protocol object.
// Types 54 and 62 (variant 4) also hold departments; no type has units.
#pragma once

#include <string>

#include "drivers/posnet/perfekt.h"
#include "job/logic_ecr.h"

class CPF_ECR : public CLogicECR {
public:
    CPF_ECR();
    ~CPF_ECR() override;

    std::string GetErrorText(int code) override { return m_proto.GetErrorText(code); }
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

    CPosnetPerfekt& Protocol() { return m_proto; }

    // Variant of a device type code: 44 -> 2, 45 -> 3, 54 and 62 -> 4, else 1.
    static int VariantOfType(int type);

    // ---- record conversions ----
    // The device record of a host item; 0 with the code and its text set
    // (105, 108, 109) for an item the register cannot take.
    int ToDevice(const EcrItemRecord& item, PerfektPlu& plu);
    static EcrItemRecord ToHost(const PerfektPlu& plu);
    static void ToHostSale(const PerfektPlu& plu, const PerfektSale& sale, EcrItemRecord& item, EcrSaleRecord& out);

private:
    // PLU numbers 1..999999, else 105 with its text.
    int CheckNumber(uint32_t number);
    int Failed() { return ProtocolFailed(m_proto, POSNET_ERR_BAD_REPLY); }
    bool BrokenOff();   // -7 set when a break was asked for
    int SaleWalk(bool clearing);

    CPosnetPerfekt m_proto;
};
