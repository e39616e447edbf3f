#include "drivers/common/scale_records.h"

#include <cmath>

#include <string>

#include "platform/files.h"
#include "platform/private_file.h"

bool ScaleHundredths(double price, uint32_t& out) {
    const double units = price >= 0.0 ? std::trunc(price * 100.0 + 0.1) : -1.0;   // NaN fails too
    if (!(units >= 0.0 && units <= 999999.0)) return false;
    out = static_cast<uint32_t>(units);
    return true;
}

int RunTransferProgram(CTelepathyECR& protocol, orv::platform::ProcessRunner& runner, const char* program,
                       const std::vector<std::string>& args) {
    protocol.m_nError = 0;
    CTelepathy* serial = protocol.GetSerial();
    const orv::platform::ProcessResult r = runner.Run(program, args, serial ? &serial->AbortSignal() : nullptr);
    if (r.outcome == orv::platform::kProcessBroken) {
        protocol.m_nError = -7;
        return 0;
    }
    // A program ended by a signal (a crash, or killed from outside) did not
    // finish its job, whatever it left behind.
    if (r.outcome != orv::platform::kProcessEnded || r.termSignal != 0) {
        protocol.m_nError = CAS_ERR_GENERAL;
        return 0;
    }
    // The exit code is not inspected: the vendors' programs give it no
    // documented meaning, and a program that ended by itself finished its job.
    return 1;
}

std::string DottedAddress(uint32_t a) {
    return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 0xFF) + "." + std::to_string((a >> 8) & 0xFF) + "." +
           std::to_string(a & 0xFF);
}

// The files stand in the working directory, where anything may have been
// put under their names: only a plain file of our own is written (no link
// followed, no FIFO waited on).
bool WriteScaleFile(const char* path, const std::string& content) {
    const int fd = orv::platform::OpenPlainFileForWriting(path);
    if (fd < 0) return false;
    const bool ok = orv::platform::WriteFully(fd, content.data(), content.size());
    return orv::platform::CloseFile(fd) && ok;
}

ScaleDataFile::~ScaleDataFile() { orv::platform::CloseFile(m_fd); }

bool ScaleDataFile::Create(const char* path) {
    orv::platform::CloseFile(m_fd);
    m_failed = false;
    m_fd = orv::platform::OpenPlainFileForWriting(path);
    return m_fd >= 0;
}

bool ScaleDataFile::Write(const std::string& bytes) {
    if (m_fd < 0 || !orv::platform::WriteFully(m_fd, bytes.data(), bytes.size())) {
        m_failed = true;
        return false;
    }
    return true;
}

bool ScaleDataFile::Close() {
    if (!orv::platform::CloseFile(m_fd)) m_failed = true;
    m_fd = -1;
    return !m_failed;
}

std::string ScaleLineSafe(std::string text, char extra) {
    for (char& c : text)
        if (static_cast<uint8_t>(c) < 0x20 || (extra != 0 && c == extra)) c = ' ';
    return text;
}

CScaleFileProtocol::CScaleFileProtocol() : m_runner(&orv::platform::DefaultProcessRunner()) {}
CScaleFileProtocol::~CScaleFileProtocol() = default;

void CScaleFileProtocol::SetProcessRunner(orv::platform::ProcessRunner* runner) {
    m_runner = runner ? runner : &orv::platform::DefaultProcessRunner();
}

int CScaleFileProtocol::CreateDataFile(const char* path) {
    m_nError = 0;
    if (!m_file.Create(path)) {
        m_nError = CAS_ERR_GENERAL;
        return 0;
    }
    return 1;
}

int CScaleFileProtocol::WriteDataLine(const std::string& line) {
    if (!m_file.IsOpen()) return 1;
    if (!m_file.Write(line + "\r\n")) {
        m_nError = CAS_ERR_GENERAL;
        return 0;
    }
    return 1;
}

int CScaleFileProtocol::CloseDataFile() {
    if (!m_file.Close()) {
        m_nError = CAS_ERR_GENERAL;
        return 0;
    }
    return 1;
}

int CScaleFileProtocol::RunProgram(const char* program, const std::vector<std::string>& args) {
    return RunTransferProgram(*this, *m_runner, program, args);
}
