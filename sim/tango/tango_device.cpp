#include "sim/tango/tango_device.h"

#include <algorithm>
#include <cstdio>

namespace orv::test {

namespace {

constexpr int kKey = 18;
constexpr int kMaxRepeats = 10;

std::string Digits(uint64_t v, int width) {
    std::string s = std::to_string(v);
    if (static_cast<int>(s.size()) < width) s.insert(0, static_cast<size_t>(width) - s.size(), '0');
    return s.substr(s.size() - static_cast<size_t>(width));
}

std::string PadLeft(const std::string& s, size_t width, char pad) {
    if (s.size() >= width) return s.substr(0, width);
    return std::string(width - s.size(), pad) + s;
}

std::string PadRight(const std::string& s, size_t width, char pad = ' ') {
    if (s.size() >= width) return s.substr(0, width);
    return s + std::string(width - s.size(), pad);
}

std::string Trim(const std::string& s) {
    size_t a = s.find_first_not_of(' ');
    if (a == std::string::npos) return std::string();
    size_t b = s.find_last_not_of(' ');
    return s.substr(a, b - a + 1);
}

// A code as the 18-byte field: trimmed, left-padded with blanks.
std::string CodeField(const std::string& code) { return PadLeft(Trim(code), kKey, ' '); }

uint64_t Number(const std::string& s) {
    uint64_t v = 0;
    for (char c : s)
        if (c >= '0' && c <= '9') v = v * 10 + static_cast<uint64_t>(c - '0');
    return v;
}

bool IsTaxLetter(char c) { return std::string("ABCDEFZ").find(c) != std::string::npos; }

std::string Hex4(unsigned v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04X", v & 0xFFFFu);
    return buf;
}

}  // namespace

TangoDevice::TangoDevice() = default;

void TangoDevice::SetSink(Sink sink) {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_sink = std::move(sink);
}

uint16_t TangoDevice::Checksum(const std::string& covered) {
    uint32_t sum = 0;
    for (size_t i = 0; i < covered.size(); ++i) sum ^= static_cast<uint32_t>(static_cast<uint8_t>(covered[i])) << (i % 9);
    return static_cast<uint16_t>(sum);
}

std::string TangoDevice::BuildFrame(char type, const std::string& body, uint8_t terminator) {
    std::string covered = std::string(1, type) + body + static_cast<char>(terminator);
    return std::string(1, static_cast<char>(STX)) + covered + Hex4(Checksum(covered));
}

std::string TangoDevice::MakeGoodsRecord(const GoodsFields& f) {
    std::string r;
    r += CodeField(f.code);
    r += "00000";
    r += PadRight(f.name, 40);
    r += Digits(f.price, 10);
    r += f.tax;
    r += Digits(static_cast<uint64_t>(f.digit), 1);
    r += Hex4(f.flags);
    r += Digits(static_cast<uint64_t>(f.dept), 2);
    r += Digits(static_cast<uint64_t>(f.number2), 2);
    r += CodeField(f.code2);
    r += Digits(static_cast<uint64_t>(f.unit), 2);
    r += std::string(20, ' ');
    r += "000";
    return r;
}

// ---------------------------------------------------------------- faults and log

void TangoDevice::QueueFault(Fault fault, int count, int arg, const std::string& text) {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_faults.push_back({fault, count, arg, text});
}

void TangoDevice::ClearFaults() {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_faults.clear();
}

void TangoDevice::SetSegmented(bool on) {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_segmented = on;
}

void TangoDevice::SetFrameHook(std::function<void(const Frame&)> hook) {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_hook = std::move(hook);
}

bool TangoDevice::TakeFault(Fault f, int* arg, std::string* text) {
    if (m_faults.empty() || m_faults.front().fault != f) return false;
    QueuedFault& q = m_faults.front();
    if (arg) *arg = q.arg;
    if (text) *text = q.text;
    if (--q.count <= 0) m_faults.pop_front();
    return true;
}

std::vector<TangoDevice::Frame> TangoDevice::Frames() const {
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_frames;
}

std::vector<std::string> TangoDevice::Requests() const {
    std::lock_guard<std::mutex> lk(m_mutex);
    std::vector<std::string> out;
    for (const Frame& f : m_frames)
        if (f.type == 'S') out.push_back(f.body);
    return out;
}

int TangoDevice::EnqCount() const {
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_enqs;
}

int TangoDevice::NakCount() const {
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_naks;
}

void TangoDevice::SetRecording(bool on) {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_recording = on;
}

void TangoDevice::ClearLog() {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_frames.clear();
    m_enqs = 0;
    m_naks = 0;
}

// ---------------------------------------------------------------- state

void TangoDevice::PutGoods(const std::string& record126) {
    std::lock_guard<std::mutex> lk(m_mutex);
    const std::string key = record126.substr(0, kKey);
    GoodsEntry& e = m_goods[key];
    if (e.number == 0) e.number = m_nextNumber++;
    e.record = record126;
}

bool TangoDevice::HasGoods(const std::string& code) const {
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_goods.count(CodeField(code)) != 0;
}

std::string TangoDevice::GoodsRecord(const std::string& code) const {
    std::lock_guard<std::mutex> lk(m_mutex);
    auto it = m_goods.find(CodeField(code));
    return it == m_goods.end() ? std::string() : it->second.record;
}

uint32_t TangoDevice::GoodsNumber(const std::string& code) const {
    std::lock_guard<std::mutex> lk(m_mutex);
    auto it = m_goods.find(CodeField(code));
    return it == m_goods.end() ? 0 : it->second.number;
}

size_t TangoDevice::GoodsCount() const {
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_goods.size();
}

void TangoDevice::PutDept(const std::string& record39) {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_depts[static_cast<uint32_t>(Number(record39.substr(2, 2)))] = record39;
}

std::string TangoDevice::DeptRecord(uint32_t number) const {
    std::lock_guard<std::mutex> lk(m_mutex);
    auto it = m_depts.find(number);
    return it == m_depts.end() ? std::string() : it->second;
}

void TangoDevice::PutUnit(uint32_t number, const std::string& name852) {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_units[number] = Digits(number, 2) + PadRight(name852, 14);
}

std::string TangoDevice::UnitRecord(uint32_t number) const {
    std::lock_guard<std::mutex> lk(m_mutex);
    auto it = m_units.find(number);
    return it == m_units.end() ? std::string() : it->second;
}

void TangoDevice::SetTaxTable(const std::vector<std::string>& entries) {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_tax = entries;
    m_tax.resize(7, "FFFF");
}

void TangoDevice::SetStatusText(const std::string& text10) {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_status = PadRight(text10, 10);
}

void TangoDevice::SetMoreStatus(const std::string& a4, const std::string& b4, const std::string& c5) {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_more[0] = PadRight(a4, 4);
    m_more[1] = PadRight(b4, 4);
    m_more[2] = PadRight(c5, 5);
}

void TangoDevice::SetSales(const std::vector<Sale>& sales) {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_sales = sales;
}

size_t TangoDevice::SaleCount() const {
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_sales.size();
}

void TangoDevice::SetPositions(const std::vector<Sale>& positions) {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_positions = positions;
}

// ---------------------------------------------------------------- output

void TangoDevice::Out(const Bytes& bytes, int delayMs) {
    if (!m_sink || bytes.empty()) return;
    if (!m_segmented) {
        m_sink(bytes, delayMs);
        return;
    }
    size_t i = 0;
    int piece = 0;
    while (i < bytes.size()) {
        const size_t n = std::min(bytes.size() - i, static_cast<size_t>(1 + piece++ % 3));
        m_sink(Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(i), bytes.begin() + static_cast<std::ptrdiff_t>(i + n)),
               i == 0 ? delayMs : 0);
        i += n;
    }
}

// ---------------------------------------------------------------- input

void TangoDevice::ResetLine() {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_state = State::Idle;
    m_inFrame = false;
    m_raw.clear();
    m_complete = false;
    m_replies.clear();
}

void TangoDevice::Feed(const uint8_t* data, size_t n) {
    std::lock_guard<std::mutex> lk(m_mutex);
    for (size_t i = 0; i < n; ++i) OnByte(data[i]);
}

void TangoDevice::OnByte(uint8_t b) {
    if (m_inFrame) {
        m_raw += static_cast<char>(b);
        if (m_tail < 0) {
            if (b == ETX || b == ETB) m_tail = 4;
            return;
        }
        if (--m_tail == 0) {
            m_inFrame = false;
            m_tail = -1;
            OnPcFrame(m_raw);
        }
        return;
    }
    if (b == ENQ) {
        OnEnq();
        return;
    }
    switch (m_state) {
    case State::Idle:
        if (b == EOT && m_lastEnqTab) {
            m_lastEnqTab = false;
            Out(EOT);
        }
        return;
    case State::PcTurn:
        if (b == STX) {
            m_inFrame = true;
            m_raw.clear();
            m_tail = -1;
        } else if (b == EOT) {
            if (m_complete) {
                StartReply();
            } else {
                // The PC gave up its turn.
                m_state = State::Idle;
                Out(EOT);
            }
        } else if (b == NAK) {
            ++m_naks;
        }
        return;
    case State::DevAsk:
        if (b == ACK) SendNextFrame();
        else if (b == EOT) m_state = State::Idle;
        return;
    case State::DevFrame:
        if (b == ACK) {
            SendNextFrame();
        } else if (b == NAK) {
            ++m_naks;
            if (++m_repeats > kMaxRepeats) {
                m_state = State::Idle;
                return;
            }
            SendCurrentFrame(true);
        } else if (b == EOT) {
            m_state = State::Idle;
        }
        return;
    case State::DevEnd:
        if (b == EOT) m_state = State::Idle;
        return;
    }
}

void TangoDevice::OnEnq() {
    ++m_enqs;
    // A new turn: whatever was under way is forgotten.
    m_state = State::Idle;
    m_lastEnqTab = false;
    if (TakeFault(Fault::EnqTab)) {
        m_lastEnqTab = true;
        Out(TAB);
        return;
    }
    if (TakeFault(Fault::EnqAt)) {
        Out(AT);
        return;
    }
    if (TakeFault(Fault::EnqGarbage)) {
        Out(static_cast<uint8_t>('x'));
        return;
    }
    if (TakeFault(Fault::EnqSilence)) return;
    m_state = State::PcTurn;
    m_request.clear();
    m_complete = false;
    m_replies.clear();
    Out(ACK);
}

void TangoDevice::OnPcFrame(const std::string& raw) {
    // raw: type, body, terminator, four checksum digits.
    if (m_state != State::PcTurn || raw.size() < 6) return;
    const std::string covered = raw.substr(0, raw.size() - 4);
    const std::string digits = raw.substr(raw.size() - 4);
    unsigned value = 0;
    if (std::sscanf(digits.c_str(), "%4x", &value) != 1 || value != Checksum(covered)) {
        Out(NAK);
        return;
    }
    Frame f;
    f.type = covered[0];
    f.body = covered.substr(1, covered.size() - 2);
    if (m_recording) m_frames.push_back(f);
    if (m_hook) m_hook(f);   // before the answer

    int arg = 0;
    std::string text;
    if (TakeFault(Fault::FrameNak)) {
        Out(NAK);
        return;
    }
    if (TakeFault(Fault::FrameAt, &arg, &text)) {
        Refuse(arg, text);
        return;
    }
    if (TakeFault(Fault::FrameGarbage, &arg)) {
        Out(Bytes(static_cast<size_t>(arg > 0 ? arg : 1), static_cast<uint8_t>('?')));
        return;
    }
    if (TakeFault(Fault::FrameSilence)) return;
    if (TakeFault(Fault::FrameTabs, &arg)) {
        Out(Bytes(static_cast<size_t>(arg > 0 ? arg : 1), TAB));
        return;
    }
    Process(f);
}

void TangoDevice::Refuse(int code, const std::string& body) {
    m_replies.assign(1, body.empty() ? ErrorStatus(code) : body);
    m_complete = true;
    Out(AT);
}

std::string TangoDevice::ErrorStatus(int code) const { return Hex4(static_cast<unsigned>(code)) + std::string(36, ' '); }

void TangoDevice::Process(const Frame& f) {
    if (m_complete) {   // a frame after the request was done: repeat taken
        Out(ACK);
        return;
    }
    if (f.type == 'S') {
        HandleRequest(f.body);
    } else if (!m_request.empty()) {
        HandleRecord(f.body);
    } else {
        Refuse(102);
    }
}

// ---------------------------------------------------------------- turns of the register

void TangoDevice::StartReply() {
    m_next = 0;
    if (TakeFault(Fault::NoEnq)) {
        m_state = State::Idle;
        return;
    }
    m_state = State::DevAsk;
    Out(ENQ);
}

void TangoDevice::SendNextFrame() {
    if (m_next == 0 && TakeFault(Fault::Reset)) {
        m_state = State::Idle;
        return;
    }
    if (m_next >= m_replies.size()) {
        m_state = State::DevEnd;
        if (TakeFault(Fault::NoEot)) return;
        Out(EOT);
        return;
    }
    const bool last = m_next + 1 == m_replies.size();
    m_current = BuildFrame(last ? 'S' : 'D', m_replies[m_next], last ? ETX : ETB);
    ++m_next;
    m_repeats = 0;
    m_state = State::DevFrame;
    SendCurrentFrame(false);
}

void TangoDevice::SendCurrentFrame(bool clean) {
    Bytes frame(m_current.begin(), m_current.end());
    if (clean) {
        Out(frame);
        return;
    }
    int arg = 0;
    if (TakeFault(Fault::ReplyEot)) {
        m_state = State::DevEnd;
        Out(EOT);
        return;
    }
    if (TakeFault(Fault::ReplySilence)) return;
    if (TakeFault(Fault::ReplyGarbage, &arg)) {
        // Garbage instead of the frame: the PC's NAK brings the frame.
        Out(Bytes(static_cast<size_t>(arg > 0 ? arg : 1), static_cast<uint8_t>('#')));
        return;
    }
    if (TakeFault(Fault::ReplyTabs, &arg)) Out(Bytes(static_cast<size_t>(arg), TAB));
    if (TakeFault(Fault::ReplyBadChecksum)) {
        frame.back() = frame.back() == '0' ? '1' : '0';
    } else if (TakeFault(Fault::ReplyLowerCase)) {
        for (size_t i = frame.size() - 4; i < frame.size(); ++i)
            if (frame[i] >= 'A' && frame[i] <= 'F') frame[i] = static_cast<uint8_t>(frame[i] - 'A' + 'a');
    }
    if (TakeFault(Fault::ReplyShort, &arg)) frame.resize(frame.size() - std::min(frame.size(), static_cast<size_t>(arg)));
    int delay = 0;
    if (TakeFault(Fault::ReplyLate, &arg)) delay = arg;
    Out(frame, delay);
}

// ---------------------------------------------------------------- requests

std::vector<std::string> TangoDevice::GoodsInRange(const std::string& from, const std::string& to) const {
    std::vector<std::string> out;
    for (const auto& [key, e] : m_goods)
        if (key >= from && key <= to) out.push_back(GoodsReply(key));
    return out;
}

std::string TangoDevice::GoodsReply(const std::string& key) const {
    const GoodsEntry& e = m_goods.at(key);
    std::string rec = e.record;
    rec.replace(18, 5, Digits(e.number, 5));
    return "I#000" + rec;
}

void TangoDevice::SetNumberStyle(NumberStyle style) {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_numbers = style;
}

std::string TangoDevice::Styled(uint64_t v, int width) const {
    switch (m_numbers) {
    case NumberStyle::Blanks: return PadLeft(std::to_string(v), static_cast<size_t>(width), ' ');
    case NumberStyle::Signed: return "+" + Digits(v, width - 1);
    default: return Digits(v, width);
    }
}

std::string TangoDevice::ReportLine(char report, const Sale& s) const {
    std::string r(1, report);
    r += CodeField(s.code);
    r += Digits(s.plu, 5);
    r += PadRight(s.name, 40);
    r += Styled(s.quantity, 14);
    r += Styled(s.value, 14);
    if (report == 'd') r += std::string(25, ' ');
    return r;
}

std::string TangoDevice::PositionRecord(const Sale& s) const {
    std::string r = Digits(s.position, 6);
    r += Digits(s.plu, 5);
    r += CodeField(s.code);
    r += PadRight(s.name, 20);
    r += Styled(s.quantity, 11);
    r += Styled(s.value, 10);
    if (!s.text.empty()) r += PadRight(s.text, 32) + std::string(17, ' ');
    return r;
}

void TangoDevice::HandleRequest(const std::string& body) {
    m_request.clear();
    m_replies.clear();
    auto done = [&](std::vector<std::string> replies) {
        m_replies = std::move(replies);
        m_complete = true;
        Out(ACK);
    };
    auto awaitRecord = [&] {
        m_request = body;
        Out(ACK);
    };
    if (body.empty()) return Refuse(102);
    const char code = body[0];
    const bool table = body.size() == 41 && body[1] == '#';
    if (!table && body.size() != 38) return Refuse(102);
    const char sub = table ? body[4] : body[1];
    const std::string key1 = table ? body.substr(5, kKey) : body.substr(2, kKey);
    const std::string key2 = table ? body.substr(23, kKey) : body.substr(20, kKey);
    const std::string tableId = table ? body.substr(2, 2) : std::string();

    switch (code) {
    case 'M': return done({"M" + m_status});
    case 'e': return done({"e" + m_more[0] + m_more[1] + m_more[2]});
    case '0': {
        std::string r = "0";
        for (const std::string& t : m_tax) r += PadRight(t, 4);
        return done({r});
    }
    case 'H': {
        if (sub == '1') return awaitRecord();
        std::vector<std::string> out;
        const uint64_t from = Number(key1), to = Number(key2);
        for (const auto& [n, rec] : m_depts)
            if (n >= from && n <= to) out.push_back(rec);
        return done(out);
    }
    case 'I':
        if (table && tableId == "00" && sub == '0') return done(GoodsInRange(key1, key2));
        if (table && tableId == "01" && sub == '0') {
            std::vector<std::string> out;
            const uint64_t from = Number(key1), to = Number(key2);
            for (const auto& [n, rec] : m_units)
                if (n >= from && n <= to) out.push_back(Styled(n, 2) + rec.substr(2));
            return done(out);
        }
        if (table && tableId == "01" && sub == '1') return awaitRecord();
        if (!table && sub == '1') return awaitRecord();
        return Refuse(102);
    case 'h':
        if (!table && sub == '1') return awaitRecord();
        return Refuse(102);
    case 'd':
    case 'U': {
        if (sub != '0' && sub != '2') return Refuse(102);
        std::vector<std::string> out;
        for (const Sale& s : m_sales) {
            const std::string field = CodeField(s.code);
            if (field >= key1 && field <= key2) out.push_back(ReportLine(code, s));
        }
        // Clearing: the second report is read first, the PLU report clears.
        if (sub == '2' && code == 'd') m_sales.clear();
        return done(out);
    }
    case 'O': {
        std::vector<std::string> out;
        for (const Sale& s : m_positions) out.push_back(PositionRecord(s));
        return done(out);
    }
    default: return Refuse(102);
    }
}

std::string TangoDevice::FromShortRecord(const std::string& r) const {
    // The Tango register's goods write: code, name (18), price, tax letter,
    // digit, five flag bytes, two 2-digit numbers, second code.
    GoodsFields f;
    f.code = r.substr(0, 18);
    f.name = r.substr(18, 18);
    f.price = Number(r.substr(36, 10));
    f.tax = r[46];
    f.digit = r[47] - '0';
    const std::string bits = r.substr(48, 5);
    uint16_t flags = 0;
    if (bits[0] == '1') flags |= 0x10;
    if (bits[1] == '1') flags |= 0x08;
    if (bits[2] == '1') flags |= 0x04;
    if (bits[3] == '1') flags |= 0x02;
    if (bits[4] == '1') flags |= 0x01;
    f.flags = flags;
    f.dept = static_cast<int>(Number(r.substr(53, 2)));
    f.number2 = static_cast<int>(Number(r.substr(55, 2)));
    f.code2 = r.substr(57, 18);
    f.unit = 1;
    return MakeGoodsRecord(f);
}

void TangoDevice::HandleRecord(const std::string& body) {
    const std::string request = m_request;
    m_request.clear();
    const char code = request[0];
    const bool table = request[1] == '#';
    const std::string key = table ? request.substr(5, kKey) : request.substr(2, kKey);
    auto accept = [&] {
        m_replies.clear();
        m_complete = true;
        Out(ACK);
    };
    switch (code) {
    case 'H':
        if (body.size() != 39 || !IsTaxLetter(body[32])) return Refuse(body.size() != 39 ? 103 : 9);
        m_depts[static_cast<uint32_t>(Number(body.substr(2, 2)))] = body;
        return accept();
    case 'h': {
        std::string rec;
        if (body.size() == 126) rec = body;
        else if (body.size() == 75) rec = FromShortRecord(body);
        else return Refuse(103);
        if (!IsTaxLetter(rec[73])) return Refuse(9);
        if (rec.substr(0, kKey) != key) return Refuse(8);
        GoodsEntry& e = m_goods[key];
        if (e.number == 0) e.number = m_nextNumber++;
        e.record = rec;
        return accept();
    }
    case 'I':
        if (table) {
            if (body.size() != 18 || body.substr(0, 2) != "I#") return Refuse(103);
            m_units[static_cast<uint32_t>(Number(body.substr(2, 2)))] = body.substr(2);
            return accept();
        }
        if (body.size() != 126) return Refuse(103);
        if (m_goods.erase(key) == 0) return Refuse(8);
        return accept();
    default: return Refuse(102);
    }
}

}  // namespace orv::test
