#include "drivers/cas/cas_lp_logic.h"

#include <cstring>

#include "drivers/common/host_fields.h"
#include "util/cp1250.h"

namespace {

}  // namespace

int CCasLpLogic::Open(int port, const EcrDeviceRecord* record) {
    // The line is opened last: a failure leaves nothing open.
    return OpenSerialProtocol(Link(), record, CASLP_ERR_BAD_ANSWER, NoRecordAnswer::OwnText,
                              [&](const EcrDeviceRecord& r) { return OpenLink(port, r); });
}

int CCasLpLogic::Close(int /*port*/) {
    Link().ClosePort();
    return 1;
}

// The scale holds no VAT rates, status, sales or departments.
int CCasLpLogic::ReadVAT(int, double*) { return 0; }
int CCasLpLogic::ReadStatus(int, EcrStatusRecord*, double*) { return 0; }
int CCasLpLogic::ReadSale(int, EcrSaleCallback) { return 0; }
int CCasLpLogic::ReadAllDEPT(int, EcrDeptReadCallback) { return 0; }
int CCasLpLogic::ClearSale(int, EcrSaleCallback) { return 1; }
int CCasLpLogic::PgmDEPT(int, EcrDeptRecord*, int, EcrDeptProgramCallback) { return 1; }
int CCasLpLogic::ReadPLU(int, EcrItemRecord*, int, EcrItemReadCallback) { return 0; }
int CCasLpLogic::DelPLU(int, EcrItemRecord*, int, EcrItemProgramCallback) { return 0; }

CasLpPluRecord CCasLpLogic::ToDevice(const EcrItemRecord& item) {
    CasLpPluRecord r;
    r.plu = item.number;
    r.itemCode = HostField(item.code, sizeof item.code, 13);
    r.name1 = HostField(item.name, sizeof item.name, 20);
    r.name2 = HostField(item.scale_text[0], sizeof item.scale_text[0], 24);
    r.price = item.price;
    r.department = item.department;
    r.sellDate = item.word152;
    r.code = item.code224;
    r.amount = item.amount;
    return r;
}

EcrItemRecord CCasLpLogic::ToHost(const CasLpPluRecord& r) {
    EcrItemRecord item;
    std::memset(&item, 0, sizeof item);
    item.number = r.plu;
    StrNCopyZ(item.code, r.itemCode.c_str(), 31);
    StrNCopyZ(item.name, r.name1.c_str(), 47);
    item.vat_group = 1;
    item.department = r.department;
    item.price = r.price;
    item.attr1 = 0;
    item.unit = 1;
    item.word152 = r.sellDate;
    item.code224 = r.code;
    item.amount = r.amount;
    StrNCopyZ(item.scale_text[0], r.name2.c_str(), 24);
    return item;
}

void CCasLpLogic::Convert(const CasLpPluRecord& record) {
    const EcrItemRecord item = ToHost(record);
    SendPLU(&item);
}

int CCasLpLogic::ReadAllPLU(int /*port*/, EcrItemReadCallback /*cb*/) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    if (!ReadAllRecords([this](const CasLpPluRecord& r) { Convert(r); })) return LinkFailed();
    return 1;
}

int CCasLpLogic::EachItem(EcrItemRecord* items, int count, const std::function<int(const CasLpPluRecord&)>& fn) {
    return ItemLoop<EcrItemRecord>(
        items, count,
        [](const EcrItemRecord& item) { return "Nazwa - " + HostField(item.name, sizeof item.name, sizeof item.name); },
        [this, &fn](EcrItemRecord& item, int) { return fn(ToDevice(item)) ? 1 : LinkFailed(); });
}

int CCasLpLogic::PgmPLU(int /*port*/, EcrItemRecord* items, int count, EcrItemProgramCallback /*cb*/, int /*kind*/) {
    return EachItem(items, count, [this](const CasLpPluRecord& r) { return WriteRecord(r); });
}
