#include "drivers/dibal/cdibal_500.h"

#include <cmath>
#include <cstring>

#include "drivers/common/scale_records.h"
#include "util/chrarr.h"
#include "util/cp1250.h"
#include "util/cp1250_unicode.h"

namespace {

static_assert(orv::platform::kCalleeCleans<DibalItemsSendFn> && orv::platform::kCalleeCleans<DibalRegistersSendFn>,
              "the scale library's entry points are called callee-cleans");

const char16_t kRange[] = u"500RANGE";
const char16_t kEmpty[] = u"";
const char16_t kZero[] = u"0";
const char16_t kLogFile[] = u"dibal500.log";
const char16_t kTextG[] = u"textG";

// A host text up to its terminator, control bytes as blanks.
std::string Printable(const char* text, size_t cap) {
    std::string s(text, strnlen(text, cap));
    for (char& c : s)
        if (static_cast<uint8_t>(c) < 0x20 || c == 0x7F) c = ' ';
    return s;
}

bool AllDigits(const std::string& s) {
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return !s.empty();
}

}  // namespace

CDibal_500::CDibal_500() {
    m_nWait = 1;
    m_nRetry = 5;
}

CDibal_500::~CDibal_500() = default;

std::string CDibal_500::GetErrorText(int code) {
    if (code == 999999 && !m_loadText.empty()) return m_loadText;
    if (code == DIBAL_ERR_NO_ANSWER && !m_answer.empty()) return m_answer;
    return CTelepathyECR::GetErrorText(code);
}

int CDibal_500::Open(uint32_t address, int /*kind*/, int number, int /*fourth*/) {
    if (address != m_storedAddress) {
        // The library holds its connection to the last scale: a new
        // address takes a fresh load.
        m_lib.Release();
        m_itemsSend = nullptr;
        m_registersSend = nullptr;
        m_loaded = 0;
        m_storedAddress = address;
    }
    m_number = number;
    m_nError = 0;
    m_loadText.clear();
    m_answer.clear();
    m_addressText = DottedAddress(address).substr(0, 15);

    if (m_loaded == 0) {
        m_itemsSend = nullptr;
        m_registersSend = nullptr;
        if (!m_lib.IsLoaded() && !m_lib.Load(kLibraryName)) {
            m_loadText = std::string(PL("Nie można załadować biblioteki ")) + m_lib.FileName();
            m_nError = 999999;
            return 0;
        }
        m_itemsSend = m_lib.Function<DibalItemsSendFn>("ItemsSend");
        m_registersSend = m_lib.Function<DibalRegistersSendFn>("RegistersSend");
        const char* missing = !m_itemsSend ? "ItemsSend" : !m_registersSend ? "RegistersSend" : nullptr;
        if (missing) {
            m_loadText = std::string("Brak funkcji ") + missing + " w bibliotece " + m_lib.FileName();
            m_lib.Release();
            m_itemsSend = nullptr;
            m_registersSend = nullptr;
            m_nError = 999999;
            return 0;
        }
        m_loaded = 1;
    }

    m_address16 = Cp1250ToUtf16(m_addressText);
    m_connection = DibalConnection{};
    m_connection.zero1 = 0;
    m_connection.address = m_address16.c_str();
    m_connection.port1 = 3001;
    m_connection.port2 = 3000;
    m_connection.range = kRange;
    m_connection.empty = kEmpty;
    m_connection.zeroText = kZero;
    m_connection.zero2 = 0;
    m_connection.logFile = kLogFile;
    return 1;
}

void CDibal_500::ReleaseAddress() {
    m_address16.clear();
    m_address16.shrink_to_fit();
    m_connection.address = nullptr;
}

std::u16string CDibal_500::DateText(const char* date) {
    const std::string d(date, strnlen(date, 15));
    if (d.size() == 8 && d[2] == '.' && d[5] == '.' && AllDigits(d.substr(0, 2) + d.substr(3, 2) + d.substr(6, 2)))
        return Cp1250ToUtf16(d.substr(0, 2) + "/" + d.substr(3, 2) + "/20" + d.substr(6, 2));
    return u"00/00/0000";
}

std::u16string CDibal_500::NameText(const char* name) {
    std::string n = Printable(name, 24).substr(0, 20);
    n.resize(20, ' ');
    return Cp1250ToUtf16(n);
}

std::u16string CDibal_500::RegisterText(const DibalItem& item) {
    const std::string texts = Printable(item.text1, 20) + Printable(item.text2, 20) + Printable(item.text3, 20);
    const std::string body = ChrPadRight(ChrTrim(CChrArr(texts), ' '), 115, ' ').ToString();
    return Cp1250ToUtf16("X400" + NumToText(item.plu, 6, '0', 10).ToString() + "01" + body + "\x1B");
}

int CDibal_500::Call(const char* answer) {
    if (answer && std::strcmp(answer, "OK") == 0) return 1;
    // The answer becomes the host's error text: the library's control bytes
    // are left out.
    m_answer = answer ? ChrTrim(CChrArr(Printable(answer, 255)), ' ').ToString() : std::string();
    m_nError = DIBAL_ERR_NO_ANSWER;
    return 0;
}

int CDibal_500::BuildItems(const DibalItem& item) {
    m_nError = 0;
    m_answer.clear();
    if (item.plu > 999999) {
        m_nError = DIBAL_ERR_PLU_RANGE;
        return 0;
    }
    if (!std::isfinite(item.price) || item.price < 0.0) {
        m_nError = DIBAL_ERR_PRICE_RANGE;
        return 0;
    }
    if (!m_itemsSend || !m_registersSend) {
        m_nError = 999999;
        return 0;
    }
    const std::u16string name = NameText(item.name);
    const std::u16string date = DateText(item.date1);
    const std::u16string text = RegisterText(item);

    DibalItemBlock block{};
    block.plu = static_cast<int32_t>(item.plu);
    block.code3 = static_cast<int32_t>(item.code3);
    block.price = item.price;
    block.name = name.c_str();
    block.flag = item.flag == 1 ? 0 : 1;
    block.department = static_cast<int32_t>(item.department);
    block.date = date.c_str();
    block.zero1 = 0;
    block.plu2 = static_cast<int32_t>(item.plu);
    block.zero2 = 0;
    block.textG = kTextG;
    if (!Call(m_itemsSend(&m_connection, 1, &block, 1, 0, 5))) return 0;

    DibalTextBlock texts{};
    texts.text = text.c_str();
    texts.zero = 0;
    return Call(m_registersSend(&m_connection, 1, &texts, 1, 0, 5));
}
