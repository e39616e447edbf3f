#include "drivers/scales/cmpr_ecr.h"

#include "drivers/scales/scale_file_job.h"
#include "util/cp1250.h"

CMPR_ECR::CMPR_ECR() = default;
CMPR_ECR::~CMPR_ECR() = default;

std::string CMPR_ECR::GetErrorText(int code) { return m_proto.GetErrorText(code); }

int CMPR_ECR::Open(int /*port*/, const EcrDeviceRecord* record) {
    if (!record) {
        SetError(-1, PL("Niewłaściwe parametry zadania"));
        return 0;
    }
    if (!m_pSerial) {
        SetError(999999, PL("System kas fiskalnych - błąd systemu !"));
        return 0;
    }
    m_proto.SetSerial(m_pSerial);
    SetProtocol(&m_proto);
    if (m_proto.Open(static_cast<uint32_t>(record->port)) != 1) return ScaleProtocolFailed(*this, m_proto);
    return 1;
}

int CMPR_ECR::Close(int /*port*/) { return 1; }

int CMPR_ECR::ReadVAT(int /*port*/, double vat[8]) {
    ScaleNoStatus(nullptr, vat);
    return 1;
}

int CMPR_ECR::ReadStatus(int /*port*/, EcrStatusRecord* status, double vat[8]) {
    ScaleNoStatus(status, vat);
    return 1;
}

int CMPR_ECR::ReadSale(int /*port*/, EcrSaleCallback /*cb*/) { return 0; }
int CMPR_ECR::ClearSale(int /*port*/, EcrSaleCallback /*cb*/) { return 1; }
int CMPR_ECR::ReadAllPLU(int /*port*/, EcrItemReadCallback /*cb*/) { return 1; }
int CMPR_ECR::ReadPLU(int /*port*/, EcrItemRecord* /*items*/, int /*count*/, EcrItemReadCallback /*cb*/) { return 1; }
int CMPR_ECR::DelPLU(int /*port*/, EcrItemRecord* /*items*/, int /*count*/, EcrItemProgramCallback /*cb*/) { return 1; }
int CMPR_ECR::ReadAllDEPT(int /*port*/, EcrDeptReadCallback /*cb*/) { return 1; }
int CMPR_ECR::PgmDEPT(int /*port*/, EcrDeptRecord* /*depts*/, int /*count*/, EcrDeptProgramCallback /*cb*/) {
    return 1;
}

int CMPR_ECR::PgmPLU(int /*port*/, EcrItemRecord* items, int count, EcrItemProgramCallback /*cb*/, int /*kind*/) {
    ScaleFileSteps steps;
    steps.begin = [this] { return m_proto.OpenExportFile(); };
    steps.write = [this](CasPluRecord& rec) { return m_proto.WritePluLine(rec); };
    steps.finish = [this] { return m_proto.CloseExportFile(); };
    steps.run = [this] { return m_proto.RunTransfer(); };
    return ProgramThroughFile(*this, m_proto, items, count, steps);
}
