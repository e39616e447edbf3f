#include "drivers/ecoprint/cecoprint.h"

#include <cmath>
#include <cstring>

#include "util/chrarr.h"

namespace {

constexpr const char* kDataFile = "./Eco_Print.txt";
constexpr const char* kTransferProgram = "./Eco_Print.bat";

}  // namespace

CEcoPrint::CEcoPrint() = default;
CEcoPrint::~CEcoPrint() = default;

std::string CEcoPrint::GetErrorText(int /*code*/) { return "Eco Print"; }

int CEcoPrint::OpenDataFile() { return CreateDataFile(kDataFile); }

std::string CEcoPrint::BuildLine(const CasPluRecord& rec) {
    m_nError = 0;
    if (rec.plu < 1 || rec.plu > 10000) {
        m_nError = ECOPRINT_ERR_PLU_RANGE;
        return std::string();
    }
    if (!std::isfinite(rec.unitPrice) || rec.unitPrice < 0.0) {
        m_nError = ECOPRINT_ERR_PRICE_RANGE;
        return std::string();
    }
    const std::string raw(rec.name, strnlen(rec.name, sizeof rec.name));
    const std::string name =
        ChrTrim(CChrArr(ScaleLineSafe(raw, ';')).Left(28), ' ').ToString();
    const std::string price = ChrTrim(DoubleToText(rec.unitPrice, Width{7}, Decimals{2}), ' ').ToString();
    const std::string plu = std::to_string(rec.plu);
    return plu + ";" + name + ";" + ";" + price + ";0;0;0;" + plu + ";0;0;" + ";" + "01.01.01;" +
           (rec.pluType == 1 ? "1" : "0") + ";0;0;0;01.01.01";
}

int CEcoPrint::WritePluRecord(CasPluRecord& rec) {
    const std::string line = BuildLine(rec);
    if (m_nError != 0) return 0;
    return WriteDataLine(line);
}

int CEcoPrint::RunBatch() { return RunProgram(kTransferProgram, {}); }
