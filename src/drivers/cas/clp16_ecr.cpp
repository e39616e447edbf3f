#include "drivers/cas/clp16_ecr.h"

#include <string>

#include "drivers/common/slot_helpers.h"

int CLP16_ECR::DelPLU(int /*port*/, EcrItemRecord* items, int count, EcrItemProgramCallback /*cb*/) {
    return EachItem(items, count, [this](const CasLpPluRecord& r) { return m_proto.DeletePlu(r); });
}

int CLP16_ECR::ReadPLU(int /*port*/, EcrItemRecord* items, int count, EcrItemReadCallback /*cb*/) {
    return ReadListedItems(
        *this, items, count, [](const EcrItemRecord& item) { return "PLU - " + std::to_string(item.number); },
        [this](const EcrItemRecord& item) {
            CasLpPluRecord record;
            record.plu = item.number;
            if (!m_proto.ReadPlu(record)) return LinkFailed();
            Convert(record);
            return 1;
        },
        [](int code) { return code == CASLP_ERR_NO_PLU; });
}
