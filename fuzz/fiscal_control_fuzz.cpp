// Fuzz target: what the Novitus fiscal control and its automation objects
// hand back. The tests' fake control (tests/fakes/fake_fiscal_control.*,
// installed as the control and automation factory) holds a register the
// input fills, and fails the calls the input names:
//   byte 0   the job (host_job.h)
//   byte 1   the device type among the control's types
//   byte 2   bits 0-1 the native mode the control reports (as put, off, on),
//            bit 2 the end-of-data property never turns true, bit 3 the
//            device information call fails, bit 4 the native-code read
//            fails, bit 5 a TCP connection (else serial), bits 6-7 the
//            sale-read option bits
//   then operations until the input ends, each an operation byte and its
//   arguments: a goods, department, sale, second-report sale or receipt
//   record (a count and that many properties, each a property id and a
//   value: I4, INT, BOOL, currency, text or double), a unit (index, name),
//   a VAT rate (currency), a failing call (method, which call, the
//   control's code, the native code text), a version, device or native
//   text, no control at all, an object class that cannot be made.
// Every value the control holds is also written out (texts as they are,
// numbers in decimal, whole, with six decimals and in their shortest form)
// as the bytes the content check compares with.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include "drivers/novitus/ps3000_ids.h"
#include "fakes/fake_fiscal_control.h"
#include "fakes/recording_host.h"
#include "host_job.h"

namespace {

using orv::fuzz::HostJob;
using orv::platform::Variant;
using orv::test::FakeNovitus;
using orv::test::FakeProps;
namespace id = orv::novitus::ids;

const int kTypes[] = {26, 60, 71, 72, 82, 83, 87};
// The property ids of the goods, department and sale objects.
const int kPropIds[] = {id::kPluNumber, id::kPluCode,   id::kPluName,  id::kPluPrice,  id::kPluVat,
                        id::kPluFieldA, id::kPluFlags,  id::kPluDept,  id::kPluFieldB, id::kPluText2,
                        id::kPluUnit,   id::kPluWeighed, id::kPluValue203, id::kPluValue204, id::kSaleQuantity,
                        id::kSaleQuantity2, id::kSaleValue2};
// The control's methods the driver calls.
const int kMethods[] = {id::kOpen,        id::kCheck,        id::kDisconnect,     id::kReady,
                        id::kBeginWrite,  id::kEndWrite,     id::kSendRecord,     id::kSendBarcode,
                        id::kWriteUnit,   id::kBeginRead,    id::kNext,           id::kFetchRecord,
                        id::kFetchSale,   id::kFetchReceiptItem, id::kFetchReceiptHeader, id::kFetchReceiptLine,
                        id::kReceiptStep, id::kFetchRates,   id::kFetchVersion,   id::kFetchUnit,
                        id::kDeviceInfo,  id::kReadNative};
const char* const kClasses[] = {id::kClassPlu,           id::kClassBarcode,       id::kClassSale,
                                id::kClassReceiptItem,   id::kClassReceiptHeader, id::kClassReceiptLine,
                                id::kClassTaxRates,      id::kClassVersion};

FakeNovitus& Fake() {
    static FakeNovitus* fake = new FakeNovitus;   // the factories stay installed
    return *fake;
}

// The control as a fresh one: an empty register, no failures, nothing logged.
void Reset(FakeNovitus& f) {
    f.ClearLog();
    f.failControl = false;
    f.failClasses.clear();
    f.forceNativeMode = -1;
    f.method21Ok = true;
    f.method21Hex.clear();
    f.readWithoutEnd = false;
    f.deviceInfoOk = true;
    f.goods.clear();
    f.depts.clear();
    f.barcodes.clear();
    f.units.clear();
    f.rates.clear();
    f.sales.clear();
    f.sales2.clear();
    f.receipts.clear();
    for (auto& v : f.version) v.clear();
    f.uniqueNumber.clear();
    f.library.clear();
    f.info.clear();
    f.failures.clear();
    f.calls.clear();
    f.nativeMode = false;
    f.lastCode = 0;
    f.lastHex.clear();
    f.readKind = 0;
    f.readList.clear();
    f.cursor = 0;
    f.unitList.clear();
    f.current = {};
    f.line = 0;
    f.writeKind = 0;
    f.connected = false;
}

// Reads the input; past its end every read gives zeros.
class Input {
public:
    Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool More() const { return m_pos < m_size; }
    uint8_t Byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    uint64_t Bytes(int n) {
        uint64_t v = 0;
        for (int i = 0; i < n; ++i) v |= uint64_t{Byte()} << (8 * i);
        return v;
    }
    std::string Text() {
        size_t n = Byte();
        n = std::min(n, m_size - m_pos);
        std::string t(reinterpret_cast<const char*>(m_data + m_pos), n);
        m_pos += n;
        return t;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

// What the control holds, written out for the content check.
class Held {
public:
    void Add(const std::string& text) {
        m_bytes += text;
        m_bytes += '\0';
    }
    void Add(const Variant& v) {
        Add(v.AsText());
        Add(std::to_string(v.AsInt()));
        // A whole number reaches the host's unsigned fields with its 32 bits
        // (the control's -1 is the host's 4294967295), also one written as
        // text: a department's code "-5" is its number 4294967291, a code
        // beyond 32 bits its low 32 bits (the driver reads the code without
        // a range check; a range the host's field cannot hold is reported,
        // not made up).
        Add(std::to_string(static_cast<uint32_t>(v.AsInt())));
        const std::string text = v.AsText();
        Add(std::to_string(static_cast<uint32_t>(std::strtoll(text.c_str(), nullptr, 10))));
        Add(std::to_string(static_cast<uint32_t>(std::strtoull(text.c_str(), nullptr, 10))));
        char buf[512];
        std::snprintf(buf, sizeof buf, "%.6f", v.AsDouble());
        Add(buf);
        Add(orv::fuzz::ShortestDigits(v.AsDouble()));
        if (std::isnan(v.AsDouble())) Add("nan");
        if (std::isinf(v.AsDouble())) Add("inf");
    }
    const std::string& Bytes() const { return m_bytes; }

private:
    std::string m_bytes;
};

Variant Value(Input& in, Held& held) {
    Variant v;
    switch (in.Byte() % 6) {
    case 0: v = Variant::I4(static_cast<int32_t>(in.Bytes(4))); break;
    case 1: v = Variant::Int(static_cast<int16_t>(in.Bytes(2))); break;
    case 2: v = Variant::Bool(in.Byte() & 1); break;
    case 3: v = Variant::Currency(static_cast<int64_t>(in.Bytes(8))); break;
    case 4: v = Variant::Text(in.Text()); break;
    default: {
        const uint64_t bits = in.Bytes(8);
        double d;
        std::memcpy(&d, &bits, sizeof d);
        v = Variant::Double(d);
        break;
    }
    }
    held.Add(v);
    return v;
}

FakeProps Record(Input& in, Held& held) {
    FakeProps p;
    const int n = in.Byte() % 8;
    for (int i = 0; i < n; ++i) {
        const int pid = kPropIds[in.Byte() % std::size(kPropIds)];
        p[pid] = Value(in, held);
    }
    return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    Input in(data, size);
    const HostJob job = orv::fuzz::PickJob(in.Byte());
    const int type = kTypes[in.Byte() % std::size(kTypes)];
    const uint8_t flags = in.Byte();

    FakeNovitus& f = Fake();
    Reset(f);
    f.forceNativeMode = (flags & 3) == 0 ? -1 : (flags & 3) - 1;
    f.readWithoutEnd = (flags & 4) != 0;
    f.deviceInfoOk = (flags & 8) == 0;
    f.method21Ok = (flags & 16) == 0;
    const bool tcp = (flags & 32) != 0;
    EcrDeviceRecord dev = orv::test::DeviceRecord(type, tcp ? 0x0A000001 : 3, 9600, tcp ? 11 : 0);
    dev.flags = (flags >> 6) & 3u;

    Held held;
    // The status's device text is "ver." and the version, " lib." and the
    // library's text: the driver's own words stand beside the control's.
    held.Add("ver. lib.");
    bool mustFail = false;
    while (in.More()) {
        switch (in.Byte() % 14) {
        case 0: f.goods.push_back(Record(in, held)); break;
        case 1: f.depts.push_back(Record(in, held)); break;
        case 2: {
            const int index = static_cast<int32_t>(in.Bytes(4));
            // The control counts units from 0, the host from 1.
            held.Add(std::to_string(static_cast<uint32_t>(index) + 1u));
            std::string name = in.Text();
            held.Add(name);
            f.units[index] = name;
            break;
        }
        case 3: {
            const auto rate = static_cast<int64_t>(in.Bytes(8));
            held.Add(Variant::Currency(rate));
            f.rates.push_back(rate);
            break;
        }
        case 4: f.sales.push_back(Record(in, held)); break;
        case 5: f.sales2.push_back(Record(in, held)); break;
        case 6: {
            orv::test::FakeReceipt r;
            r.number = in.Text();
            held.Add(r.number);
            const int lines = in.Byte() % 4;
            for (int i = 0; i < lines; ++i) r.lines.push_back(Record(in, held));
            f.receipts.push_back(std::move(r));
            break;
        }
        case 7: {
            const int method = kMethods[in.Byte() % std::size(kMethods)];
            const int call = in.Byte() % 4;   // 0: every call
            const auto code = static_cast<int32_t>(in.Bytes(4));
            f.FailAt(method, call, code, in.Text());
            // Without a connection no job can succeed.
            if (call == 0 && (method == id::kOpen || method == id::kCheck)) mustFail = true;
            break;
        }
        case 8: {
            std::string& v = f.version[in.Byte() % 4];
            v = in.Text();
            held.Add(v);
            break;
        }
        case 9: f.uniqueNumber = in.Text(); held.Add(f.uniqueNumber); break;
        case 10: f.library = in.Text(); held.Add(f.library); break;
        case 11: f.info = in.Text(); held.Add(f.info); break;
        case 12: f.method21Hex = in.Text(); break;
        default:
            if (in.Byte() & 1) {
                f.failControl = true;
                mustFail = true;
            } else {
                f.failClasses.insert(kClasses[in.Byte() % std::size(kClasses)]);
            }
            break;
        }
    }

    if (!orv::fuzz::RunHostJob(job, dev)) return 0;
    orv::fuzz::CheckHostPromises(job, type, mustFail);
    orv::fuzz::CheckRecordsFrom(job, type, held.Bytes());
    orv::fuzz::ReportStats(job, type, std::to_string(f.Log().size()) + " invokes");
    return 0;
}
