#include "drivers/sharp/sharp_port.h"

namespace {
// An operation without a serial service to work with.
constexpr int kNoTransport = 999999;
}  // namespace

int CSharpPort::OpenLine(int port, int baud, int dataBits, char parity) {
    m_nError = 0;
    m_nNoAnswer = 0;
    m_nPort = port;
    if (!m_pSerial) {
        m_nError = kNoTransport;
        return 0;
    }
    const int r = m_pSerial->Open(port, 1024, 1024, baud, dataBits, parity, 1);
    if (r != 0) {
        m_nError = r;
        return 0;
    }
    m_pSerial->FlushOutput(port);
    const int err = m_pSerial->GetError(port);
    if (err < 0) {
        m_pSerial->Close(port, 1);
        m_nError = err;
        return 0;
    }
    m_pSerial->FlushInput(port);
    return 1;
}

void CSharpPort::Close() {
    if (m_pSerial) ClosePort();
    m_nError = 0;
}

void CSharpPort::NoteTransport(int code) {
    if (code <= -1 && code >= -10 && code != -7) m_nNoAnswer = code;
}

void CSharpPort::BeginTransfer() {
    m_nError = 0;
    m_nNoAnswer = 0;
}

int CSharpPort::Failed(int fallback) {
    if (m_nError == 0) m_nError = fallback;
    return 0;
}

int CSharpPort::SendBytes(const CChrArr& bytes) {
    if (bytes.IsEmpty()) return 1;
    if (!m_pSerial) {
        m_nError = kNoTransport;
        return 0;
    }
    if (m_pSerial->IsAborted()) {
        m_nError = -7;
        return 0;
    }
    DumpSent(bytes);
    const int written = m_pSerial->Write(m_nPort, bytes, 5);
    int err = m_pSerial->GetError(m_nPort);
    if (err < 0) {
        m_nError = err;
        NoteTransport(err);
        return 0;
    }
    if (written != bytes.GetLength()) {
        m_nError = kSharpShortWrite;
        return 0;
    }
    err = m_pSerial->WaitOutputDrained(m_nPort, 5);
    if (err != 0) {
        m_nError = err;
        NoteTransport(err);
        return 0;
    }
    return 1;
}

CChrArr CSharpPort::TakeRead(CChrArr bytes, void (*dump)(const CChrArr&)) {
    const int err = m_pSerial->GetError(m_nPort);
    if (!bytes.IsEmpty()) dump(bytes);
    if (err < 0) {
        m_nError = err;
        NoteTransport(err);
        return CChrArr();
    }
    if (!bytes.IsEmpty()) m_nNoAnswer = 0;   // the register answered
    return bytes;
}

CChrArr CSharpPort::ReadBytes(int count) {
    if (!m_pSerial) {
        m_nError = kNoTransport;
        return CChrArr();
    }
    return TakeRead(m_pSerial->Read(m_nPort, count, 5), DumpReceived);
}

uint8_t CSharpPort::ReadByte() {
    const CChrArr b = ReadBytes(1);
    return b.GetLength() == 1 ? b[0] : 0;
}

CChrArr CSharpPort::ReadUntilCR(int maxLength) {
    if (!m_pSerial) {
        m_nError = kNoTransport;
        return CChrArr();
    }
    return TakeRead(m_pSerial->ReadUntil(m_nPort, CR, maxLength, 5), DumpReadUntil);
}

int CSharpPort::Pause(double seconds) {
    if (!m_pSerial) return 1;
    if (m_pSerial->Delay(seconds) == -7 || m_pSerial->IsAborted()) {
        m_nError = -7;
        return 0;
    }
    return 1;
}

uint8_t CSharpPort::Checksum(const CChrArr& bytes) {
    unsigned sum = 0;
    for (int i = 0; i < bytes.GetLength(); ++i) sum += bytes[i];
    return static_cast<uint8_t>((256u - sum % 256u) % 256u);
}
