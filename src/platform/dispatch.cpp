#include "platform/dispatch.h"

#include <cstdio>

namespace orv::platform {

DispatchRef::DispatchRef(const DispatchRef& o) : m_p(o.m_p) {
    if (m_p) m_p->AddRef();
}

DispatchRef::~DispatchRef() {
    if (m_p) m_p->Release();
}

int64_t Variant::AsInt() const {
    switch (type) {
    case VarType::I4: case VarType::Int: case VarType::Bool: case VarType::Currency: return number;
    case VarType::RefI4: return refI4 ? *refI4 : 0;
    default: return 0;
    }
}

double Variant::AsDouble() const {
    if (type == VarType::Double) return real;
    if (type == VarType::Currency) return static_cast<double>(number) / 10000.0;
    return static_cast<double>(AsInt());
}

std::string Variant::AsText() const {
    if (type == VarType::Text) return text;
    if (type == VarType::RefText) return refText ? *refText : std::string();
    return std::string();
}

std::string Variant::Describe() const {
    char buf[64];
    switch (type) {
    case VarType::Empty: return "EMPTY";
    case VarType::I4: return "I4 " + std::to_string(number);
    case VarType::Int: return "INT " + std::to_string(number);
    case VarType::Bool: return number ? "BOOL TRUE" : "BOOL FALSE";
    case VarType::Text: return "TEXT \"" + text + "\"";
    case VarType::Double:
        std::snprintf(buf, sizeof buf, "R8 %.17g", real);
        return buf;
    case VarType::Currency: return "CY " + std::to_string(number);
    case VarType::Object: return object ? "OBJECT" : "OBJECT null";
    case VarType::RefI4: return "REF I4";
    case VarType::RefText: return "REF TEXT";
    }
    return "?";
}

Variant DispatchObject::Call(int dispid, std::vector<Variant> args) {
    Variant r;
    if (!Invoke(dispid, InvokeKind::Method, args, &r)) return Variant();
    return r;
}

Variant DispatchObject::Get(int dispid, std::vector<Variant> args) {
    Variant r;
    if (!Invoke(dispid, InvokeKind::Get, args, &r)) return Variant();
    return r;
}

bool DispatchObject::Put(int dispid, Variant value) {
    std::vector<Variant> args;
    args.push_back(std::move(value));
    return Invoke(dispid, InvokeKind::Put, args, nullptr);
}

namespace {
std::atomic<AutomationFactory*> g_factory{nullptr};
}  // namespace

void SetAutomationFactory(AutomationFactory* factory) { g_factory.store(factory, std::memory_order_release); }

DispatchRef CreateAutomationObject(const std::string& classId) {
    AutomationFactory* f = g_factory.load(std::memory_order_acquire);
    return (f ? *f : SystemAutomationFactory()).Create(classId);
}

}  // namespace orv::platform
