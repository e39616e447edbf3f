#include "sim/sharp/sharp_emulator.h"

#include <cstdio>

#include "sim/sim_text.h"

namespace orv::test {

namespace {
constexpr uint8_t kStx = 0x02, kEot = 0x04, kEnq = 0x05, kAck = 0x06, kNak = 0x15, kCr = 0x0D;

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The number in s[pos, pos + len) in the base; -1 when it is not one.
int64_t Num(const std::string& s, size_t pos, size_t len, int base) {
    if (pos + len > s.size() || len == 0) return -1;
    int64_t v = 0;
    for (size_t i = pos; i < pos + len; ++i) {
        const int d = HexValue(s[i]);
        if (d < 0 || d >= base) return -1;
        v = v * base + d;
    }
    return v;
}

std::string Fmt(const char* format, unsigned long long value) {
    char buf[32];
    std::snprintf(buf, sizeof buf, format, value);
    return buf;
}

// A whole-file key: a letter and zeros.
bool WholeFile(const std::string& key) {
    if (key.empty() || key[0] < 'A' || key[0] > 'Z') return false;
    return key.find_first_not_of('0', 1) == std::string::npos;
}

std::string Fit(const std::string& text, size_t width) {
    std::string r = text.substr(0, width);
    r.resize(width, '0');
    return r;
}
}  // namespace

SharpEmulator::SharpEmulator(int port, const SharpTraits& traits, int machine)
    : EmulatorBase(port), m_traits(traits), m_machine(machine) {}

uint8_t SharpEmulator::Checksum(const std::string& text) {
    unsigned sum = 0;
    for (unsigned char c : text) sum += c;
    return static_cast<uint8_t>((256u - sum % 256u) % 256u);
}

Bytes SharpEmulator::Block(int number, const std::string& data) {
    const std::string body = std::string(1, static_cast<char>('0' + number % 10)) + data;
    Bytes b{kStx};
    b.insert(b.end(), body.begin(), body.end());
    const std::string cs = Fmt("%02X", Checksum(body));
    b.insert(b.end(), cs.begin(), cs.end());
    b.push_back(kCr);
    return b;
}

// ---- state ----

void SharpEmulator::SetMachine(int machine) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_machine = machine;
}
void SharpEmulator::SetFile(uint32_t file, const SharpEmuFile& contents) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_files[file] = contents;
}
SharpEmuFile SharpEmulator::File(uint32_t file) const {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    auto it = m_files.find(file);
    return it == m_files.end() ? SharpEmuFile{} : it->second;
}
void SharpEmulator::SetSales(uint32_t file, int keyBytes, const std::vector<SharpEmuSale>& sales) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_sales[file] = {keyBytes, sales};
}
std::vector<SharpEmuSale> SharpEmulator::Sales(uint32_t file) const {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    auto it = m_sales.find(file);
    return it == m_sales.end() ? std::vector<SharpEmuSale>{} : it->second.second;
}
void SharpEmulator::SetVatGroups(const std::string& groups) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_vat = groups;
}
int SharpEmulator::ResultCode() const {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    return m_result;
}
void SharpEmulator::SetResultCode(int code) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_result = code;
}
std::vector<std::string> SharpEmulator::HostBlocks() const {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    return m_blocks;
}
std::vector<std::string> SharpEmulator::JobCodes() const {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    return m_jobs;
}
int SharpEmulator::NaksSent() const {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    return m_naks;
}
int SharpEmulator::Selections() const {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    return m_selections;
}
void SharpEmulator::SetRecordBlocks(bool on) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_record = on;
}
void SharpEmulator::ClearLog() {
    {
        std::lock_guard<std::mutex> lk(m_stateMutex);
        m_blocks.clear();
        m_jobs.clear();
        m_naks = 0;
        m_selections = 0;
    }
    ClearReceived();
    ClearSent();
}

// ---- faults ----

void SharpEmulator::NakHostBlocks(int count) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_nakNext = count;
}
void SharpEmulator::EotOnDataBlock(int nth, int result) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_eotData = nth;
    m_eotDataResult = result;
    m_dataBlocks = 0;
}
void SharpEmulator::SpoilReplyBlock(int nth, BlockFault fault, int copies) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    std::erase_if(m_spoils, [](const Spoil& s) { return s.copies <= 0; });
    if (m_spoils.empty() && m_eotReply == 0) m_replyBlocks = 0;
    m_spoils.push_back({nth, fault, copies});
}
void SharpEmulator::EotForReplyBlock(int nth, int result) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    std::erase_if(m_spoils, [](const Spoil& s) { return s.copies <= 0; });
    if (m_spoils.empty() && m_eotReply == 0) m_replyBlocks = 0;
    m_eotReply = nth;
    m_eotReplyResult = result;
}
void SharpEmulator::SetSelectAnswer(int byte) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_selectAnswer = byte;
}
void SharpEmulator::AnswerSecondSelections(bool on) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_secondSelections = on;
    m_selectionHeard = false;
}
void SharpEmulator::EndlessEmptyBlocks(bool on) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_endlessEmpty = on;
}
void SharpEmulator::AnswerWithAnotherRecord(bool on) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_anotherRecord = on;
}
void SharpEmulator::SetReplyDelay(int ms) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    m_delayMs = ms;
}

// ---- receiving ----

void SharpEmulator::Out(const Bytes& bytes) {
    if (m_delayMs > 0)
        SendAfter(m_delayMs, bytes);
    else
        Send(bytes);
}

void SharpEmulator::OnReceive(const uint8_t* data, size_t n) {
    std::lock_guard<std::mutex> lk(m_stateMutex);
    for (size_t i = 0; i < n; ++i) OnByte(data[i]);
}

void SharpEmulator::OnByte(uint8_t b) {
    if (m_inBlock) {
        m_block.push_back(b);
        if (b == kCr) {
            m_inBlock = false;
            OnBlock(m_block);
        } else if (m_block.size() > 1100) {
            m_inBlock = false;   // no CR: noise
        }
        return;
    }
    switch (m_state) {
    case State::Replying:
        if (b == kAck) {
            SendNext();
        } else if (b == kNak) {
            if (m_sends < 3)
                SendItem(false);
            else
                m_state = State::Idle;   // the host keeps refusing: give up
        } else if (b == kEot) {
            m_state = State::Idle;       // the host starts anew
            m_selection.assign(1, kEot);
        }
        return;
    case State::AwaitEot:
        if (b == kEot) StartReply();
        return;
    case State::AwaitJob:
    case State::Receiving:
        if (b == kStx) {
            m_inBlock = true;
            m_block.assign(1, kStx);
            return;
        }
        if (b == kEot) {
            const bool writing = m_state == State::Receiving;
            if (writing) Commit();
            m_state = State::Idle;
            m_selection.clear();
            if (!writing) m_selection.push_back(kEot);   // a new selection begins
        }
        return;
    case State::Idle: break;
    }
    m_selection.push_back(b);
    if (m_selection.size() > 10) m_selection.erase(m_selection.begin());
    if (b != kEnq || m_selection.size() != 10) return;
    if (m_selection[0] != kEot || m_selection[1] != kEot || m_selection[2] != kEot) return;
    const std::string digits(m_selection.begin() + 3, m_selection.begin() + 9);
    const std::string mine = Fmt("%06llu", static_cast<unsigned long long>(m_machine < 0 ? 0 : m_machine));
    m_selection.clear();
    if (digits != mine.substr(0, 6)) return;   // not this register
    if (m_secondSelections) {
        m_selectionHeard = !m_selectionHeard;
        if (m_selectionHeard) return;   // asleep: only the host's next try wakes it
    }
    ++m_selections;
    Out(Bytes{static_cast<uint8_t>(m_selectAnswer < 0 ? kAck : m_selectAnswer)});
    m_state = State::AwaitJob;
    m_expect = 0;
}

void SharpEmulator::OnBlock(const Bytes& block) {
    const size_t n = block.size();
    bool good = n >= 5 && block[n - 1] == kCr;
    std::string body;
    if (good) {
        body.assign(block.begin() + 1, block.end() - 3);
        const int hi = HexValue(static_cast<char>(block[n - 3])), lo = HexValue(static_cast<char>(block[n - 2]));
        good = hi >= 0 && lo >= 0 && hi * 16 + lo == Checksum(body) && body[0] == '0' + m_expect;
    }
    if (m_nakNext > 0) {
        --m_nakNext;
        good = false;
    }
    if (!good) {
        ++m_naks;
        Out(Bytes{kNak});
        return;
    }
    const std::string data = body.substr(1);
    if (m_record) m_blocks.push_back(data);
    if (m_state == State::AwaitJob)
        OnJob(data);
    else
        OnWriteBlock(data);
}

void SharpEmulator::OnJob(const std::string& data) {
    if (m_record) m_jobs.push_back(data);
    m_job = data.size() >= 7 && data[0] == '/' && data[6] == '/' ? data.substr(1, 5) : std::string();
    m_args = data.size() > 7 ? Split(data.substr(7), '/') : std::vector<std::string>{};
    Out(Bytes{kAck});
    if (m_job == "10-00" || m_job == "10-02") {
        m_state = State::Receiving;
        m_expect = 1;
        m_header.clear();
        m_pending.clear();
        m_complete = false;
    } else {
        m_state = State::AwaitEot;
    }
}

void SharpEmulator::OnWriteBlock(const std::string& data) {
    if (m_expect == 1 && m_header.empty()) {
        // The header as the host writes it: all hexadecimal.
        const size_t width = 26 + 2 * static_cast<size_t>(m_traits.headerFields);
        std::vector<uint32_t> h;
        bool ok = data.size() == width && data.compare(0, 6, "/HDR1/") == 0;
        const size_t pos[7][2] = {{6, 2}, {8, 2}, {10, 4}, {16, 4}, {20, 2}, {22, 2}, {24, 2}};
        for (int i = 0; ok && i < 7; ++i) {
            const int64_t v = Num(data, pos[i][0], pos[i][1], 16);
            ok = v >= 0;
            h.push_back(static_cast<uint32_t>(v));
        }
        for (int i = 0; ok && i < m_traits.headerFields; ++i) {
            const int64_t v = Num(data, 26 + 2 * static_cast<size_t>(i), 2, 16);
            ok = v >= 0;
            h.push_back(static_cast<uint32_t>(v));
        }
        if (!ok) {
            // The register refuses the file: EOT with its result.
            m_result = 104;
            m_state = State::Idle;
            if (m_record) m_blocks.pop_back();
            Send(Bytes{kEot});
            return;
        }
        m_header = h;
        m_expect = 2;
        Out(Bytes{kAck});   // after the header check, so a refused header is answered only once
        return;
    }
    ++m_dataBlocks;
    if (m_eotData > 0 && m_dataBlocks == m_eotData) {
        m_eotData = 0;
        m_result = m_eotDataResult;
        m_state = State::Idle;
        m_selection.clear();
        Out(Bytes{kEot});
        return;
    }
    if (data.size() >= 8) {
        m_pending.push_back(data.substr(8));
        if (data.compare(6, 2, "01") == 0) m_complete = true;
    }
    m_expect = (m_expect + 1) % 10;
    Out(Bytes{kAck});
}

void SharpEmulator::Commit() {
    if (!m_complete || m_header.size() < 7) return;   // a broken-off write changes nothing
    const uint32_t fileId = m_header[0];
    const int keyChars = 2 * static_cast<int>(m_header[6]);
    SharpEmuFile& file = m_files[fileId];
    const size_t fields = static_cast<size_t>(m_traits.headerFields);
    if (file.lengths.size() != fields) file.lengths.assign(fields, 0);
    m_result = 0;
    for (const std::string& record : m_pending) {
        size_t total = static_cast<size_t>(keyChars);
        for (size_t i = 0; i < fields; ++i) total += 2 * m_header[7 + i];
        if (record.size() < total) {
            m_result = 105;   // data packet size
            continue;
        }
        const std::string key = record.substr(0, static_cast<size_t>(keyChars));
        if (m_job == "10-02") {
            file.records.erase(key);
            continue;
        }
        file.keyBytes = static_cast<int>(m_header[6]);
        std::vector<std::string>& stored = file.records[key];
        stored.resize(fields);
        size_t pos = static_cast<size_t>(keyChars);
        for (size_t i = 0; i < fields; ++i) {
            const size_t len = 2 * m_header[7 + i];
            if (len == 0) continue;
            stored[i] = record.substr(pos, len);
            file.lengths[i] = static_cast<int>(m_header[7 + i]);
            pos += len;
        }
    }
}

// ---- replying ----

std::string SharpEmulator::HeaderText(uint32_t h0, uint32_t h2, int keyBytes, const std::vector<int>& lengths) const {
    // h2..h6 in decimal, as the hosts read them.
    std::string t = "/HDR1/" + Fmt("%02X", h0) + "00" + Fmt("%05llu", h2) + "00000" + "01" + "01" +
                    Fmt("%02llu", static_cast<unsigned long long>(keyBytes));
    for (int i = 0; i < m_traits.headerFields; ++i)
        t += Fmt("%02X", i < static_cast<int>(lengths.size()) ? static_cast<unsigned>(lengths[static_cast<size_t>(i)]) : 0u);
    return t;
}

void SharpEmulator::EndWith(int result) {
    m_result = result;
    m_state = State::Idle;
    m_selection.clear();
    Out(Bytes{kEot});
}

void SharpEmulator::StartReply() {
    m_out.clear();
    m_clearAfterReply = false;
    m_endlessActive = false;
    const uint32_t file = m_args.empty() ? 0 : static_cast<uint32_t>(Num(m_args[0], 0, m_args[0].size(), 16));
    if (m_job == "99-00") {
        m_out.push_back({Bytes{kEnq}, false});
        m_out.push_back({Block(0, Fmt("%04llu", static_cast<unsigned long long>(m_result)) + std::string(36, '0')), true});
    } else if (m_job.compare(0, 3, "32-") == 0) {
        ClearSales(m_args.empty() ? std::string() : m_args[0], m_job == "32-31");
        m_result = 0;
        m_state = State::Idle;
        return;
    } else if (m_job == "20-00" && m_args.size() >= 2) {
        ReplyFile(file, m_args[1]);
        if (m_out.empty()) return;
    } else if ((m_job == "20-02" || m_job == "20-12") && !m_args.empty()) {
        ReplySales(file, m_job == "20-12");
        if (m_out.empty()) return;
    } else {
        EndWith(401);   // command error
        return;
    }
    m_out.push_back({Bytes{kEot}, false});
    m_state = State::Replying;
    SendNext();
}

void SharpEmulator::ReplyFile(uint32_t fileId, const std::string& key) {
    const bool whole = WholeFile(key);
    if (m_endlessEmpty) {
        m_out.push_back({Bytes{kEnq}, false});
        m_out.push_back({Block(0, HeaderText(fileId, 0, 3, {7, 0, 4})), true});
        m_endlessActive = true;
        m_endlessNumber = 1;
        return;
    }
    if (fileId == kSharpVatFile) {
        std::vector<int> lengths{14};
        m_out.push_back({Bytes{kEnq}, false});
        m_out.push_back({Block(0, HeaderText(fileId, 0, 1, lengths)), true});
        m_out.push_back({Block(1, "00000101" + std::string("01") + m_vat), true});
        return;
    }
    auto it = m_files.find(fileId);
    if (it == m_files.end() || it->second.records.empty()) {
        EndWith(whole ? 0 : 404);
        return;
    }
    const SharpEmuFile& file = it->second;
    std::vector<std::pair<std::string, const std::vector<std::string>*>> chosen;
    if (whole) {
        for (const auto& r : file.records) chosen.emplace_back(r.first, &r.second);
    } else {
        auto rec = file.records.find(key);
        if (rec == file.records.end()) {
            EndWith(404);
            return;
        }
        if (m_anotherRecord && file.records.size() > 1) {
            ++rec;
            if (rec == file.records.end()) rec = file.records.begin();
        }
        chosen.emplace_back(rec->first, &rec->second);
    }
    m_out.push_back({Bytes{kEnq}, false});
    m_out.push_back({Block(0, HeaderText(fileId, fileId == kSharpDeptFile ? 1 : 0, file.keyBytes, file.lengths)), true});
    int number = 1;
    for (size_t k = 0; k < chosen.size(); ++k) {
        std::string record = Fit(chosen[k].first, 2 * static_cast<size_t>(file.keyBytes));
        for (size_t i = 0; i < file.lengths.size(); ++i) {
            if (file.lengths[i] == 0) continue;
            const std::string& field = i < chosen[k].second->size() ? (*chosen[k].second)[i] : std::string();
            record += Fit(field, 2 * static_cast<size_t>(file.lengths[i]));
        }
        m_out.push_back({Block(number, std::string("000001") + (k + 1 == chosen.size() ? "01" : "00") + record), true});
        number = (number + 1) % 10;
    }
}

void SharpEmulator::ReplySales(uint32_t fileId, bool clear) {
    auto it = m_sales.find(fileId);
    if (it == m_sales.end() || it->second.second.empty()) {
        EndWith(0);
        return;
    }
    const int keyBytes = it->second.first;
    const auto& sales = it->second.second;
    m_out.push_back({Bytes{kEnq}, false});
    m_out.push_back({Block(0, HeaderText(fileId, 0, keyBytes, {4, 4})), true});
    int number = 1;
    for (size_t k = 0; k < sales.size(); ++k) {
        const std::string record = Fit(sales[k].key, 2 * static_cast<size_t>(keyBytes)) +
                                   Fmt("%08llu", sales[k].quantity) + Fmt("%08llu", sales[k].value);
        m_out.push_back({Block(number, std::string("000001") + (k + 1 == sales.size() ? "01" : "00") + record), true});
        number = (number + 1) % 10;
    }
    m_clearAfterReply = clear;
    m_replyFile = fileId;
}

void SharpEmulator::ClearSales(const std::string& key, bool all) {
    for (auto& s : m_sales) {
        const bool match = all || (key.compare(0, 4, "0109") == 0 && s.first == kSharpPluFile) ||
                           (key.compare(0, 4, "0120") == 0 && s.first == kSharpEanFile);
        if (match) s.second.second.clear();
    }
}

void SharpEmulator::SendNext() {
    if (m_out.empty()) {
        m_state = State::Idle;
        return;
    }
    if (m_endlessActive && m_out.size() == 1) {
        // Only the closing EOT is left, and it never comes.
        m_last = {Block(m_endlessNumber, "00000100"), true};
        m_endlessNumber = (m_endlessNumber + 1) % 10;
        SendItem(true);
        return;
    }
    m_last = m_out.front();
    m_out.pop_front();
    if (m_out.empty()) {
        // The closing EOT: the transfer is done.
        Out(m_last.bytes);
        m_state = State::Idle;
        m_selection.clear();
        if (m_clearAfterReply) m_sales[m_replyFile].second.clear();
        m_result = 0;
        return;
    }
    SendItem(true);
}

void SharpEmulator::SendItem(bool first) {
    if (first) m_sends = 0;
    ++m_sends;
    if (!m_last.block) {
        Out(m_last.bytes);
        return;
    }
    if (first) ++m_replyBlocks;
    if (first && m_eotReply > 0 && m_replyBlocks == m_eotReply) {
        m_eotReply = 0;
        m_out.clear();
        EndWith(m_eotReplyResult);
        return;
    }
    for (Spoil& s : m_spoils) {
        if (s.nth != m_replyBlocks || s.copies <= 0) continue;
        --s.copies;
        Bytes b = m_last.bytes;
        const size_t n = b.size();
        switch (s.fault) {
        case BlockFault::BadChecksum: {
            const std::string cs = Fmt("%02X", (HexValue(static_cast<char>(b[n - 3])) * 16 +
                                                HexValue(static_cast<char>(b[n - 2])) + 1) % 256);
            b[n - 3] = static_cast<uint8_t>(cs[0]);
            b[n - 2] = static_cast<uint8_t>(cs[1]);
            break;
        }
        case BlockFault::WrongNumber: {
            const std::string data(b.begin() + 2, b.end() - 3);
            b = Block((b[1] - '0' + 1) % 10, data);
            break;
        }
        case BlockFault::Noise: {
            Bytes noise = Garbage(5, {kStx, kEot, kEnq, kAck, kNak, kCr});
            noise.insert(noise.end(), b.begin(), b.end());
            b = noise;
            break;
        }
        case BlockFault::Short: b.resize(n / 2); break;
        }
        Out(b);
        return;
    }
    Out(m_last.bytes);
}

}  // namespace orv::test
