#include "drivers/common/slot_helpers.h"

#include <cmath>

#include "util/cp1250.h"

int BulkOperation(CLogicECR& logic, CTelepathyECR& protocol, const std::function<int()>& operation) {
    logic.Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    if (operation() == 1) return 1;
    logic.TakeProtocolError(protocol);
    return 0;
}

int NoArray(CLogicECR& logic) {
    logic.SetError(-1, PL("Niewłaściwe parametry zadania"));
    return 0;
}

int NoVatRates(CLogicECR& logic, double vat[8]) {
    if (vat)
        for (int i = 0; i < 8; ++i) vat[i] = -3.0;
    return Unavailable(logic);
}

int Unavailable(CLogicECR& logic) {
    logic.SetError(25, logic.GetErrorText(25));
    return 0;
}

int ReadListedItems(CLogicECR& logic, CTelepathyECR& protocol, int count, const std::function<std::string(int)>& label,
                    const std::function<int(int)>& read, const std::function<bool(int)>& missing) {
    if (count <= 0) count = 1;
    int result = 0;
    for (int i = 0; i < count; ++i) {
        logic.Notify(ECR_EVENT_ITEM, label(i), static_cast<int>(std::trunc((i + 1) * 100.0) / count), 0);
        result = read(i) == 1 ? 1 : 0;
        if (result == 1) continue;
        if (protocol.m_nError == 0) protocol.m_nError = 9999;
        logic.TakeProtocolError(protocol);
        if (!missing(protocol.m_nError)) return 0;
        logic.Notify(ECR_EVENT_DEVICE_ERROR, logic.GetErrorMessage(), 0, protocol.m_nError);
    }
    if (result == 1) logic.SetError(0, std::string());
    return result;
}
