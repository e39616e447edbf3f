#include "drivers/digi/cdg_ecr.h"

#include "drivers/common/scale_file_job.h"

CDG_ECR::CDG_ECR() = default;
CDG_ECR::~CDG_ECR() = default;

std::string CDG_ECR::GetErrorText(int code) { return m_proto.GetErrorText(code); }

int CDG_ECR::Open(int /*port*/, const EcrDeviceRecord* record) {
    return ScaleOpen(*this, m_proto, record,
                     [&](uint32_t address) { return m_proto.Open(address, record->word7); });
}

int CDG_ECR::PgmPLU(int /*port*/, EcrItemRecord* items, int count, EcrItemProgramCallback /*cb*/, int /*kind*/) {
    ScaleFileSteps steps;
    steps.begin = [this] { return m_proto.OpenDataFile(); };
    steps.write = [this](CasPluRecord& rec) { return m_proto.WritePluRecord(rec); };
    steps.finish = [this] { return m_proto.CloseDataFile(); };
    steps.run = [this] { return m_proto.RunSmEth(); };
    return ProgramThroughFile(*this, m_proto, items, count, steps);
}
