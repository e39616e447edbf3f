#include "sim/posnet/posnet_ecr_emulator.h"

#include <algorithm>
#include <cstdio>

namespace orv::test {

namespace {

constexpr char kCr = '\r';

int HexValue(const std::string& s) {
    if (s.size() != 2) return -1;
    int v = 0;
    for (char c : s) {
        v *= 16;
        if (c >= '0' && c <= '9') v += c - '0';
        else if (c >= 'A' && c <= 'F') v += c - 'A' + 10;
        else return -1;
    }
    return v;
}

std::string Fields(const std::vector<std::string>& fields) {
    std::string r;
    for (const std::string& f : fields) r += f + kCr;
    return r;
}

}  // namespace

PosnetEcrEmulator::PosnetEcrEmulator(int port) : PosnetEmulator(port) {}

PosnetEcrEmulator::~PosnetEcrEmulator() { Stop(); }

Bytes PosnetEcrEmulator::Framed(const std::string& command, int sequence, const std::string& data) {
    return FrameBytes('P', command + Hex2(sequence) + kCr + data);
}

void PosnetEcrEmulator::SetRecord(uint32_t number, const PosnetEcrEmuRecord& record) {
    std::lock_guard<std::mutex> lk(m_state);
    m_records[number] = record;
    m_positionValid = false;
}

void PosnetEcrEmulator::ClearRecords() {
    std::lock_guard<std::mutex> lk(m_state);
    m_records.clear();
    m_positionValid = false;
}

void PosnetEcrEmulator::SetMask(uint32_t mask) {
    std::lock_guard<std::mutex> lk(m_state);
    m_mask = mask;
}

void PosnetEcrEmulator::SetRecordFields(size_t n) {
    std::lock_guard<std::mutex> lk(m_state);
    m_recordFields = n;
}

void PosnetEcrEmulator::SetReportedCount(const std::string& text) {
    std::lock_guard<std::mutex> lk(m_state);
    m_reportedCount = text;
}

void PosnetEcrEmulator::SetRates(const std::vector<std::string>& sixRates, const std::string& lastIndex) {
    std::lock_guard<std::mutex> lk(m_state);
    m_rates = sixRates;
    m_rates.resize(6, "0.00");
    m_lastRate = lastIndex;
}

std::vector<std::string> PosnetEcrEmulator::Commands() const {
    std::vector<std::string> out;
    for (const Frame& f : Frames()) out.push_back(f.command + Hex2(f.sequence));
    return out;
}

void PosnetEcrEmulator::OnReceive(const uint8_t* data, size_t n) {
    Bytes raw;
    while (NextFrame(data, n, 'P', raw)) {
        n = 0;
        Frame f;
        f.raw = raw;
        const std::string inner(f.raw.begin() + 2, f.raw.end() - 2);
        if (inner.size() < 7 || inner[4] != kCr) {
            f.checksumOk = false;
        } else {
            const std::string body = inner.substr(0, inner.size() - 2);
            f.checksumOk = Hex2(Checksum(body)) == inner.substr(inner.size() - 2);
            f.command = body.substr(0, 2);
            f.sequence = HexValue(body.substr(2, 2));
            f.data = body.substr(5);
        }
        Handle(f);
    }
}

std::string PosnetEcrEmulator::Answer(const Frame& frame) {
    std::lock_guard<std::mutex> lk(m_state);
    const std::string& c = frame.command;
    if (c == ",a") {
        m_positionValid = false;
        return Fields({"0", "1", "0"});
    }
    if (c == "*a") {
        std::vector<std::string> f = {"0", "1", "1"};
        for (int i = 0; i < 10; ++i) f.push_back("0");
        f.insert(f.end(), m_rates.begin(), m_rates.end());
        f.push_back(m_lastRate);
        return Fields(f);
    }
    if (c == "*b") {
        const std::string count = m_reportedCount.empty() ? std::to_string(m_records.size()) : m_reportedCount;
        return Fields({"0", "1", count, "0", std::to_string(m_mask), "0", "0"});
    }
    if (c == "(k" || c == "(l") {
        if (c == "(k" || !m_positionValid) {
            m_position = m_records.begin();
            m_positionValid = true;
        } else if (m_position != m_records.end()) {
            ++m_position;
        }
        if (m_position == m_records.end()) return Fields({"91"});
        const PosnetEcrEmuRecord& r = m_position->second;
        std::vector<std::string> f = {std::to_string(m_position->first), r.name, r.vat, r.barcode, r.price, r.flagA,
                                      r.flagB, r.dept, r.extra, r.value, r.quantity};
        if (m_recordFields > 0 && m_recordFields < f.size()) f.resize(m_recordFields);
        f.insert(f.begin(), "0");
        return Fields(f);
    }
    return Fields({"76"});
}

void PosnetEcrEmulator::Handle(const Frame& frame) {
    const int delay = Record(frame);
    if (!frame.checksumOk) return;   // a spoilt frame is not answered

    Injection inj;
    const bool injected = TakeInjection(frame.command, inj);
    if (injected && inj.fault == Fault::HangUp) {
        pty().CloseMaster();
        return;
    }
    std::string data = Answer(frame);
    int sequence = frame.sequence;
    std::string reply = frame.command;
    if (reply.size() == 2 && reply[1] >= 'a' && reply[1] <= 'z') reply[1] = static_cast<char>(reply[1] - 'a' + 'A');
    if (injected) {
        switch (inj.fault) {
        case Fault::WrongSequence: sequence = (sequence + 1) % 256; break;
        case Fault::MissingCr: data = "0" + std::string(1, kCr); break;
        case Fault::Status: data = Fields({std::to_string(inj.arg)}); break;
        case Fault::Raw: data = inj.text; break;
        default: break;
        }
    }
    Bytes out = Framed(reply, sequence, data);
    if (injected && inj.fault == Fault::MissingCr) {
        out = FrameBytes('P', reply + Hex2(sequence) + data);   // the data right after the sequence
    }
    if (injected && inj.fault == Fault::BadChecksum) out[out.size() - 3] ^= 0x01;
    if (injected && inj.fault == Fault::WrongLead) out[1] = 'R';
    if (injected && inj.fault == Fault::WrongEnd) out.back() = 'X';
    if (injected && inj.fault == Fault::NoClosingEsc) out.resize(out.size() - 2);
    auto send = [&](const Bytes& bytes) { SendAnswer(bytes, delay); };
    if (!injected) {
        send(out);
        return;
    }
    switch (inj.fault) {
    case Fault::Silence: return;
    case Fault::Late: SendAfter(delay + inj.arg, out); return;
    case Fault::Garbage: send(Garbage(static_cast<size_t>(inj.arg > 0 ? inj.arg : 8), {kEsc})); return;
    case Fault::Split: SendSplit(out, delay, inj.arg); return;
    default: send(out); return;
    }
}

}  // namespace orv::test
