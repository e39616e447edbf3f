#include "drivers/novitus/cprotokol_tango.h"

namespace {
constexpr TangoTraits kTraits{.tcp = true, .dataLog = true, .notifySocket = true, .shortGoodsWrite = false,
                              .fullErrorList = true};
}

CProtokolTango::CProtokolTango() : CTangoLink(kTraits) {}
CProtokolTango::~CProtokolTango() = default;
