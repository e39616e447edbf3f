#include "fakes/fake_fiscal_control.h"

#include <functional>

#include "drivers/novitus/ps3000_ids.h"

namespace orv::test {

using platform::DispatchRef;
using platform::InvokeKind;
using platform::Variant;
using platform::VarType;
namespace id = orv::novitus::ids;

std::string FakeInvoke::Line() const {
    std::string s = object + " " + std::to_string(dispid) +
                    (kind == InvokeKind::Method ? " M" : kind == InvokeKind::Get ? " G" : " P");
    for (const auto& a : args) s += " " + a;
    return s;
}

// A property bag: puts store, gets read (property 2 of the rates with an index).
class FakeObject : public platform::DispatchObject {
public:
    FakeObject(FakeNovitus& world, std::string name) : m_world(world), m_name(std::move(name)) { ++m_world.objectsAlive; }
    ~FakeObject() override { --m_world.objectsAlive; }

    bool Invoke(int dispid, InvokeKind kind, std::vector<Variant>& args, Variant* result) override {
        FakeInvoke inv{m_name, dispid, kind, {}};
        for (const auto& a : args) inv.args.push_back(a.Describe());
        m_world.Record(std::move(inv));
        if (kind == InvokeKind::Put) {
            if (args.size() != 1) return false;
            props[dispid] = args[0];
            return true;
        }
        if (kind == InvokeKind::Get) {
            if (!args.empty()) {
                auto it = indexed.find(dispid);
                size_t i = static_cast<size_t>(args[0].AsInt());
                if (it == indexed.end() || i >= it->second.size()) return false;
                if (result) *result = it->second[i];
                return true;
            }
            auto it = props.find(dispid);
            if (result) *result = it == props.end() ? Variant() : it->second;
            return true;
        }
        return false;
    }

    FakeProps props;
    std::map<int, std::vector<Variant>> indexed;

private:
    FakeNovitus& m_world;
    std::string m_name;
};

namespace {
FakeObject* AsFake(const Variant& v) {
    return v.type == VarType::Object ? dynamic_cast<FakeObject*>(v.object.get()) : nullptr;
}
}  // namespace

class FakeControl : public platform::HostedControl {
public:
    explicit FakeControl(FakeNovitus& world) : m_world(world) {
        ++m_world.objectsAlive;
        ++m_world.controlsCreated;
    }
    ~FakeControl() override { --m_world.objectsAlive; }
    void WindowDestroyed() override {
        m_gone = true;
        ++m_world.controlsDestroyed;
    }

    bool Invoke(int dispid, InvokeKind kind, std::vector<Variant>& args, Variant* result) override {
        FakeInvoke inv{"control", dispid, kind, {}};
        for (const auto& a : args) inv.args.push_back(a.Describe());
        m_world.Record(std::move(inv));
        if (m_gone) return false;
        Variant r;
        bool ok = kind == InvokeKind::Method ? Method(dispid, args, r)
                  : kind == InvokeKind::Get  ? Get(dispid, r)
                                             : PutProp(dispid, args);
        if (result) *result = r;
        return ok;
    }

private:
    FakeNovitus& W() { return m_world; }

    bool PutProp(int dispid, std::vector<Variant>& args) {
        if (args.size() != 1) return false;
        if (dispid == id::kNativeMode) W().nativeMode = args[0].AsBool();
        return true;
    }

    bool Get(int dispid, Variant& r) {
        FakeNovitus& w = W();
        switch (dispid) {
        case id::kSettings:
            if (!m_settings) m_settings = platform::MakeDispatch<FakeObject>(w, "settings");
            r = Variant::Object(m_settings);
            return true;
        case id::kNativeMode:
            r = Variant::Bool(w.forceNativeMode >= 0 ? w.forceNativeMode != 0 : w.nativeMode);
            return true;
        case id::kErrorCode: r = Variant::I4(w.lastCode); return true;
        case id::kNativeCode: r = Variant::Text(w.lastHex); return true;
        case id::kErrorText: case id::kNativeText: r = Variant::Text("?"); return true;
        case id::kEndOfData:
            r = Variant::Bool(!w.readWithoutEnd && (w.readKind == id::kKindUnits ? w.cursor >= w.unitList.size()
                                                                                  : w.cursor >= w.readList.size()));
            return true;
        case id::kUniqueNumber: r = Variant::Text(w.uniqueNumber); return true;
        case id::kLibraryText: r = Variant::Text(w.library); return true;
        case id::kInfoText: r = Variant::Text(w.info); return true;
        default: return false;
        }
    }

    bool Fail(int code) {
        W().lastCode = code;
        return false;
    }

    bool Method(int dispid, std::vector<Variant>& args, Variant& r) {
        FakeNovitus& w = W();
        if (w.onMethod) w.onMethod(dispid);
        int call = ++w.calls[dispid];
        r = Variant::Bool(false);
        auto f = w.failures.find(dispid);
        if (f != w.failures.end()) {
            for (const auto& x : f->second) {
                if (x.call == 0 || x.call == call) {
                    w.lastCode = x.code;
                    w.lastHex = x.hex;
                    return true;   // the call went through; its result says FALSE
                }
            }
        }
        bool ok = Run(dispid, args);
        r = Variant::Bool(ok);
        return true;
    }

    static void CopyInto(FakeObject* o, const FakeProps& p) {
        o->props = p;
    }

    bool Run(int dispid, std::vector<Variant>& a) {
        FakeNovitus& w = W();
        auto arg = [&](size_t i) -> const Variant& {
            static const Variant none;
            return i < a.size() ? a[i] : none;
        };
        switch (dispid) {
        case id::kOpen: return true;
        case id::kCheck: w.connected = true; return true;
        case id::kDisconnect: w.connected = false; return true;
        case id::kReady: return true;
        case id::kBeginWrite: w.writeKind = static_cast<int>(arg(0).AsInt()); return true;
        case id::kEndWrite: return true;
        case id::kSendRecord: {
            FakeObject* o = AsFake(arg(0));
            if (!o) return Fail(65);
            if (w.writeKind == id::kKindDepts) {
                w.depts.push_back(o->props);
                return true;
            }
            std::string code = o->props[id::kPluCode].AsText();
            auto same = [&](const FakeProps& p) { return p.count(id::kPluCode) && p.at(id::kPluCode).AsText() == code; };
            std::erase_if(w.goods, same);
            if (w.writeKind != id::kKindGoodsDelete) w.goods.push_back(o->props);
            return true;
        }
        case id::kSendBarcode: {
            FakeObject* o = AsFake(arg(0));
            if (!o) return Fail(65);
            w.barcodes.push_back(o->props);
            return true;
        }
        case id::kWriteUnit: w.units[static_cast<int>(arg(0).AsInt())] = arg(1).AsText(); return true;
        case id::kBeginRead: {
            w.readKind = static_cast<int>(arg(0).AsInt());
            w.cursor = 0;
            w.readList.clear();
            w.unitList.clear();
            switch (w.readKind) {
            case id::kKindDepts: w.readList = w.depts; break;
            case id::kKindGoods:
                if (arg(1).type == VarType::Text) {
                    for (const auto& g : w.goods)
                        if (g.count(id::kPluCode) && g.at(id::kPluCode).AsText() == arg(1).text) w.readList.push_back(g);
                } else {
                    w.readList = w.goods;
                }
                break;
            case id::kKindUnits:
                for (const auto& [i, n] : w.units) w.unitList.emplace_back(i, n);
                break;
            case id::kKindSales:
                w.readList = w.sales;
                if (arg(4).AsInt() == 2) w.sales.clear();
                break;
            case id::kKindSales2:
                w.readList = w.sales2;
                if (arg(4).AsInt() == 2) w.sales2.clear();
                break;
            default: break;
            }
            return true;
        }
        case id::kNext: ++w.cursor; return true;
        case id::kFetchRecord:
        case id::kFetchSale: {
            FakeObject* o = AsFake(arg(0));
            if (!o) return Fail(65);
            if (w.cursor >= w.readList.size()) return Fail(17);
            CopyInto(o, w.readList[w.cursor]);
            return true;
        }
        case id::kFetchUnit: {
            if (w.cursor >= w.unitList.size() || arg(0).type != VarType::RefI4 || arg(1).type != VarType::RefText)
                return Fail(17);
            *a[0].refI4 = w.unitList[w.cursor].first;
            *a[1].refText = w.unitList[w.cursor].second;
            return true;
        }
        case id::kReceiptStep: {
            if (w.receipts.empty()) return Fail(17);
            if (arg(0).type != VarType::RefI4) return Fail(65);
            w.current = w.receipts.front();
            w.receipts.erase(w.receipts.begin());
            w.line = 0;
            *a[0].refI4 = static_cast<int32_t>(w.current.lines.size());
            return true;
        }
        case id::kFetchReceiptHeader: {
            FakeObject* o = AsFake(arg(0));
            if (!o) return Fail(65);
            o->props[id::kReceiptNumber] = Variant::Text(w.current.number);
            return true;
        }
        case id::kFetchReceiptLine: {
            FakeObject* o = AsFake(arg(0));
            if (!o || w.line >= w.current.lines.size()) return Fail(17);
            o->props[1] = Variant::I4(static_cast<int32_t>(w.line));
            return true;
        }
        case id::kFetchReceiptItem: {
            FakeObject* o = AsFake(arg(0));
            if (!o || w.line >= w.current.lines.size()) return Fail(17);
            CopyInto(o, w.current.lines[w.line++]);
            return true;
        }
        case id::kFetchRates: {
            FakeObject* o = AsFake(arg(0));
            if (!o) return Fail(65);
            o->props[id::kRateCount] = Variant::I4(static_cast<int32_t>(w.rates.size()));
            auto& list = o->indexed[id::kRate];
            list.clear();
            for (int64_t v : w.rates) list.push_back(Variant::Currency(v));
            return true;
        }
        case id::kFetchVersion: {
            FakeObject* o = AsFake(arg(0));
            if (!o) return Fail(65);
            o->props[id::kVersionText1] = Variant::Text(w.version[0]);
            o->props[id::kVersionText2] = Variant::Text(w.version[1]);
            o->props[id::kVersionText3] = Variant::Text(w.version[2]);
            o->props[id::kVersionText4] = Variant::Text(w.version[3]);
            return true;
        }
        case id::kDeviceInfo: return w.deviceInfoOk;
        case id::kReadNative:
            if (!w.method21Ok || a.size() != 4 || a[1].type != VarType::RefText) return false;
            *a[1].refText = w.method21Hex;
            return true;
        default: return Fail(65);
        }
    }

    FakeNovitus& m_world;
    std::atomic<bool> m_gone{false};
    DispatchRef m_settings;
};

FakeNovitus::FakeNovitus() {
    platform::SetControlFactory(this);
    platform::SetAutomationFactory(this);
}

FakeNovitus::~FakeNovitus() {
    platform::DestroyFiscalControl();
    platform::SetControlFactory(nullptr);
    platform::SetAutomationFactory(nullptr);
}

DispatchRef FakeNovitus::Create(const std::string& classId, EcrWindow parent, int childId) {
    Record({"factory", childId, InvokeKind::Method, {"CONTROL " + classId}});
    lastParent = parent;
    if (failControl) return DispatchRef();
    return platform::MakeDispatch<FakeControl>(*this);
}

DispatchRef FakeNovitus::Create(const std::string& classId) {
    static const std::map<std::string, std::string> names = {
        {id::kClassPlu, "Plu"},           {id::kClassBarcode, "Barcode"},
        {id::kClassSale, "Sale"},         {id::kClassReceiptItem, "ReceiptItem"},
        {id::kClassReceiptHeader, "ReceiptHeader"}, {id::kClassReceiptLine, "ReceiptLine"},
        {id::kClassTaxRates, "TaxRates"}, {id::kClassVersion, "Version"}};
    auto it = names.find(classId);
    if (it == names.end() || failClasses.count(classId)) return DispatchRef();
    return platform::MakeDispatch<FakeObject>(*this, it->second);
}

void FakeNovitus::FailAt(int dispid, int call, int code, const std::string& nativeHex) {
    failures[dispid].push_back({call, code, nativeHex});
}

void FakeNovitus::Record(FakeInvoke inv) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_log.push_back(std::move(inv));
}

std::vector<FakeInvoke> FakeNovitus::Log() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_log;
}

std::vector<std::string> FakeNovitus::Lines() const {
    std::vector<std::string> out;
    for (const auto& i : Log()) out.push_back(i.Line());
    return out;
}

std::vector<std::string> FakeNovitus::Lines(const std::string& object) const {
    std::vector<std::string> out;
    for (const auto& i : Log())
        if (i.object == object) out.push_back(i.Line());
    return out;
}

std::vector<std::string> FakeNovitus::ControlMethods() const {
    std::vector<std::string> out;
    for (const auto& i : Log()) {
        if (i.object != "control" || i.kind != InvokeKind::Method) continue;
        std::string s = std::to_string(i.dispid);
        for (const auto& a : i.args) s += " " + a;
        out.push_back(s);
    }
    return out;
}

void FakeNovitus::ClearLog() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_log.clear();
}

}  // namespace orv::test
