#include "drivers/posnet/posnet_ecr.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "orvanta/ecr.h"
#include "drivers/common/record_fields.h"
#include "drivers/posnet/posnet_text.h"
#include "util/cp1250.h"

namespace {

using posnet::Equals;
using posnet::ParseInteger;
using posnet::ParseUnsigned;

constexpr uint8_t kCr = 0x0D;
constexpr int kStatusTries = 3;
constexpr int kStatusFields = 20;     // "*a": status, 12 more, rates A..F, the last rate's index
constexpr int kInfoFields = 7;        // "*b": count at 3, mask at 5, a number at 7

}  // namespace

CPosnetECR::CPosnetECR() : CPosnetFrameLink(Traits{'P', 8, true}) {}

CPosnetECR::~CPosnetECR() = default;

int CPosnetECR::Open(int port) {
    m_nSequence = 1;
    return CPosnetFrameLink::Open(port, 9600);
}

std::string CPosnetECR::GetErrorText(int code) {
    // The register's status n arrives as n + 1000 and has the text of n.
    const int own = code > POSNET_ECR_STATUS_OFFSET ? code - POSNET_ECR_STATUS_OFFSET : code;
    if (const char* text = RegisterText(own, false)) return text;
    return CTelepathyECR::GetErrorText(code);
}

// ---------------------------------------------------------------- parsing

std::vector<CChrArr> CPosnetECR::SplitData(const CChrArr& data) {
    CChrArr rest = data;
    if (!rest.IsEmpty() && rest[0] == kCr) rest = rest.Mid(1);
    if (!rest.IsEmpty() && rest[rest.GetLength() - 1] == kCr) rest = rest.Left(rest.GetLength() - 1);
    std::vector<CChrArr> fields;
    if (rest.IsEmpty()) {
        fields.emplace_back("0");
        return fields;
    }
    for (;;) {
        const int at = rest.Find(kCr);
        if (at < 0) {
            fields.push_back(rest);
            return fields;
        }
        fields.push_back(rest.Left(at));
        rest = rest.Mid(at + 1);
    }
}

int CPosnetECR::StatusCode(const CChrArr& field) {
    if (field.IsEmpty() || field.GetLength() > 4) return POSNET_ERR_BAD_REPLY;
    int v = 0;
    for (int i = 0; i < field.GetLength(); ++i) {
        if (field[i] < '0' || field[i] > '9') return POSNET_ERR_BAD_REPLY;
        v = v * 10 + (field[i] - '0');
    }
    if (v == 0) return 0;
    return v <= 8999 ? v + POSNET_ECR_STATUS_OFFSET : POSNET_ERR_BAD_REPLY;
}

bool CPosnetECR::ParseDecimal(const CChrArr& field, double& value) {
    int i = field.GetLength() > 0 && field[0] == '-' ? 1 : 0;
    int whole = 0, fraction = 0;
    while (i < field.GetLength() && field[i] >= '0' && field[i] <= '9') ++i, ++whole;
    if (i < field.GetLength() && field[i] == '.') {
        ++i;
        while (i < field.GetLength() && field[i] >= '0' && field[i] <= '9') ++i, ++fraction;
        if (fraction == 0) return false;
    }
    if (whole < 1 || whole > 18 || fraction > 18 || i != field.GetLength()) return false;
    value = TextToDouble(field);
    return std::isfinite(value);
}

bool CPosnetECR::ParseRecord(const std::vector<CChrArr>& f, uint32_t mask, PosnetEcrPlu& plu, PosnetEcrSale& sale) {
    plu = PosnetEcrPlu();
    sale = PosnetEcrSale();
    // Fields by position: 1 number, 2 name, 3 VAT group, 4 barcode, 5 price,
    // 6 and 7 flags, 8 department, 9 a further number, 10 sold value,
    // 11 sold quantity. Every field up to the last one the mask uses must
    // be there.
    size_t needed = 7;
    if (mask & POSNET_ECR_MASK_DEPARTMENT) needed = 8;
    if (mask & POSNET_ECR_MASK_EXTRA) needed = 9;
    if (mask & POSNET_ECR_MASK_VALUE) needed = 10;
    if (mask & POSNET_ECR_MASK_QUANTITY) needed = 11;
    if (f.size() < needed) return false;

    if (!ParseUnsigned(f[0], plu.number) || !ParseUnsigned(f[2], plu.vatGroup) || !ParseDecimal(f[4], plu.price))
        return false;
    if (plu.vatGroup == 0) plu.vatGroup = 7;
    CopyBytes(plu.name, sizeof plu.name, f[1], 24);
    if ((mask & POSNET_ECR_MASK_BARCODE) && !Equals(f[3], "0000000000000")) CopyBytes(plu.code, sizeof plu.code, f[3], 13);
    for (int flag : {5, 6})
        if (!Equals(f[flag], "0") && !Equals(f[flag], "1")) return false;
    if ((mask & POSNET_ECR_MASK_DEPARTMENT) && !ParseUnsigned(f[7], plu.department)) return false;
    if ((mask & POSNET_ECR_MASK_EXTRA) && !ParseUnsigned(f[8], plu.extra)) return false;
    if ((mask & POSNET_ECR_MASK_VALUE) && !ParseDecimal(f[9], sale.value)) return false;
    if ((mask & POSNET_ECR_MASK_QUANTITY) && !ParseDecimal(f[10], sale.quantity)) return false;
    sale.number = plu.number;
    std::memcpy(sale.code, plu.code, sizeof sale.code);
    std::memcpy(sale.name, plu.name, sizeof sale.name);
    return true;
}

// ---------------------------------------------------------------- frames

int CPosnetECR::SendFrame(uint32_t sequence, const CChrArr& command, const CChrArr& data) {
    CChrArr body = command;
    body += NumToText(sequence % 256, 2, '0', 16);
    body += kCr;
    body += data;
    if (body.GetLength() < 4) return Fail(POSNET_ERR_BAD_REPLY);
    return CPosnetFrameLink::SendFrame(body);
}

CChrArr CPosnetECR::ReadFrame(uint32_t sequence, CChrArr& replyCommand) {
    replyCommand.RemoveAll();
    const CChrArr body = ReceiveFrame();   // command, sequence, data, checksum
    if (body.IsEmpty()) return CChrArr();
    const int n = body.GetLength();
    const CChrArr before = body.Left(n - 2);
    if (HexByte(body, n - 2) != CalcChecksum(before)) {
        m_nError = POSNET_ECR_ERR_CHECKSUM;
        return CChrArr();
    }
    if (HexByte(before, 2) != static_cast<int>(sequence % 256)) {
        m_nError = POSNET_ECR_ERR_SEQUENCE;
        return CChrArr();
    }
    const CChrArr data = before.Mid(4);
    if (data.IsEmpty() || data[0] != kCr) {
        m_nError = POSNET_ERR_BAD_REPLY;
        return CChrArr();
    }
    replyCommand = before.Left(2);
    return data;
}

int CPosnetECR::Attempt(CChrArr& command, CChrArr& data) {
    m_nSequence = (m_nSequence + 1) % 256;
    if (!SendFrame(m_nSequence, command, data)) return 0;
    CChrArr replyCommand;
    const CChrArr reply = ReadFrame(m_nSequence, replyCommand);
    if (reply.IsEmpty()) return 0;
    command = replyCommand;
    data = reply;
    return 1;
}

int CPosnetECR::Transact(CChrArr& command, CChrArr& data, int tries) {
    m_nError = 0;
    if (tries < 2) tries = 2;
    if (tries > 10) tries = 10;
    for (int attempt = 0; attempt < tries; ++attempt) {
        // A retry follows a link reset; an attempt whose reset failed is skipped.
        if (attempt == 0 || Resync()) {
            CChrArr c = command, d = data;
            if (Attempt(c, d)) {
                command = c;
                data = d;
                return 1;
            }
        }
        if (m_nError == -7) return 0;
        if (tries - attempt - 1 < 3 && m_pSerial && m_pSerial->Delay(0.2) != 0) return Fail(-7);
    }
    if (m_nError == 0) m_nError = POSNET_ERR_BAD_REPLY;
    return 0;
}

// ---------------------------------------------------------------- requests

int CPosnetECR::ResetLink(int flag) {
    m_nError = 0;
    // One frame of its own: a retry through Transact would reset the link again.
    m_nSequence = 1;
    CChrArr data(flag ? "1" : "0");
    data += kCr;
    if (!SendFrame(m_nSequence, CChrArr(",a"), data)) return 0;
    CChrArr replyCommand;
    m_resetReply = ReadFrame(m_nSequence, replyCommand);
    if (m_resetReply.IsEmpty()) return 0;
    if (!Equals(replyCommand, ",A")) return Fail(POSNET_ERR_BAD_REPLY);
    const std::vector<CChrArr> f = SplitData(m_resetReply);
    const int status = StatusCode(f[0]);
    if (status != 0) return Fail(status);
    double v = 0;
    if (f.size() < 3 || !ParseDecimal(f[1], v) || !ParseDecimal(f[2], v)) return Fail(POSNET_ERR_BAD_REPLY);
    return 1;
}

int CPosnetECR::Resync() {
    if (m_pSerial) {
        m_pSerial->FlushOutput(m_nPort);
        m_pSerial->FlushInput(m_nPort);
    }
    return ResetLink(1);
}

int CPosnetECR::Request(const char* command, const char* answer, int tries, CChrArr& reply) {
    reply.RemoveAll();
    CChrArr cmd(command), data;
    if (!Transact(cmd, data, tries)) return 0;
    if (!Equals(cmd, answer)) return Fail(POSNET_ERR_BAD_REPLY);
    const int status = StatusCode(SplitData(data)[0]);
    if (status != 0) return Fail(status);
    reply = data;
    return 1;
}

int CPosnetECR::CheckStatus(CChrArr& reply) {
    if (!Request("*a", "*A", kStatusTries, reply)) return 0;
    m_statusReply = reply;
    return 1;
}

int CPosnetECR::ReadInfo(CChrArr& reply) {
    if (!Request("*b", "*B", kStatusTries, reply)) return 0;
    m_infoReply = reply;
    return 1;
}

int CPosnetECR::ReadCounts(int& count, uint32_t& mask, int& extra) {
    count = 0;
    mask = 0;
    extra = 0;
    CChrArr reply;
    if (!ReadInfo(reply)) return 0;
    const std::vector<CChrArr> f = SplitData(reply);
    int64_t c = 0, e = 0;
    if (f.size() < kInfoFields || !ParseInteger(f[2], c) || c < 0 || c > 99999999 || !ParseUnsigned(f[4], mask) ||
        !ParseInteger(f[6], e) || e < INT32_MIN || e > INT32_MAX)
        return Fail(POSNET_ERR_BAD_REPLY);
    count = static_cast<int>(c);
    extra = static_cast<int>(e);
    return 1;
}

int CPosnetECR::ReadStatusAndVat(double vat[8]) {
    for (int i = 0; i < 8; ++i) vat[i] = -3.0;
    vat[6] = -1.0;
    m_nError = 0;
    CChrArr reply;
    if (!CheckStatus(reply)) return 0;
    const std::vector<CChrArr> f = SplitData(reply);
    if (f.size() < kStatusFields) return Fail(POSNET_ERR_BAD_REPLY);
    double rates[6];
    for (int i = 0; i < 6; ++i)
        if (!ParseDecimal(f[13 + i], rates[i])) return Fail(POSNET_ERR_BAD_REPLY);
    int64_t last = 0;
    if (!ParseInteger(f[19], last)) return Fail(POSNET_ERR_BAD_REPLY);
    // The index of the last defined rate; the rates after it are undefined.
    if (last < -1) last = -1;
    if (last > 5) last = 5;
    for (int i = 0; i < 6; ++i) vat[i] = i <= last ? rates[i] : -3.0;
    return 1;
}

int CPosnetECR::Walk(bool sales, const RecordCallback& callback) {
    m_nError = 0;
    int count = 0;
    uint32_t mask = 0;
    int extra = 0;
    if (!Resync() || !ReadCounts(count, mask, extra)) return 0;
    CChrArr status;
    if (!CheckStatus(status)) return 0;
    const std::vector<CChrArr> sf = SplitData(status);
    double unused = 0;
    if (sf.size() < 3 || !ParseDecimal(sf[1], unused) || !ParseDecimal(sf[2], unused))
        return Fail(POSNET_ERR_BAD_REPLY);
    // Without quantities every sale would be dropped and an empty read
    // reported as success.
    if (sales && !(mask & POSNET_ECR_MASK_QUANTITY)) return Fail(POSNET_ECR_ERR_NO_QUANTITIES);

    for (int i = 1; i <= count; ++i) {
        char text[64];
        std::snprintf(text, sizeof text, "Odczytano %i pozycji z %i", i, count);
        Notify(ECR_EVENT_ITEM, text, static_cast<int>(std::trunc(i * 100.0) / count), 0);
        // The first record may be asked for again after a reset; a later one
        // is asked for once (a reset could move the register's list).
        CChrArr command(i == 1 ? "(k" : "(l"), data;
        const int ok = i == 1 ? Transact(command, data, 1) : Attempt(command, data);
        if (!ok) {
            if (m_nError == 0) m_nError = POSNET_ERR_BAD_REPLY;
            return 0;
        }
        if (!Equals(command, i == 1 ? "(K" : "(L")) return Fail(POSNET_ERR_BAD_REPLY);
        std::vector<CChrArr> f = SplitData(data);
        if (Equals(f[0], "91")) return Fail(POSNET_ECR_ERR_NOT_ALL_READ);
        const int code = StatusCode(f[0]);
        if (code != 0) return Fail(code);
        f.erase(f.begin());
        PosnetEcrPlu plu;
        PosnetEcrSale sale;
        if (!ParseRecord(f, mask, plu, sale)) return Fail(POSNET_ERR_BAD_REPLY);
        if (!(mask & POSNET_ECR_MASK_QUANTITY)) m_nError = POSNET_ECR_ERR_NO_QUANTITIES;   // the record still counts
        if (callback && (!sales || sale.quantity != 0.0)) callback(plu, sale);
        if (IsAborted()) return Fail(-7);
    }
    return 1;
}

int CPosnetECR::ReadAllPlus(const RecordCallback& callback) { return Walk(false, callback); }

int CPosnetECR::ReadPluSales(const RecordCallback& callback) { return Walk(true, callback); }
