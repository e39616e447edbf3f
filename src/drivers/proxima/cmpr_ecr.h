// CMPR_ECR: job logic of the Proxima scales (device type 113). Only goods
// programming does work: the goods go into MEDESA.EXP and the transfer
// program wmplw.exe takes them to the scale (see CProximaTxt).
#pragma once

#include <string>

#include "drivers/proxima/cproxima_txt.h"
#include "drivers/common/scale_file_logic.h"

class CMPR_ECR : public CScaleFileLogic {
public:
    CMPR_ECR();
    ~CMPR_ECR() override;

    std::string GetErrorText(int code) override;
    int Open(int port, const EcrDeviceRecord* record) override;
    int PgmPLU(int port, EcrItemRecord* items, int count, EcrItemProgramCallback cb, int kind) override;

    CProximaTxt& Protocol() { return m_proto; }

private:
    CProximaTxt m_proto;
};
