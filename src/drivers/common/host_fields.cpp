#include "drivers/common/host_fields.h"

#include <cstring>

#include "util/cp1250.h"

std::string HostField(const char* field, size_t size, size_t width) {
    size_t n = strnlen(field, size);
    if (n > width) n = width;
    return std::string(field, n);
}

int AdoptProtocol(CLogicECR& logic, CTelepathyECR& protocol, const EcrDeviceRecord* record) {
    if (!record) {
        logic.SetError(-1, logic.GetErrorText(-1));
        return 0;
    }
    if (!logic.GetSerial()) {
        logic.SetError(999999, PL("System kas fiskalnych - błąd systemu !"));
        return 0;
    }
    protocol.SetSerial(logic.GetSerial());
    logic.SetProtocol(&protocol);
    return 1;
}
