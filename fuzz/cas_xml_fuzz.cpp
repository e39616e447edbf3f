// Fuzz target: the CAS XML result files (goods and departments) as the
// transfer program may leave them: the whole file, read through the same
// readers a job uses. A file the reader refuses must carry an error code;
// every record handed on has zero-terminated texts.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_checks.h"

#include "drivers/cas/ccas_xml.h"

namespace {

using orv::fuzz::BrokenPromise;
using orv::fuzz::CheckText;

const std::string& ResultPath() {
    static const std::string path = [] {
        char tmpl[] = "/tmp/orvanta_fuzz_cas_XXXXXX";
        const char* dir = mkdtemp(tmpl);
        if (!dir) std::abort();
        return std::string(dir) + "/XWR_PLU.XML";
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = ResultPath();
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) std::abort();
    for (size_t done = 0; done < size;) {
        ssize_t n = write(fd, data + done, size - done);
        if (n <= 0) std::abort();
        done += static_cast<size_t>(n);
    }
    close(fd);

    CCas_XML xml;
    int r = xml.ParsePLUFile(path, [](const CasPluRecord& rec) {
        CheckText(rec.barcode);
        CheckText(rec.name);
        CheckText(rec.text);
        for (const auto& line : rec.lines) CheckText(line);
    });
    if (r == 0 && xml.GetError() == 0) BrokenPromise("a refused goods file without an error code");
    CCas_XML depts;
    r = depts.ParseDeptFile(path, [](const CasDeptRecord& rec) { CheckText(rec.name); });
    if (r == 0 && depts.GetError() == 0) BrokenPromise("a refused departments file without an error code");
    return 0;
}
