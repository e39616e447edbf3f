// CSharpLogic: the job logic of the Sharp block-link registers, one class
// configured per model (CSH_ECR, CS5_ECR, CSH285_ECR, CSH7_ECR,
// CSH277PS_ECR, CSH9_ECR): opening, the VAT, status, sale, goods and
// department reads, the sale clearing, and the goods programming and
// deleting in batches with their confirmations.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "drivers/sharp/sharp_link.h"
#include "job/logic_ecr.h"

// The register models the logic serves.
enum class SharpModel : uint8_t { S457, S495, S285, S277, S277PS, S455 };

// Where an item goes in a batch slot.
enum class SharpRoute { Number, Barcode, Skip, Invalid };

struct SharpBatchPlan {
    int size = 10;
    bool numberFirst = false;     // a barcode batch waits for the number batch sent at its item
    bool stopOnFailure = true;    // the slot ends at its first failed batch
    bool invalidFails = false;    // an invalid item fails the slot
    double pause = 0.0;           // after each batch sent
};

// The batch slots of the family: event 9; each item routed to the number or
// the barcode batch (or skipped, or confirmed invalid with 105); its row
// made and checked (a refused row is confirmed with its code and joins no
// batch); a batch sent when full or at the last item; a failed batch
// confirms each of its items (event 6 once per job); three batches in a row
// that fail for want of an answer end the slot, every item not yet handled
// confirmed with that code. -7 ends at once. Returns the last batch's
// result (with stopOnFailure: 0 at the first failed batch).
int SharpRunBatches(CLogicECR& logic, CSharpPort& port, EcrItemRecord* items, int count, const SharpBatchPlan& plan,
                    const std::function<SharpRoute(const EcrItemRecord&)>& route,
                    const std::function<int(const EcrItemRecord&, SharpRoute, SharpPluRow&)>& makeRow,
                    const std::function<int(const std::vector<SharpPluRow>&, SharpRoute)>& send);

class CSharpLogic : public CLogicECR {
public:
    std::string GetErrorText(int code) override { return m_link.GetErrorText(code); }
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

    // Conversions between the host records and the rows.
    EcrItemRecord ToHostItem(const SharpPluRow& row) const { return ToHostItem(row, SixOneForty() || m_model == SharpModel::S285); }
    // withLinked: the linked goods number goes over too.
    static EcrItemRecord ToHostItem(const SharpPluRow& row, bool withLinked);
    // The row of a host item: the code trimmed (13 at most), the name cut
    // to nameWidth; dept2 and linked only where the model carries them.
    static SharpPluRow FromHostItem(const EcrItemRecord& item, int nameWidth, bool withDept2, bool withLinked);
    static EcrDeptRecord ToHostDept(const SharpDeptRow& row);
    static void ToHostSale(const SharpSaleRow& row, EcrItemRecord& item, EcrSaleRecord& sale);
    SharpPluRow FromHostItem(const EcrItemRecord& item) const {
        return FromHostItem(item, NameWidth(), m_model != SharpModel::S285, SixOneForty() || m_model == SharpModel::S285);
    }
    SharpDeptRow FromHostDept(const EcrDeptRecord& dept) const { return FromHostDept(dept, NameWidth()); }
    static SharpDeptRow FromHostDept(const EcrDeptRecord& dept, int nameWidth);

    // A selection the register left unanswered (9999) counts as silence,
    // as the transport's own codes do.
    bool IsNoAnswer(int code) const override { return m_link.IsSilence(code); }

    CSharpLink& Link() { return m_link; }
    SharpModel Model() const { return m_model; }

protected:
    CSharpLogic(CSharpLink& link, SharpModel model) : m_link(link), m_model(model) {}

    // The row of an item for a batch, checked as the record the job sends
    // (0), or the code that refuses it.
    int BatchRow(const EcrItemRecord& item, SharpRoute route, const SharpHeader& header, SharpPluRow& row);

    bool SixOneForty() const { return m_model == SharpModel::S457 || m_model == SharpModel::S495; }
    bool BarcodeOnly() const { return m_model == SharpModel::S285 || m_model == SharpModel::S277PS; }
    int NameWidth() const { return m_model == SharpModel::S285 ? 24 : 16; }
    int TakeLinkError(int r);
    int Pause(double seconds);
    int ReadSales(int mode, bool clear);
    // The one read of the goods of a keying, handed to the host.
    int ReadGoods(CSharpLink::Keying keying);

    CSharpLink& m_link;
    const SharpModel m_model;
};
