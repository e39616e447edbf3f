// CTelepathyECR: what every protocol class shares (opening the line, sending
// a whole array, common error texts, VAT rate lookup, host names, events and
// the data and sale logs).
#include "comm/telepathy_ecr.h"

#include <cstring>
#include <ctime>

#include "comm/temp_files.h"
#include "platform/classic_locale.h"
#include "platform/tcp_socket.h"
#include "util/cp1250.h"

namespace {

// The error of an operation that has no serial service to work with.
constexpr int kNoTransport = 999999;

std::string LocalTime(const char* format) {
    std::time_t now = std::time(nullptr);
    std::tm parts{};
    orv::platform::ToLocalTime(now, parts);
    char text[32];
    size_t n = std::strftime(text, sizeof(text), format, &parts);
    return std::string(text, n);
}

// Creates a log named prefix + local time + ".txt"; -1 when it cannot.
int CreateLog(const char* prefix) {
    return orv::comm::CreateTempFile(std::string(prefix) + LocalTime("%m%d_%H%M%S") + ".txt");
}

void CloseLog(int& fd, int& openFlag) {
    orv::platform::CloseFile(fd);
    fd = -1;
    openFlag = 0;
}

}  // namespace

CTelepathyECR::CTelepathyECR() = default;

CTelepathyECR::~CTelepathyECR() {
    CloseDataLog();
    CloseSaleLog();
}

int CTelepathyECR::Open(int port) { return Open(port, 9600); }

int CTelepathyECR::Open(int port, int baud) {
    m_nError = 0;
    m_nPort = port;
    if (m_pSerial == nullptr) {
        m_nError = kNoTransport;
        return 0;
    }
    int result = m_pSerial->Open(port, 1024, 1024, baud, 8, 'N', 1);
    if (result != 0) {
        m_nError = result;
        return 0;
    }
    // A line that was opened but cannot be used is closed again, so the
    // next job on the port can open it.
    int err = m_pSerial->FlushOutput(port);
    if (err == 0) err = m_pSerial->FlushInput(port);
    if (err < 0) {
        m_pSerial->Close(port, 1);
        m_nError = err;
        return 0;
    }
    return 1;
}

int CTelepathyECR::WriteForSendAll(const CChrArr& bytes, int seconds) { return m_pSerial->Write(m_nPort, bytes, seconds); }

int CTelepathyECR::SendAll(const CChrArr& bytes, int shortCode) {
    if (bytes.IsEmpty()) return 1;
    if (m_pSerial == nullptr) {
        m_nError = kNoTransport;
        return 0;
    }
    int written = WriteForSendAll(bytes, 5);
    int code = m_pSerial->GetError(m_nPort);
    if (code != 0) {
        m_nError = code;
        return 0;
    }
    if (written != bytes.GetLength()) {
        m_nError = shortCode;
        return 0;
    }
    code = m_pSerial->WaitOutputDrained(m_nPort, 5);
    if (code != 0) {
        m_nError = code;
        return 0;
    }
    return 1;
}

int CTelepathyECR::SendBytes(const CChrArr& bytes) {
    DumpSent(bytes);
    return SendAll(bytes, 10);
}

void CTelepathyECR::ClosePort() {
    m_nError = 0;
    if (m_pSerial != nullptr) m_pSerial->Close(m_nPort, 1);
}

std::string CTelepathyECR::GetErrorText(int code) {
    if (code < 0) return SerialErrorText(code);
    switch (code) {
    case 19: return PL("Numer kasy poza zakresem");
    case 20: return PL("Przekroczony czas nadawania");
    case 21: return PL("Przekroczony czas odbierania");
    case 22: return PL("Pod podanym skojarzeniem kasa o innym numerze");
    case 23: return PL("Niepoprawna odpowiedź z kasy");
    case 24: return PL("Kasa odpowiedziała NAK na sekwencję sterującą");
    case 25: return PL("Rozkaz niedostępny w tej wersji programu kasy");
    case 26: return PL("Nie włączona opcja <serwis z PC>");
    case 103: return PL("Błąd w stawce podatkowej towaru");
    case 202: return PL("Pod podanym numerem towar nie zdefiniowany");
    default: return PL("Nieokreślony błąd");
    }
}

int CTelepathyECR::FindVatIndex(double rate, const double rates[8]) {
    m_nError = 103;
    if (rate == -3.0 || rate == -2.0) return 0;
    // -4.0 stands for the second rate of 0.0 (the first one is skipped).
    const bool secondZero = rate == -4.0;
    const double wanted = secondZero ? 0.0 : rate;
    bool skipped = !secondZero;
    for (int i = 0; i < 8; ++i) {
        if (rates[i] != wanted) continue;
        if (!skipped) {
            skipped = true;
            continue;
        }
        m_nError = 0;
        return i + 1;
    }
    return 0;
}

bool CTelepathyECR::ResolveHostName(const char* name, std::string& out) {
    out.clear();
    if (name == nullptr) return false;
    std::string host(name, ::strnlen(name, 255));
    if (host.empty()) return false;
    return orv::platform::ResolveIPv4(host, out);
}

void CTelepathyECR::Notify(int event, const std::string& text, int percent, int value) {
    if (m_pSerial != nullptr) m_pSerial->Notify(event, text, percent, value);
}

void CTelepathyECR::OpenDataLog() {
    CloseDataLog();
    m_dataLogFd = CreateLog("XWDATA_");
    if (m_dataLogFd >= 0) m_nDataLogOpen = 1;
}

void CTelepathyECR::OpenSaleLog() {
    CloseSaleLog();
    m_saleLogFd = CreateLog("XWSALE_");
    if (m_saleLogFd >= 0) m_nSaleLogOpen = 1;
}

void CTelepathyECR::WriteDataLog(const CChrArr& bytes, char label) {
    if (m_nDataLogOpen != 1) return;
    CChrArr entry(label == 'R' ? "ECR->" : label == 'S' ? "PC ->" : " -> ");
    entry += bytes;
    if (label != 'L') {
        entry += "<<\r\n";
        entry += LocalTime("%H:%M:%S").c_str();
        if (label == 'R' || label == 'S') {
            for (int i = 0; i < bytes.GetLength(); ++i) {
                entry += ' ';
                entry += NumToText(bytes[i], 2, '0', 16);
            }
            entry += "\r\n";
        }
    }
    entry += "\r\n";
    orv::comm::WriteFully(m_dataLogFd, entry.data(), static_cast<size_t>(entry.GetLength()));
}

void CTelepathyECR::WriteSaleLog(const CChrArr& bytes) {
    if (m_nSaleLogOpen != 1 || bytes.IsEmpty()) return;
    orv::comm::WriteFully(m_saleLogFd, bytes.data(), static_cast<size_t>(bytes.GetLength()));
}

void CTelepathyECR::CloseDataLog() { CloseLog(m_dataLogFd, m_nDataLogOpen); }

void CTelepathyECR::CloseSaleLog() { CloseLog(m_saleLogFd, m_nSaleLogOpen); }
