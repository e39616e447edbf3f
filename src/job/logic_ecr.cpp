// CLogicECR: the job framework every device family's logic class builds on.
#include "job/logic_ecr.h"

#include <cstring>
#include <exception>

#include "util/chrarr.h"

EcrJobBlock g_jobBlock;

namespace {

const char* const kSystemErrorText = PL("System kas fiskalnych - błąd systemu !");
const char* const kBadParametersText = PL("Niewłaściwe parametry zadania");
const char* const kNotAvailableText = PL("Rozkaz niedostępny w tej wersji programu kasy");

constexpr int kSystemError = 999999;
constexpr int kNotAvailable = 25;
constexpr int kBadParameters = -1;

// Host-facing confirmation texts hold at most 63 characters and a terminator.
struct ConfirmText {
    char text[64];
    explicit ConfirmText(const std::string& s) { StrNCopyZ(text, s.c_str(), 63); }
};

// The object whose job (its opening on the host's thread, or its body on
// the worker) runs on this thread, if any.
thread_local CLogicECR* t_jobOnThread = nullptr;

class JobOnThisThread {
public:
    explicit JobOnThisThread(CLogicECR* job) : m_saved(t_jobOnThread) { t_jobOnThread = job; }
    ~JobOnThisThread() { t_jobOnThread = m_saved; }
    JobOnThisThread(const JobOnThisThread&) = delete;
    JobOnThisThread& operator=(const JobOnThisThread&) = delete;

private:
    CLogicECR* m_saved;
};

}  // namespace

void HostCallbackThrew() noexcept {
    if (CLogicECR* job = t_jobOnThread) job->OnHostCallbackThrew();
}

CLogicECR::CLogicECR() = default;
CLogicECR::~CLogicECR() = default;

// ---- base slots: a device that cannot do the operation fails the job ----
int CLogicECR::Open(int, const EcrDeviceRecord*) { return 0; }
int CLogicECR::Close(int) { return 0; }
int CLogicECR::ReadVAT(int, double*) { return 0; }
int CLogicECR::ReadStatus(int, EcrStatusRecord*, double*) { return 0; }
int CLogicECR::ReadSale(int, EcrSaleCallback) { return 0; }
int CLogicECR::ClearSale(int, EcrSaleCallback) { return 0; }
int CLogicECR::ReadAllPLU(int, EcrItemReadCallback) { return 0; }
int CLogicECR::ReadPLU(int, EcrItemRecord*, int, EcrItemReadCallback) { return 0; }
int CLogicECR::PgmPLU(int, EcrItemRecord*, int, EcrItemProgramCallback, int) { return 0; }
int CLogicECR::DelPLU(int, EcrItemRecord*, int, EcrItemProgramCallback) { return 0; }
int CLogicECR::ReadAllDEPT(int, EcrDeptReadCallback) { return 0; }
int CLogicECR::PgmDEPT(int, EcrDeptRecord*, int, EcrDeptProgramCallback) { return 0; }
int CLogicECR::ReadAllUnit(int, EcrUnitReadCallback) { return 0; }
int CLogicECR::PgmUNIT(int, EcrUnitRecord*, int, EcrUnitProgramCallback) { return 0; }

// ---- services ----
void CLogicECR::SetSerial(CTelepathy* serial) {
    m_pSerial = serial;
    m_bInterrupt = 0;
}

void CLogicECR::SetSocket(CTelepathySocket* socket) {
    m_pSocket = socket;
    m_bInterrupt = 0;
}

void CLogicECR::SetProtocol(CTelepathyECR* protocol) { m_pProtocol = protocol; }

void CLogicECR::SetErrorText(const std::string& text) {
    size_t n = text.size();
    if (n > static_cast<size_t>(kErrorTextSize - 1)) n = kErrorTextSize - 1;
    std::memmove(m_szError, text.data(), n);
    m_szError[n] = 0;
}

void CLogicECR::SetError(int code, const std::string& text) {
    if (IsRunning()) {
        m_nError = code;
        SetErrorText(text);
        return;
    }
    // No job of this object runs: hosts on any thread may be reading, and
    // two of them may be setting (a refusal on each).
    std::lock_guard<std::mutex> lock(m_publishMutex);
    m_nError = code;
    SetErrorText(text);
    m_publishedCode = m_nError;
    std::memcpy(m_publishedText, m_szError, sizeof m_publishedText);
}

void CLogicECR::PublishError() {
    std::lock_guard<std::mutex> lock(m_publishMutex);
    m_publishedCode = m_nError;
    std::memcpy(m_publishedText, m_szError, sizeof m_publishedText);
}

void CLogicECR::ErrorForHost(int& code, char* text, size_t textSize) const {
    if (textSize == 0) return;
    const size_t n = textSize < sizeof m_publishedText ? textSize : sizeof m_publishedText;
    if (t_jobOnThread == this) {
        code = m_nError;
        std::memcpy(text, m_szError, n);
    } else {
        std::lock_guard<std::mutex> lock(m_publishMutex);
        code = m_publishedCode;
        std::memcpy(text, m_publishedText, n);
    }
    text[n - 1] = 0;
}

void CLogicECR::OnHostCallbackThrew() {
    m_hostThrew.store(true, std::memory_order_release);
    // Broken off like a user's break: every wait ends at once.
    Break();
    if (m_pSerial) m_pSerial->Break();
    if (m_pSocket) m_pSocket->Break();
}

void CLogicECR::FailForHostCallback() { SetError(kSystemError, kSystemErrorText); }

void CLogicECR::Notify(int event, const std::string& text, int percent, int value) {
    if (m_pSerial) m_pSerial->Notify(event, text, percent, value);
}

void CLogicECR::ConfirmPLU(const EcrItemRecord* item, int code, const std::string& text) {
    ConfirmText t(text);
    CallHost(g_jobBlock.itemPgmCb, item, code, static_cast<const char*>(t.text));
}

void CLogicECR::ConfirmDEPT(const EcrDeptRecord* dept, int code, const std::string& text) {
    ConfirmText t(text);
    CallHost(g_jobBlock.deptPgmCb, dept, code, static_cast<const char*>(t.text));
}

void CLogicECR::ConfirmUnit(const EcrUnitRecord* unit, int code, const std::string& text) {
    ConfirmText t(text);
    CallHost(g_jobBlock.unitPgmCb, unit, code, static_cast<const char*>(t.text));
}

void CLogicECR::SendPLU(const EcrItemRecord* item) { CallHost(g_jobBlock.itemReadCb, item); }
void CLogicECR::SendDEPT(const EcrDeptRecord* dept) { CallHost(g_jobBlock.deptReadCb, dept); }
void CLogicECR::SendUnit(const EcrUnitRecord* unit) { CallHost(g_jobBlock.unitReadCb, unit); }
void CLogicECR::SendSale(const EcrItemRecord* item, const EcrSaleRecord* sale) {
    CallHost(g_jobBlock.saleCb, item, sale);
}

// ---- job flow ----
int CLogicECR::Prepare() {
    JobOnThisThread onThisThread(this);
    m_hostThrew.store(false, std::memory_order_release);
    const EcrDeviceRecord* record = &g_jobBlock.device;
    if (OpenDevice(record) == 1) return 1;
    Finish(record);
    ReleaseTransports(record);
    PublishError();
    return 0;
}

void CLogicECR::StartFailed() {
    JobOnThisThread onThisThread(this);
    const EcrDeviceRecord* record = &g_jobBlock.device;
    SetError(kSystemError, kSystemErrorText);
    PublishError();
    Notify(ECR_EVENT_SYSTEM_ERROR, m_szError, 0, kSystemError);
    Finish(record);
    m_bConnected = 0;
    ReleaseTransports(record);
}

void CLogicECR::ReleaseTransports(const EcrDeviceRecord* record) {
    // One failed start must not keep the process's only port (or the
    // socket) held: every later job would find it in use.
    if (m_pSerial) {
        m_pSerial->Close(record->port, 0);
        if (m_pProtocol && m_pProtocol->m_nPort != 0 && m_pProtocol->m_nPort != record->port)
            m_pSerial->Close(m_pProtocol->m_nPort, 0);
    }
    if (m_pSocket) m_pSocket->CloseSocket();
}

int CLogicECR::OpenSerialProtocol(CTelepathyECR& protocol, const EcrDeviceRecord* record, int fallback,
                                  NoRecordAnswer noRecord,
                                  const std::function<int(const EcrDeviceRecord&)>& open) {
    if (!record) {
        switch (noRecord) {
        case NoRecordAnswer::OwnText: SetError(kBadParameters, GetErrorText(kBadParameters)); break;
        case NoRecordAnswer::JobParameters: SetError(kBadParameters, kBadParametersText); break;
        case NoRecordAnswer::SystemError: SetError(kSystemError, kSystemErrorText); break;
        }
        return 0;
    }
    if (!m_pSerial) {
        SetError(kSystemError, kSystemErrorText);
        return 0;
    }
    protocol.SetSerial(m_pSerial);
    SetProtocol(&protocol);
    return open(*record) == 1 ? 1 : ProtocolFailed(protocol, fallback);
}

int CLogicECR::OpenSerialProtocol(CTelepathyECR& protocol, int port, const EcrDeviceRecord* record, int fallback) {
    return OpenSerialProtocol(protocol, record, fallback, NoRecordAnswer::OwnText,
                              [&](const EcrDeviceRecord& r) { return protocol.Open(port, r.baud); });
}

int CLogicECR::OpenDevice(const EcrDeviceRecord* record) {
    if (!m_pSerial) {
        m_bConnected = 0;
        SetError(kSystemError, kSystemErrorText);
        Notify(ECR_EVENT_SYSTEM_ERROR, m_szError, 0, kSystemError);
        return 0;
    }
    // The job's own callback is installed first, so event 1 reaches it.
    // Protocols on TCP report through the socket object: with no window
    // messages on this platform the callback is the host's only way to see
    // their events, so the socket gets it too.
    m_pSerial->SetCallback(g_jobBlock.progressCb);
    if (m_pSocket) m_pSocket->SetCallback(g_jobBlock.progressCb);
    Notify(ECR_EVENT_OPENING, std::string(), 0, 0);
    if (HostCallbackFailed()) {
        // The host's callback threw at the first event: the device is not
        // even opened.
        m_bConnected = 0;
        FailForHostCallback();
        PublishError();
        Notify(ECR_EVENT_SYSTEM_ERROR, m_szError, 0, m_nError);
        return 0;
    }

    // An open that fails without a code must not be reported with the code
    // the protocol kept from an earlier job.
    if (m_pProtocol) m_pProtocol->m_nError = 0;
    int r = 0;
    try {
        r = Open(record->port, record);
    } catch (...) {
        r = 0;
        if (m_nError == 0) SetError(kSystemError, kSystemErrorText);
    }
    if (r == 1) {
        m_bConnected = 1;
        // No code of an earlier job may be taken for this one's.
        if (m_pProtocol) m_pProtocol->m_nError = 0;
        return 1;
    }
    m_bConnected = 0;
    if (m_nError == 0) {
        // The class forgot to copy its protocol's code: take it, or report
        // a system error, so the events and the host see a failure code.
        if (m_pProtocol && m_pProtocol->m_nError != 0)
            SetError(m_pProtocol->m_nError, GetErrorText(m_pProtocol->m_nError));
        else
            SetError(kSystemError, kSystemErrorText);
    }
    if (HostCallbackFailed()) FailForHostCallback();
    PublishError();
    const int code = m_nError;
    const int event = (code <= -1 && code >= -4) ? ECR_EVENT_SYSTEM_ERROR : ECR_EVENT_DEVICE_ERROR;
    Notify(event, m_szError, 0, code);
    return 0;
}

void CLogicECR::EnsureFailureCode() {
    if (m_nError != 0) return;
    if (m_pProtocol && m_pProtocol->m_nError != 0)
        SetError(m_pProtocol->m_nError, GetErrorText(m_pProtocol->m_nError));
    else
        SetError(kNotAvailable, kNotAvailableText);
}

int CLogicECR::AccountForRest(int from, int count, const std::function<std::string(int)>& text,
                              const std::function<void(int, int, const std::string&)>& report) {
    m_bDeviceGone = true;
    const int code = m_nError;
    const std::string codeText = m_szError;
    for (int j = from; j < count; ++j) {
        if (IsBreakSet() || (m_pSerial && m_pSerial->IsAborted())) {
            SetError(-7, GetErrorText(-7));
            return 0;
        }
        Notify(ECR_EVENT_ITEM, text(j), ItemPercent(j, count), 0);
        report(j, code, codeText);
    }
    return 0;
}

int CLogicECR::ReadEachItem(int count, const std::function<std::string(int)>& text,
                            const std::function<int(int)>& read, const std::function<bool(int)>& goesOn) {
    int result = 0;
    NoAnswerRun silent(*this);
    for (int i = 0; i < count; ++i) {
        SetError(0, std::string());
        Notify(ECR_EVENT_ITEM, text(i), ItemPercent(i, count), 0);
        if (read(i) == 1) {
            result = 1;
            silent.Gone(0);
            continue;
        }
        result = 0;
        EnsureFailureCode();
        if (m_nError == -7) return 0;
        if (goesOn && !goesOn(m_nError)) return 0;
        Notify(ECR_EVENT_DEVICE_ERROR, m_szError, 0, m_nError);
        if (silent.Gone(m_nError)) {
            return AccountForRest(i + 1, count, text, [this](int, int code, const std::string& t) {
                Notify(ECR_EVENT_DEVICE_ERROR, t, 0, code);
            });
        }
    }
    return result;
}

int CLogicECR::ReportResult(int r) {
    if (r == 1) {
        PublishError();
        Notify(ECR_EVENT_SUCCEEDED, std::string(), 0, 0);
        return r;
    }
    EnsureFailureCode();
    PublishError();
    Notify(ECR_EVENT_FAILED, m_szError, 0, m_nError);
    return r;
}

void CLogicECR::Finish(const EcrDeviceRecord* record) {
    if (m_bConnected) {
        try {
            Close(record->port);
        } catch (...) {
        }
        Notify(ECR_EVENT_CLOSED, std::string(), 0, 0);
    } else {
        Notify(ECR_EVENT_SYSTEM_ERROR, m_szError, 0, m_nError);
    }
}

namespace {

// Title of a job with a title event, or null.
const char* JobTitle(uint32_t job, uint32_t kind) {
    switch (job) {
    case 1: return PL("Odczyt danych o sprzedaży");
    case 2: return PL("Zerowanie liczników danych o sprzedaży");
    case 3:
    case 4: return PL("Odczyt danych o towarach");
    case 5:
    case 6:
    case 18:
        return kind == 1 ? PL("Aktualizacja danych o towarach") : PL("Programowanie danych o towarach");
    case 7: return PL("Kasowanie danych o towarach");
    case 9: return PL("Odczyt danych o działach (grupach) towarowych");
    case 11: return PL("Programowanie danych o działach (grupach) towarach");
    case 12: return PL("Odczyt danych o jednostkach miary");
    case 13: return PL("Programowanie danych o jednostkach miary");
    case 14: return PL("Odczyt statusu i konfiguracji kasy");
    case 15: return PL("Odczyt danych o stawkach podatkowych");
    default: return nullptr;
    }
}

void SetUndefinedVat(EcrVatRecord& vat) {
    for (double& rate : vat.rate) rate = -3.0;
}

}  // namespace

int CLogicECR::Run() {
    JobOnThisThread onThisThread(this);
    const EcrDeviceRecord* record = &g_jobBlock.device;
    int r = 0;
    bool thrown = false;
    try {
        r = RunJob(record);
    } catch (...) {
        r = 0;
        thrown = true;
        if (m_nError == 0) SetError(kSystemError, kSystemErrorText);
    }
    // Whatever the slot made of it, a host callback that threw fails the
    // job with a system error.
    if (HostCallbackFailed()) {
        r = 0;
        FailForHostCallback();
    }
    ReportResult(r);
    Finish(record);
    // Also when it threw at the result or the closing event.
    if (HostCallbackFailed()) FailForHostCallback();
    // A job left by an exception may have lost its way to Close: the port
    // is released all the same.
    if (thrown || HostCallbackFailed()) ReleaseTransports(record);
    PublishError();
    return 0;
}

int CLogicECR::RunJob(const EcrDeviceRecord* record) {
    EcrJobBlock& jb = g_jobBlock;
    const int port = record->port;
    const uint32_t job = jb.job;
    const int count = static_cast<int>(jb.count);
    m_bDeviceGone = false;

    if (const char* title = JobTitle(job, jb.kind)) {
        Notify(ECR_EVENT_TITLE, title, 0, 0);
        Notify(ECR_EVENT_WAIT, PL("Proszę czekać..."), 0, 0);
    }
    if (HostCallbackFailed()) return 0;

    // A job that works on the host's array needs one (and a count that is
    // not negative) before anything is read from it.
    auto arrayOk = [&](const void* array) {
        if (array && count >= 0) return true;
        SetError(kBadParameters, kBadParametersText);
        return false;
    };

    int r = 0;
    switch (job) {
    case 1: {
        CTelepathyECR* protocol = m_pProtocol;
        if (protocol) {
            protocol->OpenSaleLog();
            protocol->WriteSaleLog(CChrArr("#1\r\n#\r\n#"));
        }
        try {
            r = ReadSale(port, jb.saleCb);
        } catch (...) {
            if (protocol) protocol->CloseSaleLog();
            throw;
        }
        if (protocol) protocol->CloseSaleLog();
        break;
    }
    case 2: r = ClearSale(port, jb.saleCb); break;
    case 3: r = ReadAllPLU(port, jb.itemReadCb); break;
    case 4:
        if (arrayOk(jb.items)) r = ReadPLU(port, jb.items, count, jb.itemReadCb);
        break;
    case 5:
    case 6:
    case 18:
        if (arrayOk(jb.items)) r = PgmPLU(port, jb.items, count, jb.itemPgmCb, static_cast<int>(jb.kind));
        break;
    case 7:
        if (arrayOk(jb.items)) r = DelPLU(port, jb.items, count, jb.itemPgmCb);
        break;
    case 8: r = 1; break;
    case 9: r = ReadAllDEPT(port, jb.deptReadCb); break;
    case 11:
        if (arrayOk(jb.depts)) r = PgmDEPT(port, jb.depts, count, jb.deptPgmCb);
        break;
    case 12: r = ReadAllUnit(port, jb.unitReadCb); break;
    case 13:
        if (arrayOk(jb.units)) r = PgmUNIT(port, jb.units, count, jb.unitPgmCb);
        break;
    case 14:
        std::memset(&jb.status, 0, sizeof jb.status);
        SetUndefinedVat(jb.vat);
        r = ReadStatus(port, &jb.status, jb.vat.rate);
        if (r == 1) {
            jb.vatCopy = jb.vat;
            CallHost(jb.statusCb, static_cast<const EcrStatusRecord*>(&jb.status),
                     static_cast<const double*>(jb.vatCopy.rate));
        }
        break;
    case 15:
        SetUndefinedVat(jb.vat);
        r = ReadVAT(port, jb.vat.rate);
        if (r == 1) {
            jb.vatCopy = jb.vat;
            CallHost(jb.vatCb, static_cast<const double*>(jb.vatCopy.rate));
        }
        break;
    default:  // 10, 16, 17 and unknown codes: nothing to do, the job fails
        r = 0;
        break;
    }
    return r;
}
