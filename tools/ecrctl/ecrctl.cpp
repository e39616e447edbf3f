// ecrctl: an example host of liborvanta. It takes the device record's fields
// on the command line, runs one job, shows the job's events with a progress
// bar, prints the records the library hands back (as a table or as CSV) and
// ends with the library's error code and text.
//
// Uses only the public header and the shared library, as a host does.
#include <orvanta/ecr.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "csv_input.h"

namespace {

using namespace ecrctl;

// ---- texts: the library speaks CP1250, the terminal UTF-8 ----

// ---- output shared with the worker thread's callbacks ----

std::mutex g_out;
bool g_quiet = false;
bool g_csvOut = false;
bool g_progressShown = false;
volatile sig_atomic_t g_interrupted = 0;

// The first Ctrl-C breaks the job off; a second one quits at once.
void OnSigint(int) {
    if (g_interrupted) _exit(130);
    g_interrupted = 1;
}

void EndProgressLine() {
    if (g_progressShown) {
        std::fputc('\n', stderr);
        g_progressShown = false;
    }
}

void ECR_CALL OnProgress(int event, const char* text, int percent, int value) {
    std::lock_guard<std::mutex> lock(g_out);
    if (g_quiet) return;
    std::string t = ToUtf8(text);
    if (event == ECR_EVENT_ITEM) {
        int p = percent < 0 ? 0 : percent > 100 ? 100 : percent;
        const int width = 30;
        int filled = p * width / 100;
        std::string bar(static_cast<size_t>(filled), '#');
        bar.append(static_cast<size_t>(width - filled), '.');
        if (isatty(STDERR_FILENO)) {
            std::fprintf(stderr, "\r[%s] %3d%% %-40.40s", bar.c_str(), p, t.c_str());
            g_progressShown = true;
        } else {
            std::fprintf(stderr, "[%s] %3d%% %s\n", bar.c_str(), p, t.c_str());
        }
        std::fflush(stderr);
        return;
    }
    EndProgressLine();
    static const char* const kNames[] = {"",       "opening",    "job",   "",       "wait",      "item",
                                         "device error", "failed", "system error", "bulk", "succeeded", "closed"};
    const char* name = (event >= 0 && event <= 11) ? kNames[event] : "event";
    std::fprintf(stderr, "* %s (%d)", name, event);
    if (!t.empty()) std::fprintf(stderr, ": %s", t.c_str());
    if (value != 0) std::fprintf(stderr, " [%d]", value);
    std::fputc('\n', stderr);
}

// ---- records as a table or CSV ----

struct Table {
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> rows;
};

Table g_table;

std::string CsvField(const std::string& s) {
    if (s.find_first_of(";\"\r\n") == std::string::npos) return s;
    std::string q = "\"";
    for (char c : s) {
        if (c == '"') q += '"';
        q += c;
    }
    return q + "\"";
}

void PrintTable(const Table& t) {
    if (t.header.empty()) return;
    if (g_csvOut) {
        for (size_t i = 0; i < t.header.size(); ++i) std::printf("%s%s", i ? ";" : "", t.header[i].c_str());
        std::printf("\n");
        for (const auto& r : t.rows) {
            for (size_t i = 0; i < r.size(); ++i) std::printf("%s%s", i ? ";" : "", CsvField(r[i]).c_str());
            std::printf("\n");
        }
        return;
    }
    // Widths in characters (UTF-8 continuation bytes do not count).
    auto chars = [](const std::string& s) {
        size_t n = 0;
        for (unsigned char c : s) n += (c & 0xC0) != 0x80;
        return n;
    };
    std::vector<size_t> w(t.header.size());
    for (size_t i = 0; i < w.size(); ++i) w[i] = chars(t.header[i]);
    for (const auto& r : t.rows)
        for (size_t i = 0; i < r.size() && i < w.size(); ++i) w[i] = std::max(w[i], chars(r[i]));
    auto line = [&](const std::vector<std::string>& r) {
        for (size_t i = 0; i < r.size(); ++i) {
            std::printf("%s%s", i ? "  " : "", r[i].c_str());
            if (i + 1 < r.size()) std::printf("%*s", static_cast<int>(w[i] - chars(r[i])), "");
        }
        std::printf("\n");
    };
    line(t.header);
    std::vector<std::string> rule;
    for (size_t x : w) rule.push_back(std::string(x, '-'));
    line(rule);
    for (const auto& r : t.rows) line(r);
    std::printf("(%zu record%s)\n", t.rows.size(), t.rows.size() == 1 ? "" : "s");
}

std::string Num(double v) {
    char b[64];
    std::snprintf(b, sizeof b, "%.2f", v);
    return b;
}
std::string Num(long long v) { return std::to_string(v); }
// A text field of a record, without the blanks a device pads its fields with.
std::string Text(const char* field, size_t size) {
    std::string s(field, strnlen(field, size));
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return ToUtf8(s.c_str());
}

void AddRow(std::vector<std::string> row) {
    std::lock_guard<std::mutex> lock(g_out);
    g_table.rows.push_back(std::move(row));
}

const std::vector<std::string> kItemHeader = {"number", "code", "name", "vat", "dept", "price", "unit"};
std::vector<std::string> ItemRow(const EcrItemRecord& r) {
    return {Num(static_cast<long long>(r.number)), Text(r.code, sizeof r.code), Text(r.name, sizeof r.name),
            Num(static_cast<long long>(r.vat_group)), Num(static_cast<long long>(r.department)), Num(r.price),
            Num(static_cast<long long>(r.unit))};
}

void ECR_CALL OnItem(const EcrItemRecord* r) {
    if (r) AddRow(ItemRow(*r));
}

void ECR_CALL OnSale(const EcrItemRecord* item, const EcrSaleRecord* s) {
    if (!s) return;
    AddRow({Num(static_cast<long long>(s->plu)), Text(s->code, sizeof s->code), Text(s->name, sizeof s->name),
            Num(s->quantity), Num(s->value), Text(s->text, sizeof s->text),
            item ? Num(static_cast<long long>(item->number)) : std::string()});
}

void ECR_CALL OnDept(const EcrDeptRecord* d) {
    if (d)
        AddRow({Num(static_cast<long long>(d->number)), Text(d->name, sizeof d->name),
                Num(static_cast<long long>(d->vat_group)), Num(d->price)});
}

void ECR_CALL OnUnit(const EcrUnitRecord* u) {
    if (u) AddRow({Num(static_cast<long long>(u->number)), Text(u->name, sizeof u->name)});
}

std::string Rate(double v) {
    if (v == -3.0) return "undefined";
    if (v == -1.0) return "exempt";
    return Num(v);
}

void ECR_CALL OnVat(const double vat[8]) {
    for (int i = 0; i < 8; ++i) AddRow({std::string(1, static_cast<char>('A' + i)), Rate(vat[i])});
}

void ECR_CALL OnStatus(const EcrStatusRecord* s, const double vat[8]) {
    if (!s) return;
    AddRow({"device type", Num(static_cast<long long>(s->device_type))});
    AddRow({"device", Text(s->device_text, sizeof s->device_text)});
    AddRow({"text", Text(s->text2, sizeof s->text2)});
    AddRow({"unique number", Text(s->unique_number, sizeof s->unique_number)});
    AddRow({"date", Text(s->date, sizeof s->date)});
    AddRow({"time", Text(s->time, sizeof s->time)});
    AddRow({"receipt number", Num(static_cast<long long>(s->receipt_number))});
    for (int i = 0; i < 4; ++i)
        AddRow({"status " + std::to_string(i + 1), Num(static_cast<long long>(s->status[i]))});
    std::string info = Text(s->information, sizeof s->information);
    std::string lineText;
    std::istringstream in(info);
    while (std::getline(in, lineText)) {
        if (!lineText.empty() && lineText.back() == '\r') lineText.pop_back();
        if (!lineText.empty()) AddRow({"information", lineText});
    }
    for (int i = 0; i < 8 && vat; ++i) AddRow({std::string("VAT ") + static_cast<char>('A' + i), Rate(vat[i])});
}

// Refused items, departments or units.
struct Rejection {
    std::string what;
    long long number;
    int code;
    std::string text;
};
std::vector<Rejection> g_rejections;

void Reject(const char* what, long long number, int code, const char* text) {
    std::lock_guard<std::mutex> lock(g_out);
    g_rejections.push_back({what, number, code, ToUtf8(text)});
}

void ECR_CALL OnItemProgram(const EcrItemRecord* r, int code, const char text[64]) {
    Reject("item", r ? static_cast<long long>(r->number) : 0, code, text);
}
void ECR_CALL OnDeptProgram(const EcrDeptRecord* r, int code, const char text[64]) {
    Reject("department", r ? static_cast<long long>(r->number) : 0, code, text);
}
void ECR_CALL OnUnitProgram(const EcrUnitRecord* r, int code, const char text[64]) {
    Reject("unit", r ? static_cast<long long>(r->number) : 0, code, text);
}

// ---- input ----

// ---- jobs ----

struct Options {
    EcrDeviceRecord dev{};
    std::string job;
    std::string csv;
    std::string numbers;
    bool csvGiven = false;
    bool numbersGiven = false;
    bool help = false;
};

struct JobInfo {
    const char* name;
    const char* args;
    const char* text;
};

const JobInfo kJobs[] = {
    {"read-sales", "", "read the sales counters (job 1)"},
    {"clear-sales", "", "read and clear the sales counters (job 2)"},
    {"read-plu-all", "", "read all goods (job 3)"},
    {"read-plu", "--numbers LIST", "read the goods of the given numbers (job 4)"},
    {"program-plu", "--csv FILE", "program goods from a CSV file (job 5)"},
    {"update-plu", "--csv FILE", "update goods from a CSV file (job 6)"},
    {"delete-plu", "--numbers LIST | --csv FILE", "delete the given goods (job 7)"},
    {"delete-plu-all", "", "delete all goods (job 8)"},
    {"read-dept", "", "read all departments (job 9)"},
    {"read-dept-list", "--numbers LIST", "read the given departments (job 10; no device does it: error 25)"},
    {"program-dept", "--csv FILE", "program departments from a CSV file (job 11)"},
    {"read-units", "", "read all units of measure (job 12)"},
    {"program-units", "--csv FILE", "program units of measure from a CSV file (job 13)"},
    {"read-status", "", "read the device's status and configuration (job 14)"},
    {"read-vat", "", "read the VAT rates (job 15)"},
    {"read-from-plu", "--numbers A,B", "read goods from one number on (job 16; no device does it: error 25)"},
    {"delete-from-plu", "--numbers A,B", "delete goods from one number on (job 17; no device does it: error 25)"},
    {"program-barcode", "--csv FILE", "program extra barcodes of goods from a CSV file (job 18)"},
};

void PrintHelp() {
    std::printf(
        "Usage: ecrctl [device options] JOB [job options] [output options]\n"
        "\n"
        "Runs one job on a cash register or scale through liborvanta and prints\n"
        "its events, the records it reads, and the final error code and text.\n"
        "\n"
        "Device options (the fields of the device record):\n"
        "  --type N        device type code (required)\n"
        "  --port N        serial port number 1..16, or the device's IPv4 address\n"
        "                  as dotted text for network connections (default 1)\n"
        "  --baud N        line speed (default 9600)\n"
        "  --kind N        connection kind (default 0: direct serial line)\n"
        "  --word3 N, --word4 N, --word6 N, --word7 N, --word8 N, --word9 N,\n"
        "  --word11 N      further per-family settings (word 6: multiplexer channel,\n"
        "                  word 7: register or machine number)\n"
        "  --flags N       option bits\n"
        "  --address TEXT  device address or name\n"
        "\n"
        "Jobs:\n");
    for (const JobInfo& j : kJobs) {
        std::string head = std::string(j.name) + (j.args[0] ? std::string(" ") + j.args : std::string());
        std::printf("  %-44s %s\n", head.c_str(), j.text);
    }
    std::printf(
        "A job takes only the options shown beside it.\n"
        "\n"
        "LIST: numbers and ranges separated by commas, e.g. 1,5,10-20 (a range\n"
        "holds both ends and at most 100001 numbers).\n"
        "\n"
        "CSV files (separator ';', or ','; a first line that does not start with a\n"
        "number is a header):\n"
        "  goods:        number;code;name;VAT group;department;price;unit[;VAT rate]\n"
        "  departments:  number;name;VAT group;price\n"
        "  units:        number;name\n"
        "Texts in UTF-8 (bytes that are not UTF-8 are taken as Windows-1250).\n"
        "\n"
        "Output options:\n"
        "  --csv-out       print the records as CSV instead of a table\n"
        "  --quiet         do not print the events\n"
        "  --help          this text\n"
        "\n"
        "Ctrl-C breaks the running job off (a second Ctrl-C quits at once). The\n"
        "exit status is 0 when the job succeeded with every record accepted, 1\n"
        "when it failed, was refused or refused a record, 2 for a usage error.\n");
}

int32_t ParsePort(const std::string& s) {
    // Dotted IPv4 text: first octet in the top byte.
    if (s.find('.') != std::string::npos) {
        unsigned a, b, c, d;
        char tail;
        if (std::sscanf(s.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) != 4 || a > 255 || b > 255 ||
            c > 255 || d > 255)
            throw UsageError{"bad address for --port: '" + s + "'"};
        return static_cast<int32_t>((a << 24) | (b << 16) | (c << 8) | d);
    }
    return ParseWord(s, "--port");
}

Options ParseArgs(int argc, char** argv) {
    Options o;
    o.dev.port = 1;
    o.dev.baud = 9600;
    bool haveType = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw UsageError{a + " needs a value"};
            return argv[++i];
        };
        auto word = [&](int32_t& field) { field = ParseWord(value(), a.c_str()); };
        if (a == "--help" || a == "-h") o.help = true;
        else if (a == "--type") { word(o.dev.type); haveType = true; }
        else if (a == "--port") o.dev.port = ParsePort(value());
        else if (a == "--baud") word(o.dev.baud);
        else if (a == "--kind") word(o.dev.kind);
        else if (a == "--word3") word(o.dev.word3);
        else if (a == "--word4") word(o.dev.word4);
        else if (a == "--word6") word(o.dev.word6);
        else if (a == "--word7") word(o.dev.word7);
        else if (a == "--word8") word(o.dev.word8);
        else if (a == "--word9") word(o.dev.word9);
        else if (a == "--word11") word(o.dev.word11);
        else if (a == "--flags") o.dev.flags = static_cast<uint32_t>(ParseWord(value(), "--flags"));
        else if (a == "--address") CopyText(o.dev.address, sizeof o.dev.address, value());
        else if (a == "--csv") { o.csv = value(); o.csvGiven = true; }
        else if (a == "--numbers") { o.numbers = value(); o.numbersGiven = true; }
        else if (a == "--csv-out") g_csvOut = true;
        else if (a == "--quiet") g_quiet = true;
        else if (!a.empty() && a[0] == '-') throw UsageError{"unknown option " + a};
        else if (o.job.empty()) o.job = a;
        else throw UsageError{"only one job per run (got '" + o.job + "' and '" + a + "')"};
    }
    if (o.help) return o;
    if (o.job.empty()) throw UsageError{"no job given"};
    const JobInfo* job = nullptr;
    for (const JobInfo& j : kJobs)
        if (o.job == j.name) job = &j;
    if (!job) throw UsageError{"unknown job '" + o.job + "'"};
    // An option the job does not use is refused rather than ignored.
    const std::string args = job->args;
    if (o.csvGiven && args.find("--csv") == std::string::npos) throw UsageError{o.job + " takes no --csv"};
    if (o.numbersGiven && args.find("--numbers") == std::string::npos) throw UsageError{o.job + " takes no --numbers"};
    if (o.csvGiven && o.numbersGiven) throw UsageError{o.job + " takes --numbers or --csv, not both"};
    if (!haveType) throw UsageError{"--type is required"};
    o.dev.progress = &OnProgress;
    return o;
}

// Keeps the host's arrays alive until the job is done.
std::vector<EcrItemRecord> g_items;
std::vector<EcrDeptRecord> g_depts;
std::vector<EcrUnitRecord> g_units;

std::vector<EcrItemRecord> ItemsFromNumbers(const std::string& list) {
    std::vector<EcrItemRecord> items;
    for (long long n : ParseNumbers(list)) {
        EcrItemRecord it{};
        it.number = static_cast<uint32_t>(n);
        items.push_back(it);
    }
    return items;
}

const std::string& Need(const std::string& v, const char* option, const std::string& job) {
    if (v.empty()) throw UsageError{job + " needs " + option};
    return v;
}

// Starts the job; returns the export's result.
int StartJob(const Options& o) {
    const EcrDeviceRecord* d = &o.dev;
    const std::string& j = o.job;
    auto count = [](size_t n) { return static_cast<int>(n); };
    if (j == "read-sales" || j == "clear-sales") {
        g_table.header = {"plu", "code", "name", "quantity", "value", "text", "item"};
        return j == "read-sales" ? EcrReadSale(d, &OnSale) : EcrClearSale(d, &OnSale);
    }
    if (j == "read-plu-all") {
        g_table.header = kItemHeader;
        return EcrReadAllPLU(d, &OnItem);
    }
    if (j == "read-plu") {
        g_table.header = kItemHeader;
        g_items = ItemsFromNumbers(Need(o.numbers, "--numbers", j));
        return EcrReadPLU(d, g_items.data(), count(g_items.size()), &OnItem);
    }
    if (j == "program-plu" || j == "update-plu" || j == "program-barcode") {
        g_items = ItemsFromCsv(Need(o.csv, "--csv", j));
        if (g_items.empty()) throw UsageError{"no goods in " + o.csv};
        if (j == "program-plu") return EcrPgmPLU(d, g_items.data(), count(g_items.size()), &OnItemProgram);
        if (j == "update-plu") return EcrUpDatePLU(d, g_items.data(), count(g_items.size()), &OnItemProgram);
        return EcrPgmExBarcode(d, g_items.data(), count(g_items.size()), &OnItemProgram);
    }
    if (j == "delete-plu") {
        if (!o.csv.empty()) g_items = ItemsFromCsv(o.csv);
        else g_items = ItemsFromNumbers(Need(o.numbers, "--numbers or --csv", j));
        if (g_items.empty()) throw UsageError{"no goods to delete"};
        return EcrDelPLU(d, g_items.data(), count(g_items.size()), &OnItemProgram);
    }
    if (j == "delete-plu-all") return EcrDelAllPLU(d, &OnItemProgram);
    if (j == "read-dept") {
        g_table.header = {"number", "name", "vat", "price"};
        return EcrReadAllDEPT(d, &OnDept);
    }
    if (j == "read-dept-list") {
        g_table.header = {"number", "name", "vat", "price"};
        for (long long n : ParseNumbers(Need(o.numbers, "--numbers", j))) {
            EcrDeptRecord r{};
            r.number = static_cast<uint32_t>(n);
            g_depts.push_back(r);
        }
        return EcrReadDEPT(d, g_depts.data(), count(g_depts.size()), &OnDept);
    }
    if (j == "program-dept") {
        g_depts = DeptsFromCsv(Need(o.csv, "--csv", j));
        if (g_depts.empty()) throw UsageError{"no departments in " + o.csv};
        return EcrPgmDEPT(d, g_depts.data(), count(g_depts.size()), &OnDeptProgram);
    }
    if (j == "read-units") {
        g_table.header = {"number", "name"};
        return EcrReadAllUnit(d, &OnUnit);
    }
    if (j == "program-units") {
        g_units = UnitsFromCsv(Need(o.csv, "--csv", j));
        if (g_units.empty()) throw UsageError{"no units in " + o.csv};
        return EcrPgmUNIT(d, g_units.data(), count(g_units.size()), &OnUnitProgram);
    }
    if (j == "read-status") {
        g_table.header = {"field", "value"};
        return EcrReadStatus(d, &OnStatus);
    }
    if (j == "read-vat") {
        g_table.header = {"group", "rate"};
        return EcrReadVAT(d, &OnVat);
    }
    if (j == "read-from-plu" || j == "delete-from-plu") {
        g_items = ItemsFromNumbers(Need(o.numbers, "--numbers", j));
        if (g_items.size() < 2) g_items.resize(2);
        if (j == "read-from-plu") {
            g_table.header = kItemHeader;
            return EcrReadFromPLU(d, g_items.data(), &OnItem);
        }
        return EcrDelFromPLU(d, g_items.data(), &OnItemProgram);
    }
    throw UsageError{"unknown job '" + j + "'"};
}

void WaitForJob() {
    bool broken = false;
    while (!EcrIsDone()) {
        if (g_interrupted && !broken) {
            broken = true;
            {
                std::lock_guard<std::mutex> lock(g_out);
                EndProgressLine();
                std::fprintf(stderr, "breaking the job off...\n");
            }
            EcrBreakJob();
        }
        struct timespec ts = {0, 10 * 1000 * 1000};
        nanosleep(&ts, nullptr);
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    try {
        o = ParseArgs(argc, argv);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "ecrctl: %s (see ecrctl --help)\n", e.text.c_str());
        return 2;
    }
    if (o.help) {
        PrintHelp();
        return 0;
    }

    struct sigaction sa {};
    sa.sa_handler = &OnSigint;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);

    EcrCreate(nullptr);
    int started = 0;
    try {
        started = StartJob(o);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "ecrctl: %s (see ecrctl --help)\n", e.text.c_str());
        return 2;
    }
    if (started) WaitForJob();

    const int code = EcrError();
    const std::string text = ToUtf8(EcrErrMsg());
    {
        std::lock_guard<std::mutex> lock(g_out);
        EndProgressLine();
    }
    // A failed job that handed back no record prints no empty table.
    if (started && (code == 0 || !g_table.rows.empty())) PrintTable(g_table);
    for (const Rejection& r : g_rejections)
        std::printf("%s %lld refused: %d %s\n", r.what.c_str(), r.number, r.code, r.text.c_str());

    if (!started) {
        std::fprintf(stderr, "ecrctl: the job was not started: error %d: %s\n", code, text.c_str());
        return 1;
    }
    if (code != 0) {
        std::fprintf(stderr, "ecrctl: the job failed: error %d: %s\n", code, text.c_str());
        return 1;
    }
    // The job's code follows its last record: earlier refusals must not
    // pass for success with a script that looks only at the status.
    if (!g_rejections.empty()) {
        std::fprintf(stderr, "ecrctl: the job ended, but %zu record%s refused\n", g_rejections.size(),
                     g_rejections.size() == 1 ? " was" : "s were");
        return 1;
    }
    if (!g_quiet) std::fprintf(stderr, "ecrctl: done\n");
    return 0;
}
