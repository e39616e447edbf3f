// CPC_ECR: the job logic for the Posnet Combo, Neo and Bingo registers
// (device types 10, 56, 61, 73, 89, 90, 91, 96), reached through the Posnet
// libraries by CPosnetCombo: over a serial line, USB (connection kind 12)
// or TCP (kind 11). It maps the jobs onto the register operations and
// converts between the host records and the Combo records.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "drivers/posnet/posnet_combo.h"
#include "job/logic_ecr.h"

class CPC_ECR : public CLogicECR {
public:
    CPC_ECR();

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

    // Model of the protocol object: 10, 56, 96 -> 2; 90 -> 1; else 0.
    static int ModelForType(int type);
    // Connection kinds of the device record.
    static constexpr int kKindTcp = 11;
    static constexpr int kKindUsb = 12;

    // Converters between the host records and the Combo records.
    static ComboPlu ItemToPlu(const EcrItemRecord& item, int nameLength);
    static void PluToItem(const ComboPlu& plu, EcrItemRecord& item);
    static void LineToHost(const ComboSaleLine& line, EcrItemRecord& item, EcrSaleRecord& sale);

    CPosnetCombo& Protocol() { return m_combo; }
    int GetSaleMode() const { return m_nSaleMode; }

private:
    // Copies the protocol's code (9999 when it has none) and its text; 0.
    int Fail();
    // The libraries' "the wait ran out": the register did not answer.
    int NoAnswerCode() const override { return CPosnetCombo::kTimeout; }
    // The item loop (a register that stopped answering is given up after
    // three items, a break ends it at once).
    template <class Rec>
    int Items(Rec* items, int count, const std::function<std::string(const Rec&)>& text,
              const std::function<int(Rec&)>& op);
    int PgmBarcodes(EcrItemRecord* items, int count);
    int ReadStats(EcrSaleCallback cb, bool clear);

    CPosnetCombo m_combo;
    int m_nSaleMode = 0;
};
