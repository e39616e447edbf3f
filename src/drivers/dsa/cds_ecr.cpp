#include "drivers/dsa/cds_ecr.h"

#include <algorithm>

void CDS_ECR::ConfigureModel(const EcrDeviceRecord* record) {
    if (record->type == 13) {
        m_dsa.m_nModel = 1;
        m_dsa.m_nVariant = record->word9 == 2 ? 2 : 1;
    } else {
        m_dsa.m_nModel = record->type == 36 ? 3 : 2;
        m_dsa.m_nVariant = 1;
    }
}

uint32_t CDS_ECR::ReadAllLimit() const { return std::min<uint32_t>(m_dsa.Capacity(), 9999); }
