// CEP_ECR: job logic of the Eco Print label printers (device type 115).
// Only goods programming does work: the goods go into Eco_Print.txt and
// the batch file Eco_Print.bat takes them to the printer (see CEcoPrint).
#pragma once

#include <string>

#include "drivers/common/scale_file_logic.h"
#include "drivers/ecoprint/cecoprint.h"

class CEP_ECR : public CScaleFileLogic {
public:
    CEP_ECR();
    ~CEP_ECR() override;

    std::string GetErrorText(int code) override;
    int Open(int port, const EcrDeviceRecord* record) override;
    int PgmPLU(int port, EcrItemRecord* items, int count, EcrItemProgramCallback cb, int kind) override;

    CEcoPrint& Protocol() { return m_proto; }

private:
    CEcoPrint m_proto;
};
