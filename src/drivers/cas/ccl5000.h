// CCL5000: the protocol object of the direct CAS CL5000 path, embedded in
// CCAS_ECR. That path (the vendor's communication library) is not served by
// this version of the library: the object only supplies the error texts of
// its logic class.
#pragma once

#include <string>

#include "comm/telepathy_ecr.h"

class CCL5000 : public CTelepathyECR {
public:
    CCL5000();
    ~CCL5000() override;

    std::string GetErrorText(int code) override;
};
