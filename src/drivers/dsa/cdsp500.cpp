#include "drivers/dsa/cdsp500.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr DsaTraits kDsp500Traits{7, true, 9600, 7, 'O', false};
constexpr int kPluReplyLength = 440;
}

CDsp500::CDsp500() : CDsaLink(kDsp500Traits) {}

DsaSaleStream CDsp500::SaleStream(bool) const { return DsaSaleStream{}; }

int CDsp500::QueryDept(uint32_t, DsaDeptRecord&) {
    m_nError = 110;
    return 0;
}

int CDsp500::QueryPlu(uint32_t number, DsaPluRecord& rec) {
    m_nError = 0;
    if (number < 1 || number > Capacity()) {
        m_nError = 105;
        return 0;
    }
    CChrArr cmd("101");
    if (!SendFrame(cmd, Number(number, 7))) return 0;
    CChrArr data = CheckReply(cmd, kPluReplyLength);
    if (data.GetLength() != kPluReplyLength || Digits(data, 21, 7) != number) {
        if (m_nError == 0) m_nError = 9999;
        return 0;
    }
    std::string name = FieldText(Decode(ChrMid(data, 1, 20)));
    std::memset(rec.name, 0, sizeof rec.name);
    std::memcpy(rec.name, name.data(), std::min<size_t>(name.size(), 20));
    rec.price = Digits(data, 28, 6) / 100.0;
    std::string code = FieldText(ChrTrim(ChrMid(data, 38, 7), ' '));
    std::memset(rec.barcode, 0, sizeof rec.barcode);
    std::memcpy(rec.barcode, code.data(), std::min<size_t>(code.size(), 13));
    rec.flag = 1;
    rec.dept = 0;
    rec.quantity = 0.0;
    return 1;
}
