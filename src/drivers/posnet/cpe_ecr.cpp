#include "drivers/posnet/cpe_ecr.h"

#include <cmath>
#include <cstring>

#include "drivers/common/record_fields.h"
#include "drivers/posnet/posnet_text.h"
#include "util/cp1250.h"

namespace {


const char* const kNotAvailableText = PL("Rozkaz niedostępny w tej wersji programu kasy");
constexpr int kNotAvailable = 25;

}  // namespace

CPE_ECR::CPE_ECR() = default;
CPE_ECR::~CPE_ECR() = default;

EcrItemRecord CPE_ECR::ToHost(const PosnetEcrPlu& plu) {
    EcrItemRecord item{};
    item.number = plu.number;
    CopyText(item.code, sizeof item.code, plu.code, sizeof plu.code, 31);
    CopyText(item.name, sizeof item.name, plu.name, sizeof plu.name, 47);
    item.vat_group = plu.vatGroup;
    item.department = plu.department;
    item.price = plu.price;
    item.unit = 1;
    item.attr3 = 0;
    return item;
}

void CPE_ECR::ToHostSale(const PosnetEcrSale& sale, EcrItemRecord& item, EcrSaleRecord& out) {
    item = EcrItemRecord{};
    out = EcrSaleRecord{};
    item.number = sale.number;
    CopyText(item.code, sizeof item.code, sale.code, sizeof sale.code, 31);
    CopyText(item.name, sizeof item.name, sale.name, sizeof sale.name, 47);
    out.plu = sale.number;
    CopyText(out.code, sizeof out.code, sale.code, sizeof sale.code, 31);
    CopyText(out.name, sizeof out.name, sale.name, sizeof sale.name, 47);
    out.quantity = sale.quantity;
    out.value = sale.value;
}

int CPE_ECR::Open(int port, const EcrDeviceRecord* record) {
    // 9600 baud whatever the record says.
    return OpenSerialProtocol(m_proto, record, 0, NoRecordAnswer::SystemError,
                              [&](const EcrDeviceRecord&) { return m_proto.Open(port); });
}

int CPE_ECR::Close(int) {
    m_proto.ClosePort();
    return 1;
}

int CPE_ECR::ReadVAT(int, double vat[8]) { return m_proto.ReadStatusAndVat(vat) == 1 ? 1 : Failed(); }

int CPE_ECR::ReadStatus(int, EcrStatusRecord* status, double vat[8]) {
    for (int i = 0; i < 8; ++i) vat[i] = -3.0;
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    if (m_proto.ReadStatusAndVat(vat) != 1) return Failed();
    status->device_text[0] = 0;
    status->unique_number[0] = 0;
    status->text2[0] = 0;
    Notify(ECR_EVENT_WAIT, std::string(), 100, 0);
    return 1;
}

int CPE_ECR::ReadSale(int, EcrSaleCallback) {
    const int r = m_proto.ReadPluSales([this](const PosnetEcrPlu&, const PosnetEcrSale& sale) {
        EcrItemRecord item;
        EcrSaleRecord record;
        ToHostSale(sale, item, record);
        SendSale(&item, &record);
    });
    return r == 1 ? 1 : Failed();
}

int CPE_ECR::ReadAllPLU(int, EcrItemReadCallback) {
    const int r = m_proto.ReadAllPlus([this](const PosnetEcrPlu& plu, const PosnetEcrSale&) {
        const EcrItemRecord item = ToHost(plu);
        SendPLU(&item);
    });
    return r == 1 ? 1 : Failed();
}

// ---------------------------------------------------------------- slots without device work

int CPE_ECR::ClearSale(int, EcrSaleCallback) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    return 0;   // 25
}

int CPE_ECR::ReadAllDEPT(int, EcrDeptReadCallback) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    return 0;   // 25
}

int CPE_ECR::ReadPLU(int, EcrItemRecord* items, int count, EcrItemReadCallback) {
    if (!items) {
        SetError(-1, PL("Niewłaściwe parametry zadania"));
        return 0;
    }
    if (count <= 0) count = 1;
    Notify(ECR_EVENT_ITEM, "Kod kreskowy - " + std::string(items[0].code, strnlen(items[0].code, sizeof items[0].code)),
           100 / count, 0);
    return 0;   // 25
}

template <class Rec>
int CPE_ECR::RefuseRecords(Rec* records, int count) {
    ItemLoopOptions opt;
    opt.event6OnFirstFailure = true;
    const int r = ItemLoop<Rec>(
        records, count,
        [](const Rec& rec) { return "Nazwa - " + std::string(rec.name, strnlen(rec.name, sizeof rec.name)); },
        [this](Rec&, int) {
            if (m_pSerial && m_pSerial->IsAborted()) {
                SetError(-7, GetErrorText(-7));
                return 0;
            }
            SetError(kNotAvailable, kNotAvailableText);
            return 0;
        },
        opt);
    return r;
}

int CPE_ECR::PgmPLU(int, EcrItemRecord* items, int count, EcrItemProgramCallback, int) {
    return RefuseRecords(items, count);
}

int CPE_ECR::DelPLU(int, EcrItemRecord* items, int count, EcrItemProgramCallback) { return RefuseRecords(items, count); }

int CPE_ECR::PgmDEPT(int, EcrDeptRecord* depts, int count, EcrDeptProgramCallback) {
    return RefuseRecords(depts, count);
}
