#include "drivers/posnet/combo_library.h"

#include <cstring>
#include <mutex>
#include <type_traits>

#include "platform/call_convention.h"
#include "platform/dynamic_library.h"
#include "util/cp1250.h"

namespace orv::posnet {

namespace {

constexpr const char* kEntryNames[kComboEntryCount] = {
#define ORV_COMBO_NAME(name, n, r) #name,
    ORV_LIBPOSNET_ENTRIES(ORV_COMBO_NAME) ORV_LIBHLAPI_ENTRIES(ORV_COMBO_NAME)
#undef ORV_COMBO_NAME
};

// Both libraries pop their own arguments (callee-cleans): a pointer
// declared otherwise would unbalance the stack after every call.
#define ORV_COMBO_CONVENTION(name, n, r) \
    static_assert(orv::platform::kCalleeCleans<name##_fn>, #name " is called callee-cleans");
ORV_LIBPOSNET_ENTRIES(ORV_COMBO_CONVENTION)
ORV_LIBHLAPI_ENTRIES(ORV_COMBO_CONVENTION)
#undef ORV_COMBO_CONVENTION

// What a call of an entry point that is not there gives.
constexpr PosCode kBadHandle = 0x010006;

struct Libraries {
    std::mutex mutex;
    orv::platform::DynamicLibrary posnet;
    orv::platform::DynamicLibrary hlapi;
    bool ready = false;
    void* entries[kComboEntryCount] = {};
};

Libraries& Libs() {
    static Libraries* libraries = new Libraries;   // kept for the life of the process
    return *libraries;
}

template <class T>
PosArg Word(T value) {
    if constexpr (std::is_pointer_v<T>)
        return reinterpret_cast<PosArg>(value);
    else
        return static_cast<PosArg>(value);
}

// Calls entry e of type Fn; a missing entry gives `missing`.
template <class Fn, class R, class... A>
R CallEntry(int e, R missing, A... args) {
    void* p = Libs().entries[e];
    if (!p) return missing;
    return reinterpret_cast<Fn>(p)(Word(args)...);
}

#define ORV_CALL_CODE(name, ...) CallEntry<name##_fn, PosCode>(k_##name, kBadHandle, __VA_ARGS__)
#define ORV_CALL_HANDLE(name, ...) CallEntry<name##_fn, PosHandle>(k_##name, PosHandle{0}, __VA_ARGS__)

// A text result: a zeroed buffer the getter writes into.
struct TextOut {
    char buf[kResultTextSize] = {};
    char* p() { return buf; }
    std::string str() const { return std::string(buf, ::strnlen(buf, kResultTextSize - 1)); }
};

}  // namespace

std::string CComboLibrary::Printable(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    return out;
}

const char* CComboLibrary::EntryName(int entry) {
    return entry >= 0 && entry < kComboEntryCount ? kEntryNames[entry] : "";
}

bool CComboLibrary::Load(std::string& failText) {
    Libraries& l = Libs();
    std::lock_guard<std::mutex> lock(l.mutex);
    if (l.ready) return true;
    for (void*& e : l.entries) e = nullptr;
    struct Part {
        orv::platform::DynamicLibrary* lib;
        const char* file;
        int first, end;
    } parts[] = {{&l.posnet, kPosnetFile, 0, kLibHlapiFirst},
                 {&l.hlapi, kHlapiFile, kLibHlapiFirst, kComboEntryCount}};
    for (const Part& part : parts) {
        if (!part.lib->IsLoaded() && !part.lib->Load(part.file)) {
            failText = std::string(PL("Nie można załadować biblioteki ")) + part.lib->FileName();
            return false;
        }
        for (int i = part.first; i < part.end; ++i) {
            l.entries[i] = part.lib->Symbol(kEntryNames[i]);
            if (!l.entries[i]) {
                failText = std::string("Brak funkcji ") + kEntryNames[i] + " w bibliotece " + part.lib->FileName();
                // The next attempt loads the file anew (it may have been replaced).
                part.lib->Release();
                return false;
            }
        }
    }
    l.ready = true;
    return true;
}

bool CComboLibrary::Loaded() {
    Libraries& l = Libs();
    std::lock_guard<std::mutex> lock(l.mutex);
    return l.ready;
}

void CComboLibrary::ResetForTests() {
    Libraries& l = Libs();
    std::lock_guard<std::mutex> lock(l.mutex);
    l.ready = false;
    for (void*& e : l.entries) e = nullptr;
    l.posnet.Release();
    l.hlapi.Release();
}

// ---------------------------------------------------------- LIBPOSNET ----

PosHandle CComboLibrary::CreateDeviceHandle(uint32_t kind) { return ORV_CALL_HANDLE(POS_CreateDeviceHandle, kind); }

void CComboLibrary::SetDeviceParam(PosHandle params, uint32_t id, const std::string& text) {
    const std::string t = Printable(text);
    ORV_CALL_CODE(POS_SetDeviceParam, params, id, t.c_str());
}

PosHandle CComboLibrary::OpenDevice(PosHandle params) { return ORV_CALL_HANDLE(POS_OpenDevice, params); }

PosCode CComboLibrary::GetError(PosHandle device) { return ORV_CALL_CODE(POS_GetError, device); }

void CComboLibrary::CloseDevice(PosHandle device) { ORV_CALL_CODE(POS_CloseDevice, device); }

PosHandle CComboLibrary::CreateRequest(PosHandle device, uint32_t command) {
    return ORV_CALL_HANDLE(POS_CreateRequest, device, command);
}

void CComboLibrary::PushRequestParamByte(PosHandle request, uint8_t byte) {
    ORV_CALL_CODE(POS_PushRequestParamByte, request, static_cast<uint32_t>(byte));
}

void CComboLibrary::PostRequest(PosHandle request, uint32_t mode) { ORV_CALL_CODE(POS_PostRequest, request, mode); }

PosCode CComboLibrary::WaitForRequestCompleted(PosHandle request, uint32_t milliseconds) {
    return ORV_CALL_CODE(POS_WaitForRequestCompleted, request, milliseconds);
}

PosCode CComboLibrary::GetRequestStatus(PosHandle request) { return ORV_CALL_CODE(POS_GetRequestStatus, request); }

uint8_t CComboLibrary::PopResponseValueByte(PosHandle request) {
    uint8_t byte = 0;
    ORV_CALL_CODE(POS_PopResponseValueByte, request, &byte);
    return byte;
}

void CComboLibrary::DestroyRequest(PosHandle request) { ORV_CALL_CODE(POS_DestroyRequest, request); }

// ----------------------------------------------------------- builders ----

PosCode CComboLibrary::VATGet(PosHandle device, PosHandle* request) {
    return ORV_CALL_CODE(POSS_VATGet, device, request, 0);
}

PosCode CComboLibrary::CashregStatusGet(PosHandle device, PosHandle* request) {
    return ORV_CALL_CODE(POSS_CashregStatusGet, device, request, 0);
}

PosCode CComboLibrary::CntxPLUInit(PosHandle device, PosHandle* request) {
    return ORV_CALL_CODE(POSS_CntxPLUInit, device, request, 0, 0, 0);
}

PosCode CComboLibrary::PLURead(PosHandle device, PosHandle* request, uint32_t number) {
    return ORV_CALL_CODE(POSS_PLURead, device, request, number, 0, 0);
}

PosCode CComboLibrary::PLUReadByBarcode(PosHandle device, PosHandle* request, const std::string& code) {
    const std::string c = Printable(code);
    return ORV_CALL_CODE(POSS_PLUReadByBarcode, device, request, c.c_str(), 0, 0);
}

PosCode CComboLibrary::PLUGetByBarcode(PosHandle device, PosHandle* request, const std::string& code) {
    const std::string c = Printable(code);
    return ORV_CALL_CODE(POSS_PLUGetByBarcode, device, request, c.c_str(), 0);
}

PosCode CComboLibrary::PLUGetByName(PosHandle device, PosHandle* request, const std::string& name) {
    const std::string n = Printable(name);
    return ORV_CALL_CODE(POSS_PLUGetByName, device, request, n.c_str(), 0);
}

PosCode CComboLibrary::PLUIns(PosHandle device, PosHandle* request, const ComboWireGoods& g) {
    const std::string code = Printable(g.code), name = Printable(g.name), price = Printable(g.price),
                      code2 = Printable(g.code2);
    return ORV_CALL_CODE(POSS_PLUIns, device, request, g.number, code.c_str(), name.c_str(), g.vat, price.c_str(),
                         g.unit, g.word1, g.department, g.word2, g.word3, g.word4, g.linked, g.word5, code2.c_str(), 0,
                         0, 0);
}

PosCode CComboLibrary::PluPriceUpdate(PosHandle device, PosHandle* request, uint32_t number,
                                      const std::string& price) {
    const std::string p = Printable(price);
    return ORV_CALL_CODE(POSS_PluPriceUpdate, device, request, number, p.c_str(), 0);
}

PosCode CComboLibrary::PluPriceUpdateByBarcode(PosHandle device, PosHandle* request, const std::string& code,
                                               const std::string& price) {
    const std::string c = Printable(code), p = Printable(price);
    return ORV_CALL_CODE(POSS_PluPriceUpdateByBarcode, device, request, c.c_str(), p.c_str(), 0);
}

PosCode CComboLibrary::PackIns(PosHandle device, PosHandle* request, const ComboWireGoods& g) {
    const std::string code = Printable(g.code), name = Printable(g.name), price = Printable(g.price);
    return ORV_CALL_CODE(POSS_PackIns, device, request, g.number, code.c_str(), name.c_str(), g.vat, price.c_str(), 0,
                         0, 0, 0);
}

PosCode CComboLibrary::PackPriceUpdate(PosHandle device, PosHandle* request, uint32_t number,
                                       const std::string& price) {
    const std::string p = Printable(price);
    return ORV_CALL_CODE(POSS_PackPriceUpdate, device, request, number, p.c_str(), 0);
}

PosCode CComboLibrary::PackPriceUpdateByBarcode(PosHandle device, PosHandle* request, const std::string& code,
                                                const std::string& price) {
    const std::string c = Printable(code), p = Printable(price);
    return ORV_CALL_CODE(POSS_PackPriceUpdateByBarcode, device, request, c.c_str(), p.c_str(), 0);
}

PosCode CComboLibrary::PLUDel(PosHandle device, PosHandle* request, uint32_t number) {
    return ORV_CALL_CODE(POSS_PLUDel, device, request, number, 0, 0, 0);
}

PosCode CComboLibrary::PLUDelByBarcode(PosHandle device, PosHandle* request, const std::string& code) {
    const std::string c = Printable(code);
    return ORV_CALL_CODE(POSS_PLUDelByBarcode, device, request, c.c_str(), 0, 0, 0);
}

PosCode CComboLibrary::BarcodeIns(PosHandle device, PosHandle* request, uint32_t number,
                                  const std::vector<std::string>& codes) {
    std::string text;
    for (const std::string& c : codes) {
        if (!text.empty()) text += '\n';
        text += Printable(c);
    }
    return ORV_CALL_CODE(POSS_BarcodeIns, device, request, number, text.c_str(), 0);
}

PosCode CComboLibrary::GroupIns(PosHandle device, PosHandle* request, uint32_t number, const std::string& name) {
    const std::string n = Printable(name);
    return ORV_CALL_CODE(POSS_GroupIns, device, request, number, n.c_str(), 0, 0, 0);
}

PosCode CComboLibrary::MUIns(PosHandle device, PosHandle* request, uint32_t number, const std::string& name,
                             const std::string& shortName) {
    const std::string n = Printable(name), s = Printable(shortName);
    return ORV_CALL_CODE(POSS_MUIns, device, request, number, n.c_str(), s.c_str(), 0, 0);
}

PosCode CComboLibrary::CntxGroupInit(PosHandle device, PosHandle* request) {
    return ORV_CALL_CODE(POSS_CntxGroupInit, device, request, 0, 0, 0);
}

PosCode CComboLibrary::GroupRead(PosHandle device, PosHandle* request) {
    return ORV_CALL_CODE(POSS_GroupRead, device, request, 0, 0);
}

PosCode CComboLibrary::CntxMUInit(PosHandle device, PosHandle* request) {
    return ORV_CALL_CODE(POSS_CntxMUInit, device, request, 0, 0, 0);
}

PosCode CComboLibrary::MURead(PosHandle device, PosHandle* request) {
    return ORV_CALL_CODE(POSS_MURead, device, request, 0, 0);
}

PosCode CComboLibrary::PLUStatRead(PosHandle device, PosHandle* request, uint32_t flag) {
    return ORV_CALL_CODE(POSS_PLUStatRead, device, request, flag, 0, 0);
}

PosCode CComboLibrary::CntxPackInit(PosHandle device, PosHandle* request) {
    return ORV_CALL_CODE(POSS_CntxPackInit, device, request, 0, 0, 0);
}

PosCode CComboLibrary::PackStatRead(PosHandle device, PosHandle* request, uint32_t flag) {
    return ORV_CALL_CODE(POSS_PackStatRead, device, request, flag, 0, 0);
}

PosCode CComboLibrary::PLUStatClearAll(PosHandle device, PosHandle* request) {
    return ORV_CALL_CODE(POSS_PLUStatClearAll, device, request, 1, 1, 0);
}

PosCode CComboLibrary::PackStatClearAll(PosHandle device, PosHandle* request) {
    return ORV_CALL_CODE(POSS_PackStatClearAll, device, request, 1, 0);
}

PosCode CComboLibrary::SaleRecGet(PosHandle device, PosHandle* request) {
    return ORV_CALL_CODE(POSS_SaleRecGet, device, request, 0, 0);
}

// ------------------------------------------------------------ getters ----

PosCode CComboLibrary::GetVAT(PosHandle request, uint16_t rates[7]) {
    for (int i = 0; i < 7; ++i) rates[i] = 0;
    return ORV_CALL_CODE(POSG_VATGet, request, &rates[0], &rates[1], &rates[2], &rates[3], &rates[4], &rates[5],
                         &rates[6]);
}

PosCode CComboLibrary::GetStatus(PosHandle request, ComboWireStatus& s) {
    uint32_t type = 0, mode = 0, totalizers = 0, scratch[7] = {};
    TextOut unique, software;
    PosCode r = ORV_CALL_CODE(POSG_CashRegStatusGet, request, &type, &mode, &totalizers, unique.p(), software.p(),
                              &scratch[0], &scratch[1], &scratch[2], &scratch[3], &scratch[4], &scratch[5],
                              &scratch[6]);
    s.type = type;
    s.mode = mode;
    s.totalizers = totalizers;
    s.unique = unique.str();
    s.software = software.str();
    return r;
}

PosCode CComboLibrary::GetPLU(PosHandle request, bool byBarcode, ComboWireGoods& g) {
    uint32_t number = 0, vat = 0, unit = 0, word1 = 0, department = 0, word2 = 0, word3 = 0, word4 = 0, linked = 0,
             word5 = 0, scratch[2] = {};
    TextOut code, name, price;
    PosCode r = byBarcode ? ORV_CALL_CODE(POSG_PLUReadByBarcode, request, &number, code.p(), name.p(), &vat, price.p(),
                                          &unit, &word1, &department, &word2, &word3, &word4, &linked, &word5,
                                          &scratch[0], &scratch[1])
                          : ORV_CALL_CODE(POSG_PLURead, request, &number, code.p(), name.p(), &vat, price.p(), &unit,
                                          &word1, &department, &word2, &word3, &word4, &linked, &word5, &scratch[0],
                                          &scratch[1]);
    g = ComboWireGoods{};
    g.number = number;
    g.code = code.str();
    g.name = name.str();
    g.vat = vat;
    g.price = price.str();
    g.unit = unit;
    g.word1 = word1;
    g.department = department;
    g.word2 = word2;
    g.word3 = word3;
    g.word4 = word4;
    g.linked = linked;
    g.word5 = word5;
    return r;
}

PosCode CComboLibrary::GetPLUNumber(PosHandle request, bool byName, uint32_t& number) {
    uint32_t n = 0;
    PosCode r = byName ? ORV_CALL_CODE(POSG_PLUGetByName, request, &n) : ORV_CALL_CODE(POSG_PLUGetByBarcode, request, &n);
    number = n;
    return r;
}

PosCode CComboLibrary::GetGroup(PosHandle request, uint32_t& number, std::string& name) {
    uint32_t n = 0;
    TextOut t;
    PosCode r = ORV_CALL_CODE(POSG_GroupRead, request, &n, t.p());
    number = n;
    name = t.str();
    return r;
}

PosCode CComboLibrary::GetUnit(PosHandle request, uint32_t& number, std::string& name, std::string& shortName) {
    uint32_t n = 0;
    TextOut t, s;
    PosCode r = ORV_CALL_CODE(POSG_MURead, request, &n, t.p(), s.p());
    number = n;
    name = t.str();
    shortName = s.str();
    return r;
}

PosCode CComboLibrary::GetPLUStat(PosHandle request, ComboWireStat& stat) {
    uint32_t n = 0;
    TextOut code, name, quantity, value;
    PosCode r = ORV_CALL_CODE(POSG_PLUStatRead, request, &n, code.p(), name.p(), quantity.p(), value.p());
    stat.number = n;
    stat.code = code.str();
    stat.name = name.str();
    stat.quantity = quantity.str();
    stat.value = value.str();
    return r;
}

PosCode CComboLibrary::GetPackStat(PosHandle request, ComboWirePackStat& stat) {
    uint32_t n = 0;
    TextOut code, name, sold, returned, value;
    PosCode r =
        ORV_CALL_CODE(POSG_PackStatRead, request, &n, code.p(), name.p(), sold.p(), returned.p(), value.p());
    stat.number = n;
    stat.code = code.str();
    stat.name = name.str();
    stat.sold = sold.str();
    stat.returned = returned.str();
    stat.value = value.str();
    return r;
}

PosCode CComboLibrary::GetSaleRecType(PosHandle request, uint32_t& type) {
    uint32_t t = 0, scratch[2] = {};
    PosCode r = ORV_CALL_CODE(POSG_SaleRecGetType, request, &t, &scratch[0], &scratch[1]);
    type = t;
    return r;
}

PosCode CComboLibrary::GetSaleRecPLUSet(PosHandle request, ComboWireSale& sale) {
    uint32_t n = 0, scratch = 0;
    TextOut code, name, quantity, value;
    PosCode r =
        ORV_CALL_CODE(POSG_SaleRecGetPLUSet, request, &n, code.p(), name.p(), quantity.p(), value.p(), &scratch);
    sale = ComboWireSale{};
    sale.number = n;
    sale.code = code.str();
    sale.name = name.str();
    sale.quantity = quantity.str();
    sale.value = value.str();
    return r;
}

PosCode CComboLibrary::GetSaleRecPack(PosHandle request, ComboWireSale& sale) {
    uint32_t n = 0;
    TextOut name, quantity, value;
    PosCode r = ORV_CALL_CODE(POSG_SaleRecGetPack, request, &n, name.p(), quantity.p(), value.p());
    sale = ComboWireSale{};
    sale.number = n;
    sale.name = name.str();
    sale.quantity = quantity.str();
    sale.value = value.str();
    return r;
}

PosCode CComboLibrary::GetSaleRecFinished(PosHandle request, ComboWireSale& sale) {
    uint32_t receipt = 0, scratch[5] = {};
    TextOut total;
    PosCode r = ORV_CALL_CODE(POSG_SaleRecGetFinished, request, &receipt, total.p(), &scratch[0], &scratch[1],
                              &scratch[2], &scratch[3], &scratch[4]);
    sale = ComboWireSale{};
    sale.number = receipt;
    sale.value = total.str();
    return r;
}

}  // namespace orv::posnet
