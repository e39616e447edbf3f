#include "drivers/sharp/csh227_ecr.h"

#include <cstring>

#include "drivers/sharp/sharp_logic.h"
#include "util/cp1250.h"

int CSH227_ECR::TakeLinkError(int r) {
    if (r != 1) {
        TakeProtocolError(m_protocol);
        if (m_nError == 0) SetError(kSharpNoAnswer, GetErrorText(kSharpNoAnswer));
    }
    return r;
}

int CSH227_ECR::Open(int port, const EcrDeviceRecord* record) {
    return OpenSerialProtocol(m_protocol, record, 0, NoRecordAnswer::SystemError, [&](const EcrDeviceRecord& r) {
        m_protocol.SetOptions(r.word7, static_cast<int>(r.flags));
        return m_protocol.Open(port, r.baud);
    });
}

int CSH227_ECR::Close(int) {
    m_protocol.Close();
    return 1;
}

int CSH227_ECR::ReadVAT(int, double*) {
    TakeLinkError(m_protocol.NotSupported());
    if (!m_protocol.Pause(2.0)) SetError(-7, GetErrorText(-7));
    return 0;
}

int CSH227_ECR::ReadStatus(int, EcrStatusRecord*, double vat[8]) {
    for (int i = 0; i < 8; ++i) vat[i] = -3.0;
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    return TakeLinkError(m_protocol.NotSupported());
}

int CSH227_ECR::ReadSale(int, EcrSaleCallback) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    return TakeLinkError(m_protocol.ReadSales([this](const SharpSaleRow& row) {
        EcrItemRecord item;
        EcrSaleRecord sale;
        CSharpLogic::ToHostSale(row, item, sale);
        SendSale(&item, &sale);
    }));
}

int CSH227_ECR::ClearSale(int, EcrSaleCallback) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    return TakeLinkError(m_protocol.ClearSales());
}

int CSH227_ECR::ReadAllPLU(int, EcrItemReadCallback) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    return TakeLinkError(m_protocol.ReadAllPLUs([this](const SharpPluRow& row) {
        EcrItemRecord item = CSharpLogic::ToHostItem(row, false);
        SendPLU(&item);
    }));
}

int CSH227_ECR::ReadAllDEPT(int, EcrDeptReadCallback) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    return TakeLinkError(m_protocol.ReadDepartments([this](const SharpDeptRow& row) {
        EcrDeptRecord d = CSharpLogic::ToHostDept(row);
        SendDEPT(&d);
    }));
}

int CSH227_ECR::ReadPLU(int, EcrItemRecord*, int, EcrItemReadCallback) {
    SetError(25, m_protocol.CTelepathyECR::GetErrorText(25));
    return 0;
}

// Programming (mode 0) and deleting (mode 1): items whose flag at +216 is
// set give no transfer; number 0 with an empty code is invalid.
int CSH227_ECR::Goods(EcrItemRecord* items, int count, int mode) {
    SharpBatchPlan plan;
    return SharpRunBatches(
        *this, m_protocol, items, count, plan,
        [](const EcrItemRecord& it) {
            if (it.attr4 != 0) return SharpRoute::Skip;
            const CChrArr code = ChrTrim(SharpRowText(it.code, sizeof it.code), ' ');
            return it.number == 0 && code.IsEmpty() ? SharpRoute::Invalid : SharpRoute::Number;
        },
        [this, mode](const EcrItemRecord& it, SharpRoute, SharpPluRow& row) {
            row = CSharpLogic::FromHostItem(it, 16, true, false);
            // A code that is the key is never cut.
            if (it.number == 0 && ChrTrim(SharpRowText(it.code, sizeof it.code), ' ').GetLength() > 13)
                return static_cast<int>(kSharpBadCode);
            CChrArr record;
            m_protocol.m_nError = 0;
            if (m_protocol.BuildPLURecord(row, mode, record)) return 0;
            return m_protocol.m_nError != 0 ? m_protocol.m_nError : static_cast<int>(kSharpNoAnswer);
        },
        [this, mode](const std::vector<SharpPluRow>& rows, SharpRoute) {
            const int n = static_cast<int>(rows.size());
            return mode == 0 ? m_protocol.SendPLUs(rows.data(), n) : m_protocol.DeletePLUs(rows.data(), n);
        });
}

int CSH227_ECR::PgmPLU(int, EcrItemRecord* items, int count, EcrItemProgramCallback, int) {
    return Goods(items, count, 0);
}

int CSH227_ECR::DelPLU(int, EcrItemRecord* items, int count, EcrItemProgramCallback) {
    return Goods(items, count, 1);
}

int CSH227_ECR::PgmDEPT(int, EcrDeptRecord* depts, int count, EcrDeptProgramCallback) {
    if (!depts) {
        SetError(-1, PL("Niewłaściwe parametry zadania"));
        return 0;
    }
    if (count <= 0) count = 1;
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    std::vector<SharpDeptRow> rows;
    std::vector<int> held;
    bool event6 = false;
    for (int i = 0; i < count; ++i) {
        EcrDeptRecord& d = depts[i];
        const SharpDeptRow row = CSharpLogic::FromHostDept(d, 16);
        CChrArr record;
        m_protocol.m_nError = 0;
        if (d.number == 0 || !m_protocol.BuildDeptRecord(row, record)) {
            const int code = d.number == 0 || m_protocol.m_nError == 0 ? kSharpBadDept : m_protocol.m_nError;
            ConfirmDEPT(&d, code, GetErrorText(code));
        } else {
            rows.push_back(row);
            held.push_back(i);
        }
        if (!rows.empty() && (rows.size() >= 5 || i == count - 1)) {
            if (TakeLinkError(m_protocol.SendDepartments(rows.data(), static_cast<int>(rows.size()))) != 1) {
                if (m_nError == -7) return 0;
                if (!event6 && i != count - 1) {
                    event6 = true;
                    Notify(ECR_EVENT_DEVICE_ERROR, m_szError, 0, m_nError);
                }
                for (int k : held) ConfirmDEPT(&depts[k], m_nError, m_szError);
                return 0;
            }
            rows.clear();
            held.clear();
        }
    }
    return 1;
}
