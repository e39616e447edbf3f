// CEM_ECR: the job logic for Elzab registers reached through the Elzab
// communication library (CElzabModem). Each slot maps a job onto one or two
// library operations; records reach the host through the same converters
// as on the serial line (CS6_ECR).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "drivers/elzab/elzab_modem.h"
#include "job/logic_ecr.h"

class CEM_ECR : public CLogicECR {
public:
    CEM_ECR();

    std::string GetErrorText(int code) override;
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

    // Elzab model code for a device type code (the serial driver's, with
    // the library-only models).
    static uint32_t ModelForType(int type);
    // Link kind of the library for a connection kind.
    static int LinkKindFor(int kind);

    CElzabModem& Protocol() { return m_modem; }
    uint32_t GetOptionMode() const { return m_nOption; }

    // Code the register gives when it does not answer.
    static constexpr int kNoAnswer = 100;
    int NoAnswerCode() const override { return kNoAnswer; }

private:
    int Fail();                          // copies the protocol's error; returns 0
    int FailWith(int code);              // sets a code and its text; returns 0
    void DeliverSale(EcrSaleCallback cb, const ElzabSale& sale);
    void DeliverPlu(EcrItemReadCallback cb, const ElzabPlu& plu, const std::string& barcode);
    int ItemRecord(EcrItemRecord& item, int kind, const double rates[8], std::string& record);

    void Confirm(EcrItemRecord* r, int code, const std::string& t) { ConfirmPLU(r, code, t); }
    void Confirm(EcrDeptRecord* r, int code, const std::string& t) { ConfirmDEPT(r, code, t); }
    void Confirm(EcrUnitRecord* r, int code, const std::string& t) { ConfirmUnit(r, code, t); }

    // The register's answer to a batch write: when expected, records of
    // PLU number and code (0 accepted); each is matched to the item of its
    // number, and an item without a record of its own fails with 6.
    struct BatchAnswer {
        bool expected = false;
        std::vector<std::pair<uint32_t, int>> records;
    };
    // One request of records, one library call. build makes the record of
    // an item (1) or refuses it (0, error set); send makes the call.
    template <class Rec>
    int BatchWrite(Rec* items, int count, const std::function<std::string(const Rec&)>& text,
                   const std::function<int(Rec&, std::string&)>& build,
                   const std::function<int(BatchAnswer& answer)>& send);
    // Departments and units: progress "prefix number - name", one record
    // each, one write.
    template <class Rec>
    int WriteNamed(Rec* records, int count, const char* prefix, std::string (*record)(uint32_t, const char*),
                   int (CElzabModem::*write)());

    CElzabModem m_modem;
    uint32_t m_nOption = 0;
};
