#include "drivers/sharp/sharp_logic.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "drivers/common/record_fields.h"
#include "drivers/sharp/csharp277.h"
#include "util/cp1250.h"

namespace {

using Keying = CSharpLink::Keying;

// The host's code without its blanks (at most the field).
CChrArr TrimmedCode(const EcrItemRecord& item) { return ChrTrim(SharpRowText(item.code, sizeof item.code), ' '); }

std::string Formatted(const char* format, const char* text) {
    char buf[320];
    std::snprintf(buf, sizeof buf, format, text);
    return buf;
}

std::string Numbered(const char* format, unsigned value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, value);
    return buf;
}

}  // namespace

// ---------------------------------------------------------------- conversions

EcrItemRecord CSharpLogic::ToHostItem(const SharpPluRow& row, bool withLinked) {
    EcrItemRecord item{};
    item.number = row.number;
    CopyText(item.code, sizeof item.code, row.code, sizeof row.code, 31);
    CopyText(item.name, sizeof item.name, row.name, sizeof row.name, 47);
    item.department = row.dept;
    item.price = row.price;
    item.attr2 = row.tax;
    item.word152 = row.dept2;
    item.word156 = row.flag;
    item.word160 = row.eanOption;
    // The 277, 455 and 227 drivers hand no linked goods number over.
    if (withLinked) item.linked_plu = row.linked;
    item.unit = 1;
    item.attr3 = 0;
    item.attr4 = 0;
    return item;
}

EcrDeptRecord CSharpLogic::ToHostDept(const SharpDeptRow& row) {
    EcrDeptRecord d{};
    d.number = row.number;
    CopyText(d.name, sizeof d.name, row.name, sizeof row.name, 47);
    d.vat_group = row.word1;
    d.price = row.amount;
    d.word92 = row.word2;
    d.word96 = row.word3;
    d.word104 = row.word4;
    d.word100 = row.word5;
    d.word112 = row.word6;
    return d;
}

void CSharpLogic::ToHostSale(const SharpSaleRow& row, EcrItemRecord& item, EcrSaleRecord& sale) {
    item = EcrItemRecord{};
    sale = EcrSaleRecord{};
    item.number = row.number;
    CopyText(item.code, sizeof item.code, row.code, sizeof row.code, 31);
    CopyText(item.name, sizeof item.name, row.name, sizeof row.name, 47);
    sale.kind = 0;
    sale.number = 0;
    sale.plu = row.number;
    CopyText(sale.code, sizeof sale.code, row.code, sizeof row.code, 31);
    CopyText(sale.name, sizeof sale.name, row.name, sizeof row.name, 47);
    sale.quantity = row.quantity;
    sale.value = row.value;
}

SharpPluRow CSharpLogic::FromHostItem(const EcrItemRecord& item, int nameWidth, bool withDept2, bool withLinked) {
    SharpPluRow row;
    row.number = item.number;
    CopyBytes(row.code, sizeof row.code, TrimmedCode(item).Left(13));
    CopyText(row.name, sizeof row.name, item.name, sizeof item.name, static_cast<size_t>(nameWidth));
    row.dept = item.department;
    row.price = item.price;
    row.tax = item.attr2;
    row.dept2 = withDept2 ? item.word152 : 0;
    row.flag = item.word156;
    row.extra = 0;
    row.linked = withLinked ? item.linked_plu : 0;
    row.eanOption = item.word160;
    std::memcpy(row.tail, "0000", 5);
    return row;
}

SharpDeptRow CSharpLogic::FromHostDept(const EcrDeptRecord& dept, int nameWidth) {
    SharpDeptRow row;
    row.number = dept.number;
    CopyText(row.name, sizeof row.name, dept.name, sizeof dept.name, static_cast<size_t>(nameWidth));
    row.word1 = dept.vat_group;
    row.amount = dept.price;
    row.word2 = dept.word92;
    row.word3 = dept.word96;
    row.word4 = dept.word104;
    row.word5 = dept.word100;
    row.word6 = dept.word112;
    return row;
}

// ---------------------------------------------------------------- helpers

int CSharpLogic::TakeLinkError(int r) {
    if (r != 1) {
        TakeProtocolError(m_link);
        if (m_nError == 0) SetError(kSharpNoAnswer, GetErrorText(kSharpNoAnswer));
    }
    return r;
}

int CSharpLogic::Pause(double seconds) {
    if (m_link.Pause(seconds)) return 1;
    SetError(-7, GetErrorText(-7));
    return 0;
}

int CSharpLogic::ReadSales(int byNumber, bool clear) {
    auto toHost = [this](const SharpSaleRow& row) {
        EcrItemRecord item;
        EcrSaleRecord sale;
        ToHostSale(row, item, sale);
        SendSale(&item, &sale);
    };
    return TakeLinkError(m_link.ReadSaleFile(clear ? 3 : 2, byNumber ? Keying::ByNumber : Keying::ByBarcode, toHost));
}

int CSharpLogic::ReadGoods(Keying keying) {
    return TakeLinkError(m_link.ReadGoods(keying, [this](const SharpPluRow& row) {
        EcrItemRecord item = ToHostItem(row);
        SendPLU(&item);
    }));
}

// ---------------------------------------------------------------- open / close

int CSharpLogic::Open(int port, const EcrDeviceRecord* record) {
    return OpenSerialProtocol(m_link, record, 0, NoRecordAnswer::SystemError, [&](const EcrDeviceRecord& r) {
        const int flags = static_cast<int>(r.flags);
        if (m_model == SharpModel::S277 || m_model == SharpModel::S277PS)
            static_cast<CSharp277&>(m_link).SetOptions(r.word7, flags, r.type == 49 || r.type == 50);
        else
            m_link.ApplyOptions(r.word7, flags);
        return m_link.Open(port, r.baud);
    });
}

int CSharpLogic::Close(int) {
    m_link.Close();
    return 1;
}

// ---------------------------------------------------------------- reads

int CSharpLogic::ReadVAT(int, double vat[8]) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    const int r = TakeLinkError(m_link.ReadVATRates(vat));
    if (r == 1) Notify(ECR_EVENT_WAIT, std::string(), 100, 0);
    // The register gets its 2 s after the request whatever the answer was.
    if (!Pause(2.0)) return 0;
    return r;
}

int CSharpLogic::ReadStatus(int, EcrStatusRecord* status, double vat[8]) {
    for (int i = 0; i < 8; ++i) vat[i] = -3.0;
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    if (TakeLinkError(m_link.ReadVATRates(vat)) != 1) return 0;
    if (status) {
        status->device_text[0] = 0;
        status->unique_number[0] = 0;
        status->text2[0] = 0;
    }
    Notify(ECR_EVENT_WAIT, std::string(), 100, 0);
    return 1;
}

int CSharpLogic::ReadSale(int, EcrSaleCallback) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    if (!SixOneForty()) return ReadSales(1, false);
    if (ReadSales(1, false) != 1) return 0;
    if (!Pause(2.0)) return 0;
    return ReadSales(0, false);
}

int CSharpLogic::ClearSale(int, EcrSaleCallback) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    switch (m_model) {
    case SharpModel::S285: return ReadSales(1, true);
    case SharpModel::S277:
    case SharpModel::S277PS:
        return TakeLinkError(static_cast<CSharp277&>(m_link).ClearSales([this](const SharpSaleRow& row) {
            EcrItemRecord item;
            EcrSaleRecord sale;
            ToHostSale(row, item, sale);
            SendSale(&item, &sale);
        }));
    default: break;
    }
    // Both counter sets; the 457 and 495 ask the operator to wait and try a
    // set once more when it fails. The job succeeds only when both were
    // cleared; else it carries the code of the first set that stayed.
    const bool ask = SixOneForty();
    int firstCode = 0;
    std::string firstText;
    const int byNumber[2] = {1, 0};
    const std::string texts[2] = {PL("Proszę czekać na zakończenie operacji zerowania kodów EAN"),
                                  PL("Proszę czekać na zakończenie operacji zerowania kodów PLU")};
    for (int s = 0; s < 2; ++s) {
        if (s == 1 && ask && !Pause(2.0)) return 0;
        int r = m_link.ClearCounters(byNumber[s]);
        if (r != 1 && m_link.m_nError != -7 && ask) {
            if (m_pSerial->AskOperator(orv::platform::MessageKind::Prompt, texts[s], 1) == -7) {
                SetError(-7, GetErrorText(-7));
                return 0;
            }
            r = m_link.ClearCounters(byNumber[s]);
        }
        if (r != 1) {
            TakeLinkError(r);
            if (m_nError == -7) return 0;
            if (firstCode == 0) {
                firstCode = m_nError;
                firstText = m_szError;
            }
        }
    }
    if (firstCode != 0) {
        SetError(firstCode, firstText);
        return 0;
    }
    return 1;
}

int CSharpLogic::ReadAllPLU(int, EcrItemReadCallback) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    if (SixOneForty()) {
        if (ReadGoods(Keying::ByBarcode) != 1) return 0;
        if (!Pause(2.0)) return 0;
        return ReadGoods(Keying::ByNumber);
    }
    return ReadGoods(BarcodeOnly() ? Keying::ByBarcode : Keying::ByNumber);
}

int CSharpLogic::ReadPLU(int, EcrItemRecord* items, int count, EcrItemReadCallback) {
    if (!items) {
        SetError(-1, PL("Niewłaściwe parametry zadania"));
        return 0;
    }
    if (count <= 0) count = 1;
    auto deliver = [this](const SharpPluRow& row) {
        EcrItemRecord item = ToHostItem(row);
        SendPLU(&item);
    };
    for (int i = 0; i < count; ++i) {
        const EcrItemRecord& it = items[i];
        const unsigned percent = static_cast<unsigned>(std::trunc((i + 1) * 100.0)) / static_cast<unsigned>(count);
        const CChrArr code = TrimmedCode(it);
        const bool byNumber = it.number != 0 && !BarcodeOnly();
        Notify(ECR_EVENT_ITEM,
               byNumber ? Numbered("PLU - %u", it.number) : Formatted("Kod kreskowy - %s", code.ToString().c_str()),
               static_cast<int>(percent), 0);
        SharpPluRow request;
        request.number = it.number;
        if (!byNumber && code.GetLength() > 13) {
            SetError(kSharpBadCode, GetErrorText(kSharpBadCode));
            return 0;
        }
        CopyBytes(request.code, sizeof request.code, code);
        const int r = byNumber ? m_link.ReadGoodsByNumber(request, deliver) : m_link.ReadGoodsByBarcode(request, deliver);
        if (TakeLinkError(r) != 1) return 0;
    }
    return 1;
}

int CSharpLogic::ReadAllDEPT(int, EcrDeptReadCallback) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    const int r = TakeLinkError(m_link.ReadDepts([this](const SharpDeptRow& row) {
        EcrDeptRecord d = ToHostDept(row);
        SendDEPT(&d);
    }));
    if (!Pause(2.0)) return 0;
    return r;
}

// ---------------------------------------------------------------- programming

int SharpRunBatches(CLogicECR& logic, CSharpPort& port, EcrItemRecord* items, int count, const SharpBatchPlan& plan,
                    const std::function<SharpRoute(const EcrItemRecord&)>& route,
                    const std::function<int(const EcrItemRecord&, SharpRoute, SharpPluRow&)>& makeRow,
                    const std::function<int(const std::vector<SharpPluRow>&, SharpRoute)>& send) {
    if (!items) {
        logic.SetError(-1, PL("Niewłaściwe parametry zadania"));
        return 0;
    }
    if (count <= 0) count = 1;
    logic.Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    struct Batch {
        SharpRoute route;
        std::vector<SharpPluRow> rows;
        std::vector<int> items;
        void Clear() {
            rows.clear();
            items.clear();
        }
    };
    Batch number{SharpRoute::Number, {}, {}};
    Batch barcode{SharpRoute::Barcode, {}, {}};
    int result = 1;
    bool event6 = false;
    bool invalid = false;
    int silent = 0;   // batches in a row that failed for want of an answer

    auto confirm = [&](const Batch& b) {
        for (int idx : b.items) logic.ConfirmPLU(&items[idx], logic.m_nError, logic.GetErrorMessage());
    };
    // 1 sent, 0 failed (its items confirmed), -7 broken off.
    auto sendBatch = [&](Batch& b, int i) -> int {
        const int r = send(b.rows, b.route);
        // The pause after a batch follows a failed one too.
        if (plan.pause > 0 && (r == 1 || port.m_nError != -7) && !port.Pause(plan.pause)) {
            logic.SetError(-7, logic.GetErrorText(-7));
            return -7;
        }
        if (r == 1) {
            silent = 0;
            b.Clear();
            return 1;
        }
        logic.TakeProtocolError(port);
        if (logic.m_nError == 0) logic.SetError(kSharpNoAnswer, logic.GetErrorText(kSharpNoAnswer));
        if (logic.m_nError == -7) return -7;
        if (!event6 && i != count - 1) {
            event6 = true;
            logic.Notify(ECR_EVENT_DEVICE_ERROR, logic.GetErrorMessage(), 0, logic.m_nError);
        }
        confirm(b);
        b.Clear();
        silent = port.IsSilence(logic.m_nError) ? silent + 1 : 0;
        return 0;
    };
    // A slot that ends at a failed batch drops the batches still held:
    // their items are confirmed with the code, unsent.
    auto stop = [&]() {
        confirm(number);
        confirm(barcode);
        return 0;
    };
    // Three silent batches: the rest is confirmed with that code, unsent.
    auto giveUp = [&](int from) {
        stop();
        for (int k = from; k < count; ++k) logic.ConfirmPLU(&items[k], logic.m_nError, logic.GetErrorMessage());
        return 0;
    };

    for (int i = 0; i < count; ++i) {
        EcrItemRecord& it = items[i];
        const SharpRoute rt = route(it);
        if (rt == SharpRoute::Invalid) {
            logic.ConfirmPLU(&it, kSharpBadNumber, logic.GetErrorText(kSharpBadNumber));
            invalid = true;
        } else if (rt != SharpRoute::Skip) {
            SharpPluRow row;
            const int code = makeRow(it, rt, row);
            if (code != 0) {
                logic.ConfirmPLU(&it, code, logic.GetErrorText(code));
            } else {
                Batch& b = rt == SharpRoute::Number ? number : barcode;
                b.rows.push_back(row);
                b.items.push_back(i);
            }
        }
        const bool last = i == count - 1;
        const size_t full = static_cast<size_t>(plan.size);
        bool numberFailed = false;
        if (!number.rows.empty() && (number.rows.size() >= full || last)) {
            const int r = sendBatch(number, i);
            if (r == -7) return 0;
            result = r;
            numberFailed = r == 0;
            if (silent >= 3) return giveUp(i + 1);
            if (r == 0 && plan.stopOnFailure) return stop();
        }
        if (!barcode.rows.empty() && (barcode.rows.size() >= full || last)) {
            if (plan.numberFirst && numberFailed) {
                confirm(barcode);   // dropped with the number batch's code
                barcode.Clear();
                continue;
            }
            const int r = sendBatch(barcode, i);
            if (r == -7) return 0;
            result = r;
            if (silent >= 3) return giveUp(i + 1);
            if (r == 0 && plan.stopOnFailure) return stop();
        }
    }
    if (invalid && plan.invalidFails) {
        logic.SetError(kSharpBadNumber, logic.GetErrorText(kSharpBadNumber));
        return 0;
    }
    return result;
}

int CSharpLogic::BatchRow(const EcrItemRecord& item, SharpRoute route, const SharpHeader& header, SharpPluRow& row) {
    const Keying keying = route == SharpRoute::Number ? Keying::ByNumber : Keying::ByBarcode;
    row = FromHostItem(item);
    if (keying == Keying::ByBarcode && SixOneForty()) row.number = 0;
    if (keying == Keying::ByBarcode && TrimmedCode(item).GetLength() > 13) return kSharpBadCode;   // never cut
    CChrArr record;
    m_link.m_nError = 0;
    if (m_link.BuildGoodsRecord(header, row, keying, record)) return 0;
    return m_link.m_nError != 0 ? m_link.m_nError : kSharpNoAnswer;
}

namespace {

SharpRoute RouteByFlag220(const EcrItemRecord& it) {
    const bool code = !TrimmedCode(it).IsEmpty();
    if (it.number != 0 && (!code || it.barcode_flag == 0)) return SharpRoute::Number;
    if (code && (it.number == 0 || it.barcode_flag != 0)) return SharpRoute::Barcode;
    return SharpRoute::Invalid;
}

SharpRoute RouteBarcodeOnly(const EcrItemRecord& it) {
    if (!TrimmedCode(it).IsEmpty() && it.attr4 == 0) return SharpRoute::Barcode;
    if (it.number != 0 && it.attr4 != 0) return SharpRoute::Skip;
    return SharpRoute::Invalid;
}

Keying KeyingOf(SharpRoute route) { return route == SharpRoute::Number ? Keying::ByNumber : Keying::ByBarcode; }

}  // namespace

int CSharpLogic::PgmPLU(int, EcrItemRecord* items, int count, EcrItemProgramCallback, int kind) {
    SharpBatchPlan plan;
    std::function<SharpRoute(const EcrItemRecord&)> route;
    if (SixOneForty()) {
        plan.size = m_model == SharpModel::S457 ? 20 : 10;
        plan.numberFirst = true;
        plan.stopOnFailure = false;
        plan.pause = 2.0;
        route = RouteByFlag220;
    } else if (BarcodeOnly()) {
        route = RouteBarcodeOnly;
    } else {
        route = [](const EcrItemRecord& it) {
            if (it.number == 0) return SharpRoute::Invalid;
            return it.attr4 != 0 ? SharpRoute::Skip : SharpRoute::Number;
        };
    }
    const bool prices = kind != 0;
    return SharpRunBatches(
        *this, m_link, items, count, plan, route,
        [this, prices](const EcrItemRecord& it, SharpRoute r, SharpPluRow& row) {
            const Keying k = KeyingOf(r);
            return BatchRow(it, r, prices ? m_link.PricesHeader(k) : m_link.GoodsHeader(k, true), row);
        },
        [this, prices](const std::vector<SharpPluRow>& rows, SharpRoute r) {
            return m_link.SendGoods(rows.data(), static_cast<int>(rows.size()), KeyingOf(r), true, prices);
        });
}

int CSharpLogic::DelPLU(int, EcrItemRecord* items, int count, EcrItemProgramCallback) {
    SharpBatchPlan plan;
    std::function<SharpRoute(const EcrItemRecord&)> route;
    if (SixOneForty()) {
        plan.numberFirst = true;
        route = RouteByFlag220;
    } else if (m_model == SharpModel::S285) {
        route = [](const EcrItemRecord&) { return SharpRoute::Barcode; };
    } else if (m_model == SharpModel::S277PS) {
        route = RouteBarcodeOnly;
    } else {
        plan.invalidFails = true;
        route = [](const EcrItemRecord& it) { return it.number != 0 ? SharpRoute::Number : SharpRoute::Invalid; };
    }
    const bool event = m_model == SharpModel::S277 || m_model == SharpModel::S277PS;
    return SharpRunBatches(
        *this, m_link, items, count, plan, route,
        [this](const EcrItemRecord& it, SharpRoute r, SharpPluRow& row) {
            return BatchRow(it, r, m_link.DeleteHeader(KeyingOf(r)), row);
        },
        [this, event](const std::vector<SharpPluRow>& rows, SharpRoute r) {
            return m_link.DeleteGoods(rows.data(), static_cast<int>(rows.size()), KeyingOf(r),
                                      event ? "PLU - %i" : nullptr);
        });
}

int CSharpLogic::PgmDEPT(int, EcrDeptRecord* depts, int count, EcrDeptProgramCallback) {
    ItemLoopOptions opt;
    opt.event6OnFirstFailure = true;
    return ItemLoop<EcrDeptRecord>(
        depts, count,
        [](const EcrDeptRecord& d) { return "Nazwa - " + std::string(d.name, strnlen(d.name, sizeof d.name)); },
        [this](EcrDeptRecord& d, int) {
            const SharpDeptRow row = FromHostDept(d);
            return TakeLinkError(m_link.SendDepts(&row, 1));
        },
        opt);
}
