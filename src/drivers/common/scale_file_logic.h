// The job logic the scales served through a transfer program share: only
// goods programming does work (through ProgramThroughFile); VAT and status
// report "not defined", reading sales fails, and the other jobs have
// nothing to do. A family gives its error text, its Open and its PgmPLU.
#pragma once

#include "job/logic_ecr.h"

class CScaleFileLogic : public CLogicECR {
public:
    int Close(int port) override;
    int ReadVAT(int port, double vat[8]) override;
    int ReadStatus(int port, EcrStatusRecord* status, double vat[8]) override;
    int ReadSale(int port, EcrSaleCallback cb) override;
    int ClearSale(int port, EcrSaleCallback cb) override;
    int ReadAllPLU(int port, EcrItemReadCallback cb) override;
    int ReadPLU(int port, EcrItemRecord* items, int count, EcrItemReadCallback cb) override;
    int DelPLU(int port, EcrItemRecord* items, int count, EcrItemProgramCallback cb) override;
    int ReadAllDEPT(int port, EcrDeptReadCallback cb) override;
    int PgmDEPT(int port, EcrDeptRecord* depts, int count, EcrDeptProgramCallback cb) override;
};
