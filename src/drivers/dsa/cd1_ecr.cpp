#include "drivers/dsa/cd1_ecr.h"

void CD1_ECR::ConfigureModel(const EcrDeviceRecord* record) {
    m_dsa.m_nModel = record->type == 37 ? 1 : 0;
    m_dsa.m_nVariant = 0;
}
