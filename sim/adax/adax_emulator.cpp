#include "sim/adax/adax_emulator.h"

#include <sys/ioctl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace orv::test {

namespace {
constexpr uint8_t kStart = 0x03, kEnd = 0x04;

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos) return std::string();
    size_t e = s.find_last_not_of(' ');
    return s.substr(b, e - b + 1);
}

bool Digits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string Num(int64_t v, int width) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*lld", width, static_cast<long long>(v));
    return buf;
}

std::string RightAligned(const std::string& s, size_t width) {
    return s.size() >= width ? s.substr(0, width) : std::string(width - s.size(), ' ') + s;
}

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}
}  // namespace

AdaxEmulator::AdaxEmulator(int port) : EmulatorBase(port) {
    m_depts = {"OGOLNY", "PIECZYWO", "NABIAL"};
    m_lastActivity = NowMs();
    m_ticker = std::thread([this] { Tick(); });
}

AdaxEmulator::~AdaxEmulator() {
    {
        std::lock_guard<std::mutex> lk(m_state);
        m_stop = true;
    }
    m_cv.notify_all();
    if (m_ticker.joinable()) m_ticker.join();
    Stop();
}

Bytes AdaxEmulator::Frame(int seq, const std::string& text) {
    Bytes f;
    f.push_back(kStart);
    f.push_back(static_cast<uint8_t>((text.size() + 38) & 0xFF));
    f.push_back(static_cast<uint8_t>((seq & 15) + 0x20));
    f.insert(f.end(), text.begin(), text.end());
    unsigned s = 0;
    for (uint8_t b : f) s += b;
    f.push_back(static_cast<uint8_t>(((s >> 6) & 63) + 32));
    f.push_back(static_cast<uint8_t>((s & 63) + 32));
    f.push_back(kEnd);
    return f;
}

// ---- settings and state ----

void AdaxEmulator::SetIdlePeriod(int ms) {
    std::lock_guard<std::mutex> lk(m_state);
    m_idleMs = ms;
}

void AdaxEmulator::SetItem(const std::string& code, const AdaxEmuItem& item) {
    std::lock_guard<std::mutex> lk(m_state);
    if (!m_items.count(code)) m_itemOrder.push_back(code);
    m_items[code] = item;
}

bool AdaxEmulator::HasItem(const std::string& code) const {
    std::lock_guard<std::mutex> lk(m_state);
    return m_items.count(code) != 0;
}

AdaxEmuItem AdaxEmulator::Item(const std::string& code) const {
    std::lock_guard<std::mutex> lk(m_state);
    auto it = m_items.find(code);
    return it == m_items.end() ? AdaxEmuItem{} : it->second;
}

size_t AdaxEmulator::ItemCount() const {
    std::lock_guard<std::mutex> lk(m_state);
    return m_items.size();
}

void AdaxEmulator::SetDepartments(const std::vector<std::string>& names) {
    std::lock_guard<std::mutex> lk(m_state);
    m_depts = names;
}

bool AdaxEmulator::SessionOpen() const {
    std::lock_guard<std::mutex> lk(m_state);
    return m_session;
}

std::vector<std::string> AdaxEmulator::Commands() const {
    std::lock_guard<std::mutex> lk(m_state);
    return m_commands;
}

std::vector<Bytes> AdaxEmulator::Frames() const {
    std::lock_guard<std::mutex> lk(m_state);
    return m_frames;
}

int AdaxEmulator::BadFrames() const {
    std::lock_guard<std::mutex> lk(m_state);
    return m_bad;
}

void AdaxEmulator::ClearLog() {
    {
        std::lock_guard<std::mutex> lk(m_state);
        m_commands.clear();
        m_frames.clear();
        m_bad = 0;
    }
    ClearReceived();
}

bool AdaxEmulator::WaitForCommands(size_t n, int timeoutMs) const {
    std::unique_lock<std::mutex> lk(m_state);
    return m_cv.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return m_commands.size() >= n; });
}

void AdaxEmulator::QueueLateAnswer(int noiseMs, int answerMs) {
    std::lock_guard<std::mutex> lk(m_state);
    m_faults.push_back(Fault::Late);
    m_late.emplace_back(noiseMs, answerMs);
}

void AdaxEmulator::QueueAnswerFault(Fault fault) {
    std::lock_guard<std::mutex> lk(m_state);
    m_faults.push_back(fault);
}

void AdaxEmulator::SetCommandHook(std::function<void(const std::string&)> hook) {
    std::lock_guard<std::mutex> lk(m_state);
    m_hook = std::move(hook);
}

// ---- the ready frame ----

void AdaxEmulator::Tick() {
    std::unique_lock<std::mutex> lk(m_state);
    while (!m_stop) {
        m_cv.wait_for(lk, std::chrono::milliseconds(5));
        if (m_stop) break;
        const int64_t now = NowMs();
        if (m_idleMs <= 0 || m_streaming || m_waiting || now - m_lastActivity < m_idleMs) continue;
        // Bytes the emulator thread has not taken yet are a command on its way.
        int pending = 0;
        const int master = pty().master();
        if (master >= 0 && ioctl(master, FIONREAD, &pending) == 0 && pending > 0) continue;
        m_lastActivity = now;
        const int seq = m_seq;
        lk.unlock();
        Send(Frame(seq, kReady));
        lk.lock();
    }
}

// ---- receiving ----

void AdaxEmulator::OnReceive(const uint8_t* data, size_t n) {
    {
        std::lock_guard<std::mutex> lk(m_state);
        m_lastActivity = NowMs();
    }
    for (size_t i = 0; i < n; ++i) {
        const uint8_t b = data[i];
        if (b == kStart) {
            m_buffer.assign(1, b);   // a new frame begins
            continue;
        }
        if (m_buffer.empty()) continue;
        m_buffer.push_back(b);
        if (b == kEnd) {
            Bytes frame;
            frame.swap(m_buffer);
            HandleFrame(frame);
        } else if (m_buffer.size() > 70) {
            m_buffer.clear();
        }
    }
}

void AdaxEmulator::HandleFrame(const Bytes& frame) {
    // 03 length sequence text high low 04
    bool good = frame.size() >= 6;
    std::string text;
    if (good) {
        text.assign(frame.begin() + 3, frame.end() - 3);
        unsigned s = 0;
        for (size_t i = 0; i + 3 < frame.size(); ++i) s += frame[i];
        good = frame[1] == ((text.size() + 38) & 0xFF) && frame[frame.size() - 3] == ((s >> 6) & 63) + 32 &&
               frame[frame.size() - 2] == (s & 63) + 32 && frame[2] >= 0x20 && frame[2] <= 0x2F;
    }
    std::function<void(const std::string&)> hook;
    {
        std::lock_guard<std::mutex> lk(m_state);
        if (!good) {
            ++m_bad;
            return;
        }
        m_commands.push_back(text);
        m_frames.push_back(frame);
        m_seq = (frame[2] - 0x20 + 1) & 15;
        hook = m_hook;
    }
    m_cv.notify_all();
    if (hook) hook(text);

    Bytes out;
    std::pair<int, int> late{-1, -1};
    {
        std::lock_guard<std::mutex> lk(m_state);
        bool answer = true;
        bool fromStream = false;
        std::string reply = Handle(text, answer);
        fromStream = m_streaming && (text.empty() || text == "*X8" || text == "*XE");
        Fault fault = Fault::None;
        if (answer && !m_faults.empty()) {
            fault = m_faults.front();
            m_faults.pop_front();
        }
        if (fault == Fault::Endless) {
            m_endless = true;
            fault = Fault::None;
        }
        if (fault == Fault::Error || fault == Fault::Ready) {
            if (fromStream) m_stream.push_front(reply);
            reply = fault == Fault::Error ? kError : kReady;
            fault = Fault::None;
        }
        // After an answer the PC cannot take the register waits for the
        // next command (no ready frame would do as the answer).
        m_waiting = fault == Fault::Silence || fault == Fault::BadChecksum || fault == Fault::NoEnd ||
                    fault == Fault::Short;
        if (answer && fault != Fault::Silence) {
            out = Frame(m_seq, reply);
            switch (fault) {
            case Fault::BadChecksum: out[out.size() - 2] = static_cast<uint8_t>(out[out.size() - 2] == 32 ? 33 : 32); break;
            case Fault::NoEnd:   // the frame runs on instead of ending
                out.back() = 'X';
                out.insert(out.end(), 64, 'X');
                break;
            case Fault::Junk: {
                Bytes junk = Garbage(6, Bytes{kStart, kEnd});
                out.insert(out.begin(), junk.begin(), junk.end());
                break;
            }
            case Fault::Short: out = Frame(m_seq, ""); break;
            case Fault::Late:
                if (!m_late.empty()) {
                    late = m_late.front();
                    m_late.pop_front();
                }
                break;
            default: break;
            }
        }
    }
    if (late.second >= 0) {
        SendAfter(late.first, Garbage(1, Bytes{kStart, kEnd}));
        SendAfter(late.second, out);
    } else if (!out.empty()) {
        Send(out);
    }
    std::lock_guard<std::mutex> lk(m_state);
    m_lastActivity = NowMs();
}

// ---- commands ----

std::string AdaxEmulator::Record(const std::string& tag, const std::string& data) {
    return "ADAX" + Num(++m_counter % 1000000, 6) + "S" + "0001" + tag + data;
}

std::string AdaxEmulator::Handle(const std::string& c, bool& answer) {
    if (c.empty()) {
        if (!m_streaming) return "OK";
        if (m_endless) return Record("X30", RightAligned("E" + Num(m_counter, 6), 13) + "  " + Num(1000, 10));
        if (m_stream.empty()) {
            m_streaming = false;   // the end answer was acknowledged
            answer = false;
            return std::string();
        }
        std::string next = m_stream.front();
        m_stream.pop_front();
        return next;
    }
    // Any command ends a stream.
    m_streaming = false;
    m_endless = false;
    m_stream.clear();
    if (c != "*SZZk" && c != "*SK" && c != "*S2020Q" && c != "*Si") m_clearStep = 0;

    if (c == "*I" || c == "*SZZi" || c == "*U" || c == "*LI" || c == "*SKZi") return "OK";
    if (c == "*P") {
        m_session = true;
        return "OK";
    }
    if (c == "*SZ") {
        m_session = false;
        m_mode = 0;
        return "OK";
    }
    if (c == "*SZZl11Q" || c == "*SZZl12Q" || c == "*SZZl13Q") {
        m_mode = 10 + (c[6] - '0');
        return "OK";
    }
    if (c == "*SZi") {
        m_mode = 0;
        return "OK";
    }
    if (c == "*SZZk" || c == "*SK" || c == "*S2020Q" || c == "*Si") {
        static const char* order[] = {"*SZZk", "*SK", "*S2020Q", "*Si"};
        m_clearStep = c == order[m_clearStep] ? m_clearStep + 1 : (c == order[0] ? 1 : 0);
        if (m_clearStep == 4) {
            for (auto& kv : m_items) kv.second.soldQuantity = kv.second.soldValue = 0;
            m_clearStep = 0;
        }
        return "OK";
    }
    if (c.rfind("*WH0", 0) == 0 && c.size() == 31 && Digits(c.substr(17, 10)) && c.substr(27) == "0000") {
        const std::string code = Trim(c.substr(4, 13));
        if (code.empty()) return kError;
        if (!m_items.count(code)) m_itemOrder.push_back(code);
        m_items[code].price = std::stoull(c.substr(17, 10));
        m_lastCode = code;
        return "OK";
    }
    if (c.rfind("*WH1", 0) == 0 && c.size() == 24 && c[23] == '9') {
        auto it = m_items.find(m_lastCode);
        if (it == m_items.end()) return kError;
        it->second.name = c.substr(4, 18);
        it->second.dept = static_cast<uint8_t>(c[22]);
        return "OK";
    }
    if (c.rfind("*S", 0) == 0 && EndsWith(c, "R0B") && c.size() > 5) {
        const std::string code = c.substr(2, c.size() - 5);
        if (!m_items.erase(code)) return kError;
        m_itemOrder.erase(std::remove(m_itemOrder.begin(), m_itemOrder.end(), code), m_itemOrder.end());
        return "OK";
    }
    if (c.rfind("*S", 0) == 0 && EndsWith(c, "R") && c.size() > 3) {
        const std::string code = c.substr(2, c.size() - 3);
        if (!m_items.count(code)) return kError;
        m_selected = code;
        return "OK";
    }
    if (c.rfind("*S", 0) == 0 && EndsWith(c, "Q") && c.find(',') != std::string::npos) {
        const std::string price = c.substr(2, c.size() - 3);
        const size_t comma = price.find(',');
        const std::string whole = price.substr(0, comma), cents = price.substr(comma + 1);
        auto it = m_items.find(m_selected);
        if (it == m_items.end() || !Digits(whole) || cents.size() != 2 || !Digits(cents)) return kError;
        it->second.price = std::stoull(whole) * 100 + std::stoull(cents);
        return "OK";
    }
    if (c == "*X8" || c == "*XE") {
        if (c == "*X8") {
            for (const std::string& code : m_itemOrder) {
                const AdaxEmuItem& item = m_items[code];
                m_stream.push_back(Record("X30", RightAligned(code, 13) + "  " + Num(item.soldQuantity, 10)));
                m_stream.push_back(Record("X31", RightAligned(code, 13) + "  " + Num(item.soldValue, 10)));
            }
        } else {
            for (size_t d = 0; d < m_depts.size(); ++d) {
                std::string name = m_depts[d].substr(0, 18);
                name.resize(18, ' ');
                m_stream.push_back(Record("X20", Num(static_cast<int64_t>(d + 1), 2) + name));
            }
        }
        m_stream.push_back("ADAX" + Num(++m_counter % 1000000, 6) + "S" + "0000" + "XF ");
        m_streaming = true;
        std::string first = m_stream.front();
        m_stream.pop_front();
        return first;
    }
    return kError;
}

}  // namespace orv::test
