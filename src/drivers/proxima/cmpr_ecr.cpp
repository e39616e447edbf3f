#include "drivers/proxima/cmpr_ecr.h"

#include "drivers/common/scale_file_job.h"

CMPR_ECR::CMPR_ECR() = default;
CMPR_ECR::~CMPR_ECR() = default;

std::string CMPR_ECR::GetErrorText(int code) { return m_proto.GetErrorText(code); }

int CMPR_ECR::Open(int /*port*/, const EcrDeviceRecord* record) {
    return ScaleOpen(*this, m_proto, record, [this](uint32_t address) { return m_proto.Open(address); });
}

int CMPR_ECR::PgmPLU(int /*port*/, EcrItemRecord* items, int count, EcrItemProgramCallback /*cb*/, int /*kind*/) {
    ScaleFileSteps steps;
    steps.begin = [this] { return m_proto.OpenExportFile(); };
    steps.write = [this](CasPluRecord& rec) { return m_proto.WritePluLine(rec); };
    steps.finish = [this] { return m_proto.CloseExportFile(); };
    steps.run = [this] { return m_proto.RunTransfer(); };
    return ProgramThroughFile(*this, m_proto, items, count, steps);
}
