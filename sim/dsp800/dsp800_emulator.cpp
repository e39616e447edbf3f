#include "sim/dsp800/dsp800_emulator.h"

#include <cstdio>

namespace orv::test {

namespace {
constexpr uint8_t kEsc = 0x1B, kCr = 0x0D, kAck = 0x06, kNak = 0x15;
constexpr uint32_t kCapacity = 500;

// The value of a field of digits, right-aligned with blanks; -1 otherwise.
long long Field(const std::string& s) {
    long long v = 0;
    bool digit = false;
    for (char c : s) {
        if (c == ' ' && !digit) continue;
        if (c < '0' || c > '9') return -1;
        v = v * 10 + (c - '0');
        digit = true;
    }
    return digit ? v : -1;
}
}  // namespace

Dsp800Emulator::Dsp800Emulator(int port) : EmulatorBase(port) {}

std::string Dsp800Emulator::ReplyText(uint32_t number, const Dsp800EmuItem& item) {
    char head[8];
    std::snprintf(head, sizeof head, "%3u", number % 1000);
    char price[16];
    std::snprintf(price, sizeof price, "%06u", item.price % 1000000);
    std::string name = item.name.substr(0, 20);
    name.resize(20, ' ');
    std::string code = item.code.substr(0, 7);
    code.resize(7, ' ');
    return std::string("? ") + head + " " + name + " " + price + " " + std::string(1, item.vat) + " " + code + " " +
           "\r";
}

void Dsp800Emulator::SetItem(uint32_t number, const Dsp800EmuItem& item) {
    std::lock_guard<std::mutex> lk(m_state);
    m_items[number] = item;
}

bool Dsp800Emulator::HasItem(uint32_t number) const {
    std::lock_guard<std::mutex> lk(m_state);
    return m_items.count(number) != 0;
}

Dsp800EmuItem Dsp800Emulator::Item(uint32_t number) const {
    std::lock_guard<std::mutex> lk(m_state);
    auto it = m_items.find(number);
    return it == m_items.end() ? Dsp800EmuItem{} : it->second;
}

std::vector<Bytes> Dsp800Emulator::Requests() const {
    std::lock_guard<std::mutex> lk(m_state);
    return m_requests;
}

void Dsp800Emulator::ClearLog() {
    {
        std::lock_guard<std::mutex> lk(m_state);
        m_requests.clear();
    }
    ClearReceived();
}

void Dsp800Emulator::QueueReplyFault(ReplyFault fault, uint8_t byte) {
    std::lock_guard<std::mutex> lk(m_state);
    m_faults.emplace_back(fault, byte);
}

void Dsp800Emulator::OnReceive(const uint8_t* data, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        const uint8_t b = data[i];
        if (b == kEsc) {
            m_buffer.assign(1, b);
            continue;
        }
        if (m_buffer.empty()) continue;
        m_buffer.push_back(b);
        if (b == kCr) {
            Bytes request;
            request.swap(m_buffer);
            Handle(request);
        } else if (m_buffer.size() > 80) {
            m_buffer.clear();
        }
    }
}

void Dsp800Emulator::Handle(const Bytes& request) {
    // ESC command blank data CR
    const std::string data = request.size() >= 4 ? std::string(request.begin() + 3, request.end() - 1) : "";
    const uint8_t command = request.size() >= 4 ? request[1] : 0;
    bool haveFault = false;
    std::pair<ReplyFault, uint8_t> fault{ReplyFault::OtherByte, 0};
    {
        std::lock_guard<std::mutex> lk(m_state);
        m_requests.push_back(request);
        if (!m_faults.empty()) {
            fault = m_faults.front();
            m_faults.pop_front();
            haveFault = true;
        }
    }
    if (haveFault && fault.first == ReplyFault::OtherByte) {
        Send(Bytes{fault.second});
        return;
    }
    if (request.size() < 4 || request[2] != ' ') {
        Reply(Bytes{kNak});
        return;
    }
    if (command == '%') {
        // number(3) name(20) price(6) VAT(1) code(7), single blanks between
        const long long number = data.size() == 41 ? Field(data.substr(0, 3)) : -1;
        const long long price = data.size() == 41 ? Field(data.substr(25, 6)) : -1;
        const bool blanks = data.size() == 41 && data[3] == ' ' && data[24] == ' ' && data[31] == ' ' &&
                            data[33] == ' ' && (data[32] == 'A' || data[32] == 'B');
        if (number < 1 || number > kCapacity || price < 0 || !blanks) {
            Reply(Bytes{kNak});
            return;
        }
        Dsp800EmuItem item;
        item.name = data.substr(4, 20);
        item.price = static_cast<uint32_t>(price);
        item.vat = data[32];
        item.code = data.substr(34, 7);
        SetItem(static_cast<uint32_t>(number), item);
        Reply(Bytes{kAck});
        return;
    }
    if (command == '?') {
        long long number = Field(data);
        if (number < 1 || number > kCapacity) {
            Reply(Bytes{kNak});
            return;
        }
        if (haveFault && fault.first == ReplyFault::WrongNumber) number = number == 1 ? 2 : number - 1;
        std::string reply = ReplyText(static_cast<uint32_t>(number), Item(static_cast<uint32_t>(number)));
        if (haveFault && fault.first == ReplyFault::WrongFirst) reply[0] = '!';
        Reply(Bytes(reply.begin(), reply.end()));
        return;
    }
    Reply(Bytes{kNak});
}

}  // namespace orv::test
