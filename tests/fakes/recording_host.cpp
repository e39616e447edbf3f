#include "fakes/recording_host.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "job/job_block.h"
#include "comm/socket.h"
#include "comm/telepathy.h"
#include "job/logic_ecr.h"

namespace orv::test {

namespace {

VatRates ToRates(const double* vat) {
    VatRates r{};
    if (vat)
        for (int i = 0; i < 8; ++i) r[static_cast<size_t>(i)] = vat[i];
    return r;
}

std::string Text64(const char* text) {
    if (!text) return std::string();
    return std::string(text, strnlen(text, 64));
}

}  // namespace

RecordingHost& RecordingHost::Instance() {
    static RecordingHost host;
    return host;
}

void RecordingHost::Reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_events.clear();
    m_confirms.clear();
    m_items.clear();
    m_depts.clear();
    m_units.clear();
    m_sales.clear();
    m_vat.clear();
    m_status.clear();
    m_hook = nullptr;
}

std::vector<HostEvent> RecordingHost::Events() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_events;
}

std::vector<int> RecordingHost::EventCodes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<int> codes;
    for (const HostEvent& e : m_events) codes.push_back(e.code);
    return codes;
}

std::vector<HostEvent> RecordingHost::EventsWithCode(int code) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<HostEvent> out;
    for (const HostEvent& e : m_events)
        if (e.code == code) out.push_back(e);
    return out;
}

int RecordingHost::CountEvents(int code) const { return static_cast<int>(EventsWithCode(code).size()); }

std::vector<HostConfirm> RecordingHost::Confirmations() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_confirms;
}

std::vector<EcrItemRecord> RecordingHost::Items() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_items;
}

std::vector<EcrDeptRecord> RecordingHost::Depts() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_depts;
}

std::vector<EcrUnitRecord> RecordingHost::Units() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_units;
}

std::vector<HostSale> RecordingHost::Sales() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sales;
}

std::vector<VatRates> RecordingHost::VatCalls() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_vat;
}

std::vector<HostStatus> RecordingHost::StatusCalls() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_status;
}

int RecordingHost::ReadCallbackCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_items.size() + m_depts.size() + m_units.size() + m_sales.size() + m_vat.size() +
                            m_status.size());
}

void RecordingHost::SetEventHook(std::function<void(const HostEvent&)> hook) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hook = std::move(hook);
}

void ECR_CALL RecordingHost::OnProgress(int event, const char* text, int percent, int value) {
    RecordingHost& h = Instance();
    HostEvent e;
    e.code = event;
    e.text = text ? std::string(text) : std::string();
    e.percent = percent;
    e.value = value;
    std::function<void(const HostEvent&)> hook;
    {
        std::lock_guard<std::mutex> lock(h.m_mutex);
        h.m_events.push_back(e);
        hook = h.m_hook;
    }
    if (hook) hook(e);
}

void ECR_CALL RecordingHost::OnVat(const double vat[8]) {
    RecordingHost& h = Instance();
    std::lock_guard<std::mutex> lock(h.m_mutex);
    h.m_vat.push_back(ToRates(vat));
}

void ECR_CALL RecordingHost::OnStatus(const EcrStatusRecord* status, const double vat[8]) {
    RecordingHost& h = Instance();
    HostStatus s;
    if (status) s.status = *status;
    s.vat = ToRates(vat);
    std::lock_guard<std::mutex> lock(h.m_mutex);
    h.m_status.push_back(s);
}

void ECR_CALL RecordingHost::OnItemRead(const EcrItemRecord* item) {
    RecordingHost& h = Instance();
    std::lock_guard<std::mutex> lock(h.m_mutex);
    h.m_items.push_back(item ? *item : EcrItemRecord{});
}

void ECR_CALL RecordingHost::OnSale(const EcrItemRecord* item, const EcrSaleRecord* sale) {
    RecordingHost& h = Instance();
    HostSale s;
    if (item) s.item = *item;
    if (sale) s.sale = *sale;
    std::lock_guard<std::mutex> lock(h.m_mutex);
    h.m_sales.push_back(s);
}

// One confirmation of a programmed item, department or unit.
template <class Rec>
void RecordingHost::RecordConfirm(ConfirmKind kind, Rec HostConfirm::*field, const Rec* rec, int code,
                                  const char* text) {
    RecordingHost& h = Instance();
    HostConfirm c;
    c.kind = kind;
    if (rec) {
        c.*field = *rec;
        c.number = rec->number;
    }
    c.code = code;
    c.text = Text64(text);
    std::lock_guard<std::mutex> lock(h.m_mutex);
    h.m_confirms.push_back(c);
}

void ECR_CALL RecordingHost::OnItemProgram(const EcrItemRecord* item, int code, const char text[64]) {
    RecordConfirm(ConfirmKind::Item, &HostConfirm::item, item, code, text);
}

void ECR_CALL RecordingHost::OnDeptRead(const EcrDeptRecord* dept) {
    RecordingHost& h = Instance();
    std::lock_guard<std::mutex> lock(h.m_mutex);
    h.m_depts.push_back(dept ? *dept : EcrDeptRecord{});
}

void ECR_CALL RecordingHost::OnDeptProgram(const EcrDeptRecord* dept, int code, const char text[64]) {
    RecordConfirm(ConfirmKind::Dept, &HostConfirm::dept, dept, code, text);
}

void ECR_CALL RecordingHost::OnUnitRead(const EcrUnitRecord* unit) {
    RecordingHost& h = Instance();
    std::lock_guard<std::mutex> lock(h.m_mutex);
    h.m_units.push_back(unit ? *unit : EcrUnitRecord{});
}

void ECR_CALL RecordingHost::OnUnitProgram(const EcrUnitRecord* unit, int code, const char text[64]) {
    RecordConfirm(ConfirmKind::Unit, &HostConfirm::unit, unit, code, text);
}

EcrDeviceRecord DeviceRecord(int type, int port, int baud, int kind) {
    EcrDeviceRecord d{};
    d.type = type;
    d.port = port;
    d.baud = baud;
    d.kind = kind;
    d.progress = &RecordingHost::OnProgress;
    return d;
}

void PrepareJobBlock(uint32_t job, const EcrDeviceRecord& device) {
    g_jobBlock = EcrJobBlock{};
    g_jobBlock.job = job;
    g_jobBlock.device = device;
    g_jobBlock.progressCb = device.progress;
    g_jobBlock.vatCb = &RecordingHost::OnVat;
    g_jobBlock.statusCb = &RecordingHost::OnStatus;
    g_jobBlock.itemReadCb = &RecordingHost::OnItemRead;
    g_jobBlock.saleCb = &RecordingHost::OnSale;
    g_jobBlock.itemPgmCb = &RecordingHost::OnItemProgram;
    g_jobBlock.deptReadCb = &RecordingHost::OnDeptRead;
    g_jobBlock.deptPgmCb = &RecordingHost::OnDeptProgram;
    g_jobBlock.unitReadCb = &RecordingHost::OnUnitRead;
    g_jobBlock.unitPgmCb = &RecordingHost::OnUnitProgram;
}

bool WaitJobEnd(const CLogicECR& logic, int timeoutMs) {
    // Polls as a host polls EcrIsDone.
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (logic.IsRunning()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool RunJob(CLogicECR& logic, uint32_t job, CTelepathy* serial, CTelepathySocket* socket, int timeoutMs) {
    g_jobBlock.job = job;
    logic.SetError(0, std::string());
    logic.SetSerial(serial);
    logic.SetSocket(socket);
    if (serial) serial->ClearBreak();
    if (socket) socket->ClearBreak();
    bool started = logic.Start(nullptr, 0);
    WaitJobEnd(logic, timeoutMs);
    return started;
}

bool WaitEcrDone(int timeoutMs, std::chrono::microseconds poll) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!EcrIsDone()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(poll);
    }
    return true;
}

EcrItemRecord HostItemRecord(const ItemFields& f) {
    EcrItemRecord r;
    std::memset(&r, 0, sizeof r);
    r.number = f.number;
    std::strncpy(r.name, f.name, sizeof r.name - 1);
    std::strncpy(r.code, f.code, sizeof r.code - 1);
    r.price = f.price;
    r.vat_group = f.vat;
    r.department = f.dept;
    r.unit = f.unit;
    return r;
}

EcrDeptRecord HostDeptRecord(const DeptFields& f) {
    EcrDeptRecord d;
    std::memset(&d, 0, sizeof d);
    d.number = f.number;
    std::strncpy(d.name, f.name, sizeof d.name - 1);
    d.vat_group = f.vat;
    d.price = f.price;
    d.word100 = f.word100;
    return d;
}

std::string Utf8(const std::string& cp1250) {
    static const struct {
        unsigned char cp;
        const char* utf8;
    } kLetters[] = {{0xA5, "Ą"}, {0xC6, "Ć"}, {0xCA, "Ę"}, {0xA3, "Ł"}, {0xD1, "Ń"}, {0xD3, "Ó"},
                    {0x8C, "Ś"}, {0x8F, "Ź"}, {0xAF, "Ż"}, {0xB9, "ą"}, {0xE6, "ć"}, {0xEA, "ę"},
                    {0xB3, "ł"}, {0xF1, "ń"}, {0xF3, "ó"}, {0x9C, "ś"}, {0x9F, "ź"}, {0xBF, "ż"},
                    {0x96, "–"}};
    std::string out;
    for (char ch : cp1250) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += ch;
            continue;
        }
        const char* mapped = "?";
        for (const auto& l : kLetters)
            if (l.cp == c) mapped = l.utf8;
        out += mapped;
    }
    return out;
}

}  // namespace orv::test
