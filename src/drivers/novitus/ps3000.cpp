#include "drivers/novitus/ps3000.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "comm/telepathy.h"
#include "drivers/common/record_fields.h"
#include "drivers/novitus/ps3000_ids.h"
#include "drivers/novitus/ps3000_texts.h"
#include "platform/control_host.h"
#include "platform/message_hook.h"
#include "util/cp1250.h"

namespace orv::novitus {

using platform::DispatchObject;
using platform::DispatchRef;
using platform::Variant;
namespace id = ids;

namespace {

uint32_t PackFlags(uint32_t priceMode, uint32_t option) {
    return (priceMode & 3u) | (option == 1 ? 4u : 0u) | (option == 2 ? 8u : 0u);
}

void UnpackFlags(uint32_t flags, uint32_t& priceMode, uint32_t& option) {
    priceMode = flags & 3u;
    option = (flags & 4u) ? 1u : (flags & 8u) ? 2u : 0u;
}

int Percent(int i, int of) { return std::min(100, i * 100 / of); }

// Reads stop at the end flag; a register that never sets it stops once it
// has no more data, and no read goes on for ever.
constexpr int kMaxRecords = 1000000;

}  // namespace

CPs3000::~CPs3000() = default;

int CPs3000::CreateControl(EcrWindow parent) { return platform::CreateFiscalControl(parent) ? 1 : 0; }

int CPs3000::DestroyControl() {
    m_settings.reset();
    platform::DestroyFiscalControl();
    return 1;
}

bool CPs3000::Ok(int dispid, std::vector<Variant> args) {
    if (!m_control) return false;
    Variant r;
    if (!m_control->Invoke(dispid, platform::InvokeKind::Method, args, &r)) return false;
    return r.AsInt() != 0;
}

int CPs3000::Connect(int kind, uint32_t value, int baud, const std::string&) {
    m_nPort = static_cast<int>(value);
    m_nError = 0;
    m_connected = 0;
    platform::InitializeDispatchForThread();
    m_settings.reset();
    m_control.reset();
    EcrWindow parent = m_pSerial ? m_pSerial->GetNotifyWindow() : nullptr;
    if (!CreateControl(parent)) {
        m_nError = kNoControl;
        return 0;
    }
    m_control = platform::FiscalControlWindow().Control();
    if (!m_control) {
        m_nError = kNoControl;
        return 0;
    }
    if (kind == kSerialNumber) {
        m_nError = kUnsupported;
        return 0;
    }
    m_control->Put(id::kNativeMode, Variant::Bool(true));
    Variant settings = m_control->Get(id::kSettings);
    if (settings.type != platform::VarType::Object || !settings.object) {
        m_nError = kNoControl;
        return 0;
    }
    m_settings = settings.object;
    DispatchObject& s = *m_settings;
    s.Put(id::kSetText9, Variant::Text(""));
    s.Put(id::kSetValue10, Variant::I4(0));
    s.Put(id::kSetFlag210, Variant::Bool(true));
    s.Put(id::kSetTempDir, Variant::Text(platform::TempDirectory()));
    int mode;
    if (kind == kTcp) {
        char addr[32];
        std::snprintf(addr, sizeof addr, "%u.%u.%u.%u", (value >> 24) & 255u, (value >> 16) & 255u, (value >> 8) & 255u,
                      value & 255u);
        s.Put(id::kSetAddress, Variant::Text(addr));
        s.Put(id::kSetPort, Variant::Text("5001"));
        s.Put(id::kSetTimeout6, Variant::I4(20000));
        s.Put(id::kSetTimeout8, Variant::I4(300000));
        s.Put(id::kSetTimeout12, Variant::I4(40000));
        mode = 3;
    } else {
        char port[24];
        std::snprintf(port, sizeof port, "COM%u", value);
        s.Put(id::kSetPort, Variant::Text(port));
        s.Put(id::kSetDataBits, Variant::I4(8));
        s.Put(id::kSetBaud, Variant::I4(baud));
        s.Put(id::kSetValue5, Variant::I4(0));
        s.Put(id::kSetValue4, Variant::I4(1));
        s.Put(id::kSetValue7, Variant::I4(2));
        if (m_model == 19) s.Put(id::kSetValue7, Variant::I4(0));
        mode = 0;
    }
    bool opened = Ok(id::kOpen, {Variant::I4(mode)});
    if (opened && Ok(id::kCheck)) {
        m_connected = 1;
        return 1;
    }
    // The control's own code; none at all means the line never came up.
    ReadNativeError();
    if (m_nError == 3000 || m_nError == 0) m_nError = kNotConnected;
    if (opened) Ok(id::kDisconnect);
    return 0;
}

void CPs3000::Disconnect() {
    if (m_connected) {
        Ok(id::kDisconnect);
        m_connected = 0;
    }
    m_settings.reset();
    m_control.reset();
}

void CPs3000::Reconnect() {
    if (!m_connected) return;
    Ok(id::kDisconnect);
    m_connected = 0;
    if (Ok(id::kCheck)) m_connected = 1;
}

std::string CPs3000::GetErrorText(int code) {
    if (code == kBadCodeText || code == kRefusedCode)
        return PL("Błędny numer towaru, kod kreskowy lub błąd w nazwie towaru");
    if (code == kNoControl) return PL("Błąd instalacji sterownika ActiveX. Do pobrania na stronie www producenta pod adresem :");
    if (code == kUnsupported) return PL("Brak obsługi urządzenia tego typu w tej wersji biblioteki");
    if (code >= 3001 && code <= 9996) {
        if (const char* t = Ps3000ControlText(code)) return t;
        return CTelepathyECR::GetErrorText(code - 3000);
    }
    if (const char* t = Ps3000DeviceText(code)) return t;
    return CTelepathyECR::GetErrorText(code);
}

// ---- errors ----

namespace {
// The control's own failure c as this driver's code, 3000 + c. A code that
// sum cannot carry (negative: it would read as a register's code, as a line
// failure or as success; or past the int range) is the control's undefined
// error.
int ControlFailure(int64_t c) {
    const int64_t code = 3000 + c;
    return c < 0 || code > INT32_MAX ? CPs3000::kUndefined : static_cast<int>(code);
}

// A hexadecimal code above 0, else 0.
int ParseHex(const std::string& text) {
    uint32_t v = 0;
    if (text.size() > 7 || !HexValue(CStringToChrArr(text), v)) return 0;
    return static_cast<int>(v);
}
}  // namespace

void CPs3000::ReadNativeError() {
    if (m_nError == -7) return;
    m_nError = 0;
    if (!m_control) {
        m_nError = kNotConnected;
        return;
    }
    Variant native = m_control->Get(id::kNativeMode);
    Variant code = m_control->Get(id::kErrorCode);
    if (code.type == platform::VarType::Empty) {   // the control itself is gone
        m_nError = kConnectionLost;
        return;
    }
    const int64_t c = code.AsInt();
    std::string hex;
    bool haveHex = false;
    if (c == id::kRefusedByDevice) {
        if (native.AsBool()) {
            hex = m_control->Get(id::kNativeCode).AsText();
            haveHex = true;
        } else {
            int32_t n = 0;
            std::string t1, t2, t3;
            if (Ok(id::kReadNative, {Variant::ByRef(&n), Variant::ByRef(&t1), Variant::ByRef(&t2), Variant::ByRef(&t3)})) {
                hex = t1;
                haveHex = true;
            }
        }
    }
    if (haveHex) {
        int v = ParseHex(hex);
        m_nError = v > 0 ? v : kBadNative;
    } else {
        m_nError = ControlFailure(c);
    }
}

// ---- values ----

std::string CPs3000::TaxIndexToLetter(uint32_t index, int* error) {
    if (index >= 1 && index <= 7) return std::string(1, static_cast<char>('A' + index - 1));
    if (error) *error = 9999;
    return " ";
}

uint32_t CPs3000::TaxLetterToIndex(const std::string& text, int* error) {
    if (text.size() == 1) {
        char c = text[0];
        if (c >= 'A' && c <= 'G') return static_cast<uint32_t>(c - 'A' + 1);
        if (c == 'Z') return 7;
    }
    if (error) *error = 9999;
    return 0;
}

int64_t CPs3000::ToCurrency(double v) { return static_cast<int64_t>(std::trunc(v * 100.0 + 0.1)) * 100; }

void CPs3000::FillPluObject(DispatchObject& o, const Ps3000Plu& rec) {
    std::string code(rec.code, strnlen(rec.code, sizeof rec.code));
    if (code.empty() && rec.number != 0) code = std::to_string(rec.number);
    o.Put(id::kPluNumber, Variant::I4(static_cast<int32_t>(rec.number)));
    o.Put(id::kPluCode, Variant::Text(code));
    o.Put(id::kPluName, Variant::Text(std::string(rec.name, strnlen(rec.name, sizeof rec.name))));
    o.Put(id::kPluPrice, Variant::Currency(ToCurrency(rec.price)));
    o.Put(id::kPluVat, Variant::Text(TaxIndexToLetter(rec.vat, &m_nError)));
    o.Put(id::kPluFieldA, Variant::I4(static_cast<int32_t>(rec.fieldA)));
    o.Put(id::kPluFlags, Variant::I4(static_cast<int32_t>(PackFlags(rec.priceMode, rec.option))));
    o.Put(id::kPluDept, Variant::I4(static_cast<int32_t>(rec.dept)));
    o.Put(id::kPluFieldB, Variant::I4(static_cast<int32_t>(rec.fieldB)));
    o.Put(id::kPluText2, Variant::Text(std::string(rec.text2, strnlen(rec.text2, sizeof rec.text2))));
    o.Put(id::kPluUnit, Variant::I4(static_cast<int32_t>(rec.unit)));
    o.Put(id::kPluWeighed, Variant::I4(rec.weighed == 1 ? 2 : 0));
    o.Put(id::kPluValue203, Variant::Double(0.0));
    o.Put(id::kPluValue204, Variant::I4(0));
}

void CPs3000::FillDeptObject(DispatchObject& o, const Ps3000Dept& rec) {
    char number[16];
    std::snprintf(number, sizeof number, "%2u", rec.number);
    o.Put(id::kPluCode, Variant::Text(number));
    o.Put(id::kPluName, Variant::Text(std::string(rec.name, strnlen(rec.name, sizeof rec.name))));
    o.Put(id::kPluVat, Variant::Text(TaxIndexToLetter(rec.vat, &m_nError)));
    o.Put(id::kPluPrice, Variant::Currency(ToCurrency(rec.amount)));
    o.Put(id::kPluFieldB, Variant::I4(static_cast<int32_t>(rec.fieldB)));
    o.Put(id::kPluFlags, Variant::I4(static_cast<int32_t>(PackFlags(rec.priceMode, rec.option))));
}

namespace {
void ReadPluObject(DispatchObject& o, Ps3000Plu& rec) {
    std::memset(&rec, 0, sizeof rec);
    rec.number = static_cast<uint32_t>(o.Get(id::kPluNumber).AsInt());
    CopyTextField(rec.code, o.Get(id::kPluCode).AsText());
    CopyTextField(rec.name, o.Get(id::kPluName).AsText());
    rec.price = o.Get(id::kPluPrice).AsDouble();
    rec.vat = CPs3000::TaxLetterToIndex(o.Get(id::kPluVat).AsText(), nullptr);
    rec.fieldA = static_cast<uint32_t>(o.Get(id::kPluFieldA).AsInt());
    UnpackFlags(static_cast<uint32_t>(o.Get(id::kPluFlags).AsInt()), rec.priceMode, rec.option);
    rec.dept = static_cast<uint32_t>(o.Get(id::kPluDept).AsInt());
    rec.fieldB = static_cast<uint32_t>(o.Get(id::kPluFieldB).AsInt());
    CopyTextField(rec.text2, o.Get(id::kPluText2).AsText());
    rec.unit = static_cast<uint32_t>(o.Get(id::kPluUnit).AsInt());
    rec.weighed = o.Get(id::kPluWeighed).AsInt() == 2 ? 1 : 0;
}

void ReadDeptObject(DispatchObject& o, Ps3000Dept& rec) {
    std::memset(&rec, 0, sizeof rec);
    rec.number = static_cast<uint32_t>(std::strtoul(o.Get(id::kPluCode).AsText().c_str(), nullptr, 10));
    CopyTextField(rec.name, o.Get(id::kPluName).AsText());
    rec.vat = CPs3000::TaxLetterToIndex(o.Get(id::kPluVat).AsText(), nullptr);
    rec.amount = o.Get(id::kPluPrice).AsDouble();
    rec.fieldB = static_cast<uint32_t>(o.Get(id::kPluFieldB).AsInt());
    UnpackFlags(static_cast<uint32_t>(o.Get(id::kPluFlags).AsInt()), rec.priceMode, rec.option);
}

void ReadSaleObject(DispatchObject& o, Ps3000Sale& rec, bool second) {
    rec = Ps3000Sale();
    rec.code = o.Get(id::kSaleCode).AsText();
    rec.name = o.Get(id::kSaleName).AsText();
    rec.quantity = o.Get(id::kSaleQuantity).AsDouble();
    rec.value = o.Get(id::kSaleValue).AsDouble();
    if (second) {
        rec.quantity2 = o.Get(id::kSaleQuantity2).AsDouble();
        rec.value2 = o.Get(id::kSaleValue2).AsDouble();
    }
}
}  // namespace

// ---- transfers ----

bool CPs3000::Begin() {
    m_nError = 0;
    if (platform::InitializeDispatchForThread()) m_comInitialized = 1;
    if (Broken()) return false;
    if (!m_control) {
        m_nError = kNotConnected;
        return false;
    }
    return true;
}

bool CPs3000::Broken() {
    if (m_pSerial && m_pSerial->IsAborted()) {
        m_nError = -7;
        return true;
    }
    return false;
}

DispatchRef CPs3000::NewObject(const char* classId) {
    DispatchRef o = platform::CreateAutomationObject(classId);
    if (!o) m_nError = kNoControl;
    return o;
}

void CPs3000::AfterWrite() {
    if (m_model != 19) return;
    if (Ok(id::kDisconnect)) Ok(id::kCheck);
}

int CPs3000::WriteRecord(const char* classId, int kind, bool goods, int mode,
                         void (*fill)(CPs3000&, DispatchObject&, const void*), const void* rec, int sendId) {
    if (!Begin()) return 0;
    DispatchRef o = NewObject(classId);
    if (!o) return 0;
    bool atSend = false;
    bool ok = Ok(id::kReady) && Ok(id::kBeginWrite, {Variant::I4(kind)});
    if (ok) {
        fill(*this, *o, rec);
        atSend = true;
        ok = sendId == id::kSendRecord ? Ok(id::kSendRecord, {Variant::Object(o), Variant::I4(mode)})
                                       : Ok(id::kSendBarcode, {Variant::Object(o)});
        if (ok) {
            atSend = false;
            ok = Ok(id::kEndWrite);
        }
    }
    if (!ok) {
        ReadNativeError();
        if (goods && atSend && m_nError == 5) m_nError = kRefusedCode;
    } else {
        m_nError = 0;
    }
    o.reset();
    AfterWrite();
    return ok ? 1 : 0;
}

int CPs3000::WriteDept(const Ps3000Dept& rec) {
    return WriteRecord(
        id::kClassPlu, id::kKindDepts, false, 0,
        [](CPs3000& self, DispatchObject& o, const void* r) { self.FillDeptObject(o, *static_cast<const Ps3000Dept*>(r)); },
        &rec, id::kSendRecord);
}

int CPs3000::WritePlu(const Ps3000Plu& rec, int mode) {
    int kind = mode == 2 ? id::kKindGoodsUpdate : mode == 3 ? id::kKindGoodsDelete : id::kKindGoods;
    return WriteRecord(
        id::kClassPlu, kind, true, mode,
        [](CPs3000& self, DispatchObject& o, const void* r) { self.FillPluObject(o, *static_cast<const Ps3000Plu*>(r)); },
        &rec, id::kSendRecord);
}

int CPs3000::WriteBarcodeRecord(const Ps3000Plu& rec) {
    return WriteRecord(
        id::kClassBarcode, id::kKindBarcodes, true, 0,
        [](CPs3000&, DispatchObject& o, const void* r) {
            auto& p = *static_cast<const Ps3000Plu*>(r);
            o.Put(id::kBarcodeCode, Variant::Text(std::string(p.code, strnlen(p.code, sizeof p.code))));
            o.Put(id::kBarcodeText2, Variant::Text(std::string(p.text2, strnlen(p.text2, sizeof p.text2))));
        },
        &rec, id::kSendBarcode);
}

int CPs3000::WriteSingleUnit(const Ps3000Unit& rec) {
    if (!Begin()) return 0;
    bool ok = Ok(id::kReady) && Ok(id::kBeginWrite, {Variant::I4(id::kKindUnits)}) &&
              Ok(id::kWriteUnit, {Variant::I4(static_cast<int32_t>(rec.index) - 1),
                                  Variant::Text(std::string(rec.name, strnlen(rec.name, sizeof rec.name)))}) &&
              Ok(id::kEndWrite);
    if (!ok) ReadNativeError();
    AfterWrite();
    return ok ? 1 : 0;
}

int CPs3000::WriteUnit(const Ps3000Unit* recs, int count) {
    if (!Begin()) return 0;
    bool ok = Ok(id::kReady) && Ok(id::kBeginWrite, {Variant::I4(id::kKindUnits)});
    if (ok) {
        for (int i = 0; i < count; ++i) {
            const Ps3000Unit& u = recs[i];
            Ok(id::kWriteUnit, {Variant::I4(static_cast<int32_t>(u.index) - 1),
                                Variant::Text(std::string(u.name, strnlen(u.name, sizeof u.name)))});
        }
        ok = Ok(id::kEndWrite);
    }
    if (!ok) ReadNativeError();
    AfterWrite();
    return ok ? 1 : 0;
}

// what: 0 departments, 1 goods, 2 units.
int CPs3000::ReadRecords(int kind, int what, void* sink, void* ctx) {
    if (!Begin()) return 0;
    DispatchRef o;
    if (what != 2) {
        o = NewObject(id::kClassPlu);
        if (!o) return 0;
    }
    bool ok = Ok(id::kReady) && Ok(id::kBeginRead, {Variant::I4(kind), Variant::Int(0), Variant::Int(0),
                                                    Variant::I4(0), Variant::I4(0)});
    for (int i = 1; ok; ++i) {
        if (Broken() || i > kMaxRecords) {
            if (m_nError != -7) m_nError = kNoData;
            return 0;
        }
        if (what == 0) {
            char text[32];
            std::snprintf(text, sizeof text, "DEPT - %i", i);
            Notify(ECR_EVENT_ITEM, text, Percent(i, 42), 0);
        } else if (what == 2) {
            char text[48];
            std::snprintf(text, sizeof text, "Jednostka miary - %i", i);
            Notify(ECR_EVENT_ITEM, text, Percent(i, 99), 0);
        }
        if (what == 2) {
            int32_t index = 0;
            std::string name;
            ok = Ok(id::kFetchUnit, {Variant::ByRef(&index), Variant::ByRef(&name)}) && Ok(id::kNext);
            if (!ok) break;
            Ps3000Unit u{};
            u.index = static_cast<uint32_t>(index + 1);
            CopyTextField(u.name, name);
            reinterpret_cast<UnitSink>(sink)(ctx, u);
        } else {
            ok = Ok(id::kFetchRecord, {Variant::Object(o)}) && Ok(id::kNext);
            if (!ok) break;
            if (what == 0) {
                Ps3000Dept d;
                ReadDeptObject(*o, d);
                reinterpret_cast<DeptSink>(sink)(ctx, d);
            } else {
                Ps3000Plu p;
                ReadPluObject(*o, p);
                Notify(ECR_EVENT_ITEM, p.name, std::min(i, 6000) * 100 / 6000, 0);
                reinterpret_cast<PluSink>(sink)(ctx, p);
            }
        }
        if (m_control->Get(id::kEndOfData).AsBool()) return 1;
    }
    ReadNativeError();
    return 0;
}

int CPs3000::ReadAllDepts(DeptSink sink, void* ctx) {
    return ReadRecords(id::kKindDepts, 0, reinterpret_cast<void*>(sink), ctx);
}
int CPs3000::ReadAllPlus(PluSink sink, void* ctx) {
    return ReadRecords(id::kKindGoods, 1, reinterpret_cast<void*>(sink), ctx);
}
int CPs3000::ReadAllUnits(UnitSink sink, void* ctx) {
    return ReadRecords(id::kKindUnits, 2, reinterpret_cast<void*>(sink), ctx);
}

int CPs3000::ReadPlu(Ps3000Plu& rec) {
    if (!Begin()) return 0;
    DispatchRef o = NewObject(id::kClassPlu);
    if (!o) return 0;
    std::string code(rec.code, strnlen(rec.code, sizeof rec.code));
    bool ok = Ok(id::kReady) && Ok(id::kBeginRead, {Variant::I4(id::kKindGoods), Variant::Text(code), Variant::Text(code),
                                                    Variant::I4(1), Variant::I4(0)});
    if (ok && Broken()) return 0;
    ok = ok && Ok(id::kFetchRecord, {Variant::Object(o)});
    if (!ok) {
        ReadNativeError();
        return 0;
    }
    ReadPluObject(*o, rec);
    Ok(id::kNext);
    return 1;
}

int CPs3000::ReadSales(int kind, int mode, SaleSink sink, void* ctx) {
    if (!Begin()) return 0;
    DispatchRef o = NewObject(id::kClassSale);
    if (!o) return 0;
    bool ok = Ok(id::kReady) && Ok(id::kBeginRead, {Variant::I4(kind), Variant::Int(0), Variant::Int(0), Variant::I4(0),
                                                    Variant::I4(mode)});
    for (int i = 1; ok; ++i) {
        if (Broken()) return 0;
        ok = Ok(id::kFetchSale, {Variant::Object(o)}) && Ok(id::kNext);
        if (!ok) break;
        Ps3000Sale s;
        ReadSaleObject(*o, s, kind == id::kKindSales);
        Notify(ECR_EVENT_ITEM, s.name, std::min(i, 6000) * 100 / 6000, 0);
        sink(ctx, s);
        if (m_control->Get(id::kEndOfData).AsBool()) return 1;
        if (i >= kMaxRecords) {
            m_nError = kNoData;
            return 0;
        }
    }
    ReadNativeError();
    return 0;
}

int CPs3000::ReadPluSales(int mode, SaleSink sink, void* ctx) {
    if (mode == 0) Reconnect();
    return ReadSales(id::kKindSales, mode, sink, ctx);
}

int CPs3000::ReadPluSales2(int mode, SaleSink sink, void* ctx) { return ReadSales(id::kKindSales2, mode, sink, ctx); }

int CPs3000::ReadReceipts(SaleSink sink, void* ctx) {
    if (!Begin()) return 0;
    DispatchRef header = NewObject(id::kClassReceiptHeader);
    DispatchRef line = header ? NewObject(id::kClassReceiptLine) : DispatchRef();
    DispatchRef item = line ? NewObject(id::kClassReceiptItem) : DispatchRef();
    if (!item) return 0;
    int32_t lines = 0;
    bool ok = Ok(id::kReady) &&
              Ok(id::kBeginRead, {Variant::I4(id::kKindReceipts), Variant::Int(0), Variant::Int(0), Variant::I4(0),
                                  Variant::I4(0)}) &&
              Ok(id::kReceiptStep, {Variant::ByRef(&lines)}) && Ok(id::kFetchReceiptHeader, {Variant::Object(header)});
    if (!ok) {
        ReadNativeError();
        return 0;
    }
    std::string number = header->Get(id::kReceiptNumber).AsText();
    Notify(ECR_EVENT_ITEM, "Numer paragonu " + number, 0, 0);
    for (int l = 0; l < lines && l < kMaxRecords; ++l) {
        if (Broken()) return 0;
        if (!Ok(id::kFetchReceiptLine, {Variant::Object(line)}) || !Ok(id::kFetchReceiptItem, {Variant::Object(item)})) {
            ReadNativeError();
            return 0;
        }
        Ps3000Sale s;
        ReadSaleObject(*item, s, false);
        s.receipt = number;
        sink(ctx, s);
    }
    return 1;
}

bool CPs3000::FetchOne(DispatchRef& o, const char* classId, int kind, int fourth, int fetchId) {
    o = NewObject(classId);
    if (!o) return false;
    bool ok = Ok(id::kReady) &&
              Ok(id::kBeginRead, {Variant::I4(kind), Variant::Int(0), Variant::Int(0), Variant::I4(fourth),
                                  Variant::I4(0)}) &&
              Ok(fetchId, {Variant::Object(o)}) && Ok(id::kNext);
    if (!ok) ReadNativeError();
    return ok;
}

int CPs3000::ReadVatRates(double rates[8]) {
    for (int i = 0; i < 8; ++i) rates[i] = -3.0;
    rates[6] = -1.0;
    if (!Begin()) return 0;
    DispatchRef o;
    if (!FetchOne(o, id::kClassTaxRates, id::kKindRates, 2, id::kFetchRates)) return 0;
    int64_t count = std::min<int64_t>(o->Get(id::kRateCount).AsInt(), 8);
    for (int i = 0; i < count; ++i) {
        Variant v = o->Get(id::kRate, {Variant::I4(i)});
        int64_t raw = v.type == platform::VarType::Currency ? v.number : static_cast<int64_t>(v.AsDouble() * 10000.0);
        if (raw == 0) rates[i] = 0.0;
        else if (raw == 989900) rates[i] = -3.0;   // never programmed
        else if (raw == 999900) rates[i] = -1.0;   // exempt
        else rates[i] = static_cast<double>(raw) / 10000.0;
    }
    return 1;
}

int CPs3000::ReadVersion(std::string texts[4]) {
    for (int i = 0; i < 4; ++i) texts[i].clear();
    if (!Begin()) return 0;
    DispatchRef o;
    if (!FetchOne(o, id::kClassVersion, id::kKindVersion, 0, id::kFetchVersion)) return 0;
    texts[0] = o->Get(id::kVersionText1).AsText();
    texts[1] = o->Get(id::kVersionText2).AsText();
    texts[2] = o->Get(id::kVersionText3).AsText();
    texts[3] = o->Get(id::kVersionText4).AsText();
    return 1;
}

int CPs3000::ReadDeviceInfo(std::string texts[3]) {
    if (!Begin()) return 0;
    if (!Ok(id::kDeviceInfo)) {
        texts[0] = texts[1] = texts[2] = "?";
        return 1;
    }
    texts[0] = m_control->Get(id::kUniqueNumber).AsText();
    texts[1] = m_control->Get(id::kLibraryText).AsText();
    texts[2] = m_control->Get(id::kInfoText).AsText();
    return 1;
}

}  // namespace orv::novitus
