#include "fakes/fake_logic.h"

#include <stdexcept>

#include "util/cp1250.h"

namespace orv::test {

CFakeLogic::CFakeLogic(std::string name) : m_name(std::move(name)) {}
// A job still running (a test that failed half-way) ends before the object goes.
CFakeLogic::~CFakeLogic() { Shutdown(); }

std::vector<std::string> CFakeLogic::Calls() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
}

void CFakeLogic::ClearCalls() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.clear();
    m_itemsTried.clear();
}

std::vector<int> CFakeLogic::ItemsTried() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_itemsTried;
}

void CFakeLogic::Record(const std::string& call) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.push_back(call);
}

std::string CFakeLogic::GetErrorText(int code) {
    auto it = errorTexts.find(code);
    if (it != errorTexts.end()) return it->second;
    return std::string(PL("Błąd ")) + std::to_string(code);
}

int CFakeLogic::Apply(const SlotScript& s) {
    if (s.protocolError != 0) m_protocol.m_nError = s.protocolError;
    if (s.error != 0) SetError(s.error, s.text);
    return s.result;
}

template <class Rec>
int CFakeLogic::Loop(Rec* items, int count) {
    return ItemLoop(
        items, count, [](const Rec& r) { return std::string("#") + std::to_string(r.number); },
        [this](Rec&, int index) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_itemsTried.push_back(index);
            }
            auto it = itemFailures.find(index);
            if (it == itemFailures.end()) return 1;
            return Apply(it->second);
        },
        loopOptions);
}

int CFakeLogic::Open(int port, const EcrDeviceRecord* record) {
    Record("Open(" + std::to_string(port) + ",type=" + std::to_string(record ? record->type : -1) + ")");
    if (registerProtocol) {
        SetProtocol(&m_protocol);
        m_protocol.SetSerial(GetSerial());
    }
    return Apply(open);
}

int CFakeLogic::Close(int port) {
    Record("Close(" + std::to_string(port) + ")");
    return Apply(close);
}

#define ORV_FAKE_THROW_CHECK() \
    if (throwInSlot) throw std::runtime_error("scripted failure")

int CFakeLogic::ReadVAT(int port, double vat[8]) {
    Record("ReadVAT(" + std::to_string(port) + ")");
    ORV_FAKE_THROW_CHECK();
    for (int i = 0; i < 8; ++i) vat[i] = vatRates[i];
    return Apply(readVat);
}

int CFakeLogic::ReadStatus(int port, EcrStatusRecord* st, double vat[8]) {
    // Record what the framework handed over before writing anything.
    bool zeroed = true;
    const auto* bytes = reinterpret_cast<const unsigned char*>(st);
    for (size_t i = 0; i < sizeof *st; ++i) zeroed = zeroed && bytes[i] == 0;
    bool undefinedVat = true;
    for (int i = 0; i < 8; ++i) undefinedVat = undefinedVat && vat[i] == -3.0;
    Record("ReadStatus(" + std::to_string(port) + ",zeroed=" + std::to_string(zeroed) +
           ",vat=" + std::to_string(undefinedVat) + ")");
    ORV_FAKE_THROW_CHECK();
    *st = status;
    if (writeVatInStatus)
        for (int i = 0; i < 8; ++i) vat[i] = vatRates[i];
    return Apply(readStatus);
}

int CFakeLogic::ReadSale(int port, EcrSaleCallback) {
    Record("ReadSale(" + std::to_string(port) + ")");
    ORV_FAKE_THROW_CHECK();
    for (const auto& s : sales) SendSale(&s.first, &s.second);
    return Apply(readSale);
}

int CFakeLogic::ClearSale(int port, EcrSaleCallback) {
    Record("ClearSale(" + std::to_string(port) + ")");
    ORV_FAKE_THROW_CHECK();
    for (const auto& s : sales) SendSale(&s.first, &s.second);
    return Apply(clearSale);
}

int CFakeLogic::ReadAllPLU(int port, EcrItemReadCallback) {
    Record("ReadAllPLU(" + std::to_string(port) + ")");
    ORV_FAKE_THROW_CHECK();
    for (const auto& p : plus) SendPLU(&p);
    return Apply(readAllPlu);
}

int CFakeLogic::ReadPLU(int port, EcrItemRecord*, int count, EcrItemReadCallback) {
    Record("ReadPLU(" + std::to_string(port) + "," + std::to_string(count) + ")");
    ORV_FAKE_THROW_CHECK();
    for (const auto& p : plus) SendPLU(&p);
    return Apply(readPlu);
}

int CFakeLogic::PgmPLU(int port, EcrItemRecord* items, int count, EcrItemProgramCallback, int kind) {
    Record("PgmPLU(" + std::to_string(port) + "," + std::to_string(count) + ",kind=" + std::to_string(kind) + ")");
    ORV_FAKE_THROW_CHECK();
    if (pgmPlu.result != 1 || pgmPlu.error != 0) return Apply(pgmPlu);
    return Loop(items, count);
}

int CFakeLogic::DelPLU(int port, EcrItemRecord* items, int count, EcrItemProgramCallback) {
    Record("DelPLU(" + std::to_string(port) + "," + std::to_string(count) + ")");
    ORV_FAKE_THROW_CHECK();
    if (delPlu.result != 1 || delPlu.error != 0) return Apply(delPlu);
    return Loop(items, count);
}

int CFakeLogic::ReadAllDEPT(int port, EcrDeptReadCallback) {
    Record("ReadAllDEPT(" + std::to_string(port) + ")");
    ORV_FAKE_THROW_CHECK();
    for (const auto& d : depts) SendDEPT(&d);
    return Apply(readAllDept);
}

int CFakeLogic::PgmDEPT(int port, EcrDeptRecord* items, int count, EcrDeptProgramCallback) {
    Record("PgmDEPT(" + std::to_string(port) + "," + std::to_string(count) + ")");
    ORV_FAKE_THROW_CHECK();
    if (pgmDept.result != 1 || pgmDept.error != 0) return Apply(pgmDept);
    return Loop(items, count);
}

int CFakeLogic::ReadAllUnit(int port, EcrUnitReadCallback) {
    Record("ReadAllUnit(" + std::to_string(port) + ")");
    ORV_FAKE_THROW_CHECK();
    for (const auto& u : units) SendUnit(&u);
    return Apply(readAllUnit);
}

int CFakeLogic::PgmUNIT(int port, EcrUnitRecord* items, int count, EcrUnitProgramCallback) {
    Record("PgmUNIT(" + std::to_string(port) + "," + std::to_string(count) + ")");
    ORV_FAKE_THROW_CHECK();
    if (pgmUnit.result != 1 || pgmUnit.error != 0) return Apply(pgmUnit);
    return Loop(items, count);
}

}  // namespace orv::test
