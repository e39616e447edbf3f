// CTango: the Tango protocol of the older registers: a serial line only,
// traffic in the dump files only, the shorter list of texts and the 75-byte
// goods record for writes.
#pragma once

#include "drivers/novitus/tango_link.h"

class CTango : public CTangoLink {
public:
    CTango();
    ~CTango() override;

    using CTangoLink::Open;
    // As OpenSerial: 1024-byte queues, the baud, 8N1, CTS-wait and the
    // handshake lines on, both queues flushed.
    int Open(int port, int baud) override;
};
