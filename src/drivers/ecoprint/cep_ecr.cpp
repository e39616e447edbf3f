#include "drivers/ecoprint/cep_ecr.h"

#include "drivers/common/scale_file_job.h"

CEP_ECR::CEP_ECR() = default;
CEP_ECR::~CEP_ECR() = default;

std::string CEP_ECR::GetErrorText(int code) { return m_proto.GetErrorText(code); }

int CEP_ECR::Open(int /*port*/, const EcrDeviceRecord* record) {
    return ScaleOpen(*this, m_proto, record, [this](uint32_t) { return m_proto.Open(); });
}

int CEP_ECR::PgmPLU(int /*port*/, EcrItemRecord* items, int count, EcrItemProgramCallback /*cb*/, int /*kind*/) {
    ScaleFileSteps steps;
    steps.begin = [this] { return m_proto.OpenDataFile(); };
    steps.write = [this](CasPluRecord& rec) { return m_proto.WritePluRecord(rec); };
    steps.finish = [this] { return m_proto.CloseDataFile(); };
    steps.run = [this] { return m_proto.RunBatch(); };
    return ProgramThroughFile(*this, m_proto, items, count, steps);
}
