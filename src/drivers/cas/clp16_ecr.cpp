#include "drivers/cas/clp16_ecr.h"

#include <cstdio>

int CLP16_ECR::DelPLU(int /*port*/, EcrItemRecord* items, int count, EcrItemProgramCallback /*cb*/) {
    return EachItem(items, count, [this](const CasLpPluRecord& r) { return m_proto.DeletePlu(r); });
}

// Each listed PLU: one the scale does not hold is reported with event 6 and
// skipped; any other failure ends the job.
int CLP16_ECR::ReadPLU(int /*port*/, EcrItemRecord* items, int count, EcrItemReadCallback /*cb*/) {
    if (!items) {
        SetError(-1, GetErrorText(-1));
        return 0;
    }
    if (count <= 0) count = 1;
    for (int i = 0; i < count; ++i) {
        char text[64];
        std::snprintf(text, sizeof text, "PLU - %i", static_cast<int>(items[i].number));
        Notify(ECR_EVENT_ITEM, text, ItemPercent(i, count), 0);
        CasLpPluRecord record;
        record.plu = items[i].number;
        if (m_proto.ReadPlu(record)) {
            Convert(record);
            continue;
        }
        if (m_proto.m_nError != CASLP_ERR_NO_PLU) return LinkFailed();
        Notify(ECR_EVENT_DEVICE_ERROR, m_proto.GetErrorText(CASLP_ERR_NO_PLU), 0, CASLP_ERR_NO_PLU);
    }
    m_proto.m_nError = 0;
    return 1;
}
