#include "sim/ncr/ncr_emulator.h"

#include <algorithm>
#include <cstdio>

namespace orv::test {

namespace {

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kEot = 0x04;
constexpr uint8_t kAck = 0x06;
constexpr uint8_t kDle = 0x10;
constexpr uint8_t kNak = 0x15;

const char* const kStart = "0;#P;#H;";
const char* const kNextStep = "XXXX:XX;#H;";
const char* const kDeptCommand = "0;*2;*F;*3";
const char* const kGoodsCommand = "0;*2;+4;*G;+1;*3";
const char* const kGoodsList = "0;*2;+4;&M1:999999999999;*3";
const char* const kSaleList = "0;*2;+2;*B1:10;#H;*3;";

uint8_t Check(const Bytes& bytes) {
    uint8_t x = 0;
    for (uint8_t b : bytes) x ^= b;
    return static_cast<uint8_t>((x & 0x7F) + 40);
}

std::vector<std::string> Split(const std::string& s) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        const size_t at = s.find(':', start);
        if (at == std::string::npos) {
            out.push_back(s.substr(start));
            return out;
        }
        out.push_back(s.substr(start, at - start));
        start = at + 1;
    }
}

std::string Block(const char* status, int index, const std::string& data, bool last) {
    char head[32];
    std::snprintf(head, sizeof head, "%s:%04X:%02d:", status, static_cast<unsigned>(index & 0xFFFF), index % 100);
    return head + data + (last ? ":0:0" : ":1:0");
}

}  // namespace

NcrEmulator::NcrEmulator(int port) : EmulatorBase(port) {}

NcrEmulator::~NcrEmulator() { Stop(); }

// ---------------------------------------------------------------- state

void NcrEmulator::SetStatusWords(uint32_t first, uint32_t second, uint32_t third) {
    std::lock_guard<std::mutex> lk(m_state);
    m_words[0] = first;
    m_words[1] = second;
    m_words[2] = third;
}

void NcrEmulator::SetStatusText(const std::string& whole) {
    std::lock_guard<std::mutex> lk(m_state);
    m_statusText = whole;
}

void NcrEmulator::SetBusyReplies(int n) {
    std::lock_guard<std::mutex> lk(m_state);
    m_busy = n;
}

void NcrEmulator::SetAskNextStep(bool on) {
    std::lock_guard<std::mutex> lk(m_state);
    m_askNext = on;
}

void NcrEmulator::SetContinues(int n) {
    std::lock_guard<std::mutex> lk(m_state);
    m_continues = n;
}

void NcrEmulator::AddPlu(const std::string& code, uint32_t hundredths, uint32_t dept, const std::string& nameCp852) {
    std::lock_guard<std::mutex> lk(m_state);
    Plu plu;
    plu.code = code;
    plu.price = std::to_string(hundredths);
    plu.dept = std::to_string(dept);
    plu.name = nameCp852;
    plu.name.resize(12, ' ');
    plu.text = plu.code + ":" + plu.price + ":" + plu.dept + ":" + plu.name + ":0:0:0:9:0:0:0";
    auto it = std::find_if(m_goods.begin(), m_goods.end(), [&](const Plu& p) { return p.code == code; });
    if (it != m_goods.end()) *it = plu;
    else m_goods.push_back(plu);
}

std::vector<NcrEmulator::Plu> NcrEmulator::Goods() const {
    std::lock_guard<std::mutex> lk(m_state);
    return m_goods;
}

std::optional<NcrEmulator::Plu> NcrEmulator::FindPlu(const std::string& code) const {
    std::lock_guard<std::mutex> lk(m_state);
    for (const Plu& p : m_goods)
        if (p.code == code) return p;
    return std::nullopt;
}

std::vector<std::string> NcrEmulator::Departments() const {
    std::lock_guard<std::mutex> lk(m_state);
    return m_depts;
}

void NcrEmulator::AddSale(const std::string& code, const std::string& quantity, const std::string& value) {
    std::lock_guard<std::mutex> lk(m_state);
    m_sales.push_back({code, quantity, value});
}

void NcrEmulator::RepeatBlock(int index) {
    std::lock_guard<std::mutex> lk(m_state);
    m_repeat.push_back(index);
}

void NcrEmulator::SetBlockData(int index, const std::string& data) {
    std::lock_guard<std::mutex> lk(m_state);
    m_blockData.emplace_back(index, data);
}

void NcrEmulator::ClearBlockFaults() {
    std::lock_guard<std::mutex> lk(m_state);
    m_repeat.clear();
    m_blockData.clear();
    m_blockReply.clear();
}

void NcrEmulator::SetBlockReply(int index, const std::string& text) {
    std::lock_guard<std::mutex> lk(m_state);
    m_blockReply.emplace_back(index, text);
}

void NcrEmulator::InjectReply(const std::string& request, const std::string& text) {
    std::lock_guard<std::mutex> lk(m_state);
    m_injected.emplace_back(request, text);
}

void NcrEmulator::NakFrames(int n) {
    std::lock_guard<std::mutex> lk(m_state);
    m_nakFrames = n;
}

void NcrEmulator::AnswerFramesWith(uint8_t byte, int n) {
    std::lock_guard<std::mutex> lk(m_state);
    m_otherByte = byte;
    m_otherAnswers = n;
}

void NcrEmulator::SpoilFrames(Spoil how, int n) {
    std::lock_guard<std::mutex> lk(m_state);
    m_spoil = how;
    m_spoilCount = n;
}

std::vector<std::string> NcrEmulator::Requests() const {
    std::lock_guard<std::mutex> lk(m_state);
    return m_requests;
}

void NcrEmulator::ClearRequests() {
    std::lock_guard<std::mutex> lk(m_state);
    m_requests.clear();
}

int NcrEmulator::CountRequests(const std::string& text) const {
    std::lock_guard<std::mutex> lk(m_state);
    return static_cast<int>(std::count(m_requests.begin(), m_requests.end(), text));
}

int NcrEmulator::NaksReceived() const {
    std::lock_guard<std::mutex> lk(m_state);
    return m_naks;
}

int NcrEmulator::DleReceived() const {
    std::lock_guard<std::mutex> lk(m_state);
    return m_dles;
}

int NcrEmulator::SequenceErrors() const {
    std::lock_guard<std::mutex> lk(m_state);
    return m_seqErrors;
}

int NcrEmulator::FramesSent() const {
    std::lock_guard<std::mutex> lk(m_state);
    return m_framesSent;
}

void NcrEmulator::SetRecording(bool on) {
    std::lock_guard<std::mutex> lk(m_state);
    m_recording = on;
}

// ----------------------------------------------------------------- link

void NcrEmulator::Out(const Bytes& bytes) { Send(bytes); }

Bytes NcrEmulator::Frame(const std::string& data, uint8_t sequence) {
    Bytes f = {kEot, static_cast<uint8_t>(data.size() + 0x2F), sequence, 0x20};
    f.insert(f.end(), data.begin(), data.end());
    f.push_back(kStx);
    f.push_back(Check(f));
    f.push_back(kEtx);
    ++m_framesSent;
    if (m_spoilCount > 0) {
        --m_spoilCount;
        switch (m_spoil) {
        case Spoil::BadCheck: f[f.size() - 2] = static_cast<uint8_t>(f[f.size() - 2] == 40 ? 41 : 40); break;
        case Spoil::FirstByte: f[0] = 'X'; break;
        case Spoil::OtherJob:
            f[3] = 0x21;
            f[f.size() - 2] = Check(Bytes(f.begin(), f.end() - 2));
            break;
        case Spoil::NoiseBefore: {
            Bytes noise = Garbage(6, {kEot, kEtx});
            f.insert(f.begin(), noise.begin(), noise.end());
            break;
        }
        case Spoil::Short: f.resize(f.size() / 2); break;
        }
    }
    return f;
}

std::string NcrEmulator::StatusText() const {
    if (!m_statusText.empty()) return m_statusText;
    std::string s = "A01:" + std::to_string(m_words[0]) + ":" + std::to_string(m_words[1]) + ":" +
                    std::to_string(m_words[2]) + ":NCR 7450  :0001:";
    if (s.size() < 50) s.append(50 - s.size(), '0');
    return s;
}

void NcrEmulator::SendNext() {
    if (m_pending || m_queue.empty()) return;
    std::string text = m_queue.front();
    m_queue.pop_front();
    m_seq = static_cast<uint8_t>(m_seq >= '9' ? '0' : m_seq + 1);
    m_pending = text;
    m_pendingSeq = m_seq;
    m_sentAny = true;
    Reply(Frame(text, m_seq));
}

void NcrEmulator::OnReceive(const uint8_t* data, size_t n) {
    std::lock_guard<std::mutex> lk(m_state);
    m_input.append(reinterpret_cast<const char*>(data), n);
    while (!m_input.empty()) {
        const uint8_t b = static_cast<uint8_t>(m_input[0]);
        if (b == kEot) {
            if (m_input.size() < 2) return;
            const uint8_t length = static_cast<uint8_t>(m_input[1]);
            if (length <= 0x2F) {
                m_input.erase(0, 1);
                Out({kNak});
                continue;
            }
            const size_t count = length - 0x2FU;
            const size_t total = count + 7;
            if (m_input.size() < total) return;
            const Bytes frame(m_input.begin(), m_input.begin() + static_cast<std::ptrdiff_t>(total));
            m_input.erase(0, total);
            const bool good = frame[total - 1] == kEtx && frame[count + 4] == kStx &&
                              frame[count + 5] == Check(Bytes(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(count + 5)));
            if (!good) {
                Out({kNak});
                continue;
            }
            TakeFrame(frame[2], std::string(frame.begin() + 4, frame.begin() + 4 + static_cast<std::ptrdiff_t>(count)));
            continue;
        }
        m_input.erase(0, 1);
        if (b == kAck) {
            m_pending.reset();
            SendNext();
        } else if (b == kNak) {
            ++m_naks;
            if (m_pending) Reply(Frame(*m_pending, m_pendingSeq));
        } else if (b == kDle) {
            ++m_dles;
            m_queue.clear();
            m_mode = Mode::Idle;
            m_seq = static_cast<uint8_t>(m_seq >= '9' ? '0' : m_seq + 1);
            m_pending = StatusText();
            m_pendingSeq = m_seq;
            m_sentAny = true;
            Reply(Frame(*m_pending, m_seq));
        }
        // Anything else is line noise.
    }
}

void NcrEmulator::TakeFrame(uint8_t sequence, const std::string& data) {
    if (m_nakFrames > 0) {
        --m_nakFrames;
        Out({kNak});
        return;
    }
    if (m_otherAnswers > 0) {
        --m_otherAnswers;
        Out({m_otherByte});
        return;
    }
    if (m_sentAny && sequence != m_seq) ++m_seqErrors;
    m_pending.reset();   // the host's frame acknowledges the register's last one
    if (m_recording) m_requests.push_back(data);
    Out({kAck});
    const size_t before = m_queue.size();
    Dispatch(data);
    for (auto it = m_injected.begin(); it != m_injected.end(); ++it) {
        if (it->first != data || m_queue.size() <= before) continue;
        m_queue[before] = it->second;
        m_injected.erase(it);
        break;
    }
    SendNext();
}

// ------------------------------------------------------------ dialogues

void NcrEmulator::QueueGoodsStep() {
    if (m_continuesLeft != 0) {
        if (m_continuesLeft > 0) --m_continuesLeft;
        m_queue.push_back("B23");
        return;
    }
    m_queue.push_back("B81");
}

void NcrEmulator::QueueList(bool sales) {
    if (m_continuesLeft != 0) {
        if (m_continuesLeft > 0) --m_continuesLeft;
        m_queue.push_back("B23");
        return;
    }
    std::vector<std::string> data;
    if (sales) {
        for (const Sale& s : m_sales) data.push_back(s.code + ":" + s.quantity + ":" + s.value + ":0");
    } else {
        for (const Plu& p : m_goods) data.push_back(p.code + ":" + p.price + ":" + p.dept + ":" + p.name + ":0:A");
    }
    for (const auto& [index, text] : m_blockData)
        if (index >= 0 && static_cast<size_t>(index) < data.size()) data[static_cast<size_t>(index)] = text;
    const char* status = sales ? "C04" : "C08";
    for (size_t i = 0; i < data.size(); ++i) {
        std::string block = Block(status, static_cast<int>(i), data[i], false);
        for (const auto& [index, text] : m_blockReply)
            if (index == static_cast<int>(i)) block = text;
        m_queue.push_back(block);
        if (std::find(m_repeat.begin(), m_repeat.end(), static_cast<int>(i)) != m_repeat.end()) m_queue.push_back(block);
    }
    std::string end = Block(status, static_cast<int>(data.size()), "*", true);
    for (const auto& [index, text] : m_blockReply)
        if (index == static_cast<int>(data.size())) end = text;
    m_queue.push_back(end);
}

void NcrEmulator::Dispatch(const std::string& data) {
    if (data == kStart) {
        for (int i = 0; i < m_busy; ++i) m_queue.push_back("C01");
        m_queue.push_back(m_askNext ? "B90" : "A01");
        m_mode = Mode::Idle;
        return;
    }
    if (data == kNextStep) return;   // the DLE that follows asks for the status
    if (data == kDeptCommand) {
        m_mode = Mode::Depts;
        m_queue.push_back("B80");
        return;
    }
    if (data == kGoodsCommand) {
        m_mode = Mode::GoodsIn;
        m_goodsText = false;
        m_continuesLeft = m_continues;
        QueueGoodsStep();
        if (m_queue.back() == "B81") m_goodsText = true;
        return;
    }
    if (data == kGoodsList || data == kSaleList) {
        m_mode = Mode::Lists;
        m_listSales = data == kSaleList;
        m_continuesLeft = m_continues;
        QueueList(m_listSales);
        return;
    }
    switch (m_mode) {
    case Mode::Depts:
        if (data == "*") {
            m_mode = Mode::Idle;
        } else {
            m_depts.push_back(data);
            m_queue.push_back("B80");
        }
        return;
    case Mode::GoodsIn:
        if (data == "0;") {
            QueueGoodsStep();
            if (m_queue.back() == "B81") m_goodsText = true;
        } else if (data == "*") {
            m_mode = Mode::Idle;
        } else if (m_goodsText) {
            m_goodsText = false;
            const std::vector<std::string> f = Split(data);
            Plu plu;
            plu.code = f[0];
            if (f.size() > 3) {
                plu.price = f[1];
                plu.dept = f[2];
                plu.name = f[3];
            }
            plu.text = data;
            auto it = std::find_if(m_goods.begin(), m_goods.end(), [&](const Plu& p) { return p.code == plu.code; });
            if (it != m_goods.end()) *it = plu;
            else m_goods.push_back(plu);
            m_queue.push_back("B81");
        }
        return;
    case Mode::Lists:
        if (data == "0" || data == "0;") QueueList(m_listSales);
        return;
    case Mode::Idle: return;
    }
}

}  // namespace orv::test
