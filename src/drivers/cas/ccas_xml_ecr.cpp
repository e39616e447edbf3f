#include "drivers/cas/ccas_xml_ecr.h"

#include <cstring>

#include "drivers/common/scale_file_job.h"

CCAS_XML_ECR::CCAS_XML_ECR() = default;
CCAS_XML_ECR::~CCAS_XML_ECR() = default;

std::string CCAS_XML_ECR::GetErrorText(int code) { return m_xml.GetErrorText(code); }

int CCAS_XML_ECR::Open(int /*port*/, const EcrDeviceRecord* record) {
    return ScaleOpen(*this, m_xml, record, [&](uint32_t address) {
        return m_xml.Open(address, record->kind, record->word7, record->word8);
    });
}

int CCAS_XML_ECR::Close(int /*port*/) {
    m_xml.Close();
    return 1;
}

int CCAS_XML_ECR::ReadVAT(int /*port*/, double vat[8]) {
    ScaleNoStatus(nullptr, vat);
    return 1;
}

int CCAS_XML_ECR::ReadStatus(int /*port*/, EcrStatusRecord* status, double vat[8]) {
    ScaleNoStatus(status, vat);
    return 1;
}

int CCAS_XML_ECR::ReadSale(int /*port*/, EcrSaleCallback /*cb*/) { return 0; }

int CCAS_XML_ECR::ClearSale(int /*port*/, EcrSaleCallback /*cb*/) { return 1; }

EcrItemRecord CCAS_XML_ECR::ToHost(const CasPluRecord& rec) {
    EcrItemRecord item;
    std::memset(&item, 0, sizeof item);
    item.number = rec.plu;
    ScaleCopyCut(item.code, rec.barcode, 31);
    ScaleCopyCut(item.name, rec.name, 47);
    item.price = rec.unitPrice;
    item.price2 = rec.specialPrice;
    item.vat_group = rec.taxNo;
    item.department = rec.department;
    item.word156 = rec.pluType;
    item.attr2 = rec.priceType;
    item.word152 = rec.sellDate;
    item.word148 = rec.further;
    ScaleCopyCut(item.text236, rec.text, 15);
    for (int k = 0; k < 8; ++k) ScaleCopyCut(item.scale_text[k], rec.lines[k], 24);
    item.attr1 = 0;
    item.unit = 1;
    return item;
}

EcrDeptRecord CCAS_XML_ECR::ToHost(const CasDeptRecord& rec) {
    EcrDeptRecord dept;
    std::memset(&dept, 0, sizeof dept);
    dept.number = rec.number;
    ScaleCopyCut(dept.name, rec.name, 47);
    return dept;
}

// Handing a result file's records over never waits on the scale, but the
// host may take its time with each: a break stops the hand-over before the
// next record, and the job ends with -7.
bool CCAS_XML_ECR::HandOverBroken() {
    if (!m_handOverBroken && m_pSerial && m_pSerial->IsAborted()) m_handOverBroken = true;
    return m_handOverBroken;
}

int CCAS_XML_ECR::HandOverResult(int read) {
    if (m_handOverBroken) m_xml.m_nError = -7;
    return read && !m_handOverBroken ? 1 : ProtocolFailed(m_xml, CAS_ERR_GENERAL);
}

int CCAS_XML_ECR::ReadAllPLU(int /*port*/, EcrItemReadCallback /*cb*/) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    m_handOverBroken = false;
    const int r = m_xml.ReadPLUs([this](const CasPluRecord& rec) {
        if (HandOverBroken()) return;
        const EcrItemRecord item = ToHost(rec);
        SendPLU(&item);
    });
    return HandOverResult(r);
}

int CCAS_XML_ECR::ReadPLU(int /*port*/, EcrItemRecord* /*items*/, int /*count*/, EcrItemReadCallback /*cb*/) {
    return 1;
}

int CCAS_XML_ECR::PgmPLU(int /*port*/, EcrItemRecord* items, int count, EcrItemProgramCallback /*cb*/,
                         int /*kind*/) {
    ScaleFileSteps steps;
    steps.begin = [this] { return m_xml.BeginSendJob(); };
    steps.write = [this](CasPluRecord& rec) { return m_xml.WritePluRecord(rec); };
    steps.finish = [this] { return m_xml.WriteJobFooter(); };
    steps.run = [this] { return m_xml.RunCASCale(); };
    return ProgramThroughFile(*this, m_xml, items, count, steps);
}

int CCAS_XML_ECR::DelPLU(int /*port*/, EcrItemRecord* items, int count, EcrItemProgramCallback /*cb*/) {
    return ItemLoop(items, count, ScaleItemText, [this](EcrItemRecord& item, int) {
        const CasPluRecord rec = CasPluFromItem(item);
        return m_xml.DeletePLURange(rec) ? 1 : ProtocolFailed(m_xml, CAS_ERR_GENERAL);
    });
}

int CCAS_XML_ECR::ReadAllDEPT(int /*port*/, EcrDeptReadCallback /*cb*/) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    m_handOverBroken = false;
    const int r = m_xml.ReadDepartments([this](const CasDeptRecord& rec) {
        if (HandOverBroken()) return;
        const EcrDeptRecord dept = ToHost(rec);
        SendDEPT(&dept);
    });
    return HandOverResult(r);
}

int CCAS_XML_ECR::PgmDEPT(int /*port*/, EcrDeptRecord* /*depts*/, int /*count*/, EcrDeptProgramCallback /*cb*/) {
    return 1;
}
