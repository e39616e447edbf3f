// Small pieces the logic classes of several families share: reading the
// host's text fields and the start of an Open slot.
#pragma once

#include <cstddef>
#include <string>

#include "comm/telepathy_ecr.h"
#include "job/logic_ecr.h"
#include "orvanta/ecr.h"

// A host record's text field that may lack its terminator: its characters
// up to the first zero byte or the field's end, at most `width`.
std::string HostField(const char* field, size_t size, size_t width);

// The start of an Open slot: the record must be given (-1) and a serial
// object lent (999999, "System kas fiskalnych - błąd systemu !"); the
// serial object goes to the protocol, which becomes the current one. 1, or
// 0 with the logic object's error set.
int AdoptProtocol(CLogicECR& logic, CTelepathyECR& protocol, const EcrDeviceRecord* record);
