#include "drivers/novitus/cta_ecr.h"

CTA_ECR::CTA_ECR() : CTangoLogic(m_tango, false) {}
CTA_ECR::~CTA_ECR() = default;

int CTA_ECR::OpenLine(int port, const EcrDeviceRecord* record) { return m_tango.Open(port, record->baud); }
