#include "drivers/mp500/cmp_ecr.h"

#include <cmath>
#include <cstring>
#include <mutex>

#include "drivers/common/host_fields.h"
#include "util/cp1250.h"

namespace {

// One transfer at a time: the library's callbacks find their job here.
std::mutex g_transferMutex;
CMP_ECR* g_current = nullptr;

std::string Trim(const std::string& s) {
    const size_t a = s.find_first_not_of(' ');
    if (a == std::string::npos) return std::string();
    return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

}  // namespace

int CMP_ECR::Broken() {
    m_proto.m_nError = -7;
    return Failed();
}

int CMP_ECR::Open(int port, const EcrDeviceRecord* record) {
    return OpenSerialProtocol(m_proto, record, 9999, NoRecordAnswer::OwnText, [&](const EcrDeviceRecord& r) {
        return m_proto.Open(port, static_cast<int>(r.baud), r.word7);
    });
}

int CMP_ECR::ToArticle(const EcrItemRecord& item, bool checkPrice, MP500Article& a) {
    std::memset(&a, 0, sizeof a);
    const double hundredths = std::trunc(item.price * 100.0 + 0.1);
    const bool priceFits = item.price >= 0.0 && hundredths <= 2147483647.0;   // NaN fails too
    if (checkPrice && !priceFits) return 109;
    if (item.vat_group > 256) return 103;
    std::string code = HostField(item.code, sizeof item.code, sizeof item.code);
    code = code.size() >= 14 ? code.substr(0, 14) : std::string(14 - code.size(), '0') + code;
    std::memcpy(a.code, code.data(), 14);
    const std::string name = Trim(HostField(item.name, sizeof item.name, sizeof item.name)).substr(0, 18);
    std::memcpy(a.name, name.data(), name.size());
    a.price = priceFits ? static_cast<int32_t>(hundredths) : 0;
    a.flag = static_cast<uint8_t>(item.attr2 & 0xFF);
    a.vat = static_cast<uint8_t>(item.vat_group == 0 ? 0 : item.vat_group - 1);
    return 0;
}

EcrItemRecord CMP_ECR::GoodsToHost(const MP500Article& a) {
    EcrItemRecord item;
    std::memset(&item, 0, sizeof item);
    StrNCopyZ(item.code, HostField(a.code, sizeof a.code, sizeof a.code).c_str(), 31);
    StrNCopyZ(item.name, HostField(a.name, sizeof a.name, sizeof a.name).c_str(), 47);
    item.vat_group = a.vat + 1u;
    item.price = a.price / 100.0;
    item.unit = 1;
    item.attr2 = a.flag;
    return item;
}

// ---- the callbacks ----

int CMP_ECR::Pull(void*, int, MP500Article* article) {
    CMP_ECR* self = g_current;
    if (!self || !article) return 0;
    while (self->m_next < self->m_count) {
        if (self->m_pSerial && self->m_pSerial->IsAborted()) return 0;
        EcrItemRecord& item = self->m_items[self->m_next++];
        const int code = ToArticle(item, self->m_checkPrice, *article);
        if (code == 0) return 1;
        // Not sent: the host hears of it, and the job fails.
        self->m_refused = true;
        self->m_refusedCode = code;
        self->ConfirmPLU(&item, code, self->GetErrorText(code));
    }
    return 0;
}

int CMP_ECR::PushGoods(void*, int, MP500Article* article) {
    CMP_ECR* self = g_current;
    if (!self || !article) return 0;
    // Broken off: nothing more reaches the host, and the library is told to stop.
    if (self->m_pSerial && self->m_pSerial->IsAborted()) return 0;
    const EcrItemRecord item = GoodsToHost(*article);
    self->SendPLU(&item);
    return 1;
}

int CMP_ECR::PushSales(void*, int, MP500Article* article) {
    CMP_ECR* self = g_current;
    if (!self || !article) return 0;
    if (self->m_pSerial && self->m_pSerial->IsAborted()) return 0;
    if (article->quantity == 0) return 1;
    EcrItemRecord item;
    std::memset(&item, 0, sizeof item);
    EcrSaleRecord sale;
    std::memset(&sale, 0, sizeof sale);
    const std::string code = HostField(article->code, sizeof article->code, sizeof article->code);
    const std::string name = HostField(article->name, sizeof article->name, sizeof article->name);
    StrNCopyZ(item.code, code.c_str(), 31);
    StrNCopyZ(item.name, name.c_str(), 47);
    StrNCopyZ(sale.code, code.c_str(), 31);
    StrNCopyZ(sale.name, name.c_str(), 47);
    sale.quantity = article->quantity / 1000.0;
    sale.value = article->value / 100.0;
    self->SendSale(&item, &sale);
    return 1;
}

// ---- slots ----

int CMP_ECR::Transfer(EcrItemRecord* items, int count, Stream stream) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    if (!items) {
        SetError(-1, PL("Niewłaściwe parametry zadania"));
        return 0;
    }
    std::lock_guard<std::mutex> lock(g_transferMutex);
    m_items = items;
    m_count = count < 0 ? 0 : count;   // 0: nothing is sent
    m_next = 0;
    m_checkPrice = stream == Stream::Send;
    m_refused = false;
    m_refusedCode = 0;
    g_current = this;
    const int r = stream == Stream::Send ? m_proto.SendArticles(&Pull, nullptr) : m_proto.DeleteArticles(&Pull, nullptr);
    g_current = nullptr;
    m_items = nullptr;
    if (m_pSerial && m_pSerial->IsAborted()) return Broken();
    if (!r) return Failed();
    if (m_refused) {
        SetError(m_refusedCode, GetErrorText(m_refusedCode));
        return 0;
    }
    return 1;
}

int CMP_ECR::Receive(bool sales) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    std::lock_guard<std::mutex> lock(g_transferMutex);
    g_current = this;
    const int r = m_proto.ReceiveArticles(sales ? &PushSales : &PushGoods, nullptr);
    g_current = nullptr;
    if (m_pSerial && m_pSerial->IsAborted()) return Broken();
    return r ? 1 : Failed();
}

int CMP_ECR::PgmPLU(int, EcrItemRecord* items, int count, EcrItemProgramCallback, int) {
    return Transfer(items, count, Stream::Send);
}

int CMP_ECR::DelPLU(int, EcrItemRecord* items, int count, EcrItemProgramCallback) {
    return Transfer(items, count, Stream::Delete);
}

int CMP_ECR::ReadAllPLU(int, EcrItemReadCallback) { return Receive(false); }

int CMP_ECR::ReadSale(int, EcrSaleCallback) { return Receive(true); }

int CMP_ECR::ClearSale(int, EcrSaleCallback) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    if (m_pSerial && m_pSerial->IsAborted()) return Broken();
    return m_proto.ZeroPLUCounters() ? 1 : Failed();
}
