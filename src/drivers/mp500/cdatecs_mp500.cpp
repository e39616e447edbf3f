#include "drivers/mp500/cdatecs_mp500.h"

#include <mutex>

#include "comm/telepathy.h"
#include "platform/dynamic_library.h"
#include "util/cp1250.h"

namespace {

constexpr int kLoadError = 999999;

static_assert(orv::platform::kCalleeCleans<MP500SendArticlesFn> && orv::platform::kCalleeCleans<MP500DeleteArticlesFn> &&
                  orv::platform::kCalleeCleans<MP500ReceiveArticlesFn> &&
                  orv::platform::kCalleeCleans<MP500ZeroPLUCountersFn>,
              "the scale library's entry points are called callee-cleans");

// The library and its entry points: loaded once per process and kept.
struct Mp500Library {
    std::mutex mutex;
    orv::platform::DynamicLibrary lib;
    bool ready = false;
    MP500SendArticlesFn send = nullptr;
    MP500DeleteArticlesFn remove = nullptr;
    MP500ReceiveArticlesFn receive = nullptr;
    MP500ZeroPLUCountersFn zero = nullptr;
};

Mp500Library& Library() {
    static Mp500Library* library = new Mp500Library;   // never unloaded
    return *library;
}

// Loads the library once; "" or the text of what is missing.
std::string LoadLibrary() {
    Mp500Library& l = Library();
    std::lock_guard<std::mutex> lock(l.mutex);
    if (l.ready) return std::string();
    // Until every entry point was found the file is looked for again at
    // each open, so a library installed meanwhile is taken.
    if (!l.lib.Load(CDatecsMP500::kLibraryName))
        return std::string(PL("Nie można załadować biblioteki ")) + l.lib.FileName();
    struct Entry {
        const char* name;
        void** slot;
    };
    const Entry entries[] = {{"MP500SendArticles", reinterpret_cast<void**>(&l.send)},
                             {"MP500DeleteArticles", reinterpret_cast<void**>(&l.remove)},
                             {"MP500ReceiveArticles", reinterpret_cast<void**>(&l.receive)},
                             {"MP500ZeroPLUCounters", reinterpret_cast<void**>(&l.zero)}};
    for (const Entry& e : entries) {
        *e.slot = l.lib.Symbol(e.name);
        if (!*e.slot) return std::string("Brak funkcji ") + e.name + " w bibliotece " + l.lib.FileName();
    }
    l.ready = true;
    return std::string();
}

}  // namespace

int CDatecsMP500::Open(int port, int baud, int logical) {
    m_nError = 0;
    m_nPort = port;
    m_baud = baud == 9600 ? 9600 : 4800;
    m_logical = logical;
    m_loadText = LoadLibrary();
    if (!m_loadText.empty()) {
        m_nError = kLoadError;
        return 0;
    }
    return 1;
}

std::string CDatecsMP500::GetErrorText(int code) {
    switch (code) {
    case 1: return PL("Operacja przerwana przez użytkownika");
    case 2: return PL("błąd podczas otwierania portu");
    case 3: return PL("błąd podczas wysyłania danych");
    case 4: return PL("błąd podczas odbierania danych");
    case 5: return PL("niepoprawny format odebranych danych");
    case 6: return PL("odebrano niepoprawne CRC");
    case 7: return PL("niepoprawny numer portu");
    case 8: return PL("niepoprawny numer logiczny kasy");
    case kLoadError:
        if (!m_loadText.empty()) return m_loadText;
        break;
    default: break;
    }
    return CTelepathyECR::GetErrorText(code);
}

int CDatecsMP500::NotLoaded() {
    m_nError = kLoadError;
    return 0;
}

int CDatecsMP500::Result(int r) {
    if (r == 0) return 1;
    m_nError = r >= 1 && r <= 8 ? r : 9999;
    // The library's answer to a read the user broke off needs no message box.
    if (m_pSerial && m_pSerial->IsAborted()) return 0;
    ShowMessageText(GetErrorText(m_nError));
    return 0;
}

int CDatecsMP500::SendArticles(MP500Callback pull, void* context) {
    m_nError = 0;
    if (!Library().ready) return NotLoaded();
    return Result(Library().send(m_nPort, m_baud, 0, m_logical, pull, context));
}

int CDatecsMP500::DeleteArticles(MP500Callback pull, void* context) {
    m_nError = 0;
    if (!Library().ready) return NotLoaded();
    return Result(Library().remove(m_nPort, m_baud, m_logical, pull, context));
}

int CDatecsMP500::ReceiveArticles(MP500Callback push, void* context) {
    m_nError = 0;
    if (!Library().ready) return NotLoaded();
    return Result(Library().receive(m_nPort, m_baud, m_logical, push, context));
}

int CDatecsMP500::ZeroPLUCounters() {
    m_nError = 0;
    if (!Library().ready) return NotLoaded();
    return Result(Library().zero(m_nPort, m_baud, m_logical));
}
