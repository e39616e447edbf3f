// A stand-in for Dibal's scale library (libdibalscop.so): ItemsSend and
// RegistersSend keep deep copies of everything each call was given (the
// connection record, the block and the plain arguments) and answer "OK",
// or the answers a test queued.
//
// Tests steer and read it through these exports (found with dlsym):
//   DibalscopFakeReset()                     forget calls and answers
//   DibalscopFakeAnswer(entry, text)         the next call of the entry
//                                            answers text (queued; null:
//                                            no answer at all)
//   DibalscopFakeHang()                      the next ItemsSend is logged and
//                                            never returns (a library stuck
//                                            on a scale)
//   DibalscopFakeCalls()                     number of calls so far
//   DibalscopFakeEntry(i)                    "ItemsSend" / "RegistersSend"
//   DibalscopFakeInt(i, field)               a number of call i
//   DibalscopFakePrice(i)                    the item block's price
//   DibalscopFakeText(i, field)              a string of call i (UTF-16)
// Fields: a, b, c, d (the plain arguments); conn.zero1, conn.port1,
// conn.port2, conn.zero2; plu, code3, flag, department, zero1, plu2, zero2
// (item block); text.zero (text block). Texts: address, range, empty,
// zeroText, logFile; name, date, textG (item block); text (text block).
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "drivers/dibal/dibalscop_api.h"

namespace {

struct Call {
    std::string entry;
    std::map<std::string, int32_t> ints;
    std::map<std::string, std::u16string> texts;
    double price = 0;
};

std::mutex g_mu;
std::vector<Call> g_calls;
std::map<std::string, std::deque<std::optional<std::string>>> g_answers;
std::string g_lastAnswer;
std::atomic<bool> g_hang{false};

std::u16string Copy(const char16_t* s) { return s ? std::u16string(s) : std::u16string(u"<null>"); }

void CopyConnection(Call& c, const DibalConnection* k, int32_t a, int32_t b, int32_t cc, int32_t d) {
    c.ints["a"] = a;
    c.ints["b"] = b;
    c.ints["c"] = cc;
    c.ints["d"] = d;
    if (!k) return;
    c.ints["conn.zero1"] = k->zero1;
    c.ints["conn.port1"] = k->port1;
    c.ints["conn.port2"] = k->port2;
    c.ints["conn.zero2"] = k->zero2;
    c.texts["address"] = Copy(k->address);
    c.texts["range"] = Copy(k->range);
    c.texts["empty"] = Copy(k->empty);
    c.texts["zeroText"] = Copy(k->zeroText);
    c.texts["logFile"] = Copy(k->logFile);
}

const char* Answer(const std::string& entry) {
    auto& q = g_answers[entry];
    if (q.empty()) return "OK";
    const std::optional<std::string> a = q.front();
    q.pop_front();
    if (!a) return nullptr;
    g_lastAnswer = *a;
    return g_lastAnswer.c_str();
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) const char* DIBAL_CALL ItemsSend(DibalConnection* k, int32_t a, DibalItemBlock* block,
                                                             int32_t b, int32_t c, int32_t d) {
    if (g_hang.exchange(false)) {
        {
            std::lock_guard<std::mutex> lk(g_mu);
            g_calls.push_back(Call{"ItemsSend", {}, {}, 0});
        }
        for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    std::lock_guard<std::mutex> lk(g_mu);
    Call call;
    call.entry = "ItemsSend";
    CopyConnection(call, k, a, b, c, d);
    if (block) {
        call.ints["plu"] = block->plu;
        call.ints["code3"] = block->code3;
        call.price = block->price;
        call.texts["name"] = Copy(block->name);
        call.ints["flag"] = block->flag;
        call.ints["department"] = block->department;
        call.texts["date"] = Copy(block->date);
        call.ints["zero1"] = block->zero1;
        call.ints["plu2"] = block->plu2;
        call.ints["zero2"] = block->zero2;
        call.texts["textG"] = Copy(block->textG);
    }
    g_calls.push_back(call);
    return Answer("ItemsSend");
}

#ifndef DIBALSCOP_FAKE_WITHOUT_REGISTERS_SEND
__attribute__((visibility("default"))) const char* DIBAL_CALL RegistersSend(DibalConnection* k, int32_t a,
                                                                 DibalTextBlock* block, int32_t b, int32_t c,
                                                                 int32_t d) {
    std::lock_guard<std::mutex> lk(g_mu);
    Call call;
    call.entry = "RegistersSend";
    CopyConnection(call, k, a, b, c, d);
    if (block) {
        call.texts["text"] = Copy(block->text);
        call.ints["text.zero"] = block->zero;
    }
    g_calls.push_back(call);
    return Answer("RegistersSend");
}
static_assert(std::is_same_v<decltype(&RegistersSend), DibalRegistersSendFn>, "RegistersSend as the driver declares it");
#endif
static_assert(std::is_same_v<decltype(&ItemsSend), DibalItemsSendFn>, "ItemsSend as the driver declares it");

__attribute__((visibility("default"))) void DibalscopFakeReset() {
    std::lock_guard<std::mutex> lk(g_mu);
    g_calls.clear();
    g_answers.clear();
}

__attribute__((visibility("default"))) void DibalscopFakeAnswer(const char* entry, const char* text) {
    std::lock_guard<std::mutex> lk(g_mu);
    g_answers[entry].push_back(text ? std::optional<std::string>(text) : std::nullopt);
}

__attribute__((visibility("default"))) void DibalscopFakeHang() { g_hang = true; }

__attribute__((visibility("default"))) int DibalscopFakeCalls() {
    std::lock_guard<std::mutex> lk(g_mu);
    return static_cast<int>(g_calls.size());
}

__attribute__((visibility("default"))) const char* DibalscopFakeEntry(int i) {
    std::lock_guard<std::mutex> lk(g_mu);
    return i >= 0 && i < static_cast<int>(g_calls.size()) ? g_calls[i].entry.c_str() : "";
}

__attribute__((visibility("default"))) int DibalscopFakeInt(int i, const char* field) {
    std::lock_guard<std::mutex> lk(g_mu);
    if (i < 0 || i >= static_cast<int>(g_calls.size())) return -999;
    auto it = g_calls[i].ints.find(field);
    return it == g_calls[i].ints.end() ? -999 : it->second;
}

__attribute__((visibility("default"))) double DibalscopFakePrice(int i) {
    std::lock_guard<std::mutex> lk(g_mu);
    return i >= 0 && i < static_cast<int>(g_calls.size()) ? g_calls[i].price : -1.0;
}

__attribute__((visibility("default"))) const char16_t* DibalscopFakeText(int i, const char* field) {
    std::lock_guard<std::mutex> lk(g_mu);
    if (i < 0 || i >= static_cast<int>(g_calls.size())) return u"<no call>";
    auto it = g_calls[i].texts.find(field);
    return it == g_calls[i].texts.end() ? u"<no field>" : it->second.c_str();
}

}  // extern "C"
