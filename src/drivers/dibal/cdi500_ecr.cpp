#include "drivers/dibal/cdi500_ecr.h"

#include "drivers/common/scale_file_job.h"
#include "drivers/dibal/cdi_ecr.h"

CDI500_ECR::CDI500_ECR() = default;
CDI500_ECR::~CDI500_ECR() = default;

std::string CDI500_ECR::GetErrorText(int code) { return m_proto.GetErrorText(code); }

int CDI500_ECR::Open(int /*port*/, const EcrDeviceRecord* record) {
    return ScaleOpen(*this, m_proto, record, [&](uint32_t address) {
        return m_proto.Open(address, record->kind, record->word7, record->word8);
    });
}

int CDI500_ECR::Close(int /*port*/) {
    m_proto.ReleaseAddress();
    return 1;
}

int CDI500_ECR::ReadVAT(int /*port*/, double /*vat*/[8]) { return 0; }
int CDI500_ECR::ReadStatus(int /*port*/, EcrStatusRecord* /*status*/, double /*vat*/[8]) { return 0; }
int CDI500_ECR::ReadSale(int /*port*/, EcrSaleCallback /*cb*/) { return 0; }
int CDI500_ECR::ClearSale(int /*port*/, EcrSaleCallback /*cb*/) { return 1; }
int CDI500_ECR::ReadAllPLU(int /*port*/, EcrItemReadCallback /*cb*/) { return 1; }
int CDI500_ECR::ReadPLU(int /*port*/, EcrItemRecord* /*items*/, int /*count*/, EcrItemReadCallback /*cb*/) {
    return 1;
}
int CDI500_ECR::DelPLU(int /*port*/, EcrItemRecord* /*items*/, int /*count*/, EcrItemProgramCallback /*cb*/) {
    return 0;
}
int CDI500_ECR::ReadAllDEPT(int /*port*/, EcrDeptReadCallback /*cb*/) { return 0; }
int CDI500_ECR::PgmDEPT(int /*port*/, EcrDeptRecord* /*depts*/, int /*count*/, EcrDeptProgramCallback /*cb*/) {
    return 1;
}

int CDI500_ECR::PgmPLU(int /*port*/, EcrItemRecord* items, int count, EcrItemProgramCallback /*cb*/, int /*kind*/) {
    return ItemLoop(items, count, ScaleItemText, [this](EcrItemRecord& item, int) {
        // A library call cannot be broken off: the break is looked at
        // before each item's calls.
        if (m_pSerial && m_pSerial->IsAborted()) {
            SetError(-7, GetErrorText(-7));
            return 0;
        }
        if (m_proto.BuildItems(CDI_ECR::ToDibal(item, false)) == 1) return 1;
        TakeProtocolError(m_proto);
        return 0;
    });
}
