#include "drivers/cas/ccas_xml.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <pugixml.hpp>

#include "comm/telepathy.h"
#include "comm/temp_files.h"
#include "drivers/common/record_fields.h"
#include "util/cp1250_unicode.h"
#include "platform/files.h"
#include "platform/message_hook.h"

namespace {

constexpr const char* kJobFileName = "XWS_QUERY.xml";
constexpr const char* kPluResultName = "XWR_PLU.XML";
constexpr const char* kDeptResultName = "XWR_DEPT.XML";
constexpr const char* kTransferProgram = "./CASCale.exe";
constexpr const char* kSeparatorLine = "<!-- ######################################################## -->";
constexpr size_t kMaxResultSize = 64u * 1024u * 1024u;

template <size_t N>
std::string FieldText(const char (&field)[N], size_t width) {
    return std::string(field, strnlen(field, width < N ? width : N));
}

std::string Decimal(uint32_t v) { return std::to_string(v); }

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

enum class Encoding { Utf8, Cp1250, Unknown };

// The encoding the XML declaration names (UTF-8 without one).
Encoding DeclaredEncoding(const std::string& bytes, size_t& skip) {
    skip = 0;
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        skip = 3;
        return Encoding::Utf8;
    }
    if (bytes.compare(0, 5, "<?xml") != 0) return Encoding::Utf8;
    const size_t end = bytes.find("?>");
    if (end == std::string::npos) return Encoding::Unknown;
    const std::string decl = bytes.substr(0, end);
    size_t at = decl.find("encoding");
    if (at == std::string::npos) return Encoding::Utf8;
    at += 8;
    while (at < decl.size() && (decl[at] == ' ' || decl[at] == '\t' || decl[at] == '\r' || decl[at] == '\n')) ++at;
    if (at >= decl.size() || decl[at] != '=') return Encoding::Unknown;
    ++at;
    while (at < decl.size() && (decl[at] == ' ' || decl[at] == '\t' || decl[at] == '\r' || decl[at] == '\n')) ++at;
    if (at >= decl.size() || (decl[at] != '"' && decl[at] != '\'')) return Encoding::Unknown;
    const char quote = decl[at++];
    const size_t close = decl.find(quote, at);
    if (close == std::string::npos) return Encoding::Unknown;
    const std::string name = Lower(decl.substr(at, close - at));
    if (name == "utf-8" || name == "utf8" || name == "us-ascii" || name == "ascii") return Encoding::Utf8;
    if (name == "windows-1250" || name == "cp1250" || name == "x-cp1250") return Encoding::Cp1250;
    return Encoding::Unknown;
}

bool IsBlankText(const char* s) {
    for (; *s; ++s)
        if (*s != ' ' && *s != '\t' && *s != '\r' && *s != '\n') return false;
    return true;
}

uint32_t UnsignedValue(const std::string& cp1250) {
    return static_cast<uint32_t>(StrToNum(CChrArr(cp1250), 10, 0));
}

// Hundredths as currency units; a value that is no finite number ("nan",
// "inf", an exponent beyond the double range) counts as not given: 0.
double HundredthsValue(const std::string& cp1250) {
    const double v = TextToDouble(CChrArr(cp1250)) / 100.0;
    return std::isfinite(v) ? v : 0.0;
}

// Depth first over the tree below (and including) root, each node before
// its children, children in sibling order. No recursion: nesting depth is
// the file's business.
template <class Visit>
void WalkTree(pugi::xml_node root, Visit&& visit) {
    pugi::xml_node node = root;
    while (node) {
        visit(node);
        if (node.first_child()) {
            node = node.first_child();
            continue;
        }
        while (node && node != root && !node.next_sibling()) node = node.parent();
        if (!node || node == root) break;
        node = node.next_sibling();
    }
}

}  // namespace

CCas_XML::CCas_XML() : m_runner(&orv::platform::DefaultProcessRunner()) {}

CCas_XML::~CCas_XML() { CloseJobFile(); }

int CCas_XML::Open(uint32_t address, int /*kind*/, int /*word7*/, int /*word8*/) {
    m_nError = 0;
    m_address = address;
    return 1;
}

void CCas_XML::Close() { CloseJobFile(); }

// Transport codes (a break, a lost line) keep the line's own text.
std::string CCas_XML::GetErrorText(int code) {
    return code >= -10 && code <= -1 ? SerialErrorText(code) : "Cas_XML";
}

void CCas_XML::SetProcessRunner(orv::platform::ProcessRunner* runner) {
    m_runner = runner ? runner : &orv::platform::DefaultProcessRunner();
}

std::string CCas_XML::JobFilePath() const { return orv::platform::TempDirectory() + "/" + kJobFileName; }
std::string CCas_XML::PluResultPath() const { return orv::platform::TempDirectory() + "/" + kPluResultName; }
std::string CCas_XML::DeptResultPath() const { return orv::platform::TempDirectory() + "/" + kDeptResultName; }


std::string CCas_XML::Escape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += static_cast<uint8_t>(c) < 0x20 ? ' ' : c; break;
        }
    }
    return out;
}

// ------------------------------------------------------------ job file

void CCas_XML::CloseJobFile() {
    orv::platform::CloseFile(m_jobFd);
    m_jobFd = -1;
    m_bJobFileOpen = 0;
}

int CCas_XML::WriteBytesLine(const CChrArr& bytes) {
    if (!m_bJobFileOpen) return 0;
    CChrArr line = bytes;
    line += "\r\n";
    if (!orv::comm::WriteFully(m_jobFd, line.data(), static_cast<size_t>(line.GetLength()))) {
        m_writeFailed = true;
        return 0;
    }
    return 1;
}

int CCas_XML::WriteLine(const std::string& text) { return WriteBytesLine(CChrArr(text)); }

int CCas_XML::WriteHead(Job job) {
    CloseJobFile();
    m_writeFailed = false;
    m_jobFd = orv::comm::CreateTempFile(kJobFileName);
    if (m_jobFd < 0) {
        m_nError = CAS_ERR_GENERAL;
        return 0;
    }
    m_bJobFileOpen = 1;

    const char* comment = nullptr;
    const char* action = nullptr;
    switch (job) {
    case Job::Send:
        comment = "<!-- # Xml file for sending PLU scale                       # -->";
        action = "<AKCJA>WYSYLKA</AKCJA>";
        break;
    case Job::Delete:
        comment = "<!-- # Xml file for deleting PLU scale                      # -->";
        action = "<AKCJA>KASOWANIE</AKCJA>";
        break;
    case Job::ReadPlu:
    case Job::ReadDept:
        comment = "<!-- # Xml file for reading PLU scale                       # -->";
        action = "<AKCJA>ODBIOR</AKCJA>";
        break;
    }
    WriteLine("<?xml version=\"1.0\" encoding=\"windows-1250\"?>");
    WriteLine(kSeparatorLine);
    WriteLine("<!-- # Dorvik dla Windows                                   # -->");
    WriteLine(comment);
    WriteLine(kSeparatorLine);
    WriteLine("<CAS_POLSKA>");
    WriteLine("<Komunikacja>");
    WriteLine("<Typ>TCPIP</Typ>");
    WriteLine("<Adres>" + DottedAddress(m_address) + "</Adres>");
    WriteLine("<Port>20304</Port>");
    WriteLine("<BaudRate>57200</BaudRate>");
    WriteLine("<Interval>5000</Interval>");
    WriteLine("<Retry>3</Retry>");
    WriteLine("<TYPWAGI>LP</TYPWAGI>");
    WriteLine("<RODZAJWAGI>CL5000</RODZAJWAGI>");
    WriteLine("<PASEKPOSTEPU>1</PASEKPOSTEPU>");
    WriteLine("<DEBUGMESS>1</DEBUGMESS>");
    WriteLine(action);
    if (job == Job::ReadPlu || job == Job::ReadDept) {
        WriteLine("<OUTPUTFILE>" + Escape(m_resultPath) + "</OUTPUTFILE>");
        WriteLine("<OUTPUTFORMAT>XML</OUTPUTFORMAT>");
    }
    WriteLine(job == Job::ReadDept ? "<TYPDANYCH>DEPART</TYPDANYCH>" : "<TYPDANYCH>PLU</TYPDANYCH>");
    WriteLine("</Komunikacja>");
    if (job == Job::Send) WriteLine("<DEFAULT DEPARTMENT=\"1\" PLUTYPE=\"1\"/>");
    WriteLine("<Dane>");
    if (m_writeFailed) {
        CloseJobFile();
        m_nError = CAS_ERR_GENERAL;
        return 0;
    }
    return 1;
}

int CCas_XML::BeginSendJob() {
    m_nError = 0;
    return WriteHead(Job::Send);
}

int CCas_XML::WritePluRecord(const CasPluRecord& rec) {
    m_nError = 0;
    if (rec.plu - 1u > 9999u) {
        m_nError = CAS_ERR_PLU_RANGE;
        return 0;
    }
    uint32_t units = 0;
    if (!ScaleHundredths(rec.unitPrice, units)) {
        m_nError = CAS_ERR_PRICE_RANGE;
        return 0;
    }
    const std::string plu = Decimal(rec.plu);
    const std::string line = "<REKORD PLU=\"" + plu + "\" NAZWA01=\"" + Escape(FieldText(rec.name, 24)) +
                             "\" UNITPRICE=\"" + Decimal(units) + "\" ITEMCODE=\"" + plu +
                             "\" />";
    if (m_bJobFileOpen && !WriteLine(line)) {
        m_nError = CAS_ERR_GENERAL;
        return 0;
    }
    return 1;
}

int CCas_XML::WriteJobFooter() {
    if (!m_bJobFileOpen) return 1;
    WriteLine("</Dane>");
    WriteLine("</CAS_POLSKA>");
    const bool failed = m_writeFailed;
    CloseJobFile();
    if (failed) {
        m_nError = CAS_ERR_GENERAL;
        return 0;
    }
    return 1;
}

// ------------------------------------------------------------ running

int CCas_XML::PauseBeforeRun() {
    if (m_pSerial && m_pSerial->Delay(1.0) == -7) {
        m_nError = -7;
        return 0;
    }
    return 1;
}

int CCas_XML::RunCASCale() { return RunTransferProgram(*this, *m_runner, kTransferProgram, {JobFilePath()}); }

int CCas_XML::DeletePLURange(const CasPluRecord& rec) {
    m_nError = 0;
    m_resultPath.clear();
    if (!WriteHead(Job::Delete)) return 0;
    const std::string plu = Decimal(rec.plu);
    WriteLine("<REKORD PLUSTART=\"" + plu + "\" PLUKONIEC=\"" + plu + "\"/>");
    if (!WriteJobFooter()) return 0;
    if (!PauseBeforeRun()) return 0;
    return RunCASCale();
}

int CCas_XML::RunReadJob(Job job, const std::string& resultPath) {
    m_nError = 0;
    m_resultPath = resultPath;
    // A result left by an earlier job must never be taken for this one's.
    const int removed = orv::platform::RemoveFile(resultPath);
    if (removed != 0 && removed != ENOENT) {
        m_nError = CAS_ERR_GENERAL;
        return 0;
    }
    if (!WriteHead(job)) return 0;
    WriteLine(job == Job::ReadDept ? "<REKORD START=\"0\" KONIEC=\"99\"/>"
                                   : "<REKORD PLUSTART=\"0\" PLUKONIEC=\"999999\"/>");
    if (!WriteJobFooter()) return 0;
    if (!PauseBeforeRun()) return 0;
    return RunCASCale();
}

int CCas_XML::ReadPLUs(const PluCallback& callback) {
    if (!RunReadJob(Job::ReadPlu, PluResultPath())) return 0;
    return ParsePLUFile(m_resultPath, callback);
}

int CCas_XML::ReadDepartments(const DeptCallback& callback) {
    if (!RunReadJob(Job::ReadDept, DeptResultPath())) return 0;
    return ParseDeptFile(m_resultPath, callback);
}

// ------------------------------------------------------------ result files

// The file as UTF-8 text, whichever of the two encodings it declares.
int CCas_XML::LoadResult(const std::string& path, std::string& utf8) {
    m_nError = CAS_ERR_GENERAL;
    // Something other than a plain file standing under the name (a FIFO
    // nobody writes to, a link) is refused rather than waited on or followed.
    const int fd = orv::platform::OpenPlainFileForReading(path);
    if (fd < 0) return 0;
    std::string bytes;
    const bool ok = orv::platform::ReadToEnd(fd, bytes, kMaxResultSize);
    orv::platform::CloseFile(fd);
    if (!ok) return 0;

    size_t skip = 0;
    switch (DeclaredEncoding(bytes, skip)) {
    case Encoding::Utf8: utf8 = bytes.substr(skip); break;
    case Encoding::Cp1250: utf8 = Cp1250ToUtf8(bytes); break;
    case Encoding::Unknown: return 0;
    }
    m_nError = 0;
    return 1;
}

int CCas_XML::ParsePLUFile(const std::string& path, const PluCallback& callback) {
    std::string text;
    if (!LoadResult(path, text)) return 0;
    pugi::xml_document doc;
    const unsigned options = pugi::parse_default | pugi::parse_comments | pugi::parse_pi;
    if (!doc.load_buffer(text.data(), text.size(), options, pugi::encoding_utf8) || !doc.document_element()) {
        m_nError = CAS_ERR_GENERAL;
        return 0;
    }

    CasPluRecord rec;
    std::memset(&rec, 0, sizeof rec);
    bool pending = false;
    std::string current;
    auto hand = [&]() {
        pending = false;
        if (callback) callback(rec);
    };
    WalkTree(doc.document_element(), [&](pugi::xml_node node) {
        const pugi::xml_node_type type = node.type();
        if (type == pugi::node_element) {
            current = node.name();
            if (current == "REKORD") {
                if (pending) hand();
                std::memset(&rec, 0, sizeof rec);   // each record starts empty
            }
            return;
        }
        // Comments and processing instructions change nothing; CDATA is text.
        if (type != pugi::node_pcdata && type != pugi::node_cdata) return;
        if (IsBlankText(node.value())) return;
        const std::string value = Utf8ToCp1250(node.value());
        if (current == "PLU") {
            rec.plu = UnsignedValue(value);
            pending = true;
        } else if (current == "Department") {
            rec.department = UnsignedValue(value);
        } else if (current == "PluType") {
            const uint32_t t = UnsignedValue(value);
            rec.pluType = t == 1 ? 1 : (t == 2 || t == 3) ? 2 : 0;
        } else if (current == "Nazwa01") {
            CopyTextField(rec.name, value.substr(0, 24));
            CopyTextField(rec.lines[0], value.substr(0, 24));
        } else if (current == "Nazwa02") {
            CopyTextField(rec.lines[1], value.substr(0, 24));
        } else if (current == "Nazwa03") {
            CopyTextField(rec.lines[2], value.substr(0, 24));
        } else if (current == "BarCode") {
            CopyTextField(rec.barcode, value.substr(0, 13));
        } else if (current == "UnitPrice") {
            rec.unitPrice = HundredthsValue(value);
        } else if (current == "TaxNo") {
            rec.taxNo = UnsignedValue(value);
        } else if (current == "SpecialPrice") {
            rec.specialPrice = HundredthsValue(value);
        } else if (current == "PriceType") {
            rec.priceType = UnsignedValue(value);
        } else if (current == "SellDate") {
            rec.sellDate = UnsignedValue(value);
        }
    });
    if (pending) hand();
    m_nError = 0;
    return 1;
}

int CCas_XML::ParseDeptFile(const std::string& path, const DeptCallback& callback) {
    std::string text;
    if (!LoadResult(path, text)) return 0;
    pugi::xml_document doc;
    if (!doc.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8) ||
        !doc.document_element()) {
        m_nError = CAS_ERR_GENERAL;
        return 0;
    }
    WalkTree(doc.document_element(), [&](pugi::xml_node node) {
        if (node.type() != pugi::node_element || std::strcmp(node.name(), "REKORD") != 0) return;
        CasDeptRecord dept;
        std::memset(&dept, 0, sizeof dept);
        bool complete = false;
        for (pugi::xml_attribute a : node.attributes()) {
            if (std::strcmp(a.name(), "NO") == 0) {
                dept.number = UnsignedValue(Utf8ToCp1250(a.value()));
            } else if (std::strcmp(a.name(), "NAME") == 0) {
                CopyTextField(dept.name, Utf8ToCp1250(a.value()).substr(0, 24));
                complete = true;
            }
        }
        if (complete && callback) callback(dept);
    });
    m_nError = 0;
    return 1;
}
