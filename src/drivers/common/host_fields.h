// Small pieces the logic classes of several families share: reading the
// host's text fields.
#pragma once

#include <cstddef>
#include <string>

#include "comm/telepathy_ecr.h"
#include "job/logic_ecr.h"
#include "orvanta/ecr.h"

// A host record's text field that may lack its terminator: its characters
// up to the first zero byte or the field's end, at most `width`.
std::string HostField(const char* field, size_t size, size_t width);
