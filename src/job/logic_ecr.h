// CLogicECR: the job-logic base. It opens the device on the host's thread,
// runs the job on the worker, sends the host its events, hands records to the
// host callbacks and closes the device. Device families fill in the slots.
#pragma once

#include <atomic>
#include <cmath>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <type_traits>

#include "job/job_block.h"
#include "comm/socket.h"
#include "comm/telepathy.h"
#include "comm/telepathy_ecr.h"
#include "job/thread_job.h"
#include "orvanta/ecr.h"
#include "util/cp1250.h"
#include "util/host_call.h"

class CLogicECR : public CThreadJob {
public:
    CLogicECR();
    ~CLogicECR() override;

    int Run() override;
    int Prepare() override;
    void StartFailed() override;

    // ---- device slots (1 success; anything else failure) ----
    virtual std::string GetErrorText(int code) = 0;
    virtual int Open(int port, const EcrDeviceRecord* record);
    virtual int Close(int port);
    virtual int ReadVAT(int port, double vat[8]);
    virtual int ReadStatus(int port, EcrStatusRecord* status, double vat[8]);
    virtual int ReadSale(int port, EcrSaleCallback cb);
    virtual int ClearSale(int port, EcrSaleCallback cb);
    virtual int ReadAllPLU(int port, EcrItemReadCallback cb);
    virtual int ReadPLU(int port, EcrItemRecord* items, int count, EcrItemReadCallback cb);
    virtual int PgmPLU(int port, EcrItemRecord* items, int count, EcrItemProgramCallback cb, int kind);
    virtual int DelPLU(int port, EcrItemRecord* items, int count, EcrItemProgramCallback cb);
    virtual int ReadAllDEPT(int port, EcrDeptReadCallback cb);
    virtual int PgmDEPT(int port, EcrDeptRecord* depts, int count, EcrDeptProgramCallback cb);
    virtual int ReadAllUnit(int port, EcrUnitReadCallback cb);
    virtual int PgmUNIT(int port, EcrUnitRecord* units, int count, EcrUnitProgramCallback cb);

    // ---- services for the slots ----
    void SetSerial(CTelepathy* serial);        // also clears the interrupt flag
    void SetSocket(CTelepathySocket* socket);  // also clears the interrupt flag
    void SetProtocol(CTelepathyECR* protocol);
    CTelepathyECR* GetProtocol() const { return m_pProtocol; }
    CTelepathy* GetSerial() const { return m_pSerial; }
    CTelepathySocket* GetSocket() const { return m_pSocket; }

    void Notify(int event, const std::string& text, int percent, int value);
    void ConfirmPLU(const EcrItemRecord* item, int code, const std::string& text);
    void ConfirmDEPT(const EcrDeptRecord* dept, int code, const std::string& text);
    void ConfirmUnit(const EcrUnitRecord* unit, int code, const std::string& text);
    void SendPLU(const EcrItemRecord* item);
    void SendDEPT(const EcrDeptRecord* dept);
    void SendUnit(const EcrUnitRecord* unit);
    void SendSale(const EcrItemRecord* item, const EcrSaleRecord* sale);

    int OpenDevice(const EcrDeviceRecord* record);
    int ReportResult(int r);
    void Finish(const EcrDeviceRecord* record);

    // A failure must never leave error code 0: when it is, take the
    // registered protocol's code and this class's text for it, else code 25
    // with the common "command not available" text.
    void EnsureFailureCode();

    // ---- error state ----
    // The job's own code and text: the slots and the job's thread work on
    // them while the job runs.
    int GetErrorCode() const { return m_nError; }
    const char* GetErrorMessage() const { return m_szError; }   // CP1250, owned by the object
    void SetErrorCode(int code) { m_nError = code; }
    void SetErrorText(const std::string& text);
    // Outside a job (a refusal, EcrCreate) the pair is published at once.
    void SetError(int code, const std::string& text);

    // What EcrError and EcrErrMsg give: on the job's own thread (a host
    // callback asking) the job's code and text as they stand; on any other
    // thread the last pair the job published, always a whole one (a job
    // publishes when it fails to open, when it reports its result and when
    // it ends). The text (at most textSize - 1 characters) is copied out.
    void ErrorForHost(int& code, char* text, size_t textSize) const;
    void PublishError();
    static constexpr int kErrorTextSize = 512;

    // A host callback threw during this job: the job is broken off and ends
    // as failed with 999999.
    bool HostCallbackFailed() const { return m_hostThrew.load(std::memory_order_acquire); }
    void OnHostCallbackThrew();
    // Copies the protocol's code and this class's text for it.
    void TakeProtocolError(const CTelepathyECR& protocol) {
        SetError(protocol.m_nError, GetErrorText(protocol.m_nError));
    }
    // A failed protocol operation: its code (`fallback` when it holds none)
    // and text become this object's error. Returns 0.
    int ProtocolFailed(CTelepathyECR& protocol, int fallback) {
        if (protocol.m_nError == 0) protocol.m_nError = fallback;
        TakeProtocolError(protocol);
        return 0;
    }
    // What the Open of a family answers when it is handed no device record.
    enum class NoRecordAnswer {
        OwnText,         // -1 with this class's text for it
        JobParameters,   // -1 with "Niewłaściwe parametry zadania"
        SystemError,     // 999999, as for a missing serial object
    };
    // The Open of a family with one protocol object on a serial line: the
    // record must be given (else `noRecord`) and a serial object lent (else
    // 999999 "System kas fiskalnych - błąd systemu !"); the protocol gets the
    // serial object, becomes the current protocol and is opened by `open`.
    // A failed open is taken as ProtocolFailed(protocol, fallback) does (a
    // fallback of 0 keeps the protocol's code as it is). 1, or 0 with the
    // error set.
    int OpenSerialProtocol(CTelepathyECR& protocol, const EcrDeviceRecord* record, int fallback,
                           NoRecordAnswer noRecord, const std::function<int(const EcrDeviceRecord&)>& open);
    // The same with the port opened at the record's baud and -1 with this
    // class's text for a missing record.
    int OpenSerialProtocol(CTelepathyECR& protocol, int port, const EcrDeviceRecord* record, int fallback);
    bool IsConnected() const { return m_bConnected != 0; }

    // Common item loop of the programming and deleting slots:
    // a count of 0 counts as 1 (for a non-null array); item i (from 1) sends
    // event 5 with text(item) and trunc(i * 100.0) / count; fn returns 1 for
    // success, anything else with m_nError/m_szError set for a failure; -7
    // ends the loop at once without a confirmation; a failure is confirmed
    // with its code and text; with event6OnFirstFailure the first failure
    // that is not on the last item also sends event 6; a device that stops
    // answering ends the loop (kNoAnswerLimit, below). Returns the result of
    // the last item handled (1 or 0).
    struct ItemLoopOptions {
        bool event6OnFirstFailure = false;
        bool confirmSuccess = false;          // also confirm accepted items with 0 and ""
    };
    // Rec is taken from the array, so lambdas can be passed directly.
    template <class Rec>
    int ItemLoop(Rec* items, int count, const std::function<std::string(const std::type_identity_t<Rec>&)>& text,
                 const std::function<int(std::type_identity_t<Rec>&, int index)>& fn,
                 const ItemLoopOptions& opt);
    // (An overload rather than a default argument: clang wants the options'
    // member initializers before a default argument inside the class.)
    template <class Rec>
    int ItemLoop(Rec* items, int count, const std::function<std::string(const std::type_identity_t<Rec>&)>& text,
                 const std::function<int(std::type_identity_t<Rec>&, int index)>& fn) {
        return ItemLoop(items, count, text, fn, ItemLoopOptions{});
    }

    // ---- a device that stops answering ----
    // A loop over the host's items (or over record numbers) takes the device
    // for gone once this many items in a row failed for want of an answer:
    // it sends nothing more, accounts for the items not reached with the
    // last code (AccountForRest) and the job fails with it. Any other
    // failure is an answer and starts the count again.
    static constexpr int kNoAnswerLimit = 3;
    // The family's own code for "the device sent no answer" (0: none of its
    // own). Transport codes other than a break count in every family.
    virtual int NoAnswerCode() const { return 0; }
    virtual bool IsNoAnswer(int code) const {
        return (code <= -1 && code >= -10 && code != -7) || (code != 0 && code == NoAnswerCode());
    }
    // Counts the items of one loop that failed in a row for want of an answer.
    class NoAnswerRun {
    public:
        explicit NoAnswerRun(const CLogicECR& logic) : m_logic(logic) {}
        // After each item with its code (0: it went through); true once the
        // device is to be taken for gone.
        bool Gone(int code) {
            m_run = m_logic.IsNoAnswer(code) ? m_run + 1 : 0;
            return m_run >= kNoAnswerLimit;
        }

    private:
        const CLogicECR& m_logic;
        int m_run = 0;
    };
    // The items from..count-1 of a loop that gave the device up: each gets
    // its event 5 (text(index)) and report(index, code, text) with the code
    // and text the object holds, without traffic; a break ends this at once
    // with -7. Returns 0 (the job fails).
    int AccountForRest(int from, int count, const std::function<std::string(int index)>& text,
                       const std::function<void(int index, int code, const std::string& text)>& report);
    // Common loop of the slots that read chosen items: item i (from 0) sends
    // event 5 with text(i) and its percentage; read(i) hands the record to
    // the host and returns 1, or returns 0 with the error set. A failed item
    // gives event 6 with its code and text and the loop goes on, unless
    // goesOn is given and refuses the code (then the loop ends at once with
    // it, no event 6); -7 ends it at once; a device that stops answering is
    // given up (kNoAnswerLimit), each item not reached getting event 6 with
    // that code. Returns the result of the last item handled (a success
    // leaves no error behind).
    int ReadEachItem(int count, const std::function<std::string(int index)>& text,
                     const std::function<int(int index)>& read,
                     const std::function<bool(int code)>& goesOn = nullptr);
    // Whether a loop of this job gave the device up (nothing more is sent).
    bool DeviceGone() const { return m_bDeviceGone; }
    // Event 5 percentage of item index (from 0) of count.
    static int ItemPercent(int index, int count) {
        return static_cast<int>(std::trunc((index + 1) * 100.0) / count);
    }

    int m_nError = 0;

protected:
    char m_szError[kErrorTextSize] = {0};
    CTelepathy* m_pSerial = nullptr;
    CTelepathyECR* m_pProtocol = nullptr;
    CTelepathySocket* m_pSocket = nullptr;
    uint8_t m_bInterrupt = 0;
    uint8_t m_bConnected = 0;
    bool m_bDeviceGone = false;

private:
    mutable std::mutex m_publishMutex;
    int m_publishedCode = 0;
    char m_publishedText[kErrorTextSize] = {0};
    std::atomic<bool> m_hostThrew{false};

    void ReleaseTransports(const EcrDeviceRecord* record);   // closes the port(s) and the socket
    void FailForHostCallback();                              // 999999 and the system text
    int RunJob(const EcrDeviceRecord* record);               // the job switch; the slot's result
    void Confirm(const EcrItemRecord* r, int code, const std::string& t) { ConfirmPLU(r, code, t); }
    void Confirm(const EcrDeptRecord* r, int code, const std::string& t) { ConfirmDEPT(r, code, t); }
    void Confirm(const EcrUnitRecord* r, int code, const std::string& t) { ConfirmUnit(r, code, t); }
};

template <class Rec>
int CLogicECR::ItemLoop(Rec* items, int count, const std::function<std::string(const std::type_identity_t<Rec>&)>& text,
                        const std::function<int(std::type_identity_t<Rec>&, int index)>& fn,
                        const ItemLoopOptions& opt) {
    if (!items) {
        SetError(-1, PL("Niewłaściwe parametry zadania"));
        return 0;
    }
    if (count <= 0) count = 1;
    int result = 0;
    bool firstFailureSeen = false;
    m_bDeviceGone = false;
    NoAnswerRun silent(*this);
    for (int i = 0; i < count; ++i) {
        Rec& rec = items[i];
        Notify(ECR_EVENT_ITEM, text ? text(rec) : std::string(), ItemPercent(i, count), 0);
        m_nError = 0;
        m_szError[0] = 0;
        int r = fn(rec, i);
        // A failure whose code stayed in the protocol object is taken first,
        // so a break reported only there also ends the loop.
        if (r != 1) EnsureFailureCode();
        if (m_nError == -7) {
            // Broken off by the user: no confirmation, the loop ends here.
            if (m_szError[0] == 0) SetErrorText(GetErrorText(-7));
            return 0;
        }
        if (r == 1) {
            result = 1;
            silent.Gone(0);
            if (opt.confirmSuccess) Confirm(&rec, 0, std::string());
            continue;
        }
        result = 0;
        if (opt.event6OnFirstFailure && !firstFailureSeen && i != count - 1)
            Notify(ECR_EVENT_DEVICE_ERROR, m_szError, 0, m_nError);
        firstFailureSeen = true;
        Confirm(&rec, m_nError, m_szError);
        if (silent.Gone(m_nError)) {
            return AccountForRest(
                i + 1, count, [&](int j) { return text ? text(items[j]) : std::string(); },
                [&](int j, int code, const std::string& t) { Confirm(&items[j], code, t); });
        }
    }
    return result;
}
