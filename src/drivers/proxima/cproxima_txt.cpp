#include "drivers/proxima/cproxima_txt.h"

#include <unistd.h>

#include <cstring>

#include "comm/temp_files.h"
#include "platform/files.h"

namespace {

constexpr const char* kSettingsFile = "./pargat.ini";
constexpr const char* kExportFile = "./MEDESA.EXP";
constexpr const char* kTransferProgram = "./wmplw.exe";

std::string Zeros(uint32_t v, int width) { return NumToText(v, width, '0', 10).ToString(); }

// Bytes that would break the line layout become blanks.
std::string LineSafe(std::string s) {
    for (char& c : s)
        if (static_cast<uint8_t>(c) < 0x20) c = ' ';
    return s;
}

// The files stand in the working directory, where anything may have been
// put under their names: only a plain file of our own is written.
int WriteNewFile(const char* path, const std::string& content) {
    const int fd = orv::platform::OpenPlainFileForWriting(path);
    if (fd < 0) return 0;
    const bool ok = orv::comm::WriteFully(fd, content.data(), content.size());
    return ::close(fd) == 0 && ok ? 1 : 0;
}

}  // namespace

CProximaTxt::CProximaTxt() : m_runner(&orv::platform::DefaultProcessRunner()) {}

CProximaTxt::~CProximaTxt() {
    if (m_exportFd >= 0) ::close(m_exportFd);
}

std::string CProximaTxt::GetErrorText(int /*code*/) { return "PROXIMA TXT"; }

void CProximaTxt::SetProcessRunner(orv::platform::ProcessRunner* runner) {
    m_runner = runner ? runner : &orv::platform::DefaultProcessRunner();
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
    if (!WriteNewFile(kSettingsFile, SettingsText(address))) {
        m_nError = PROXIMA_ERR_GENERAL;
        return 0;
    }
    return 1;
}

int CProximaTxt::OpenExportFile() {
    m_nError = 0;
    if (m_exportFd >= 0) ::close(m_exportFd);
    m_bExportOpen = 0;
    m_writeFailed = false;
    m_exportFd = orv::platform::OpenPlainFileForWriting(kExportFile);
    if (m_exportFd < 0) {
        m_nError = PROXIMA_ERR_GENERAL;
        return 0;
    }
    m_bExportOpen = 1;
    return 1;
}

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
    field(LineSafe(ChrPadRight(CChrArr(name), 24, ' ').ToString()));
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
    field("0" + LineSafe(ChrPadRight(barcode, 13, '0').ToString()));
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
    if (!m_bExportOpen) return 1;
    const std::string bytes = line + "\r\n";
    if (!orv::comm::WriteFully(m_exportFd, bytes.data(), bytes.size())) {
        m_writeFailed = true;
        m_nError = PROXIMA_ERR_GENERAL;
        return 0;
    }
    return 1;
}

int CProximaTxt::CloseExportFile() {
    if (m_exportFd >= 0 && ::close(m_exportFd) != 0) m_writeFailed = true;
    m_exportFd = -1;
    m_bExportOpen = 0;
    if (m_writeFailed) {
        m_nError = PROXIMA_ERR_GENERAL;
        return 0;
    }
    return 1;
}

int CProximaTxt::RunTransfer() { return RunTransferProgram(*this, *m_runner, kTransferProgram, {"MEDESA.EXP"}); }
