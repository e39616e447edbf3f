#include "drivers/dibal/cdi_ecr.h"

#include <cstring>

#include "drivers/common/scale_file_job.h"
#include "util/cp1250.h"

namespace {

// A host text field (terminated or not) with its blanks trimmed and cut.
template <size_t N, size_t M>
void TrimCut(char (&dst)[N], const char (&src)[M], size_t width) {
    const CChrArr text = ChrTrim(CChrArr(reinterpret_cast<const uint8_t*>(src), strnlen(src, M)), ' ');
    ChrArrToBuffer(dst, text.Left(static_cast<int>(width < N - 1 ? width : N - 1)), static_cast<int>(N - 1));
}

}  // namespace

CDI_ECR::CDI_ECR() = default;
CDI_ECR::~CDI_ECR() = default;

std::string CDI_ECR::GetErrorText(int code) { return m_proto.GetErrorText(code); }

int CDI_ECR::Open(int port, const EcrDeviceRecord* record) {
    return OpenSerialProtocol(m_proto, record, DIBAL_ERR_NO_ANSWER, NoRecordAnswer::JobParameters,
                              [&](const EcrDeviceRecord& r) {
                                  m_proto.SetModeFlag(r.type == 103 ? 1 : 0);
                                  return m_proto.Open(port, r.baud, r.word7);
                              });
}

int CDI_ECR::Close(int /*port*/) {
    m_proto.ClosePort();
    return 1;
}

int CDI_ECR::ReadVAT(int /*port*/, double /*vat*/[8]) { return 0; }
int CDI_ECR::ReadStatus(int /*port*/, EcrStatusRecord* /*status*/, double /*vat*/[8]) { return 0; }
int CDI_ECR::ReadSale(int /*port*/, EcrSaleCallback /*cb*/) { return 0; }
int CDI_ECR::ClearSale(int /*port*/, EcrSaleCallback /*cb*/) { return 1; }
int CDI_ECR::ReadPLU(int /*port*/, EcrItemRecord* /*items*/, int /*count*/, EcrItemReadCallback /*cb*/) { return 1; }
int CDI_ECR::DelPLU(int /*port*/, EcrItemRecord* /*items*/, int /*count*/, EcrItemProgramCallback /*cb*/) { return 0; }
int CDI_ECR::ReadAllDEPT(int /*port*/, EcrDeptReadCallback /*cb*/) { return 0; }
int CDI_ECR::PgmDEPT(int /*port*/, EcrDeptRecord* /*depts*/, int /*count*/, EcrDeptProgramCallback /*cb*/) {
    return 1;
}

DibalItem CDI_ECR::ToDibal(const EcrItemRecord& item, bool trimName) {
    DibalItem d;
    std::memset(&d, 0, sizeof d);
    d.plu = item.number;
    if (trimName)
        TrimCut(d.name, item.name, 24);
    else
        ScaleCopyCut(d.name, item.name, 24);
    d.flag = item.word156;
    d.price = item.price;
    d.vatGroup = item.vat_group;
    d.department = item.department;
    d.code2 = item.code224;
    d.amount = item.amount;
    TrimCut(d.date1, item.text236, 15);
    TrimCut(d.date2, item.text252, 15);
    TrimCut(d.text1, item.scale_text[0], 20);
    TrimCut(d.text2, item.scale_text[1], 20);
    TrimCut(d.text3, item.scale_text[2], 20);
    d.code3 = item.code468;
    return d;
}

EcrItemRecord CDI_ECR::FromDibal(const DibalItem& d) {
    EcrItemRecord item;
    std::memset(&item, 0, sizeof item);
    item.number = d.plu;
    ScaleCopyCut(item.name, d.name, 47);
    item.vat_group = d.vatGroup;
    item.department = d.department;
    item.price = d.price;
    item.attr1 = 0;
    item.unit = 1;
    item.word156 = d.flag;
    item.code224 = d.code2;
    item.amount = d.amount;
    ScaleCopyCut(item.text236, d.date1, 15);
    ScaleCopyCut(item.text252, d.date2, 15);
    ScaleCopyCut(item.scale_text[0], d.text1, 20);
    ScaleCopyCut(item.scale_text[1], d.text2, 20);
    ScaleCopyCut(item.scale_text[2], d.text3, 20);
    item.code468 = d.code3;
    return item;
}

int CDI_ECR::SendAllItems(EcrItemRecord* items, int count) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    int next = 0;
    int current = -1;
    const int r = m_proto.SendItems(
        [&](DibalItem& out) {
            if (next >= count) return 0;
            current = next++;
            out = ToDibal(items[current], true);
            return 1;
        },
        [&] {
            if (m_proto.m_nError == 0) m_proto.m_nError = DIBAL_ERR_NO_ANSWER;
            ConfirmPLU(&items[current], m_proto.m_nError, GetErrorText(m_proto.m_nError));
        });
    if (r != 1) return Failed();
    return 1;
}

int CDI_ECR::PgmPLU(int /*port*/, EcrItemRecord* items, int count, EcrItemProgramCallback /*cb*/, int /*kind*/) {
    if (!items) {
        SetError(-1, PL("Niewłaściwe parametry zadania"));
        return 0;
    }
    if (m_proto.ModeFlag() == 1) return SendAllItems(items, count);
    return ItemLoop(items, count, ScaleItemText, [this](EcrItemRecord& item, int) {
        if (m_proto.SendItem(ToDibal(item, false)) == 1) return 1;
        return Failed();
    });
}

int CDI_ECR::ReadAllPLU(int /*port*/, EcrItemReadCallback /*cb*/) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    const int r = m_proto.ReadRegisters([this](const DibalItem& d) {
        const EcrItemRecord item = FromDibal(d);
        SendPLU(&item);
    });
    if (r != 1) return Failed();
    return 1;
}
