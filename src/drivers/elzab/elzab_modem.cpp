#include "drivers/elzab/elzab_modem.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "comm/temp_files.h"
#include "platform/call_convention.h"
#include "platform/dynamic_library.h"
#include "platform/files.h"
#include "platform/message_hook.h"
#include "util/cp1250.h"

namespace {

// Every entry point of the library is caller-cleans (cdecl), written here
// once for both shapes.
using Fn1 = unsigned char(ORV_CALLER_CLEANS*)(const char*);
using Fn2 = unsigned char(ORV_CALLER_CLEANS*)(const char*, const char*);
static_assert(orv::platform::kCallerCleans<Fn1> && orv::platform::kCallerCleans<Fn2>,
              "the communication library's entry points are called caller-cleans");

constexpr const char* kEntryNames[CElzabModem::kEntryCount] = {
    "__ModStart", "__ModStop", "__OZegar",  "__TowarMax", "__OTowar",   "__ODBarkod", "__OGrupa",  "__OJednost",
    "__OPodatek", "__ZTowar",  "__ZBPTowar", "__ZCTowar", "__ZDBarkod", "__ZGrupa",   "__ZJednost", "__KTowar",
    "__KDBarkod", "__OSprzed", "__OPSprzed", "__OTSpMax", "__OOpak",    "__KSprOp",   "__OSTowMax", "__OSTowar",
    "__ZSTowar",  "__KSTowar", "__OSJednos", "__ZSJednos", "__OTypUrz", "__ONrParag",
};

// The library and its entry points: one per process, loaded once and kept.
struct WinipLibrary {
    orv::platform::DynamicLibrary lib;
    bool ready = false;
    void* entries[CElzabModem::kEntryCount] = {};
};

WinipLibrary& Winip() {
    static WinipLibrary* library = new WinipLibrary;   // never unloaded
    return *library;
}

std::atomic<CElzabModem::Resolver> g_resolver{nullptr};

const char* const kModemConfig[] = {"$AT&F0", "$ATS0=0", "$ATS12=0", "$ATL1", "$ATN1", "$ATM1",
                                    "$ATX4",  "$AT&Q5",  "$AT&R1",   "$AT&S0", "$ATQ0", "$ATE1",
                                    "$ATV1",  "$AT&K3",  "$AT&D0",   "$AT&C1"};

const char* const kRelayPrefixes[7] = {
    "AnyString:3001:255.255.255.255:", "AnyString:3001:255.255.255.254:", "AnyString:3001:255.255.255.253:",
    "AnyString:3001:255.255.255.252:", "AnyString:3001:255.255.255.251:", "AnyString:3001:255.255.255.250:",
    "AnyString:3001:255.255.255.249:",
};

// Bytes below 0x20 would split a record (TAB) or a line (CR LF): blanks.
std::string Printable(const char* text, size_t max) {
    std::string s;
    if (!text) return s;
    for (size_t i = 0; i < max && text[i]; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        s += c < 0x20 ? ' ' : static_cast<char>(c);
    }
    return s;
}

std::string TrimBlanks(const std::string& s) {
    size_t a = s.find_first_not_of(' ');
    if (a == std::string::npos) return std::string();
    size_t b = s.find_last_not_of(' ');
    return s.substr(a, b - a + 1);
}

// A CP1250 text as a CP852 field of exactly `width` bytes.
std::string TextField(const char* text, int width) {
    std::string s = Printable(text, 1024);
    return ChrPadRight(Cp1250ToCp852(CChrArr(s)), width, ' ').ToString();
}

// A locale-free decimal: blanks around it allowed, an optional sign when
// `sign`, digits with at most one "." or "," among or after them. No
// exponent, no other character, at most 18 digits.
bool ParseDecimal(const std::string& field, double& value, bool sign = false) {
    std::string s = TrimBlanks(field);
    size_t i = 0;
    bool negative = false;
    if (sign && i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
    uint64_t whole = 0, fraction = 0;
    int digits = 0, fractionDigits = 0;
    bool separator = false;
    for (; i < s.size(); ++i) {
        char c = s[i];
        if (c >= '0' && c <= '9') {
            if (++digits > 18) return false;
            if (separator) {
                fraction = fraction * 10 + static_cast<uint64_t>(c - '0');
                ++fractionDigits;
            } else {
                whole = whole * 10 + static_cast<uint64_t>(c - '0');
            }
        } else if ((c == '.' || c == ',') && !separator) {
            separator = true;
        } else {
            return false;
        }
    }
    if (digits == 0) return false;
    double v = static_cast<double>(whole);
    if (fractionDigits > 0) v += static_cast<double>(fraction) / std::pow(10.0, fractionDigits);
    value = negative ? -v : v;
    return true;
}

// A decimal, truncated, within 0..max.
bool ParseWhole(const std::string& field, uint32_t& value, uint32_t max = 0xFFFFFFFFu) {
    double v = 0;
    if (!ParseDecimal(field, v)) return false;
    v = std::trunc(v);
    if (!(v >= 0 && v <= static_cast<double>(max))) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

// A signed decimal, truncated, within the 32-bit range.
bool ParseSigned(const std::string& field, int32_t& value) {
    double v = 0;
    if (!ParseDecimal(field, v, true)) return false;
    v = std::trunc(v);
    if (!(v >= -2147483648.0 && v <= 2147483647.0)) return false;
    value = static_cast<int32_t>(v);
    return true;
}

const std::string& Field(const std::vector<std::string>& f, size_t i) {
    static const std::string empty;
    return i < f.size() ? f[i] : empty;
}

// Creates a fresh exchange file: prefix + unique part + ".TMP" in the
// temporary directory, made exclusively (mode 0600); when that cannot be
// done, `fallback` in the working directory, made anew the same way.
// Returns the descriptor (write-only) and the name, or -1.
int CreateExchangeFile(const char* prefix, const char* fallback, std::string& name) {
    int fd = orv::platform::CreateUniqueFile(orv::platform::TempDirectory(), prefix, ".TMP", name);
    if (fd >= 0) return fd;
    orv::platform::RemoveFile(fallback);
    fd = orv::platform::CreateNewFile(fallback, true);
    if (fd < 0) return -1;
    name = fallback;
    return fd;
}

}  // namespace

const char* const CElzabModem::kRelayHosts[7] = {
    "elzab-relay-1", "elzab-relay-2", "elzab-relay-3", "elzab-relay-4",
    "elzab-relay-5", "elzab-relay-6", "elzab-relay-7",
};

const char* CElzabModem::EntryName(int entry) {
    return entry >= 0 && entry < kEntryCount ? kEntryNames[entry] : "";
}

CElzabModem::CElzabModem() {
    m_nModel = 1;
    m_nWait = 20;
    m_nMuxChannel = 1;
}

CElzabModem::~CElzabModem() { RemoveExchangeFiles(); }

void CElzabModem::SetResolver(Resolver resolver) { g_resolver.store(resolver); }

void CElzabModem::ResetLibraryForTests() {
    WinipLibrary& w = Winip();
    w.ready = false;
    for (void*& e : w.entries) e = nullptr;
    w.lib.Release();
}

int CElzabModem::Fail(int code) {
    m_nError = code;
    return 0;
}

bool CElzabModem::Broken() { return m_pSerial && m_pSerial->IsAborted(); }

std::string CElzabModem::ErrorText() const {
    if (m_nError == kLoadError && !m_sLoadText.empty()) return m_sLoadText;
    return const_cast<CElzabModem*>(this)->GetErrorText(m_nError);
}

// ---------------------------------------------------------------- open ----

int CElzabModem::LoadLibrary() {
    WinipLibrary& w = Winip();
    if (!w.ready) {
        for (void*& e : w.entries) e = nullptr;
        if (!w.lib.IsLoaded()) {
            w.lib.Load(kLibraryName);
            WriteModemConfig();
        }
        if (!w.lib.IsLoaded()) {
            m_sLoadText = std::string(PL("Nie można załadować biblioteki ")) + w.lib.FileName();
            return Fail(kLoadError);
        }
        for (int i = 0; i < kEntryCount; ++i) {
            w.entries[i] = w.lib.Symbol(kEntryNames[i]);
            if (!w.entries[i]) {
                m_sLoadText = std::string("Brak funkcji ") + kEntryNames[i] + " w bibliotece " + w.lib.FileName();
                return Fail(kLoadError);
            }
        }
        w.ready = true;
    }
    return 1;
}

void CElzabModem::WriteModemConfig() {
    if (orv::platform::PathExists("modkonf.txt")) return;
    // Made exclusively: a link planted under the name is not written through.
    int fd = orv::platform::CreateNewFile("modkonf.txt", false);
    if (fd < 0) return;
    std::string text;
    for (const char* line : kModemConfig) text += std::string(line) + "\r\n";
    orv::comm::WriteFully(fd, text.data(), text.size());
    orv::platform::CloseFile(fd);
}

const char* CElzabModem::ModelName(uint32_t model) {
    switch (model) {
    case 2: return "ALFA PLUS";
    case 3: return "ALFA";
    case 4: case 15: return "DELTA 9983";
    case 5: case 14: return "DELTA LUX 20479";
    case 8: return "ALFA SUPER 4095";
    case 10: case 17: return "ALFA LUX 2047";
    case 13: return "DELTA LUX 9983";
    case 16: return "DELTA 20479";
    case 18: return "ALFA LUX 4095";
    case 19: return "JOTA 2047";
    case 20: return "ALFA WAGA 4095";
    case 23: return "MINI 511";
    case 24: return "ECO";
    case 25: return "DELTA MAX 20479";
    case 26: return "DELTA MAX 40959";
    case 27: return "DELTA MAX 61439";
    case 28: return "ALFA MAX 16383";
    case 29: return "ALFA MAX 8191";
    case 30: return "JOTA E 4095";
    case 31: return "JOTA E 6143";
    case 32: return "MINI 2000";
    case 33: return "MINI E 3017";
    case 34: return "JOTA E 20479";
    case 35: return "K10";
    case 36: return "SIGMA";
    case 37: return "MINI ONLINE";
    case 38: return "JOTA ONLINE";
    default: return "SYSTEM 600";
    }
}

std::string CElzabModem::RelayAddress(const std::string& address) const {
    size_t p1 = address.find(':');
    if (p1 == std::string::npos || p1 < 2) return address;
    size_t p2 = address.find(':', p1 + 1);
    size_t p3 = p2 == std::string::npos ? p2 : address.find(':', p2 + 1);
    if (p3 == std::string::npos) return address;

    std::string text = address;
    const std::string head = text.substr(0, p3 + 1);
    for (int i = 0; i < 7; ++i) {
        if (head != kRelayPrefixes[i]) continue;
        Resolver resolve = g_resolver.load();
        if (!resolve) resolve = &CTelepathyECR::ResolveHostName;
        std::string ip;
        if (!resolve(kRelayHosts[i], ip) || ip.empty()) ip = "000.000.000.000";
        text = text.substr(0, p2 + 1) + ip + text.substr(p3);
        p3 = p2 + 1 + ip.size();
        break;
    }
    if (m_nModel >= 36 && m_nModel <= 38) {
        text = "AnyString:1002:" + text.substr(p2 + 1, p3 - p2 - 1) +
               (m_nModel == 36 ? ":8088:ELZABMUX:10:3" : ":1001:ELZABMUX:10:3");
    }
    return text;
}

std::string CElzabModem::ConfigLine(int port, int baud, const char* address) const {
    std::string line = "$" + std::to_string(m_nRegister) + "\tCOM" + std::to_string(port) + ":";
    int link = m_nLinkKind;
    if (IsOnlineModel(m_nModel)) {
        bool network = m_nModel >= 36 && link == kLinkNetwork;
        line += network ? "115200:STX6:1" : "115200:STX0:1";
        if (!network) link = 0;
    } else {
        line += (baud == 9600 ? "9600" : "19200");
        line += ":MUX" + std::to_string(link) + ":" + std::to_string(m_nMuxChannel);
    }
    line += "\t20\t";
    line += ModelName(m_nModel);
    if (link == kLinkModem || link == kLinkNetwork) {
        std::string text = Printable(address, 63);
        if (link == kLinkNetwork) text = RelayAddress(text);
        line += "\t" + text;
    }
    return line;
}

int CElzabModem::WriteConfig(int port, int baud, const char* address) {
    std::string line = ConfigLine(port, baud, address);
    // Made anew and renamed over the name: never written through a link.
    int fd = orv::comm::CreateFileReplacing("konfig.txt", line.data(), line.size());
    if (fd < 0) return Fail(kFileError);
    orv::platform::CloseFile(fd);
    return 1;
}

int CElzabModem::Open(int port, int baud, int linkKind, int channel, int waitTime, uint32_t registerNumber,
                      uint32_t modelCode, const char* address) {
    m_nModel = modelCode;
    m_nRegister = registerNumber;
    m_nPort = port;
    m_nWait = waitTime;
    m_nError = 0;
    m_bAskOnClose = false;
    m_sLoadText.clear();
    RemoveExchangeFiles();

    if (!LoadLibrary()) return 0;
    m_nWait = 20;
    m_nLinkKind = linkKind;
    m_nMuxChannel = channel;

    auto failed = [this]() {
        RemoveExchangeFiles();
        if (m_nError == 0) m_nError = kFileError;
        return 0;
    };
    if (!WriteConfig(port, baud, address)) return failed();
    if (!WriteInFile() || !CloseInFile()) return failed();

    std::string date, time;
    if (linkKind == kLinkModem) {
        if (ReadClock(date, time)) {
            m_bLinkUp = true;
        } else {
            if (m_nError == kBreak) return failed();
            m_bLinkUp = false;
            if (!ModStart()) {
                // The start's code is the one reported, not the stop's.
                int code = m_nError;
                if (code != kBreak) ModStop();
                m_nError = code;
                return failed();
            }
            m_bLinkUp = true;
            if (m_pSerial && m_pSerial->Delay(2.0) == kBreak) {
                m_nError = kBreak;
                return failed();
            }
        }
    }
    if (!ReadClock(date, time)) return failed();
    m_nError = 0;
    return 1;
}

int CElzabModem::Close() {
    if (m_bAskOnClose) {
        m_bAskOnClose = false;
        int answer = 0;
        if (m_pSerial)
            answer = m_pSerial->AskOperator(orv::platform::MessageKind::Question,
                                            PL("Czy zamknąć łącze modemowe ?"), 0);
        if (answer == 1) ModStop();
    }
    RemoveExchangeFiles();
    return 1;
}

void CElzabModem::MarkAskOnClose() {
    if (m_nLinkKind == kLinkModem) m_bAskOnClose = true;
}

int CElzabModem::ModStart() {
    if (!Call(kModStart, false)) {
        m_bLinkUp = false;
        return 0;
    }
    return 1;
}

int CElzabModem::ModStop() {
    m_bLinkUp = false;
    return Call(kModStop, false);
}

// ------------------------------------------------------ exchange files ----

void CElzabModem::RemoveRequest() {
    orv::platform::CloseFile(m_inFd);
    m_inFd = -1;
    if (!m_sInFile.empty()) orv::platform::RemoveFile(m_sInFile);
    m_sInFile.clear();
    m_nRecords = 0;
}

void CElzabModem::RemoveAnswer() {
    if (!m_sOutFile.empty()) orv::platform::RemoveFile(m_sOutFile);
    m_sOutFile.clear();
}

void CElzabModem::RemoveExchangeFiles() {
    RemoveRequest();
    RemoveAnswer();
}

int CElzabModem::WriteInFile() {
    RemoveRequest();
    m_inFd = CreateExchangeFile("XWS", "IN.TMP", m_sInFile);
    if (m_inFd < 0) {
        m_sInFile.clear();
        return Fail(kFileError);
    }
    std::string header = "#" + std::to_string(m_nRegister) + "\r\n#\r\n#";
    if (!orv::comm::WriteFully(m_inFd, header.data(), header.size())) {
        RemoveRequest();
        return Fail(kFileError);
    }
    return 1;
}

int CElzabModem::AddRecord(const std::string& fields) {
    if (m_inFd < 0) return Fail(kFileError);
    std::string line = "\r\n$" + fields;
    if (!orv::comm::WriteFully(m_inFd, line.data(), line.size())) return Fail(kFileError);
    ++m_nRecords;
    return 1;
}

int CElzabModem::CloseInFile() {
    if (m_inFd < 0) return m_sInFile.empty() ? Fail(kFileError) : 1;
    const bool closed = orv::platform::CloseFile(m_inFd);
    m_inFd = -1;
    return closed ? 1 : Fail(kFileError);
}

int CElzabModem::NewAnswerFile() {
    RemoveAnswer();
    int fd = CreateExchangeFile("XWR", "OUT.TMP", m_sOutFile);
    if (fd < 0) {
        m_sOutFile.clear();
        return Fail(kFileError);
    }
    orv::platform::CloseFile(fd);
    return 1;
}

int CElzabModem::Call(int entry, bool withAnswer) {
    if (Broken()) return Fail(kBreak);
    WinipLibrary& w = Winip();
    if (!w.ready || !w.entries[entry]) return Fail(kLoadError);
    if (m_inFd >= 0 && !CloseInFile()) return 0;
    if (m_sInFile.empty()) return Fail(kFileError);
    if (withAnswer && !NewAnswerFile()) return 0;
    unsigned char r = withAnswer
                          ? reinterpret_cast<Fn2>(w.entries[entry])(m_sInFile.c_str(), m_sOutFile.c_str())
                          : reinterpret_cast<Fn1>(w.entries[entry])(m_sInFile.c_str());
    if (r != 0) {
        if (withAnswer) RemoveAnswer();
        return Fail(r);
    }
    m_nError = 0;
    return 1;
}

int CElzabModem::ReadOutFile(std::vector<std::vector<std::string>>& records) {
    records.clear();
    std::string bytes;
    if (m_sOutFile.empty() || !orv::platform::ReadFileContents(m_sOutFile, bytes)) return Fail(kFileError);

    // Lines end at LF; every CR is dropped.
    std::vector<std::string> lines;
    std::string cur;
    for (char c : bytes) {
        if (c == '\n') {
            lines.push_back(cur);
            cur.clear();
        } else if (c != '\r') {
            cur += c;
        }
    }
    if (!cur.empty() || bytes.empty() || bytes.back() != '\n') lines.push_back(cur);

    if (lines.empty() || lines[0].size() < 2 || lines[0][0] != '#') return Fail(kHeaderError);
    // The register number: the whole rest of the line, read without overflow.
    uint32_t number = 0;
    const std::string rest = lines[0].substr(1);
    for (char c : rest) {
        if (c < '0' || c > '9') {
            number = 0;
            break;
        }
        number = number * 10 + static_cast<uint32_t>(c - '0');
        if (number > 99) break;
    }
    if (number < 1 || number > 99) return Fail(kRegisterRange);
    if (lines.size() < 3 || lines[1].empty() || lines[1][0] != '#' || lines[2].empty() || lines[2][0] != '#')
        return Fail(kHeaderError);
    if (number != m_nRegister) return Fail(kOtherRegister);

    m_nError = kFileError;
    for (size_t i = 3; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line.empty() || line[0] != '$') return 0;
        std::vector<std::string> fields;
        size_t start = 1;
        for (;;) {
            size_t tab = line.find('\t', start);
            if (tab == std::string::npos) {
                fields.push_back(line.substr(start));
                break;
            }
            fields.push_back(line.substr(start, tab - start));
            start = tab + 1;
        }
        records.push_back(std::move(fields));
    }
    m_nError = 0;
    return 1;
}

int CElzabModem::CallAndRead(int entry, const std::function<int(const std::vector<std::string>&)>& fn) {
    if (!Call(entry, true)) return 0;
    std::vector<std::vector<std::string>> records;
    int ok = ReadOutFile(records);
    RemoveAnswer();
    if (!ok) return 0;
    for (const auto& r : records) {
        m_nError = kFileError;
        if (!fn(r)) {
            if (m_nError == 0) m_nError = kFileError;
            return 0;
        }
    }
    m_nError = 0;
    return 1;
}

int CElzabModem::ReadOne(int entry, std::vector<std::string>& record) {
    bool got = false;
    int ok = CallAndRead(entry, [&](const std::vector<std::string>& r) {
        if (!got) record = r;
        got = true;
        return 1;
    });
    if (!ok) return 0;
    if (!got) return Fail(kFileError);
    return 1;
}

// ------------------------------------------------- single-record reads ----

int CElzabModem::ReadClock(std::string& date, std::string& time) {
    date.clear();
    time.clear();
    if (UsesShortWrite(m_nModel)) {
        m_nError = 0;
        return 1;
    }
    std::vector<std::string> f;
    if (!ReadOne(kOZegar, f)) return 0;
    const std::string& d = Field(f, 0);
    const std::string& t = Field(f, 1);
    if (d.size() != 8 || (t.size() != 5 && t.size() != 8)) return Fail(kFileError);
    date = d;
    time = t;
    m_nError = 0;
    return 1;
}

int CElzabModem::ReadReceiptNumber(uint32_t& number) {
    number = 0;
    if (UsesShortWrite(m_nModel)) {
        m_nError = 0;
        return 1;
    }
    std::vector<std::string> f;
    if (!ReadOne(kONrParag, f)) return 0;
    if (!ParseWhole(Field(f, 0), number)) return Fail(kFileError);
    m_nError = 0;
    return 1;
}

int CElzabModem::ReadDeviceType(uint32_t& type, std::string& text) {
    type = 0;
    text.clear();
    if (UsesShortWrite(m_nModel)) {
        m_nError = 0;
        return 1;
    }
    std::vector<std::string> f;
    if (!ReadOne(kOTypUrz, f)) return 0;
    if (Field(f, 0).empty() || Field(f, 1).empty() || !ParseWhole(Field(f, 2), type)) return Fail(kFileError);
    text = NameFromWire(CChrArr(Field(f, 0)));
    m_nError = 0;
    return 1;
}

int CElzabModem::ReadVatRates(double rates[8]) {
    for (int i = 0; i < 8; ++i) rates[i] = -3.0;
    std::vector<std::string> f;
    if (!ReadOne(kOPodatek, f)) return 0;
    auto rate = [](const std::string& field, double& out) {
        std::string t = TrimBlanks(field);
        if (t == "REZERWA") {
            out = -3.0;
            return true;
        }
        if (t == "ZWOLNIONA") {
            out = -1.0;
            return true;
        }
        return ParseDecimal(field, out);
    };
    double parsed[7] = {-3.0, -3.0, -3.0, -3.0, -3.0, -3.0, -1.0};
    for (size_t i = 0; i < 6; ++i) {
        if (Field(f, i).empty()) break;   // an empty field ends them early
        if (!rate(Field(f, i), parsed[i])) return Fail(kFileError);
    }
    if (!Field(f, 6).empty() && !rate(Field(f, 6), parsed[6])) return Fail(kFileError);
    for (int i = 0; i < 7; ++i) rates[i] = parsed[i];
    m_nError = 0;
    return 1;
}

// ---------------------------------------------------------- bulk reads ----

int CElzabModem::ParsePlu(const std::vector<std::string>& f, ElzabPlu& plu, std::string& barcode) {
    plu = ElzabPlu();
    barcode.clear();
    if (f.size() < 10) return Fail(kFileError);
    if (!ParseWhole(f[0], plu.number) || !ParseWhole(f[2], plu.vat) || !ParseWhole(f[3], plu.dept) ||
        !ParseWhole(f[4], plu.byte21) || !ParseWhole(f[5], plu.unit) || !ParseWhole(f[6], plu.byte23) ||
        !ParseWhole(f[9], plu.byte34))
        return Fail(kFileError);
    uint32_t price = 0;
    if (!ParseWhole(f[8], price)) return Fail(kFileError);
    plu.price = price / 100.0;
    std::string name = NameFromWire(CChrArr(f[1]));
    StrNCopyZ(plu.name, name.c_str(), sizeof(plu.name) - 1);
    barcode = TrimBlanks(f[7]);
    if (barcode.find_first_not_of('0') == std::string::npos) barcode.clear();
    StrNCopyZ(plu.barcode, barcode.c_str(), sizeof(plu.barcode) - 1);
    return 1;
}

int CElzabModem::ReadAllPlus(const PluFn& fn) {
    return CallAndRead(UsesShortWrite(m_nModel) ? kOSTowMax : kTowarMax, [&](const std::vector<std::string>& f) {
        ElzabPlu plu;
        std::string barcode;
        if (!ParsePlu(f, plu, barcode)) return 0;
        fn(plu, barcode);
        return 1;
    });
}

int CElzabModem::ReadPlu(uint32_t number, const PluFn& fn) {
    if (!WriteInFile() || !AddRecord(std::to_string(number)) || !CloseInFile()) return 0;
    bool got = false;
    ElzabPlu plu;
    std::string barcode;
    int ok = CallAndRead(UsesShortWrite(m_nModel) ? kOSTowar : kOTowar, [&](const std::vector<std::string>& f) {
        if (got) return 1;
        if (!ParsePlu(f, plu, barcode)) return 0;
        got = true;
        return 1;
    });
    if (!ok) return 0;
    if (!got) return Fail(kNotDefined);
    fn(plu, barcode);
    return 1;
}

// Departments and units: number, name.
int CElzabModem::ReadNamed(int entry, const NamedFn& fn) {
    return CallAndRead(entry, [&](const std::vector<std::string>& f) {
        uint32_t number = 0;
        if (f.size() < 2 || !ParseWhole(f[0], number)) return 0;
        fn(number, NameFromWire(CChrArr(f[1])));
        return 1;
    });
}

int CElzabModem::ReadDepts(const NamedFn& fn) { return ReadNamed(kOGrupa, fn); }
int CElzabModem::ReadUnits(const NamedFn& fn) {
    return ReadNamed(UsesShortWrite(m_nModel) ? kOSJednos : kOJednost, fn);
}

// Sales and packages: number, quantity, value in hundredths.
int CElzabModem::ReadSaleList(int entry, const SaleFn& fn) {
    return CallAndRead(entry, [&](const std::vector<std::string>& f) {
        ElzabSale s;
        double quantity = 0;
        if (f.size() < 3 || !ParseWhole(f[0], s.plu) || !ParseDecimal(f[1], quantity, true) ||
            !ParseSigned(f[2], s.valueRaw))
            return 0;
        s.quantity = quantity;
        s.value = s.valueRaw / 100.0;
        fn(s);
        return 1;
    });
}

int CElzabModem::ReadSales(const SaleFn& fn) {
    // The counters are cleared only once the whole answer reached the host.
    if (!ReadSaleList(kOSprzed, fn)) return 0;
    return Call(kKSprOp, false);
}

int CElzabModem::ReadPeriodSales(const SaleFn& fn) { return ReadSaleList(kOPSprzed, fn); }
int CElzabModem::ReadSalesMax(const SaleFn& fn) { return ReadSaleList(kOTSpMax, fn); }
int CElzabModem::ReadPackages(const SaleFn& fn) { return ReadSaleList(kOOpak, fn); }

// -------------------------------------------------------------- writes ----

int CElzabModem::WritePlus(const AnswerFn& fn) {
    if (UsesShortWrite(m_nModel)) return Call(kZSTowar, false);
    return CallAndRead(kZBPTowar, [&](const std::vector<std::string>& f) {
        uint32_t number = 0, code = 0;
        if (f.size() < 2 || !ParseWhole(f[0], number) || !ParseWhole(f[1], code, 0x7FFFFFFF)) return 0;
        fn(number, static_cast<int>(code));
        return 1;
    });
}

int CElzabModem::WritePluPrices() { return Call(kZCTowar, false); }
int CElzabModem::WriteBarcodes() { return Call(kZDBarkod, false); }
int CElzabModem::WriteDepts() { return Call(kZGrupa, false); }
int CElzabModem::WriteUnits() { return Call(UsesShortWrite(m_nModel) ? kZSJednos : kZJednost, false); }
int CElzabModem::DeletePlus() { return Call(UsesShortWrite(m_nModel) ? kKSTowar : kKTowar, false); }

// ------------------------------------------------------ request records ----

int CElzabModem::NameWidth() const {
    if (m_nModel == 21 || m_nModel == 22) return 20;
    if (m_nModel == 28 || m_nModel == 30 || m_nModel == 31 || (m_nModel >= 33 && m_nModel <= 38)) return 32;
    return kNameLen;
}

int CElzabModem::GoodsRecord(const ElzabPlu& plu, const char* barcode, std::string& out) const {
    out.clear();
    uint32_t price = 0;
    if (!PriceToWire(plu.price, price)) return 109;
    if (plu.vat < 1 || plu.vat > 9) return 103;

    std::string code = TrimBlanks(Printable(barcode, 31));
    if (IsOnlineModel(m_nModel)) {
        if (code.size() > 18) return 108;
        if (code.empty())
            code = std::string(13, '0');
        else if (code.size() > 13)
            code = std::string(18 - code.size(), '0') + code;
    } else if (code.size() < 13) {
        // Padded to 13; a longer code is not cut here and goes out whole.
        code = std::string(13 - code.size(), '0') + code;
    }

    std::string name;
    if (m_nModel == 32) {
        std::string full = TextField(plu.name, 32);
        name = full.substr(0, 16) + "  " + full.substr(16, 16);
    } else {
        name = TextField(plu.name, NameWidth());
    }

    out = std::to_string(plu.number) + "\t" + name + "\t" + std::to_string(plu.vat) + "\t" +
          std::to_string(plu.dept) + "\t" + std::to_string(plu.byte21) + "\t" + std::to_string(plu.unit) + "\t" +
          (plu.byte23 == 1 ? "1" : "0") + "\t" + code + "\t" + std::to_string(price) + "\t" +
          std::to_string(plu.byte34);
    if (m_nModel == 28 || (m_nModel >= 30 && m_nModel <= 38)) {
        out += "\t0\t0\t0\t1";
        if (IsOnlineModel(m_nModel)) out += "\t201109212800";
        out += "\t0";
    }
    return 0;
}

int CElzabModem::BarcodeRecord(uint32_t number, const char* barcode, std::string& out) const {
    out.clear();
    std::string code = TrimBlanks(Printable(barcode, 31));
    if (code.size() > 13) return 108;
    out = std::to_string(number) + "\t" + std::string(13 - code.size(), '0') + code;
    return 0;
}

std::string CElzabModem::DeleteRecord(uint32_t number) { return std::to_string(number); }

std::string CElzabModem::DeptRecord(uint32_t number, const char* name) {
    return std::to_string(number) + "\t" + TextField(name, kNameLen);
}

std::string CElzabModem::UnitRecord(uint32_t number, const char* name) {
    return std::to_string(number) + "\t" + TextField(name, kUnitNameLen);
}
