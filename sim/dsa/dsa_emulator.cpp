#include "sim/dsa/dsa_emulator.h"

#include <chrono>
#include <cstdio>
#include <thread>

namespace orv::test {

namespace {
constexpr uint8_t kStx = 0x02, kEtx = 0x03, kAck = 0x06, kNak = 0x15;

uint64_t ToNum(const std::string& s) {
    uint64_t v = 0;
    for (char c : s)
        if (c >= '0' && c <= '9') v = v * 10 + static_cast<uint64_t>(c - '0');
    return v;
}

std::string Pad(const std::string& s, size_t width) {
    std::string r = s.substr(0, width);
    r.resize(width, ' ');
    return r;
}
}  // namespace

DsaEmulator::DsaEmulator(int port, DsaModel model) : EmulatorBase(port), m_model(model) {}

std::string DsaEmulator::Num(uint64_t value, int digits) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*llu", digits, static_cast<unsigned long long>(value));
    return buf;
}

Bytes DsaEmulator::Frame(int seq, const std::string& data) {
    std::string body = Num(static_cast<uint64_t>(seq % 100), 2) + "V" + data;
    unsigned sum = 0;
    for (unsigned char c : body) sum += c;
    const std::string frame = static_cast<char>(kStx) + body + Num(sum % 100, 2) + static_cast<char>(kEtx);
    return Bytes(frame.begin(), frame.end());
}

std::string DsaEmulator::DeviceText(const std::string& cp1250) {
    // The device code: these CP1250 bytes in order, then 0x7F, are written
    // as 0x42, 0x43, ...; other bytes are unchanged.
    static const unsigned char order[] = {
        0xA5, 'B', 'C', 0xC6, 'D', 'E', 0xCA, 'F', 'G', 'H', 'I', 'J', 'K', 'L', 0xA3, 'M', 'N', 0xD1, 'O', 0xD3,
        'P', 'R', 'S', 0x8C, 'T', 'U', 'W', 'X', 'Y', 'Z', 0x8F, 0xAF, 'Q', 'V', '[', '\\', ']', '^', '_', '`',
        'a', 0xB9, 'b', 'c', 0xE6, 'd', 'e', 0xEA, 'f', 'g', 'h', 'i', 'j', 'k', 'l', 0xB3, 'm', 'n', 0xF1, 'o',
        0xF3, 'p', 'r', 's', 0x9C, 't', 'u', 'w', 'x', 'y', 'z', 0x9F, 0xBF, 'q', 'v', '{', '|', '}', '~', 0x7F};
    static_assert(sizeof order == 80, "80 device characters");
    std::string out = cp1250;
    for (char& c : out) {
        for (size_t k = 0; k < sizeof order; ++k) {
            if (static_cast<unsigned char>(c) == order[k]) {
                c = static_cast<char>(0x42 + k);
                break;
            }
        }
    }
    return out;
}

void DsaEmulator::SetRecordRequests(bool on) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_record = on;
}

// ---- state ----

void DsaEmulator::SetPlu(uint32_t number, const DsaEmuPlu& plu) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_plus[number] = plu;
}
bool DsaEmulator::HasPlu(uint32_t number) const {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    return m_plus.count(number) != 0;
}
DsaEmuPlu DsaEmulator::Plu(uint32_t number) const {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    auto it = m_plus.find(number);
    return it == m_plus.end() ? DsaEmuPlu{} : it->second;
}
size_t DsaEmulator::PluCount() const {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    return m_plus.size();
}
void DsaEmulator::SetDept(uint32_t number, const DsaEmuDept& dept) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_depts[number] = dept;
}
bool DsaEmulator::HasDept(uint32_t number) const {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    return m_depts.count(number) != 0;
}
DsaEmuDept DsaEmulator::Dept(uint32_t number) const {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    auto it = m_depts.find(number);
    return it == m_depts.end() ? DsaEmuDept{} : it->second;
}
void DsaEmulator::SetSales(const std::vector<DsaEmuSale>& sales) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_sales = sales;
}
std::vector<DsaEmuSale> DsaEmulator::Sales() const {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    return m_sales;
}
void DsaEmulator::SetSequence(int seq) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_seq = seq % 100;
}
std::vector<DsaRequest> DsaEmulator::Requests() const {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    return m_requests;
}
std::vector<std::string> DsaEmulator::Commands() const {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    std::vector<std::string> out;
    for (const auto& r : m_requests) out.push_back(r.command);
    return out;
}
int DsaEmulator::AcksReceived() const {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    return m_acks;
}
bool DsaEmulator::WaitForAcks(int n, int timeoutMs) const {
    std::unique_lock<std::mutex> lk(m_stateMutex);
    return m_ackCv.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return m_acks >= n; });
}
int DsaEmulator::NaksSent() const {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    return m_naks;
}
void DsaEmulator::ClearLog() {
    {
        std::lock_guard<std::mutex> lk(m_stateMutex);
        m_requests.clear();
        m_acks = 0;
        m_naks = 0;
    }
    ClearReceived();
}
void DsaEmulator::QueueErr(const std::string& command, int code) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_errs.emplace_back(command, code);
}
void DsaEmulator::QueueFrameFault(FrameFault fault) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_frameFaults.push_back(fault);
}
void DsaEmulator::SetAnswerDelay(int ms) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_delayMs = ms;
}

void DsaEmulator::SetCommandHook(std::function<void(const DsaRequest&)> hook) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_hook = std::move(hook);
}

void DsaEmulator::SetMangler(Mangler mangler) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_mangler = std::move(mangler);
}

void DsaEmulator::Emit(char kind, const Bytes& bytes) {
    Mangler mangler;
    {
        std::lock_guard<std::mutex> lk(m_stateMutex);
        mangler = m_mangler;
    }
    if (!mangler) {
        Send(bytes);
        return;
    }
    for (const Piece& p : mangler(kind, bytes)) {
        if (p.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(p.delayMs));
        if (!p.bytes.empty()) Send(p.bytes);
    }
}

int DsaEmulator::PluDigits() const {
    switch (m_model) {
    case DsaModel::Dsa45B: return 5;
    case DsaModel::Dsp500: return 7;
    default: return 4;
    }
}

// ---- receiving ----

void DsaEmulator::OnReceive(const uint8_t* data, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        const uint8_t b = data[i];
        if (m_buffer.empty()) {
            if (b == kAck) {
                std::string next;
                {
                    std::lock_guard<std::mutex> lk(m_stateMutex);
                    ++m_acks;
                    m_ackCv.notify_all();
                    if (!m_pending.empty()) {
                        next = m_pending.front();
                        m_pending.erase(m_pending.begin());
                    }
                }
                if (!next.empty()) SendReply(next);
            } else if (b == kStx) {
                m_buffer.push_back(b);
            }
            continue;
        }
        if (b == kStx) m_buffer.clear();   // a new frame begins
        m_buffer.push_back(b);
        if (b == kEtx) {
            Bytes frame;
            frame.swap(m_buffer);
            HandleFrame(frame);
        }
    }
}

void DsaEmulator::HandleFrame(const Bytes& frame) {
    // STX body cc ETX
    if (frame.size() < 6) return;
    std::string body(frame.begin() + 1, frame.end() - 3);
    unsigned sum = 0;
    for (unsigned char c : body) sum += c;
    std::string cc(frame.end() - 3, frame.end() - 1);
    if (cc != Num(sum % 100, 2) || body.size() < 3 || body[2] != 'V') {
        {
            std::lock_guard<std::mutex> lk(m_stateMutex);
            ++m_naks;
        }
        Send(Bytes{kNak});
        return;
    }
    DsaRequest req;
    req.seq = static_cast<int>(ToNum(body.substr(0, 2)));
    size_t pos = 3;
    if (m_model == DsaModel::Dsp500) pos += 2;   // device number
    req.command = body.substr(pos, static_cast<size_t>(CommandLength()));
    req.data = body.size() > pos + static_cast<size_t>(CommandLength())
                   ? body.substr(pos + static_cast<size_t>(CommandLength()))
                   : std::string();
    req.frame = frame;
    std::function<void(const DsaRequest&)> hook;
    {
        std::lock_guard<std::mutex> lk(m_stateMutex);
        if (m_record) m_requests.push_back(req);
        m_pending.clear();
        hook = m_hook;
    }
    if (hook) hook(req);
    std::string reply = Handle(req);
    Answer(reply);
}

void DsaEmulator::Answer(const std::string& data) {
    bool noAck = false, noReply = false;
    {
        std::lock_guard<std::mutex> lk(m_stateMutex);
        if (!m_frameFaults.empty()) {
            if (m_frameFaults.front() == FrameFault::NoAck) noAck = true;
            if (m_frameFaults.front() == FrameFault::NoReply) noReply = true;
            if (noAck || noReply) m_frameFaults.erase(m_frameFaults.begin());
        }
    }
    if (noAck) return;
    int delay;
    {
        std::lock_guard<std::mutex> lk(m_stateMutex);
        delay = m_delayMs;
    }
    Emit('A', Bytes{kAck});
    if (delay > 0) {
        if (!noReply && !data.empty()) SendAfter(delay, ReplyFrame(data));
        return;
    }
    if (noReply || data.empty()) return;
    SendReply(data);
}

void DsaEmulator::SendReply(const std::string& data) { Emit('F', ReplyFrame(data)); }

Bytes DsaEmulator::ReplyFrame(const std::string& data) {
    int seq;
    bool haveFault = false;
    FrameFault fault = FrameFault::BadChecksum;
    {
        std::lock_guard<std::mutex> lk(m_stateMutex);
        if (!m_frameFaults.empty()) {
            fault = m_frameFaults.front();
            m_frameFaults.erase(m_frameFaults.begin());
            haveFault = true;
        }
        if (haveFault && fault == FrameFault::RepeatSeq && m_lastSeq >= 0) {
            seq = m_lastSeq;
        } else {
            seq = m_seq;
            m_seq = (m_seq + 1) % 100;
        }
        m_lastSeq = seq;
    }
    Bytes f = Frame(seq, data);
    if (haveFault) {
        switch (fault) {
        case FrameFault::BadChecksum:
            f[f.size() - 2] = static_cast<uint8_t>(f[f.size() - 2] == '9' ? '0' : f[f.size() - 2] + 1);
            break;
        case FrameFault::NoEtx:   // the frame runs on instead of ending
            f.back() = 'X';
            f.push_back('X');
            break;
        case FrameFault::Junk: {
            Bytes junk = Garbage(5, Bytes{kStx, kEtx, kAck});
            f.insert(f.begin(), junk.begin(), junk.end());
            break;
        }
        default: break;
        }
    }
    return f;
}

// ---- commands ----

std::string DsaEmulator::PluRecord(uint32_t number) const {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    auto it = m_plus.find(number);
    DsaEmuPlu p;
    bool known = it != m_plus.end();
    if (known) p = it->second;
    if (m_model == DsaModel::Dsp500) {
        std::string r = Pad(known ? p.name : "", 20) + Num(number, 7) + Num(known ? p.price : 0, 6) + "    " +
                        Pad(known ? p.barcode : "", 7);
        r.resize(440, ' ');
        return r;
    }
    std::string r = Num(number, PluDigits()) + Pad(known ? p.name : "", 16) + Num(known ? p.price : 0, 9) +
                    Num(known ? p.dept : 0, 2);
    if (m_model != DsaModel::Dsa45B) r += std::string(1, known ? p.flag : '0') + Num(known ? p.quantity : 0, 7);
    if (m_model == DsaModel::Dsa100M1 || m_model == DsaModel::Dsa45B) r += Pad(known ? p.barcode : "", 13);
    return r;
}

std::string DsaEmulator::DeptRecord(uint32_t number) const {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    auto it = m_depts.find(number);
    DsaEmuDept d;
    if (it != m_depts.end()) d = it->second;
    std::string head = Num(number, 2) + Pad(d.name, 16) + Num(d.amount, 9);
    if (m_model == DsaModel::Dsa4000M1)
        return head + "000000000" + std::string(1, d.flag) + Num(d.tax, 2) + Num(d.limit, 9) + "000000";
    std::string r = head + std::string(1, d.flag) + Num(d.tax, 2) + Num(d.limit, 9);
    if (m_model != DsaModel::Dsa100M0 && m_model != DsaModel::Dsa100M1) r += "0000";
    return r;
}

int DsaEmulator::LineDigits() const {
    switch (m_model) {
    case DsaModel::Dsa45B:
    case DsaModel::Dsa4000M2:
    case DsaModel::Dsa4000M3: return 5;
    default: return 4;
    }
}

std::string DsaEmulator::SaleLine(const DsaEmuSale& s) const {
    return "01" + Num(s.plu, LineDigits()) + Num(s.quantity, 9) + Num(s.value, 9);
}

std::string DsaEmulator::Handle(const DsaRequest& req) {
    const std::string& c = req.command;
    {
        std::lock_guard<std::mutex> lk(m_stateMutex);
        for (auto it = m_errs.begin(); it != m_errs.end(); ++it) {
            if (it->first == c) {
                int code = it->second;
                m_errs.erase(it);
                return "ERR00" + Num(static_cast<uint64_t>(code), 2);
            }
        }
    }
    const int d = PluDigits();
    const bool dsp = m_model == DsaModel::Dsp500;
    if (dsp) {
        if (c == "101" && req.data.size() == 7) return c + PluRecord(static_cast<uint32_t>(ToNum(req.data)));
        return "ERR0022";
    }
    if (c == "4001" && req.data.size() == 39) {
        DsaEmuDept dept;
        dept.name = req.data.substr(2, 16);
        dept.amount = ToNum(req.data.substr(18, 9));
        dept.flag = req.data[27];
        dept.tax = static_cast<uint32_t>(ToNum(req.data.substr(28, 2)));
        dept.limit = ToNum(req.data.substr(30, 9));
        SetDept(static_cast<uint32_t>(ToNum(req.data.substr(0, 2))), dept);
        return c + "00";
    }
    if (c == "4201" && req.data.size() == 2) return c + DeptRecord(static_cast<uint32_t>(ToNum(req.data)));
    if (c == "4202" && req.data.size() == static_cast<size_t>(d))
        return c + PluRecord(static_cast<uint32_t>(ToNum(req.data)));
    const size_t recLen = static_cast<size_t>(d) + 27 + (m_model == DsaModel::Dsa45B ? 0 : 8) +
                          ((m_model == DsaModel::Dsa100M1 || m_model == DsaModel::Dsa45B) ? 13 : 0);
    if ((c == "4059" || c == "4002") && req.data.size() == recLen) {
        const uint32_t number = static_cast<uint32_t>(ToNum(req.data.substr(0, static_cast<size_t>(d))));
        DsaEmuPlu p;
        p.name = req.data.substr(static_cast<size_t>(d), 16);
        p.price = ToNum(req.data.substr(static_cast<size_t>(d) + 16, 9));
        p.dept = static_cast<uint32_t>(ToNum(req.data.substr(static_cast<size_t>(d) + 25, 2)));
        size_t pos = static_cast<size_t>(d) + 27;
        if (m_model != DsaModel::Dsa45B) {
            p.flag = req.data[pos];
            p.quantity = ToNum(req.data.substr(pos + 1, 7));
            pos += 8;
        }
        if (pos < req.data.size()) p.barcode = req.data.substr(pos, 13);
        std::lock_guard<std::mutex> lk(m_stateMutex);
        if (c == "4059") {
            if (m_plus.count(number)) return "ERR00" + Num(static_cast<uint64_t>(ExistsCode()), 2);
            m_plus[number] = p;
        } else if (req.data.substr(static_cast<size_t>(d) + 25, 2) == "00") {
            m_plus.erase(number);
        } else {
            m_plus[number] = p;
        }
        return c + "00";
    }
    if (c == "4060" && req.data.size() == static_cast<size_t>(d) + 9) {
        const uint32_t number = static_cast<uint32_t>(ToNum(req.data.substr(0, static_cast<size_t>(d))));
        std::lock_guard<std::mutex> lk(m_stateMutex);
        auto it = m_plus.find(number);
        if (it == m_plus.end()) return "ERR0018";
        it->second.price = ToNum(req.data.substr(static_cast<size_t>(d), 9));
        return c + "00";
    }
    if ((c == "4061" || c == "4062" || c == "4065" || c == "4066") && req.data.empty()) return c + "00";

    // Sale streams.
    const bool clearing = (c == "3055" && (m_model == DsaModel::Dsa100M0 || m_model == DsaModel::Dsa100M1 ||
                                           m_model == DsaModel::Dsa45B || m_model == DsaModel::Dsa4000M3)) ||
                          (c == "3060" && (m_model == DsaModel::Dsa4000M1 || m_model == DsaModel::Dsa4000M2));
    if (c == "2051" || clearing) {
        uint32_t end = 9999;
        if (m_model == DsaModel::Dsa45B || m_model == DsaModel::Dsa4000M3) end = 99999;
        if (m_model == DsaModel::Dsa4000M2) end = 32767;
        std::vector<std::string> lines;
        {
            std::lock_guard<std::mutex> lk(m_stateMutex);
            for (const auto& s : m_sales) lines.push_back(c + SaleLine(s));
            if (clearing) m_sales.clear();
        }
        DsaEmuSale last;
        last.plu = end;
        lines.push_back(c + SaleLine(last));
        if (clearing) {
            if (m_model == DsaModel::Dsa100M0 || m_model == DsaModel::Dsa100M1) lines.push_back("305600");
            if (m_model == DsaModel::Dsa4000M1 || m_model == DsaModel::Dsa4000M2) lines.push_back("306100");
        }
        std::string first = lines.front();
        {
            std::lock_guard<std::mutex> lk(m_stateMutex);
            m_pending.assign(lines.begin() + 1, lines.end());
        }
        return first;
    }
    return "ERR0022";
}

}  // namespace orv::test
