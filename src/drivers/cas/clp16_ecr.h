// CLP16_ECR: job logic of the CAS LP label scales over the LP-16 protocol
// (type 110): goods are programmed, deleted, read back one by one or all.
#pragma once

#include "drivers/cas/cas_lp_logic.h"
#include "drivers/cas/ccaslp1_16.h"

class CLP16_ECR : public CCasLpLogic {
public:
    int ReadPLU(int port, EcrItemRecord* items, int count, EcrItemReadCallback cb) override;
    int DelPLU(int port, EcrItemRecord* items, int count, EcrItemProgramCallback cb) override;

    CCasLP1_16& Protocol() { return m_proto; }

protected:
    CCasLpLink& Link() override { return m_proto; }
    int OpenLink(int port, const EcrDeviceRecord& record) override {
        return m_proto.Open(port, static_cast<int>(record.baud));
    }
    int WriteRecord(const CasLpPluRecord& record) override { return m_proto.WritePlu(record); }
    int ReadAllRecords(const std::function<void(const CasLpPluRecord&)>& converter) override {
        return m_proto.ReadAllPlu(converter);
    }

private:
    CCasLP1_16 m_proto;
};
