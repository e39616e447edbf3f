#include "drivers/cas/ccaslp1.h"

#include <cmath>
#include <cstdio>

namespace {

constexpr uint8_t kWakeUp = 0xA5;
constexpr uint8_t kAwake = 'w';
constexpr uint8_t kCommandTaken = 0x01;
constexpr uint8_t kReplyEnd = 0x10;
constexpr uint8_t kWrite = 2;
constexpr uint8_t kRead = 5;
constexpr int kIoSeconds = 5;

CChrArr PluBytes(uint32_t plu) { return CCasLpLink::BigEndian(plu, 2); }

}  // namespace

int CCasLP1::Open(int port) { return CTelepathyECR::Open(port, 9600); }

int CCasLP1::WakeUp() {
    const int drained = m_pSerial->WaitOutputDrained(m_nPort, kIoSeconds);
    if (drained != 0) {
        m_nError = drained;
        return 0;
    }
    if (m_pSerial->GetInputCount(m_nPort) > 0) {
        if (m_pSerial->Delay(0.1) == -7) {
            m_nError = -7;
            return 0;
        }
        m_pSerial->FlushInput(m_nPort);
    }
    if (!Send(CChrArr(1, kWakeUp))) return 0;
    CChrArr answer;
    if (!ReadCount(1, answer)) return 0;
    if (answer[0] != kAwake) {
        return WrongAnswer();
    }
    return 1;
}

int CCasLP1::SendCommand(uint8_t command) {
    if (!Send(CChrArr(1, command))) return 0;
    CChrArr answer;
    if (!ReadCount(1, answer)) return 0;
    if (answer[0] != kCommandTaken) {
        return WrongAnswer();
    }
    return 1;
}

int CCasLP1::Request(uint8_t command, const CChrArr& two) { return Request(command, two, nullptr); }

int CCasLP1::Request(uint8_t command, const CChrArr& two, const std::function<int()>& then) {
    if (two.GetLength() != 2) {
        m_nError = CASLP_ERR_BAD_ANSWER;
        return 0;
    }
    if (!NotBroken() || !WakeUp()) return 0;
    // Awake, the scale waits for the command, the number and (for a write)
    // the record: from here on the command is carried to its end.
    return RestOfCommand([&] {
        if (!SendCommand(command) || !Send(two)) return 0;
        CChrArr answer;
        if (!ReadCount(2, answer)) return 0;
        if (answer[0] == 0 && answer[1] == 0) {
            m_nError = command == kWrite || command == kRead ? CASLP_ERR_NO_PLU : CASLP_ERR_BAD_ANSWER;
            return 0;
        }
        return then ? then() : 1;
    });
}

int CCasLP1::ReadReply(uint8_t command, CChrArr& out) {
    int size = 0;
    if (command == kWrite)
        size = 1;
    else if (command == kRead)
        size = kReadRecordSize + 1;
    else {
        m_nError = CASLP_ERR_BAD_ANSWER;
        return 0;
    }
    CChrArr reply;
    if (!ReadCount(size, reply)) return 0;
    if (reply[size - 1] != kReplyEnd) {
        return WrongAnswer();
    }
    out = reply.Left(size - 1);
    return 1;
}

int CCasLP1::BuildRecord(const CasLpPluRecord& r, CChrArr& out, int& error) {
    CasLpFields f;
    error = CheckFields(r, 16, f);
    if (error != 0) return 0;
    out = BigEndian(f.itemCode, 4);
    out += NameField(r.name1);
    out += NameField(r.name2);
    out += BigEndian(f.hundredths, 4);
    out += BigEndian(r.sellDate, 2);
    out += BigEndian(f.thousandths, 2);
    out += BigEndian(r.department, 2);
    out += BigEndian(r.code, 2);
    if (out.GetLength() != kRecordSize) {
        DumpBlock(out);
        error = CASLP_ERR_BAD_ANSWER;
        return 0;
    }
    return 1;
}

CasLpPluRecord CCasLP1::ParseRecord(const CChrArr& b) {
    CasLpPluRecord r;
    r.plu = ReadBigEndian(b, 0, 2);
    r.itemCode = ItemCodeText(ReadBigEndian(b, 2, 4));
    r.name1 = ReadName(b, 6);
    r.name2 = ReadName(b, 34);
    r.price = ReadBigEndian(b, 62, 4) / 100.0;
    r.sellDate = ReadBigEndian(b, 66, 2);
    r.amount = ReadBigEndian(b, 68, 2) / 1000.0;
    r.department = ReadBigEndian(b, 70, 2);
    r.code = ReadBigEndian(b, 72, 2);
    return r;
}

int CCasLP1::TryWrite(uint32_t plu, const CChrArr& bytes) {
    return Request(kWrite, PluBytes(plu), [&] {
        CChrArr reply;
        return Send(bytes) && ReadReply(kWrite, reply) ? 1 : 0;
    });
}

int CCasLP1::WritePlu(const CasLpPluRecord& record) {
    m_nError = 0;
    if (record.plu < 1 || record.plu > static_cast<uint32_t>(GetCapacity())) {
        m_nError = CASLP_ERR_PLU_RANGE;
        return 0;
    }
    CChrArr bytes;
    int error = 0;
    if (!BuildRecord(record, bytes, error)) {
        m_nError = error;
        return 0;
    }
    for (int attempt = 1; attempt <= kTries; ++attempt) {
        m_nError = 0;
        if (TryWrite(record.plu, bytes)) return 1;
        if (m_nError == -7) return 0;   // broken off: no further try
        if (m_pSerial->Delay(0.5) == -7) {
            m_nError = -7;
            return 0;
        }
    }
    m_nError = CASLP_ERR_REFUSED;
    return 0;
}

int CCasLP1::ReadPlu(uint32_t number, CasLpPluRecord& record) {
    m_nError = 0;
    if (number < 1 || number > static_cast<uint32_t>(GetCapacity())) {
        m_nError = CASLP_ERR_PLU_RANGE;
        return 0;
    }
    CChrArr bytes;
    if (!Request(kRead, PluBytes(number)) || !ReadReply(kRead, bytes)) return 0;
    record = ParseRecord(bytes);
    return 1;
}

int CCasLP1::ReadAllPlu(const Converter& converter) {
    const int capacity = GetCapacity();
    for (int i = 1; i <= capacity; ++i) {
        char text[64];
        std::snprintf(text, sizeof text, "Numer rekordu - %i", i);
        Notify(5, text, static_cast<int>(std::trunc(i * 100.0) / capacity), i);
        CasLpPluRecord record;
        if (ReadPlu(static_cast<uint32_t>(i), record)) {
            converter(record);
            continue;
        }
        // Goods may be programmed under any number: one not held is passed
        // over; any other failure ends the read.
        if (m_nError != CASLP_ERR_NO_PLU) return 0;
    }
    m_nError = 0;
    return 1;
}
