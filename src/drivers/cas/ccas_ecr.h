// CCAS_ECR: job logic of the direct CAS CL5000 path, with its protocol
// object CCL5000. No device type selects it; it is the base of the CAS XML
// scale logic (CCAS_XML_ECR). Opened on its own it refuses like a family
// this version does not serve.
#pragma once

#include <string>

#include "drivers/cas/ccl5000.h"
#include "job/logic_ecr.h"

class CCAS_ECR : public CLogicECR {
public:
    CCAS_ECR();
    ~CCAS_ECR() override;

    std::string GetErrorText(int code) override;
    int Open(int port, const EcrDeviceRecord* record) override;
    int Close(int port) override;

protected:
    CCL5000 m_cl5000;
};
