// Automation objects and hosted controls on Windows: objects are created
// through COM by class id and called through their IDispatch
// (win32/com_object.h); each thread that calls them joins COM first.
//
// Outside window controls are hosted by the system's ActiveX container window
// ("AtlAxWin" of atl.dll, which every Windows and Wine ship): the container
// creates the control of the class id given as its window text, gives it a
// site and in-place activates it; the control is then called through its
// IDispatch (Win32).
//
// The control lives in the apartment of the thread that created it and its
// window belongs to that thread. A thread cannot destroy another's window,
// so a control destroyed from elsewhere has its window closed by a message
// its own thread handles (or by the system when that thread ends); calls are
// refused from the moment it is destroyed either way.
#include "platform/control_host.h"
#include "platform/dispatch.h"

#include <windows.h>
#include <oaidl.h>

#include <atomic>
#include <mutex>

#include "platform/call_convention.h"
#include "platform/win32/com_object.h"
#include "platform/win32/win32_text.h"

namespace orv::platform {

namespace {

using AxWinInitFn = BOOL(WINAPI*)();
using AxGetControlFn = HRESULT(WINAPI*)(HWND, IUnknown**);
static_assert(kCalleeCleans<AxWinInitFn> && kCalleeCleans<AxGetControlFn>,
              "the control host's entry points are called callee-cleans");

struct AxLibrary {
    AxWinInitFn init = nullptr;
    AxGetControlFn getControl = nullptr;
    bool ready = false;
};

// atl.dll from the system directory only (never one planted beside the
// host), loaded once and kept.
const AxLibrary& Ax() {
    static const AxLibrary lib = [] {
        AxLibrary l;
        wchar_t dir[MAX_PATH];
        const UINT len = ::GetSystemDirectoryW(dir, MAX_PATH);
        if (len == 0 || len >= MAX_PATH) return l;
        const std::wstring path = std::wstring(dir, len) + L"\\atl.dll";
        HMODULE m = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (!m) return l;
        l.init = reinterpret_cast<AxWinInitFn>(reinterpret_cast<void*>(::GetProcAddress(m, "AtlAxWinInit")));
        l.getControl =
            reinterpret_cast<AxGetControlFn>(reinterpret_cast<void*>(::GetProcAddress(m, "AtlAxGetControl")));
        l.ready = l.init && l.getControl && l.init();
        return l;
    }();
    return lib;
}

HINSTANCE ThisModule() {
    HMODULE m = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&ThisModule), &m);
    return m;
}

class AxHostedControl : public HostedControl {
public:
    AxHostedControl(HWND window, DispatchRef control) : m_window(window), m_control(std::move(control)) {}
    ~AxHostedControl() override { CloseWindow(); }
    AxHostedControl(const AxHostedControl&) = delete;
    AxHostedControl& operator=(const AxHostedControl&) = delete;

    bool Invoke(int dispid, InvokeKind kind, std::vector<Variant>& args, Variant* result) override {
        if (m_destroyed.load(std::memory_order_acquire)) return false;
        return m_control->Invoke(dispid, kind, args, result);
    }

    void WindowDestroyed() override {
        m_destroyed.store(true, std::memory_order_release);
        CloseWindow();
    }

private:
    void CloseWindow() {
        HWND w = m_window.exchange(nullptr);
        if (!w || !::IsWindow(w)) return;
        if (::GetWindowThreadProcessId(w, nullptr) == ::GetCurrentThreadId()) {
            ::DestroyWindow(w);
        } else {
            ::PostMessageW(w, WM_CLOSE, 0, 0);
        }
    }

    std::atomic<HWND> m_window;
    DispatchRef m_control;
    std::atomic<bool> m_destroyed{false};
};

class AxControlFactory : public ControlFactory {
public:
    DispatchRef Create(const std::string& classId, EcrWindow parent, int childId) override {
        win32::InitializeComForThread();
        const AxLibrary& ax = Ax();
        if (!ax.ready) return DispatchRef();
        CLSID clsid;
        if (!win32::ParseClassId(classId, clsid)) return DispatchRef();
        const std::wstring text = win32::Widen(classId);
        HWND owner = static_cast<HWND>(parent);
        if (owner && !::IsWindow(owner)) owner = nullptr;
        // A child of the host's window; without one, a hidden window of
        // its own.
        const DWORD style = owner ? WS_CHILD : WS_POPUP;
        HMENU id = owner ? reinterpret_cast<HMENU>(static_cast<INT_PTR>(childId)) : nullptr;
        HWND w = ::CreateWindowExW(0, L"AtlAxWin", text.c_str(), style, 0, 0, 0, 0, owner, id, ThisModule(), nullptr);
        if (!w) return DispatchRef();
        IUnknown* unknown = nullptr;
        IDispatch* dispatch = nullptr;
        if (SUCCEEDED(ax.getControl(w, &unknown)) && unknown) {
            unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
            unknown->Release();
        }
        if (!dispatch) {
            ::DestroyWindow(w);
            return DispatchRef();
        }
        DispatchRef control = win32::WrapDispatch(dispatch);
        dispatch->Release();
        return MakeDispatch<AxHostedControl>(w, std::move(control));
    }
};

class ComAutomation : public AutomationFactory {
public:
    DispatchRef Create(const std::string& classId) override { return win32::CreateComObject(classId); }
};

}  // namespace

AutomationFactory& SystemAutomationFactory() {
    static ComAutomation factory;
    return factory;
}

bool InitializeDispatchForThread() { return win32::InitializeComForThread(); }

ControlFactory& SystemControlFactory() {
    static AxControlFactory factory;
    return factory;
}

}  // namespace orv::platform
