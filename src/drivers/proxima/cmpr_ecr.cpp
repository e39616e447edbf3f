#include "drivers/proxima/cmpr_ecr.h"

#include "drivers/common/scale_file_job.h"

CMPR_ECR::CMPR_ECR() = default;
CMPR_ECR::~CMPR_ECR() = default;

std::string CMPR_ECR::GetErrorText(int code) { return m_proto.GetErrorText(code); }

int CMPR_ECR::Open(int /*port*/, const EcrDeviceRecord* record) {
    return ScaleOpen(*this, m_proto, record, [this](uint32_t address) { return m_proto.Open(address); });
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
