#include "sim/dibal/dibal_emulator.h"

#include <cstdlib>

namespace orv::test {

namespace {

constexpr uint8_t SOH = 0x01, STX = 0x02, ETX = 0x03, EOT = 0x04, ENQ = 0x05, ACK = 0x06, BEL = 0x07, NAK = 0x15;
constexpr size_t kRecord = 128;
constexpr size_t kPlainLength = 1 + kRecord + 2;         // STX record ETX check
constexpr size_t kAddressedLength = 5 + kPlainLength;    // SOH nn "80" + plain

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

DibalEmulator::DibalEmulator(int port, bool addressed, int address)
    : EmulatorBase(port), m_addressed(addressed), m_address(address) {}

DibalEmulator::~DibalEmulator() { Stop(); }

uint8_t DibalEmulator::Check(const std::string& bytes) {
    uint8_t x = 0;
    for (char c : bytes) x ^= static_cast<uint8_t>(c);
    return x;
}

Bytes DibalEmulator::PlainFrame(const std::string& payload) {
    const std::string body = payload + static_cast<char>(ETX);
    Bytes f{STX};
    f.insert(f.end(), body.begin(), body.end());
    f.push_back(Check(body));
    return f;
}

void DibalEmulator::Script(const std::string& kind, const std::vector<Answer>& answers) {
    std::lock_guard<std::mutex> lk(m_mu);
    auto& q = m_scripts[kind];
    q.insert(q.end(), answers.begin(), answers.end());
}

void DibalEmulator::QueueRecordFaults(const std::vector<RecordFault>& faults) {
    std::lock_guard<std::mutex> lk(m_mu);
    m_recordFaults.insert(m_recordFaults.end(), faults.begin(), faults.end());
}

std::vector<std::string> DibalEmulator::Frames() const {
    std::lock_guard<std::mutex> lk(m_mu);
    return m_frames;
}

int DibalEmulator::BadFrames() const {
    std::lock_guard<std::mutex> lk(m_mu);
    return m_badFrames;
}

int DibalEmulator::Polls() const {
    std::lock_guard<std::mutex> lk(m_mu);
    return m_polls;
}

int DibalEmulator::Enquiries() const {
    std::lock_guard<std::mutex> lk(m_mu);
    return m_enquiries;
}

void DibalEmulator::SetGoods(uint32_t plu, const std::string& x1) {
    std::lock_guard<std::mutex> lk(m_mu);
    m_goods[plu] = x1;
}

std::map<uint32_t, std::string> DibalEmulator::Goods() const {
    std::lock_guard<std::mutex> lk(m_mu);
    return m_goods;
}

std::map<uint32_t, std::string> DibalEmulator::Texts() const {
    std::lock_guard<std::mutex> lk(m_mu);
    return m_texts;
}

bool DibalEmulator::InBulk() const {
    std::lock_guard<std::mutex> lk(m_mu);
    return m_bulk;
}

void DibalEmulator::SetRecording(bool on) {
    std::lock_guard<std::mutex> lk(m_mu);
    m_recording = on;
}

DibalEmulator::Answer DibalEmulator::NextAnswer(const std::string& kind, const std::string& plu) {
    for (const std::string& key : {kind + ":" + plu, kind}) {
        if (plu.empty() && key != kind) continue;
        auto it = m_scripts.find(key);
        if (it != m_scripts.end() && !it->second.empty()) {
            const Answer a = it->second.front();
            it->second.pop_front();
            return a;
        }
    }
    return Answer::Usual;
}

void DibalEmulator::Answer_(Answer a, uint8_t usual) {
    switch (a) {
    case Answer::Usual: Send(Bytes{usual}); break;
    case Answer::Ack: Send(Bytes{ACK}); break;
    case Answer::Nak: Send(Bytes{NAK}); break;
    case Answer::Bel: Send(Bytes{BEL}); break;
    case Answer::Silence: break;
    case Answer::WrongByte: Send(Bytes{'?'}); break;
    case Answer::Garbage: Send(Garbage(8, Bytes{SOH, STX, ETX, EOT, ENQ, ACK, BEL, NAK})); break;
    }
}

// Called with m_mu held; sends without it being needed by Send.
void DibalEmulator::HandleRecord(const std::string& payload, bool /*addressed*/) {
    if (m_recording) m_frames.push_back(payload);
    const std::string kind = payload.substr(0, 8) == "KB000201" || payload.substr(0, 8) == "KB000202" ||
                                     payload.substr(0, 8) == "KB000203"
                                 ? payload.substr(0, 8)
                                 : payload.substr(0, 2);
    std::string plu;
    if (kind == "X1") plu = payload.substr(5, 6);
    if (kind == "X2") plu = payload.substr(4, 6);
    const Answer a = NextAnswer(kind, plu);
    const bool accepted = a == Answer::Usual || a == Answer::Ack;
    Answer_(a, ACK);
    if (!accepted) return;
    if (kind == "KB000201") m_bulk = true;
    if (kind == "KB000203") m_bulk = false;
    if (kind == "X1") m_goods[static_cast<uint32_t>(std::atoi(plu.c_str()))] = payload;
    if (kind == "X2") m_texts[static_cast<uint32_t>(std::atoi(plu.c_str()))] = payload;
    if (kind == "KB000202") {
        m_reading.clear();
        for (const auto& g : m_goods) m_reading.push_back(g.second);
        m_readIndex = 0;
        m_readActive = true;
        SendReadRecord();
    }
}

void DibalEmulator::SendReadRecord() {
    if (m_readIndex >= m_reading.size()) {
        m_readActive = false;
        return;
    }
    RecordFault f = RecordFault::None;
    if (!m_recordFaults.empty()) {
        f = m_recordFaults.front();
        m_recordFaults.pop_front();
    }
    Bytes frame = PlainFrame(m_reading[m_readIndex]);
    switch (f) {
    case RecordFault::None: Send(frame); break;
    case RecordFault::BadCheck:
        frame.back() = static_cast<uint8_t>(frame.back() + 1);
        Send(frame);
        break;
    case RecordFault::MissingEtx:
        frame.resize(frame.size() - 2);
        Send(frame);
        break;
    case RecordFault::StrayByte: Send(Bytes{'Z'}); break;
    case RecordFault::Garbage: Send(Garbage(8, Bytes{STX, ETX})); break;
    case RecordFault::Silence: m_readActive = false; break;
    }
}

void DibalEmulator::OnReceive(const uint8_t* data, size_t n) {
    std::lock_guard<std::mutex> lk(m_mu);
    m_buf.append(reinterpret_cast<const char*>(data), n);
    while (!m_buf.empty()) {
        const uint8_t b = static_cast<uint8_t>(m_buf[0]);
        if (b == STX || b == SOH) {
            const size_t need = b == STX ? kPlainLength : kAddressedLength;
            if (m_buf.size() < need) return;
            const std::string frame = m_buf.substr(0, need);
            m_buf.erase(0, need);
            const size_t head = b == STX ? 0 : 5;
            if (b == SOH && (frame.substr(3, 2) != "80" || frame[5] != STX ||
                             std::atoi(frame.substr(1, 2).c_str()) != m_address || !m_addressed))
                continue;   // not for this scale: no answer
            const std::string body = frame.substr(head + 1, kRecord + 1);
            if (body.back() != static_cast<char>(ETX) ||
                Check(body) != static_cast<uint8_t>(frame[head + 1 + kRecord + 1])) {
                ++m_badFrames;
                Send(Bytes{NAK});
                continue;
            }
            HandleRecord(body.substr(0, kRecord), b == SOH);
        } else if (b == EOT) {
            if (m_buf.size() < 2) return;
            if (!IsDigit(m_buf[1])) {   // the end of a link
                m_buf.erase(0, 1);
                continue;
            }
            if (m_buf.size() < 4) return;
            const std::string poll = m_buf.substr(0, 4);
            m_buf.erase(0, 4);
            if (!m_addressed || poll[3] != static_cast<char>(BEL)) continue;
            if (std::atoi(poll.substr(1, 2).c_str()) == m_address + 1) {
                ++m_polls;
                Answer_(NextAnswer("poll", ""), BEL);
            }
        } else if (b == ENQ) {
            m_buf.erase(0, 1);
            ++m_enquiries;
            Answer_(NextAnswer("enq", ""), ACK);
        } else if (b == ACK || b == NAK) {
            m_buf.erase(0, 1);
            if (!m_readActive) continue;
            if (b == ACK) ++m_readIndex;
            SendReadRecord();
        } else {
            m_buf.erase(0, 1);
        }
    }
}

}  // namespace orv::test
