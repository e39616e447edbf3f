#include "sim/cas_lp/cas_lp_emulator.h"

#include <cstdio>
#include <cstdlib>

namespace orv::test {

namespace {

constexpr uint8_t kCr = 0x0D;
constexpr uint32_t kMapBase = 3697;

void PutBig(Bytes& out, uint32_t v, int n) {
    for (int i = n - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void PutLittle(Bytes& out, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void PutName(Bytes& out, std::string name) {
    name.resize(28, ' ');
    out.insert(out.end(), name.begin(), name.end());
}

uint8_t Xor(const Bytes& b, size_t n) {
    uint8_t x = 0;
    for (size_t i = 0; i < n && i < b.size(); ++i) x ^= b[i];
    return x;
}

std::string Hex4(uint32_t v) {
    char t[8];
    std::snprintf(t, sizeof t, "%04X", v & 0xFFFF);
    return t;
}

bool ParseHex(const std::string& s, uint32_t& out) {
    if (s.empty()) return false;
    char* end = nullptr;
    out = static_cast<uint32_t>(std::strtoul(s.c_str(), &end, 16));
    return *end == 0;
}

}  // namespace

CasLpEmulator::CasLpEmulator(int port, int variant) : EmulatorBase(port), m_variant(variant == 16 ? 16 : 1) {}

CasLpEmulator::~CasLpEmulator() { Stop(); }

Bytes CasLpEmulator::Encode(int variant, const Goods& g) {
    Bytes out;
    if (variant == 16) {
        PutLittle(out, g.itemCode, 4);
        PutName(out, g.name1);
        PutName(out, g.name2);
        PutBig(out, g.code, 2);
        PutLittle(out, g.hundredths, 4);
        PutBig(out, g.sellDate, 2);
        PutBig(out, g.thousandths, 2);
        PutBig(out, g.department, 3);
    } else {
        PutBig(out, g.itemCode, 4);
        PutName(out, g.name1);
        PutName(out, g.name2);
        PutBig(out, g.hundredths, 4);
        PutBig(out, g.sellDate, 2);
        PutBig(out, g.thousandths, 2);
        PutBig(out, g.department, 2);
        PutBig(out, g.code, 2);
    }
    return out;
}

void CasLpEmulator::SetGoods(uint32_t plu, const Goods& goods) { SetRecord(plu, Encode(m_variant, goods)); }

void CasLpEmulator::SetRecord(uint32_t plu, const Bytes& record) {
    std::lock_guard<std::mutex> lock(m_state);
    m_goods[plu] = record;
}

Bytes CasLpEmulator::Record(uint32_t plu) const {
    std::lock_guard<std::mutex> lock(m_state);
    auto it = m_goods.find(plu);
    return it == m_goods.end() ? Bytes() : it->second;
}

bool CasLpEmulator::Holds(uint32_t plu) const {
    std::lock_guard<std::mutex> lock(m_state);
    return m_goods.count(plu) != 0;
}

size_t CasLpEmulator::GoodsCount() const {
    std::lock_guard<std::mutex> lock(m_state);
    return m_goods.size();
}

void CasLpEmulator::SetPresence(uint32_t plu, uint8_t value) {
    std::lock_guard<std::mutex> lock(m_state);
    m_presence[plu] = value;
}

void CasLpEmulator::WrongWakeUp(uint8_t byte, int times) {
    std::lock_guard<std::mutex> lock(m_state);
    m_wrongByte = byte;
    m_wrongWakeUps = times;
}

void CasLpEmulator::InjectAnswer(char letter, const Bytes& answer) { InjectAnswer(letter, answer, Bytes(), 0); }

void CasLpEmulator::InjectAnswer(char letter, const Bytes& answer, const Bytes& late, int lateMs) {
    std::lock_guard<std::mutex> lock(m_state);
    m_injected.push_back({letter, answer, late, lateMs});
}

void CasLpEmulator::RefuseMapFrom(int block) {
    std::lock_guard<std::mutex> lock(m_state);
    m_refuseFrom = block;
}

void CasLpEmulator::StopAtMapBlock(int block) {
    std::lock_guard<std::mutex> lock(m_state);
    m_stopAt = block;
}

std::deque<std::string> CasLpEmulator::Requests() const {
    std::lock_guard<std::mutex> lock(m_state);
    return m_requests;
}

void CasLpEmulator::Remember(const std::string& request) {
    if (m_requests.size() >= kRequestsKept) m_requests.pop_front();   // a long run in the simulator
    m_requests.push_back(request);
}

void CasLpEmulator::OnReceive(const uint8_t* data, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (m_variant == 16)
            OnLp16(data[i]);
        else
            OnLp1(data[i]);
    }
}

// ---------------------------------------------------------------- LP-1

void CasLpEmulator::OnLp1(uint8_t b) {
    switch (m_step) {
    case Step::Idle: {
        if (b != 0xA5 || Silent()) return;   // noise before a wake-up is ignored; a silent scale sleeps
        uint8_t answer = 'w';
        {
            std::lock_guard<std::mutex> lock(m_state);
            if (m_wrongWakeUps > 0) {
                --m_wrongWakeUps;
                answer = m_wrongByte;
            }
        }
        Reply({answer});
        if (answer == 'w') m_step = Step::Command;
        return;
    }
    case Step::Command:
        m_command = b;
        m_buf.clear();
        m_step = Step::Plu;
        Reply({0x01});
        return;
    case Step::Plu: {
        m_buf.push_back(b);
        if (m_buf.size() < 2) return;
        m_plu = (static_cast<uint32_t>(m_buf[0]) << 8) | m_buf[1];
        char text[32];
        std::snprintf(text, sizeof text, "A5 %02X %04X", m_command, m_plu);
        Bytes answer;
        Bytes record;
        {
            std::lock_guard<std::mutex> lock(m_state);
            Remember(text);
            auto it = m_goods.find(m_plu);
            if (it != m_goods.end()) record = it->second;
        }
        m_buf.clear();
        if (m_command == 2) {
            m_step = Step::Record;
            Reply({static_cast<uint8_t>(m_plu >> 8), static_cast<uint8_t>(m_plu)});
            return;
        }
        m_step = Step::Idle;
        if (m_command != 5 || record.empty()) {
            Reply({0, 0});
            return;
        }
        // The answer to the number, then the record with the number in front.
        answer = {static_cast<uint8_t>(m_plu >> 8), static_cast<uint8_t>(m_plu), static_cast<uint8_t>(m_plu >> 8),
                  static_cast<uint8_t>(m_plu)};
        answer.insert(answer.end(), record.begin(), record.end());
        answer.push_back(0x10);
        Reply(answer);
        return;
    }
    case Step::Record:
        m_buf.push_back(b);
        if (m_buf.size() < 72) return;
        SetRecord(m_plu, m_buf);
        m_buf.clear();
        m_step = Step::Idle;
        Reply({0x10});
        return;
    }
}

// --------------------------------------------------------------- LP-16

Bytes CasLpEmulator::Presence(int block) const {
    Bytes out(50, 0);
    for (int i = 0; i < 50; ++i) {
        const uint32_t plu = static_cast<uint32_t>(50 * block + i + 1);
        auto p = m_presence.find(plu);
        if (p != m_presence.end())
            out[static_cast<size_t>(i)] = p->second;
        else if (m_goods.count(plu))
            out[static_cast<size_t>(i)] = 1;
    }
    return out;
}

void CasLpEmulator::OnLp16(uint8_t b) {
    if (m_step == Step::Record) {
        m_buf.push_back(b);
        if (m_buf.size() < 74) return;
        const bool ok = Xor(m_buf, 73) == m_buf[73];
        Bytes record(m_buf.begin(), m_buf.begin() + 73);
        m_buf.clear();
        m_step = Step::Idle;
        if (ok) {
            std::lock_guard<std::mutex> lock(m_state);
            m_goods[m_plu] = record;
            m_presence.erase(m_plu);
        }
        Reply(B((ok ? "o" : "e") + Hex4(m_plu) + "\r"));
        return;
    }
    if (b != kCr) {
        if (m_line.size() < 256) m_line += static_cast<char>(b);
        return;
    }
    std::string line;
    line.swap(m_line);
    HandleLine(line);
}

void CasLpEmulator::HandleLine(const std::string& line) {
    Injected injected{};
    bool inject = false;
    {
        std::lock_guard<std::mutex> lock(m_state);
        Remember(line);
        if (!line.empty()) {
            for (auto it = m_injected.begin(); it != m_injected.end(); ++it) {
                if (it->letter == line[0]) {
                    injected = *it;
                    m_injected.erase(it);
                    inject = true;
                    break;
                }
            }
        }
    }
    if (inject) {
        Reply(injected.answer);
        if (!injected.late.empty()) SendAfter(injected.lateMs, injected.late);
        return;
    }
    uint32_t n = 0;
    if (line.size() == 8 && line[0] == 'p' && line.substr(5) == ",49" && ParseHex(line.substr(1, 4), n)) {
        m_plu = n;
        m_buf.clear();
        m_step = Step::Record;
        Reply(B("n" + line.substr(1, 4) + "\r"));
        return;
    }
    if (line.size() == 7 && line[0] == 'P' && line.substr(5) == ",1" && ParseHex(line.substr(1, 4), n)) {
        {
            std::lock_guard<std::mutex> lock(m_state);
            m_goods.erase(n);
            m_presence.erase(n);
        }
        Reply(B("O" + line.substr(1, 4) + "\r"));
        return;
    }
    if (line.size() == 10 && line[0] == 'r' && line.substr(7) == ",32" && ParseHex(line.substr(1, 6), n) &&
        n >= kMapBase && (n - kMapBase) % 50 == 0) {
        const int block = static_cast<int>((n - kMapBase) / 50);
        Bytes answer;
        {
            std::lock_guard<std::mutex> lock(m_state);
            if (m_stopAt >= 0 && block >= m_stopAt) {
                m_stopAt = -1;
                SetSilent(true);
                return;
            }
            if (m_refuseFrom >= 0 && block >= m_refuseFrom) {
                answer = B("E\r");
            } else {
                answer = B("#32:");
                const Bytes p = Presence(block);
                answer.insert(answer.end(), p.begin(), p.end());
                answer.push_back(kCr);
            }
        }
        Reply(answer);
        return;
    }
    if (line.size() == 6 && line[0] == 'q' && line[5] == ',' && ParseHex(line.substr(1, 4), n)) {
        Bytes record = Record(n);
        if (record.empty()) record = Encode(16, Goods());
        Bytes answer = B("Q" + line.substr(1, 4) + ",49:");
        answer.insert(answer.end(), record.begin(), record.end());
        answer.push_back(Xor(record, record.size()));
        answer.resize(93, 0);
        answer.push_back(kCr);
        Reply(answer);
        return;
    }
    Reply(B("E\r"));   // a request the scale does not know
}

}  // namespace orv::test
