// CTA_ECR: Novitus registers on the Tango protocol over a serial line (device
// types 12, 34, 35, 57-59, 65-70), with the CTango protocol object. Units
// are not served (the framework's default).
#pragma once

#include "drivers/novitus/ctango.h"
#include "drivers/novitus/tango_logic.h"

class CTA_ECR : public CTangoLogic {
public:
    CTA_ECR();
    ~CTA_ECR() override;

    CTango& Protocol() { return m_tango; }

protected:
    int OpenLine(int port, const EcrDeviceRecord* record) override;
    bool ReadsMoreStatus() const override { return true; }
    bool VatEvents() const override { return false; }

private:
    CTango m_tango;
};
