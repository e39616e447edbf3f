#include "drivers/common/error_table_b.h"

#include "comm/telepathy.h"
#include "util/cp1250.h"

const char* ErrorTableB(int code) {
    switch (code) {
    case 1: return PL("Brak taśmy paragonowej");
    case 2: return PL("Brak taśmy kontrolnej");
    case 3: return PL("Odłączenie drukarki paragonowej");
    case 4: return PL("Odłączenie druku kontrolnego");
    case 5: return PL("Przegrzanie głowicy drukarki paragonowej");
    case 6: return PL("Przegrzanie głowicy drukarki kontrolnej");
    case 8: return PL("Odłączenie pamieci fiskalnej");
    case 9: return PL("Błędne dane RAM");
    case 10: return PL("Przepełnienie liczników w pamięci fiskalnej");
    case 11: return PL("Koniec pamięci fiskalnej");
    case 12: return PL("Brak miejsca w pamięci fiskalnej");
    case 13: return PL("Błąd zapisu w pamięci fiskalnej");
    case 14: return PL("Błąd operacji");
    case 15: return PL("Data wcześniejsza od daty ostatniego zapisu");
    case 16: return PL("Nieprawidłowa data (format)");
    case 17: return PL("Błędna sekwencja klawiszy");
    case 18: return PL("Brak wywoływanej danej");
    case 19: return PL("Wprowadzenie zbyt dużej liczby");
    case 20: return PL("Brak numeru unikatowego");
    case 21: return PL("Wprowadzenie istniejącego kanału komunikacyjnego");
    case 22: return PL("Nieznana operacja");
    case 23: return PL("Teraz niemożliwe");
    case 24: return PL("Operacja niemożliwa");
    case 25: return PL("Próba przekroczenia limitu");
    case 26: return PL("Przekroczenie limitu");
    case 27: return PL("Niezaprogramowana dana");
    case 28: return PL("Zbyt długi paragon");
    case 29: return PL("Przekroczony limit płatności");
    case 30: return PL("Brak kasjera");
    case 31: return PL("Zbyt mała ilość gotowki");
    case 32: return PL("Przekroczony limit w grupie towarowej");
    case 33: return PL("Odłączony PC");
    case 34: return PL("Niezaprogramowane stopy PTU");
    case 35: return PL("Kwota od klienta jest mniejsza od sumy rachunku");
    default: return nullptr;
    }
}

std::string LookupDeviceErrorText(DeviceErrorTable table, int code) {
    // Transport codes read the same in every family: the line's own text.
    if (code >= -10 && code <= -1) return SerialErrorText(code);
    const char* text = nullptr;
    if (code < 500)
        text = table(code);
    else if (code >= 1001 && code <= 1255)
        text = table(code - 1000);
    else if (code == 9998)
        text = "Data Nothing !?";
    return text ? std::string(text) : std::string(PL("Nieokreślony błąd"));
}

std::string ErrorTextB(int code) { return LookupDeviceErrorText(ErrorTableB, code); }
