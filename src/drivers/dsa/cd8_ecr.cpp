#include "drivers/dsa/cd8_ecr.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "drivers/common/record_fields.h"
#include "drivers/common/slot_helpers.h"
#include "util/cp1250.h"

namespace {

std::string PluText(uint32_t number) {
    char text[32];
    std::snprintf(text, sizeof text, "PLU - %u", static_cast<unsigned>(number));
    return text;
}

}  // namespace

EcrItemRecord CD8_ECR::ToHostItem(const Dsp800Item& it) {
    EcrItemRecord item{};
    item.number = it.number;
    CopyText(item.code, sizeof item.code, it.code, sizeof it.code, 31);
    CopyText(item.name, sizeof item.name, it.name, sizeof it.name, 47);
    item.vat_group = 1;
    item.department = 1;
    item.price = it.price;
    item.attr1 = 0;
    item.unit = 1;
    item.word156 = it.vat == 2 ? 2 : 1;
    item.attr3 = 0;
    item.attr4 = 0;
    return item;
}

Dsp800Item CD8_ECR::FromHostItem(const EcrItemRecord& item) {
    Dsp800Item it;
    it.number = item.number;
    CopyText(it.code, sizeof it.code, item.code, sizeof item.code, 13);
    CopyText(it.name, sizeof it.name, item.name, sizeof item.name, 20);
    it.vat = item.word156;
    it.price = item.price;
    return it;
}

int CD8_ECR::ReadSale(int, EcrSaleCallback) { return Unsupported(); }

int CD8_ECR::ClearSale(int, EcrSaleCallback) { return 1; }

int CD8_ECR::DelPLU(int, EcrItemRecord*, int, EcrItemProgramCallback) { return Unsupported(); }

int CD8_ECR::ReadAllDEPT(int, EcrDeptReadCallback) { return Unsupported(); }

int CD8_ECR::PgmDEPT(int, EcrDeptRecord*, int, EcrDeptProgramCallback) { return 1; }

// Every position answers (an unprogrammed one with a blank name), so all
// of them reach the host; the first that cannot be read fails the job.
int CD8_ECR::ReadAllPLU(int, EcrItemReadCallback) {
    const uint32_t capacity = m_dsp.Capacity();
    for (uint32_t p = 1; p <= capacity; ++p) {
        Notify(ECR_EVENT_ITEM, PluText(p), static_cast<int>(p * 100 / capacity), 0);
        Dsp800Item it;
        it.number = p;
        if (m_dsp.ReadPLU(it) != 1) {
            TakeLinkError();
            return 0;
        }
        EcrItemRecord item = ToHostItem(it);
        SendPLU(&item);
    }
    return 1;
}

int CD8_ECR::ReadPLU(int, EcrItemRecord* items, int count, EcrItemReadCallback) {
    if (!items) return NoArray(*this);
    if (count <= 0) count = 1;
    for (int i = 0; i < count; ++i) {
        const uint32_t number = items[i].number;
        Notify(ECR_EVENT_ITEM, PluText(number), static_cast<int>(std::trunc((i + 1) * 100.0) / count), 0);
        Dsp800Item it;
        it.number = number;
        if (m_dsp.ReadPLU(it) != 1) {
            TakeLinkError();
            if (i != count - 1 && m_nError != -7) Notify(ECR_EVENT_DEVICE_ERROR, m_szError, 0, m_nError);
            return 0;
        }
        EcrItemRecord item = ToHostItem(it);
        SendPLU(&item);
    }
    return 1;
}

int CD8_ECR::PgmPLU(int, EcrItemRecord* items, int count, EcrItemProgramCallback, int) {
    return ItemLoop<EcrItemRecord>(
        items, count, [](const EcrItemRecord& it) { return NameText(it.name, sizeof it.name); },
        [this](EcrItemRecord& it, int) {
            if (m_dsp.PgmPLU(FromHostItem(it)) == 1) return 1;
            TakeLinkError();
            return 0;
        });
}
