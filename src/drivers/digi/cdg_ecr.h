// CDG_ECR: job logic of the Digi scales (device type 108). Only goods
// programming does work: the goods go into XWS_DIGI.txt and the transfer
// program sm_eth.exe takes them to the scale (see CDigi).
#pragma once

#include <string>

#include "drivers/common/scale_file_logic.h"
#include "drivers/digi/cdigi.h"

class CDG_ECR : public CScaleFileLogic {
public:
    CDG_ECR();
    ~CDG_ECR() override;

    std::string GetErrorText(int code) override;
    int Open(int port, const EcrDeviceRecord* record) override;
    int PgmPLU(int port, EcrItemRecord* items, int count, EcrItemProgramCallback cb, int kind) override;

    CDigi& Protocol() { return m_proto; }

private:
    CDigi m_proto;
};
