// A fake of the Novitus fiscal control and its automation objects. It
// installs itself as the control factory and the automation factory for its
// lifetime, logs every invoke (object, dispatch id, kind, argument types and
// values), keeps a small register (goods, departments, units, rates, sale
// counters, receipts) and lets a test make any call fail.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/control_host.h"
#include "platform/dispatch.h"

namespace orv::test {

struct FakeInvoke {
    std::string object;   // "control", "settings", "Plu", "Barcode", "Sale", "TaxRates", ...
    int dispid = 0;
    platform::InvokeKind kind = platform::InvokeKind::Method;
    std::vector<std::string> args;   // Variant::Describe of each argument
    // "control 31 M I4 0", "settings 1 P TEXT \"COM3\"", "control 5 G"
    std::string Line() const;
};

using FakeProps = std::map<int, platform::Variant>;

struct FakeReceipt {
    std::string number;
    std::vector<FakeProps> lines;   // sale-object ids: 1 code, 2 name, 4 quantity, 3 value
};

class FakeNovitus : public platform::ControlFactory, public platform::AutomationFactory {
public:
    FakeNovitus();
    ~FakeNovitus() override;

    platform::DispatchRef Create(const std::string& classId, EcrWindow parent, int childId) override;
    platform::DispatchRef Create(const std::string& classId) override;

    // ---- what happened ----
    std::vector<FakeInvoke> Log() const;
    std::vector<std::string> Lines() const;                       // every invoke
    std::vector<std::string> Lines(const std::string& object) const;
    std::vector<std::string> ControlMethods() const;              // "31 I4 0", "7", ... of the control
    void ClearLog();
    std::atomic<int> controlsCreated{0};
    std::atomic<int> controlsDestroyed{0};   // windows destroyed
    std::atomic<int> objectsAlive{0};        // every fake object not yet released
    EcrWindow lastParent = nullptr;

    // ---- failures ----
    bool failControl = false;                // the control cannot be created
    std::set<std::string> failClasses;       // class ids that cannot be created
    // The call-th call (1-based; 0 every call) of control method dispid
    // returns FALSE and leaves the control's code (property 5) and the
    // native code text (property 23).
    void FailAt(int dispid, int call, int code, const std::string& nativeHex = std::string());
    // Overrides of the control's state as ReadNativeError reads it.
    int forceNativeMode = -1;                // -1: as put at connect; 0 / 1
    bool method21Ok = true;
    std::string method21Hex;
    bool readWithoutEnd = false;             // property 67 never TRUE
    bool deviceInfoOk = true;

    // ---- the register ----
    std::vector<FakeProps> goods;            // goods-object ids
    std::vector<FakeProps> depts;
    std::vector<FakeProps> barcodes;
    std::map<int, std::string> units;        // control index -> name
    std::vector<int64_t> rates;              // currency, 1/10000
    std::vector<FakeProps> sales;            // first report (1, 2, 4, 3, 12, 13)
    std::vector<FakeProps> sales2;           // second report
    std::vector<FakeReceipt> receipts;
    std::string version[4] = {"1.05", "b", "c", "d"};
    std::string uniqueNumber = "ABC12345678901234", library = "2.1", info = "info";

    // Called by the control for each method (tests may hook a break in).
    std::function<void(int dispid)> onMethod;

private:
    friend class FakeControl;
    friend class FakeObject;
    struct Failure {
        int call;
        int code;
        std::string hex;
    };
    void Record(FakeInvoke inv);

    mutable std::mutex m_mutex;
    std::vector<FakeInvoke> m_log;

public:
    // Control state (used by the fake control).
    std::map<int, std::vector<Failure>> failures;
    std::map<int, int> calls;
    bool nativeMode = false;
    int lastCode = 0;
    std::string lastHex;
    // read cursor
    int readKind = 0;
    std::vector<FakeProps> readList;
    size_t cursor = 0;
    std::vector<std::pair<int, std::string>> unitList;
    FakeReceipt current;
    size_t line = 0;
    int writeKind = 0;
    bool connected = false;
};

}  // namespace orv::test
