#include "drivers/optimus/cop_ecr.h"

#include "drivers/common/slot_helpers.h"
#include "util/cp1250.h"

int COP_ECR::Open(int port, const EcrDeviceRecord* record) {
    if (!m_pSerial || !record) {
        SetError(999999, PL("System kas fiskalnych - błąd systemu !"));
        return 0;
    }
    m_optimus.SetSerial(m_pSerial);
    SetProtocol(&m_optimus);
    if (m_optimus.Open(port, record->baud) == 1) return 1;
    TakeProtocolError(m_optimus);
    return 0;
}

int COP_ECR::Close(int) {
    m_optimus.Close();
    return 1;
}

int COP_ECR::Unavailable() { return ::Unavailable(*this); }

int COP_ECR::ReadVAT(int, double*) { return Unavailable(); }

int COP_ECR::ReadStatus(int, EcrStatusRecord*, double*) { return Unavailable(); }
