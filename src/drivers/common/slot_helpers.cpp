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

int ReadListedItems(CLogicECR& logic, EcrItemRecord* items, int count,
                    const std::function<std::string(const EcrItemRecord&)>& label,
                    const std::function<int(const EcrItemRecord&)>& read, const std::function<bool(int)>& missing) {
    if (!items) return NoArray(logic);
    if (count <= 0) count = 1;
    return logic.ReadEachItem(
        count, [&](int i) { return label(items[i]); }, [&](int i) { return read(items[i]); }, missing);
}
