#include "sim/sharp/sharp227_emulator.h"

#include <cstdio>

namespace orv::test {

namespace {
constexpr uint8_t kStx = 0x02, kEtx = 0x03, kAck = 0x06, kNak = 0x15, kCr = 0x0D, kSub = 0x1A;

uint8_t Sum(const std::string& text) {
    unsigned s = 0;
    for (unsigned char c : text) s += c;
    return static_cast<uint8_t>((256u - s % 256u) % 256u);
}

std::string Hex2(unsigned v) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02X", v & 0xFFu);
    return buf;
}

bool CheckHex(const std::string& text, char hi, char lo) { return Hex2(Sum(text)) == std::string{hi, lo}; }
}  // namespace

Sharp227Emulator::Sharp227Emulator(int port) : EmulatorBase(port) {}

Bytes Sharp227Emulator::DataFrame(const std::string& text) { return B(text + Hex2(Sum(text)) + "\r"); }

void Sharp227Emulator::SetGoods(const std::map<std::string, std::string>& byKey) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_goods = byKey;
}
std::map<std::string, std::string> Sharp227Emulator::Goods() const {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    return m_goods;
}
void Sharp227Emulator::SetDepartments(const std::map<std::string, std::string>& byNumber) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_depts = byNumber;
}
std::map<std::string, std::string> Sharp227Emulator::Departments() const {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    return m_depts;
}
void Sharp227Emulator::SetSales(const std::vector<std::string>& records) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_sales = records;
}
std::vector<std::string> Sharp227Emulator::Sales() const {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    return m_sales;
}
std::string Sharp227Emulator::Commands() const {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    return m_commands;
}
std::vector<std::string> Sharp227Emulator::Records() const {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    return m_records;
}
int Sharp227Emulator::NaksSent() const {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    return m_naks;
}
void Sharp227Emulator::ClearLog() {
    {
        std::lock_guard<std::mutex> lk(m_stateMutex);
        m_commands.clear();
        m_records.clear();
        m_naks = 0;
    }
    ClearReceived();
    ClearSent();
}
void Sharp227Emulator::NakHostFrames(int count) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_nakNext = count;
}
void Sharp227Emulator::SpoilReplyBlock(int nth, BlockFault fault, int copies) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    std::erase_if(m_spoils, [](const Spoil& s) { return s.copies <= 0; });
    if (m_spoils.empty()) m_replyBlocks = 0;
    m_spoils.push_back({nth, fault, copies});
}
void Sharp227Emulator::SetReplyDelay(int ms) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_delayMs = ms;
}

void Sharp227Emulator::Out(const Bytes& bytes) {
    if (m_delayMs > 0)
        SendAfter(m_delayMs, bytes);
    else
        Send(bytes);
}

void Sharp227Emulator::OnReceive(const uint8_t* data, size_t n) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    for (size_t i = 0; i < n; ++i) OnByte(data[i]);
}

void Sharp227Emulator::OnByte(uint8_t b) {
    switch (m_state) {
    case State::Replying:
        if (b == kAck) {
            SendNext();
        } else if (b == kNak) {
            if (m_sends < 3)
                SendCurrent(false);
            else
                m_state = State::Idle;
        } else if (b == kStx) {
            m_state = State::Command;   // the host starts anew
            m_frame.assign(1, kStx);
        }
        return;
    case State::Idle:
        if (b == kStx) {
            m_state = State::Command;
            m_frame.assign(1, kStx);
        }
        return;
    case State::Command:
        m_frame.push_back(b);
        if (m_frame.size() < 5) return;
        m_state = State::Idle;
        if (m_frame[4] != kEtx || !CheckHex(std::string(m_frame.begin(), m_frame.begin() + 2), static_cast<char>(m_frame[2]),
                                            static_cast<char>(m_frame[3])) ||
            m_nakNext > 0) {
            if (m_nakNext > 0) --m_nakNext;
            ++m_naks;
            Out(Bytes{kNak});
            return;
        }
        OnCommand(m_frame[1]);
        return;
    case State::Receiving:
        m_frame.push_back(b);
        if (b == kSub && m_frame.size() == 3) {
            std::string all;
            for (const std::string& r : m_pending) all += r;
            if (m_nakNext > 0 || !CheckHex(all, static_cast<char>(m_frame[0]), static_cast<char>(m_frame[1]))) {
                if (m_nakNext > 0) --m_nakNext;
                ++m_naks;
                m_frame.clear();
                Out(Bytes{kNak});
                return;
            }
            Out(Bytes{kAck});
            Commit();
            m_state = State::Idle;
            return;
        }
        if (b == kStx && m_frame.size() == 1) {
            m_state = State::Command;   // a new command: the transfer was given up
            return;
        }
        if (b != kCr) {
            if (m_frame.size() > 300) m_frame.clear();
            return;
        }
        {
            const size_t n = m_frame.size();
            const std::string text(m_frame.begin(), m_frame.end() - (n >= 3 ? 3 : n));
            const bool good = n >= 3 && CheckHex(text, static_cast<char>(m_frame[n - 3]), static_cast<char>(m_frame[n - 2]));
            m_frame.clear();
            if (!good || m_nakNext > 0) {
                if (m_nakNext > 0) --m_nakNext;
                ++m_naks;
                Out(Bytes{kNak});
                return;
            }
            m_pending.push_back(text);
            m_records.push_back(text);
            Out(Bytes{kAck});
        }
        return;
    }
}

void Sharp227Emulator::OnCommand(uint8_t letter) {
    m_commands += static_cast<char>(letter);
    Out(Bytes{kAck});
    switch (letter) {
    case 'P': m_sales.clear(); return;
    case 'Q':
    case 'p':
        m_state = State::Receiving;
        m_writing = letter;
        m_pending.clear();
        m_frame.clear();
        return;
    case 'S':
    case 'q':
    case 'T': {
        m_out.clear();
        std::string all;
        auto add = [&](const std::string& r) {
            m_out.push_back(DataFrame(r));
            all += r;
        };
        if (letter == 'S')
            for (const auto& g : m_goods) add(g.second);
        if (letter == 'q')
            for (const auto& d : m_depts) add(d.second);
        if (letter == 'T')
            for (const auto& s : m_sales) add(s);
        m_out.push_back(B(Hex2(Sum(all)) + "\x1A"));
        m_state = State::Replying;
        SendNext();
        return;
    }
    default: return;
    }
}

void Sharp227Emulator::Commit() {
    for (const std::string& r : m_pending) {
        if (m_writing == 'p') {
            m_depts[r.substr(0, 2)] = r;
            continue;
        }
        const std::string key = r.substr(0, 14);
        if (r.size() >= 32 && r.compare(15, 8, "00000000") == 0 && r[24] == '-')
            m_goods.erase(key);
        else
            m_goods[key] = r;
    }
    m_pending.clear();
}

void Sharp227Emulator::SendNext() {
    if (m_out.empty()) {
        m_state = State::Idle;
        return;
    }
    m_current = m_out.front();
    m_out.pop_front();
    m_currentIsData = !m_out.empty();
    SendCurrent(true);
}

void Sharp227Emulator::SendCurrent(bool first) {
    if (first) m_sends = 0;
    ++m_sends;
    if (m_currentIsData) {
        if (first) ++m_replyBlocks;
        for (Spoil& s : m_spoils) {
            if (s.nth != m_replyBlocks || s.copies <= 0) continue;
            --s.copies;
            Bytes b = m_current;
            switch (s.fault) {
            case BlockFault::BadChecksum: b[b.size() - 2] = b[b.size() - 2] == '0' ? '1' : '0'; break;
            case BlockFault::Noise: {
                Bytes noise = Garbage(4, {kStx, kEtx, kAck, kNak, kCr, kSub});
                noise.insert(noise.end(), b.begin(), b.end());
                b = noise;
                break;
            }
            case BlockFault::Repeat:
                // The block goes out again after its ACK.
                m_out.push_front(m_current);
                break;
            }
            Out(b);
            return;
        }
    }
    Out(m_current);
}

}  // namespace orv::test
