// CTN_ECR: Novitus Next registers on the Tango protocol over TCP (connection
// kind 11: the record's port word holds the IPv4 address, TCP port 5001) or
// a serial line (device types 85, 86), with the CNext protocol object; the
// model code follows the device type, and units are served.
#pragma once

#include "drivers/novitus/cnext.h"
#include "drivers/novitus/tango_logic.h"

class CTN_ECR : public CTangoLogic {
public:
    CTN_ECR();
    ~CTN_ECR() override;

    int ReadAllUnit(int port, EcrUnitReadCallback cb) override;
    int PgmUNIT(int port, EcrUnitRecord* units, int count, EcrUnitProgramCallback cb) override;

    // The protocol's model code for a device type.
    static uint32_t ModelForType(int type);
    CNext& Protocol() { return m_next; }

protected:
    void Configure(const EcrDeviceRecord* record) override;
    int OpenLine(int port, const EcrDeviceRecord* record) override;
    bool ReadsMoreStatus() const override { return false; }
    bool VatEvents() const override { return true; }

private:
    CNext m_next;
};
