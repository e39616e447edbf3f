// CLP_ECR: job logic of the CAS LP label scales over the LP-1 protocol
// (type 105): goods are programmed and read back; nothing is deleted.
#pragma once

#include "drivers/cas/cas_lp_logic.h"
#include "drivers/cas/ccaslp1.h"

class CLP_ECR : public CCasLpLogic {
public:
    CCasLP1& Protocol() { return m_proto; }
    // Three tries without the record taken count as no answer.
    int NoAnswerCode() const override { return CASLP_ERR_REFUSED; }

protected:
    CCasLpLink& Link() override { return m_proto; }
    int OpenLink(int port, const EcrDeviceRecord&) override { return m_proto.Open(port); }
    int WriteRecord(const CasLpPluRecord& record) override { return m_proto.WritePlu(record); }
    int ReadAllRecords(const std::function<void(const CasLpPluRecord&)>& converter) override {
        return m_proto.ReadAllPlu(converter);
    }

private:
    CCasLP1 m_proto;
};
