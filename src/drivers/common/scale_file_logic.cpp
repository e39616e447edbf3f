#include "drivers/common/scale_file_logic.h"

#include "drivers/common/scale_file_job.h"

int CScaleFileLogic::Close(int /*port*/) { return 1; }

int CScaleFileLogic::ReadVAT(int /*port*/, double vat[8]) {
    ScaleNoStatus(nullptr, vat);
    return 1;
}

int CScaleFileLogic::ReadStatus(int /*port*/, EcrStatusRecord* status, double vat[8]) {
    ScaleNoStatus(status, vat);
    return 1;
}

int CScaleFileLogic::ReadSale(int /*port*/, EcrSaleCallback /*cb*/) { return 0; }
int CScaleFileLogic::ClearSale(int /*port*/, EcrSaleCallback /*cb*/) { return 1; }
int CScaleFileLogic::ReadAllPLU(int /*port*/, EcrItemReadCallback /*cb*/) { return 1; }
int CScaleFileLogic::ReadPLU(int /*port*/, EcrItemRecord* /*items*/, int /*count*/, EcrItemReadCallback /*cb*/) {
    return 1;
}
int CScaleFileLogic::DelPLU(int /*port*/, EcrItemRecord* /*items*/, int /*count*/, EcrItemProgramCallback /*cb*/) {
    return 1;
}
int CScaleFileLogic::ReadAllDEPT(int /*port*/, EcrDeptReadCallback /*cb*/) { return 1; }
int CScaleFileLogic::PgmDEPT(int /*port*/, EcrDeptRecord* /*depts*/, int /*count*/, EcrDeptProgramCallback /*cb*/) {
    return 1;
}
