#include "drivers/common/slot_helpers.h"

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

int ReadListedItems(CLogicECR& logic, EcrItemRecord* items, int count, int notHeld,
                    const std::function<std::string(const EcrItemRecord&)>& text,
                    const std::function<int(const EcrItemRecord&)>& read) {
    if (!items) return NoArray(logic);
    if (count <= 0) count = 1;
    int result = 0;
    for (int i = 0; i < count; ++i) {
        logic.Notify(ECR_EVENT_ITEM, text(items[i]), CLogicECR::ItemPercent(i, count), 0);
        logic.SetErrorCode(0);
        logic.SetErrorText(std::string());
        result = read(items[i]) == 1 ? 1 : 0;
        if (result == 1) continue;
        logic.EnsureFailureCode();
        const int code = logic.GetErrorCode();
        if (code != notHeld) return 0;
        logic.Notify(ECR_EVENT_DEVICE_ERROR, logic.GetErrorMessage(), 0, code);
    }
    return result;
}
