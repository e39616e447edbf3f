#include "drivers/proxima/cproxima_txt.h"

#include <cstring>

namespace {

constexpr const char* kSettingsFile = "./pargat.ini";
constexpr const char* kExportFile = "./MEDESA.EXP";
constexpr const char* kTransferProgram = "./wmplw.exe";

std::string Zeros(uint32_t v, int width) { return NumToText(v, width, '0', 10).ToString(); }

}  // namespace

CProximaTxt::CProximaTxt() = default;

CProximaTxt::~CProximaTxt() = default;

// Transport codes (a break, a lost line) keep the line's own text.
std::string CProximaTxt::GetErrorText(int code) {
    return code >= -10 && code <= -1 ? SerialErrorText(code) : "PROXIMA TXT";
}

std::string CProximaTxt::SettingsText(uint32_t address) {
    return "IP_DESTI=" + DottedAddress(address) +
           "\r\n"
           "PORT_DESTI=2003\r\n"
           "PORT_LOCAL=2003\r\n"
           "REINTENTS=1\r\n"
           "TIMEOUT=3\r\n"
           "DISPLAY=1\r\n"
           "DEBUG=0\r\n"
           "INGREDIENTS=20\r\n";
}

int CProximaTxt::Open(uint32_t address) {
    m_nError = 0;
    if (!WriteScaleFile(kSettingsFile, SettingsText(address))) {
        m_nError = PROXIMA_ERR_GENERAL;
        return 0;
    }
    return 1;
}

int CProximaTxt::OpenExportFile() { return CreateDataFile(kExportFile); }

std::string CProximaTxt::BuildLine(CasPluRecord& rec) {
    m_nError = 0;
    uint32_t price = 0;
    uint32_t special = 0;
    if (rec.plu - 1u > 9999u) {
        m_nError = PROXIMA_ERR_PLU_RANGE;
    } else if (!ScaleHundredths(rec.unitPrice, price) || !ScaleHundredths(rec.specialPrice, special)) {
        m_nError = PROXIMA_ERR_PRICE_RANGE;
    } else if (rec.department < 1 || rec.department > 99) {
        m_nError = PROXIMA_ERR_DEPARTMENT;
    }
    if (m_nError != 0) return std::string();

    rec.taxNo = rec.taxNo >= 1 && rec.taxNo <= 4 ? rec.taxNo - 1 : 0;
    const std::string name(rec.name, strnlen(rec.name, sizeof rec.name));
    const CChrArr barcode = ChrTrim(CChrArr(std::string(rec.barcode, strnlen(rec.barcode, sizeof rec.barcode))), ' ');

    std::string line;
    auto field = [&line](const std::string& f) {
        if (!line.empty()) line += ' ';
        line += f;
    };
    field("T 01");
    field(Zeros(rec.plu, 8));
    field(ScaleLineSafe(ChrPadRight(CChrArr(name), 24, ' ').ToString()));
    field(Zeros(price, 6));
    field("0");
    field(Zeros(special, 6));
    field("000000");
    field("000000");
    field(Zeros(rec.plu, 6));
    field("00");
    field(Zeros(rec.department, 2));
    field(Zeros(rec.taxNo, 1));
    field("0");
    field("00");
    field("0");
    field("0");
    field("09");
    field("01");
    field("000000");
    field("000000");
    field("24");
    field("13");
    field("0" + ScaleLineSafe(ChrPadRight(barcode, 13, '0').ToString()));
    field("00");
    field("1");
    if (static_cast<int>(line.size()) != kProximaLineLength) {
        m_nError = PROXIMA_ERR_GENERAL;
        return std::string();
    }
    return line;
}

int CProximaTxt::WritePluLine(CasPluRecord& rec) {
    const std::string line = BuildLine(rec);
    if (m_nError != 0) return 0;
    return WriteDataLine(line);
}

int CProximaTxt::RunTransfer() { return RunProgram(kTransferProgram, {"MEDESA.EXP"}); }
