// A recording host for tests: plain C callbacks (as a host passes them) that
// record every event, confirmation and record the library hands over, into
// one process-wide recorder. Callbacks arrive on the library's worker
// thread; the recorder is safe to read from the test's thread at any time.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "orvanta/ecr.h"

class CLogicECR;
class CTelepathy;
class CTelepathySocket;

namespace orv::test {

struct HostEvent {
    int code = 0;
    std::string text;       // CP1250, as the library sent it
    int percent = 0;
    int value = 0;
};

enum class ConfirmKind { Item, Dept, Unit };

struct HostConfirm {
    ConfirmKind kind = ConfirmKind::Item;
    uint32_t number = 0;    // the record's number
    int code = 0;
    std::string text;       // CP1250, at most 63 characters
    EcrItemRecord item{};   // the record handed over (by kind)
    EcrDeptRecord dept{};
    EcrUnitRecord unit{};
};

struct HostSale {
    EcrItemRecord item{};
    EcrSaleRecord sale{};
};

using VatRates = std::array<double, 8>;

struct HostStatus {
    EcrStatusRecord status{};
    VatRates vat{};
};

class RecordingHost {
public:
    static RecordingHost& Instance();

    // Forgets everything recorded and removes the hooks.
    void Reset();

    std::vector<HostEvent> Events() const;
    std::vector<int> EventCodes() const;
    std::vector<HostEvent> EventsWithCode(int code) const;
    int CountEvents(int code) const;
    std::vector<HostConfirm> Confirmations() const;
    std::vector<EcrItemRecord> Items() const;     // item read callback
    std::vector<EcrDeptRecord> Depts() const;     // department read callback
    std::vector<EcrUnitRecord> Units() const;     // unit read callback
    std::vector<HostSale> Sales() const;          // sale callback
    std::vector<VatRates> VatCalls() const;       // VAT callback
    std::vector<HostStatus> StatusCalls() const;  // status callback
    // Number of calls of any read, sale, VAT or status callback.
    int ReadCallbackCount() const;

    // Called after each event is recorded, on the thread that sent it (for
    // instance to break the job off at a given event). Not under the lock.
    void SetEventHook(std::function<void(const HostEvent&)> hook);

    // The callbacks, as a host passes them.
    static void ECR_CALL OnProgress(int event, const char* text, int percent, int value);
    static void ECR_CALL OnVat(const double vat[8]);
    static void ECR_CALL OnStatus(const EcrStatusRecord* status, const double vat[8]);
    static void ECR_CALL OnItemRead(const EcrItemRecord* item);
    static void ECR_CALL OnSale(const EcrItemRecord* item, const EcrSaleRecord* sale);
    static void ECR_CALL OnItemProgram(const EcrItemRecord* item, int code, const char text[64]);
    static void ECR_CALL OnDeptRead(const EcrDeptRecord* dept);
    static void ECR_CALL OnDeptProgram(const EcrDeptRecord* dept, int code, const char text[64]);
    static void ECR_CALL OnUnitRead(const EcrUnitRecord* unit);
    static void ECR_CALL OnUnitProgram(const EcrUnitRecord* unit, int code, const char text[64]);

private:
    RecordingHost() = default;
    template <class Rec>
    static void RecordConfirm(ConfirmKind kind, Rec HostConfirm::*field, const Rec* rec, int code,
                              const char* text);

    mutable std::mutex m_mutex;
    std::vector<HostEvent> m_events;
    std::vector<HostConfirm> m_confirms;
    std::vector<EcrItemRecord> m_items;
    std::vector<EcrDeptRecord> m_depts;
    std::vector<EcrUnitRecord> m_units;
    std::vector<HostSale> m_sales;
    std::vector<VatRates> m_vat;
    std::vector<HostStatus> m_status;
    std::function<void(const HostEvent&)> m_hook;
};

inline RecordingHost& Host() { return RecordingHost::Instance(); }

// A device record of the given type whose progress callback is the recorder's.
EcrDeviceRecord DeviceRecord(int type, int port = 1, int baud = 9600, int kind = 0);

// For tests that drive a logic object without the exports: puts the device
// record and every recorder callback into the job block, with the items,
// departments or units given (count as given).
void PrepareJobBlock(uint32_t job, const EcrDeviceRecord& device);

// Runs one job on a logic object the way the dispatcher does: the job code
// into the block (the rest of the block as the test left it), the transports
// lent, the error cleared, Start; then waits until the worker has ended (at
// most timeoutMs). Returns what Start returned. The serial object may be
// null (the job then fails with a system error).
bool RunJob(CLogicECR& logic, uint32_t job, CTelepathy* serial, CTelepathySocket* socket,
            int timeoutMs = 30000);
// Waits until the logic object's worker has ended; false on time-out.
bool WaitJobEnd(const CLogicECR& logic, int timeoutMs = 30000);

// Polls EcrIsDone as a host does; false when the job has not ended within
// timeoutMs.
bool WaitEcrDone(int timeoutMs = 30000, std::chrono::microseconds poll = std::chrono::milliseconds(1));

// The fields a host fills in a goods record; every other field is zero.
struct ItemFields {
    uint32_t number = 0;
    const char* name = "";
    const char* code = "";
    double price = 0.0;
    uint32_t vat = 0;
    uint32_t dept = 0;
    uint32_t unit = 0;
};
EcrItemRecord HostItemRecord(const ItemFields& f);

// The same for a department record.
struct DeptFields {
    uint32_t number = 0;
    const char* name = "";
    uint32_t vat = 0;
    double price = 0.0;
    uint32_t word100 = 0;
};
EcrDeptRecord HostDeptRecord(const DeptFields& f);

// CP1250 text as UTF-8 (for readable test messages).
std::string Utf8(const std::string& cp1250);

}  // namespace orv::test
