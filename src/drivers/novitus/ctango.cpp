#include "drivers/novitus/ctango.h"

namespace {
constexpr TangoTraits kTraits{.tcp = false, .dataLog = false, .notifySocket = false, .shortGoodsWrite = true,
                              .fullErrorList = false};
}

CTango::CTango() : CTangoLink(kTraits) {}
CTango::~CTango() = default;

int CTango::Open(int port, int baud) { return OpenSerial(port, baud); }
