#include "drivers/medesa/cmedesa.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/clock.h"
#include "util/cp1250.h"

namespace {

constexpr int kIoSeconds = 5;
constexpr int kFrameMax = 255;
constexpr uint8_t kBar = 0x7C;     // "|"
constexpr uint8_t kClose = 0x7D;   // "}"
constexpr uint8_t kEsc = 0x7E;
constexpr uint8_t kAccepted = 0xCC;
constexpr int kWriteReply = 7;
constexpr int kPluReply = 39;
constexpr int kDeptReply = 32;
constexpr int kVatReply = 9;
constexpr int kTextWidth = 24;

// A text in the scale's letters, blank-padded or cut to 24.
CChrArr ScaleText(const std::string& text) { return ChrPadRight(Cp1250ToMedesa(CChrArr(text)), kTextWidth, ' '); }

std::string FromScale(const CChrArr& reply, int from) {
    return MedesaToCp1250(reply.Mid(from, kTextWidth)).ToString();
}

// Six packed digits of an amount in hundredths; empty when negative, not a
// number or above 999999.
CChrArr PackedHundredths(double value) {
    const double units = value >= 0.0 ? std::trunc(value * 100.0 + 0.1) : -1.0;
    if (!(units >= 0.0 && units <= 999999.0)) return CChrArr();
    return CMedesa::PackBcd(NumToText(static_cast<uint32_t>(units), 6, '0', 10).ToString());
}

double DigitsValue(const std::string& digits) { return TextToDouble(CChrArr(digits)); }

bool IsDateText(const std::string& t) {
    if (t.size() != 8 || t[2] != '.' || t[5] != '.') return false;
    for (int i : {0, 1, 3, 4, 6, 7})
        if (t[static_cast<size_t>(i)] < '0' || t[static_cast<size_t>(i)] > '9') return false;
    return true;
}

// Whole seconds left of a wait, rounded up (0 once it has passed).
int SecondsLeft(const orv::platform::SecondDeadline& end) {
    const int64_t left = end.RemainingMillis();
    const int64_t unit = std::max<int64_t>(1, orv::platform::ScaledMillis(1.0));
    return left <= 0 ? 0 : static_cast<int>((left + unit - 1) / unit);
}

std::string TrimBlanks(const std::string& s) {
    const size_t a = s.find_first_not_of(' ');
    if (a == std::string::npos) return std::string();
    return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

struct ErrorText {
    int code;
    const char* text;
};

const ErrorText kTexts[] = {
    {101, PL("Pamięć CMOS została skasowana (wezwij serwis)")},
    {102, PL("Błąd w nazwie towaru")},
    {103, PL("Błąd w stawce podatkowej towaru")},
    {104, PL("Brak miejsca na opakowanie (maks. 64 opakowań)")},
    {105, PL("Błędny numer towaru")},
    {107, PL("Brak miejsca w buforze na towary wiązane (maks. 256 wiązań)")},
    {108, PL("Za duży kod kreskowy")},
    {109, PL("Za duża cena")},
    {110, PL("Numer grupy towarowej poza dozwolonym zakresem")},
    {111, PL("Numer jednostki miary poza dozwolonym zakresem")},
    {112, PL("Błędna ilość miejsc po przecinku")},
    {113, PL("Błąd w informacji o blokadzie towaru (nie 0 lub 1)")},
    {114, PL("Błąd w informacji o opakowaniu (nie 0 lub 1)")},
    {115, PL("Numer płatności poza dozwolonym zakresem")},
    {200, PL("Pod podanym numerem towaru jest nowa nazwa lub stawka")},
    {201, PL("Nie możliwe do wykonania ponieważ nie wszytkie dane zostały przeczytane")},
    {202, PL("Pod podanym numerem towar nie zdefiniowany")},
    {203, PL("Numer kasjera poza dozwolonym zakresem")},
    {204, PL("Pod podanym numerem kasjer nie zdefiniowany")},
    {205, PL("Kasjer do skasowania ma otwartą zmianę")},
    {206, PL("W ciągu który ma być znakami tekstu jest kod mniejszy od 20 HEX")},
    {207, PL("Zbyt duży rabat")},
    {208, PL("Parametr N poza zakresem")},
    {209, PL("Towar do skasowania lub zastąpienia ma niezerowe obroty lub zwroty")},
    {210, PL("Liczba wierszy do wysunięcia jest poza dozwolonym zakresem")},
    {211, PL("Brak miejsca na barkod")},
    {212, PL("Kasjer pracuje")},
    {215, PL("Numer pojemnika poza dozwolonym zakresem")},
    {217, PL("Waga pojemnika poza dozwolonym zakresem")},
    {220, PL("W nazwie towaru występują same spacje lub znaki nieważne")},
    {221, PL("Numer PLU zajęty przez inny towar")},
    {222, PL("Wprowadzana nazwa istnieje już w bazie")},
    {223, PL("Niezerowy licznik paragonów")},
    {224, PL("Towar oznaczony jako nowo zdefiniowany")},
    {225, PL("Towar oznaczony jako skasowany")},
    {226, PL("Towar ma już raz zmienioną stawkę")},
};

}  // namespace

CMedesa::CMedesa() = default;

std::string CMedesa::GetErrorText(int code) {
    for (const ErrorText& t : kTexts)
        if (t.code == code) return t.text;
    return CTelepathyECR::GetErrorText(code);
}

// ------------------------------------------------------------ the frame

uint8_t CMedesa::Checksum(const CChrArr& payload) {
    unsigned sum = 0;
    for (int i = 0; i < payload.GetLength(); ++i) sum += payload[i];
    return static_cast<uint8_t>((256 - sum % 256) % 256);
}

CChrArr CMedesa::Escape(const CChrArr& bytes) {
    CChrArr out;
    for (int i = 0; i < bytes.GetLength(); ++i) {
        const uint8_t b = bytes[i];
        if (b >= 0x7C && b <= 0x7F) {
            out += kEsc;
            out += static_cast<uint8_t>(b - 0x7C);
        } else {
            out += b;
        }
    }
    return out;
}

CChrArr CMedesa::Unescape(const CChrArr& bytes) {
    CChrArr out;
    for (int i = 0; i < bytes.GetLength(); ++i) {
        const uint8_t b = bytes[i];
        if (b != kEsc) {
            out += b;
            continue;
        }
        if (i + 1 >= bytes.GetLength()) break;   // a 7E at the very end is dropped
        const uint8_t n = bytes[++i];
        out += n == 0 ? uint8_t{0x7C} : n == 1 ? uint8_t{0x7D} : n == 3 ? uint8_t{0x7F} : kEsc;
    }
    return out;
}

CChrArr CMedesa::FrameHead(const CChrArr& payload) {
    return CChrArr(2, kBar) + Escape(payload + Checksum(payload));
}

bool CMedesa::FrameBody(const CChrArr& frame, CChrArr& body) {
    const int n = frame.GetLength();
    if (n <= 8 || frame[0] != kBar || frame[1] != kBar || frame[n - 1] != kClose) return false;
    CChrArr bytes = Unescape(frame.Mid(2, n - 3));
    if (bytes.IsEmpty()) return false;
    // The payload and its checksum sum to a multiple of 256.
    const uint8_t sent = bytes[bytes.GetLength() - 1];
    bytes.SetSize(bytes.GetLength() - 1);
    if (Checksum(bytes) != sent) return false;
    body = bytes;
    return true;
}

CChrArr CMedesa::PackBcd(const std::string& digits) {
    CChrArr out;
    for (size_t i = 0; i < digits.size(); i += 2) {
        const char hi = digits[i];
        const char lo = i + 1 < digits.size() ? digits[i + 1] : '0';
        if (hi < '0' || hi > '9' || lo < '0' || lo > '9') return CChrArr();
        out += static_cast<uint8_t>(((hi - '0') << 4) | (lo - '0'));
    }
    return out;
}

std::string CMedesa::UnpackBcd(const CChrArr& bytes) {
    std::string out;
    for (int i = 0; i < bytes.GetLength(); ++i) {
        for (int nib : {bytes[i] >> 4, bytes[i] & 0x0F}) {
            if (nib <= 9)
                out += static_cast<char>('0' + nib);
            else if (nib == 0x0F && out.size() % 2 == 0)
                out += '-';
            else
                out += '?';
        }
    }
    return out;
}

CChrArr CMedesa::Payload(uint16_t job, const CChrArr& data) const {
    CChrArr p;
    p += m_address;
    p += uint8_t{0};
    p += static_cast<uint8_t>(job >> 8);
    p += static_cast<uint8_t>(job & 0xFF);
    return p + data;
}

// ------------------------------------------------------------ the line

int CMedesa::OpenScale(int port, int baud, uint8_t address) {
    m_nError = 0;
    m_nPort = port;
    m_address = address;
    if (!m_pSerial) {
        m_nError = -1;
        return 0;
    }
    int r = m_pSerial->Open(port, 1024, 1024, baud, 8, 'N', 1);
    if (r == 0) {
        // Plain on/off lines: the send pulses RTS and holds DTR itself.
        m_pSerial->SetDtrMode(port, 1);
        m_pSerial->SetRtsMode(port, 1);
        m_pSerial->SetXonXoff(port, 0);
        r = m_pSerial->GetError(port);
    }
    if (r != 0) {
        m_nError = r;
        m_pSerial->Close(port, 0);
        return 0;
    }
    m_pSerial->FlushOutput(port);
    m_pSerial->FlushInput(port);
    LineIdle();
    return 1;
}

int CMedesa::CloseScale() {
    ClosePort();
    return 1;
}

void CMedesa::LineIdle() {
    if (!m_pSerial) return;
    m_pSerial->SetRTSEnable(false);
    m_pSerial->SetDTREnable(false);
}

int CMedesa::Send(uint16_t /*job*/, const CChrArr& payload) {
    int r = m_pSerial->WaitOutputDrained(m_nPort, kIoSeconds);
    if (r != 0) {
        m_nError = r;
        return 0;
    }
    if (m_pSerial->GetInputCount(m_nPort) > 0) {
        if (m_pSerial->Delay(0.1) == -7) {
            m_nError = -7;
            return 0;
        }
        m_pSerial->FlushInput(m_nPort);
    }
    m_pSerial->SetRTSEnable(true);
    m_pSerial->SetDTREnable(true);
    if (m_pSerial->Delay(0.1) == -7) {
        m_nError = -7;
        return 0;
    }
    m_pSerial->SetRTSEnable(false);
    const CChrArr head = FrameHead(payload);
    if (head.GetLength() < 8) {
        m_nError = MDS_ERR_BAD_FRAME;
        return 0;
    }
    m_pSerial->FlushInput(m_nPort);
    DumpSent(head + kClose);
    if (!SendAll(head) || !SendAll(CChrArr(1, kClose))) {
        if (m_nError == 999999) m_nError = MDS_ERR_BAD_FRAME;   // fewer bytes written than asked
        m_pSerial->MarkUnsettled(m_nPort);   // part of the frame may have gone out
        return 0;
    }
    // The line returns the frame: wait, by the clock, until more than its
    // head is back. Given up on (time-out, break), the frame and the
    // scale's answer may still come: the next request waits for a quiet line.
    const orv::platform::SecondDeadline end(kIoSeconds);
    while (m_pSerial->GetInputCount(m_nPort) <= head.GetLength()) {
        if (end.Passed())
            m_nError = -5;
        else if (m_pSerial->Delay(0.01) == -7)
            m_nError = -7;
        else
            continue;
        m_pSerial->MarkUnsettled(m_nPort);
        return 0;
    }
    m_pSerial->SetDTREnable(false);
    return 1;
}

bool CMedesa::KnownJob(uint16_t job) {
    switch (job) {
    case 0x4B00: case 0x4B01: case 0x4B02: case 0x4B21: case 0x4C01: case 0x4C02: return true;
    default: return false;
    }
}

int CMedesa::Receive(uint16_t job, CChrArr& reply) {
    reply.RemoveAll();
    if (!KnownJob(job)) {
        m_nError = MDS_ERR_BAD_FRAME;
        return 0;
    }
    // The returned copy of the frame sent, then the answer; an answer that
    // names another record is dropped and the wait goes on for the rest of
    // its 5 s.
    CChrArr got, body;
    if (!ReadFrame(got, kIoSeconds)) return 0;
    if (!FrameBody(got, body)) {   // a spoilt copy of the frame sent
        m_nError = MDS_ERR_BAD_FRAME;
        return 0;
    }
    const orv::platform::SecondDeadline end(kIoSeconds);
    for (int seconds = kIoSeconds;;) {
        if (!ReadFrame(got, seconds)) return 0;
        if (!FrameBody(got, body)) {   // unframed, or spoilt on the line
            m_nError = MDS_ERR_BAD_FRAME;
            return 0;
        }
        if (!NamesAnother(body)) break;
        seconds = SecondsLeft(end);
        if (seconds == 0) {
            m_nError = -5;
            m_pSerial->MarkUnsettled(m_nPort);
            return 0;
        }
    }
    reply = body;
    return 1;
}

int CMedesa::ReadFrame(CChrArr& frame, int seconds) {
    frame = m_pSerial->ReadUntil(m_nPort, kClose, kFrameMax, seconds);
    if (!frame.IsEmpty()) DumpReadUntil(frame);
    if (!frame.IsEmpty() && frame[frame.GetLength() - 1] == kClose) return 1;
    const int e = m_pSerial->GetError(m_nPort);
    m_nError = e != 0 ? e : MDS_ERR_BAD_FRAME;
    return 0;
}

bool CMedesa::NamesAnother(const CChrArr& body) const {
    constexpr int kNamedAt = 4;
    if (m_names.IsEmpty() || body.GetLength() < kNamedAt + m_names.GetLength()) return false;
    return !(body.Mid(kNamedAt, m_names.GetLength()) == m_names);
}

// ------------------------------------------------------------ jobs

int CMedesa::Job(uint16_t job, const CChrArr& data, int replySize, CChrArr& reply, int attempts, const CChrArr& names) {
    if (attempts <= 0) attempts = 1;
    const CChrArr payload = Payload(job, data);
    m_names = names;
    LineIdle();
    int result = 0;
    for (int a = 0; a < attempts; ++a) {
        m_nError = 0;
        if (Send(job, payload) && Receive(job, reply)) {
            if (reply.GetLength() == replySize) {
                result = 1;
                break;
            }
            m_nError = MDS_ERR_BAD_FRAME;
        }
        if (m_nError == 0) m_nError = MDS_ERR_BAD_FRAME;
        if (m_nError == -5 || m_nError == -7) break;
    }
    m_names.RemoveAll();
    LineIdle();
    return result;
}

int CMedesa::Accepted(const CChrArr& reply) {
    if (reply[2] == kAccepted) return 1;
    m_nError = MDS_ERR_BAD_FRAME;   // refused
    return 0;
}

int CMedesa::ReadVatRates(double vat[8], int attempts) {
    m_nError = 0;
    for (int i = 0; i < 8; ++i) vat[i] = -3.0;
    for (int i = 0; i < 4; ++i) {
        CChrArr data;
        data += static_cast<uint8_t>(i);
        data += uint8_t{0};
        data += uint8_t{0};
        CChrArr reply;
        if (!Job(kReadVat, data, kVatReply, reply, attempts)) return 0;
        vat[i] = DigitsValue(UnpackBcd(reply.Mid(7, 2))) / 100.0;
    }
    return 1;
}

int CMedesa::ReadDept(MedesaDept& dept, int attempts) {
    m_nError = 0;
    if (dept.number < 1 || dept.number > 39) {
        m_nError = MDS_ERR_DEPT_RANGE;
        return 0;
    }
    CChrArr data;
    data += static_cast<uint8_t>(dept.number);
    data += uint8_t{0};
    data += uint8_t{0};
    CChrArr reply;
    if (!Job(kReadDept, data, kDeptReply, reply, attempts, data.Mid(0, 1))) return 0;
    dept.number = reply[4];
    dept.name = FromScale(reply, 7);
    return 1;
}

int CMedesa::WriteDept(const MedesaDept& dept, int attempts) {
    m_nError = 0;
    if (dept.number < 1 || dept.number > 39) {
        m_nError = MDS_ERR_DEPT_RANGE;
        return 0;
    }
    CChrArr data;
    data += static_cast<uint8_t>(dept.number - 1);
    data += uint8_t{0};
    data += uint8_t{0};
    data += ScaleText(dept.name);
    CChrArr reply;
    if (!Job(kWriteDept, data, kWriteReply, reply, attempts)) return 0;
    return Accepted(reply);
}

int CMedesa::BuildPluBlocks(const MedesaPlu& p, CChrArr blocks[kBlocks]) {
    if (p.plu < 1 || p.plu > 10000) return MDS_ERR_PLU_RANGE;
    const CChrArr price = PackedHundredths(p.price);
    const CChrArr price2 = PackedHundredths(p.price2);
    if (price.IsEmpty() || price2.IsEmpty()) return MDS_ERR_PRICE_RANGE;
    if (p.department < 1 || p.department > 39) return MDS_ERR_DEPT_RANGE;
    std::string code = ChrPadRight(CChrArr(TrimBlanks(p.code)), 12, '0').ToString();
    CChrArr head;
    head += static_cast<uint8_t>(p.plu & 0xFF);
    head += static_cast<uint8_t>(p.plu >> 8);
    const CChrArr zero3(3, 0);

    // Block 0: name, price, VAT group and department, code digits 7..12, flags.
    const uint32_t vat = p.vatGroup >= 1 && p.vatGroup <= 4 ? p.vatGroup - 1 : 0;
    const uint32_t label = p.labelType >= 1 && p.labelType <= 3 ? p.labelType : 0;
    blocks[0] = head + uint8_t{0} + ScaleText(p.name) + price;
    blocks[0] += static_cast<uint8_t>(vat * 64 + p.department - 1);
    blocks[0] += PackBcd(code.substr(6, 6));
    blocks[0] += static_cast<uint8_t>(label * 16 + ((p.flags & 1) ? 0x80 : 0) + ((p.flags & 2) ? 0x01 : 0));

    // Blocks 1..8: line b, then X, Y, Z and a zero byte.
    for (int b = 1; b < kBlocks; ++b) {
        CChrArr x = zero3, z = zero3;
        uint8_t y = 0;
        if (b == 1) {
            x = price2;
            y = p.marker == 1 ? 1 : 0;
            if (p.dayCount != 0)
                z = PackBcd(NumToText(p.dayCount, 6, '0', 10).ToString());
            else if (IsDateText(p.dateText))
                z = PackBcd(p.dateText.substr(0, 2) + p.dateText.substr(3, 2) + p.dateText.substr(6, 2));
            else
                z = CChrArr();
        } else if (b == 2) {
            y = p.dayCount == 0 ? 0x20 : 0x00;
        } else if (b == 3) {
            z = PackBcd(code.substr(0, 6));
        }
        blocks[b] = head + static_cast<uint8_t>(b) + ScaleText(p.lines[b - 1]) + x + y + z + uint8_t{0};
    }
    for (int b = 0; b < kBlocks; ++b)
        if (blocks[b].GetLength() != kPluReply - 4) return MDS_ERR_BAD_FRAME;
    return 0;
}

void CMedesa::ParsePluBlock(int b, const CChrArr& r, MedesaPlu& p) {
    if (b == 0) {
        const uint8_t flags = r[38];
        const uint8_t dv = r[34];
        p = MedesaPlu();
        p.plu = r[4] + 256u * r[5];
        p.name = FromScale(r, 7);
        p.price = DigitsValue(UnpackBcd(r.Mid(31, 3))) / 100.0;
        p.department = (dv & 0x3Fu) + 1;
        p.vatGroup = (dv >> 6) + 1u;
        p.code = "000000" + UnpackBcd(r.Mid(35, 3));
        p.labelType = (flags >> 4) & 3u;
        p.flags = ((flags & 0x80) ? 1u : 0u) | ((flags & 0x01) ? 2u : 0u);
        return;
    }
    p.lines[b - 1] = FromScale(r, 7);
    if (b == 1) {
        p.price2 = DigitsValue(UnpackBcd(r.Mid(31, 3))) / 100.0;
        p.marker = r[34] == 1 ? 1 : 0;
        const std::string d = UnpackBcd(r.Mid(35, 3));
        const double n = DigitsValue(d);
        if (n <= 999) {
            p.dayCount = static_cast<uint32_t>(n < 0 ? 0 : n);
            p.dateText.clear();
        } else {
            p.dayCount = 0;
            p.dateText = d.substr(0, 2) + "." + d.substr(2, 2) + "." + d.substr(4, 2);
        }
    } else if (b == 3) {
        std::string code = p.code;
        code.resize(12, '0');
        p.code = UnpackBcd(r.Mid(35, 3)) + code.substr(6) + " ";
    }
}

int CMedesa::ReadPlu(MedesaPlu& plu, int attempts) {
    m_nError = 0;
    if (plu.plu < 1 || plu.plu > 10000) {
        m_nError = MDS_ERR_PLU_RANGE;
        return 0;
    }
    const uint32_t number = plu.plu;
    MedesaPlu read;
    for (int b = 0; b < kBlocks; ++b) {
        CChrArr data;
        data += static_cast<uint8_t>(number & 0xFF);
        data += static_cast<uint8_t>(number >> 8);
        data += static_cast<uint8_t>(b);
        CChrArr reply;
        if (!Job(kReadPlu, data, kPluReply, reply, attempts, data.Mid(0, 2))) return 0;
        ParsePluBlock(b, reply, read);
    }
    plu = read;
    return 1;
}

int CMedesa::WritePlu(const MedesaPlu& plu, int attempts) {
    m_nError = 0;
    CChrArr blocks[kBlocks];
    const int error = BuildPluBlocks(plu, blocks);
    if (error != 0) {
        m_nError = error;
        return 0;
    }
    for (int b = 0; b < kBlocks; ++b) {
        CChrArr reply;
        if (!Job(kWritePlu, blocks[b], kWriteReply, reply, attempts) || !Accepted(reply)) return 0;
    }
    return 1;
}
