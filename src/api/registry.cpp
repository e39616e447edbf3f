// The driver registry and dispatcher.
//
// Serving a device family: delete its class line(s) from
// api/unserved_drivers.h and add the family's header to the includes
// marked "Served families" below. Nothing else changes: the registry holds
// one object of every class by name, and the type-code table selects it.
#include "api/registry.h"

#include <array>
#include <cstring>
#include <mutex>
#include <string>

#include "job/job_block.h"
#include "api/unserved_drivers.h"
#include "comm/telepathy_ecr.h"
#include "platform/clock.h"
#include "util/cp1250.h"

// ---- Served families ----
#include "drivers/elcom50/cel50_ecr.h"
#include "drivers/elzab/cem_ecr.h"
#include "drivers/elzab/cs6_ecr.h"
#include "drivers/posnet/cpc_ecr.h"
#include "drivers/adax/cad_ecr.h"
#include "drivers/cr280/ccr_ecr.h"
#include "drivers/dsa/cd1_ecr.h"
#include "drivers/dsa/cd5_ecr.h"
#include "drivers/dsa/cds_ecr.h"
#include "drivers/dsa/cdsp_ecr.h"
#include "drivers/dsa/cd8_ecr.h"
#include "drivers/optimus/cop_ecr.h"
#include "drivers/cas/ccas_xml_ecr.h"
#include "drivers/cas/clp16_ecr.h"
#include "drivers/cas/clp_ecr.h"
#include "drivers/proxima/cmpr_ecr.h"
#include "drivers/novitus/cta_ecr.h"
#include "drivers/novitus/ctn_ecr.h"
#include "drivers/posnet/cpe_ecr.h"
#include "drivers/posnet/cpf_ecr.h"
#include "drivers/sharp/cs5_ecr.h"
#include "drivers/sharp/csh227_ecr.h"
#include "drivers/sharp/csh285_ecr.h"
#include "drivers/sharp/csh277ps_ecr.h"
#include "drivers/sharp/csh7_ecr.h"
#include "drivers/sharp/csh9_ecr.h"
#include "drivers/sharp/csh_ecr.h"
#include "drivers/ncr/cncr_ecr.h"
#include "drivers/elemis/cems_ecr.h"
#include "drivers/hida/chi_ecr.h"
#include "drivers/dibal/cdi500_ecr.h"
#include "drivers/dibal/cdi_ecr.h"
#include "drivers/digi/cdg_ecr.h"
#include "drivers/ecoprint/cep_ecr.h"
#include "drivers/novitus/cp3_ecr.h"
#include "drivers/medesa/cmd_ecr.h"
#include "drivers/medesa/cmdusb_ecr.h"
#include "drivers/mp500/cmp_ecr.h"

namespace orv::unserved {

// A family this version does not serve: opening it fails with a clear error.
class CUnservedLogic : public CLogicECR {
public:
    std::string GetErrorText(int code) override { return m_protocol.GetErrorText(code); }
    int Open(int, const EcrDeviceRecord*) override {
        SetError(999999, PL("Brak obsługi urządzenia tego typu w tej wersji biblioteki"));
        return 0;
    }

private:
    CTelepathyECR m_protocol;
};

#define ORV_DEFINE_UNSERVED(name) \
    class name final : public CUnservedLogic {};
ORV_UNSERVED_CLASSES(ORV_DEFINE_UNSERVED)
#undef ORV_DEFINE_UNSERVED

}  // namespace orv::unserved

namespace orv::api {

namespace {

// Every logic class of the registry (44).
#define ORV_ALL_LOGIC_CLASSES(X)                                                                         \
    X(CS6_ECR) X(CEM_ECR) X(CTN_ECR) X(CTA_ECR) X(CP3_ECR) X(CPE_ECR) X(CPF_ECR) X(CPC_ECR) X(CSH_ECR)    \
    X(CS5_ECR) X(CSH285_ECR) X(CSH7_ECR) X(CSH277PS_ECR) X(CSH9_ECR) X(CSH227_ECR) X(CAD_ECR) X(CCR_ECR) \
    X(COP_ECR) X(CD1_ECR) X(CD5_ECR) X(CDS_ECR) X(CDSP_ECR) X(CD8_ECR) X(CEL_ECR) X(CEL50_ECR)           \
    X(CEMS_ECR) X(CEN_ECR) X(CHI_ECR) X(CHT_ECR) X(CNCR_ECR) X(CCAS_ECR) X(CCAS_XML_ECR) X(CLP_ECR)      \
    X(CLP16_ECR) X(CDI_ECR) X(CDI500_ECR) X(CMD_ECR) X(CMDUSB_ECR) X(CMEL_ECR) X(CDG_ECR) X(CEP_ECR)     \
    X(CMX_ECR) X(CMP_ECR) X(CMPR_ECR)

enum class Logic : int {
#define ORV_ENUM(name) name,
    ORV_ALL_LOGIC_CLASSES(ORV_ENUM)
#undef ORV_ENUM
        Count
};

constexpr const char* kLogicNames[] = {
#define ORV_NAME(name) #name,
    ORV_ALL_LOGIC_CLASSES(ORV_NAME)
#undef ORV_NAME
};
static_assert(std::size(kLogicNames) == 44, "one object per logic class");

// The application object. Its only behaviour elsewhere, enabling the hosting
// of outside controls, has no meaning here (see platform/control_host.h).
class COrvantaApp {};

using namespace orv::unserved;

// Every static object of the library. The transports are declared first so
// that they outlive the logic objects that borrow them.
struct Registry {
    CTelepathy serial;
    CTelepathySocket socket;
    COrvantaApp app;
#define ORV_MEMBER(name) name m_##name;
    ORV_ALL_LOGIC_CLASSES(ORV_MEMBER)
#undef ORV_MEMBER
    std::array<CLogicECR*, static_cast<size_t>(Logic::Count)> objects{{
#define ORV_POINTER(name) &m_##name,
        ORV_ALL_LOGIC_CLASSES(ORV_POINTER)
#undef ORV_POINTER
    }};

    // What the lines carried before this process used them (a job of
    // another process broken off while the device was answering) is not
    // known: the first request on each port waits for a quiet line.
    Registry() {
        for (int port = 1; port <= 16; ++port) serial.MarkUnsettled(port);
    }
    ~Registry() { StopJobs(); }

    // A job still running is broken off and its worker joined. A worker
    // held in a vendor's call that does not return is waited for a few
    // seconds (scaled like every library wait), then left: the host must
    // be able to exit.
    void StopJobs() {
        serial.Break();
        socket.Break();
        for (CLogicECR* o : objects) o->Break();
        const double scale = orv::platform::TimeScale();
        const int bound = scale > 0.0 && scale < 1.0 ? static_cast<int>(orv::platform::ScaledMillis(kUnloadWaitSeconds))
                                                     : kUnloadWaitSeconds * 1000;
        const int64_t end = orv::platform::WaitEnd(bound);
        for (CLogicECR* o : objects) o->Shutdown(orv::platform::WaitLeft(end));
    }
    static constexpr int kUnloadWaitSeconds = 3;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

// Built at load, before any export can run.
[[maybe_unused]] Registry& g_registryAtLoad = TheRegistry();

std::atomic<bool> g_busy{false};
std::atomic<CLogicECR*> g_current{nullptr};

std::mutex g_testMutex;
std::array<CLogicECR*, static_cast<size_t>(Logic::Count)> g_testLogic{};

const char* const kSystemErrorText = PL("System kas fiskalnych - błąd systemu !");

bool IsElzabModemKind(int kind) { return kind == 7 || kind == 8 || kind == 9 || kind == 10 || kind == 13; }

// The type-code table. -1: no class serves the code.
int LogicIndexFor(int type, int kind) {
    auto L = [](Logic l) { return static_cast<int>(l); };
    switch (type) {
    case 1: case 2: case 3: case 4: case 5: case 6: case 22: case 27: case 28: case 29: case 30: case 31:
    case 32: case 46: case 53: case 63: case 76: case 77: case 78: case 79: case 80: case 81: case 94:
    case 95: case 98: case 102: case 700: case 701:
        return L(IsElzabModemKind(kind) ? Logic::CEM_ECR : Logic::CS6_ECR);
    case 20: case 24: case 43: case 84: case 92: case 93: case 99: return L(Logic::CEM_ECR);
    case 85: case 86: return L(Logic::CTN_ECR);
    case 12: case 34: case 35: case 57: case 58: case 59: case 65: case 66: case 67: case 68: case 69:
    case 70:
        return L(Logic::CTA_ECR);
    case 26: case 60: case 71: case 72: case 82: case 83: case 87: return L(Logic::CP3_ECR);
    case 21: return L(Logic::CPE_ECR);
    case 38: case 44: case 45: case 54: case 62: return L(Logic::CPF_ECR);
    case 10: case 56: case 61: case 73: case 89: case 90: case 91: case 96: return L(Logic::CPC_ECR);
    case 33: return L(Logic::CSH_ECR);
    case 18: return L(Logic::CS5_ECR);
    case 97: return L(Logic::CSH285_ECR);
    case 47: case 48: return L(Logic::CSH7_ECR);
    case 49: case 50: return L(Logic::CSH277PS_ECR);
    case 25: return L(Logic::CSH9_ECR);
    case 74: return L(Logic::CSH227_ECR);
    case 19: return L(Logic::CAD_ECR);
    case 11: return L(Logic::CCR_ECR);
    case 9: return L(Logic::COP_ECR);
    case 15: case 37: return L(Logic::CD1_ECR);
    case 40: return L(Logic::CD5_ECR);
    case 13: case 14: case 36: return L(Logic::CDS_ECR);
    case 109: return L(Logic::CDSP_ECR);
    case 101: return L(Logic::CD8_ECR);
    case 64: return L(Logic::CEL_ECR);
    case 16: case 17: return L(Logic::CEL50_ECR);
    case 75: return L(Logic::CEMS_ECR);
    case 7: case 10043: return L(Logic::CEN_ECR);
    case 23: return L(Logic::CHI_ECR);
    case 52: case 55: case 88: return L(Logic::CHT_ECR);
    case 8: return L(Logic::CNCR_ECR);
    case 111: return L(Logic::CCAS_XML_ECR);
    case 105: return L(Logic::CLP_ECR);
    case 110: return L(Logic::CLP16_ECR);
    case 103: case 104: return L(Logic::CDI_ECR);
    case 114: return L(Logic::CDI500_ECR);
    case 100: return L(kind == 5 ? Logic::CMDUSB_ECR : Logic::CMD_ECR);
    case 106: return L(Logic::CMDUSB_ECR);
    case 112: return L(Logic::CMEL_ECR);
    case 108: return L(Logic::CDG_ECR);
    case 115: return L(Logic::CEP_ECR);
    case 107: return L(Logic::CMX_ECR);
    case 39: case 41: case 42: return L(Logic::CMP_ECR);
    case 113: return L(Logic::CMPR_ECR);
    default: return -1;   // 0, 51, negative codes, codes above 115 but 700, 701, 10043
    }
}

int IndexOfName(const char* className) {
    if (!className) return -1;
    for (size_t i = 0; i < std::size(kLogicNames); ++i)
        if (std::strcmp(kLogicNames[i], className) == 0) return static_cast<int>(i);
    return -1;
}

}  // namespace

CTelepathy& Serial() { return TheRegistry().serial; }
CTelepathySocket& Socket() { return TheRegistry().socket; }

CLogicECR* SelectLogic(int type, int kind) {
    int i = LogicIndexFor(type, kind);
    if (i < 0) return nullptr;
    {
        std::lock_guard<std::mutex> lock(g_testMutex);
        if (CLogicECR* t = g_testLogic[static_cast<size_t>(i)]) return t;
    }
    return TheRegistry().objects[static_cast<size_t>(i)];
}

const char* SelectLogicName(int type, int kind) {
    int i = LogicIndexFor(type, kind);
    return i < 0 ? nullptr : kLogicNames[i];
}

CLogicECR* FindLogic(const char* className) {
    int i = IndexOfName(className);
    return i < 0 ? nullptr : TheRegistry().objects[static_cast<size_t>(i)];
}

int LogicCount() { return static_cast<int>(Logic::Count); }

CLogicECR& DefaultLogic() { return TheRegistry().m_CS6_ECR; }

std::atomic<bool>& BusyFlag() { return g_busy; }
CLogicECR* CurrentLogic() { return g_current.load(std::memory_order_acquire); }
void SetCurrentLogic(CLogicECR* logic) { g_current.store(logic, std::memory_order_release); }

CLogicECR& CurrentOrDefault() {
    CLogicECR* c = CurrentLogic();
    return c ? *c : DefaultLogic();
}

CLogicECR& CurrentForRefusal() {
    if (CLogicECR* c = CurrentLogic()) return *c;
    SetCurrentLogic(&DefaultLogic());
    return DefaultLogic();
}

namespace {
// Built when the first job starts, so it goes away before every static
// object built at load (the transports' and the platform's included): a
// job still running at unload is stopped while all it uses still exists.
struct StopJobsAtUnload {
    ~StopJobsAtUnload() { TheRegistry().StopJobs(); }
};
}  // namespace

int StartJob(CLogicECR* logic, EcrWindow window, uint32_t message) {
    static StopJobsAtUnload stopJobsAtUnload;
    logic->SetError(0, std::string());
    logic->SetSerial(&Serial());
    logic->SetSocket(&Socket());
    // A break given while no job ran must not end this one.
    Serial().ClearBreak();
    Socket().ClearBreak();
    SetCurrentLogic(logic);
    return logic->Start(window, message) ? 1 : 0;
}

int EcrDispatch(uint32_t jobCode) {
    g_jobBlock.job = jobCode;
    CLogicECR* logic = SelectLogic(g_jobBlock.device.type, g_jobBlock.device.kind);
    if (!logic) {
        g_busy.store(false, std::memory_order_release);
        CLogicECR& current = CurrentForRefusal();
        if (current.GetErrorCode() == 0) current.SetError(999999, kSystemErrorText);
        return 0;
    }
    int r = StartJob(logic, Serial().GetNotifyWindow(), 0);
    if (r != 0) return r;
    g_busy.store(false, std::memory_order_release);
    if (logic->GetErrorCode() == 0) logic->SetError(999999, kSystemErrorText);
    return 0;
}

void SetTestLogic(const char* className, CLogicECR* logic) {
    int i = IndexOfName(className);
    if (i < 0) return;
    std::lock_guard<std::mutex> lock(g_testMutex);
    g_testLogic[static_cast<size_t>(i)] = logic;
}

void ClearTestLogics() {
    std::lock_guard<std::mutex> lock(g_testMutex);
    g_testLogic.fill(nullptr);
}

}  // namespace orv::api
