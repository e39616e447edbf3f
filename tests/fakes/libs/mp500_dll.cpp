// A stand-in for the Datecs MP500 library (libmp500_dll.so): the four entry
// points over a scale kept in memory (its articles with their sales
// figures). Sending pulls articles until the callback returns 0 and keeps
// them (an article of a code already held replaces it); deleting pulls
// them and removes those codes; receiving pushes every article held until
// the callback answers 0, which ends it with result 1 (broken off by the
// user); zeroing clears the sales figures.
//
// Tests steer it through these exports (found with dlsym on the same
// library):
//   Mp500FakeReset()                      forget everything
//   Mp500FakeResult(entry, r)             the next call of entry returns r
//   Mp500FakeResultAfter(entry, n, r)     the next call of entry transfers at
//                                         most n articles (zeroing: clears),
//                                         then returns r (a link lost midway)
//   Mp500FakeDelay(ms)                    a pause before each callback
//   Mp500FakeAdd(article)                 one more article on the scale
//   Mp500FakeCount(what)                  "calls:<entry>", "held", "pulled", "deleted"
//   Mp500FakeGet(what, i, article)        "held", "pulled" (every article pulled, in order), "deleted"
//   Mp500FakeArgs(entry, args[6])         the last call's integer arguments
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "drivers/mp500/mp500_dll.h"

namespace {

struct State {
    std::mutex mutex;
    std::vector<MP500Article> held, pulled, deleted;
    std::map<std::string, int> calls;
    std::map<std::string, int> results;
    std::map<std::string, std::pair<int, int>> after;   // articles, then result
    std::map<std::string, std::vector<int>> args;
    int delayMs = 0;
};

State& S() {
    static State* s = new State;
    return *s;
}

// The limit and result of a call: at most `articles` transferred, then `result`.
struct Outcome {
    int articles = -1;   // -1: all
    int result = 0;
};

// Logs the call; a result set for it before any transfer (returned at once)
// or after one.
int Enter(const char* entry, std::vector<int> a, Outcome* after = nullptr) {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    ++s.calls[entry];
    s.args[entry] = std::move(a);
    auto later = s.after.find(entry);
    if (after && later != s.after.end()) {
        *after = {later->second.first, later->second.second};
        s.after.erase(later);
    }
    auto it = s.results.find(entry);
    if (it == s.results.end()) return 0;
    const int r = it->second;
    s.results.erase(it);
    return r;
}

void Pause() {
    int ms;
    {
        std::lock_guard<std::mutex> lock(S().mutex);
        ms = S().delayMs;
    }
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool SameCode(const MP500Article& a, const MP500Article& b) { return std::memcmp(a.code, b.code, sizeof a.code) == 0; }

// Pulls until the callback says no more (or `limit` articles, -1 none); fn
// takes each article.
void PullAll(MP500Callback pull, void* context, int limit, void (*fn)(State&, const MP500Article&)) {
    for (int i = 0; limit < 0 || i < limit; ++i) {
        Pause();
        MP500Article a;
        std::memset(&a, 0xEE, sizeof a);   // the driver must fill every byte
        if (pull(context, i, &a) == 0) return;
        State& s = S();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.pulled.push_back(a);
        fn(s, a);
    }
}

}  // namespace

extern "C" {

int MP500_CALL MP500SendArticles(int port, int baud, int zero, int logical, MP500Callback pull, void* context) {
    Outcome out;
    const int r = Enter("MP500SendArticles", {port, baud, zero, logical, context == nullptr ? 0 : 1}, &out);
    if (r != 0) return r;
    PullAll(pull, context, out.articles, [](State& s, const MP500Article& a) {
        for (auto& h : s.held) {
            if (SameCode(h, a)) {
                h = a;
                return;
            }
        }
        s.held.push_back(a);
    });
    return out.result;
}

int MP500_CALL MP500DeleteArticles(int port, int baud, int logical, MP500Callback pull, void* context) {
    Outcome out;
    const int r = Enter("MP500DeleteArticles", {port, baud, logical, context == nullptr ? 0 : 1}, &out);
    if (r != 0) return r;
    PullAll(pull, context, out.articles, [](State& s, const MP500Article& a) {
        s.deleted.push_back(a);
        for (size_t i = 0; i < s.held.size(); ++i) {
            if (SameCode(s.held[i], a)) {
                s.held.erase(s.held.begin() + static_cast<long>(i));
                return;
            }
        }
    });
    return out.result;
}

int MP500_CALL MP500ReceiveArticles(int port, int baud, int logical, MP500Callback push, void* context) {
    Outcome out;
    const int r = Enter("MP500ReceiveArticles", {port, baud, logical, context == nullptr ? 0 : 1}, &out);
    if (r != 0) return r;
    std::vector<MP500Article> held;
    {
        std::lock_guard<std::mutex> lock(S().mutex);
        held = S().held;
    }
    if (out.articles >= 0 && held.size() > static_cast<size_t>(out.articles)) held.resize(static_cast<size_t>(out.articles));
    for (size_t i = 0; i < held.size(); ++i) {
        Pause();
        MP500Article a = held[i];
        if (push(context, static_cast<int>(i), &a) == 0) return 1;
    }
    return out.result;
}

int MP500_CALL MP500ZeroPLUCounters(int port, int baud, int logical) {
    Outcome out;
    const int r = Enter("MP500ZeroPLUCounters", {port, baud, logical}, &out);
    if (r != 0) return r;
    std::lock_guard<std::mutex> lock(S().mutex);
    for (auto& h : S().held) h.quantity = h.value = 0;
    return out.result;
}

// ---- control ----

void Mp500FakeReset() {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.held.clear();
    s.pulled.clear();
    s.deleted.clear();
    s.calls.clear();
    s.results.clear();
    s.after.clear();
    s.args.clear();
    s.delayMs = 0;
}

void Mp500FakeResult(const char* entry, int result) {
    std::lock_guard<std::mutex> lock(S().mutex);
    S().results[entry] = result;
}

void Mp500FakeResultAfter(const char* entry, int articles, int result) {
    std::lock_guard<std::mutex> lock(S().mutex);
    S().after[entry] = {articles, result};
}

void Mp500FakeDelay(int ms) {
    std::lock_guard<std::mutex> lock(S().mutex);
    S().delayMs = ms;
}

void Mp500FakeAdd(const MP500Article* article) {
    std::lock_guard<std::mutex> lock(S().mutex);
    S().held.push_back(*article);
}

static std::vector<MP500Article>* List(State& s, const std::string& what) {
    if (what == "held") return &s.held;
    if (what == "pulled") return &s.pulled;
    if (what == "deleted") return &s.deleted;
    return nullptr;
}

int Mp500FakeCount(const char* what) {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    const std::string w = what;
    if (w.rfind("calls:", 0) == 0) return s.calls[w.substr(6)];
    auto* list = List(s, w);
    return list ? static_cast<int>(list->size()) : -1;
}

int Mp500FakeGet(const char* what, int index, MP500Article* out) {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto* list = List(s, what);
    if (!list || index < 0 || static_cast<size_t>(index) >= list->size()) return 0;
    *out = (*list)[static_cast<size_t>(index)];
    return 1;
}

int Mp500FakeArgs(const char* entry, int* args) {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.args.find(entry);
    if (it == s.args.end()) return 0;
    for (size_t i = 0; i < it->second.size(); ++i) args[i] = it->second[i];
    return static_cast<int>(it->second.size());
}

}  // extern "C"

static_assert(std::is_same_v<decltype(&MP500SendArticles), MP500SendArticlesFn> &&
                  std::is_same_v<decltype(&MP500DeleteArticles), MP500DeleteArticlesFn> &&
                  std::is_same_v<decltype(&MP500ReceiveArticles), MP500ReceiveArticlesFn> &&
                  std::is_same_v<decltype(&MP500ZeroPLUCounters), MP500ZeroPLUCountersFn>,
              "the entry points as the driver declares them");
