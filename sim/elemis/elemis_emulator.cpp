#include "sim/elemis/elemis_emulator.h"

#include <algorithm>

namespace orv::test {

namespace {

constexpr size_t kRecord = 259;
constexpr size_t kCoded = 299;
constexpr size_t kFrame = 302;

Bytes Bcd(const std::string& digits) {
    Bytes out;
    for (size_t i = 0; i < digits.size(); i += 2) {
        const int hi = digits[i] - '0';
        const int lo = i + 1 < digits.size() ? digits[i + 1] - '0' : 0;
        out.push_back(static_cast<uint8_t>((hi << 4) | lo));
    }
    return out;
}

void PutBig(Bytes& b, size_t at, uint32_t v, int width) {
    for (int i = width - 1; i >= 0; --i) {
        b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v & 0xFF);
        v >>= 8;
    }
}

Bytes Decode(const Bytes& coded) {
    Bytes record;
    for (size_t g = 0; g < kRecord / 7; ++g) {
        const uint8_t high = coded[g * 8 + 7] & 0x7F;
        for (size_t i = 0; i < 7; ++i) {
            uint8_t b = coded[g * 8 + i] & 0x7F;
            if (high & (1u << i)) b |= 0x80;
            record.push_back(b);
        }
    }
    return record;
}

}  // namespace

Bytes ElemisEmulator::Code(const Bytes& record) {
    uint32_t sum = 0;
    for (uint8_t b : record) sum += b;
    Bytes coded;
    for (size_t g = 0; g < kRecord / 7; ++g) {
        uint8_t high = 0;
        for (size_t i = 0; i < 7; ++i) {
            const uint8_t b = record[g * 7 + i];
            coded.push_back(b);
            if (b & 0x80) high |= static_cast<uint8_t>(1u << i);
        }
        coded.push_back(high);
    }
    const uint8_t lo = static_cast<uint8_t>(sum & 0xFF), hi = static_cast<uint8_t>((sum >> 8) & 0xFF);
    coded.push_back(lo);
    coded.push_back(hi);
    coded.push_back(static_cast<uint8_t>(((lo & 0x80) ? 1 : 0) | ((hi & 0x80) ? 2 : 0)));
    for (uint8_t& b : coded) b |= 0x80;
    return coded;
}

ElemisEmulator::ElemisEmulator(int port) : EmulatorBase(port), m_plu(10000, Bytes(64, 0)), m_depts(256, 0) {
    for (Bytes& slot : m_plu) slot[44] = 0xFF;
    m_vat = {2300, 800, 500, 0, 10000, 0, 0, 0};
    for (int d = 0; d < 8; ++d) {
        const std::string name = "Dzial " + std::to_string(d + 1);
        std::fill(m_depts.begin() + d * 32, m_depts.begin() + d * 32 + 18, ' ');
        std::copy(name.begin(), name.end(), m_depts.begin() + d * 32);
    }
}

ElemisEmulator::~ElemisEmulator() { Stop(); }

void ElemisEmulator::SetLinkConstant(const std::string& digits) {
    std::lock_guard<std::mutex> lk(m_state);
    m_link = digits;
}

void ElemisEmulator::SetPlu(uint32_t number, const std::string& code13, const std::string& name, uint32_t hundredths,
                            uint8_t vatIndex, uint8_t attribute) {
    std::lock_guard<std::mutex> lk(m_state);
    if (number < 1 || number > m_plu.size()) return;
    Bytes slot(64, 0);
    const Bytes code = Bcd("0" + std::string(13 - std::min<size_t>(13, code13.size()), '0') + code13.substr(0, 13));
    std::copy(code.begin(), code.end(), slot.begin());
    std::string padded = name.substr(0, 18);
    padded.resize(18, ' ');
    std::copy(padded.begin(), padded.end(), slot.begin() + 7);
    PutBig(slot, 25, hundredths, 4);
    slot[44] = vatIndex;
    slot[49] = attribute;
    m_plu[number - 1] = slot;
}

Bytes ElemisEmulator::PluSlot(uint32_t number) const {
    std::lock_guard<std::mutex> lk(m_state);
    return number >= 1 && number <= m_plu.size() ? m_plu[number - 1] : Bytes();
}

void ElemisEmulator::SetDeptTable(const Bytes& table) {
    std::lock_guard<std::mutex> lk(m_state);
    m_depts = table;
    m_depts.resize(256, 0);
}

Bytes ElemisEmulator::DeptTable() const {
    std::lock_guard<std::mutex> lk(m_state);
    return m_depts;
}

void ElemisEmulator::AddSale(const std::string& code13, uint32_t thousandths, uint32_t hundredths) {
    std::lock_guard<std::mutex> lk(m_state);
    Bytes rec(17, 0);
    const Bytes code = Bcd("0" + code13);
    std::copy(code.begin(), code.end(), rec.begin());
    PutBig(rec, 7, thousandths, 4);
    PutBig(rec, 13, hundredths, 4);
    m_sales.push_back(rec);
}

void ElemisEmulator::SetVat(int index, uint16_t hundredths) {
    std::lock_guard<std::mutex> lk(m_state);
    if (index >= 0 && index < 8) m_vat[static_cast<size_t>(index)] = hundredths;
}

void ElemisEmulator::SetIdentification(const std::string& eleven) {
    std::lock_guard<std::mutex> lk(m_state);
    m_id = eleven;
}

bool ElemisEmulator::Linked() const {
    std::lock_guard<std::mutex> lk(m_state);
    return m_linked;
}

int ElemisEmulator::SaleClears() const {
    std::lock_guard<std::mutex> lk(m_state);
    return m_clears;
}

void ElemisEmulator::Inject(int type, Answer answer, uint8_t status, int at) {
    std::lock_guard<std::mutex> lk(m_state);
    m_injections.push_back({type, answer, status, at});
}

std::vector<ElemisEmulator::Request> ElemisEmulator::Requests() const {
    std::lock_guard<std::mutex> lk(m_state);
    return m_requests;
}

void ElemisEmulator::ClearRequests() {
    std::lock_guard<std::mutex> lk(m_state);
    m_requests.clear();
}

int ElemisEmulator::CountRequests(uint8_t type) const {
    std::lock_guard<std::mutex> lk(m_state);
    return static_cast<int>(std::count_if(m_requests.begin(), m_requests.end(), [&](const Request& r) { return r.type == type; }));
}

void ElemisEmulator::SetRecording(bool on) {
    std::lock_guard<std::mutex> lk(m_state);
    m_recording = on;
}

void ElemisEmulator::OnReceive(const uint8_t* data, size_t n) {
    std::lock_guard<std::mutex> lk(m_state);
    m_input.insert(m_input.end(), data, data + n);
    for (;;) {
        // A frame starts at 0x03; anything before it is noise.
        auto start = std::find(m_input.begin(), m_input.end(), static_cast<uint8_t>(0x03));
        m_input.erase(m_input.begin(), start);
        if (m_input.size() < kFrame) return;
        const Bytes coded(m_input.begin() + 1, m_input.begin() + 1 + kCoded);
        const bool framed = m_input[1 + kCoded] == 0x04 && m_input[2 + kCoded] == 0xFF &&
                            std::all_of(coded.begin(), coded.end(), [](uint8_t b) { return (b & 0x80) != 0; });
        if (!framed) {
            m_input.erase(m_input.begin());
            continue;
        }
        m_input.erase(m_input.begin(), m_input.begin() + kFrame);
        Handle(Decode(coded));
    }
}

void ElemisEmulator::Status(uint8_t status) {
    if (m_answer == Answer::Silence) return;
    if (m_answer == Answer::Garbage) {
        Reply(Garbage(5, {2, 3}));
        return;
    }
    if (m_answer == Answer::Status) status = m_answerStatus;
    Reply({status});
}

void ElemisEmulator::Data(const Bytes& payload) {
    if (m_answer != Answer::Normal && m_answer != Answer::FlippedBit && m_answer != Answer::SpoiltStatus) {
        if (m_answer == Answer::Short) {
            Bytes partial = {3};
            Bytes coded = Code(Bytes(kRecord, 0));
            partial.insert(partial.end(), coded.begin(), coded.begin() + 100);
            Reply(partial);
            return;
        }
        Status(3);
        return;
    }
    Bytes record = {0, 0, 0};
    record.insert(record.end(), payload.begin(), payload.end());
    record.resize(kRecord, 0);
    Bytes frame = {3};
    Bytes coded = Code(record);
    if (m_answer == Answer::FlippedBit && m_answerAt >= 0 && static_cast<size_t>(m_answerAt) < kRecord)
        coded[static_cast<size_t>(m_answerAt) / 7 * 8 + static_cast<size_t>(m_answerAt) % 7] ^= 0x01;
    frame.insert(frame.end(), coded.begin(), coded.end());
    frame.push_back(0x04);
    if (m_answer == Answer::SpoiltStatus) {
        Reply({m_answerStatus});
        SendAfter(10, Bytes(frame.begin() + 1, frame.end()));
        return;
    }
    Reply(frame);
}

void ElemisEmulator::Handle(const Bytes& record) {
    Request req{record[0], record[1], record[2], Bytes(record.begin() + 3, record.end())};
    if (m_recording) m_requests.push_back(req);
    m_answer = Answer::Normal;
    for (auto it = m_injections.begin(); it != m_injections.end(); ++it) {
        if (it->type >= 0 && it->type != req.type) continue;
        m_answer = it->answer;
        m_answerStatus = it->status;
        m_answerAt = it->at;
        m_injections.erase(it);
        break;
    }
    const Bytes& p = req.payload;
    const uint32_t addr = req.addr0 | (static_cast<uint32_t>(req.addr1) << 8);
    if (req.type == 14) {
        if (req.addr0 == 1) {
            const Bytes want = Bcd(m_link);
            const bool ok = p[0] == 0x34 && p[1] == 0x12 && std::equal(want.begin(), want.end(), p.begin() + 4);
            m_linked = ok;
            Status(ok ? 2 : 1);
        } else {
            m_linked = false;
            Status(2);
        }
        return;
    }
    if (!m_linked) {
        Status(1);
        return;
    }
    switch (req.type) {
    case 0: Data(Bytes(256, 0)); return;
    case 5: {
        Bytes out(256, 0);
        if (req.addr0 == 1) {
            for (size_t i = 0; i < 8; ++i) PutBig(out, 197 + 2 * i, m_vat[i], 2);
        } else {
            for (size_t i = 0; i < 3 && i < m_id.size(); ++i) out[3 + i] = static_cast<uint8_t>(m_id[i]);
            for (size_t i = 3; i < 11 && i < m_id.size(); ++i) out[7 + i - 3] = static_cast<uint8_t>(m_id[i]);
        }
        Data(out);
        return;
    }
    case 6:
        ++m_clears;
        m_sales.clear();
        Status(2);
        return;
    case 8: {
        Bytes out(256, 0);
        for (size_t k = 0; k < 15; ++k) {
            const size_t index = addr * 15 + k;
            if (index >= m_sales.size()) break;
            std::copy(m_sales[index].begin(), m_sales[index].end(), out.begin() + static_cast<std::ptrdiff_t>(k * 17));
        }
        Data(out);
        return;
    }
    case 10: Data(m_depts); return;
    case 11: {
        Bytes out;
        for (size_t k = 0; k < 4; ++k) {
            const size_t index = addr * 4 + k;
            const Bytes slot = index < m_plu.size() ? m_plu[index] : Bytes(64, 0);
            out.insert(out.end(), slot.begin(), slot.end());
        }
        Data(out);
        return;
    }
    case 12:
        m_depts = p;
        Status(2);
        return;
    case 13: {
        const uint32_t index = p[1] | (p[2] << 8) | (p[3] << 16) | (static_cast<uint32_t>(p[4]) << 24);
        if (p[0] != 1 || index >= m_plu.size()) {
            Status(1);
            return;
        }
        Bytes slot(64, 0);
        std::copy(p.begin() + 5, p.begin() + 64, slot.begin());
        m_plu[index] = slot;
        Status(2);
        return;
    }
    default: Status(1); return;
    }
}

}  // namespace orv::test
