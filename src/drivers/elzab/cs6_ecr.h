// CS6_ECR: the job logic for Elzab registers on a serial line. It maps every
// device slot onto the Elzab commands of CSystem600 and converts between the
// host's records and the register's.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "drivers/elzab/system600.h"
#include "job/logic_ecr.h"

class CS6_ECR : public CLogicECR {
public:
    CS6_ECR();

    std::string GetErrorText(int code) override;
    int NoAnswerCode() const override { return CSystem600::kNoAnswer; }
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
    // Sales reports that no job reaches.
    virtual int ReadSaleReport2(int port, EcrSaleCallback cb);
    virtual int ReadSaleReport3(int port, EcrSaleCallback cb);

    // Elzab model code for a device type code.
    static uint32_t ModelForType(int type);

    CSystem600& Protocol() { return m_sys; }
    uint32_t GetOptionMode() const { return m_nOption; }

    // Host item <-> Elzab goods record.
    static void ItemToPlu(const EcrItemRecord& item, ElzabPlu& plu);
    static void PluToItem(const ElzabPlu& plu, EcrItemRecord& item);
    // A sale (with its goods record when known) as the host's item and sale
    // records, both zeroed first.
    static void SaleToHost(const ElzabSale& s, const ElzabPlu* plu, EcrItemRecord& item, EcrSaleRecord& sale);

private:
    int Fail();                          // copies the protocol's error; returns 0
    int FailWith(int code);              // sets a code and its text; returns 0
    bool CheckRegister();
    int ReadWithRetries(const std::function<int()>& read);
    int WalkCapacity(uint32_t& capacity);
    int ReadSaleCounters(EcrSaleCallback cb);
    void DeliverSale(EcrSaleCallback cb, const ElzabSale& sale, const ElzabPlu* plu);
    int ProgramItem(EcrItemRecord& item, int kind, const double rates[8]);

    CSystem600 m_sys;
    uint32_t m_nOption = 0;
};
