// Automation objects of the Windows build: objects created through COM by
// class id and called through IDispatch::Invoke behind the library's
// DispatchObject. A fake automation class is registered in this process
// (CoRegisterClassObject), so the system's own CoCreateInstance finds it;
// the fake records every call and answers what the test prepared.
#include <gtest/gtest.h>
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <atomic>
#include <string>
#include <vector>

#include "platform/control_host.h"
#include "platform/dispatch.h"

namespace {

using orv::platform::DispatchRef;
using orv::platform::InvokeKind;
using orv::platform::Variant;
using orv::platform::VarType;

// {6A3E51C0-2F0B-4C8E-9E1D-3B7A0C5D9F11}
const CLSID kFakeClass = {0x6a3e51c0, 0x2f0b, 0x4c8e, {0x9e, 0x1d, 0x3b, 0x7a, 0x0c, 0x5d, 0x9f, 0x11}};
constexpr const char* kFakeClassText = "{6A3E51C0-2F0B-4C8E-9E1D-3B7A0C5D9F11}";

constexpr DISPID kFail = 90;        // answers with an exception
constexpr DISPID kByRef = 91;       // writes 42 and "zażółć" through its references
constexpr DISPID kNewObject = 92;   // answers a new object
constexpr DISPID kIsSelf = 93;      // TRUE when its argument is this object

class FakeDispatch : public IDispatch {
public:
    // The latest call.
    DISPID dispid = 0;
    WORD flags = 0;
    std::vector<VARIANT> args;   // in the caller's order
    std::vector<DISPID> named;
    VARIANT reply;               // what the next call answers

    FakeDispatch() { ::VariantInit(&reply); }
    virtual ~FakeDispatch() {
        Forget();
        ::VariantClear(&reply);
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IDispatch) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG n = --m_refs;
        if (n == 0) delete this;
        return n;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
        *n = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD f, DISPPARAMS* p, VARIANT* result, EXCEPINFO* ex,
                                     UINT*) override {
        Forget();
        dispid = id;
        flags = f;
        for (UINT i = p->cArgs; i-- > 0;) {
            VARIANT copy;
            ::VariantInit(&copy);
            ::VariantCopy(&copy, &p->rgvarg[i]);
            args.push_back(copy);
        }
        named.assign(p->rgdispidNamedArgs, p->rgdispidNamedArgs + p->cNamedArgs);
        if (id == kFail) {
            ex->bstrSource = ::SysAllocString(L"fake");
            ex->bstrDescription = ::SysAllocString(L"refused");
            return DISP_E_EXCEPTION;
        }
        if (id == kByRef) {
            *p->rgvarg[1].plVal = 42;
            ::SysFreeString(*p->rgvarg[0].pbstrVal);
            *p->rgvarg[0].pbstrVal = ::SysAllocString(L"za\u017c\u00f3\u0142\u0107");
        }
        if (result) ::VariantInit(result);
        if (id == kNewObject && result) {
            result->vt = VT_DISPATCH;
            result->pdispVal = new FakeDispatch;
            return S_OK;
        }
        if (id == kIsSelf && result) {
            result->vt = VT_BOOL;
            result->boolVal = p->cArgs == 1 && p->rgvarg[0].vt == VT_DISPATCH && p->rgvarg[0].pdispVal == this
                                  ? VARIANT_TRUE
                                  : VARIANT_FALSE;
            return S_OK;
        }
        if (result) ::VariantCopy(result, &reply);
        return S_OK;
    }

private:
    void Forget() {
        for (VARIANT& v : args) ::VariantClear(&v);
        args.clear();
    }
    std::atomic<ULONG> m_refs{1};
};

// The same object as a control a container can host: the container asks
// for IOleObject, gives it a site and activates it; nothing more is needed.
class FakeControl : public FakeDispatch, public IOleObject {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IOleObject) {
            *out = static_cast<IOleObject*>(this);
            AddRef();
            return S_OK;
        }
        return FakeDispatch::QueryInterface(iid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return FakeDispatch::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return FakeDispatch::Release(); }

    HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* site) override {
        if (site) site->AddRef();
        if (m_site) m_site->Release();
        m_site = site;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite** site) override {
        *site = m_site;
        if (m_site) m_site->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Close(DWORD) override { return SetClientSite(nullptr); }
    HRESULT STDMETHODCALLTYPE SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD, IDataObject**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DoVerb(LONG, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Update() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE IsUpToDate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID* id) override {
        *id = kFakeClass;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetUserType(DWORD, LPOLESTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetExtent(DWORD, SIZEL*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD, SIZEL* size) override {
        size->cx = size->cy = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Advise(IAdviseSink*, DWORD* cookie) override {
        *cookie = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD, DWORD* status) override {
        *status = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

    ~FakeControl() override {
        if (m_site) m_site->Release();
    }

private:
    IOleClientSite* m_site = nullptr;
};

// Hands out one object, kept so that the test can look into it.
class FakeFactory : public IClassFactory {
public:
    FakeDispatch* last = nullptr;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (outer) return CLASS_E_NOAGGREGATION;
        auto* object = new FakeControl;
        const HRESULT hr = object->QueryInterface(iid, out);
        if (SUCCEEDED(hr)) last = object;
        object->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

class Win32Automation : public ::testing::Test {
protected:
    void SetUp() override {
        orv::platform::InitializeDispatchForThread();
        ASSERT_HRESULT_SUCCEEDED(::CoRegisterClassObject(kFakeClass, &factory, CLSCTX_INPROC_SERVER,
                                                         REGCLS_MULTIPLEUSE, &cookie));
    }
    void TearDown() override { ::CoRevokeClassObject(cookie); }

    DispatchRef Create() {
        DispatchRef o = orv::platform::CreateAutomationObject(kFakeClassText);
        fake = factory.last;
        return o;
    }

    FakeFactory factory;
    FakeDispatch* fake = nullptr;
    DWORD cookie = 0;
};

TEST_F(Win32Automation, CreatesObjectsOfRegisteredClassesOnly) {
    EXPECT_TRUE(Create());
    EXPECT_FALSE(orv::platform::CreateAutomationObject("{00000000-1111-2222-3333-444455556666}"));
    EXPECT_FALSE(orv::platform::CreateAutomationObject("not a class"));
    EXPECT_FALSE(orv::platform::CreateAutomationObject(""));
}

TEST_F(Win32Automation, MethodArgumentsArriveInOrderWithTheirTypes) {
    DispatchRef o = Create();
    ASSERT_TRUE(o);
    DispatchRef other = orv::platform::CreateAutomationObject(kFakeClassText);
    FakeDispatch* otherFake = factory.last;
    fake->reply.vt = VT_BOOL;
    fake->reply.boolVal = VARIANT_TRUE;
    const Variant r = o->Call(31, {Variant::I4(-5), Variant::Int(7), Variant::Bool(true), Variant::Text("\xBF\xF3\xB3w"),
                                   Variant::Double(2.5), Variant::Currency(123400), Variant::Object(other), Variant()});
    EXPECT_EQ(r.type, VarType::Bool);
    EXPECT_TRUE(r.AsBool());
    EXPECT_EQ(fake->dispid, 31);
    EXPECT_EQ(fake->flags, DISPATCH_METHOD);
    ASSERT_EQ(fake->args.size(), 8u);
    EXPECT_EQ(fake->args[0].vt, VT_I4);
    EXPECT_EQ(fake->args[0].lVal, -5);
    EXPECT_EQ(fake->args[1].vt, VT_INT);
    EXPECT_EQ(fake->args[1].intVal, 7);
    EXPECT_EQ(fake->args[2].vt, VT_BOOL);
    EXPECT_EQ(fake->args[2].boolVal, VARIANT_TRUE);
    EXPECT_EQ(fake->args[3].vt, VT_BSTR);
    EXPECT_EQ(std::wstring(fake->args[3].bstrVal), L"\u017c\u00f3\u0142w");   // CP1250 text as UTF-16
    EXPECT_EQ(fake->args[4].vt, VT_R8);
    EXPECT_EQ(fake->args[4].dblVal, 2.5);
    EXPECT_EQ(fake->args[5].vt, VT_CY);
    EXPECT_EQ(fake->args[5].cyVal.int64, 123400);
    EXPECT_EQ(fake->args[6].vt, VT_DISPATCH);
    EXPECT_EQ(fake->args[6].pdispVal, static_cast<IDispatch*>(otherFake));
    EXPECT_EQ(fake->args[7].vt, VT_EMPTY);
    EXPECT_TRUE(fake->named.empty());
}

TEST_F(Win32Automation, PropertyPutsAndIndexedGets) {
    DispatchRef o = Create();
    ASSERT_TRUE(o);
    EXPECT_TRUE(o->Put(30, Variant::Text("")));
    EXPECT_EQ(fake->flags, DISPATCH_PROPERTYPUT);
    ASSERT_EQ(fake->named.size(), 1u);
    EXPECT_EQ(fake->named[0], DISPID_PROPERTYPUT);
    ASSERT_EQ(fake->args.size(), 1u);
    EXPECT_EQ(fake->args[0].vt, VT_BSTR);
    EXPECT_EQ(::SysStringLen(fake->args[0].bstrVal), 0u);

    fake->reply.vt = VT_CY;
    fake->reply.cyVal.int64 = 230000;
    const Variant rate = o->Get(2, {Variant::I4(3)});
    EXPECT_EQ(fake->flags, DISPATCH_PROPERTYGET);
    ASSERT_EQ(fake->args.size(), 1u);
    EXPECT_EQ(fake->args[0].lVal, 3);
    EXPECT_EQ(rate.type, VarType::Currency);
    EXPECT_EQ(rate.AsInt(), 230000);
    EXPECT_DOUBLE_EQ(rate.AsDouble(), 23.0);
}

TEST_F(Win32Automation, AnswersOfEveryKindAreConverted) {
    DispatchRef o = Create();
    ASSERT_TRUE(o);
    struct Case {
        VARTYPE vt;
        void (*set)(VARIANT&);
        VarType type;
        double value;
    };
    const Case cases[] = {
        {VT_I2, [](VARIANT& v) { v.iVal = -3; }, VarType::I4, -3},
        {VT_UI1, [](VARIANT& v) { v.bVal = 200; }, VarType::I4, 200},
        {VT_I4, [](VARIANT& v) { v.lVal = 64; }, VarType::I4, 64},
        {VT_INT, [](VARIANT& v) { v.intVal = 22; }, VarType::Int, 22},
        {VT_BOOL, [](VARIANT& v) { v.boolVal = VARIANT_FALSE; }, VarType::Bool, 0},
        {VT_R4, [](VARIANT& v) { v.fltVal = 1.5f; }, VarType::Double, 1.5},
        {VT_R8, [](VARIANT& v) { v.dblVal = 12.345; }, VarType::Double, 12.345},
        {VT_EMPTY, [](VARIANT&) {}, VarType::Empty, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.vt);
        ::VariantClear(&fake->reply);
        fake->reply.vt = c.vt;
        c.set(fake->reply);
        const Variant r = o->Get(5);
        EXPECT_EQ(r.type, c.type);
        EXPECT_DOUBLE_EQ(r.AsDouble(), c.value);
    }
    ::VariantClear(&fake->reply);
    fake->reply.vt = VT_BSTR;
    fake->reply.bstrVal = ::SysAllocString(L"\u0104\u0119 A");
    EXPECT_EQ(o->Get(6).AsText(), "\xA5\xEA A");   // UTF-16 answer as CP1250
}

TEST_F(Win32Automation, ReferencesCarryTheCalleesValuesBack) {
    DispatchRef o = Create();
    ASSERT_TRUE(o);
    int32_t index = 7;
    std::string name = "old";
    std::vector<Variant> args = {Variant::ByRef(&index), Variant::ByRef(&name)};
    Variant r;
    ASSERT_TRUE(o->Invoke(kByRef, InvokeKind::Method, args, &r));
    EXPECT_EQ(fake->args[0].vt, VT_BYREF | VT_I4);
    EXPECT_EQ(fake->args[1].vt, VT_BYREF | VT_BSTR);
    EXPECT_EQ(index, 42);
    EXPECT_EQ(name, "za\xBF\xF3\xB3\xE6");
}

TEST_F(Win32Automation, ReturnedObjectsAreObjectsOfTheirOwn) {
    DispatchRef o = Create();
    ASSERT_TRUE(o);
    const Variant child = o->Call(kNewObject);
    ASSERT_EQ(child.type, VarType::Object);
    ASSERT_TRUE(child.object);
    EXPECT_TRUE(child.object->Call(kIsSelf, {Variant::Object(child.object)}).AsBool());
    EXPECT_FALSE(child.object->Call(kIsSelf, {Variant::Object(o)}).AsBool());
}

TEST_F(Win32Automation, AFailedCallIsReportedAsFailed) {
    DispatchRef o = Create();
    ASSERT_TRUE(o);
    std::vector<Variant> args;
    Variant r = Variant::I4(9);
    EXPECT_FALSE(o->Invoke(kFail, InvokeKind::Method, args, &r));
    EXPECT_EQ(o->Call(kFail).type, VarType::Empty);
    // A put needs its value.
    std::vector<Variant> none;
    EXPECT_FALSE(o->Invoke(30, InvokeKind::Put, none, nullptr));

    // An object of the library's own cannot be handed to the system's.
    class Own : public orv::platform::DispatchObject {
    public:
        bool Invoke(int, InvokeKind, std::vector<Variant>&, Variant*) override { return true; }
    };
    std::vector<Variant> own = {Variant::Object(orv::platform::MakeDispatch<Own>())};
    EXPECT_FALSE(o->Invoke(37, InvokeKind::Method, own, &r));
}

TEST_F(Win32Automation, EveryThreadIsPreparedOnce) {
    bool first = true;
    bool second = true;
    std::thread t([&] {
        first = orv::platform::InitializeDispatchForThread();
        second = orv::platform::InitializeDispatchForThread();
    });
    t.join();
    EXPECT_TRUE(first);
    EXPECT_FALSE(second);
    EXPECT_FALSE(orv::platform::InitializeDispatchForThread());   // this thread: in SetUp
}

// The control host: the system's container window creates the control of
// the class id as a child of the host's window and calls it.
TEST_F(Win32Automation, AControlIsHostedUnderTheHostsWindowAndRefusesCallsOnceDestroyed) {
    HWND host = ::CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW, 0, 0, 200, 200, nullptr, nullptr,
                                  ::GetModuleHandleW(nullptr), nullptr);
    if (!host) GTEST_SKIP() << "no window can be made here";
    orv::platform::ControlWindow window;
    ASSERT_TRUE(window.Create(kFakeClassText, host, 2002));
    fake = factory.last;
    ASSERT_NE(fake, nullptr);
    HWND child = ::GetDlgItem(host, 2002);
    EXPECT_NE(child, nullptr);
    EXPECT_TRUE(window.PutProperty(30, "COM1"));
    EXPECT_EQ(fake->dispid, 30);
    EXPECT_EQ(fake->flags, DISPATCH_PROPERTYPUT);

    DispatchRef held = window.Control();
    window.Destroy();
    EXPECT_FALSE(window.IsCreated());
    EXPECT_FALSE(::IsWindow(child));
    EXPECT_EQ(held->Call(2).type, VarType::Empty);
    std::vector<Variant> args;
    EXPECT_FALSE(held->Invoke(2, InvokeKind::Method, args, nullptr));
    held.reset();
    ::DestroyWindow(host);

    EXPECT_FALSE(window.Create("{00000000-1111-2222-3333-444455556666}", host, 2002));
}

}  // namespace
