#include "sim/posnet/perfekt_emulator.h"

#include <cstdio>
#include <cstdlib>

namespace orv::test {

namespace {

constexpr char kTab = '\t';
constexpr char kLf = '\n';
constexpr char kFe = static_cast<char>(0xFE);

// The field up to `term` from `pos` (which moves past the terminator);
// false when the terminator is missing.
bool Take(const std::string& s, size_t& pos, char term, std::string& out) {
    const size_t at = s.find(term, pos);
    if (at == std::string::npos) return false;
    out = s.substr(pos, at - pos);
    pos = at + 1;
    return true;
}

bool IsNumber(const std::string& s, bool allowBlanks = false) {
    size_t i = 0;
    if (allowBlanks)
        while (i < s.size() && s[i] == ' ') ++i;
    if (i < s.size() && s[i] == '-') ++i;
    if (i == s.size()) return false;
    for (; i < s.size(); ++i)
        if (s[i] < '0' || s[i] > '9') return false;
    return true;
}

}  // namespace

PerfektEmulator::PerfektEmulator(int port, int variant)
    : PosnetEmulator(port), m_variant(variant >= 1 && variant <= 4 ? variant : 1), m_dept(10) {
    m_vat = {"2300", "800", "500", "0", "10000", "10100", "10100"};
    m_status = std::string("0") + kFe + "1" + kFe + "1" + kFe + "0" + kFe + "0" + kFe + "0" + kFe + "0" + kLf +
               "ABC12345678" + kLf + "0" + kLf + "3.01" + kLf + "0\t0\t0\t0\t0\t0\t0\t";
}

PerfektEmulator::~PerfektEmulator() { Stop(); }

Bytes PerfektEmulator::Framed(const std::string& payload, uint8_t lead) { return FrameBytes(lead, payload); }

std::string PerfektEmulator::Refused(const std::string& command, int code) const {
    return "#Z" + command + std::to_string(code) + m_codeEnd;
}

// ---------------------------------------------------------------- state

void PerfektEmulator::SetPlu(uint32_t number, const PerfektEmuPlu& plu) {
    std::lock_guard<std::mutex> lk(m_state);
    m_plu[number] = plu;
}

std::optional<PerfektEmuPlu> PerfektEmulator::Plu(uint32_t number) const {
    std::lock_guard<std::mutex> lk(m_state);
    auto it = m_plu.find(number);
    if (it == m_plu.end()) return std::nullopt;
    return it->second;
}

size_t PerfektEmulator::PluCount() const {
    std::lock_guard<std::mutex> lk(m_state);
    return m_plu.size();
}

void PerfektEmulator::SetSale(uint32_t number, int64_t quantityThousandths, int64_t valueHundredths) {
    std::lock_guard<std::mutex> lk(m_state);
    PerfektEmuPlu& p = m_plu[number];
    p.quantity = quantityThousandths;
    p.value = valueHundredths;
}

void PerfektEmulator::SetDept(uint32_t number, const std::string& mazoviaName) {
    std::lock_guard<std::mutex> lk(m_state);
    if (number >= 1 && number <= 10) m_dept[number - 1] = mazoviaName;
}

std::string PerfektEmulator::Dept(uint32_t number) const {
    std::lock_guard<std::mutex> lk(m_state);
    return number >= 1 && number <= 10 ? m_dept[number - 1] : std::string();
}

void PerfektEmulator::SetVatFields(const std::vector<std::string>& fields) {
    std::lock_guard<std::mutex> lk(m_state);
    m_vat = fields;
}

void PerfektEmulator::SetStatusFields(const std::string& fields) {
    std::lock_guard<std::mutex> lk(m_state);
    m_status = fields;
}

std::vector<std::string> PerfektEmulator::Commands() const {
    std::vector<std::string> out;
    for (const Frame& f : Frames()) out.push_back(f.command + f.body);
    return out;
}

// ---------------------------------------------------------------- frames

void PerfektEmulator::OnReceive(const uint8_t* data, size_t n) {
    Bytes raw;
    while (NextFrame(data, n, 'R', raw)) {
        n = 0;
        Frame f;
        f.raw = raw;
        const std::string inner(f.raw.begin() + 2, f.raw.end() - 2);
        if (inner.size() < 4) {
            f.checksumOk = false;
        } else {
            const std::string payload = inner.substr(0, inner.size() - 2);
            f.checksumOk = Hex2(Checksum(payload)) == inner.substr(inner.size() - 2);
            f.command = payload.substr(0, 2);
            f.body = payload.substr(2);
        }
        Handle(f);
    }
}

void PerfektEmulator::Handle(const Frame& frame) {
    const int delay = Record(frame);
    Injection inj;
    const bool injected = TakeInjection(frame.command, inj);
    if (injected && inj.fault == Fault::HangUp) {
        pty().CloseMaster();
        return;
    }
    std::string payload;
    if (!frame.checksumOk) payload = Refused(frame.command, 74);
    else if (injected && inj.fault == Fault::Refuse) payload = Refused(frame.command, inj.arg);
    else if (injected && inj.fault == Fault::Raw) payload = inj.text;
    else payload = Answer(frame, injected && inj.fault == Fault::RepeatNext);

    Bytes out = Framed(payload);
    auto send = [&](const Bytes& bytes) { SendAnswer(bytes, delay); };
    if (!injected) {
        send(out);
        return;
    }
    switch (inj.fault) {
    case Fault::Silence: return;
    case Fault::Late: SendAfter(delay + inj.arg, out); return;
    case Fault::Noise: {
        Bytes noise = Garbage(static_cast<size_t>(inj.arg > 0 ? inj.arg : 8), {kEsc});
        noise.insert(noise.end(), out.begin(), out.end());
        send(noise);
        return;
    }
    case Fault::Unframed:
        out = {kEsc, 'R'};
        out.insert(out.end(), inj.text.begin(), inj.text.end());
        out.push_back(kEsc);
        out.push_back('\\');
        break;
    case Fault::WrongLead: out[1] = 'P'; break;
    case Fault::WrongEnd: out.back() = 'X'; break;
    case Fault::NoClosingEsc: out.resize(out.size() - 2); break;
    case Fault::Short: {
        Bytes s = {kEsc, 'R'};
        s.insert(s.end(), payload.begin(), payload.begin() + std::min<long>(inj.arg, static_cast<long>(payload.size())));
        s.push_back(kEsc);
        s.push_back('\\');
        out = s;
        break;
    }
    case Fault::Split: SendSplit(out, delay, inj.arg); return;
    default: break;
    }
    send(out);
}

// ---------------------------------------------------------------- answers

std::string PerfektEmulator::PluRecord(const PerfektEmuPlu& p) const {
    std::string r = p.name + kLf + p.code + kLf + p.price + kTab + std::to_string(p.quantity) + kTab;
    if (LongLayout()) {
        r += std::to_string(p.value) + kTab + p.flagA + kFe + p.flagB + kFe;
        if (m_variant == 4)
            for (const std::string& e : p.extra) r += e + kFe;
    }
    r += p.link + kFe + p.vat + kFe;
    return r;
}

std::string PerfektEmulator::Answer(const Frame& frame, bool repeatNext) {
    const std::string& c = frame.command;
    if (c == "$z") {
        std::lock_guard<std::mutex> lk(m_state);
        return "$Z" + m_status;
    }
    if (c == "$s") {
        std::lock_guard<std::mutex> lk(m_state);
        std::string r = "$S";
        for (const std::string& v : m_vat) r += v + kTab;
        return r;
    }
    if (c == "$r") return ReadRecord(frame.body);
    if (c == "$b") return Walk(frame.body, repeatNext);
    if (c == "#p") return Program(frame.body);
    if (c == "#d") return Delete(frame.body);
    return Refused(c, 76);
}

std::string PerfektEmulator::ReadRecord(const std::string& body) {
    size_t pos = 0;
    std::string kind, number;
    if (!Take(body, pos, kFe, kind) || !Take(body, pos, kTab, number) || !IsNumber(number) || pos != body.size())
        return Refused("$r", 3);
    const long n = std::strtol(number.c_str(), nullptr, 10);
    std::lock_guard<std::mutex> lk(m_state);
    if (kind == "5") {
        auto it = m_plu.find(static_cast<uint32_t>(n));
        if (n < 1 || it == m_plu.end()) return Refused("$r", 20);
        return "$R" + PluRecord(it->second);
    }
    if (kind == "7" && m_variant == 4) {
        if (n < 1 || n > 10 || m_dept[static_cast<size_t>(n - 1)].empty()) return Refused("$r", 111);
        return "$R" + m_dept[static_cast<size_t>(n - 1)] + kLf + "0" + kTab;
    }
    return Refused("$r", 4);
}

std::string PerfektEmulator::Walk(const std::string& body, bool repeatNext) {
    size_t pos = 0;
    std::string number;
    if (!Take(body, pos, kTab, number) || !IsNumber(number, true) || pos != body.size()) return Refused("$b", 3);
    const long n = std::strtol(number.c_str(), nullptr, 10);
    std::lock_guard<std::mutex> lk(m_state);
    if (m_plu.empty()) return Refused("$b", 0);
    auto it = n == 0 ? m_plu.begin() : m_plu.find(static_cast<uint32_t>(n));
    if (it == m_plu.end()) return Refused("$b", 20);
    auto following = std::next(it);
    const uint32_t next = repeatNext ? it->first : following == m_plu.end() ? 0 : following->first;
    return "$B" + PluRecord(it->second) + std::to_string(it->first) + kTab + std::to_string(next) + kTab;
}

std::string PerfektEmulator::Program(const std::string& body) {
    size_t pos = 0;
    std::string kind, option, number;
    if (!Take(body, pos, kFe, kind) || !Take(body, pos, kFe, option) || !Take(body, pos, kTab, number) ||
        !IsNumber(number) || (option != "0" && option != "1"))
        return Refused("#p", 3);
    const long n = std::strtol(number.c_str(), nullptr, 10);
    if (kind == "7") {
        std::string name, zero;
        if (m_variant != 4) return Refused("#p", 4);
        if (!Take(body, pos, kLf, name) || !Take(body, pos, kTab, zero) || pos != body.size() || name.size() != 16)
            return Refused("#p", 4);
        if (n < 1 || n > 10) return Refused("#p", 111);
        std::lock_guard<std::mutex> lk(m_state);
        m_dept[static_cast<size_t>(n - 1)] = name;
        return Refused("#p", 0);
    }
    if (kind != "5") return Refused("#p", 4);
    PerfektEmuPlu p;
    std::string zero;
    bool ok = Take(body, pos, kLf, p.name) && Take(body, pos, kLf, p.code) && Take(body, pos, kTab, p.price) &&
              Take(body, pos, kTab, zero) && zero == "0";
    if (ok && LongLayout()) {
        ok = Take(body, pos, kTab, zero) && zero == "0" && Take(body, pos, kFe, p.flagA) && Take(body, pos, kFe, p.flagB);
        if (ok && m_variant == 4)
            for (std::string& e : p.extra) ok = ok && Take(body, pos, kFe, e);
    }
    ok = ok && Take(body, pos, kFe, p.link) && Take(body, pos, kFe, p.vat) && pos == body.size();
    if (!ok || p.name.size() != 16 || p.code.size() != 13) return Refused("#p", 4);
    if (!IsNumber(p.price)) return Refused("#p", 19);
    if (!IsNumber(p.vat)) return Refused("#p", 39);
    if (!IsNumber(p.link)) return Refused("#p", 4);
    if (n < 1 || n > 999999) return Refused("#p", 49);
    std::lock_guard<std::mutex> lk(m_state);
    m_plu[static_cast<uint32_t>(n)] = p;   // counters start at zero
    return Refused("#p", 0);
}

std::string PerfektEmulator::Delete(const std::string& body) {
    size_t pos = 0;
    std::string kind, number;
    if (!Take(body, pos, kFe, kind) || !Take(body, pos, kTab, number) || !IsNumber(number) || pos != body.size() ||
        kind != "5")
        return Refused("#d", 3);
    std::lock_guard<std::mutex> lk(m_state);
    if (m_plu.erase(static_cast<uint32_t>(std::strtol(number.c_str(), nullptr, 10))) == 0) return Refused("#d", 49);
    return Refused("#d", 0);
}

}  // namespace orv::test
