#include "drivers/dsa/cdsp_ecr.h"

#include <cstdio>

int CDSP_ECR::ReadSale(int, EcrSaleCallback) { return Unsupported(); }

int CDSP_ECR::ClearSale(int, EcrSaleCallback) { return 1; }

int CDSP_ECR::DelPLU(int, EcrItemRecord*, int, EcrItemProgramCallback) { return Unsupported(); }

int CDSP_ECR::ReadAllDEPT(int, EcrDeptReadCallback) { return Unsupported(); }

int CDSP_ECR::PgmDEPT(int, EcrDeptRecord*, int, EcrDeptProgramCallback) { return 1; }

// Reads from PLU 1 upward. A record the register does not hold (an empty
// one, or its refusal "no such data" / "not programmed") marks the end of
// its goods; any other refusal or failure fails the job, so that a register
// that cannot answer now is not taken for one without goods.
int CDSP_ECR::ReadAllPLU(int, EcrItemReadCallback) {
    const uint32_t capacity = m_dsp.Capacity();
    for (uint32_t p = 1; p <= capacity; ++p) {
        char text[32];
        std::snprintf(text, sizeof text, "PLU - %u", p);
        Notify(ECR_EVENT_ITEM, text, static_cast<int>(std::trunc(p * 100.0) / capacity), 0);
        DsaPluRecord rec;
        rec.number = p;
        if (m_dsp.ReadPLURecord(rec) != 1) {
            const int code = m_dsp.m_nError;
            if (code == 1018 || code == 1027) {
                SetError(0, std::string());
                return 1;
            }
            TakeLinkError();
            return 0;
        }
        if (!IsProgrammed(rec)) return 1;
        EcrItemRecord item = ToHostItem(rec);
        SendPLU(&item);
    }
    return 1;
}

// The item's ranges are checked (105, 109); a valid item still fails with
// 25: the register's goods record cannot be built.
int CDSP_ECR::PgmPLU(int, EcrItemRecord* items, int count, EcrItemProgramCallback, int) {
    return ItemLoop<EcrItemRecord>(
        items, count,
        [](const EcrItemRecord& it) { return NameText(it.name, 20); },
        [this](EcrItemRecord& it, int) {
            if (it.number < 1 || it.number > m_dsp.Capacity()) {
                SetError(105, GetErrorText(105));
                return 0;
            }
            uint64_t hundredths = 0;
            if (!m_dsp.CheckPrice(it.price, hundredths)) {
                SetError(109, GetErrorText(109));
                return 0;
            }
            SetError(25, m_dsp.CTelepathyECR::GetErrorText(25));
            return 0;
        });
}
