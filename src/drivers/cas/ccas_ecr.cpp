#include "drivers/cas/ccas_ecr.h"

#include "util/cp1250.h"

CCAS_ECR::CCAS_ECR() = default;
CCAS_ECR::~CCAS_ECR() = default;

std::string CCAS_ECR::GetErrorText(int code) { return m_cl5000.GetErrorText(code); }

int CCAS_ECR::Open(int /*port*/, const EcrDeviceRecord* /*record*/) {
    SetProtocol(&m_cl5000);
    SetError(999999, PL("Brak obsługi urządzenia tego typu w tej wersji biblioteki"));
    return 0;
}

int CCAS_ECR::Close(int /*port*/) { return 1; }
