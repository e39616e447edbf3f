#include "drivers/common/host_fields.h"

#include <cstring>

#include "util/cp1250.h"

std::string HostField(const char* field, size_t size, size_t width) {
    size_t n = strnlen(field, size);
    if (n > width) n = width;
    return std::string(field, n);
}
