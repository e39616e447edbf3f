// Fuzz target: the scale records the library reads back that can be parsed
// apart from the line, through the same parsers the jobs use. Byte 0 picks
// the parser, the rest is the record:
//   0  a Dibal goods record ("X1", 128 characters; any length is offered);
//   1  a CAS LP-1 record read back (the PLU number and the record: 74 bytes,
//      the input cut or padded with zeros to that, as the link hands it on);
//   2  a CAS LP-16 record (73 bytes from the reply, likewise; bytes 1-2 of
//      the input are the PLU number asked for).
// The other transfer-program families (Digi, Eco Print, Proxima) leave no
// file the library reads; the CAS XML result files have a target of their
// own (cas_xml).
//
// Checks: a refused Dibal record leaves a code; every text of a record is
// zero-terminated and each run of ASCII letters and digits in it occurs in
// the record; the Dibal numbers are written out in the record (their digits
// occur in it); the CAS LP item code is a number of at most ten digits (it
// comes from four binary bytes), prices and amounts are finite and not
// negative.
#include <cmath>
#include <cstring>
#include <string>

#include "drivers/cas/ccaslp1.h"
#include "drivers/cas/ccaslp1_16.h"
#include "drivers/dibal/cdibal.h"
#include "fuzz_checks.h"
#include "host_job.h"

namespace {

using orv::fuzz::BrokenPromise;
using orv::fuzz::CheckText;

template <size_t N>
bool Held(const char (&text)[N], const std::string& record) {
    return orv::fuzz::TextHeld(text, ::strnlen(text, N), record);
}

void CheckDibal(const std::string& record) {
    static CDibal dibal;
    DibalItem item;
    dibal.SetError(0);
    if (!dibal.ParseItemRecord(CChrArr(reinterpret_cast<const uint8_t*>(record.data()), record.size()), item)) {
        if (dibal.GetError() == 0) BrokenPromise("a refused Dibal record without an error code");
        return;
    }
    CheckText(item.name);
    CheckText(item.date1);
    CheckText(item.date2);
    CheckText(item.text1);
    CheckText(item.text2);
    CheckText(item.text3);
    if (!Held(item.name, record) || !Held(item.date1, record) || !Held(item.date2, record) ||
        !Held(item.text1, record) || !Held(item.text2, record) || !Held(item.text3, record))
        BrokenPromise("a Dibal text the record did not hold");
    const std::string digits = orv::fuzz::DigitsOf(record);
    for (double v : {double(item.plu), double(item.code3), item.price, item.amount, double(item.code2),
                     double(item.department), double(item.vatGroup)})
        if (!orv::fuzz::NumberHeld(v, digits)) BrokenPromise("a Dibal number the record did not hold");
}

void CheckCasLp(const CasLpPluRecord& r, const std::string& record) {
    for (const std::string* name : {&r.name1, &r.name2})
        if (!orv::fuzz::TextHeld(name->c_str(), ::strnlen(name->c_str(), name->size()), record))
            BrokenPromise("a CAS LP name the record did not hold");
    if (r.itemCode.empty() || r.itemCode.size() > 10 || r.itemCode.find_first_not_of("0123456789") != std::string::npos)
        BrokenPromise("a CAS LP item code that is not the number of four bytes");
    if (!std::isfinite(r.price) || r.price < 0 || !std::isfinite(r.amount) || r.amount < 0)
        BrokenPromise("a CAS LP price or amount out of its bytes' range");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    std::string record(reinterpret_cast<const char*>(data + 1), size - 1);
    switch (data[0] % 3) {
    case 0: CheckDibal(record); break;
    case 1:
        record.resize(CCasLP1::kReadRecordSize, '\0');
        CheckCasLp(CCasLP1::ParseRecord(CChrArr(reinterpret_cast<const uint8_t*>(record.data()), record.size())), record);
        break;
    default: {
        const uint32_t plu = size > 2 ? data[1] | (uint32_t{data[2]} << 8) : 1;
        record = size > 3 ? record.substr(2) : std::string();
        record.resize(CCasLP1_16::kRecordSize, '\0');
        CheckCasLp(CCasLP1_16::ParseRecord(CChrArr(reinterpret_cast<const uint8_t*>(record.data()), record.size()), plu), record);
        break;
    }
    }
    return 0;
}
