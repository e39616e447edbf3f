#include "drivers/adax/cadax.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "comm/frame_reader.h"
#include "drivers/common/english_errors.h"
#include "drivers/common/record_fields.h"
#include "platform/message_hook.h"
#include "util/cp1250.h"

namespace {

// The register writes the Polish letters as plain letters near their own.
struct DeviceLetters {
    std::array<uint8_t, 256> map{};
    DeviceLetters() {
        for (int i = 0; i < 256; ++i) map[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
        static const uint8_t cp1250[18] = {0xA5, 0xC6, 0xCA, 0xA3, 0xD1, 0xD3, 0x8C, 0x8F, 0xAF,
                                           0xB9, 0xE6, 0xEA, 0xB3, 0xF1, 0xF3, 0x9C, 0x9F, 0xBF};
        static const char device[] = "norsuvy~}norsuvy~}";
        for (int i = 0; i < 18; ++i) map[cp1250[i]] = static_cast<uint8_t>(device[i]);
    }
};

// A signed decimal field of an answer ("-" allowed, blanks around it);
// 0 when the field is not a number.
int64_t FieldNumber(const CChrArr& field) {
    std::string s = ChrTrim(field, ' ').ToString();
    bool negative = !s.empty() && s[0] == '-';
    if (negative) s.erase(0, 1);
    if (s.empty() || s.size() > 15) return 0;
    int64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return 0;
        v = v * 10 + (c - '0');
    }
    return negative ? -v : v;
}

// The code of an upload answer: the 13 characters at 19 without the blanks
// around them; absent when the answer does not reach that far.
bool AnswerCode(const CChrArr& a, std::string& code) {
    if (a.GetLength() < 31) return false;
    code = ChrTrim(ChrMid(a, 19, 13), ' ').ToString();
    return true;
}

// The 10-character figure at 34, 0 when the answer does not reach that far.
int64_t AnswerFigure(const CChrArr& a) { return a.GetLength() < 43 ? 0 : FieldNumber(ChrMid(a, 34, 10)); }



}  // namespace

CAdax::CAdax() {
    m_nWait = 20;
    m_nRetry = 5;
}

void CAdax::SeedSequence(uint32_t seed) { SeedSequenceDraw(seed); }

std::string CAdax::GetErrorText(int code) {
    if (const char* text = EnglishErrorText(code)) return text;
    if (code == kErrPrice) return PL("Cena towaru poza zakresem");
    if (code == kErrDept) return PL("Numer działu poza zakresem");
    return CTelepathyECR::GetErrorText(code);
}

int CAdax::Open(int port, int baud) {
    (void)baud;   // the register's line is always 9600 8N1
    if (!CTelepathyECR::Open(port, 9600)) return 0;
    uint32_t seq = DrawSequence(100);
    while (seq == m_nSeq) seq = DrawSequence(100);
    m_nSeq = seq;
    return 1;
}

void CAdax::Close() {
    if (m_pSerial) ClosePort();
    m_nError = 0;
}

bool CAdax::Aborted() {
    if (m_pSerial && m_pSerial->IsAborted()) {
        m_nError = -7;
        return true;
    }
    return false;
}

// ---------------------------------------------------------------- frames

uint32_t CAdax::Checksum(const CChrArr& bytes) {
    uint32_t s = 0;
    for (int i = 0; i < bytes.GetLength(); ++i) s += bytes[i];
    return (((s >> 6) & 63u) + 32u) * 100u + (s & 63u) + 32u;
}

CChrArr CAdax::BuildFrame(uint32_t sequence, const CChrArr& payload) {
    CChrArr frame;
    frame += kStart;
    frame += static_cast<uint8_t>((payload.GetLength() + 38) & 0xFF);
    frame += static_cast<uint8_t>((sequence & 15u) + 0x20);
    frame += payload;
    const uint32_t cc = Checksum(frame);
    frame += static_cast<uint8_t>(cc / 100u);
    frame += static_cast<uint8_t>(cc % 100u);
    frame += kEnd;
    return frame;
}

int CAdax::SendFrame(const CChrArr& payload) {
    if (!m_pSerial) {
        m_nError = -3;
        return 0;
    }
    // After a break nothing more goes to the register.
    if (Aborted()) return 0;
    m_nSeq &= 15u;
    m_pSerial->FlushOutput(m_nPort);
    m_pSerial->FlushInput(m_nPort);
    if (payload.GetLength() > kMaxPayload) {
        m_nError = kErrFrame;
        return 0;
    }
    const CChrArr frame = BuildFrame(m_nSeq, payload);
    DumpSent(frame);
    return SendAll(frame, kErrFrame);
}

CChrArr CAdax::ReadFrame() {
    const FrameReaderSpec spec{kStart, kEnd, static_cast<double>(m_nWait), 63, 5, kErrNoStart, kErrNoEnd,
                               kErrChecksum};
    CChrArr rest = ReadStartEndFrame(*this, spec, [this](const CChrArr& r) {
        const int n = r.GetLength();
        const uint32_t cc = Checksum(CChrArr(1, kStart) + r.Left(n - 3));
        if (r[n - 3] != cc / 100u || r[n - 2] != cc % 100u) return false;
        // The next frame carries the answer's sequence number back.
        m_nSeq = static_cast<uint32_t>(r[1]) - 0x20u;
        return true;
    });
    if (rest.IsEmpty()) return rest;
    return rest.Mid(2, rest.GetLength() - 5);
}

CChrArr CAdax::Command(const CChrArr& payload) {
    if (!SendFrame(payload)) return CChrArr();
    return ReadFrame();
}

// ---------------------------------------------------------------- sequences

int CAdax::Step(const CChrArr& payload, bool needed) {
    CChrArr answer = Command(payload);
    if (m_nError == -7) return 0;
    if (needed && answer.IsEmpty()) return 0;
    return 1;
}

int CAdax::WaitReady() {
    CChrArr answer = ReadFrame();
    if (answer.IsEmpty()) return 0;
    if (answer.GetLength() != 10) {
        m_nError = kErrNoAnswer;
        return 0;
    }
    return 1;
}

int CAdax::Connect() {
    WaitReady();   // the register's ready frame; *I decides
    if (m_nError == -7) return 0;
    return Step("*I", true);
}

int CAdax::OpenSession() {
    Connect();
    if (m_nError == -7) return 0;
    if (!Step("*SZZi", false) || !Step("*U", false)) return 0;
    if (m_pSerial->AskOperator(orv::platform::MessageKind::Prompt, PL("Proszę zablokować klawiaturę na kasie - kl.<Zegar>"), 1) == -7) {
        m_nError = -7;
        return 0;
    }
    Connect();
    if (m_nError == -7) return 0;
    return Step("", true) && Step("*LI", true) && Step("*P", true) && Step("", true);
}

int CAdax::CloseSession() {
    if (!Step("", false) || !Step("*SZZi", false)) return 0;
    return Step("*U", true) && Step("*SZ", true);
}

int CAdax::BeginProgram() {
    Connect();
    if (m_nError == -7) return 0;
    return Step("*SZZl11Q", true);
}

int CAdax::BeginUpdate() {
    Connect();
    if (m_nError == -7) return 0;
    return Step("*SZZl12Q", true);
}

int CAdax::BeginDelete() {
    Connect();
    if (m_nError == -7) return 0;
    return Step("*SZZl13Q", true);
}

int CAdax::EndProgramming() { return Step("*SKZi", true) && Step("*SZi", true); }

int CAdax::CloseKeeping(int result) {
    if (m_nError == -7) return 0;   // broken off: nothing more goes out
    const int first = result ? 0 : (m_nError != 0 ? m_nError : kErrNoAnswer);
    const int closed = CloseSession();
    if (m_nError == -7) return 0;
    if (!result) {
        m_nError = first;
        return 0;
    }
    if (!closed) {
        if (m_nError == 0) m_nError = kErrNoAnswer;
        return 0;
    }
    m_nError = 0;
    return 1;
}

int CAdax::ClearSales() {
    m_nError = 0;
    int ok = OpenSession();
    if (ok) ok = Step("*SZZk", true) && Step("*SK", true) && Step("*S2020Q", true) && Step("*Si", true);
    return CloseKeeping(ok);
}

// ---------------------------------------------------------------- goods

CChrArr CAdax::Cp1250ToDevice(const CChrArr& text) {
    static const DeviceLetters letters;
    CChrArr out = text;
    for (int i = 0; i < out.GetLength(); ++i) out[i] = letters.map[out[i]];
    return out;
}

int CAdax::CheckItem(const char* code, size_t cap, double price, uint32_t dept, bool withDept) {
    if (ChrTrim(HostText(code, cap), ' ').GetLength() > 13) {
        m_nError = kErrGoods;   // cut, it would name another item
        return 0;
    }
    if (withDept && dept > 191) {
        m_nError = kErrDept;    // 0x40 + it would not fit one byte
        return 0;
    }
    uint64_t hundredths = 0;
    if (!ToWhole(price, 100.0, 9999999999.0, hundredths)) {
        m_nError = kErrPrice;
        return 0;
    }
    return 1;
}

int CAdax::ProgramPLU(const AdaxPLURecord& rec) {
    m_nError = 0;
    if (!CheckItem(rec.code, sizeof rec.code, rec.price, rec.dept, true)) return 0;
    uint64_t hundredths = 0;
    ToWhole(rec.price, 100.0, 9999999999.0, hundredths);
    char price[16];
    std::snprintf(price, sizeof price, "%010llu", static_cast<unsigned long long>(hundredths));
    CChrArr head("*WH0");
    head += ChrPadLeft(ChrTrim(HostText(rec.code, sizeof rec.code), ' '), 13, ' ');
    head += price;
    head += "0000";
    if (!Step(head, true)) return 0;
    CChrArr body("*WH1");
    body += ChrPadRight(Cp1250ToDevice(HostText(rec.name, sizeof rec.name)), 18, ' ');
    body += static_cast<uint8_t>(0x40 + rec.dept);
    body += '9';
    return Step(body, true);
}

int CAdax::UpdatePrice(const AdaxPLURecord& rec) {
    m_nError = 0;
    const CChrArr code = ChrTrim(HostText(rec.code, sizeof rec.code), ' ');
    if (code.IsEmpty()) {
        m_nError = kErrGoods;
        return 0;
    }
    if (!CheckItem(rec.code, sizeof rec.code, rec.price, 0, false)) return 0;
    CChrArr price = ChrReplace(ChrTrim(DoubleToText(rec.price, Decimals{2}, Width{11}), ' '), '.', ',');
    CChrArr select = CChrArr("*S") + code + "R";
    CChrArr set = CChrArr("*S") + price + "Q";
    if (Step(select, true) && Step(set, true)) return 1;
    if (m_nError != -7) m_nError = kErrGoods;
    return 0;
}

int CAdax::DeletePLU(const char* code, size_t cap) {
    m_nError = 0;
    const CChrArr trimmed = ChrTrim(HostText(code, cap), ' ');
    if (trimmed.IsEmpty() || trimmed.GetLength() > 13) {
        m_nError = kErrGoods;
        return 0;
    }
    CChrArr cmd = CChrArr("*S") + trimmed + "R0B";
    if (Step(cmd, true)) return 1;
    if (m_nError != -7) m_nError = kErrGoods;
    return 0;
}

// ---------------------------------------------------------------- uploads

int CAdax::UploadDepartments(const DeptFn& fn) { return RunUpload(Upload::Departments, fn, {}, {}); }

int CAdax::UploadPLUs(const PluFn& fn) { return RunUpload(Upload::Goods, {}, fn, {}); }

int CAdax::UploadSales(const SaleFn& fn) { return RunUpload(Upload::Sales, {}, {}, fn); }

int CAdax::RunUpload(Upload kind, const DeptFn& depts, const PluFn& goods, const SaleFn& sales) {
    m_nError = 0;
    // An answer stream that never completes a record is not followed for ever.
    const int kMaxIdle = 100;
    bool complete = false;
    int failure = 0;
    if (OpenSession() && SendFrame(CChrArr(kind == Upload::Departments ? "*XE" : "*X8"))) {
        int count = 0, idle = 0;
        bool pending = false;
        std::string pendingCode;
        double quantity = 0.0;
        CChrArr a = ReadFrame();
        int readError = a.IsEmpty() ? m_nError : 0;
        for (;;) {
            if (!SendFrame(CChrArr(""))) {
                failure = m_nError;
                break;
            }
            const int n = a.GetLength();
            bool stop = false;
            bool completed = false;
            if (n < 11) {
                if (n == 10 && a[4] == '.') {
                    // the register's ready frame: passed over
                } else if (n == 10) {
                    m_pSerial->AskOperator(orv::platform::MessageKind::Notice, "Error", 0);
                    stop = kind != Upload::Sales;
                } else {
                    stop = true;
                }
            } else if (a[10] != 'S') {
                stop = true;
            } else if (n < 19) {
                if (ChrMid(a, 16, 3) == "XF ") {
                    complete = true;
                    stop = true;
                }
            } else if (kind == Upload::Departments) {
                ++count;
                completed = true;
                Notify(5, "DEPT", count % 100, 0);
                AdaxDeptRecord rec{};
                rec.number = static_cast<uint32_t>(count);
                CopyString(rec.name, sizeof rec.name, "ABCDEFGHIJKL");
                rec.vat = 1;
                rec.price = 1.0;
                rec.word100 = 99;
                rec.flags = 0;
                if (depts) depts(rec);
            } else {
                const CChrArr tag = ChrMid(a, 16, 3);
                std::string code;
                const bool haveCode = AnswerCode(a, code);
                if (tag == "X30") {
                    pending = haveCode;
                    pendingCode = code;
                    quantity = static_cast<double>(AnswerFigure(a)) / 1000.0;
                } else if (tag == "X31" && pending && haveCode && code == pendingCode) {
                    pending = false;
                    ++count;
                    completed = true;
                    Notify(5, "Kod kreskowy - " + code, count % 100, 0);
                    AdaxPLURecord rec{};
                    CopyString(rec.code, sizeof rec.code, code);
                    rec.dept = 1;
                    rec.price = 1.0;
                    rec.vat = 1;
                    if (kind == Upload::Goods) {
                        if (goods) goods(rec);
                    } else {
                        const double value = static_cast<double>(AnswerFigure(a)) / 100.0;
                        if (value > 0.0 && quantity != 0.0 && sales) sales(AdaxSale{rec, quantity, value});
                    }
                }
            }
            if (a.IsEmpty()) failure = readError;
            if (stop) break;
            idle = completed ? 0 : idle + 1;
            if (idle > kMaxIdle) break;
            a = ReadFrame();
            readError = a.IsEmpty() ? m_nError : 0;
        }
    } else {
        failure = m_nError;
    }
    if (m_nError == -7) return 0;
    if (!complete) m_nError = failure != 0 ? failure : kErrNoAnswer;
    return CloseKeeping(complete ? 1 : 0);
}
