#include "sim/elcom50/elcom50_emulator.h"

#include <algorithm>
#include <cstdlib>

#include "sim/sim_text.h"

namespace orv::test {

namespace {

std::string Join(const std::vector<std::string>& fields, size_t from = 0) {
    std::string r;
    for (size_t i = from; i < fields.size(); ++i) {
        if (i > from) r += '\t';
        r += fields[i];
    }
    return r;
}

std::string Code(uint32_t code) { return std::to_string(code); }

long Number(const std::string& s) {
    if (s.empty()) return -1;
    for (char c : s) {
        if (c < '0' || c > '9') return -1;
    }
    return std::strtol(s.c_str(), nullptr, 10);
}

const std::vector<std::string> kPluColumns = {"PLU_PRICE", "PLU_NAME", "PLU_TAXRATE", "PLU_BARCODE", "PLU_DPT",
                                              "PLU_UNIT", "PLU_LINK", "PLU_OTHERPRICE", "PLU_QUANTITY", "PLU_AMOUNT"};

std::string* PluColumn(Elcom50Emulator::PluRow& row, const std::string& column) {
    if (column == "PLU_PRICE") return &row.price;
    if (column == "PLU_NAME") return &row.name;
    if (column == "PLU_TAXRATE") return &row.tax;
    if (column == "PLU_BARCODE") return &row.barcode;
    if (column == "PLU_DPT") return &row.dpt;
    if (column == "PLU_UNIT") return &row.unit;
    if (column == "PLU_LINK") return &row.link;
    if (column == "PLU_OTHERPRICE") return &row.other;
    if (column == "PLU_QUANTITY") return &row.quantity;
    if (column == "PLU_AMOUNT") return &row.amount;
    return nullptr;
}

bool KnownColumn(const std::string& table, const std::string& column) {
    if (table == "PLU") {
        Elcom50Emulator::PluRow row;
        return PluColumn(row, column) != nullptr;
    }
    if (table == "DPT") return column == "DPT_NAME";
    if (table == "MEASUREUNIT") return column == "MEASUREUNIT_NAME";
    if (table == "TAXGROUP") return column == "TAXGROUP_RATE" || column == "TAXGROUP_TYPE";
    return false;
}

}  // namespace

Elcom50Emulator::Elcom50Emulator(int port, int model)
    : EmulatorBase(port), m_model(model == 25 ? 25 : 24), m_dept(20), m_unit(8), m_tax(7) {
    m_devInfo = {"ELCOM 50", "PL", "1.07", "2.1", "FISKALNY"};
}

Elcom50Emulator::~Elcom50Emulator() { Stop(); }

void Elcom50Emulator::SetPlu(uint32_t number, const PluRow& row) {
    std::lock_guard<std::mutex> lk(m_state);
    m_plu[number] = row;
}

std::optional<Elcom50Emulator::PluRow> Elcom50Emulator::Plu(uint32_t number) const {
    std::lock_guard<std::mutex> lk(m_state);
    auto it = m_plu.find(number);
    if (it == m_plu.end()) return std::nullopt;
    return it->second;
}

size_t Elcom50Emulator::PluCount() const {
    std::lock_guard<std::mutex> lk(m_state);
    return m_plu.size();
}

void Elcom50Emulator::SetSale(uint32_t number, const std::string& quantity, const std::string& amount) {
    std::lock_guard<std::mutex> lk(m_state);
    if (!m_plu.count(number)) m_plu[number].name.assign(m_model == 25 ? 42 : 24, ' ');
    PluRow& row = m_plu[number];
    row.quantity = quantity;
    row.amount = amount;
}

void Elcom50Emulator::SetDept(uint32_t number, const std::string& name) {
    std::lock_guard<std::mutex> lk(m_state);
    if (number >= 1 && number <= m_dept.size()) m_dept[number - 1] = name;
}

std::string Elcom50Emulator::Dept(uint32_t number) const {
    std::lock_guard<std::mutex> lk(m_state);
    return number >= 1 && number <= m_dept.size() ? m_dept[number - 1] : std::string();
}

void Elcom50Emulator::SetUnit(uint32_t number, const std::string& name) {
    std::lock_guard<std::mutex> lk(m_state);
    if (number >= 1 && number <= m_unit.size()) m_unit[number - 1] = name;
}

std::string Elcom50Emulator::Unit(uint32_t number) const {
    std::lock_guard<std::mutex> lk(m_state);
    return number >= 1 && number <= m_unit.size() ? m_unit[number - 1] : std::string();
}

void Elcom50Emulator::SetTaxGroup(int group, const std::string& rate, int type) {
    std::lock_guard<std::mutex> lk(m_state);
    if (group >= 1 && group <= 7) m_tax[static_cast<size_t>(group - 1)] = TaxGroup{rate, type};
}

void Elcom50Emulator::SetDevInfo(const std::vector<std::string>& fields) {
    std::lock_guard<std::mutex> lk(m_state);
    m_devInfo = fields;
}

int Elcom50Emulator::ZeroingReports() const {
    std::lock_guard<std::mutex> lk(m_state);
    return m_zReports;
}

std::vector<std::string> Elcom50Emulator::Requests() const {
    std::lock_guard<std::mutex> lk(m_state);
    return m_requests;
}

void Elcom50Emulator::ClearRequests() {
    std::lock_guard<std::mutex> lk(m_state);
    m_requests.clear();
}

int Elcom50Emulator::CountRequests(const std::string& command) const {
    std::lock_guard<std::mutex> lk(m_state);
    int n = 0;
    for (const std::string& r : m_requests) {
        if (r.compare(0, command.size() + 1, command + "\t") == 0) ++n;
    }
    return n;
}

bool Elcom50Emulator::Connected() const {
    std::lock_guard<std::mutex> lk(m_state);
    return m_connected;
}

void Elcom50Emulator::SetRecording(bool on) {
    std::lock_guard<std::mutex> lk(m_state);
    m_recording = on;
    if (!on) m_requests.clear();
}

void Elcom50Emulator::SetAnswerDelay(int ms) {
    std::lock_guard<std::mutex> lk(m_state);
    m_delayMs = ms < 0 ? 0 : ms;
}

void Elcom50Emulator::SetChunking(int maxChunk, int gapMs) {
    std::lock_guard<std::mutex> lk(m_state);
    m_chunkMax = maxChunk < 0 ? 0 : maxChunk;
    m_chunkGapMs = gapMs < 0 ? 0 : gapMs;
}

void Elcom50Emulator::Inject(const Injection& injection) {
    std::lock_guard<std::mutex> lk(m_state);
    m_injections.push_back(injection);
}

void Elcom50Emulator::ClearInjections() {
    std::lock_guard<std::mutex> lk(m_state);
    m_injections.clear();
}

void Elcom50Emulator::OnReceive(const uint8_t* data, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (data[i] == '\n') {
            std::string line;
            line.swap(m_line);
            HandleLine(line);
        } else {
            m_line += static_cast<char>(data[i]);
        }
    }
}

bool Elcom50Emulator::TakeInjection(const std::string& command, const std::vector<std::string>& params,
                                    Injection& out) {
    std::string key2 = params.size() >= 2 ? params[0] + "\t" + params[1] : Join(params);
    for (auto it = m_injections.begin(); it != m_injections.end(); ++it) {
        if (it->command != command) continue;
        if (!it->key.empty() && it->key != key2 && it->key != Join(params)) continue;
        out = *it;
        if (it->times > 0 && --it->times == 0) m_injections.erase(it);
        return true;
    }
    return false;
}

void Elcom50Emulator::HandleLine(const std::string& line) {
    std::vector<std::string> fields = Split(line, '\t');
    const std::string command = fields[0];
    std::vector<std::string> params;
    if (fields.size() > 2) params.assign(fields.begin() + 2, fields.end());

    Injection inj;
    bool injected = false;
    std::string data;
    int delayMs = 0;
    int chunkMax = 0;
    int chunkGapMs = 0;
    {
        std::lock_guard<std::mutex> lk(m_state);
        if (m_recording) m_requests.push_back(line);
        delayMs = m_delayMs;
        chunkMax = m_chunkMax;
        chunkGapMs = m_chunkGapMs;
        injected = TakeInjection(command, params, inj);
        if (fields.size() < 2 || fields[1] != "REQ") {
            data = Code(kEl50MissingParameter);
        } else if (!(injected && inj.answer == Answer::Status)) {
            data = Respond(command, params);
        }
    }
    std::string reply;
    if (!injected) {
        reply = command + "\tRSP\t" + data + "\n";
    } else {
        switch (inj.answer) {
        case Answer::Status: reply = command + "\tRSP\t" + inj.text + "\n"; break;
        case Answer::WrongHead:
            reply = (inj.text.empty() ? std::string("GETDEVSTATE") : inj.text) + "\tRSP\t" + data + "\n";
            break;
        case Answer::BadByte: reply = command + "\tRSP" + (inj.text.empty() ? "X" : inj.text) + data + "\n"; break;
        case Answer::MissingFields: {
            std::vector<std::string> f = Split(data, '\t');
            const size_t keep = 1 + static_cast<size_t>(std::atoi(inj.text.c_str()));
            if (f.size() > keep) f.resize(keep);
            reply = command + "\tRSP\t" + Join(f) + "\n";
            break;
        }
        case Answer::Silence: return;
        case Answer::Raw: reply = inj.text; break;
        }
    }
    if (chunkMax > 0) {
        int at = delayMs;
        for (size_t i = 0; i < reply.size();) {
            m_chunkSeed = m_chunkSeed * 1103515245u + 12345u;
            const size_t n = std::min(reply.size() - i, 1 + static_cast<size_t>((m_chunkSeed >> 16) % chunkMax));
            SendAfter(at, Bytes(reply.begin() + static_cast<long>(i), reply.begin() + static_cast<long>(i + n)));
            i += n;
            at += chunkGapMs;
        }
        return;
    }
    if (delayMs > 0) SendAfter(delayMs, Bytes(reply.begin(), reply.end()));
    else Reply(Bytes(reply.begin(), reply.end()));
}

// The data part of the answer (status first) to one request; under m_state.
std::string Elcom50Emulator::Respond(const std::string& command, const std::vector<std::string>& params) {
    if (command == "CONNECT") {
        m_connected = true;
        m_head.clear();
        return "0";
    }
    if (command == "DISCONNECT") {
        if (!m_connected) return Code(kEl50Refused);
        m_connected = false;
        m_head.clear();
        return "0";
    }
    if (!m_connected) return Code(kEl50Refused);
    if (command == "SETHEAD") return SetHead(params);
    if (command == "SETREC") return SetRecord(params);
    if (command == "GETREC") return GetRecord(params);
    if (command == "GETDEVINFO") return "0\t" + Join(m_devInfo);
    if (command == "GETDEVSTATE") return "0";
    if (command == "MAKEREPORT") {
        if (params.size() != 2 || params[0] != "PLU_Z" || params[1] != "NO") return Code(kEl50MissingParameter);
        for (auto& [number, row] : m_plu) {
            row.quantity = "0";
            row.amount = "0";
        }
        ++m_zReports;
        return "0";
    }
    return Code(kEl50UnsupportedOperation);
}

std::string Elcom50Emulator::SetHead(const std::vector<std::string>& params) {
    m_head.clear();
    if (params.empty()) return Code(kEl50MissingParameter);
    const std::string& table = params[0];
    if (table != "PLU" && table != "DPT" && table != "MEASUREUNIT" && table != "TAXGROUP")
        return Code(kEl50UnsupportedTable);
    if (params.size() < 2) return Code(kEl50MissingParameter);
    for (size_t i = 1; i < params.size(); ++i) {
        if (!KnownColumn(table, params[i])) return Code(kEl50UnknownAttribute);
    }
    m_head = params;
    return "0";
}

std::string Elcom50Emulator::SetRecord(const std::vector<std::string>& params) {
    if (m_head.empty()) return Code(kEl50NoHeader);
    if (params.size() < 2 || params[0] != m_head[0]) return Code(kEl50MissingParameter);
    const size_t columns = m_head.size() - 1;
    // The PLU line ends with a TAB: one empty field more is allowed.
    const size_t values = params.size() - 2;
    if (values < columns || values > columns + 1 || (values == columns + 1 && !params.back().empty()))
        return Code(kEl50MissingParameter);
    const std::string& table = m_head[0];
    const long n = Number(params[1]);
    if (table == "PLU") {
        if (n < 1 || n > maxRecord()) return Code(kEl50UnknownRecord);
        PluRow row = m_plu.count(static_cast<uint32_t>(n)) ? m_plu[static_cast<uint32_t>(n)] : PluRow();
        for (size_t c = 0; c < columns; ++c) *PluColumn(row, m_head[c + 1]) = params[c + 2];
        m_plu[static_cast<uint32_t>(n)] = row;
        return "0";
    }
    if (table == "DPT" || table == "MEASUREUNIT") {
        std::vector<std::string>& names = table == "DPT" ? m_dept : m_unit;
        if (n < 1 || n > static_cast<long>(names.size())) return Code(kEl50UnknownRecord);
        names[static_cast<size_t>(n - 1)] = params[2];
        return "0";
    }
    return Code(kEl50UnsupportedOperation);   // tax groups are read-only here
}

std::string Elcom50Emulator::GetRecord(const std::vector<std::string>& params) {
    if (m_head.empty()) return Code(kEl50NoHeader);
    if (params.size() != 2 || params[0] != m_head[0]) return Code(kEl50MissingParameter);
    const std::string& table = m_head[0];
    const long n = Number(params[1]);
    std::vector<std::string> out{"0"};
    if (table == "PLU") {
        if (n < 1 || n > maxRecord()) return Code(kEl50UnknownRecord);
        auto it = m_plu.find(static_cast<uint32_t>(n));
        PluRow row;
        if (it != m_plu.end()) row = it->second;
        else row.name.assign(m_model == 25 ? 42 : 24, ' ');
        for (size_t c = 1; c < m_head.size(); ++c) out.push_back(*PluColumn(row, m_head[c]));
    } else if (table == "DPT" || table == "MEASUREUNIT") {
        const std::vector<std::string>& names = table == "DPT" ? m_dept : m_unit;
        if (n < 1 || n > static_cast<long>(names.size())) return Code(kEl50UnknownRecord);
        out.push_back(names[static_cast<size_t>(n - 1)]);
    } else {
        if (n < 1 || n > 7) return Code(kEl50UnknownRecord);
        const TaxGroup& g = m_tax[static_cast<size_t>(n - 1)];
        for (size_t c = 1; c < m_head.size(); ++c)
            out.push_back(m_head[c] == "TAXGROUP_RATE" ? g.rate : std::to_string(g.type));
    }
    return Join(out);
}

}  // namespace orv::test
