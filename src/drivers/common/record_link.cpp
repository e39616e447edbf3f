#include "drivers/common/record_link.h"

#include "drivers/common/record_fields.h"

CRecordLink::CRecordLink(const RecordLinkTraits& traits) : m_traits(traits) {}

int CRecordLink::Open(int port, int baud) {
    m_nError = 0;
    if (port != m_nPort) m_registersTurn = false;   // that register is not on this line
    m_nPort = port;
    if (!m_pSerial) {
        m_nError = -3;
        return 0;
    }
    int r = m_pSerial->Open(port, 1024, 1024, baud, m_traits.dataBits, m_traits.parity, 1);
    if (r != 0) {
        m_nError = r;
        return 0;
    }
    int err = 0;
    if (m_traits.handshake || m_traits.ctsWait) {
        m_pSerial->SetCtsWait(port, 1);
        err = m_pSerial->GetError(port);
        if (err == 0 && m_traits.handshake) {
            m_pSerial->SetLineOption3(port, 1);
            m_pSerial->SetDtrMode(port, 2);
            m_pSerial->SetRtsMode(port, 1);
            m_pSerial->SetXonXoff(port, 0);
        }
    }
    if (err == 0) {
        m_pSerial->FlushOutput(port);
        err = m_pSerial->GetError(port);
    }
    if (err == 0) err = m_pSerial->FlushInput(port);
    if (err < 0) {
        // The line was opened but is not usable: give it back.
        m_pSerial->Close(port, 1);
        m_nError = err;
        return 0;
    }
    return 1;
}

void CRecordLink::Close() {
    if (m_pSerial) ClosePort();
    m_nError = 0;
}

bool CRecordLink::Aborted() {
    if (m_pSerial && m_pSerial->IsAborted()) {
        m_nError = -7;
        return true;
    }
    return false;
}

uint8_t CRecordLink::Checksum(const CChrArr& bytes) {
    uint8_t x = 0;
    for (int i = 0; i < bytes.GetLength(); ++i) x ^= bytes[i];
    return x;
}

CChrArr CRecordLink::Frame(const CChrArr& letter, const CChrArr& text, uint8_t end) {
    CChrArr body = letter + text;
    body += end;
    CChrArr frame(1, STX);
    frame += body;
    frame += Checksum(body);
    return frame;
}

// ---------------------------------------------------------------- bytes

int CRecordLink::WriteBytes(const CChrArr& bytes) {
    DumpSent(bytes);
    return SendAll(bytes, 10);
}

int CRecordLink::SendByte(uint8_t b) { return WriteBytes(CChrArr(1, b)); }

int CRecordLink::SendEOT() {
    if (!SendByte(EOT)) return 0;
    m_registersTurn = false;
    return 1;
}

CChrArr CRecordLink::ReadBytes(int n) {
    if (!m_pSerial) {
        m_nError = -3;
        return CChrArr();
    }
    CChrArr bytes = m_pSerial->Read(m_nPort, n, m_traits.readSeconds);
    DumpReceived(bytes);
    if (bytes.GetLength() != n) {
        int err = m_pSerial->GetError(m_nPort);
        m_nError = err < 0 ? err : -5;
        return CChrArr();
    }
    return bytes;
}

int CRecordLink::ReadByte() {
    CChrArr b = ReadBytes(1);
    if (b.IsEmpty()) return -1;
    if (b[0] == EOT) m_registersTurn = false;   // the register ends its turn
    return b[0];
}

int CRecordLink::AnswerENQ() {
    const int b = ReadByte();
    if (b < 0) return 0;
    if (b != ENQ) {
        m_nError = 999;
        MarkLineUnsettled();
        return 0;
    }
    if (!SendByte(ACK)) return 0;
    m_registersTurn = true;
    return 1;
}

void CRecordLink::EndRegistersTurn() {
    if (!m_registersTurn || !m_pSerial) return;
    const int err = m_nError;
    SendEOT();
    MarkLineUnsettled();
    m_registersTurn = false;   // once: a register that is gone is not asked again
    m_nError = err;
}

void CRecordLink::MarkLineUnsettled() {
    if (m_pSerial) m_pSerial->MarkUnsettled(m_nPort);
}

int CRecordLink::ReadEOT() { return ReadByte() == EOT ? 1 : 0; }

int CRecordLink::ExpectEOT() {
    const int b = ReadByte();
    if (b < 0) return 0;
    if (b != EOT) {
        m_nError = 999;
        MarkLineUnsettled();
        return 0;
    }
    return 1;
}

int CRecordLink::DrainAndFlush() {
    int d = m_pSerial ? m_pSerial->WaitOutputDrained(m_nPort, 5) : -3;
    if (d != 0) {
        m_nError = d;
        if (m_pSerial) m_pSerial->FlushOutput(m_nPort);
        return 0;
    }
    m_pSerial->FlushInput(m_nPort);
    return 1;
}

// ---------------------------------------------------------------- records

int CRecordLink::HandleDle() {
    const int b = ReadByte();
    if (b < 0) return 0;
    if (b == 0x2C) {
        // Accepted, once the PC has done what the register asks for.
        if (!NewLink()) return 0;
        m_nError = 0;
        return 1;
    }
    if (b == 0x40) {
        int code = 0;
        if (SendEOT() && AnswerENQ()) ReadDeviceError(code);
        if (m_nError == 0) m_nError = 999;
        return 0;
    }
    m_nError = 999;
    return 0;
}

int CRecordLink::SendRecord(const CChrArr& letter, const CChrArr& text, uint8_t end) {
    if (!m_pSerial) {
        m_nError = -3;
        return 0;
    }
    m_pSerial->FlushOutput(m_nPort);
    m_pSerial->FlushInput(m_nPort);
    const CChrArr frame = Frame(letter, text, end);
    for (int sent = 0; sent < kTransmissions;) {
        if (Aborted()) return 0;
        if (!WriteBytes(frame)) return 0;
        ++sent;
        const int b = ReadByte();
        if (m_nError == -7) return 0;
        if (b == ACK) {
            m_nError = 0;
            return 1;
        }
        if (b == NAK) continue;
        if (b == STX && !m_traits.letter) {
            int code = 0;
            m_nError = 0;
            ReadDeviceError(code);
            if (m_nError == 0) m_nError = 999;
            return 0;
        }
        if (b == DLE && m_traits.letter) return HandleDle();
        // Silence, or a byte that answers nothing (0x00 included).
        const int r = Recover(frame);
        if (r == 2) {
            m_nError = 0;
            return 1;
        }
        if (r == 0) {
            if (m_nError == 0) m_nError = 999;
            return 0;
        }
    }
    // The register keeps refusing: the PC ends its turn.
    if (Aborted()) return 0;
    if (SendEOT() && ReadEOT())
        m_nError = 999;
    else
        MarkLineUnsettled();   // the register did not confirm the end
    if (m_nError == 0) m_nError = 999;
    return 0;
}

CChrArr CRecordLink::ReadBody(int n) {
    if (m_traits.letter) {
        // letter, n characters, ETX, check
        CChrArr bytes = ReadBytes(n + 3);
        if (bytes.IsEmpty()) return bytes;
        if (bytes[n + 2] != Checksum(bytes.Left(n + 2))) return CChrArr();
        return bytes.Mid(1, n);
    }
    // A record that begins with "S" is the register's 7-character error record.
    CChrArr first = ReadBytes(1);
    if (first.IsEmpty()) return first;
    const int length = first[0] == 'S' ? 7 : n;
    CChrArr rest = ReadBytes(length + 1);
    if (rest.IsEmpty()) return rest;
    CChrArr all = first + rest;
    if (all[length + 1] != Checksum(all.Left(length + 1))) return CChrArr();
    return all.Left(length);
}

CChrArr CRecordLink::PollRecord(int n) {
    for (int attempt = 1; attempt <= kPolls; ++attempt) {
        if (Aborted()) return CChrArr();
        const int b = ReadByte();
        if (b < 0) {
            if (m_nError == -7) return CChrArr();
            if (attempt <= 2) continue;
            const int err = m_nError;
            SendEOT();
            m_nError = err;   // the time-out stays
            return CChrArr();
        }
        if (b == STX) {
            CChrArr text = ReadBody(n);
            if (text.GetLength() == n && SendByte(ACK)) {
                m_nError = 0;
                return text;
            }
            if (m_nError == -7) return CChrArr();
        } else if (b == EOT) {
            SendEOT();
            m_nError = 998;
            return CChrArr();
        }
        // A record the PC cannot take, or a stray byte: refused.
        m_pSerial->FlushInput(m_nPort);
        if (!SendByte(NAK)) return CChrArr();
    }
    // Seven reads without a record the PC could take: the register answers,
    // but not with a record (an earlier silence is not the reason), and may
    // send it again.
    m_nError = 999;
    MarkLineUnsettled();
    return CChrArr();
}

int CRecordLink::ReadStatusFrame(int& code) {
    CChrArr rec = PollRecord(13);
    if (rec.GetLength() != 13) return 0;
    const uint8_t a = rec[5], b = rec[6];
    code = a >= '0' && a <= '9' && b >= '0' && b <= '9' ? (a - '0') * 10 + (b - '0') : 0;
    if (code == 0) code = 999;
    const int ended = ReadEOT() && SendEOT();
    if (m_nError != -7) m_nError = code;   // a break stays
    return ended;
}

int CRecordLink::CommandSequence(const CChrArr& letter, const CChrArr& text) {
    EndRegistersTurn();
    return DrainAndFlush() && SendRecord(letter, text, ETX) && SendEOT();
}

// ---------------------------------------------------------------- fields

int CRecordLink::FormatVatFlag(int32_t vat, uint32_t flag, CChrArr& out) {
    out.RemoveAll();
    if (vat == -1) {
        out = "00";
    } else if (vat >= 1 && vat <= 8) {
        out = ZeroPadded(static_cast<uint64_t>(vat), 2);
    } else {
        m_nError = 103;
        return 0;
    }
    out += flag == 1 ? "01" : "00";
    return 1;
}

int CRecordLink::FormatDeptField(uint32_t dept, CChrArr& out) {
    if (dept == 255) {
        out = "FF";
    } else if (dept <= 99) {
        out = ZeroPadded(dept, 2);
    } else {
        m_nError = 999;
        return 0;
    }
    return 1;
}

int CRecordLink::ParseDeptField(const CChrArr& field, uint32_t& dept) {
    int64_t v = 0;
    if (field == "FF") {
        dept = 255;
    } else if (field.GetLength() == 2 && DecimalField(field, v)) {
        dept = static_cast<uint32_t>(v);
    } else {
        m_nError = 999;
        return 0;
    }
    return 1;
}

int CRecordLink::FormatPrice(double price, CChrArr& out) {
    uint64_t hundredths = 0;
    if (!ToWhole(price, 100.0, 99999999.0, hundredths)) {
        m_nError = 109;
        return 0;
    }
    out = ZeroPadded(hundredths, 8);
    return 1;
}

bool CRecordLink::DecimalField(const CChrArr& field, int64_t& v) {
    v = 0;
    bool digit = false;
    for (int i = 0; i < field.GetLength(); ++i) {
        const uint8_t c = field[i];
        if (c == ' ' && !digit) continue;
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
        digit = true;
    }
    return digit;
}
