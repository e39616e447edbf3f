// CHI_ECR: job logic of the Hida registers (type 23) over CHida. Goods are
// programmed, deleted and read (all of them, or the listed codes),
// departments programmed and read, sales read (two passes) and cleared.
// The register reports neither VAT rates nor its status (25), and keeps no
// units of measure.
#pragma once

#include "drivers/hida/chida.h"
#include "job/logic_ecr.h"

class CHI_ECR : public CLogicECR {
public:
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

    // Host records and the register's. A host VAT group of 0 or -1 means
    // none; read back, none is -1.
    static HidaPlu ToDevice(const EcrItemRecord& item);
    static EcrItemRecord ToHost(const HidaPlu& plu);
    static HidaDept ToDevice(const EcrDeptRecord& dept);
    static EcrDeptRecord ToHost(const HidaDept& dept);

    CHida& Protocol() { return m_proto; }

private:
    int Failed() { return ProtocolFailed(m_proto, 999); }
    // The programming loops of goods (operation: program or delete).
    int GoodsLoop(EcrItemRecord* items, int count, int (CHida::*operation)(const HidaPlu&));

    CHida m_proto;
};
