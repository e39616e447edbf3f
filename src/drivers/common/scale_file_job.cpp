#include "drivers/common/scale_file_job.h"

#include <cstring>

#include "util/cp1250.h"

void ScaleNoStatus(EcrStatusRecord* status, double vat[8]) {
    if (status) std::memset(status, 0, sizeof *status);
    if (vat)
        for (int i = 0; i < 8; ++i) vat[i] = -3.0;
}

CasPluRecord CasPluFromItem(const EcrItemRecord& item) {
    CasPluRecord rec;
    std::memset(&rec, 0, sizeof rec);
    rec.plu = item.number;
    ScaleCopyCut(rec.barcode, item.code, 13);
    ScaleCopyCut(rec.name, item.name, 24);
    rec.taxNo = item.vat_group;
    rec.department = item.department;
    rec.unitPrice = item.price;
    rec.specialPrice = item.price2;
    rec.further = item.word148;
    rec.sellDate = item.word152;
    rec.pluType = item.word156;
    rec.priceType = item.attr2;
    ScaleCopyCut(rec.text, item.text236, 15);
    for (int k = 0; k < 8; ++k) ScaleCopyCut(rec.lines[k], item.scale_text[k], 24);
    return rec;
}

std::string ScaleItemText(const EcrItemRecord& item) {
    return "Nazwa - " + std::string(item.name, strnlen(item.name, sizeof item.name));
}

int ScaleOpen(CLogicECR& logic, CTelepathyECR& protocol, const EcrDeviceRecord* record,
              const std::function<int(uint32_t address)>& open) {
    return logic.OpenSerialProtocol(protocol, record, CAS_ERR_GENERAL, CLogicECR::NoRecordAnswer::JobParameters,
                                    [&](const EcrDeviceRecord& r) { return open(static_cast<uint32_t>(r.port)); });
}

int ProgramThroughFile(CLogicECR& logic, CTelepathyECR& protocol, EcrItemRecord* items, int count,
                       const ScaleFileSteps& steps) {
    if (!items) {
        logic.SetError(-1, PL("Niewłaściwe parametry zadania"));
        return 0;
    }
    if (!steps.begin()) return logic.ProtocolFailed(protocol, CAS_ERR_GENERAL);

    int written = 0;
    CTelepathy* serial = logic.GetSerial();
    const int result = logic.ItemLoop(items, count, ScaleItemText, [&](EcrItemRecord& item, int) {
        // Writing a record never waits, so the break is looked at here: it
        // ends the loop at once, as it would a device's exchange.
        if (serial && serial->IsAborted()) {
            protocol.m_nError = -7;
            return logic.ProtocolFailed(protocol, CAS_ERR_GENERAL);
        }
        CasPluRecord rec = CasPluFromItem(item);
        if (steps.write(rec)) {
            ++written;
            return 1;
        }
        return logic.ProtocolFailed(protocol, CAS_ERR_GENERAL);
    });
    const bool broken = logic.GetErrorCode() == -7;

    // The last item's code stays in the logic object unless a later step
    // fails; a break stays the job's outcome even then.
    const bool finished = steps.finish() != 0;
    if (broken) return 0;
    if (!finished) return logic.ProtocolFailed(protocol, CAS_ERR_GENERAL);
    if (serial && serial->Delay(1.0) == -7) {
        protocol.m_nError = -7;
        return logic.ProtocolFailed(protocol, CAS_ERR_GENERAL);
    }
    if (written > 0 && !steps.run()) return logic.ProtocolFailed(protocol, CAS_ERR_GENERAL);
    return result;
}
