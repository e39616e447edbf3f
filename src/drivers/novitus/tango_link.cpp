#include "drivers/novitus/tango_link.h"

#include <cstdio>

#include "drivers/novitus/tango_errors.h"
#include "util/cp1250.h"

namespace {

constexpr int kReadSeconds = 10;
constexpr int kWriteSeconds = 5;
constexpr int kDrainSeconds = 5;
constexpr int kHandshakeTries = 15;      // ENQs in all, busy answers included
constexpr int kHandshakeBadAnswers = 7;  // tries after which a wrong answer gives up
constexpr int kFrameRepeats = 7;         // NAKs answered with a repeat
constexpr int kExtraBytes = 15;          // bytes looked at for a late ACK
constexpr int kReceiveAttempts = 7;
constexpr int kSilentReads = 3;

std::string Numbered(const char* fmt, int n) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, n);
    return buf;
}

}  // namespace

CTangoLink::CTangoLink(const TangoTraits& traits) : m_traits(traits) {
    m_nWait = 20;
    m_nRetry = kFrameRepeats;
}

CTangoLink::~CTangoLink() = default;

// ---------------------------------------------------------------- opening

int CTangoLink::OpenSerial(int port, int baud) {
    m_nError = 0;
    m_errorText.clear();
    m_bInTurn = false;
    m_nPort = port;
    m_nMode = 0;
    if (!m_pSerial) return Fail(-3);
    if (m_traits.dataLog) OpenDataLog();
    CTelepathy& s = *m_pSerial;
    int r = s.Open(port, 1024, 1024, baud, 8, 'N', 1);
    if (r != 0) {
        if (m_traits.dataLog) CloseDataLog();
        return Fail(r);
    }
    auto failed = [&]() {
        const int e = s.GetError(port);
        if (e == 0) return false;
        s.Close(port, 0);
        if (m_traits.dataLog) CloseDataLog();
        m_nError = e;
        return true;
    };
    s.SetCtsWait(port, 1);
    if (failed()) return 0;
    s.SetLineOption3(port, 1);
    s.SetDtrMode(port, 2);
    s.SetRtsMode(port, 2);
    s.SetXonXoff(port, 0);
    s.FlushOutput(port);
    if (failed()) return 0;
    s.FlushInput(port);
    return 1;
}

int CTangoLink::OpenTcp(uint32_t address) {
    m_nError = 0;
    m_errorText.clear();
    m_bInTurn = false;
    m_nMode = 1;
    m_nPort = static_cast<int>(address);
    // No address is a bad parameter, not a failure without a code.
    if (address == 0) return Fail(-1);
    if (m_traits.dataLog) OpenDataLog();
    const int r = Connect(address, kTcpPort);
    if (r != 1 && m_traits.dataLog) CloseDataLog();
    return r;
}

int CTangoLink::Close() {
    if (IsTcp()) {
        if (m_traits.dataLog) CloseDataLog();
        return CTelepathyEth::Close();
    }
    if (m_pSerial) ClosePort();
    if (m_traits.dataLog) CloseDataLog();
    return 1;
}

// ---------------------------------------------------------------- transport switch

bool CTangoLink::Broken() {
    if (IsTcp()) return IsBroken();
    return m_pSerial && m_pSerial->IsAborted();
}

int CTangoLink::TransportError() {
    if (IsTcp()) return m_nError;
    return m_pSerial ? m_pSerial->GetError(m_nPort) : -3;
}

int CTangoLink::FlushIn() {
    if (IsTcp()) return CTelepathyEth::FlushInput(m_nPort);
    return m_pSerial ? m_pSerial->FlushInput(m_nPort) : -3;
}

int CTangoLink::FlushOut() {
    if (IsTcp()) return CTelepathyEth::FlushOutput(m_nPort);
    return m_pSerial ? m_pSerial->FlushOutput(m_nPort) : -3;
}

int CTangoLink::WaitDrained() {
    // Over TCP there is nothing to drain; a connect still under way is
    // awaited here, so the first request reports how it ended.
    if (IsTcp()) return WaitConnected() ? 0 : m_nError;
    return m_pSerial ? m_pSerial->WaitOutputDrained(m_nPort, kDrainSeconds) : -3;
}

CChrArr CTangoLink::ReadBytes(int n) {
    CChrArr bytes;
    int err = 0;
    if (IsTcp()) {
        bytes = CTelepathyEth::Read(m_nPort, n, kReadSeconds);
        err = m_nError;
    } else if (m_pSerial) {
        bytes = m_pSerial->Read(m_nPort, n, kReadSeconds);
        err = m_pSerial->GetError(m_nPort);
    } else {
        err = -3;
    }
    if (!bytes.IsEmpty()) {
        DumpReceived(bytes);
        if (m_traits.dataLog && IsDataLogOpen()) WriteDataLog(bytes, 'R');
    }
    if (err != 0 || bytes.GetLength() != n) {
        m_nError = err != 0 ? err : -5;
        return CChrArr();
    }
    return bytes;
}

int CTangoLink::WriteBytes(const CChrArr& bytes) {
    if (bytes.IsEmpty()) return 1;
    // Nothing more goes out once the user has broken the job off.
    if (Broken()) return Fail(-7);
    DumpSent(bytes);
    if (m_traits.dataLog && IsDataLogOpen()) WriteDataLog(bytes, 'S');
    int written = 0;
    int err = 0;
    if (IsTcp()) {
        written = CTelepathyEth::Write(m_nPort, bytes, kWriteSeconds);
        err = m_nError;
    } else if (m_pSerial) {
        written = m_pSerial->Write(m_nPort, bytes, kWriteSeconds);
        err = m_pSerial->GetError(m_nPort);
    } else {
        err = -3;
    }
    if (err != 0) return Fail(err);
    if (written != bytes.GetLength()) return Fail(kShortWrite);
    if (!IsTcp()) {
        const int d = m_pSerial->WaitOutputDrained(m_nPort, kDrainSeconds);
        if (d != 0) return Fail(d);
    }
    return 1;
}

int CTangoLink::ReadByte() {
    const CChrArr b = ReadBytes(1);
    return b.IsEmpty() ? -1 : b[0];
}

int CTangoLink::AnswerEnq() {
    const int b = ReadByte();
    if (b < 0) return 0;
    if (b != ENQ) return Fail(kNoAnswer);
    return SendByte(ACK);
}

int CTangoLink::ReadEot() {
    const int b = ReadByte();
    if (b < 0) return 0;
    return b == EOT ? 1 : Fail(kNoAnswer);
}

void CTangoLink::NotifyHost(int event, const std::string& text, int percent, int value) {
    if (m_traits.notifySocket && m_pSocket) {
        CTelepathyEth::Notify(event, text, percent, value);
        return;
    }
    CTelepathyECR::Notify(event, text, percent, value);
}

// ---------------------------------------------------------------- handshake

int CTangoLink::Handshake() {
    const int d = WaitDrained();
    if (d != 0) {
        FlushOut();
        return Fail(d);
    }
    FlushIn();
    for (int tries = 1;; ++tries) {
        if (!SendByte(ENQ)) return 0;
        const int b = ReadByte();
        if (b == ACK) return 1;
        if (b < 0 && m_nError == -7) return 0;
        if (IsBusy(b)) {
            if (tries < kHandshakeTries) continue;
            if (!SendEot() || !ReadEot()) return 0;
            return Fail(kNoAnswer);
        }
        if (b == AT) {
            if (!SendEot()) return 0;
            return Fail(kNoAnswer);
        }
        // Silence or a wrong byte: tell the host and ask again.
        if (b >= 0) m_nError = kNoAnswer;
        NotifyHost(ECR_EVENT_DEVICE_ERROR, GetErrorText(m_nError), 0, m_nError);
        if (tries >= kHandshakeBadAnswers) {
            if (!SendEot()) return 0;
            return Fail(kNoAnswer);
        }
    }
}

// ---------------------------------------------------------------- frames

CChrArr CTangoLink::BuildFrame(uint8_t type, const CChrArr& body, uint8_t terminator) {
    CChrArr covered;
    covered += type;
    covered += body;
    covered += terminator;
    CChrArr frame;
    frame += STX;
    frame += covered;
    frame += NumToText(CalcChecksum(covered), 4, '0', 16);
    return frame;
}

int CTangoLink::SendFrame(uint8_t type, const CChrArr& body, uint8_t terminator) {
    FlushOut();
    FlushIn();
    const CChrArr frame = BuildFrame(type, body, terminator);
    if (!WriteBytes(frame)) return 0;
    int naks = 0;
    for (;;) {
        const int b = ReadByte();
        if (b == ACK) return 1;
        if (b < 0 && m_nError == -7) return 0;
        if (b == NAK) {
            if (++naks <= kFrameRepeats) {
                if (!WriteBytes(frame)) return 0;
                continue;
            }
            break;
        }
        if (b == AT) {
            // The register reports an error: fetch its status frame.
            int code = 0;
            if (!SendEot() || !AnswerEnq() || !ReadErrorStatus(code) || !ReadEot() || !SendEot()) return 0;
            m_bAnswered = true;
            return Fail(code);
        }
        if (b >= 0) {
            // Something else: a late ACK may still follow.
            int last = b;
            for (int i = 0; i < kExtraBytes; ++i) {
                const int x = ReadByte();
                if (x < 0) {
                    if (m_nError == -7) return 0;
                    break;
                }
                if (x == ACK) return 1;
                last = x;
            }
            if (IsBusy(last)) {
                if (!SendEot()) return 0;
                return Fail(kNoAnswer);
            }
        }
        break;
    }
    // Give up: the turn ends with EOT both ways.
    if (!SendEot() || !ReadEot()) return 0;
    return Fail(kNoAnswer);
}

CChrArr CTangoLink::ReceiveFrame(int n) { return ReceiveAnyFrame(n, 0, nullptr); }

CChrArr CTangoLink::ReceiveFrameLong(int n, int m, uint8_t& terminator) { return ReceiveAnyFrame(n, m, &terminator); }

CChrArr CTangoLink::ReceiveAnyFrame(int n, int m, uint8_t* terminator) {
    int busy = 0;
    for (int a = 1; a <= kReceiveAttempts;) {
        ++a;
        const int b = ReadByte();
        if (b < 0) {
            if (m_nError == -7) return CChrArr();
            if (a > kSilentReads) {
                const int silence = m_nError;
                SendEot();
                if (m_nError != -7) m_nError = silence;
                return CChrArr();
            }
            continue;
        }
        if (b == STX) {
            CChrArr frame = ReadBytes(n + 6);
            if (m_nError == -7 && frame.IsEmpty()) return CChrArr();
            if (m > n && frame.GetLength() == n + 6 && frame[n + 1] != ETX && frame[n + 1] != ETB) {
                const CChrArr rest = ReadBytes(m - n);
                if (rest.IsEmpty() && m_nError == -7) return CChrArr();
                frame = rest.IsEmpty() ? CChrArr() : frame + rest;
            }
            const int len = frame.GetLength() - 6;
            uint32_t sum = 0;
            if ((len == n || (m > n && len == m)) && HexValue(frame.Right(4), sum) &&
                sum == CalcChecksum(frame.Left(len + 2))) {
                if (!SendByte(ACK)) return CChrArr();
                if (terminator) *terminator = frame[len + 1];
                return frame.Mid(1, len);
            }
            // A short or spoilt frame: ask for it again.
        } else if (b == EOT) {
            if (SendEot()) m_nError = kDeviceEot;
            return CChrArr();
        } else if (IsBusy(b)) {
            // Three busy answers in four cost no attempt.
            if (++busy % 4 != 0) --a;
            continue;
        }
        FlushIn();
        if (!SendByte(NAK)) return CChrArr();
    }
    m_nError = kNoAnswer;
    return CChrArr();
}

int CTangoLink::ReadErrorStatus(int& code) {
    const CChrArr body = ReceiveFrame(tango::kErrorStatusLength);
    if (body.IsEmpty()) return 0;
    // Bytes 1-4 as one hexadecimal number; bytes 3-4 alone when 1-2 are
    // no digits. A code of 0 or no number is no answer.
    uint32_t value = 0;
    const bool whole = HexValue(body.Left(4), value);
    if (!whole && !HexValue(body.Mid(2, 2), value)) value = 0;
    code = value != 0 ? static_cast<int>(value) : kNoAnswer;
    return 1;
}

// ---------------------------------------------------------------- turns

bool CTangoLink::FailedForWantOfAnswer() const {
    if (!m_bInTurn || m_bAnswered) return false;
    return m_nError == kNoAnswer || (m_nError <= -1 && m_nError >= -10 && m_nError != -7);
}

int CTangoLink::Refuse(int code, const std::string& text) {
    m_bInTurn = false;
    m_nError = code;
    m_errorText = text;
    return 0;
}

int CTangoLink::Turn(const CChrArr& request, const std::vector<CChrArr>& records,
                     const std::function<int()>& replies) {
    m_nError = 0;
    m_errorText.clear();
    m_bInTurn = true;
    m_bAnswered = false;
    if (Broken()) return Fail(-7);
    DumpBlock(request);
    if (!Handshake()) return 0;
    if (!SendFrame('S', request, ETX)) return 0;
    for (const CChrArr& record : records)
        if (!SendFrame('D', record, ETX)) return 0;
    if (!SendEot() || !AnswerEnq()) return 0;
    return replies();
}

int CTangoLink::EndOfTurn() {
    if (!ReadEot() || !SendEot()) return 0;
    return 1;
}

int CTangoLink::OneReply(int n, CChrArr& body) {
    body = ReceiveFrame(n);
    if (body.IsEmpty()) return 0;
    return EndOfTurn();
}

int CTangoLink::ListReplies(int n, int m, const char* progress, const std::function<int(const CChrArr&)>& fn) {
    int count = 0;
    for (;;) {
        uint8_t terminator = ETX;
        const CChrArr body = m > n ? ReceiveFrameLong(n, m, terminator) : ReceiveFrame(n);
        if (body.IsEmpty()) {
            if (m_nError != kDeviceEot) return 0;
            // The register's EOT (answered already) ends the list.
            m_nError = 0;
            NotifyHost(ECR_EVENT_ITEM, "100 %", 100, 0);
            return 1;
        }
        ++count;
        NotifyHost(ECR_EVENT_ITEM, Numbered(progress, count), 0, 0);
        if (!fn(body)) {
            // A record that makes no sense ends the turn.
            const int code = m_nError;
            SendEot();
            if (m_nError != -7) m_nError = code;
            return 0;
        }
    }
}

// ---------------------------------------------------------------- requests

int CTangoLink::ReadStatusText(std::string& text) {
    CChrArr body;
    const int r = Turn(tango::SimpleRequest('M', '0', "0", "0"), {}, [&] { return OneReply(tango::kStatusLength, body); });
    if (r) text = ChrMid(body, 2, 10).ToString();
    return r;
}

int CTangoLink::ReadMoreStatus(std::string pieces[3]) {
    CChrArr body;
    const int r =
        Turn(tango::SimpleRequest('e', '0', "0", "0"), {}, [&] { return OneReply(tango::kMoreStatusLength, body); });
    if (r) tango::ParseMoreStatus(body, pieces);
    return r;
}

int CTangoLink::ReadTaxTable(double rates[8]) {
    for (int i = 0; i < 8; ++i) rates[i] = -3.0;
    rates[6] = -1.0;
    CChrArr body;
    const int r =
        Turn(tango::SimpleRequest('0', '0', "0", "0"), {}, [&] { return OneReply(tango::kTaxTableLength, body); });
    if (r) tango::ParseTaxTable(body, rates);
    return r;
}

int CTangoLink::ReadPlu(const CChrArr& key, tango::Goods& goods) {
    m_lastGoods.RemoveAll();
    CChrArr body;
    const int r = Turn(tango::TableRequest('I', "00", '0', key, key), {},
                       [&] { return OneReply(tango::kGoodsReplyLength, body); });
    if (!r) {
        // EOT instead of the record: the register has no such item.
        if (m_nError == kDeviceEot) {
            m_nError = kMissing;
            m_errorText = CTelepathyECR::GetErrorText(kMissing);
        }
        return 0;
    }
    if (!tango::ParseGoodsReply(body, goods)) return Fail(kNoAnswer);
    m_lastGoods = body;
    return 1;
}

int CTangoLink::WritePlu(const tango::Goods& goods) {
    CChrArr record, key;
    const int e = m_traits.shortGoodsWrite ? tango::BuildShortGoodsRecord(goods, record)
                                           : tango::BuildGoodsRecord(goods, record);
    if (e != 0) return Refuse(e, e == tango::kErrPrice ? PL("Cena towaru poza zakresem") : "");
    if (int k = tango::GoodsKey(goods.code, goods.number, key)) return Refuse(k);
    return Turn(tango::SimpleRequest('h', '1', key, key), {record}, [&] { return EndOfTurn(); });
}

int CTangoLink::WriteSecondCode(const CChrArr& key, const std::string& code2) {
    CChrArr field;
    if (ChrTrim(CChrArr(code2), ' ').GetLength() > tango::kKeyWidth) return Refuse(tango::kErrCode);
    field = ChrPadLeft(ChrTrim(CChrArr(code2), ' '), tango::kKeyWidth, ' ');
    tango::Goods goods;
    if (!ReadPlu(key, goods)) return 0;
    CChrArr record;
    if (m_traits.shortGoodsWrite) {
        goods.code = ChrTrim(key, ' ').ToString();
        goods.code2 = code2;
        if (int e = tango::BuildShortGoodsRecord(goods, record)) return Refuse(e);
    } else {
        // Everything else stays as the register holds it.
        record = HeldGoodsRecord();
        for (int i = 0; i < tango::kKeyWidth; ++i) record.SetAt(83 + i, field[i]);
    }
    return Turn(tango::SimpleRequest('h', '1', key, key), {record}, [&] { return EndOfTurn(); });
}

CChrArr CTangoLink::HeldGoodsRecord() const {
    // The number field of a written record is always "00000".
    CChrArr record = ChrMid(m_lastGoods, 6, tango::kGoodsRecordLength);
    for (int i = 18; i < 23 && i < record.GetLength(); ++i) record.SetAt(i, '0');
    return record;
}

int CTangoLink::DeletePlu(const CChrArr& key) {
    tango::Goods goods;
    if (!ReadPlu(key, goods)) return 0;
    // The record goes back as the register holds it.
    const CChrArr record = HeldGoodsRecord();
    return Turn(tango::SimpleRequest('I', '1', key, key), {record}, [&] { return EndOfTurn(); });
}

template <class Rec>
int CTangoLink::ReadList(const CChrArr& request, int length, int longLength, const char* progress,
                         bool (*parse)(const CChrArr&, Rec&), const std::function<void(const Rec&)>& fn,
                         const char* (*badRecordText)(const CChrArr&)) {
    return Turn(request, {}, [&] {
        return ListReplies(length, longLength, progress, [&](const CChrArr& body) {
            Rec rec;
            if (!parse(body, rec)) {
                if (const char* text = badRecordText ? badRecordText(body) : nullptr) m_errorText = text;
                return Fail(kNoAnswer);
            }
            fn(rec);
            return 1;
        });
    });
}

int CTangoLink::ReadAllPlu(const GoodsFn& fn) {
    return ReadList<tango::Goods>(tango::TableRequest('I', "00", '0', AllCodesFrom(), AllCodesTo()),
                                  tango::kGoodsReplyLength, 0, "PLU - %i", tango::ParseGoodsReply, fn);
}

int CTangoLink::ReadDepts(const DeptFn& fn) {
    return ReadList<tango::Dept>(tango::SimpleRequest('H', '0', "1", "99"), tango::kDeptRecordLength, 0, "DEPT - %i",
                                 tango::ParseDeptRecord, fn);
}

int CTangoLink::WriteDept(const tango::Dept& dept) {
    CChrArr record;
    if (int e = tango::BuildDeptRecord(dept, record))
        return Refuse(e, e == tango::kErrPrice ? PL("Cena towaru poza zakresem") : "");
    const CChrArr number = NumToText(dept.number, 2, '0', 10);
    return Turn(tango::SimpleRequest('H', '1', number, number), {record}, [&] { return EndOfTurn(); });
}

int CTangoLink::ReadUnits(const UnitFn& fn) {
    return ReadList<tango::Unit>(tango::TableRequest('I', "01", '0', "1", "99"), tango::kUnitRecordLength, 0,
                                 "Jednostka miary - %i", tango::ParseUnitRecord, fn);
}

int CTangoLink::WriteUnit(const tango::Unit& unit) {
    CChrArr record;
    if (int e = tango::BuildUnitRecord(unit, record)) return Refuse(e);
    const CChrArr number = NumToText(unit.number, 2, '0', 10);
    return Turn(tango::TableRequest('I', "01", '1', number, number), {tango::PrefixedRecord('I', record)},
                [&] { return EndOfTurn(); });
}

int CTangoLink::ReadReport(char report, char sub, const SaleFn& fn) {
    const int length = report == 'd' ? tango::kPluReportLength : tango::kSecondReportLength;
    return ReadList<tango::SaleLine>(tango::SimpleRequest(report, sub, AllCodesFrom(), AllCodesTo()), length, 0,
                                     "PLU - %i", tango::ParseReportLine, fn);
}

int CTangoLink::ReadPositions(const SaleFn& fn) {
    auto countText = [](const CChrArr& body) -> const char* {
        return tango::PositionNumberInRange(body) ? nullptr : PL("Liczba pozycji poza zakresem");
    };
    return ReadList<tango::SaleLine>(tango::SimpleRequest('O', '2', "1", "999999"), tango::kPositionLength,
                                     tango::kPositionLongLength, "Numer pozycji - %i", tango::ParsePosition, fn,
                                     countText);
}

// ---------------------------------------------------------------- texts

std::string CTangoLink::GetErrorText(int code) {
    // Over TCP the transport's own texts name its codes.
    if (IsTcp() && (code < 0 || code >= 10000)) return CTelepathyEth::GetErrorText(code);
    if (const char* text = TangoDeviceText(code, m_traits.fullErrorList)) return text;
    return CTelepathyECR::GetErrorText(code);
}
