// Automation objects: values of the automation kind (Variant), objects that
// take every call through one Invoke by dispatch id, a factory that creates
// objects by class id, and reference counting. No automation server exists
// on this platform, so the default factory creates nothing; tests install
// their own. A backend of the system's own objects can be put behind the
// same interface later without touching the callers.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace orv::platform {

class DispatchObject;

// An owning reference: copies add a reference, destruction releases one.
class DispatchRef {
public:
    DispatchRef() = default;
    explicit DispatchRef(DispatchObject* adopted) : m_p(adopted) {}   // takes over one reference
    DispatchRef(const DispatchRef& o);
    DispatchRef(DispatchRef&& o) noexcept : m_p(std::exchange(o.m_p, nullptr)) {}
    DispatchRef& operator=(DispatchRef o) noexcept {
        std::swap(m_p, o.m_p);
        return *this;
    }
    ~DispatchRef();
    DispatchObject* get() const { return m_p; }
    DispatchObject* operator->() const { return m_p; }
    DispatchObject& operator*() const { return *m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    void reset() { DispatchRef().swap(*this); }
    void swap(DispatchRef& o) noexcept { std::swap(m_p, o.m_p); }

private:
    DispatchObject* m_p = nullptr;
};

// Creates an object of T with one reference held by the result.
template <class T, class... A>
DispatchRef MakeDispatch(A&&... args) {
    return DispatchRef(new T(std::forward<A>(args)...));
}

enum class VarType {
    Empty,
    I4,        // 32-bit integer
    Int,       // machine integer (a type of its own, 22)
    Bool,
    Text,      // CP1250 text
    Double,
    Currency,  // int64 in units of 1/10000
    Object,
    RefI4,     // by reference: the callee writes through the pointer
    RefText
};

struct Variant {
    VarType type = VarType::Empty;
    int64_t number = 0;   // I4, Int, Bool (0 / 1), Currency
    double real = 0.0;
    std::string text;
    DispatchRef object;
    int32_t* refI4 = nullptr;
    std::string* refText = nullptr;

    static Variant I4(int32_t v) { return Make(VarType::I4, v); }
    static Variant Int(int32_t v) { return Make(VarType::Int, v); }
    static Variant Bool(bool v) { return Make(VarType::Bool, v ? 1 : 0); }
    static Variant Currency(int64_t v) { return Make(VarType::Currency, v); }
    static Variant Text(std::string v) {
        Variant r;
        r.type = VarType::Text;
        r.text = std::move(v);
        return r;
    }
    static Variant Double(double v) {
        Variant r;
        r.type = VarType::Double;
        r.real = v;
        return r;
    }
    static Variant Object(DispatchRef o) {
        Variant r;
        r.type = VarType::Object;
        r.object = std::move(o);
        return r;
    }
    static Variant ByRef(int32_t* p) {
        Variant r;
        r.type = VarType::RefI4;
        r.refI4 = p;
        return r;
    }
    static Variant ByRef(std::string* p) {
        Variant r;
        r.type = VarType::RefText;
        r.refText = p;
        return r;
    }

    // Conversions as the callers need them (0 / empty for other types).
    int64_t AsInt() const;
    double AsDouble() const;
    bool AsBool() const { return AsInt() != 0; }
    std::string AsText() const;
    // "I4 5", "TEXT \"ab\"", ... for logs and test messages.
    std::string Describe() const;

private:
    static Variant Make(VarType t, int64_t v) {
        Variant r;
        r.type = t;
        r.number = v;
        return r;
    }
};

enum class InvokeKind { Method, Get, Put };

// An object whose members are reached by dispatch id. Gets may take
// arguments (an indexed property); a put takes the value as its last
// argument. Invoke returns false when the call itself failed (no such
// member, wrong arguments, object gone).
class DispatchObject {
public:
    virtual ~DispatchObject() = default;
    virtual bool Invoke(int dispid, InvokeKind kind, std::vector<Variant>& args, Variant* result) = 0;

    void AddRef() { m_refs.fetch_add(1, std::memory_order_relaxed); }
    void Release() {
        if (m_refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
    }

    // Conveniences over Invoke.
    Variant Call(int dispid, std::vector<Variant> args = {});
    Variant Get(int dispid, std::vector<Variant> args = {});
    bool Put(int dispid, Variant value);

protected:
    DispatchObject() = default;

private:
    std::atomic<int> m_refs{1};
};

class AutomationFactory {
public:
    virtual ~AutomationFactory() = default;
    // An object of the class id, or null when none can be created.
    virtual DispatchRef Create(const std::string& classId) = 0;
};

// Installs the factory used from now on; null restores the default, the
// system's own (none available on POSIX systems). The factory must outlive
// its use.
void SetAutomationFactory(AutomationFactory* factory);
AutomationFactory& SystemAutomationFactory();
DispatchRef CreateAutomationObject(const std::string& classId);

// Prepares the calling thread for automation calls; true the first time on
// a thread. Nothing needs preparing on POSIX systems.
bool InitializeDispatchForThread();

}  // namespace orv::platform
