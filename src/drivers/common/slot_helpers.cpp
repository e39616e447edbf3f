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
