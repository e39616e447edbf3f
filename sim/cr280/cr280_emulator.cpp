#include "sim/cr280/cr280_emulator.h"

#include <algorithm>
#include <cstdio>

namespace orv::test {

namespace {
constexpr uint8_t kStx = 0x02, kEtx = 0x03, kEot = 0x04, kEnq = 0x05, kAck = 0x06, kDle = 0x10, kNak = 0x15;

std::string Num(uint64_t v, int width) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*llu", width, static_cast<unsigned long long>(v));
    return std::string(buf).substr(0, static_cast<size_t>(width));
}

std::string Fit(const std::string& s, size_t width) {
    std::string r = s.substr(0, width);
    r.resize(width, ' ');
    return r;
}

// A code without the blanks and leading zeros around it.
std::string Bare(const std::string& code) {
    size_t b = code.find_first_not_of(" 0");
    size_t e = code.find_last_not_of(' ');
    return b == std::string::npos ? std::string() : code.substr(b, e - b + 1);
}

uint64_t Value(const std::string& s) {
    uint64_t v = 0;
    for (char c : s)
        if (c >= '0' && c <= '9') v = v * 10 + static_cast<uint64_t>(c - '0');
    return v;
}
}  // namespace

Cr280Emulator::Cr280Emulator(int port, Mode mode) : EmulatorBase(port), m_mode(mode) {}

Bytes Cr280Emulator::Frame(const std::string& letter, const std::string& text) {
    Bytes f{kStx};
    uint8_t x = 0;
    for (char c : letter + text) {
        f.push_back(static_cast<uint8_t>(c));
        x ^= static_cast<uint8_t>(c);
    }
    f.push_back(kEtx);
    x ^= kEtx;
    f.push_back(x);
    return f;
}

std::string Cr280Emulator::GoodsRecord(const std::string& code, const Cr280EmuItem& item) {
    return "P0" + Fit(code, 13) + Fit(item.dept, 2) + Fit(item.vatFlag, 4) + Num(item.price, 8) + Fit(item.name, 12) +
           Num(item.quantity, 4) + Num(item.value, 10);
}

std::string Cr280Emulator::DeptRecord(uint32_t number, const Cr280EmuDept& dept) {
    return "D00" + Num(number, 2) + Fit(dept.name, 12) + Num(dept.value, 8) + Fit(dept.field, 2) +
           Fit(dept.vatFlag, 4);
}

std::string Cr280Emulator::HidaGoodsRecord(const std::string& code, const Cr280EmuItem& item) {
    return "01U0" + Fit(code, 13) + Fit(item.name, 12) + Fit(item.dept, 2) + Num(item.price, 8) +
           Fit(item.vatFlag, 4) + Num(item.linked, 4);
}

std::string Cr280Emulator::HidaDeptRecord(uint32_t number, const Cr280EmuDept& dept) {
    return "01T" + Num(number, 2) + Fit(dept.name, 12) + Num(dept.value, 8) + Fit(dept.field, 2) +
           Fit(dept.vatFlag, 4);
}

// ---- state ----

void Cr280Emulator::SetItem(const std::string& code, const Cr280EmuItem& item) {
    std::lock_guard<std::mutex> lk(m_state);
    m_items[code] = item;
}
bool Cr280Emulator::HasItem(const std::string& code) const {
    std::lock_guard<std::mutex> lk(m_state);
    return m_items.count(code) != 0;
}
Cr280EmuItem Cr280Emulator::Item(const std::string& code) const {
    std::lock_guard<std::mutex> lk(m_state);
    auto it = m_items.find(code);
    return it == m_items.end() ? Cr280EmuItem{} : it->second;
}
void Cr280Emulator::SetDept(uint32_t number, const Cr280EmuDept& dept) {
    std::lock_guard<std::mutex> lk(m_state);
    m_depts[number] = dept;
}
void Cr280Emulator::SetRawDepartments(const std::vector<std::string>& records) {
    std::lock_guard<std::mutex> lk(m_state);
    m_rawDepts = records;
}
void Cr280Emulator::SetRawSaleLines(int pass, const std::vector<std::string>& lines) {
    std::lock_guard<std::mutex> lk(m_state);
    m_rawSales[pass == 2 ? 1 : 0] = lines;
}
std::vector<uint32_t> Cr280Emulator::DeptNumbers() const {
    std::lock_guard<std::mutex> lk(m_state);
    std::vector<uint32_t> numbers;
    for (const auto& kv : m_depts) numbers.push_back(kv.first);
    return numbers;
}
Cr280EmuDept Cr280Emulator::Dept(uint32_t number) const {
    std::lock_guard<std::mutex> lk(m_state);
    auto it = m_depts.find(number);
    return it == m_depts.end() ? Cr280EmuDept{} : it->second;
}
std::vector<std::string> Cr280Emulator::Records() const {
    std::lock_guard<std::mutex> lk(m_state);
    return m_records;
}
int Cr280Emulator::FramesReceived() const {
    std::lock_guard<std::mutex> lk(m_state);
    return m_frames;
}
int Cr280Emulator::EotsReceived() const {
    std::lock_guard<std::mutex> lk(m_state);
    return m_eots;
}
int Cr280Emulator::EnqsReceived() const {
    std::lock_guard<std::mutex> lk(m_state);
    return m_enqs;
}
void Cr280Emulator::ClearLog() {
    {
        std::lock_guard<std::mutex> lk(m_state);
        m_records.clear();
        m_frames = m_eots = m_enqs = 0;
    }
    ClearReceived();
}
void Cr280Emulator::QueueAnswer(const Bytes& bytes) {
    std::lock_guard<std::mutex> lk(m_state);
    m_answers.push_back(bytes);
}
void Cr280Emulator::QueueTurnRecord(const Bytes& bytes) {
    std::lock_guard<std::mutex> lk(m_state);
    m_turnFaults.push_back(bytes);
}
void Cr280Emulator::QueueLinkAnswer(const Bytes& bytes) {
    std::lock_guard<std::mutex> lk(m_state);
    m_linkAnswers.push_back(bytes);
}
void Cr280Emulator::QueueStatus(int code) {
    std::lock_guard<std::mutex> lk(m_state);
    m_answers.push_back(Bytes{kDle, '@'});
    m_statusCodes.push_back(code);
}

// ---- receiving ----

void Cr280Emulator::OnReceive(const uint8_t* data, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        const uint8_t b = data[i];
        if (m_inFrame) {
            m_buffer.push_back(b);
            if (m_needCheck) {
                Bytes frame;
                frame.swap(m_buffer);
                m_inFrame = m_needCheck = false;
                HandleFrame(frame);
            } else if (b == kEtx) {
                m_needCheck = true;
            } else if (m_buffer.size() > 80) {
                m_buffer.clear();
                m_inFrame = false;
            }
            continue;
        }
        // In its turn the register waits for the PC's ACK, NAK or EOT and
        // takes nothing else (a request, an ENQ) for an answer.
        if (m_turn != Turn::None && b != kAck && b != kNak && b != kEot) continue;
        switch (b) {
        case kStx:
            m_buffer.assign(1, b);
            m_inFrame = true;
            break;
        case kEot: {
            {
                std::lock_guard<std::mutex> lk(m_state);
                ++m_eots;
            }
            if (m_mode == Mode::Hida && m_turn == Turn::None) {
                HidaEot();
            } else if (m_turn != Turn::None) {   // the PC ends the register's turn
                m_turn = Turn::None;
                m_out.clear();
            } else if (!m_accepted.empty()) {
                CarryOut();
            } else if (m_refused) {       // the PC gives up a record: confirmed
                m_refused = false;
                Send(Bytes{kEot});
            }
            break;
        }
        case kEnq:
            {
                std::lock_guard<std::mutex> lk(m_state);
                ++m_enqs;
            }
            if (m_mode == Mode::Hida)
                HidaEnq();
            else
                Answer(Bytes{kAck}, false);
            break;
        case kAck:
            if (m_turn == Turn::WaitAck || m_turn == Turn::Sending) {
                m_turn = Turn::Sending;
                SendTurnRecord();
            }
            break;
        case kNak:
            if (m_turn == Turn::Sending && !m_lastSent.empty()) {
                Bytes fault;
                bool haveFault = false;
                {
                    std::lock_guard<std::mutex> lk(m_state);
                    if (!m_turnFaults.empty()) {
                        fault = m_turnFaults.front();
                        m_turnFaults.pop_front();
                        haveFault = true;
                    }
                }
                if (!haveFault)
                    Send(m_lastSent);
                else if (!fault.empty())
                    Send(fault);
            }
            break;
        default: break;
        }
    }
}

void Cr280Emulator::HandleFrame(const Bytes& frame) {
    // STX [letter] text ETX check
    uint8_t x = 0;
    for (size_t i = 1; i + 1 < frame.size(); ++i) x ^= frame[i];
    {
        std::lock_guard<std::mutex> lk(m_state);
        ++m_frames;
    }
    if (x != frame.back()) {
        m_refused = true;
        Send(Bytes{kNak});
        return;
    }
    const size_t skip = m_mode == Mode::Cr280 ? 1 : 2;
    std::string text(frame.begin() + static_cast<long>(std::min(skip, frame.size() - 2)), frame.end() - 2);
    {
        std::lock_guard<std::mutex> lk(m_state);
        m_records.push_back(text);
    }
    if (m_mode == Mode::Hida) {
        HidaFrame(frame.size() > 3 ? frame[1] : 0, text);
        return;
    }
    m_accepted = text;
    Answer(Bytes{kAck}, true);
}

Bytes Cr280Emulator::NextAnswer(const Bytes& normal) {
    std::lock_guard<std::mutex> lk(m_state);
    if (m_answers.empty()) return normal;
    Bytes out = m_answers.front();
    m_answers.pop_front();
    return out;
}

std::string Cr280Emulator::TurnLetter() const {
    switch (m_mode) {
    case Mode::Optimus: return "R";
    case Mode::Hida: return "D";
    default: return "";
    }
}

void Cr280Emulator::Answer(const Bytes& normal, bool fromPc) {
    Bytes out = NextAnswer(normal);
    const bool replaced = out != normal;
    // A record answered with anything but ACK or DLE 0x2C was not taken.
    const bool accepted = !replaced || out == Bytes{kDle, 0x2C};
    if (fromPc && !accepted) m_accepted.clear();
    if (fromPc) m_refused = !accepted;
    if (replaced && out.size() >= 2 && out[0] == kDle && out[1] == 0x40) {
        // An error follows in the register's turn after the PC's EOT.
        m_accepted = "\x01";
        m_refused = false;
    }
    if (!out.empty()) Send(out);
}

void Cr280Emulator::CarryOut() {
    const std::string c = m_accepted;
    m_accepted.clear();
    std::deque<std::string> out;
    {
        std::lock_guard<std::mutex> lk(m_state);
        if (c == "\x01") {
            out.push_back("E0000" + Num(13, 2) + "000000");
        } else if (c == "Zp") {
            for (auto& kv : m_items) kv.second.quantity = kv.second.value = 0;
            return;
        } else if (c.size() == 41 && c.compare(0, 2, "P0") == 0) {
            Cr280EmuItem item;
            item.dept = c.substr(15, 2);
            // Sent as "VVFF", kept and reported as the VAT digit and the flag digit.
            item.vatFlag = std::string(1, c[18]) + "0" + std::string(1, c[20]) + "0";
            item.price = Value(c.substr(21, 8));
            item.name = c.substr(29, 12);
            auto it = m_items.find(c.substr(2, 13));
            if (it != m_items.end()) {
                item.quantity = it->second.quantity;
                item.value = it->second.value;
            }
            m_items[c.substr(2, 13)] = item;
            return;
        } else if (c.size() == 28 && (c.compare(0, 2, "p0") == 0 || c.compare(0, 2, "p1") == 0)) {
            const std::string from = Bare(c.substr(2, 13)), to = Bare(c.substr(15, 13));
            const bool all = from == "1" && to == "9999999999999";
            for (const auto& kv : m_items) {
                if (!all && Bare(kv.first) != from) continue;
                if (c[1] == '1' && kv.second.quantity == 0 && kv.second.value == 0) continue;
                out.push_back(GoodsRecord(kv.first, kv.second));
            }
        } else if (c == "d") {
            for (const auto& kv : m_depts) out.push_back(DeptRecord(kv.first, kv.second));
            for (const auto& r : m_rawDepts) out.push_back(r);
        } else {
            return;
        }
    }
    StartTurn(out);
}

void Cr280Emulator::StartTurn(const std::deque<std::string>& out) {
    m_out = out;
    m_turn = Turn::WaitAck;
    m_lastSent.clear();
    Send(Bytes{kEnq});
}

void Cr280Emulator::SendTurnRecord() {
    const std::string letter = TurnLetter();
    if (m_out.empty()) {
        m_turn = Turn::None;
        m_lastSent.clear();
        Send(Bytes{kEot});
        return;
    }
    const std::string next = m_out.front();
    m_out.pop_front();
    m_lastSent = Frame(letter, next);
    Bytes fault;
    bool haveFault = false;
    {
        std::lock_guard<std::mutex> lk(m_state);
        if (!m_turnFaults.empty()) {
            fault = m_turnFaults.front();
            m_turnFaults.pop_front();
            haveFault = true;
        }
    }
    if (!haveFault) {
        Send(m_lastSent);
        return;
    }
    if (fault == Bytes{kEot}) {   // the register ends its turn early
        m_turn = Turn::None;
        m_out.clear();
    }
    if (!fault.empty()) Send(fault);   // a NAK brings the good record
}

// ---- the Hida ----

void Cr280Emulator::HidaEnq() {
    // The PC opens the link (a job, or again when asked for).
    Bytes out{kAck};
    {
        std::lock_guard<std::mutex> lk(m_state);
        if (!m_linkAnswers.empty()) {
            out = m_linkAnswers.front();
            m_linkAnswers.pop_front();
        }
    }
    m_refused = out != Bytes{kAck};
    if (!out.empty()) Send(out);
}

void Cr280Emulator::HidaFrame(uint8_t letter, const std::string& text) {
    const Bytes out = NextAnswer(Bytes{kAck});
    if (out.size() >= 2 && out[0] == kDle && out[1] == '@') {
        // The block is refused with a status; the job is dropped.
        {
            std::lock_guard<std::mutex> lk(m_state);
            m_status = m_statusCodes.empty() ? 0 : m_statusCodes.front();
            if (!m_statusCodes.empty()) m_statusCodes.pop_front();
        }
        m_job.clear();
        m_refused = false;
    } else if (out == Bytes{kAck} || out == Bytes{kDle, 0x2C}) {
        if (letter == 'S') m_job.clear();   // a header starts a job
        m_job.push_back(text);
        m_refused = false;
    } else {
        m_refused = true;
    }
    if (!out.empty()) Send(out);
}

void Cr280Emulator::HidaEot() {
    if (m_status >= 0) {
        const int code = m_status;
        m_status = -1;
        StartTurn({"0101E" + Num(static_cast<uint64_t>(code), 2) + "000000"});
        return;
    }
    if (m_refused) {   // the PC gives up: confirmed
        m_refused = false;
        m_job.clear();
        Send(Bytes{kEot});
        return;
    }
    if (!m_job.empty()) HidaCarryOut();
}

void Cr280Emulator::HidaCarryOut() {
    std::vector<std::string> job;
    job.swap(m_job);
    const std::string& h = job[0];
    if (h.size() != 39) {
        Send(Bytes{kEot});
        return;
    }
    const char letter = h[4], kind = h[5], flag = h[32];
    const std::string from = h.substr(6, 13);
    const std::string data = job.size() > 1 ? job.back() : std::string();
    std::deque<std::string> out;
    {
        std::lock_guard<std::mutex> lk(m_state);
        if (letter == 'U' && kind == '1' && data.size() == 47) {
            const std::string code = data.substr(4, 13);
            if (data[3] == '2') {
                m_items.erase(code);
            } else {
                Cr280EmuItem item;
                auto it = m_items.find(code);
                if (it != m_items.end()) item = it->second;   // its sales stay
                item.name = data.substr(17, 12);
                item.dept = data.substr(29, 2);
                item.price = Value(data.substr(31, 8));
                item.vatFlag = data.substr(39, 4);
                item.linked = static_cast<uint32_t>(Value(data.substr(43, 4)));
                m_items[code] = item;
            }
        } else if (letter == 'T' && kind == '1' && data.size() == 31) {
            Cr280EmuDept dept;
            dept.name = data.substr(5, 12);
            dept.value = Value(data.substr(17, 8));
            dept.field = data.substr(25, 2);
            dept.vatFlag = data.substr(27, 4);
            m_depts[static_cast<uint32_t>(Value(data.substr(3, 2)))] = dept;
        } else if (letter == 'c' && kind == '2') {
            for (auto& kv : m_items) kv.second.quantity = kv.second.value = 0;
            m_rawSales[0].clear();
            m_rawSales[1].clear();
        } else if (letter == 'U' && kind == '0') {
            for (const auto& kv : m_items)
                if (flag == '1' || kv.first == from) out.push_back(HidaGoodsRecord(kv.first, kv.second));
        } else if (letter == 'T' && kind == '0') {
            for (const auto& kv : m_depts) out.push_back(HidaDeptRecord(kv.first, kv.second));
            for (const auto& r : m_rawDepts) out.push_back(r);
        } else if (letter == 'c' && kind == '0') {
            for (const auto& kv : m_items) {
                if (kv.second.quantity == 0 && kv.second.value == 0) continue;
                out.push_back("01c" + Fit(kv.first, 13) + "0" + Num(kv.second.quantity, 7) + "0" +
                              Num(kv.second.value, 9));
            }
            for (const auto& r : m_rawSales[0]) out.push_back(r);
        } else if (letter == 'd' && kind == '0') {
            for (const auto& r : m_rawSales[1]) out.push_back(r);
        }
    }
    // A read opens the register's turn (an empty one is ENQ, then EOT); any
    // other job is confirmed with EOT.
    if (kind == '0')
        StartTurn(out);
    else
        Send(Bytes{kEot});
}

}  // namespace orv::test
