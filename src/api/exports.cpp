// The 25 exports. Job exports copy the host's record and arguments into the
// job block and hand the job code to the dispatcher; the others manage the
// library. No export lets an exception out or dereferences a null record.
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>

#include "job/job_block.h"
#include "api/registry.h"
#include "orvanta/ecr.h"
#include "platform/control_host.h"
#include "util/chrarr.h"
#include "util/cp1250.h"

namespace {

using namespace orv::api;

const char* const kCreateFailedText = "Failed to create OLE ECR Control";
const char* const kSystemErrorText = PL("System kas fiskalnych - błąd systemu !");
const char* const kBadParametersText = PL("Niewłaściwe parametry zadania");

std::atomic<bool> g_preCreated{false};
// The type code of the last job's record, for EcrDelete (which another
// thread may call while a job is being set up).
std::atomic<int32_t> g_lastJobType{0};

// EcrError and EcrErrMsg are safe at any time, also from a thread of the
// host's while the job runs: they read the pair the job last published (see
// CLogicECR::ErrorForHost). A host asks for the two one after the other; so
// that it gets a code and a text of the same pair even when the job
// publishes its outcome between the two calls, the second of the two calls
// answers from the pair the first one read. Any other export on the thread
// ends the pairing, and so does a second call of the same function.
struct ErrorRead {
    enum class By { None, Code, Text };
    By pending = By::None;
    const CLogicECR* object = nullptr;
    int code = 0;
    char text[CLogicECR::kErrorTextSize] = {0};
};
thread_local ErrorRead t_errorRead;

void EndErrorPairing() { t_errorRead.pending = ErrorRead::By::None; }

// Held while a job export sets up and starts a job (and by EcrCreate), so
// that a host calling from two threads never has two starts, or a start and
// EcrIsDone, interleave: the other thread's call is refused (or told the job
// is not done) instead of waiting. Recursive: a host callback during the
// start runs on the starting thread. Built on first use, so a call from a
// static constructor of a host linked with the library finds it ready.
std::recursive_mutex& StartMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

bool IsBusy() { return BusyFlag().load(std::memory_order_acquire); }

// Copies the host's record into the block and resets the callbacks that
// every job must give anew.
void EcrSetupJob(const EcrDeviceRecord* record) {
    BusyFlag().store(true, std::memory_order_release);
    EcrDeviceRecord& copy = g_jobBlock.device;
    g_lastJobType.store(record->type, std::memory_order_release);
    copy.type = record->type;
    copy.port = record->port;
    copy.baud = record->baud;
    copy.word3 = record->word3;
    copy.word4 = record->word4;
    copy.kind = record->kind;
    copy.word6 = record->word6;
    copy.word7 = record->word7;
    copy.word8 = record->word8;
    copy.word9 = record->word9;
    copy.flags = record->flags;
    copy.word11 = record->word11;
    StrNCopyZ(copy.address, record->address, 63);
    copy.progress = record->progress;
    g_jobBlock.progressCb = record->progress;
    // The VAT, status, department program and unit program callbacks keep
    // the last job's.
    g_jobBlock.itemPgmCb = nullptr;
    g_jobBlock.itemReadCb = nullptr;
    g_jobBlock.saleCb = nullptr;
    g_jobBlock.unitReadCb = nullptr;
    g_jobBlock.deptReadCb = nullptr;
}

// One job export: refused while busy; a null record fails with -1.
template <class Store>
int JobExport(const EcrDeviceRecord* record, uint32_t job, Store store) noexcept {
    EndErrorPairing();
    try {
        std::unique_lock<std::recursive_mutex> starting(StartMutex(), std::try_to_lock);
        if (!starting.owns_lock() || IsBusy()) return 0;
        if (!record) {
            CurrentForRefusal().SetError(-1, kBadParametersText);
            return 0;
        }
        EcrSetupJob(record);
        store();
        return EcrDispatch(job);
    } catch (...) {
        BusyFlag().store(false, std::memory_order_release);
        CLogicECR& current = CurrentForRefusal();
        if (!current.IsRunning()) current.SetError(999999, kSystemErrorText);
        return 0;
    }
}

void StoreItems(EcrItemRecord* items, int count, EcrItemProgramCallback cb) {
    g_jobBlock.items = items;
    g_jobBlock.count = static_cast<uint32_t>(count);
    g_jobBlock.itemPgmCb = cb;
}

// Proxima scales keep no control window here: nothing to destroy.
void DestroyProximaControl() {}

}  // namespace

extern "C" {

ECR_EXPORT int ECR_CALL EcrReadSale(const EcrDeviceRecord* dev, EcrSaleCallback cb) {
    return JobExport(dev, 1, [&] { g_jobBlock.saleCb = cb; });
}

ECR_EXPORT int ECR_CALL EcrClearSale(const EcrDeviceRecord* dev, EcrSaleCallback cb) {
    return JobExport(dev, 2, [&] { g_jobBlock.saleCb = cb; });
}

ECR_EXPORT int ECR_CALL EcrReadAllPLU(const EcrDeviceRecord* dev, EcrItemReadCallback cb) {
    return JobExport(dev, 3, [&] { g_jobBlock.itemReadCb = cb; });
}

ECR_EXPORT int ECR_CALL EcrReadPLU(const EcrDeviceRecord* dev, EcrItemRecord* items, int count,
                                   EcrItemReadCallback cb) {
    return JobExport(dev, 4, [&] {
        g_jobBlock.items = items;
        g_jobBlock.count = static_cast<uint32_t>(count);
        g_jobBlock.itemReadCb = cb;
    });
}

ECR_EXPORT int ECR_CALL EcrPgmPLU(const EcrDeviceRecord* dev, EcrItemRecord* items, int count,
                                  EcrItemProgramCallback cb) {
    return JobExport(dev, 5, [&] {
        StoreItems(items, count, cb);
        g_jobBlock.kind = 0;
    });
}

ECR_EXPORT int ECR_CALL EcrUpDatePLU(const EcrDeviceRecord* dev, EcrItemRecord* items, int count,
                                     EcrItemProgramCallback cb) {
    return JobExport(dev, 6, [&] {
        StoreItems(items, count, cb);
        g_jobBlock.kind = 1;
    });
}

ECR_EXPORT int ECR_CALL EcrDelPLU(const EcrDeviceRecord* dev, EcrItemRecord* items, int count,
                                  EcrItemProgramCallback cb) {
    return JobExport(dev, 7, [&] { StoreItems(items, count, cb); });
}

ECR_EXPORT int ECR_CALL EcrDelAllPLU(const EcrDeviceRecord* dev, EcrItemProgramCallback cb) {
    return JobExport(dev, 8, [&] { g_jobBlock.itemPgmCb = cb; });
}

ECR_EXPORT int ECR_CALL EcrReadAllDEPT(const EcrDeviceRecord* dev, EcrDeptReadCallback cb) {
    return JobExport(dev, 9, [&] { g_jobBlock.deptReadCb = cb; });
}

ECR_EXPORT int ECR_CALL EcrReadDEPT(const EcrDeviceRecord* dev, EcrDeptRecord* depts, int count,
                                    EcrDeptReadCallback cb) {
    return JobExport(dev, 10, [&] {
        g_jobBlock.depts = depts;
        g_jobBlock.count = static_cast<uint32_t>(count);
        g_jobBlock.deptReadCb = cb;
    });
}

ECR_EXPORT int ECR_CALL EcrPgmDEPT(const EcrDeviceRecord* dev, EcrDeptRecord* depts, int count,
                                   EcrDeptProgramCallback cb) {
    return JobExport(dev, 11, [&] {
        g_jobBlock.depts = depts;
        g_jobBlock.count = static_cast<uint32_t>(count);
        g_jobBlock.deptPgmCb = cb;
    });
}

ECR_EXPORT int ECR_CALL EcrReadAllUnit(const EcrDeviceRecord* dev, EcrUnitReadCallback cb) {
    return JobExport(dev, 12, [&] { g_jobBlock.unitReadCb = cb; });
}

ECR_EXPORT int ECR_CALL EcrPgmUNIT(const EcrDeviceRecord* dev, EcrUnitRecord* units, int count,
                                   EcrUnitProgramCallback cb) {
    return JobExport(dev, 13, [&] {
        g_jobBlock.units = units;
        g_jobBlock.count = static_cast<uint32_t>(count);
        g_jobBlock.unitPgmCb = cb;
    });
}

ECR_EXPORT int ECR_CALL EcrReadStatus(const EcrDeviceRecord* dev, EcrStatusCallback cb) {
    return JobExport(dev, 14, [&] { g_jobBlock.statusCb = cb; });
}

ECR_EXPORT int ECR_CALL EcrReadVAT(const EcrDeviceRecord* dev, EcrVatCallback cb) {
    return JobExport(dev, 15, [&] { g_jobBlock.vatCb = cb; });
}

ECR_EXPORT int ECR_CALL EcrReadFromPLU(const EcrDeviceRecord* dev, EcrItemRecord* items, EcrItemReadCallback cb) {
    return JobExport(dev, 16, [&] {
        g_jobBlock.items = items;
        g_jobBlock.count = 2;
        g_jobBlock.itemReadCb = cb;
    });
}

ECR_EXPORT int ECR_CALL EcrDelFromPLU(const EcrDeviceRecord* dev, EcrItemRecord* items, EcrItemProgramCallback cb) {
    return JobExport(dev, 17, [&] { StoreItems(items, 2, cb); });
}

ECR_EXPORT int ECR_CALL EcrPgmExBarcode(const EcrDeviceRecord* dev, EcrItemRecord* items, int count,
                                        EcrItemProgramCallback cb) {
    return JobExport(dev, 18, [&] {
        StoreItems(items, count, cb);
        g_jobBlock.kind = 2;
    });
}

ECR_EXPORT int ECR_CALL EcrCreate(EcrWindow window) {
    EndErrorPairing();
    try {
        std::unique_lock<std::recursive_mutex> starting(StartMutex(), std::try_to_lock);
        if (!starting.owns_lock()) return 0;   // a job is being started
        // Taking the transports from under a running job would let the next
        // job start beside it.
        if (IsBusy() && CurrentOrDefault().IsRunning()) return 0;
        CLogicECR& s6 = DefaultLogic();
        Serial().SetCallback(nullptr);
        if (Serial().SetNotifyWindow(window, 0) == 1) {
            Socket().ClearConnectError();
            Socket().SetCallback(nullptr);
            Socket().SetNotifyWindow(window, 0);
            SetCurrentLogic(&s6);
            s6.SetError(0, std::string());
            return 1;
        }
        SetCurrentLogic(&s6);
        s6.SetError(999999, kCreateFailedText);
        return 0;
    } catch (...) {
        return 0;
    }
}

ECR_EXPORT int ECR_CALL EcrPreCreate(EcrWindow window) {
    EndErrorPairing();
    try {
        if (!g_preCreated.exchange(true)) {
            if (orv::platform::CreateFiscalControl(window)) orv::platform::DestroyFiscalControl();
        }
    } catch (...) {
    }
    return 1;
}

ECR_EXPORT int ECR_CALL EcrDelete(void) {
    EndErrorPairing();
    try {
        switch (g_lastJobType.load(std::memory_order_acquire)) {
        case 26: case 60: case 71: case 72: case 82: case 83: case 87:
            orv::platform::DestroyFiscalControl();
            break;
        case 113:
            DestroyProximaControl();
            break;
        default:
            break;
        }
    } catch (...) {
    }
    return 1;
}

ECR_EXPORT int ECR_CALL EcrIsDone(void) {
    EndErrorPairing();
    if (!IsBusy()) return 1;
    // A job being started on another thread is not done.
    std::unique_lock<std::recursive_mutex> starting(StartMutex(), std::try_to_lock);
    if (!starting.owns_lock()) return 0;
    CLogicECR* current = CurrentLogic();
    if (current && current->IsRunning()) return 0;
    BusyFlag().store(false, std::memory_order_release);
    return 1;
}

}  // extern "C"

// Helpers of EcrError and EcrErrMsg (C++ types: outside the C linkage).
namespace {
// EcrError and EcrErrMsg before any EcrCreate or job.
CLogicECR& CurrentForError() {
    CLogicECR* current = CurrentLogic();
    if (current) return *current;
    CLogicECR& s6 = DefaultLogic();
    SetCurrentLogic(&s6);
    s6.SetError(999999, kCreateFailedText);
    return s6;
}


// The pair for the asking function: the one the other function just read,
// else a fresh one.
const ErrorRead& ReadError(ErrorRead::By by) {
    ErrorRead& r = t_errorRead;
    CLogicECR& current = CurrentForError();
    const bool paired = r.pending != ErrorRead::By::None && r.pending != by && r.object == &current;
    if (paired) {
        r.pending = ErrorRead::By::None;
    } else {
        current.ErrorForHost(r.code, r.text, sizeof r.text);
        r.object = &current;
        r.pending = by;
    }
    return r;
}
}  // namespace

extern "C" {

ECR_EXPORT int ECR_CALL EcrError(void) {
    try {
        return ReadError(ErrorRead::By::Code).code;
    } catch (...) {
        return 999999;
    }
}

// The text stays valid until this thread's next EcrError or EcrErrMsg.
ECR_EXPORT const char* ECR_CALL EcrErrMsg(void) {
    try {
        return ReadError(ErrorRead::By::Text).text;
    } catch (...) {
        return kSystemErrorText;
    }
}

ECR_EXPORT int ECR_CALL EcrBreakJob(void) {
    EndErrorPairing();
    try {
        Serial().Break();
        Socket().Break();
        CurrentOrDefault().Break();
    } catch (...) {
    }
    return IsBusy() ? 1 : 0;
}

}  // extern "C"
