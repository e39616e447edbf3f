#include "platform/win32/com_object.h"

#include <objbase.h>
#include <oleauto.h>

#include <vector>

#include "platform/win32/win32_text.h"

namespace orv::platform::win32 {

namespace {

class ComObject : public DispatchObject {
public:
    explicit ComObject(IDispatch* d) : m_d(d) { m_d->AddRef(); }
    ~ComObject() override { m_d->Release(); }
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    IDispatch* dispatch() const { return m_d; }

    bool Invoke(int dispid, InvokeKind kind, std::vector<Variant>& args, Variant* result) override;

private:
    IDispatch* m_d;
};

// Automation text is UTF-16; the library's device texts are CP1250.
constexpr UINT kCp1250 = 1250;

BSTR MakeBstr(const std::string& cp1250) {
    if (cp1250.empty()) return ::SysAllocStringLen(L"", 0);
    const int in = static_cast<int>(cp1250.size());
    const int n = ::MultiByteToWideChar(kCp1250, 0, cp1250.data(), in, nullptr, 0);
    if (n <= 0) return nullptr;
    BSTR b = ::SysAllocStringLen(nullptr, static_cast<UINT>(n));
    if (b) ::MultiByteToWideChar(kCp1250, 0, cp1250.data(), in, b, n);
    return b;
}

std::string TextOf(BSTR b) {
    const UINT len = b ? ::SysStringLen(b) : 0;
    if (len == 0) return std::string();
    const int n = ::WideCharToMultiByte(kCp1250, 0, b, static_cast<int>(len), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(kCp1250, 0, b, static_cast<int>(len), out.data(), n, nullptr, nullptr);
    return out;
}

// The argument's VARIANT; by-reference arguments point into `refs`.
struct RefSlots {
    std::vector<LONG> i4;
    std::vector<BSTR> text;
};

bool ToVariant(const Variant& v, VARIANT& out, RefSlots& refs, size_t index) {
    ::VariantInit(&out);
    switch (v.type) {
    case VarType::Empty: return true;
    case VarType::I4:
        out.vt = VT_I4;
        out.lVal = static_cast<LONG>(v.number);
        return true;
    case VarType::Int:
        out.vt = VT_INT;
        out.intVal = static_cast<INT>(v.number);
        return true;
    case VarType::Bool:
        out.vt = VT_BOOL;
        out.boolVal = v.number ? VARIANT_TRUE : VARIANT_FALSE;
        return true;
    case VarType::Text:
        out.vt = VT_BSTR;
        out.bstrVal = MakeBstr(v.text);
        return out.bstrVal != nullptr;
    case VarType::Double:
        out.vt = VT_R8;
        out.dblVal = v.real;
        return true;
    case VarType::Currency:
        out.vt = VT_CY;
        out.cyVal.int64 = v.number;
        return true;
    case VarType::Object: {
        IDispatch* d = nullptr;
        if (v.object) {
            d = DispatchOf(v.object.get());
            if (!d) return false;   // not an object the system can take
            d->AddRef();
        }
        out.vt = VT_DISPATCH;
        out.pdispVal = d;
        return true;
    }
    case VarType::RefI4:
        if (!v.refI4) return false;
        refs.i4[index] = *v.refI4;
        out.vt = VT_BYREF | VT_I4;
        out.plVal = &refs.i4[index];
        return true;
    case VarType::RefText:
        if (!v.refText) return false;
        refs.text[index] = MakeBstr(*v.refText);
        if (!refs.text[index]) return false;
        out.vt = VT_BYREF | VT_BSTR;
        out.pbstrVal = &refs.text[index];
        return true;
    }
    return false;
}

Variant FromVariant(VARIANT& in) {
    VARIANT v;
    ::VariantInit(&v);
    if (FAILED(::VariantCopyInd(&v, &in))) return Variant();
    Variant r;
    switch (v.vt) {
    case VT_I1: r = Variant::I4(v.cVal); break;
    case VT_I2: r = Variant::I4(v.iVal); break;
    case VT_I4: r = Variant::I4(v.lVal); break;
    case VT_UI1: r = Variant::I4(v.bVal); break;
    case VT_UI2: r = Variant::I4(v.uiVal); break;
    case VT_UI4: r = Variant::I4(static_cast<int32_t>(v.ulVal)); break;
    case VT_ERROR: r = Variant::I4(v.scode); break;
    case VT_INT: r = Variant::Int(v.intVal); break;
    case VT_UINT: r = Variant::Int(static_cast<int32_t>(v.uintVal)); break;
    case VT_BOOL: r = Variant::Bool(v.boolVal != VARIANT_FALSE); break;
    case VT_BSTR: r = Variant::Text(TextOf(v.bstrVal)); break;
    case VT_R4: r = Variant::Double(v.fltVal); break;
    case VT_R8: r = Variant::Double(v.dblVal); break;
    case VT_DATE: r = Variant::Double(v.date); break;
    case VT_CY: r = Variant::Currency(v.cyVal.int64); break;
    case VT_DISPATCH: r = Variant::Object(WrapDispatch(v.pdispVal)); break;
    case VT_UNKNOWN: {
        IDispatch* d = nullptr;
        if (v.punkVal && SUCCEEDED(v.punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d)))) {
            r = Variant::Object(WrapDispatch(d));
            d->Release();
        } else {
            r = Variant::Object(DispatchRef());
        }
        break;
    }
    case VT_EMPTY: case VT_NULL: break;
    default: {
        // 64-bit integers, decimals and the like: as a double, else nothing.
        VARIANT d;
        ::VariantInit(&d);
        if (SUCCEEDED(::VariantChangeType(&d, &v, 0, VT_R8))) r = Variant::Double(d.dblVal);
        ::VariantClear(&d);
        break;
    }
    }
    ::VariantClear(&v);
    return r;
}

bool ComObject::Invoke(int dispid, InvokeKind kind, std::vector<Variant>& args, Variant* result) {
    if (kind == InvokeKind::Put && args.empty()) return false;
    const size_t n = args.size();
    std::vector<VARIANT> vars(n);
    RefSlots refs;
    refs.i4.assign(n, 0);
    refs.text.assign(n, nullptr);
    bool ok = true;
    // Arguments go in last first; the vector starts them all empty
    // (VT_EMPTY is 0), so those after a failed one stay so.
    for (size_t i = 0; ok && i < n; ++i) ok = ToVariant(args[i], vars[n - 1 - i], refs, i);

    DISPPARAMS params{};
    params.cArgs = static_cast<UINT>(n);
    params.rgvarg = n ? vars.data() : nullptr;
    DISPID named = DISPID_PROPERTYPUT;
    WORD flags = DISPATCH_METHOD;
    if (kind == InvokeKind::Get) flags = DISPATCH_PROPERTYGET;
    if (kind == InvokeKind::Put) {
        flags = DISPATCH_PROPERTYPUT;
        params.cNamedArgs = 1;
        params.rgdispidNamedArgs = &named;
    }
    VARIANT ret;
    ::VariantInit(&ret);
    EXCEPINFO excep{};
    UINT badArg = 0;
    if (ok) {
        const HRESULT hr = m_d->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                                       kind == InvokeKind::Put ? nullptr : &ret, &excep, &badArg);
        if (hr == DISP_E_EXCEPTION) {
            ::SysFreeString(excep.bstrSource);
            ::SysFreeString(excep.bstrDescription);
            ::SysFreeString(excep.bstrHelpFile);
        }
        ok = SUCCEEDED(hr);
    }
    if (ok) {
        // What the callee wrote through the references.
        for (size_t i = 0; i < n; ++i) {
            if (args[i].type == VarType::RefI4) *args[i].refI4 = refs.i4[i];
            if (args[i].type == VarType::RefText) *args[i].refText = TextOf(refs.text[i]);
        }
        if (result) *result = FromVariant(ret);
    }
    for (BSTR b : refs.text) ::SysFreeString(b);
    for (VARIANT& v : vars) ::VariantClear(&v);
    ::VariantClear(&ret);
    return ok;
}

thread_local bool t_comReady = false;

}  // namespace

DispatchRef WrapDispatch(IDispatch* object) {
    if (!object) return DispatchRef();
    return MakeDispatch<ComObject>(object);
}

IDispatch* DispatchOf(DispatchObject* object) {
    auto* com = dynamic_cast<ComObject*>(object);
    return com ? com->dispatch() : nullptr;
}

bool ParseClassId(const std::string& classId, CLSID& out) {
    const std::wstring w = Widen(classId);
    if (w.empty()) return false;
    if (w[0] == L'{') return SUCCEEDED(::CLSIDFromString(w.c_str(), &out));
    return SUCCEEDED(::CLSIDFromProgID(w.c_str(), &out));
}

DispatchRef CreateComObject(const std::string& classId) {
    InitializeComForThread();
    CLSID clsid;
    if (!ParseClassId(classId, clsid)) return DispatchRef();
    IDispatch* d = nullptr;
    if (FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                                  reinterpret_cast<void**>(&d))) ||
        !d)
        return DispatchRef();
    DispatchRef r = WrapDispatch(d);
    d->Release();
    return r;
}

bool InitializeComForThread() {
    if (t_comReady) return false;
    t_comReady = true;
    // An apartment the thread already has (a host's thread in the
    // multithreaded one, say) serves as it is.
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    return true;
}

}  // namespace orv::platform::win32
