// A scripted job-logic class for tests of the job framework, the dispatcher
// and the exports: every slot does what its script says, records that it was
// called, and the item slots run the common item loop.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "comm/telepathy_ecr.h"
#include "job/logic_ecr.h"

namespace orv::test {

// What one slot does.
struct SlotScript {
    int result = 1;            // what the slot returns
    int error = 0;             // set with `text` in the logic object when nonzero
    std::string text;          // CP1250
    int protocolError = 0;     // left in the embedded protocol object when nonzero
};

class CFakeLogic : public CLogicECR {
public:
    explicit CFakeLogic(std::string name = "CFakeLogic");
    ~CFakeLogic() override;

    // ---- scripts (set before the job starts) ----
    SlotScript open, close, readVat, readStatus, readSale, clearSale, readAllPlu, readPlu, pgmPlu, delPlu,
        readAllDept, pgmDept, readAllUnit, pgmUnit;
    bool registerProtocol = true;          // Open registers the embedded protocol object
    bool throwInSlot = false;              // every slot after Open throws

    // Records the read slots hand to the host.
    std::vector<EcrItemRecord> plus;       // ReadAllPLU / ReadPLU
    std::vector<EcrDeptRecord> depts;      // ReadAllDEPT
    std::vector<EcrUnitRecord> units;      // ReadAllUnit
    std::vector<std::pair<EcrItemRecord, EcrSaleRecord>> sales;  // ReadSale / ClearSale
    double vatRates[8] = {23, 8, 5, 0, -1, -3, -3, -3};
    EcrStatusRecord status{};
    bool writeVatInStatus = true;

    // Item slots (PgmPLU, DelPLU, PgmDEPT, PgmUNIT) run the item loop; an
    // entry here makes the item at that 0-based index fail with its code and
    // text (code -7: broken off). The loop options are passed on.
    std::map<int, SlotScript> itemFailures;
    ItemLoopOptions loopOptions;
    int noAnswerCode = 0;                  // the class's own "no answer" code

    // Error texts of this class (others: "Błąd <code>").
    std::map<int, std::string> errorTexts;

    // ---- what happened ----
    std::vector<std::string> Calls() const;     // "Open(3)", "ReadVAT(3)", "PgmPLU(3,2,kind=1)", ...
    void ClearCalls();
    std::vector<int> ItemsTried() const;        // 0-based indexes the item loop handed to its function
    CTelepathyECR& Protocol() { return m_protocol; }
    const std::string& Name() const { return m_name; }

    // ---- slots ----
    std::string GetErrorText(int code) override;
    int NoAnswerCode() const override { return noAnswerCode; }
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

private:
    void Record(const std::string& call);
    int Apply(const SlotScript& s);
    template <class Rec>
    int Loop(Rec* items, int count);

    std::string m_name;
    CTelepathyECR m_protocol;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_calls;
    std::vector<int> m_itemsTried;
};

}  // namespace orv::test
