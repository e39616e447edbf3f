// The file-exchange scales under hostile conditions: result files that are
// mutated, cut off, deeply nested, huge or wrongly encoded; host records
// with every byte in their names, unterminated fields and out-of-range or
// NaN numbers; transfer programs that crash, cannot be executed, hang,
// ignore SIGTERM or write garbage; breaks at random moments. Every case is
// seed-driven and bounded.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <pugixml.hpp>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "drivers/cas/ccas_xml.h"
#include "drivers/cas/ccas_xml_ecr.h"
#include "drivers/proxima/cmpr_ecr.h"
#include "util/cp1250_unicode.h"
#include "drivers/cas/scales_fixture.h"

namespace {

using namespace orv::test;
using Clock = std::chrono::steady_clock;

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

template <size_t N>
bool Terminated(const char (&field)[N]) {
    return strnlen(field, N) < N;
}

// What the host may rely on in every goods record it is handed.
void ExpectWellFormed(const EcrItemRecord& r, const std::string& where) {
    EXPECT_TRUE(Terminated(r.code) && Terminated(r.name) && Terminated(r.code2) && Terminated(r.text236) &&
                Terminated(r.text252))
        << where;
    for (const auto& line : r.scale_text) EXPECT_TRUE(Terminated(line)) << where;
    EXPECT_TRUE(std::isfinite(r.price) && std::isfinite(r.price2) && std::isfinite(r.vat_rate) &&
                std::isfinite(r.amount))
        << where << " price " << r.price << " price2 " << r.price2;
    EXPECT_EQ(r.unit, 1u) << where;
}

void ExpectWellFormed(const CasPluRecord& r, const std::string& where) {
    EXPECT_TRUE(Terminated(r.barcode) && Terminated(r.name) && Terminated(r.text)) << where;
    for (const auto& line : r.lines) EXPECT_TRUE(Terminated(line)) << where;
    ExpectWellFormed(CCAS_XML_ECR::ToHost(r), where);
}

const std::string kPluFile =
    "<?xml version=\"1.0\" encoding=\"windows-1250\"?>\r\n"
    "<CAS_POLSKA>\r\n"
    "  <!-- a note -->\r\n"
    "  <Dane>\r\n"
    "    <REKORD>\r\n"
    "      <PLU>12</PLU>\r\n"
    "      <Nazwa01>Jab\xB3ka \x9Cwie\xBF\x65</Nazwa01>\r\n"
    "      <Nazwa02>Polskie</Nazwa02>\r\n"
    "      <Nazwa03><![CDATA[a & b]]></Nazwa03>\r\n"
    "      <BarCode>5900000000001234</BarCode>\r\n"
    "      <UnitPrice>349</UnitPrice>\r\n"
    "      <SpecialPrice>299.5</SpecialPrice>\r\n"
    "      <TaxNo>2</TaxNo>\r\n"
    "      <Department>3</Department>\r\n"
    "      <PluType>3</PluType>\r\n"
    "      <PriceType>1</PriceType>\r\n"
    "      <SellDate>7</SellDate>\r\n"
    "    </REKORD>\r\n"
    "    <REKORD><PLU>13</PLU><Nazwa01>Ser</Nazwa01><UnitPrice>1e999</UnitPrice></REKORD>\r\n"
    "  </Dane>\r\n"
    "</CAS_POLSKA>\r\n";

const std::string kDeptFile =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<CAS_POLSKA><Dane>\r\n"
    "  <REKORD NO=\"5\" NAME=\"Nabia\xC5\x82 &amp; sery\"/>\r\n"
    "  <REKORD NO=\"6\" NAME=\"Pieczywo\"/>\r\n"
    "</Dane></CAS_POLSKA>\r\n";

// Pieces that tend to upset a parser or a decoder.
const char* const kSnippets[] = {
    "<",        ">",         "&",          "&#0;",         "&#x80;",    "&#xFFFF;", "&#1114111;", "<![CDATA[",
    "]]>",      "<!--",      "-->",        "<?pi",         "?>",        "<REKORD>", "</REKORD>",  "<PLU>",
    "</PLU>",   "<PLU>4294967296</PLU>",   "<UnitPrice>nan</UnitPrice>", "<UnitPrice>-inf</UnitPrice>",
    "<SpecialPrice>1e400</SpecialPrice>",  "<UnitPrice>0x1p1023</UnitPrice>", "\xC5",      "\xF0\x9F\x98",
    "\xFF\xFE", "\xEF\xBB\xBF",            "\x81\x83\x88\x90\x98",        "<Nazwa01>",  "</Nazwa01>",
    "<REKORD NO=\"-1\" NAME=\"",           "\"/>",       "<!DOCTYPE x [<!ENTITY e \"&e;&e;\">]>", "&e;",
    "encoding=\"UTF-16\"",                 "encoding='windows-1250'",      "" /* a zero byte */,
};

std::string Mutate(std::string text, std::mt19937& rng) {
    auto pick = [&](size_t n) { return n == 0 ? size_t{0} : static_cast<size_t>(rng() % n); };
    const int rounds = 1 + static_cast<int>(rng() % 4);
    for (int k = 0; k < rounds; ++k) {
        switch (rng() % 7) {
        case 0:   // a byte replaced
            if (!text.empty()) text[pick(text.size())] = static_cast<char>(rng());
            break;
        case 1:   // cut off
            text.resize(pick(text.size() + 1));
            break;
        case 2: {   // a snippet inserted
            const size_t n = sizeof kSnippets / sizeof kSnippets[0];
            const size_t i = pick(n);
            const std::string piece = i == n - 1 ? std::string(1, '\0') : std::string(kSnippets[i]);
            text.insert(pick(text.size() + 1), piece);
            break;
        }
        case 3: {   // a range removed
            const size_t at = pick(text.size() + 1);
            text.erase(at, pick(40));
            break;
        }
        case 4: {   // a range repeated
            const size_t at = pick(text.size() + 1);
            const std::string part = text.substr(at, pick(200));
            text.insert(at, part);
            break;
        }
        case 5: {   // random bytes inserted
            std::string junk(pick(16) + 1, '\0');
            for (char& c : junk) c = static_cast<char>(rng());
            text.insert(pick(text.size() + 1), junk);
            break;
        }
        default:   // a very long text inside an element
            text.insert(pick(text.size() + 1), std::string(pick(5000), static_cast<char>('A' + rng() % 26)));
            break;
        }
    }
    return text;
}

class ScalesRobust : public ScaleTest {
protected:
    // Parses `bytes` as both kinds of result file; checks that the outcome
    // is consistent and every record well formed.
    void ParseBoth(const std::string& bytes, const std::string& where, size_t* plus = nullptr) {
        dir.Write("result.xml", bytes);
        std::vector<CasPluRecord> recs;
        const int r = xml.ParsePLUFile(dir.File("result.xml"), [&](const CasPluRecord& rec) { recs.push_back(rec); });
        EXPECT_EQ(xml.m_nError, r == 1 ? 0 : 9999) << where;
        if (r != 1) {
            EXPECT_TRUE(recs.empty()) << where;
        }
        for (const auto& rec : recs) ExpectWellFormed(rec, where);
        if (plus) *plus = recs.size();

        std::vector<CasDeptRecord> depts;
        const int d = xml.ParseDeptFile(dir.File("result.xml"), [&](const CasDeptRecord& rec) { depts.push_back(rec); });
        EXPECT_EQ(xml.m_nError, d == 1 ? 0 : 9999) << where;
        for (const auto& rec : depts) {
            EXPECT_TRUE(Terminated(rec.name)) << where;
            const EcrDeptRecord host = CCAS_XML_ECR::ToHost(rec);
            EXPECT_TRUE(Terminated(host.name) && std::isfinite(host.price)) << where;
        }
    }
    CCas_XML xml;
};

TEST_F(ScalesRobust, MutatedResultFilesNeverYieldBrokenRecords) {
    const std::string bases[] = {kPluFile, Cp1250ToUtf8(kPluFile), kDeptFile};
    for (uint32_t seed = 1; seed <= 2000; ++seed) {
        std::mt19937 rng(seed);
        const std::string text = Mutate(bases[seed % 3], rng);
        ParseBoth(text, "seed " + std::to_string(seed));
        if (HasFatalFailure() || HasFailure()) return;
    }
}

TEST_F(ScalesRobust, NonNumbersInPriceFieldsReachTheHostAsZero) {
    const struct {
        const char* text;
        double price;
    } cases[] = {{"nan", 0.0},    {"-nan", 0.0},  {"inf", 0.0},      {"-Infinity", 0.0},
                 {"1e999", 0.0},  {"-1e999", 0.0}, {"349", 3.49},    {"abc", 0.0}};
    for (const auto& c : cases) {
        size_t n = 0;
        std::vector<CasPluRecord> recs;
        dir.Write("r.xml", std::string("<A><REKORD><PLU>1</PLU><UnitPrice>") + c.text + "</UnitPrice><SpecialPrice>" +
                               c.text + "</SpecialPrice></REKORD></A>");
        ASSERT_EQ(xml.ParsePLUFile(dir.File("r.xml"), [&](const CasPluRecord& r) { recs.push_back(r); }), 1);
        n = recs.size();
        ASSERT_EQ(n, 1u) << c.text;
        EXPECT_DOUBLE_EQ(recs[0].unitPrice, c.price) << c.text;
        EXPECT_DOUBLE_EQ(recs[0].specialPrice, c.price) << c.text;
    }
}

TEST_F(ScalesRobust, ExtremeShapesOfResultFiles) {
    // Nesting far deeper than any stack would bear in a recursive walk.
    {
        std::string deep = "<A>";
        for (int i = 0; i < 200000; ++i) deep += "<n>";
        deep += "<REKORD><PLU>7</PLU></REKORD>";
        for (int i = 0; i < 200000; ++i) deep += "</n>";
        deep += "</A>";
        size_t n = 0;
        ParseBoth(deep, "deep", &n);
        EXPECT_EQ(n, 1u);
        // The same cut off in the middle: refused.
        ParseBoth(deep.substr(0, deep.size() / 2), "deep cut");
    }
    // Many records.
    {
        std::string many = "<A>";
        for (int i = 1; i <= 50000; ++i)
            many += "<REKORD><PLU>" + std::to_string(i) + "</PLU><Nazwa01>" + std::string(60, 'x') + "</Nazwa01></REKORD>";
        many += "</A>";
        size_t n = 0;
        ParseBoth(many, "many", &n);
        EXPECT_EQ(n, 50000u);
    }
    // Larger than any scale's result file may be: refused at once.
    {
        std::string huge = "<A>" + std::string(64u * 1024u * 1024u, ' ') + "</A>";
        ParseBoth(huge, "huge");
        EXPECT_EQ(xml.m_nError, 9999);
    }
    // Encodings: UTF-16 in either order, a declared encoding that is not
    // known, a declaration that lies about its bytes, a bare BOM.
    const std::string cases[] = {
        std::string("\xFF\xFE<\0A\0>\0<\0/\0A\0>\0", 16),
        std::string("\xFE\xFF\0<\0A\0>\0<\0/\0A\0>", 16),
        "<?xml version=\"1.0\" encoding=\"UTF-16\"?><A/>",
        "<?xml version=\"1.0\" encoding=\"\"?><A/>",
        "<?xml version=\"1.0\" encoding=windows-1250?><A/>",
        "<?xml encoding=\"UTF-8\"?><A><REKORD><PLU>1</PLU><Nazwa01>\xB3\xEA\xFF\xC5</Nazwa01></REKORD></A>",
        "<?xml encoding=\"windows-1250\"?><A><REKORD><PLU>1</PLU><Nazwa01>\xC5\x82\xC3</Nazwa01></REKORD></A>",
        "\xEF\xBB\xBF",
        "<?xml",
        "<?xml?>",
        std::string("<A><REKORD><PLU>1\0</PLU></REKORD></A>", 37),
    };
    for (const auto& c : cases) ParseBoth(c, "encoding case");
}

// ---- hostile host records ----

struct Draft {
    uint32_t plu;
    double price;
    double special;
    uint32_t dept;
    std::string name;   // up to 48 bytes, possibly without a terminator
};

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

Draft RandomDraft(std::mt19937& rng) {
    static const uint32_t plus[] = {0, 1, 2, 9999, 10000, 10001, 0xFFFFFFFFu, 0x80000000u, 500};
    static const double prices[] = {kNaN,    kInf,    -kInf,    -0.0,   -0.01,  0.0,   0.005,
                                    9999.99, 9999.995, 9999.999, 10000.0, 1e300, 4.9e-324, 3.49};
    static const uint32_t depts[] = {0, 1, 50, 99, 100, 0xFFFFFFFFu};
    Draft d;
    d.plu = rng() % 3 == 0 ? plus[rng() % 9] : 1 + rng() % 10000;
    d.price = rng() % 2 ? prices[rng() % 14] : (rng() % 1200000) / 100.0;
    d.special = rng() % 4 ? 0.0 : prices[rng() % 14];
    d.dept = rng() % 3 == 0 ? depts[rng() % 6] : 1 + rng() % 99;
    const size_t len = rng() % 49;
    for (size_t i = 0; i < len; ++i) d.name += static_cast<char>(1 + rng() % 255);
    return d;
}

EcrItemRecord ItemOf(const Draft& d) {
    EcrItemRecord it = ScaleItem(d.plu, "", d.price, d.dept);
    it.price2 = d.special;
    std::memcpy(it.name, d.name.data(), d.name.size());   // 48 bytes: no terminator
    return it;
}

bool PriceFits(double p) { return std::isfinite(p) && p >= 0.0 && std::trunc(p * 100.0 + 0.1) <= 999999.0; }

// The name as the job file carries it, read back: at most 24 bytes,
// controls as blanks, bytes the code page lacks as '?'.
std::string NameAsReadBack(const std::string& name) {
    std::string out = name.substr(0, 24);
    for (char& c : out) {
        const auto b = static_cast<uint8_t>(c);
        if (b < 0x20) c = ' ';
        if (b == 0x81 || b == 0x83 || b == 0x88 || b == 0x90 || b == 0x98) c = '?';
    }
    return out;
}

TEST_F(ScalesRobust, HostileGoodsRecordsMakeWellFormedJobFiles) {
    dir.InstallFake("CASCale.exe");
    for (uint32_t seed = 1; seed <= 30; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        std::vector<Draft> drafts(1 + rng() % 12);
        for (auto& d : drafts) d = RandomDraft(rng);
        std::vector<EcrItemRecord> items;
        for (const auto& d : drafts) items.push_back(ItemOf(d));
        std::filesystem::remove(dir.File("fake_calls.txt"));
        std::filesystem::remove(dir.File("call0_XWS_QUERY.xml"));
        Host().Reset();
        CCAS_XML_ECR logic;
        const int code = Run(logic, 111, kJobPgmPlu, &items);

        std::vector<const Draft*> accepted;
        std::vector<std::pair<uint32_t, int>> refused;
        int last = 0;
        for (const auto& d : drafts) {
            last = d.plu - 1u > 9999u ? 105 : !PriceFits(d.price) ? 109 : 0;
            if (last) refused.emplace_back(d.plu, last);
            else accepted.push_back(&d);
        }
        EXPECT_EQ(code, last);
        const auto confirms = Host().Confirmations();
        ASSERT_EQ(confirms.size(), refused.size());
        for (size_t i = 0; i < confirms.size(); ++i) {
            EXPECT_EQ(confirms[i].number, refused[i].first);
            EXPECT_EQ(confirms[i].code, refused[i].second);
            EXPECT_FALSE(confirms[i].text.empty());
        }
        ASSERT_EQ(dir.Calls().size(), accepted.empty() ? 0u : 1u);
        if (accepted.empty()) continue;

        // The job file parses and carries exactly the accepted records.
        const std::string job = Cp1250ToUtf8(dir.Read("call0_XWS_QUERY.xml").value_or(""));
        pugi::xml_document doc;
        ASSERT_TRUE(doc.load_buffer(job.data(), job.size(), pugi::parse_default, pugi::encoding_utf8));
        size_t i = 0;
        for (pugi::xml_node rec : doc.child("CAS_POLSKA").child("Dane").children("REKORD")) {
            ASSERT_LT(i, accepted.size());
            const Draft& d = *accepted[i++];
            EXPECT_EQ(rec.attribute("PLU").as_uint(), d.plu);
            EXPECT_EQ(rec.attribute("ITEMCODE").as_uint(), d.plu);
            EXPECT_EQ(rec.attribute("UNITPRICE").as_double(), std::trunc(d.price * 100.0 + 0.1));
            EXPECT_EQ(Utf8ToCp1250(rec.attribute("NAZWA01").value()), NameAsReadBack(d.name));
        }
        EXPECT_EQ(i, accepted.size());
    }
}

TEST_F(ScalesRobust, HostileGoodsRecordsMakeWellFormedExportLines) {
    dir.InstallFake("wmplw.exe");
    for (uint32_t seed = 100; seed < 125; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        std::vector<Draft> drafts(1 + rng() % 12);
        for (auto& d : drafts) d = RandomDraft(rng);
        std::vector<EcrItemRecord> items;
        for (const auto& d : drafts) items.push_back(ItemOf(d));
        std::filesystem::remove(dir.File("fake_calls.txt"));
        std::filesystem::remove(dir.File("call0_MEDESA.EXP"));
        Host().Reset();
        CMPR_ECR logic;
        const int code = Run(logic, 113, kJobPgmPlu, &items);

        size_t accepted = 0;
        int last = 0;
        std::vector<int> refusals;
        for (const auto& d : drafts) {
            last = d.plu - 1u > 9999u                          ? 105
                   : !PriceFits(d.price) || !PriceFits(d.special) ? 109
                   : d.dept < 1 || d.dept > 99                    ? 110
                                                                  : 0;
            if (last) refusals.push_back(last);
            else ++accepted;
        }
        EXPECT_EQ(code, last);
        const auto confirms = Host().Confirmations();
        ASSERT_EQ(confirms.size(), refusals.size());
        for (size_t i = 0; i < confirms.size(); ++i) EXPECT_EQ(confirms[i].code, refusals[i]);
        ASSERT_EQ(dir.Calls().size(), accepted ? 1u : 0u);
        if (!accepted) continue;
        const std::string file = dir.Read("call0_MEDESA.EXP").value_or("");
        ASSERT_EQ(file.size(), accepted * 140);
        for (size_t at = 0; at < file.size(); at += 140) {
            const std::string line = file.substr(at, 140);
            EXPECT_EQ(line.substr(138), "\r\n");
            for (size_t k = 0; k < 138; ++k) EXPECT_GE(static_cast<uint8_t>(line[k]), 0x20) << k;
        }
    }
}

// ---- transfer programs that misbehave ----

class ScaleProgramFaults : public ScalesRobust {
protected:
    CCAS_XML_ECR logic;
};

TEST_F(ScaleProgramFaults, ProgramsThatFailOrCannotRunFailTheJob) {
    const struct {
        const char* what;
        std::function<void(WorkDir&)> prepare;
        int code;
    } cases[] = {
        {"crashes after writing its result",
         [](WorkDir& d) {
             d.InstallFake("CASCale.exe");
             d.Write("fake_result", kPluFile);
             d.Write("fake_signal", std::to_string(SIGSEGV));
         },
         9999},
        {"is killed", [](WorkDir& d) {
             d.InstallFake("CASCale.exe");
             d.Write("fake_result", kPluFile);
             d.Write("fake_signal", std::to_string(SIGKILL));
         },
         9999},
        {"writes garbage", [](WorkDir& d) {
             d.InstallFake("CASCale.exe");
             d.Write("fake_result", std::string("\x01\x02<<&&\xFF", 7));
         },
         9999},
        {"writes nothing", [](WorkDir& d) { d.InstallFake("CASCale.exe"); }, 9999},
        {"is not executable", [](WorkDir& d) { d.Write("CASCale.exe", "MZ\x90"); }, 9999},
        {"is no program", [](WorkDir& d) {
             d.Write("CASCale.exe", "\x7F" "ELF garbage");
             ::chmod(d.File("CASCale.exe").c_str(), 0755);
         },
         9999},
        {"is a directory", [](WorkDir& d) { std::filesystem::create_directory(d.File("CASCale.exe")); }, 9999},
        {"is a dangling link", [](WorkDir& d) { std::filesystem::create_symlink("/nonexistent/x", d.File("CASCale.exe")); },
         9999},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WorkDir fresh;
        c.prepare(fresh);
        Host().Reset();
        EXPECT_EQ(Run(logic, 111, kJobReadAllPlu), c.code);
        EXPECT_NE(std::string(logic.GetErrorMessage()), "");
        EXPECT_EQ(Host().CountEvents(ECR_EVENT_FAILED), 1);
        EXPECT_EQ(Host().CountEvents(ECR_EVENT_SUCCEEDED), 0);
        EXPECT_TRUE(Host().Items().empty());
    }
}

// Whatever the host does with SIGCHLD, a crash of the program is no
// success: neither the system nor the host's handler may take its status.
TEST_F(ScaleProgramFaults, ProgrammingWithACrashingProgramIsNoSuccess) {
    const struct {
        const char* what;
        void (*handler)(int);
    } hosts[] = {{"default SIGCHLD", SIG_DFL}, {"SIGCHLD ignored", SIG_IGN}, {"reaping handler", &ReapEveryChild}};
    dir.InstallFake("CASCale.exe");
    dir.Write("fake_signal", std::to_string(SIGSEGV));
    std::vector<EcrItemRecord> items = {ScaleItem(1, "A", 1.0), ScaleItem(2, "B", 2.0)};
    for (const auto& h : hosts) {
        SCOPED_TRACE(h.what);
        int programmed = 0, programSucceeded = 0, deleted = 0;
        {
            const HostSigchld host(h.handler, SA_RESTART);
            Host().Reset();
            programmed = Run(logic, 111, kJobPgmPlu, &items);
            programSucceeded = Host().CountEvents(ECR_EVENT_SUCCEEDED);
            Host().Reset();
            deleted = Run(logic, 111, kJobDelPlu, &items);
        }

        EXPECT_EQ(programmed, 9999);
        EXPECT_EQ(programSucceeded, 0);
        EXPECT_EQ(deleted, 9999);
        // The loop goes on to the next item, as after any failed item.
        const auto confirms = Host().Confirmations();
        ASSERT_EQ(confirms.size(), items.size());
        for (const auto& c : confirms) EXPECT_EQ(c.code, 9999);
    }
}

// A temporary directory whose name holds XML's special characters: the job
// file stays well formed and names the result file exactly; one that
// cannot be written to fails the job.
TEST_F(ScaleProgramFaults, OddTemporaryDirectories) {
    dir.InstallFake("CASCale.exe");
    const std::string odd = dir.File("a&b<c>d\"e'f \x01g");
    std::filesystem::create_directory(odd);
    ::setenv("TMPDIR", (odd + "//").c_str(), 1);
    EXPECT_EQ(Run(logic, 111, kJobReadAllPlu), 9999);   // the fake does not decode the name
    const auto calls = dir.Calls();
    ASSERT_EQ(calls.size(), 1u);
    ASSERT_EQ(calls[0].size(), 3u);
    EXPECT_EQ(calls[0][2], odd + "/XWS_QUERY.xml");
    const std::string job = Cp1250ToUtf8(dir.Read("call0_XWS_QUERY.xml").value_or(""));
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_buffer(job.data(), job.size(), pugi::parse_default, pugi::encoding_utf8));
    // Control bytes become blanks in the file, like those of host names.
    std::string expected = odd + "/XWR_PLU.XML";
    for (char& c : expected)
        if (static_cast<uint8_t>(c) < 0x20) c = ' ';
    EXPECT_EQ(std::string(doc.child("CAS_POLSKA").child("Komunikacja").child_value("OUTPUTFILE")), expected);

    for (const char* bad : {"/nonexistent/dir", "/dev/null"}) {
        SCOPED_TRACE(bad);
        ::setenv("TMPDIR", bad, 1);
        Host().Reset();
        EXPECT_EQ(Run(logic, 111, kJobReadAllPlu), 9999);
        std::vector<EcrItemRecord> items = {ScaleItem(1, "A", 1.0)};
        EXPECT_EQ(Run(logic, 111, kJobPgmPlu, &items), 9999);
        EXPECT_EQ(Host().CountEvents(ECR_EVENT_SUCCEEDED), 0);
    }
    ::setenv("TMPDIR", dir.Path().c_str(), 1);
    EXPECT_EQ(dir.Calls().size(), 1u);   // no program ran without a job file
}

// A break reaches what the program started in turn.
TEST_F(ScaleProgramFaults, ABreakEndsTheProgramsOwnChildrenToo) {
    dir.Write("CASCale.exe", "#!/bin/sh\nsleep 60 &\necho $! > child_pid\necho $$ > fake_pid\nwait\n");
    ::chmod(dir.File("CASCale.exe").c_str(), 0755);
    int child = 0;
    std::thread breaker([&] {
        dir.WaitForPid();
        const auto end = Clock::now() + std::chrono::seconds(10);
        while (child == 0 && Clock::now() < end) {
            child = std::atoi(dir.Read("child_pid").value_or("0").c_str());
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        serial.Break();
        logic.Break();
    });
    EXPECT_EQ(Run(logic, 111, kJobReadAllPlu), -7);
    breaker.join();
    ASSERT_GT(child, 0);
    // The orphan is reaped by whoever adopted it, if anyone: ended is gone
    // or a zombie.
    auto ended = [child] {
        if (ProcessGone(child)) return true;
        const std::string stat = ReadText("/proc/" + std::to_string(child) + "/stat");
        const size_t close = stat.rfind(')');
        return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z';
    };
    const auto end = Clock::now() + std::chrono::seconds(5);
    while (!ended() && Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(ended());
}

// Writing records never waits, so a break given during a long programming
// loop must still end it at once: no further item, no confirmation after
// the break, no program run, -7.
TEST_F(ScaleProgramFaults, ABreakEndsALongProgrammingLoopAtOnce) {
    dir.InstallFake("CASCale.exe");
    dir.InstallFake("wmplw.exe");
    std::vector<EcrItemRecord> items;
    for (uint32_t i = 0; i < 20000; ++i) items.push_back(ScaleItem(i % 7 ? 1 + i % 10000 : 0, "Ser", 1.0));
    for (int type : {111, 113}) {
        SCOPED_TRACE(type);
        Host().Reset();
        int events = 0;
        size_t confirmsAtBreak = 0;
        CCAS_XML_ECR cas;
        CMPR_ECR proxima;
        CLogicECR& logic = type == 111 ? static_cast<CLogicECR&>(cas) : static_cast<CLogicECR&>(proxima);
        Host().SetEventHook([&](const HostEvent& e) {
            if (e.code != ECR_EVENT_ITEM || ++events != 100) return;
            confirmsAtBreak = Host().Confirmations().size();
            serial.Break();
            logic.Break();
        });
        EXPECT_EQ(Run(logic, type, kJobPgmPlu, &items), -7);
        Host().SetEventHook(nullptr);
        EXPECT_EQ(events, 100);
        EXPECT_EQ(Host().Confirmations().size(), confirmsAtBreak);
        EXPECT_TRUE(dir.Calls().empty());
    }
}

// A host that takes its time with each record read: a break given while
// the records of a result file are handed over stops the hand-over before
// the next record, and the job ends with -7.
struct SlowHost {
    static inline std::atomic<int> handed{0};
    static inline CTelepathy* serial = nullptr;
    static inline CLogicECR* logic = nullptr;
    static void Count() {
        if (++handed == 100) {
            serial->Break();
            logic->Break();
        }
    }
    static void ECR_CALL OnItem(const EcrItemRecord*) { Count(); }
    static void ECR_CALL OnDept(const EcrDeptRecord*) { Count(); }
};

TEST_F(ScaleProgramFaults, ABreakStopsTheHandOverOfALongResult) {
    dir.InstallFake("CASCale.exe");
    for (const uint32_t job : {kJobReadAllPlu, kJobReadAllDept}) {
        SCOPED_TRACE(job);
        std::string result = "<A>";
        for (int i = 1; i <= 5000; ++i)
            result += job == kJobReadAllPlu ? "<REKORD><PLU>" + std::to_string(i) + "</PLU></REKORD>"
                                            : "<REKORD NO=\"" + std::to_string(i) + "\" NAME=\"D\"/>";
        dir.Write("fake_result", result + "</A>");
        Host().Reset();
        CCAS_XML_ECR fresh;
        SlowHost::handed = 0;
        SlowHost::serial = &serial;
        SlowHost::logic = &fresh;
        EcrDeviceRecord dev = DeviceRecord(111, static_cast<int>(kScaleAddress));
        PrepareJobBlock(job, dev);
        g_jobBlock.itemReadCb = &SlowHost::OnItem;
        g_jobBlock.deptReadCb = &SlowHost::OnDept;
        RunJob(fresh, job, &serial, &socket);
        EXPECT_EQ(fresh.GetErrorCode(), -7);
        EXPECT_EQ(SlowHost::handed.load(), 100);
        const auto failed = Host().EventsWithCode(ECR_EVENT_FAILED);
        ASSERT_EQ(failed.size(), 1u);
        EXPECT_EQ(failed[0].value, -7);
    }
}

// A break at a random moment of a read, a programming or a delete job: the
// job ends soon with -7 (or had ended by itself), the program is gone, and
// nothing refused or half-done is reported as accepted.
TEST_F(ScaleProgramFaults, BreaksAtRandomMoments) {
    orv::platform::SetTimeScale(0.05);   // grace before SIGKILL: 150 ms; the pause 50 ms
    dir.InstallFake("CASCale.exe");
    dir.Write("fake_result", kPluFile);
    const uint32_t jobs[] = {kJobReadAllPlu, kJobPgmPlu, kJobDelPlu};
    for (uint32_t seed = 1; seed <= 18; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        if (rng() % 2) dir.Write("fake_sleep", "0.3");
        else std::filesystem::remove(dir.File("fake_sleep"));
        if (rng() % 3 == 0) dir.Write("fake_ignore_term", "");
        else std::filesystem::remove(dir.File("fake_ignore_term"));
        std::filesystem::remove(dir.File("fake_pid"));
        std::vector<EcrItemRecord> items;
        for (int i = 0, n = 1 + static_cast<int>(rng() % 4); i < n; ++i)
            items.push_back(ScaleItem(i % 3 ? i + 1 : 0, "X", 1.0));
        const uint32_t job = jobs[seed % 3];
        const int delayMs = static_cast<int>(rng() % 400);
        Host().Reset();
        CCAS_XML_ECR fresh;
        Clock::time_point brokeAt{};
        std::thread breaker([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            brokeAt = Clock::now();
            serial.Break();
            fresh.Break();
        });
        const int code = Run(fresh, 111, job, &items);
        const auto ended = Clock::now();
        breaker.join();
        if (code == -7) {
            // 50 ms, plus the grace a program that ignores SIGTERM gets.
            EXPECT_LT(ended - brokeAt, std::chrono::milliseconds(150 + 400));
            EXPECT_TRUE(Host().Items().empty());
            const auto failed = Host().EventsWithCode(ECR_EVENT_FAILED);
            ASSERT_EQ(failed.size(), 1u);
            EXPECT_EQ(failed[0].value, -7);
        } else {
            EXPECT_TRUE(code == 0 || code == 105) << code;
        }
        for (const auto& c : Host().Confirmations()) EXPECT_NE(c.code, 0);
        const std::string pid = dir.Read("fake_pid").value_or("");
        if (!pid.empty()) {
            EXPECT_TRUE(ProcessGone(std::atoi(pid.c_str())));
        }
        // A fresh line for the next round.
        serial.ClearBreak();
    }
}

// The process runner alone: short and hanging programs, breaks set and
// cleared at random moments (also before the start and after the end).
// Each run ends as the program or the break decides, soon after a break,
// and leaves no child unreaped.
TEST(ProcessRunnerRobust, BreaksAtRandomMomentsLeaveNothingBehind) {
    orv::platform::SetTimeScale(0.02);   // grace before SIGKILL: 60 ms
    orv::platform::SystemProcessRunner runner;
    for (uint32_t seed = 1; seed <= 60; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        const int exitCode = static_cast<int>(rng() % 256);
        const bool hang = rng() % 2;
        const bool ignoreTerm = hang && rng() % 2;
        const std::string script = std::string(ignoreTerm ? "trap '' TERM; " : "") +
                                   (hang ? "sleep 5; " : "") + "exit " + std::to_string(exitCode);
        orv::platform::BreakSignal brk;
        if (rng() % 5 == 0) {   // a break given and taken back before the start
            brk.Set();
            brk.Clear();
        }
        const int delayMs = static_cast<int>(rng() % 60);
        const bool breakAtAll = hang || rng() % 2;
        Clock::time_point brokeAt = Clock::time_point::max();
        std::thread breaker([&] {
            if (!breakAtAll) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            brokeAt = Clock::now();
            brk.Set();
        });
        const orv::platform::ProcessResult r = runner.Run("/bin/sh", {"-c", script}, &brk);
        const auto ended = Clock::now();
        breaker.join();
        if (r.outcome == orv::platform::kProcessEnded) {
            EXPECT_FALSE(hang);
            EXPECT_EQ(r.exitCode, exitCode);
            EXPECT_EQ(r.termSignal, 0);
        } else {
            ASSERT_EQ(r.outcome, orv::platform::kProcessBroken);
            EXPECT_TRUE(breakAtAll);
            // 50 ms, plus the grace for a program that ignores SIGTERM.
            EXPECT_LT(ended - brokeAt, std::chrono::milliseconds(ignoreTerm ? 60 + 300 : 300));
        }
        int status = 0;
        EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);   // no child of ours is left
    }
    orv::platform::SetTimeScale(1.0);
}

// A host out of descriptors: the runner cannot open its process descriptor
// and waits the plain way, which must still report the program's end, see
// a break soon and reap the program.
TEST(ProcessRunnerRobust, WorksWithoutAFreeDescriptor) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // The sanitizer runtimes open descriptors of their own to check memory
    // (and then report false errors): this case runs in the plain build.
    GTEST_SKIP() << "needs a build without sanitizers";
#endif
    orv::platform::SetTimeScale(0.02);
    orv::platform::SystemProcessRunner runner;
    orv::platform::BreakSignal brk;   // made while descriptors are still free
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
    rlimit tight = old;
    tight.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    std::vector<int> filler;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) filler.push_back(fd);
    const bool exhausted = errno == EMFILE;

    const orv::platform::ProcessResult ended = runner.Run("/bin/sh", {"-c", "exit 7"}, &brk);
    std::thread breaker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        brk.Set();
    });
    const auto start = Clock::now();
    const orv::platform::ProcessResult broken = runner.Run("/bin/sh", {"-c", "sleep 5"}, &brk);
    const auto took = Clock::now() - start;
    breaker.join();

    for (int fd : filler) ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &old);
    orv::platform::SetTimeScale(1.0);

    EXPECT_TRUE(exhausted);
    EXPECT_EQ(ended.outcome, orv::platform::kProcessEnded);
    EXPECT_EQ(ended.exitCode, 7);
    EXPECT_EQ(broken.outcome, orv::platform::kProcessBroken);
    EXPECT_LT(took, std::chrono::milliseconds(200 + 300));
    int status = 0;
    EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);   // reaped
}

}  // namespace
