// CProtokolTango: the Tango protocol over a serial line or TCP, with the
// full list of the registers' texts; every read and write also goes to the
// data log, and its notices go through the socket's notifier.
#pragma once

#include "drivers/novitus/tango_link.h"

class CProtokolTango : public CTangoLink {
public:
    CProtokolTango();
    ~CProtokolTango() override;
};
