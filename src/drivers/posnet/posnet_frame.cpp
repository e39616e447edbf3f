#include "drivers/posnet/posnet_frame.h"

#include "util/cp1250.h"

namespace {

constexpr uint8_t kEsc = 0x1B;
constexpr int kIoSeconds = 5;
constexpr int kQueueSize = 1024;
constexpr int kReplyMax = 512;

// The registers' own codes; the Posnet ECR does not use 44-47.
const char* const kRegisterTexts[78] = {
    nullptr,
    PL("Nie zainicjowany zegar RTC"),
    PL("Błąd bajtu kontrolnego"),
    PL("Zła ilość parametrów"),
    PL("Błąd danych"),
    PL("Błąd wykonania zapisu do RTC lub błąd jego odczytu"),
    PL("Błąd odczytu totalizerów"),
    PL("Data wcześniejsza od daty ostatniego zapisu w pamięci fiskalnej"),
    PL("Błąd operacji - niezerowe totalizery !"),
    PL("Błąd operacji I/O"),
    nullptr,
    PL("Zła ilość wartości PTU lub błąd liczby"),
    nullptr,
    PL("Próba fiskalizacji sfiskalizowanego urządzenia"),
    PL("Próba przesłania do RAM nagłówka dla urządzenia sfiskalizowanego"),
    PL("Błąd w dodatkowych liniach nagłówka (np. za długie opisy)"),
    PL("Błędna nazwa (pusta lub za długa)"),
    PL("Błędne oznaczenie ilości - puste lub za długie"),
    PL("Błędne oznaczenie stawki PTU (lub brak)"),
    PL("Błąd wartości CENA (syntaktyka, zakres lub brak)"),
    PL("Błąd wartości BRUTTO (syntaktyka, zakres lub brak)"),
    PL("Sekwencja odebrana przez drukarkę przy wyłączonym trybie transakcji"),
    PL("Błąd operacji STORNO"),
    PL("Błędna liczba linii paragonu"),
    PL("Przepełnienie bufora drukarki"),
    PL("Błędny kod terminala/kasjera (zła długość lub format)"),
    PL("Błąd kwoty WPŁATA"),
    PL("Błędna suma całkowita TOTAL lub błędna kwota RABAT"),
    PL("Przepełnienie totalizera"),
    PL("Żądanie zakończenia nie zainicjowanej transakcji"),
    PL("Błąd kwoty WPŁATA (syntaktyka)"),
    PL("Nadmiar dodawania (przekroczenie zakresu gotówki w kasie)"),
    PL("Wartość ujemna po odjęciu - przyjęto ZERO"),
    PL("Błąd napisu <zmiana>, <kasjer>, <numer> lub <kaucja>"),
    PL("Błąd jednej z kwot lub pozostałych napisów"),
    PL("Zerowy stan totalizerów"),
    PL("Już istnieje zapis o tej dacie"),
    PL("Operacja przerwana z klawiatury"),
    PL("Błąd nazwy"),
    PL("Błąd oznaczenia PTU"),
    PL("Brak w RAM nagłówka"),
    PL("Nie można dodać/zmodyfikować rekordu - nieunikalny kod"),
    PL("Nie można dodać/zmodyfikować rekordu - nieunikalna nazwa"),
    PL("Nie można dodać/zmodyfikować rekordu - nieunikalny kod kreskowy"),
    PL("Nie można usunąć rekordu"),
    PL("Nie można usunąć rekordu"),
    PL("Nie można usunąć rekordu"),
    PL("Nie można usunąć rekordu"),
    PL("Nie można usunąć rekordu"),
    PL("Brak rekordu o podanym identyfikatorze/numerze"),
    PL("Totalizery nie są zerowe - wykonaj raport dobowy"),
    PL("Niewłaściwa kolejność godzin"),
    PL("Skrócenie nazwy spowoduje wystąpienie towarów o nieunikalnych nazwach"),
    PL("Próba fiskalizacji już sfiskalizowanego urządzenia"),
    PL("Błąd wartości stawek PTU"),
    PL("Błędne hasło"),
    PL("Błąd dodania rekordu do bazy"),
    PL("Błąd modyfikacji rekordu"),
    PL("Błąd usunięcia rekordu"),
    PL("Błąd odczytu zegara / niezainicjalizowany zegar RTC"),
    PL("Błąd odczytu drukarki fiskalnej"),
    PL("Niepoprawne dane"),
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    PL("Brak pamięci aby wykonać operację"),
    PL("Nie zainicjowana transmisja"),
    PL("Błąd kolejnego numeru pakietu"),
    PL("Błąd sumy kontrolnej"),
    PL("Błąd sekwencji - za długa sekwencja"),
    PL("Błąd sekwencji - nie rozpoznany rozkaz"),
    PL("Za dużo parametrów"),
};

}  // namespace

const char* CPosnetFrameLink::RegisterText(int code, bool withDeleteCodes) {
    if (code < 1 || code > 77) return nullptr;
    if (code >= 44 && code <= 47 && !withDeleteCodes) return nullptr;
    return kRegisterTexts[code];
}

int CPosnetFrameLink::Open(int port, int baud) {
    m_nError = 0;
    m_nPort = port;
    m_bAnswerOverdue = false;
    m_bSilent = false;
    if (!m_pSerial) {
        m_nError = -3;
        return 0;
    }
    const int r = m_pSerial->Open(port, kQueueSize, kQueueSize, baud, 8, 'N', 1);
    if (r != 0) {
        m_nError = r < 0 ? r : -1;
        return 0;
    }
    // Each setting is checked; a failure closes the line again so that the
    // next job can open it.
    const auto failed = [&] {
        const int e = m_pSerial->GetError();
        if (e == 0) return false;
        m_pSerial->Close(port, 0);
        m_nError = e;
        return true;
    };
    m_pSerial->SetCtsWait(port, 0);
    if (failed()) return 0;
    m_pSerial->SetLineOption2(port, 0);
    if (failed()) return 0;
    m_pSerial->SetLineOption3(port, 0);
    if (failed()) return 0;
    m_pSerial->SetDtrMode(port, 1);
    if (failed()) return 0;
    m_pSerial->SetRtsMode(port, 1);
    if (failed()) return 0;
    m_pSerial->SetXonXoff(port, 3);
    if (failed()) return 0;
    m_pSerial->FlushOutput(port);
    if (failed()) return 0;
    m_pSerial->FlushInput(port);
    if (failed()) return 0;
    return 1;
}

uint8_t CPosnetFrameLink::CalcChecksum(const CChrArr& bytes) {
    uint8_t sum = 0xFF;
    for (int i = 0; i < bytes.GetLength(); ++i) sum ^= bytes[i];
    return sum;
}

CChrArr CPosnetFrameLink::ChecksumText(const CChrArr& bytes) { return NumToText(CalcChecksum(bytes), 2, '0', 16); }

CChrArr CPosnetFrameLink::BuildFrame(const CChrArr& payload) const {
    CChrArr frame;
    frame += kEsc;
    frame += m_traits.lead;
    frame += payload;
    frame += ChecksumText(payload);
    frame += kEsc;
    frame += static_cast<uint8_t>('\\');
    return frame;
}

bool CPosnetFrameLink::IsAborted() const { return m_pSerial && m_pSerial->IsAborted(); }

// Before a frame: output still leaving is waited for; after a reply time-out
// the answer may still be on its way (it would be taken for the answer to
// this frame, and answers carry nothing that ties them to their frame): wait
// up to one time-out for it, unless the register stayed silent through such
// a wait already; then whatever came is dropped.
int CPosnetFrameLink::DropStaleInput() {
    if (IsAborted()) {
        m_nError = -7;
        return 0;
    }
    const int drained = m_pSerial->WaitOutputDrained(m_nPort, kIoSeconds);
    if (drained != 0) {
        m_nError = drained < 0 ? drained : -5;
        return 0;
    }
    bool stale = false;
    if (m_bAnswerOverdue) {
        m_bAnswerOverdue = false;
        stale = !m_pSerial->Read(m_nPort, 0, kIoSeconds).IsEmpty();
        m_bSilent = !stale;
        const int e = m_pSerial->GetError();
        if (e != 0 && e != -5) {
            m_nError = e;
            return 0;
        }
    }
    if (stale || m_pSerial->GetInputCount(m_nPort) > 0) {
        if (m_pSerial->Delay(0.1) != 0 || IsAborted()) {
            m_nError = -7;
            return 0;
        }
        m_pSerial->FlushInput(m_nPort);
    }
    return 1;
}

int CPosnetFrameLink::SendFrame(const CChrArr& payload) {
    m_nError = 0;
    if (!m_pSerial) {
        m_nError = -3;
        return 0;
    }
    if (!DropStaleInput()) return 0;
    if (payload.GetLength() < 2) {
        m_nError = POSNET_ERR_BAD_REPLY;
        return 0;
    }
    const CChrArr frame = BuildFrame(payload);
    DumpSent(frame);
    const int written = m_pSerial->Write(m_nPort, frame, kIoSeconds);
    int e = m_pSerial->GetError();
    if (e != 0) {
        m_nError = e;
        return 0;
    }
    if (written < frame.GetLength()) {
        m_nError = POSNET_ERR_SHORT_WRITE;
        return 0;
    }
    e = m_pSerial->WaitOutputDrained(m_nPort, kIoSeconds);
    if (e != 0) {
        m_nError = e < 0 ? e : -5;
        return 0;
    }
    return 1;
}

void CPosnetFrameLink::NoteReadTimeout(const CChrArr& got) {
    if (!got.IsEmpty()) m_bSilent = false;
    // The register may still answer after the time-out (unless it has stayed
    // silent through such a wait already).
    if (m_lastReadError == -5 && !m_bSilent) m_bAnswerOverdue = true;
}

CChrArr CPosnetFrameLink::ReadCounted(int n) {
    CChrArr got = m_pSerial->Read(m_nPort, n, kIoSeconds);
    m_lastReadError = m_pSerial->GetError();
    DumpReceived(got);
    NoteReadTimeout(got);
    return got;
}

CChrArr CPosnetFrameLink::ReceiveFrame() {
    if (!m_pSerial) {
        m_nError = -3;
        return CChrArr();
    }
    const CChrArr lead = ReadCounted(2);
    if (lead.GetLength() < 2) {
        m_nError = m_lastReadError != 0 ? m_lastReadError : -5;
        return CChrArr();
    }
    if (lead[0] != kEsc || lead[1] != m_traits.lead) {
        m_nError = POSNET_ERR_BAD_LEAD;
        return CChrArr();
    }

    CChrArr body = m_pSerial->ReadUntil(m_nPort, kEsc, kReplyMax, kIoSeconds);
    m_lastReadError = m_pSerial->GetError();
    DumpReadUntil(body);
    const int waiting = m_pSerial->GetInputCount(m_nPort);
    NoteReadTimeout(waiting > 0 ? CChrArr("?") : body);
    const int e = m_lastReadError;
    if (e != 0 && e != -5 && e != -8) {
        m_nError = e;   // hang-up, break, port failure
        return CChrArr();
    }
    if (e == -5 && body.IsEmpty()) {
        // No ESC in time: a reply's worth of bytes without one is a reply
        // not ended by ESC, less is a short reply.
        if (waiting >= m_traits.shortestReply) m_nError = POSNET_ERR_NO_ESC;
        else m_nError = m_traits.shortTakesReadCode ? e : POSNET_ERR_BAD_REPLY;
        return CChrArr();
    }
    const int length = body.GetLength();
    if (length < m_traits.shortestReply) {
        m_nError = m_traits.shortTakesReadCode && e != 0 ? e : POSNET_ERR_BAD_REPLY;
        return CChrArr();
    }
    if (body[length - 1] != kEsc) {
        m_nError = POSNET_ERR_NO_ESC;
        return CChrArr();
    }
    const CChrArr end = ReadCounted(1);
    if (end.GetLength() != 1) {
        m_nError = m_lastReadError != 0 ? m_lastReadError : -5;
        return CChrArr();
    }
    if (end[0] != '\\') {
        m_nError = POSNET_ERR_BAD_END;
        return CChrArr();
    }
    return body.Left(length - 1);
}
