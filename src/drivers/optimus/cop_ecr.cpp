#include "drivers/optimus/cop_ecr.h"

#include "drivers/common/slot_helpers.h"
#include "util/cp1250.h"

int COP_ECR::Open(int port, const EcrDeviceRecord* record) {
    return OpenSerialProtocol(m_optimus, record, 0, NoRecordAnswer::SystemError,
                              [&](const EcrDeviceRecord& r) { return m_optimus.Open(port, r.baud); });
}

int COP_ECR::Close(int) {
    m_optimus.Close();
    return 1;
}

int COP_ECR::Unavailable() { return ::Unavailable(*this); }

int COP_ECR::ReadVAT(int, double*) { return Unavailable(); }

int COP_ECR::ReadStatus(int, EcrStatusRecord*, double*) { return Unavailable(); }
