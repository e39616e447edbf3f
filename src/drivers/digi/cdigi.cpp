#include "drivers/digi/cdigi.h"

#include <cstring>

#include "util/chrarr.h"

namespace {

constexpr const char* kWagiIni = "./wagi.ini";
constexpr const char* kSmEthIni = "./sm_eth.ini";
constexpr const char* kDataFile = "./XWS_DIGI.txt";
constexpr const char* kTransferProgram = "./sm_eth.exe";

std::string Zeros(uint32_t v, int width) { return NumToText(v, width, '0', 10).ToString(); }

}  // namespace

CDigi::CDigi() = default;
CDigi::~CDigi() = default;

std::string CDigi::GetErrorText(int /*code*/) { return "DIGI"; }

std::string CDigi::WagiIni(uint32_t address, int scaleNumber) {
    return "[1]\r\nNazwa=Waga" + std::to_string(scaleNumber) + "\r\nAdres=" + DottedAddress(address);
}

// The names are the transfer program's own (it runs on Windows).
std::string CDigi::SmEthIni() {
    return "[Zbiory]\r\n"
           "DaneWej=.\\XWS_DIGI.txt\r\n"
           "DaneWyj=.\\ERR_DIGI.txt\r\n"
           "SemaforWyj=.\\SEM_DIGI.txt";
}

int CDigi::Open(uint32_t address, int scaleNumber) {
    m_nError = 0;
    if (!WriteScaleFile(kSmEthIni, SmEthIni()) || !WriteScaleFile(kWagiIni, WagiIni(address, scaleNumber))) {
        m_nError = DIGI_ERR_GENERAL;
        return 0;
    }
    return 1;
}

int CDigi::OpenDataFile() { return CreateDataFile(kDataFile); }

std::string CDigi::BuildRecord(const CasPluRecord& rec) {
    m_nError = 0;
    uint32_t price = 0;
    if (rec.plu < 1 || rec.plu > 10000) {
        m_nError = DIGI_ERR_PLU_RANGE;
    } else if (!ScaleHundredths(rec.unitPrice, price)) {
        m_nError = DIGI_ERR_PRICE_RANGE;
    } else if (rec.department < 1 || rec.department > 99) {
        m_nError = DIGI_ERR_DEPARTMENT;
    }
    if (m_nError != 0) return std::string();

    const std::string name = ScaleLineSafe(std::string(rec.name, strnlen(rec.name, sizeof rec.name)));
    const std::string blank(29, ' ');
    std::string r = "0" + Zeros(rec.plu, 8) + "3" + ChrPadRight(CChrArr(name), 29, ' ').ToString();
    r += " " + blank + " " + blank + " " + blank;
    r += Zeros(price, 8) + "0" + "17" + "09";
    r += "27" + Zeros(rec.plu, 4) + "00000000";
    r += Zeros(rec.department, 4);
    r += "0" "000" "0000" "0" "000" "0" "000" "0000" "0000" "0";
    // A field wider than its place (item 10000 in the barcode) spoils the layout.
    if (static_cast<int>(r.size()) != kDigiRecordLength) {
        m_nError = DIGI_ERR_GENERAL;
        return std::string();
    }
    return r;
}

int CDigi::WritePluRecord(CasPluRecord& rec) {
    const std::string record = BuildRecord(rec);
    if (m_nError != 0) return 0;
    return WriteDataLine(record);
}

int CDigi::RunSmEth() { return RunProgram(kTransferProgram, {"W=1", "I=1"}); }
