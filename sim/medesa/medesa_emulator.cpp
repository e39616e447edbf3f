#include "sim/medesa/medesa_emulator.h"

namespace orv::test {

namespace {

Bytes Escape(const Bytes& in) {
    Bytes out;
    for (uint8_t b : in) {
        if (b >= 0x7C && b <= 0x7F) {
            out.push_back(0x7E);
            out.push_back(static_cast<uint8_t>(b - 0x7C));
        } else {
            out.push_back(b);
        }
    }
    return out;
}

Bytes Unescape(const Bytes& in) {
    Bytes out;
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != 0x7E) {
            out.push_back(in[i]);
        } else if (i + 1 < in.size()) {
            const uint8_t n = in[++i];
            out.push_back(n == 0 ? 0x7C : n == 1 ? 0x7D : n == 3 ? 0x7F : 0x7E);
        }
    }
    return out;
}

uint8_t Bcd(unsigned v) { return static_cast<uint8_t>(((v / 10) % 10) << 4 | (v % 10)); }

}  // namespace

MedesaEmulator::MedesaEmulator(int port, uint8_t address) : EmulatorBase(port), m_address(address) {
    m_vat = {2300, 800, 500, 0};
}

MedesaEmulator::~MedesaEmulator() { Stop(); }

void MedesaEmulator::SetVatRate(int index, uint16_t hundredths) {
    std::lock_guard<std::mutex> lock(m_state);
    m_vat.at(static_cast<size_t>(index)) = hundredths;
}

void MedesaEmulator::SetDept(uint32_t number, const std::string& name) {
    std::lock_guard<std::mutex> lock(m_state);
    m_dept[number] = name;
}

std::string MedesaEmulator::Dept(uint32_t number) const {
    std::lock_guard<std::mutex> lock(m_state);
    auto it = m_dept.find(number);
    return it == m_dept.end() ? std::string() : it->second;
}

MedesaEmulator::Block MedesaEmulator::PluBlock(uint32_t plu, int block) const {
    std::lock_guard<std::mutex> lock(m_state);
    auto it = m_plu.find({plu, block});
    return it == m_plu.end() ? Block() : it->second;
}

bool MedesaEmulator::HoldsPlu(uint32_t plu) const { return !PluBlock(plu, 0).empty(); }

size_t MedesaEmulator::WrittenBlocks() const {
    std::lock_guard<std::mutex> lock(m_state);
    return m_plu.size();
}

void MedesaEmulator::QueueMedesaFault(Fault fault, int times) {
    std::lock_guard<std::mutex> lock(m_state);
    for (int i = 0; i < times; ++i) m_faults.push_back(fault);
}

MedesaEmulator::Fault MedesaEmulator::TakeFault() {
    std::lock_guard<std::mutex> lock(m_state);
    if (m_faults.empty()) return Fault::None;
    const Fault f = m_faults.front();
    m_faults.erase(m_faults.begin());
    return f;
}

std::vector<Bytes> MedesaEmulator::Payloads() const {
    std::lock_guard<std::mutex> lock(m_state);
    return m_payloads;
}

void MedesaEmulator::ClearPayloads() {
    std::lock_guard<std::mutex> lock(m_state);
    m_payloads.clear();
}

void MedesaEmulator::SetLateness(int echoMs, int answerMs, int frames) {
    std::lock_guard<std::mutex> lock(m_state);
    m_echoMs = echoMs;
    m_answerMs = answerMs;
    m_lateFrames = frames;
}

void MedesaEmulator::QueueStaleAnswer(const Bytes& payload) {
    std::lock_guard<std::mutex> lock(m_state);
    m_stale.push_back(payload);
}

Bytes MedesaEmulator::Frame(const Bytes& payload) { return FrameWithFlippedBit(payload, payload.size()); }

Bytes MedesaEmulator::FrameWithFlippedBit(const Bytes& payload, size_t index) {
    unsigned sum = 0;
    for (uint8_t b : payload) sum += b;
    Bytes body = payload;
    if (index < body.size()) body[index] ^= 0x01;
    body.push_back(static_cast<uint8_t>((256 - sum % 256) % 256));
    Bytes out = {0x7C, 0x7C};
    const Bytes esc = Escape(body);
    out.insert(out.end(), esc.begin(), esc.end());
    out.push_back(0x7D);
    return out;
}

Bytes MedesaEmulator::Answer(const Bytes& p) {
    if (p.size() < 7) return {};
    const uint16_t job = static_cast<uint16_t>(p[2] << 8 | p[3]);
    Bytes a = {m_address, 0x00, p[2], p[3], p[4], p[5], p[6]};
    std::lock_guard<std::mutex> lock(m_state);
    if (m_payloads.size() >= 10000) m_payloads.erase(m_payloads.begin());   // a long run in the simulator
    m_payloads.push_back(p);
    switch (job) {
    case 0x4B21: {
        const uint16_t v = p[4] < 4 ? m_vat[p[4]] : 0;
        a.push_back(Bcd(v / 100));
        a.push_back(Bcd(v % 100));
        return a;
    }
    case 0x4B02: {
        std::string name = m_dept.count(p[4]) ? m_dept[p[4]] : std::string();
        name.resize(24, ' ');
        a.insert(a.end(), name.begin(), name.end());
        a.push_back(0);
        return a;
    }
    case 0x4C02:
        if (p.size() != 31) break;
        m_dept[p[4] + 1u] = std::string(p.begin() + 7, p.end());
        a[2] = 0xCC;
        return a;
    case 0x4C01:
        if (p.size() != 39) break;
        m_plu[{p[4] + 256u * p[5], p[6]}] = Block(p.begin() + 4, p.end());
        a[2] = 0xCC;
        return a;
    case 0x4B01: {
        auto it = m_plu.find({p[4] + 256u * p[5], p[6]});
        if (it == m_plu.end()) break;
        a.resize(4);
        a.insert(a.end(), it->second.begin(), it->second.end());
        return a;
    }
    default: return {};
    }
    a[2] = 0xEE;   // refused
    return a;
}

void MedesaEmulator::OnReceive(const uint8_t* data, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        m_frame.push_back(data[i]);
        if (m_frame.size() > 600) m_frame.erase(m_frame.begin());
        if (data[i] != 0x7D) continue;
        Bytes frame;
        frame.swap(m_frame);
        if (Silent()) continue;
        // The frame starts at its "||".
        size_t start = 0;
        while (start + 1 < frame.size() && !(frame[start] == 0x7C && frame[start + 1] == 0x7C)) ++start;
        if (start + 1 >= frame.size()) continue;
        frame.erase(frame.begin(), frame.begin() + static_cast<long>(start));
        Bytes body = Unescape(Bytes(frame.begin() + 2, frame.end() - 1));
        if (!body.empty()) body.pop_back();
        const Fault fault = TakeFault();
        if (fault == Fault::NoEcho) continue;
        Bytes echo = frame;
        if (fault == Fault::SpoiltEcho) echo.erase(echo.begin(), echo.begin() + 2);
        Bytes answer;
        switch (fault) {
        case Fault::Refuse: answer = Frame({m_address, 0x00, 0xEE, 0x01, 0, 0, 0}); break;
        case Fault::Unframed: answer = Bytes(12, 0x31); answer.back() = 0x7D; break;
        case Fault::ShortReply: answer = {0x7C, 0x7C, 1, 2, 3, 4, 5, 0x7D}; break;
        case Fault::Garbage: answer = EmulatorBase::Garbage(19, {0x7D}); answer.push_back(0x7D); break;
        case Fault::Silence: break;
        case Fault::FlipBit: answer = FrameWithFlippedBit(Answer(body), 7); break;
        default: answer = Frame(Answer(body)); break;
        }
        Bytes stale;
        int echoMs = 0, answerMs = 0;
        {
            std::lock_guard<std::mutex> lock(m_state);
            if (m_lateFrames != 0) {
                echoMs = m_echoMs;
                answerMs = m_answerMs;
                if (m_lateFrames > 0) --m_lateFrames;
            }
            if (!m_stale.empty()) {
                stale.swap(m_stale.front());
                m_stale.erase(m_stale.begin());
            }
        }
        if (!stale.empty()) {
            const Bytes old = Frame(Answer(stale));
            answer.insert(answer.begin(), old.begin(), old.end());
        }
        if (echoMs == 0 && answerMs == 0) {
            echo.insert(echo.end(), answer.begin(), answer.end());
            Reply(echo);
        } else if (echoMs == answerMs) {
            echo.insert(echo.end(), answer.begin(), answer.end());
            SendAfter(echoMs, echo);
        } else {
            echoMs > 0 ? SendAfter(echoMs, echo) : Reply(echo);
            if (!answer.empty()) SendAfter(answerMs, answer);
        }
    }
}

}  // namespace orv::test
