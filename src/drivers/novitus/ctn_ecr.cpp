#include "drivers/novitus/ctn_ecr.h"

#include <cstring>

#include "util/cp1250.h"

namespace {
constexpr int kNetwork = 11;
}

CTN_ECR::CTN_ECR() : CTangoLogic(m_next, true) {}
CTN_ECR::~CTN_ECR() = default;

uint32_t CTN_ECR::ModelForType(int type) {
    switch (type) {
    case 26: return 13;
    case 85: return 19;
    case 86: return 20;
    default: return 1;
    }
}

void CTN_ECR::Configure(const EcrDeviceRecord* record) {
    // Notices of the link go through the socket: it reports to the host's
    // callback too.
    if (m_pSocket && m_pSerial) m_pSocket->SetCallback(m_pSerial->GetCallback());
    m_next.SetModel(ModelForType(record->type));
}

int CTN_ECR::OpenLine(int port, const EcrDeviceRecord* record) {
    if (!m_pSocket) return m_next.Refuse(999999, PL("System kas fiskalnych - błąd systemu !"));
    if (record->kind == kNetwork) return m_next.OpenTcp(static_cast<uint32_t>(record->port));
    return m_next.OpenSerial(port, record->baud);
}

int CTN_ECR::ReadAllUnit(int, EcrUnitReadCallback) {
    const int r = m_next.ReadUnits([this](const tango::Unit& u) {
        EcrUnitRecord unit = ToHostUnit(u);
        SendUnit(&unit);
    });
    return r ? 1 : TakeLinkError();
}

int CTN_ECR::PgmUNIT(int, EcrUnitRecord* units, int count, EcrUnitProgramCallback) {
    return ItemLoop<EcrUnitRecord>(
        units, count,
        [](const EcrUnitRecord& u) { return "Nazwa - " + std::string(u.name, strnlen(u.name, sizeof u.name)); },
        [this](EcrUnitRecord& u, int) { return ItemRequest([&] { return m_next.WriteUnit(FromHostUnit(u)); }); });
}
