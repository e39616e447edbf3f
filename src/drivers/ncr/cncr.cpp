#include "drivers/ncr/cncr.h"

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "drivers/common/english_errors.h"
#include "drivers/common/record_fields.h"
#include "util/cp1250.h"

namespace {

constexpr int kWriteTries = 5;
constexpr int kReceiveTries = 3;
constexpr int kByteSeconds = 10;       // one-byte and two-byte reads
constexpr int kFrameSeconds = 1;       // the rest of a frame, up to ETX
constexpr int kStatusPolls = 20;
constexpr double kStatusPollSeconds = 0.5;
constexpr double kFlushPause = 0.2;
constexpr uint8_t kLengthBase = 0x2F;
constexpr uint8_t kJobBase = 0x20;

bool IsDigits(const CChrArr& s, int from = 0) {
    if (s.GetLength() <= from) return false;
    for (int i = from; i < s.GetLength(); ++i)
        if (s[i] < '0' || s[i] > '9') return false;
    return true;
}

bool IsHex(const CChrArr& s) {
    for (int i = 0; i < s.GetLength(); ++i)
        if (HexDigit(s[i]) < 0) return false;
    return true;
}

bool Is(const CChrArr& s, const char* text) {
    const size_t n = std::strlen(text);
    return static_cast<size_t>(s.GetLength()) == n && std::memcmp(s.data(), text, n) == 0;
}

// The fields of a ':'-separated text (an empty text is one empty field).
std::vector<CChrArr> Fields(const CChrArr& text) {
    std::vector<CChrArr> out;
    int start = 0;
    for (;;) {
        const int at = text.Find(':', start);
        if (at < 0) {
            out.push_back(text.Mid(start));
            return out;
        }
        out.push_back(text.Mid(start, at - start));
        start = at + 1;
    }
}

// A host text as a field of the register's records: control bytes and the
// field separator go out as blanks.
CChrArr FieldText(const char* text, size_t cap) { return ChrReplace(HostText(text, cap), ':', ' '); }

CChrArr TrimRight(const CChrArr& s) {
    int n = s.GetLength();
    while (n > 0 && s[n - 1] == ' ') --n;
    return s.Left(n);
}

// A signed decimal number: an optional '-', digits, and (when allowed) one
// '.' or ',' among them.
bool ParseNumber(const CChrArr& s, bool fraction, double& out) {
    std::string t = s.ToString();
    size_t i = t.empty() || t[0] != '-' ? 0 : 1;
    int digits = 0, points = 0;
    for (size_t k = i; k < t.size(); ++k) {
        if (t[k] >= '0' && t[k] <= '9') {
            ++digits;
        } else if (fraction && (t[k] == '.' || t[k] == ',') && points == 0) {
            ++points;
            t[k] = '.';
        } else {
            return false;
        }
    }
    if (digits == 0) return false;
    out = TextToDouble(CChrArr(t));
    return std::isfinite(out);
}

}  // namespace

CNcr::CNcr() = default;
CNcr::~CNcr() = default;

std::string CNcr::GetErrorText(int code) {
    const char* text = EnglishErrorText(code);
    return text ? std::string(text) : CTelepathyECR::GetErrorText(code);
}

int CNcr::Fail(int code) {
    if (m_nError == 0) m_nError = code;
    return 0;
}

bool CNcr::Broken() {
    if (m_pSerial && m_pSerial->IsAborted()) {
        m_nError = -7;
        return true;
    }
    return false;
}

int CNcr::Pause(double seconds) {
    if (m_pSerial->Delay(seconds) == -7 || m_pSerial->IsAborted()) {
        m_nError = -7;
        return -7;
    }
    return 0;
}

// ---------------------------------------------------------- frame layer

uint8_t CNcr::CalcCheckChar(const CChrArr& bytes) {
    uint8_t x = 0;
    for (int i = 0; i < bytes.GetLength(); ++i) x ^= bytes[i];
    return static_cast<uint8_t>((x & 0x7F) + 40);
}

CChrArr CNcr::BuildFrame(int job, uint8_t sequence, const CChrArr& data) {
    CChrArr frame;
    frame += EOT;
    frame += static_cast<uint8_t>(data.GetLength() + kLengthBase);
    frame += sequence;
    frame += static_cast<uint8_t>(job + kJobBase);
    frame += data;
    frame += STX;
    frame += CalcCheckChar(frame);
    frame += ETX;
    return frame;
}

CChrArr CNcr::ReadBytes(int n, int seconds) {
    CChrArr bytes = m_pSerial->Read(m_nPort, n, seconds);
    if (bytes.GetLength() < n) {
        const int err = m_pSerial->GetError(m_nPort);
        m_nError = err < 0 ? err : -5;
    }
    return bytes;
}

int CNcr::WriteByte(uint8_t byte) {
    CChrArr one;
    one += byte;
    return SendBytes(one);
}

int CNcr::ReadAck() {
    const CChrArr answer = ReadBytes(1, kByteSeconds);
    if (answer.IsEmpty()) return 0;
    if (IsAck(answer[0])) return 1;
    if (IsNak(answer[0])) return 2;
    m_nError = NCR_ERR_BAD_REPLY;
    return 0;
}

int CNcr::SendFrame(int job, uint8_t sequence, const CChrArr& data) {
    m_nError = 0;
    if (!m_pSerial) return Fail(-3);
    if (data.GetLength() > kNcrMaxData) return Fail(NCR_ERR_BAD_REPLY);
    const CChrArr frame = BuildFrame(job, sequence, data);
    for (int write = 0; write < kWriteTries; ++write) {
        // A break is looked at before every frame, so a register that
        // answers at once cannot carry a broken-off job on.
        if (Broken()) return 0;
        if (!SendBytes(frame)) return 0;
        const int r = ReadAck();
        if (r == 1) return 1;
        if (r != 2) return 0;
    }
    m_nError = NCR_ERR_BAD_REPLY;
    return 0;
}

void CNcr::Resynchronise() {
    if (m_pSerial->GetInputCount(m_nPort) <= 0) return;
    for (int look = 0; look < 2; ++look) {
        const int eot = m_pSerial->FindInInput(m_nPort, EOT);
        if (eot == 1) return;
        if (eot > 1) {
            m_pSerial->Read(m_nPort, eot - 1, 0);
            return;
        }
        const int etx = m_pSerial->FindInInput(m_nPort, ETX);
        if (etx > 0) {
            m_pSerial->Read(m_nPort, etx, 0);
            return;
        }
        if (look == 0 && Pause(m_nDelay) != 0) return;
    }
    m_pSerial->FlushInput(m_nPort);
    Pause(kFlushPause);
}

CChrArr CNcr::ReceiveFrame(int job) {
    m_nError = 0;
    if (!m_pSerial) {
        Fail(-3);
        return CChrArr();
    }
    if (Broken()) return CChrArr();
    for (int attempt = 1; attempt <= kReceiveTries; ++attempt) {
        const bool last = attempt == kReceiveTries;
        Resynchronise();
        if (m_nError == -7) return CChrArr();
        m_nError = 0;
        const CChrArr head = ReadBytes(2, kByteSeconds);
        if (head.GetLength() < 2) {
            if (m_nError == -5 && !last) continue;
            return CChrArr();
        }
        int code = 0;
        CChrArr rest;
        int n = 0;
        if (head[0] != EOT) {
            code = NCR_ERR_NOT_EOT;
        } else if (head[1] <= kLengthBase) {
            code = NCR_ERR_LENGTH;
        } else {
            n = head[1] - kLengthBase;
            rest = m_pSerial->ReadUntil(m_nPort, ETX, n + 5, kFrameSeconds);
            DumpReadUntil(rest);
            const int err = m_pSerial->GetError(m_nPort);
            if (rest.GetLength() < n + 5) {
                code = !rest.IsEmpty() ? NCR_ERR_SHORT_FRAME : err < 0 && err != -8 ? err : -5;
            } else if (rest[n + 4] != ETX) {
                code = NCR_ERR_NO_ETX;
            } else if (rest[n + 2] != STX) {
                code = NCR_ERR_NO_STX;
            } else if (rest[n + 3] != CalcCheckChar(head + rest.Left(n + 3))) {
                code = NCR_ERR_CHECK;
            }
        }
        if (code == -7) {
            m_nError = -7;
            return CChrArr();
        }
        if (code != 0) {
            m_nError = code;
            if (last) return CChrArr();
            m_pSerial->FlushInput(m_nPort);
            if (!WriteByte(NAK)) {
                if (m_nError != -7) m_nError = code;
                return CChrArr();
            }
            continue;
        }
        if (rest[1] - kJobBase != job) {
            m_nError = NCR_ERR_OTHER_JOB;
            return CChrArr();
        }
        m_lastSequence = rest[0];
        return rest.Mid(2, n);
    }
    return CChrArr();
}

CChrArr CNcr::SendAck(int job) {
    CChrArr data = ReceiveFrame(job);
    if (data.IsEmpty()) return data;
    if (!WriteByte(ACK)) return CChrArr();
    return data;
}

// ---------------------------------------------------------- reply texts

bool CNcr::ParseReply(const CChrArr& reply, NcrReply& out) {
    out = NcrReply();
    const int n = reply.GetLength();
    if (n >= 3 && n <= 12) {
        const int colon = reply.Find(':');
        if ((colon < 0 ? n : colon) != 3) return false;
        out.status = reply.Left(3);
        return true;
    }
    if (n < 16) return false;
    // status ':' block(4 hex) ':' counter(2) ':' data ':' flag ':' flag
    if (reply[3] != ':' || reply[8] != ':' || reply[11] != ':' || reply[n - 4] != ':' || reply[n - 2] != ':')
        return false;
    const CChrArr block = reply.Mid(4, 4);
    const CChrArr counter = reply.Mid(9, 2);
    if (!IsHex(block) || !IsDigits(counter) || !IsDigits(reply.Mid(n - 3, 1)) || !IsDigits(reply.Mid(n - 1, 1)))
        return false;
    out.status = reply.Left(3);
    out.block = block;
    out.counter = counter;
    out.data = reply.Mid(12, n - 16);
    out.hasBlock = true;
    return true;
}

bool CNcr::ParseStatusReply(const CChrArr& reply, NcrStatus& out) {
    out = NcrStatus();
    if (reply.GetLength() != 50) return false;
    const std::vector<CChrArr> f = Fields(reply);
    if (f.size() != 7 || !Is(f[0], "A01") || f[4].GetLength() != 10) return false;
    for (int i = 0; i < 3; ++i) {
        // Decimal words; nine digits at most keep them within 32 bits.
        if (!IsDigits(f[1 + i]) || f[1 + i].GetLength() > 9) return false;
        out.words[i] = static_cast<uint32_t>(StrToNum(f[1 + i], 10, 0));
    }
    return true;
}

namespace {
// The lowest set bit among bits 0..top, or -1.
int LowestBit(uint32_t word, int top) {
    for (int bit = 0; bit <= top; ++bit)
        if (word & (1u << bit)) return bit;
    return -1;
}
}  // namespace

int CNcr::CheckStatusWords(const NcrStatus& status) {
    const uint32_t first = status.words[0], second = status.words[1], third = status.words[2];
    if (third != 128 && third != 192) {
        const int bit = LowestBit(third, 6);
        m_nError = bit < 0 ? NCR_ERR_BAD_REPLY : 14 + bit;
        return 0;
    }
    if (second != 128) {
        const int bit = LowestBit(second, 5);
        m_nError = bit < 0 ? NCR_ERR_BAD_REPLY : 6 + bit;
        if (!(first & 0x40) || !(second & 0x08)) return 0;
        return 1;
    }
    if (!(first & 0x40)) {
        m_nError = NCR_ERR_BAD_REPLY;
        return 0;
    }
    return 1;
}

// ---------------------------------------------------------- record texts

int CNcr::BuildPluText(const NcrPlu& plu, CChrArr& out) {
    out.RemoveAll();
    m_nError = 0;
    const CChrArr code = ChrTrim(FieldText(plu.code, sizeof plu.code), ' ');
    // A longer code cut down would name another item.
    if (code.IsEmpty() || code.GetLength() > kNcrCodeMax) {
        m_nError = NCR_ERR_EMPTY_CODE;
        return 0;
    }
    uint64_t hundredths = 0;
    if (!ToWhole(plu.price, 100.0, 999999999.0, hundredths)) {
        m_nError = NCR_ERR_PRICE;
        return 0;
    }
    if (plu.department < 1 || plu.department > kNcrMaxDept) {
        m_nError = NCR_ERR_DEPT;
        return 0;
    }
    out = code.Left(kNcrCodeWidth);
    out += ':';
    out += NumToText(static_cast<uint32_t>(hundredths), 0, ' ', 10);
    out += ':';
    out += NumToText(plu.department, 0, ' ', 10);
    out += ':';
    out += ChrPadRight(Cp1250ToCp852(FieldText(plu.name, sizeof plu.name)), kNcrNameWidth, ' ');
    out += ":0:0:0:9:0:0:0";
    return 1;
}

int CNcr::BuildDeptText(const NcrDept& dept, CChrArr& out) {
    out.RemoveAll();
    m_nError = 0;
    if (dept.number < 1 || dept.number > kNcrMaxDept) {
        m_nError = NCR_ERR_DEPT;
        return 0;
    }
    uint64_t hundredths = 0;
    if (!ToWhole(dept.price, 100.0, 999999999.0, hundredths)) {
        m_nError = NCR_ERR_PRICE;
        return 0;
    }
    // number, name, an empty field, 0, 0, "0" and the price digits, an
    // empty field, 1 and six zeros: the register has always taken it so.
    out = NumToText(dept.number, 0, ' ', 10);
    out += ':';
    out += ChrPadRight(Cp1250ToCp852(FieldText(dept.name, sizeof dept.name)), kNcrDeptNameWidth, ' ');
    out += ':';
    out += ":0:0:0";
    out += NumToText(static_cast<uint32_t>(hundredths), 0, ' ', 10);
    out += ':';
    out += ":1";
    out += ":0:0:0:0:0:0";
    return 1;
}

bool CNcr::ParsePluData(const CChrArr& data, NcrPlu& out) {
    out = NcrPlu();
    const std::vector<CChrArr> f = Fields(data);
    if (f.size() != 6) return false;
    const CChrArr& code = f[0];
    const CChrArr& price = f[1];
    const CChrArr& dept = f[2];
    const CChrArr& name = f[3];
    if (code.IsEmpty() || code.GetLength() > kNcrCodeWidth) return false;
    if (!IsDigits(price) || price.GetLength() > 9) return false;
    if (!IsDigits(dept) || dept.GetLength() > 2) return false;
    if (name.IsEmpty() || name.GetLength() > kNcrNameWidth) return false;
    if (f[4].IsEmpty() || f[5].IsEmpty()) return false;
    CopyTextField(out.code, ChrTrim(code, ' '));
    CopyTextField(out.name, TrimRight(Cp852ToCp1250(name)));
    out.price = static_cast<double>(StrToNum(price, 10, 0)) / 100.0;
    out.department = static_cast<uint32_t>(StrToNum(dept, 10, 0));
    out.vatGroup = 1;
    return true;
}

bool CNcr::ParseSaleData(const CChrArr& data, NcrSale& out) {
    out = NcrSale();
    const std::vector<CChrArr> f = Fields(data);
    if (f.size() != 4) return false;
    if (f[0].IsEmpty() || f[0].GetLength() > kNcrCodeWidth) return false;
    if (f[3].GetLength() != 1) return false;
    double quantity = 0.0, value = 0.0;
    if (!ParseNumber(f[1], true, quantity) || !ParseNumber(f[2], false, value)) return false;
    CopyTextField(out.code, ChrTrim(f[0], ' '));
    out.quantity = quantity;
    out.value = value / 100.0;
    return true;
}

// ---------------------------------------------------------------- jobs

int CNcr::PrepareTransfer(int job, int stop) {
    m_nError = 0;
    if (!m_pSerial) return Fail(-3);
    if (Broken()) return 0;
    m_pSerial->FlushInput(m_nPort);
    if (!WriteByte(DLE)) return 0;
    bool waiting = false;
    for (int poll = 0; poll < kStatusPolls; ++poll) {
        if (m_pSerial->GetInputCount(m_nPort) > 0) {
            waiting = true;
            break;
        }
        if (Pause(kStatusPollSeconds) != 0) break;
        m_nError = -5;
    }
    if (!waiting) {
        // The register may still answer the DLE: the next request waits
        // for the line to go quiet first.
        m_pSerial->MarkUnsettled(m_nPort);
        return 0;
    }
    m_nError = 0;
    const CChrArr reply = ReceiveFrame(job);
    NcrStatus status;
    if (reply.IsEmpty() || !ParseStatusReply(reply, status)) {
        // A transport code (silence, a break) says more than a refusal.
        if (m_nError >= 0) m_nError = NCR_ERR_BAD_REPLY;
        return 0;
    }
    if (!CheckStatusWords(status)) return 0;
    if (!Send(CChrArr("0;#P;#H;"))) return Fail(NCR_ERR_BAD_REPLY);
    return WaitJobEnd(job, stop);
}

int CNcr::WaitJobEnd(int job, int stop) {
    int empty = 0;
    for (int pass = 0; pass < kMaxPasses; ++pass) {
        const CChrArr reply = SendAck(job);
        if (m_nError == -7) return 0;
        if (reply.IsEmpty()) {
            // A register that stays silent does not hold an item for hours.
            if (++empty >= kMaxEmptyPolls) return Fail(NCR_ERR_BAD_REPLY);
            continue;
        }
        empty = 0;
        const CChrArr status = reply.Left(3);
        if (Is(status, "A01")) return 1;
        if (Is(status, "C01")) continue;
        if (Is(status, "B90")) {
            if (!Send(CChrArr("XXXX:XX;#H;"))) return Fail(NCR_ERR_BAD_REPLY);
            if (!WriteByte(DLE)) return 0;
            if (stop == 1) return 1;
            continue;
        }
        m_nError = NCR_ERR_BAD_REPLY;
        return 0;
    }
    m_nError = NCR_ERR_BAD_REPLY;
    return 0;
}

int CNcr::Expect(bool ack, NcrReply& reply) {
    const CChrArr data = ack ? SendAck(0) : ReceiveFrame(0);
    if (data.IsEmpty()) return Fail(NCR_ERR_BAD_REPLY);
    if (!ParseReply(data, reply)) {
        m_nError = NCR_ERR_BAD_REPLY;
        return 0;
    }
    return 1;
}

int CNcr::ProgramDept(const NcrDept& dept) {
    m_nError = 0;
    CChrArr text;
    if (!BuildDeptText(dept, text)) return 0;
    if (PrepareTransfer(0, 0) != 1) return Fail(NCR_ERR_BAD_REPLY);
    NcrReply reply;
    if (!Send(CChrArr("0;*2;*F;*3"))) return Fail(NCR_ERR_BAD_REPLY);
    if (!Expect(true, reply)) return 0;
    if (!Is(reply.status, "B80")) return Fail(NCR_ERR_BAD_REPLY);
    if (!Send(text)) return Fail(NCR_ERR_BAD_REPLY);
    if (!Expect(true, reply)) return 0;
    if (!Is(reply.status, "B80")) return Fail(NCR_ERR_BAD_REPLY);
    if (!Send(CChrArr("*"))) return Fail(NCR_ERR_BAD_REPLY);
    return 1;
}

int CNcr::ProgramPlu(const NcrPlu& plu) {
    m_nError = 0;
    CChrArr text;
    if (!BuildPluText(plu, text)) return 0;
    PrepareTransfer(0, 0);
    if (m_nError == -7) return 0;
    if (!Send(CChrArr("0;*2;+4;*G;+1;*3"))) return Fail(NCR_ERR_BAD_REPLY);
    NcrReply reply;
    for (int continues = 0;;) {
        if (!Expect(false, reply)) return 0;
        if (Is(reply.status, "B23")) {
            if (++continues > kMaxContinues) return Fail(NCR_ERR_BAD_REPLY);
            if (!Send(CChrArr("0;"))) return Fail(NCR_ERR_BAD_REPLY);
            continue;
        }
        if (!Is(reply.status, "B81")) return Fail(NCR_ERR_BAD_REPLY);
        if (!WriteByte(ACK)) return 0;
        if (!Send(text)) return Fail(NCR_ERR_BAD_REPLY);
        if (!Expect(true, reply)) return 0;
        if (!Is(reply.status, "B81")) return Fail(NCR_ERR_BAD_REPLY);
        if (!Send(CChrArr("*"))) return Fail(NCR_ERR_BAD_REPLY);
        return 1;
    }
}

int CNcr::ReadList(const CChrArr& command, bool sales, const BlockFn& each) {
    m_nError = 0;
    PrepareTransfer(0, 0);
    if (m_nError == -7) return 0;
    if (!Send(command)) return Fail(NCR_ERR_BAD_REPLY);
    const char* const listStatus = sales ? "C04" : "C08";
    int tries = kListTries;
    int blocks = 0;
    int continues = 0;
    bool haveLast = false;
    CChrArr lastBlock, lastCounter;
    while (tries > 0) {
        // Goods blocks are acknowledged as they come; sale blocks only once
        // they are known to be sale blocks.
        const CChrArr data = sales ? ReceiveFrame(0) : SendAck(0);
        if (data.IsEmpty()) return Fail(NCR_ERR_BAD_REPLY);
        NcrReply reply;
        if (!ParseReply(data, reply)) {
            --tries;
            continue;
        }
        if (Is(reply.status, listStatus)) {
            continues = 0;
            if (sales && !WriteByte(ACK)) return 0;
            if (reply.data.IsEmpty()) {
                --tries;
                continue;
            }
            if (reply.data[0] == '*') {
                m_nError = 0;
                return 1;
            }
            if (haveLast && reply.block == lastBlock && reply.counter == lastCounter) {
                --tries;   // the same block again: handed on once
                continue;
            }
            haveLast = true;
            lastBlock = reply.block;
            lastCounter = reply.counter;
            if (++blocks > kMaxBlocks) {
                m_nError = NCR_ERR_BAD_REPLY;
                return 0;
            }
            if (!each(reply.data)) {
                m_nError = NCR_ERR_BAD_REPLY;
                return 0;
            }
            tries = kListTries;
            continue;
        }
        if (Is(reply.status, "B23")) {
            if (++continues > kMaxContinues) {
                m_nError = NCR_ERR_BAD_REPLY;
                return 0;
            }
            if (!sales) {
                Send(CChrArr("0"));
                if (m_nError == -7) return 0;
                --tries;
                continue;
            }
            if (Send(CChrArr("0;"))) continue;
            if (m_nError == -7) return 0;
        } else {
            continues = 0;
        }
        // Anything else: the transfer is started again.
        if (PrepareTransfer(0, 1) != 1) return Fail(NCR_ERR_BAD_REPLY);
        --tries;
    }
    m_nError = NCR_ERR_BAD_REPLY;
    return 0;
}

int CNcr::ReadAllPlu(const PluSink& sink) {
    return ReadList(CChrArr("0;*2;+4;&M1:999999999999;*3"), false, [&](const CChrArr& data) {
        NcrPlu plu;
        if (!ParsePluData(data, plu)) return 0;
        if (sink) sink(plu);
        return 1;
    });
}

int CNcr::ReadSales(const SaleSink& sink) {
    return ReadList(CChrArr("0;*2;+2;*B1:10;#H;*3;"), true, [&](const CChrArr& data) {
        NcrSale sale;
        if (!ParseSaleData(data, sale)) return 0;
        if (sink) sink(sale);
        return 1;
    });
}

int CNcr::ReadAllDept(const DeptSink& sink) {
    m_nError = 0;
    NcrDept dept;
    dept.number = 1;
    CopyTextField(dept.name, CChrArr("ABCDEFGHIJKL"));
    dept.vatGroup = 1;
    dept.price = 1.0;
    dept.flag = 0;
    dept.second = 99;
    if (sink) sink(dept);
    return 1;
}

int CNcr::ReadVat(double rates[8]) {
    m_nError = 0;
    const double fixed[8] = {22.0, 7.0, 0.0, -3.0, -3.0, -3.0, -3.0, -3.0};
    for (int i = 0; i < 8; ++i) rates[i] = fixed[i];
    return 1;
}

int CNcr::ClearSales() {
    m_nError = 25;
    return 0;
}

int CNcr::DeletePlu(const NcrPlu& /*plu*/) {
    m_nError = 25;
    return 0;
}

int CNcr::ReadPlu(NcrPlu& /*plu*/) {
    m_nError = 25;
    return 0;
}
