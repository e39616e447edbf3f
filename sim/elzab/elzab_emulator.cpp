#include "sim/elzab/elzab_emulator.h"

#include <cmath>
#include <cstdio>

#include "util/chrarr.h"

namespace orv::test {

namespace {

constexpr uint8_t kEsc = 0x1B;
constexpr uint8_t kAck = 0x06;
constexpr uint8_t kNak = 0x15;

// The register's own status codes (reported by the library as code + 100).
constexpr uint8_t kStName = 2;
constexpr uint8_t kStVat = 3;
constexpr uint8_t kStPluNumber = 5;
constexpr uint8_t kStDept = 10;
constexpr uint8_t kStUnit = 11;
constexpr uint8_t kStNotDefined = 102;
constexpr uint8_t kStNotAllRead = 101;
constexpr uint8_t kStOnlySpaces = 120;

// The register's capacities, from its documentation.
uint32_t CapacityOf(uint32_t m) {
    switch (m) {
    case 2: case 7: case 10: case 17: case 19: case 32: return 2047;
    case 3: case 6: case 9: return 1279;
    case 4: case 12: case 20: return 9983;
    case 5: case 14: case 16: case 25: case 34: return 20479;
    case 8: case 11: case 18: case 30: return 4095;
    case 13: case 15: return 10239;
    case 21: return 28671;
    case 22: case 27: return 61439;
    case 23: return 511;
    case 26: return 40959;
    case 28: return 16383;
    case 29: return 8191;
    case 33: return 3017;
    case 35: return 3000;
    default: return 6143;
    }
}

bool ShortVatReply(uint32_t m) {
    return m == 1 || m == 2 || m == 3 || m == 4 || m == 5 || m == 8 || m == 10 || m == 13;
}

bool LongNames(uint32_t m) { return m == 28 || (m >= 30 && m <= 34); }

Bytes ToCp852(const std::string& cp1250, size_t width) {
    CChrArr c = Cp1250ToCp852(CChrArr(cp1250));
    Bytes out(c.data(), c.data() + c.GetLength());
    out.resize(width, ' ');
    return out;
}

void PutLe32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint32_t GetLe32(const Bytes& b, size_t pos) {
    return static_cast<uint32_t>(b[pos]) | (static_cast<uint32_t>(b[pos + 1]) << 8) |
           (static_cast<uint32_t>(b[pos + 2]) << 16) | (static_cast<uint32_t>(b[pos + 3]) << 24);
}

uint64_t GetBarcode(const Bytes& b, size_t pos, size_t n) {
    uint64_t v = 0;
    for (size_t i = n; i-- > 0;) v = (v << 8) | b[pos + i];
    return v;
}

}  // namespace

ElzabEmulator::ElzabEmulator(int port, uint32_t model) : EmulatorBase(port), m_model(model) {
    m_vatRates = {23.0, 8.0, 5.0, 0.0, -1.0, -3.0, -3.0};
    m_unique = B("ABC12345678");
    m_dateTime = {2, 6, 1, 2, 0, 9, 1, 4, 3, 5};   // 26-12-09 14:35
    const char* units[16] = {"szt", "kg", "l", "m", "opak", "", "", "", "", "", "", "", "", "", "", ""};
    for (int i = 0; i < 16; ++i) m_units[i] = ToCp852(units[i], 4);
}

// ------------------------------------------------------- configuration ----

void ElzabEmulator::SetModel(uint32_t model) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_model = model;
}
uint32_t ElzabEmulator::Model() const {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    return m_model;
}
void ElzabEmulator::SetRegisterNumber(uint32_t number) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02u", number % 100);
    SetRegisterNumberReply(B(buf));
}
void ElzabEmulator::SetRegisterNumberReply(const Bytes& two) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_registerReply = two;
}
void ElzabEmulator::SetCapacityReply(uint32_t capacity) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_capacityReply = capacity;
}
uint32_t ElzabEmulator::PluCapacity() const { return CapacityOf(Model()); }
uint32_t ElzabEmulator::DeptCapacity() const {
    uint32_t m = Model();
    return ((m >= 13 && m <= 16) || (m >= 24 && m <= 31) || m == 33 || m == 34) ? 99 : 16;
}
void ElzabEmulator::SetVatRates(const std::vector<double>& rates) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_vatRates = rates;
    m_vatRates.resize(7, -3.0);
    m_vatRaw.reset();
}
void ElzabEmulator::SetVatReply(const Bytes& raw) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_vatRaw = raw;
}

void ElzabEmulator::AddPlu(uint32_t number, const std::string& name1250, uint8_t vat, uint8_t dept, double price,
                           uint64_t barcode, uint8_t unit) {
    Plu p;
    p.number = number;
    Bytes full = ToCp852(name1250, 32);
    p.name.assign(full.begin(), full.begin() + 19);
    p.name2.assign(full.begin() + 16, full.end());
    p.vat = vat;
    p.dept = dept;
    p.unit = unit;
    p.barcode = barcode;
    p.price = static_cast<uint32_t>(std::llround(price * 100.0));
    SetPlu(p);
}
void ElzabEmulator::SetPlu(const Plu& plu) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    Plu p = plu;
    p.name.resize(19, ' ');
    p.name2.resize(16, ' ');
    m_plus[p.number] = p;
}
std::optional<ElzabEmulator::Plu> ElzabEmulator::GetPlu(uint32_t number) const {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    auto it = m_plus.find(number);
    if (it == m_plus.end()) return std::nullopt;
    return it->second;
}
size_t ElzabEmulator::PluCount() const {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    return m_plus.size();
}
void ElzabEmulator::ClearPlus() {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_plus.clear();
}
std::string ElzabEmulator::PluName1250(uint32_t number) const {
    auto p = GetPlu(number);
    if (!p) return std::string();
    Bytes n = p->name;
    if (LongNames(Model())) {
        n.resize(16);
        n.insert(n.end(), p->name2.begin(), p->name2.end());
    }
    CChrArr c = Cp852ToCp1250(CChrArr(n.data(), n.size()));
    return c.ToString();
}

void ElzabEmulator::SetDept(uint8_t number, const std::string& name1250) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_depts[number] = ToCp852(name1250, 19);
}
std::optional<Bytes> ElzabEmulator::GetDept(uint8_t number) const {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    auto it = m_depts.find(number);
    if (it == m_depts.end()) return std::nullopt;
    return it->second;
}
void ElzabEmulator::SetNotDefinedByte(uint8_t b) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_notDefined = b;
}
void ElzabEmulator::SetUnit(uint8_t number, const std::string& name1250) {
    if (number < 1 || number > 16) return;
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_units[number - 1] = ToCp852(name1250, 4);
}
Bytes ElzabEmulator::GetUnit(uint8_t number) const {
    if (number < 1 || number > 16) return {};
    std::lock_guard<std::mutex> lk(m_stateMutex);
    return m_units[number - 1];
}

void ElzabEmulator::SetCounter(uint16_t plu, Counter counter) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_counters[plu] = counter;
}
std::optional<ElzabEmulator::Counter> ElzabEmulator::GetCounter(uint16_t plu) const {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    auto it = m_counters.find(plu);
    if (it == m_counters.end()) return std::nullopt;
    return it->second;
}
void ElzabEmulator::AddStreamRecord(Stream stream, const SaleRecord& record) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_streams[stream].push_back(record);
}
void ElzabEmulator::SetNotAllRead(int clears) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_notAllRead = clears;
}
int ElzabEmulator::ClearsDone() const {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    return m_clearsDone;
}
void ElzabEmulator::SetStatus(uint8_t deviceType, const std::string& unique11, const Bytes& dateTime10,
                              uint16_t receipt, std::array<uint8_t, 4> flags) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_deviceType = deviceType;
    m_unique = B(unique11);
    m_unique.resize(11, ' ');
    m_dateTime = dateTime10;
    m_dateTime.resize(10, 0);
    m_receipt = receipt;
    m_flags = flags;
}

// --------------------------------------------------------------- faults ----

void ElzabEmulator::QueueSilence(int command, int times) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_scripts.push_back({command, Act::Silence, 0, {}, times});
}
void ElzabEmulator::QueueAnswer(int command, uint8_t answer, int times) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_scripts.push_back({command, Act::Answer, answer, {}, times});
}
void ElzabEmulator::QueueStatus(int command, uint8_t status, int times) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_scripts.push_back({command, Act::Status, status, {}, times});
}
void ElzabEmulator::QueueShortReply(int command, int bytes, int times) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_scripts.push_back({command, Act::Short, bytes, {}, times});
}
void ElzabEmulator::QueueStale(int command, const Bytes& extra) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_scripts.push_back({command, Act::Stale, 0, extra, 1});
}
void ElzabEmulator::QueueDelay(int command, int ms) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_scripts.push_back({command, Act::Delay, ms, {}, 1});
}
void ElzabEmulator::SetAnswerDelay(int ms) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_answerDelay = ms;
}
void ElzabEmulator::SetChunking(int maxGapMs, uint32_t seed) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_chunkGap = maxGapMs;
    m_chunkSeed = seed ? seed : 1;
}
void ElzabEmulator::ClearScripts() {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_scripts.clear();
}

std::vector<ElzabEmulator::Frame> ElzabEmulator::Frames() const {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    return m_frames;
}
std::vector<uint8_t> ElzabEmulator::Commands() const {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    std::vector<uint8_t> out;
    for (const auto& f : m_frames) out.push_back(f.command);
    return out;
}
void ElzabEmulator::ClearFrames() {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_frames.clear();
}
void ElzabEmulator::SetRecording(bool on) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_recording = on;
}

// -------------------------------------------------------------- parsing ----

// Data bytes after ESC + command; -1 when the command is unknown.
int ElzabEmulator::DataLength(uint8_t command, const Bytes& dataSoFar) const {
    switch (command) {
    case 0xC0: case 0xFF: case 0x71: case 0x35: case 0x66: case '[': case 'T': case 'U': case 'V':
    case 0xD0: case 0x91: case 0xC5: case 0xA8: case 0xFE: case 0xA2: case 0xA3: case 0xAD: case 0xAE:
        return 0;
    case 0xAC: case 0xF1: case 0xCB: return 2;
    case 0xC7: case 0xA5: return 1;
    case 0xA9: case 0x9E: return 37;
    case 0x02: return 32;
    case 0xA6: return 14;
    case 0xEB: return 8;
    case 0xC6: return 20;
    case 0xC4: return 5;
    case 0x6B:
        if (dataSoFar.empty()) return 1;   // the kind byte decides
        return dataSoFar[0] == 0x01 ? 19 : 3;
    default: return -1;
    }
}

void ElzabEmulator::OnReceive(const uint8_t* data, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        uint8_t b = data[i];
        switch (m_parse) {
        case Parse::ClearConfirm:
            m_parse = Parse::Idle;
            if (b == kAck) {
                std::lock_guard<std::mutex> lk(m_stateMutex);
                m_counters.clear();
                for (auto& s : m_streams) s.clear();
                ++m_clearsDone;
                break;
            }
            [[fallthrough]];
        case Parse::Idle:
            if (b == kEsc) m_parse = Parse::Command;   // anything else is line noise
            break;
        case Parse::Command:
            m_command = b;
            m_data.clear();
            if (DataLength(b, m_data) < 0) {
                {
                    std::lock_guard<std::mutex> lk(m_stateMutex);
                    if (m_recording) m_frames.push_back({b, {}});
                }
                Emit({kNak}, b);
                m_parse = Parse::Idle;
            } else if (DataLength(b, m_data) == 0) {
                m_parse = Parse::Idle;
                Handle(b, m_data);
            } else {
                m_parse = Parse::Data;
            }
            break;
        case Parse::Data:
            m_data.push_back(b);
            if (static_cast<int>(m_data.size()) >= DataLength(m_command, m_data)) {
                m_parse = Parse::Idle;
                Handle(m_command, m_data);
            }
            break;
        }
    }
}

void ElzabEmulator::Handle(uint8_t command, const Bytes& data) {
    Script script{-2, Act::Silence, 0, {}, 0};
    bool scripted = false;
    {
        std::lock_guard<std::mutex> lk(m_stateMutex);
        if (m_recording) m_frames.push_back({command, data});
        for (auto it = m_scripts.begin(); it != m_scripts.end(); ++it) {
            if (it->command == -1 || it->command == command) {
                script = *it;
                scripted = true;
                if (--it->times <= 0) m_scripts.erase(it);
                break;
            }
        }
    }
    if (scripted && script.act == Act::Silence) return;
    if (scripted && script.act == Act::Answer) {
        Emit({static_cast<uint8_t>(script.arg)}, command);
        return;
    }

    bool ackFirst = true;
    Bytes body;
    if (scripted && script.act == Act::Status) {
        body = {static_cast<uint8_t>(script.arg)};
        ackFirst = command != 0x02;   // the 0x02 write has no ACK, only the status byte
    } else {
        body = Answer(command, data, ackFirst);
    }
    Bytes answer;
    answer.reserve(body.size() + 1);
    if (ackFirst) answer.push_back(kAck);
    for (uint8_t b : body) answer.push_back(b);
    if (command == 0xA8 && !answer.empty() && answer[0] == kAck) m_parse = Parse::ClearConfirm;
    if (scripted && script.act == Act::Short)
        answer.resize(std::min(answer.size(), static_cast<size_t>(std::max(script.arg, 0))));
    if (scripted && script.act == Act::Stale) answer.insert(answer.end(), script.bytes.begin(), script.bytes.end());
    int delay;
    int chunkGap;
    {
        std::lock_guard<std::mutex> lk(m_stateMutex);
        delay = m_answerDelay;
        chunkGap = m_chunkGap;
    }
    if (scripted && script.act == Act::Delay) delay += script.arg;
    if (chunkGap > 0 && !answer.empty()) {
        // Random pieces at increasing times, so they arrive in order.
        size_t pos = 0;
        while (pos < answer.size()) {
            uint32_t r;
            {
                std::lock_guard<std::mutex> lk(m_stateMutex);
                m_chunkSeed = m_chunkSeed * 1103515245u + 12345u;
                r = m_chunkSeed >> 8;
            }
            size_t len = std::min(answer.size() - pos, static_cast<size_t>(1 + r % 7));
            delay += 1 + static_cast<int>((r >> 4) % static_cast<uint32_t>(chunkGap));
            SendAfter(delay, Bytes(answer.begin() + static_cast<long>(pos), answer.begin() + static_cast<long>(pos + len)));
            pos += len;
        }
        return;
    }
    if (delay > 0)
        SendAfter(delay, answer);
    else
        Emit(answer, command);
}

void ElzabEmulator::Emit(Bytes answer, uint8_t /*command*/) { Send(answer); }

uint8_t ElzabEmulator::CheckPlu(const Plu& p) const {
    if (p.number < 1 || p.number > CapacityOf(m_model)) return kStPluNumber;
    bool spaces = true;
    for (uint8_t c : p.name)
        if (c != ' ') spaces = false;
    if (spaces) return kStOnlySpaces;
    if (p.vat < 1 || p.vat > 7) return kStVat;
    double rate = m_vatRates[p.vat - 1];
    if (ShortVatReply(m_model) && p.vat == 7) rate = -1.0;
    if (rate == -3.0) return kStVat;
    if (p.dept > (((m_model >= 13 && m_model <= 16) || (m_model >= 24 && m_model <= 31) || m_model == 33 ||
                   m_model == 34) ? 99u : 16u))
        return kStDept;
    if (p.unit > 16) return kStUnit;
    return 0;
}

Bytes ElzabEmulator::PluReply(const Plu& p) const {
    Bytes r = p.name;
    r.resize(19, ' ');
    r.push_back(p.vat);
    r.push_back(p.dept);
    r.push_back(p.byte21);
    r.push_back(p.unit);
    r.push_back(p.byte23);
    for (int i = 0; i < 6; ++i) r.push_back(static_cast<uint8_t>(p.barcode >> (8 * i)));
    PutLe32(r, p.price);
    r.push_back(p.byte34);
    return r;
}

Bytes ElzabEmulator::SaleBytes(const SaleRecord& s, bool longRecord) {
    Bytes r{static_cast<uint8_t>(s.plu >> 8), static_cast<uint8_t>(s.plu & 0xFF)};
    PutLe32(r, static_cast<uint32_t>(s.quantity));
    r.push_back(s.decimals);
    PutLe32(r, static_cast<uint32_t>(s.value));
    if (longRecord) {
        PutLe32(r, s.price);
        r.push_back(s.vat);
    }
    return r;
}

// The answer after the ACK (ackFirst false: the whole answer).
Bytes ElzabEmulator::Answer(uint8_t command, const Bytes& d, bool& ackFirst) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    ackFirst = true;
    auto plu16 = [&](size_t pos) { return static_cast<uint32_t>(d[pos] | (d[pos + 1] << 8)); };
    switch (command) {
    case 0xC0: return m_registerReply;
    case 0xFF: return {m_deviceType};
    case 0x71: return m_unique;
    case 0x35: return m_dateTime;
    case 0x66: return {static_cast<uint8_t>(m_receipt & 0xFF), static_cast<uint8_t>(m_receipt >> 8)};
    case '[': return {m_flags[0]};
    case 'T': return {m_flags[1]};
    case 'U': return {m_flags[2]};
    case 'V': return {m_flags[3]};
    case 0xD0: {
        if (m_vatRaw) return *m_vatRaw;
        Bytes r;
        bool shortForm = ShortVatReply(m_model);
        for (int i = 0; i < (shortForm ? 6 : 7); ++i) {
            double rate = m_vatRates[i];
            if (rate == -3.0) {
                r.push_back(shortForm ? 0xFF : 0x80);
                r.push_back(0);
            } else if (rate == -1.0) {
                r.push_back(shortForm ? 0xFF : 0x40);
                r.push_back(0);
            } else {
                auto v = static_cast<uint16_t>(std::lround(rate * 100.0));
                r.push_back(static_cast<uint8_t>(v >> 8));
                r.push_back(static_cast<uint8_t>(v & 0xFF));
            }
        }
        return r;
    }
    case 0x91: {
        uint32_t c = m_capacityReply ? *m_capacityReply : CapacityOf(m_model);
        return {static_cast<uint8_t>(c & 0xFF), static_cast<uint8_t>((c >> 8) & 0xFF)};
    }
    case 0xAC: {
        auto it = m_plus.find(plu16(0));
        if (it == m_plus.end()) return {kStNotDefined};
        Bytes r{0};
        Bytes rec = PluReply(it->second);
        r.insert(r.end(), rec.begin(), rec.end());
        return r;
    }
    case 0x6B: {
        uint32_t n = plu16(1);
        auto it = m_plus.find(n);
        if (d[0] == 0x02) {
            if (it == m_plus.end()) return {kStNotDefined};
            Bytes r{0};
            r.insert(r.end(), it->second.name2.begin(), it->second.name2.end());
            return r;
        }
        if (d[0] != 0x01) return {kStName};
        if (it == m_plus.end()) return {kStNotDefined};
        it->second.name2.assign(d.begin() + 3, d.begin() + 19);
        return {0};
    }
    case 0xA9:
    case 0x9E: {
        Plu p;
        p.number = plu16(0);
        p.name.assign(d.begin() + 2, d.begin() + 21);
        p.vat = d[21];
        p.dept = d[22];
        p.byte21 = d[23];
        p.unit = d[24];
        p.byte23 = d[25];
        p.barcode = GetBarcode(d, 26, 6);
        p.price = GetLe32(d, 32);
        p.byte34 = d[36];
        p.name2.assign(p.name.begin() + 16, p.name.end());
        p.name2.resize(16, ' ');
        uint8_t st = CheckPlu(p);
        if (st == 0) m_plus[p.number] = p;
        return {st};
    }
    case 0x02: {
        ackFirst = false;
        Plu p;
        p.number = plu16(0);
        p.name.assign(d.begin() + 2, d.begin() + 21);   // the register keeps 19 of the 20
        uint64_t low = GetBarcode(d, 22, 5);
        uint8_t sixth = d[27];
        p.barcode = low | (static_cast<uint64_t>(sixth & 0x0F) << 40);
        p.unit = static_cast<uint8_t>((sixth >> 4) + 1);
        p.price = GetLe32(d, 28);
        p.vat = 1;
        p.dept = 1;
        uint8_t st = CheckPlu(p);
        if (st == 0) m_plus[p.number] = p;
        return {st};
    }
    case 0xFE: return {static_cast<uint8_t>(m_model), 0, 0};
    case 0xA6: {
        auto it = m_plus.find(plu16(0));
        if (it == m_plus.end()) return {kStNotDefined};
        Plu p = it->second;
        p.dept = d[2];
        p.unit = d[3];
        p.barcode = GetBarcode(d, 4, 6);
        p.price = GetLe32(d, 10);
        uint8_t st = CheckPlu(p);
        if (st == 0) it->second = p;
        return {st};
    }
    case 0xEB: {
        uint32_t n = (static_cast<uint32_t>(d[0]) << 8) | d[1];
        auto it = m_plus.find(n);
        if (it == m_plus.end()) return {kStNotDefined};
        it->second.barcode = GetBarcode(d, 2, 6);
        return {0};
    }
    case 0xF1: {
        auto it = m_plus.find(plu16(0));
        if (it == m_plus.end()) return {kStNotDefined};
        m_plus.erase(it);
        return {0};
    }
    case 0xC6: {
        uint8_t n = d[0];
        uint32_t cap = ((m_model >= 13 && m_model <= 16) || (m_model >= 24 && m_model <= 31) || m_model == 33 ||
                        m_model == 34) ? 99u : 16u;
        if (n < 1 || n > cap) return {kStDept};
        m_depts[n] = Bytes(d.begin() + 1, d.end());
        return {0};
    }
    case 0xC7: {
        auto it = m_depts.find(d[0]);
        if (it == m_depts.end()) return {m_notDefined};
        Bytes r{0};
        r.insert(r.end(), it->second.begin(), it->second.end());
        return r;
    }
    case 0xC4: {
        uint8_t n = d[0];
        if (n < 1 || n > 16) return {kStUnit};
        m_units[n - 1] = Bytes(d.begin() + 1, d.end());
        return {0};
    }
    case 0xC5: {
        Bytes r;
        for (const auto& u : m_units) r.insert(r.end(), u.begin(), u.end());
        return r;
    }
    case 0xCB: {
        uint32_t n = plu16(0);
        if (m_plus.find(n) == m_plus.end()) return {m_notDefined};
        Counter c;
        auto it = m_counters.find(static_cast<uint16_t>(n));
        if (it != m_counters.end()) c = it->second;
        Bytes r{0};
        PutLe32(r, static_cast<uint32_t>(c.quantity));
        r.push_back(c.decimals);
        PutLe32(r, static_cast<uint32_t>(c.value));
        return r;
    }
    case 0xA5: {
        if (d[0] > 3) return {kStName};
        Bytes r{0};
        for (const auto& s : m_streams[kA5Pass0 + d[0]]) {
            Bytes b = SaleBytes(s, false);
            r.insert(r.end(), b.begin(), b.end());
        }
        r.push_back(0xFF);
        return r;
    }
    case 0xA2:
    case 0xA3:
    case 0xAD:
    case 0xAE: {
        Stream st = command == 0xA2 ? kA2 : command == 0xA3 ? kA3 : command == 0xAD ? kAD : kAE;
        bool longRecord = command == 0xAD || command == 0xAE;
        Bytes r;
        for (const auto& s : m_streams[st]) {
            Bytes b = SaleBytes(s, longRecord);
            r.insert(r.end(), b.begin(), b.end());
        }
        r.push_back(0xFF);
        return r;
    }
    case 0xA8:
        if (m_notAllRead > 0) {
            --m_notAllRead;
            ackFirst = false;
            return {kStNotAllRead};
        }
        return {};
    default:
        ackFirst = false;
        return {kNak};
    }
}

}  // namespace orv::test
