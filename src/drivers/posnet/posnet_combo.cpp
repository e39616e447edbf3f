#include "drivers/posnet/posnet_combo.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "util/chrarr.h"
#include "orvanta/ecr.h"
#include "util/cp1250.h"

using orv::posnet::CComboLibrary;
using orv::posnet::PosCode;
using orv::posnet::PosHandle;
using Lib = CComboLibrary;

namespace {

struct CodeText {
    int code;
    const char* text;
};

// Codes of the libraries (classes 0x00 and 0x01) and of the register
// (classes 0x43 and 0x44).
const CodeText kErrorTable[] = {
    {0x000000, PL("Brak Błędu")},
    {0x000001, PL("Brak pamięci")},
    {0x000002, PL("Za krótka ramka")},
    {0x000003, PL("Błąd ramki odebranej z kasy")},
    {0x000005, PL("Nie można otworzyc wskazanego urządzenia")},
    {0x000006, PL("Błąd CRC w odebranej ramce")},
    {0x000007, PL("Błąd utworzenia obiektu IPC (Event)")},
    {0x000008, PL("Błąd komunikacji")},
    {0x000009, PL("Błąd krytyczny USB - urządzenie nie będzie funkcjonował poprawnie")},
    {0x00000A, PL("Nieudany import sterownika FTDI")},
    {0x00000B, PL("Błąd ustawienia parametrów otwieranego portu")},
    {0x00000C, PL("Nie można otworzyć wskazanego urządzenia - port zajęty")},
    {0x00000D, PL("Nie można otworzyć wskazanego urządzenia - port nie znaleziony")},
    {0x00000E, PL("Błędne parametry portu - baudrate")},
    {0x00000F, PL("Błędne parametry portu - databits")},
    {0x000010, PL("Błędne parametry portu - parity")},
    {0x000011, PL("Błędne parametry portu - stop bits")},
    {0x000012, PL("Błędne parametry portu - handshake")},
    {0x000020, PL("Urządzenie zajęte")},
    {0x000021, PL("Urządzenie zajęte - podniesiona dźwignia")},
    {0x000022, PL("Urządzenie zajęte - Błąd mechanizmu")},
    {0x000023, PL("Urządzenie zajęte - podniesiona pokrywa")},
    {0x000024, PL("Urządzenie zajęte - brak papieru")},
    {0x000025, PL("Urządzenie zajęte - zbyt wysoka temperatura")},
    {0x000026, PL("Urządzenie zajęte - chwilowy zanik zasilania")},
    {0x000027, PL("Urządzenie zajęte - Błąd obcinacza")},
    {0x000030, PL("Błąd sieciowy - przerwane wywołanie systemowe")},
    {0x000031, PL("Błąd sieciowy - brak dostępu")},
    {0x000032, PL("Błąd sieciowy - operacja w toku")},
    {0x000033, PL("Błąd sieciowy - wymagany adres docelowy")},
    {0x000034, PL("Błąd sieciowy - adres w użyciu")},
    {0x000035, PL("Błąd sieciowy - adres nieprawidłowy")},
    {0x000036, PL("Błąd sieciowy - sieć jest wyłączona")},
    {0x000037, PL("Błąd sieciowy - sieć jest nieosiągalna")},
    {0x000038, PL("Błąd sieciowy - sieć rozłączyła połączenie")},
    {0x000039, PL("Błąd sieciowy - połączenie zerwane przez aplikację")},
    {0x00003A, PL("Błąd sieciowy - strona zdalna zerwała połączenie")},
    {0x00003B, PL("Błąd sieciowy - upłynął czas oczekiwania na odpowiedź")},
    {0x00003C, PL("Błąd sieciowy - połączenie odrzucone")},
    {0x00003D, PL("Błąd sieciowy - serwer zdalny jest wyłączony")},
    {0x00003E, PL("Błąd sieciowy - serwer zdalny jest nieosiagalny")},
    {0x00003F, PL("Błąd sieciowy - serwer nieznaleziony")},
    {0x000040, PL("Błąd sieciowy - serwer nieznaleziony, spróbuj ponownie")},
    {0x010000, PL("Rozkaz już wykonany")},
    {0x010001, PL("Brak danych w kolejce")},
    {0x010002, PL("Błędna wartość")},
    {0x010003, PL("Oczekiwanie zakończone upłynięciem czasu (timeout)")},
    {0x010004, PL("Polecenie w trakcie wykonywania")},
    {0x010005, PL("Błędny numer polecenia")},
    {0x010006, PL("Błędny uchwyt")},
    {0x010007, PL("Przekazany bufor znakowy jest za mały")},
    {0x010008, PL("Poza zakresem licznika")},
    {0x010009, PL("Błędny tryb kolejkowania")},
    {0x01000A, PL("Rozkaz anulowany")},
    {0x43000A, PL("Błąd nietypowy - rezygnacja, przerwanie funkcji")},
    {0x430032, PL("Błąd wykonywania operacji przez kasę.")},
    {0x43012C, PL("Karta rabatowa nieważna")},
    {0x43012D, PL("Błędna karta")},
    {0x43012E, PL("Karta rabatowa niedostępna w konfiguracji.")},
    {0x430140, PL("Brak uprawnień kasjera do wykonania operacji.")},
    {0x430141, PL("Statystyki grup nieaktywne.")},
    {0x430143, PL("Brak uprawnień kasjera lub funkcja zablokowana w konfiguracji")},
    {0x43017E, PL("Próba wykonania drugiego zerowego raportu w danym dniu")},
    {0x430190, PL("Błędna wartość")},
    {0x430191, PL("Nazwa początkowa większa od końcowej")},
    {0x430192, PL("Numer początkowy większy od końcowego")},
    {0x4301B8, PL("Zalogowany kierownik")},
    {0x4301B9, PL("Nie zalogowany kierownik")},
    {0x4301BA, PL("Zalogowany użytkownik")},
    {0x4301BB, PL("Nie zalogowany użytkownik")},
    {0x4301BC, PL("Zwora serwisowa do sprawdzenia przy operacji przez protokół")},
    {0x4301E0, PL("Kasa już autoryzowana, bezterminowo")},
    {0x4301E1, PL("Nie rozpoczęto jeszcze autoryzacji")},
    {0x4301E2, PL("Kod już wprowadzony")},
    {0x4301E3, PL("Próba wprowadzenia błędnych wartości")},
    {0x4301E4, PL("Minął czas pracy kasy, sprzedaż zablokowana")},
    {0x4301E5, PL("Błędny kod autoryzacji")},
    {0x4301E6, PL("Blokada autoryzacji. Wprowadź kod z klawiatury.")},
    {0x4301F4, PL("Przepełnienie statystyki minimalnej")},
    {0x4301F5, PL("Przepełnienie statystyki maksymalnej")},
    {0x43021C, PL("Brak towaru lub zestawu w magazynie")},
    {0x43021D, PL("Brak opakowania w magazynie")},
    {0x43021E, PL("Przepełnienie ilości towaru lub zestawu w magazynie")},
    {0x43021F, PL("Przepełnienie ilości opakowania w magazynie")},
    {0x430220, PL("Próba operacji na nieaktywnym magazynie PLU")},
    {0x430221, PL("Próba operacji na nieaktywnym magazynie opakowań")},
    {0x4302BC, PL("Błędny adres IP")},
    {0x4302BD, PL("Błąd numeru tonu")},
    {0x4302BE, PL("Błąd długości impulsu szuflady")},
    {0x4302BF, PL("Błąd stawki VAT")},
    {0x4302C0, PL("Błąd czasu wylogowania")},
    {0x4302C1, PL("Błąd czasu uśpienia")},
    {0x4302C2, PL("Błąd czasu wyłączenia")},
    {0x4302C3, PL("Błąd procentu zapełnienia buf. pozycji paragonowych")},
    {0x4302C4, PL("Błędna konfiguracja zabezpieczeń logowania")},
    {0x4302C5, PL("Błędny atrybut nagłówka")},
    {0x4302C6, PL("Błędny tryb wprowadzania dla kart rabatowych")},
    {0x4302C7, PL("Błędny timeout dla kart rabatowych")},
    {0x4302C8, PL("Błędny atrybut stopki reklamowej")},
    {0x4302C9, PL("Do zastąpienia przez konkrety")},
    {0x4302CA, PL("Błędna wartość kontrastu wyświetlacza")},
    {0x4302CB, PL("Błędna wartość podświetlenia wyświetlacza")},
    {0x4302CC, PL("Błędna wartość czasu zaniku podświetlenia")},
    {0x4302CD, PL("Za długa linia nagłówka albo stopki")},
    {0x4302CE, PL("Błędna konfiguracja komunikacji")},
    {0x4302CF, PL("Błędna konfiguracja protokołu kom.")},
    {0x4302D0, PL("Błędny identyfikator portu")},
    {0x4302D1, PL("Błędny numer tekstu reklamowego")},
    {0x4302D2, PL("Podany czas wychodzi poza wymagany zakres")},
    {0x4302D3, PL("Podana data/czas niepoprawne")},
    {0x4302D4, PL("Inna godzina w różnicach czasowych 0<=>23")},
    {0x4302D5, PL("Błędny numer kasy")},
    {0x4302D6, PL("Błędna zawartość tekstu w linii wyświetlacza")},
    {0x4302D7, PL("Błędna wartość dla przewijania na wyświetlaczu")},
    {0x4302D8, PL("Błędna konfiguracja portu")},
    {0x4302D9, PL("Błędny typ raportu (w protokole)")},
    {0x4302DA, PL("Błędny zakres statystyk raportu (w protokole)")},
    {0x4302DB, PL("Błędny parametr raportu (w protokole)")},
    {0x430320, PL("Baza zapełniona")},
    {0x430321, PL("Brak rekordów do odczytu")},
    {0x430322, PL("Brak rekordów do usunięcia")},
    {0x430323, PL("Nastąpił reset bazy odsyłania sprzedaży")},
    {0x430334, PL("Negatywny wynik testu")},
    {0x430384, PL("Błędny format kodu ważonego")},
    {0x430385, PL("Rekord już zaprogramowany")},
    {0x430386, PL("Rekord jest predefiniowany")},
    {0x430387, PL("Rekord nie istnieje")},
    {0x430388, PL("Baza jest pusta")},
    {0x430389, PL("Baza jest pełna")},
    {0x43038A, PL("Błąd zapisu")},
    {0x43038B, PL("Błąd odczytu")},
    {0x43038C, PL("Brak rekordu w indeksie")},
    {0x43038D, PL("Nieprawidłowy (za duży) numer rekordu")},
    {0x43038E, PL("Nazwa nie jest unikalna")},
    {0x43038F, PL("Nie znaleziono określonego opakowania")},
    {0x430390, PL("Nie znaleziono określonej grupy tow.")},
    {0x430391, PL("Nie znaleziono określonego rabatu")},
    {0x430392, PL("Nie znaleziono określonej jednostki miary")},
    {0x430393, PL("Nieprawidłowa nazwa")},
    {0x430394, PL("Nieprawidłowa wartość")},
    {0x430395, PL("Nieprawidłowy identyfikator bazy")},
    {0x430396, PL("Nieprawidłowe hasło")},
    {0x430397, PL("Nieunikalne hasło")},
    {0x430398, PL("Nieunikalny kod kreskowy")},
    {0x430399, PL("Nieprawidłowy kod kreskowy")},
    {0x43039A, PL("Próba umieszczenia zestawu w zestawie")},
    {0x43039B, PL("Nieunikalny numer PLU w zestawie")},
    {0x43039C, PL("Błędny identyfikator stawki VAT")},
    {0x43039D, PL("Niepoprawna wartość progu(ów) w rabacie progresywnym")},
    {0x43039E, PL("Niepoprawna cena")},
    {0x43039F, PL("PLU już jest w notatniku")},
    {0x4303A0, PL("Notatnik jest zapełniony")},
    {0x4303A1, PL("Błędna nazwa waluty")},
    {0x4303A2, PL("Błędny kurs waluty")},
    {0x4303A3, PL("Błędna wartość procentowa")},
    {0x4303A4, PL("Błędna wartość rabatu")},
    {0x4303A5, PL("Rabat progresywny - za dużo progów")},
    {0x4303A6, PL("Rabat progresywny - brak progów")},
    {0x4303A7, PL("Niepoprawna kolejność wartości progowych")},
    {0x4303A8, PL("Błędna wartość promocji MxN")},
    {0x4303A9, PL("Nieprawidłowy typ rabatu")},
    {0x4303AA, PL("Próba usunięcia aktywnego linku")},
    {0x4303AB, PL("Za dużo gotówkowych form płatności")},
    {0x4303AC, PL("Próba zamiany predefiniowanego kierownika na kasjera")},
    {0x4303AD, PL("Próba zmiany PLU na zestaw albo na odwrót")},
    {0x4303AE, PL("Próba zmiany predefiniowanej formy płatności na niegotówkową")},
    {0x4303AF, PL("Próba kasowania zalogowanego użytkownika")},
    {0x4303B0, PL("Niedozwolona operacja na rekordzie z niezerową statystyką")},
    {0x4303B1, PL("Pusta nazwa rekordu")},
    {0x4303B2, PL("Zbyt dużo elementów w zestawie")},
    {0x4303B3, PL("Błędny typ formy płatności")},
    {0x4303B4, PL("Nie wydrukowano operacji programowania")},
    {0x4303B5, PL("Nie wydrukowano zmiany nazwy")},
    {0x4303B6, PL("Nie wydrukowano zmiany stawki")},
    {0x4303B7, PL("Nie wydrukowano operacji kasowania")},
    {0x4303B8, PL("PLU jest elementem zestawu")},
    {0x4303B9, PL("Nieunikalny numer PLU w obrębie tego samego zestawu")},
    {0x4303BA, PL("Nie ma takiego elementu zestawu")},
    {0x4303BB, PL("Przepełnienie bufora zmiany nazwy PLU")},
    {0x4303BC, PL("Nie znaleziono użytkownika o podanym numerze")},
    {0x4303BD, PL("Nie znaleziono rabatu o podanym numerze")},
    {0x4303BE, PL("Nie znaleziono formy płatności o podanym numerze")},
    {0x4303BF, PL("Jednoczesna zmiany nazwy i stawki")},
    {0x4303C0, PL("Dana forma płatności musi być na raporcie użytkownika")},
    {0x4303C1, PL("Oczekiwana niegotówkowa forma płatności")},
    {0x4303C2, PL("Błędna flaga formy płatności")},
    {0x4303C3, PL("Błędna nazwa formy płatności")},
    {0x4303C4, PL("Oczekiwany zestaw a nie towar")},
    {0x4303C5, PL("Id karty już istnieje w bazie")},
    {0x4303C6, PL("Niepoprawny kod kreskowy")},
    {0x4303C7, PL("Błędny format ilości (min. stan magazynowy)")},
    {0x4303C8, PL("Nie zaprogramowano żadnej waluty")},
    {0x4303C9, PL("Niedozwolona operacja na bazie z niezerowymi statystykami")},
    {0x4303CA, PL("Zbyt dużo kodów kreskowych")},
    {0x4303E8, PL("Błąd fatalny modułu fiskalnego.")},
    {0x4303E9, PL("Wypięta pamięć fiskalna")},
    {0x4303EA, PL("Błąd zapisu")},
    {0x4303EB, PL("Błąd nie ujęty w specyfikacji bios")},
    {0x4303EC, PL("Błędne sumy kontrolne")},
    {0x4303ED, PL("Błąd w pierwszym bloku kontrolnym")},
    {0x4303EE, PL("Błąd w drugim bloku kontrolnym")},
    {0x4303EF, PL("Błędny id rekordu")},
    {0x4303F0, PL("Błąd inicjalizacji adresu startowego")},
    {0x4303F1, PL("Adres startowy zainicjalizowany")},
    {0x4303F2, PL("Numer unikatowy już zapisany")},
    {0x4303F3, PL("Brak numeru w trybie fiskalnym")},
    {0x4303F4, PL("Błąd zapisu numeru unikatowego")},
    {0x4303F5, PL("Przepełnienie numerów unikatowych")},
    {0x4303F6, PL("Błędny język w numerze unikatowym")},
    {0x4303F7, PL("Więcej niż jeden NIP")},
    {0x4303F8, PL("Kasa w trybie do odczytu bez rekordu fiskalizacji")},
    {0x4303F9, PL("Przekroczono liczbę zerowań RAM")},
    {0x4303FA, PL("Przekroczono liczbę raportów dobowych")},
    {0x4303FB, PL("Błąd weryfikacji numeru unikatowego")},
    {0x4303FC, PL("Błąd weryfikacji statystyk z  RD.")},
    {0x4303FD, PL("Błąd odczytu danych z NVR do weryfikacji FM")},
    {0x4303FE, PL("Błąd zapisu danych z NVR do weryfikacji FM")},
    {0x4303FF, PL("Pamięć fiskalna jest mała 1Mb zamiast 2Mb")},
    {0x430400, PL("Nie zainicjalizowany obszar danych w pamięci fiskalnej")},
    {0x430401, PL("Błędny format numeru unikatowego")},
    {0x430402, PL("Za dużo błędnych bloków w FM")},
    {0x430403, PL("Błąd oznaczenia błędnego bloku")},
    {0x430404, PL("Rekord w pamięci fiskalnej nie istnieje - obszar pusty")},
    {0x4307D0, PL("Błąd pola VAT.")},
    {0x4307D2, PL("Brak nagłówka")},
    {0x4307D3, PL("Zaprogramowany nagłówek")},
    {0x4307D4, PL("Brak aktywnych stawek VAT.")},
    {0x4307D5, PL("Brak trybu transakcji.")},
    {0x4307E5, PL("Próba ponownego ustawienia zegara.")},
    {0x4307E6, PL("Zbyt duża różnica dat")},
    {0x4307E7, PL("Różnica większa niż godzina w trybie użytkownika w trybie fiskalnym.")},
    {0x4307E8, PL("Zły format daty (np. 13 miesiąc )")},
    {0x4307E9, PL("Data wcześniejsza od ostatniego zapisu do modułu")},
    {0x4307EA, PL("Błąd zegara.")},
    {0x4307EB, PL("Przekroczono maksymalną liczbę zmian stawek VAT")},
    {0x4307EC, PL("Próba zdefiniowana identycznych stawek VAT")},
    {0x4307ED, PL("Błędne wartości stawek VAT")},
    {0x4307EE, PL("Próba zdefiniowania stawek VAT wszystkich nieaktywnych")},
    {0x4307F0, PL("Błąd numeru unikatowego pamięci fiskalnej.")},
    {0x4307F1, PL("Urządzenie w trybie fiskalnym.")},
    {0x4307F2, PL("Urządzenie w trybie niefiskalnym.")},
    {0x4307F3, PL("Niezerowe totalizery.")},
    {0x4307F4, PL("Urządzenie w stanie tylko do odczytu.")},
    {0x4307F5, PL("Urządzenie nie jest w stanie tylko do odczytu.")},
    {0x4307F6, PL("Urządzenie w trybie transakcji.")},
    {0x4307F7, PL("Zerowe totalizery.")},
    {0x4307FA, PL("Błędy format daty początkowej")},
    {0x4307FB, PL("Błędy format daty końcowej")},
    {0x4307FC, PL("Próba wykonania raportu miesięcznego w danym miesiącu")},
    {0x4307FD, PL("Data początkowa późniejsza od bieżącej daty")},
    {0x4307FE, PL("Data końcowa wcześniejsza od daty fiskalizacji")},
    {0x4307FF, PL("Numer początkowy lub końcowy równy zero")},
    {0x430800, PL("Numer początkowy większy od numeru końcowego")},
    {0x430801, PL("Numer raportu zbyt duży")},
    {0x430802, PL("Data początkowa większa od daty końcowej")},
    {0x430803, PL("Brak pamięci w buforze tekstów.")},
    {0x430807, PL("Błędna linia")},
    {0x430808, PL("Tekst pusty")},
    {0x430809, PL("Przekroczony rozmiar")},
    {0x43080A, PL("Błędna liczba linii.")},
    {0x430813, PL("Błąd ustawień konfiguracyjnych wydruków / drukarki")},
    {0x430BB9, PL("Brakujące dane")},
    {0x430BBA, PL("Nieoczekiwane dane")},
    {0x430BBB, PL("Nieoczekiwany znak")},
    {0x430BBC, PL("Nieoczekiwany STX")},
    {0x430BBD, PL("Nieoczekiwany ETX")},
    {0x430BBE, PL("Błąd CRC")},
    {0x430BBF, PL("Błędna długość ramki")},
    {0x430BC0, PL("Nieznane polecenie")},
    {0x430BC1, PL("Przepełnienie bufora")},
    {0x430BC2, PL("Błędny parametr")},
    {0x430BC3, PL("Nieznany typ danych")},
    {0x430BC4, PL("Za dużo parametrów")},
    {0x430BC5, PL("Za mało parametrów")},
    {0x430BC6, PL("Nieznany stan protokołu")},
    {0x430BC7, PL("Timeout")},
    {0x430BC8, PL("Stan zajętości przy wykonywaniu sekwencji złożonej")},
    {0x430BC9, PL("Za dużo pól")},
    {0x430BCA, PL("Brak dostępu do zasobów - operacja zdalna zablokowana")},
    {0x431A0A, PL("Zbyt długi łańcuch")},
    {0x431A0B, PL("Zbyt duża wartość BCD4")},
    {0x431A0C, PL("Niewłaściwa ilość argumentów dla danego polecenia")},
    {0x440001, PL("Brakujące dane")},
    {0x440002, PL("Nieoczekiwane dane")},
    {0x440003, PL("Nieoczekiwany znak")},
    {0x440004, PL("Nieoczekiwany STX")},
    {0x440005, PL("Nieoczekiwany ETX")},
    {0x440006, PL("Niezgodność CRC")},
    {0x440007, PL("Błędna długość ramki")},
    {0x440008, PL("Nieznane polecenie, występuje gdy nie można dopasować pola CMD_ID do żadnego polecenia")},
    {0x440009, PL("Przepełnienie bufora wejściowego parsera")},
    {0x44000A, PL("Błędny parametr, występuje jeżeli kolejny parametr przysyłanego polecenia nie zgadza się ze wzorcem")},
    {0x44000B, PL("Występuje gdy typ pola jest różny od B,V,S,Q,K,N,L")},
    {0x44000C, PL("Zbyt dużo parametrów zgłaszany, gdy liczba parametrów polecenia jest większa od 20")},
    {0x44000D, PL("Występuje gdy wysłano za mało parametrów")},
    {0x44000E, PL("Nieznany stan podczas przetwarzania danych")},
    {0x44000F, PL("Przekroczony czas oczekiwania na odpowiedź")},
    {0x440010, PL("Stan zajętości przy wykonywaniu sekwencji złożonej ")},
    {0x440011, PL("Przepełnienie bufora wejściowego")},
    {0x440012, PL("Wysłanie sekwencji złożonej przy zalogowanym użytkowniku")},
};

const char* FindText(int code) {
    for (const CodeText& e : kErrorTable)
        if (e.code == code) return e.text;
    return nullptr;
}

// A whole number written by the libraries as text: blanks around it, an
// optional sign, at most 18 digits. False for anything else.
bool ParseWhole(const std::string& text, int64_t& out) {
    size_t i = 0, n = text.size();
    while (i < n && text[i] == ' ') ++i;
    while (n > i && text[n - 1] == ' ') --n;
    bool negative = false;
    if (i < n && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    if (i == n || n - i > 18) return false;
    int64_t v = 0;
    for (; i < n; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + (text[i] - '0');
    }
    out = negative ? -v : v;
    return true;
}

std::string Cut(const std::string& s, size_t n) { return s.size() > n ? s.substr(0, n) : s; }

}  // namespace

CPosnetCombo::CPosnetCombo() = default;

CPosnetCombo::~CPosnetCombo() = default;

void CPosnetCombo::ResetLibraryForTests() { Lib::ResetForTests(); }

int CPosnetCombo::Fail(int code) {
    m_nError = code;
    return 0;
}

// A code the libraries returned, as the job's error: one with its top bit
// set would read as the job's own negative codes (a break, no answer), so it
// is the undefined error.
int CPosnetCombo::LibraryCode(PosCode code) {
    return code > 0x7FFFFFFFu ? kBadAnswer : static_cast<int>(code);
}

int CPosnetCombo::LibraryFailure(PosCode code) { return Fail(LibraryCode(code)); }

// --------------------------------------------------------------- texts ----

std::string CPosnetCombo::GetErrorText(int code) {
    if (const char* t = FindText(code)) return t;
    if (code >= 0x010101 && code <= 0x010116) {
        char text[64];
        std::snprintf(text, sizeof text, PL("Błędny %d parametr polecenia"), code - 0x010100);
        return text;
    }
    return CTelepathyECR::GetErrorText(code);
}

std::string CPosnetCombo::ErrorText() {
    if (m_nError == kLoadError && !m_sLoadText.empty()) return m_sLoadText;
    return GetErrorText(m_nError);
}

// -------------------------------------------------------- open, close ----

bool CPosnetCombo::LoadLibraries() {
    m_sLoadText.clear();
    if (Lib::Load(m_sLoadText)) return true;
    m_nError = kLoadError;
    return false;
}

void CPosnetCombo::ReleaseRequest() {
    if (m_hRequest) Lib::DestroyRequest(m_hRequest);
    m_hRequest = 0;
}

void CPosnetCombo::FailOpen(int code) {
    ReleaseRequest();
    CloseDevice();
    m_nError = code != 0 ? code : kCannotOpen;
}

int CPosnetCombo::OpenSerial(int port, int baud) {
    const std::string line = "COM" + std::to_string(static_cast<unsigned>(port)) + "," +
                             std::to_string(static_cast<unsigned>(baud)) + (m_nModel == 1 ? ",8,N,1,N" : ",8,N,1,H");
    return OpenDevice(1, static_cast<uint32_t>(port), line.c_str());
}

int CPosnetCombo::OpenDevice(int kind, uint32_t value, const char* text) {
    m_nError = 0;
    m_nPort = static_cast<int>(value);
    // A device left open by an earlier job is not held twice.
    ReleaseRequest();
    CloseDevice();
    if (!LoadLibraries()) return 0;
    if (kind < 1 || kind > 3) return Fail(kCannotOpen);

    m_hParams = Lib::CreateDeviceHandle(static_cast<uint32_t>(kind));
    if (!m_hParams) return Fail(kCannotOpen);
    const std::string given = text ? text : "";
    switch (kind) {
    case 1: Lib::SetDeviceParam(m_hParams, kParamSerial, given); break;
    case 2: Lib::SetDeviceParam(m_hParams, kParamUsb, given); break;
    default: {
        std::string address = given;
        if (value != 0)
            address = std::to_string(value >> 24) + "." + std::to_string((value >> 16) & 0xFF) + "." +
                      std::to_string((value >> 8) & 0xFF) + "." + std::to_string(value & 0xFF);
        Lib::SetDeviceParam(m_hParams, kParamAddress, address);
        Lib::SetDeviceParam(m_hParams, kParamTcpSetting, "1000");
        break;
    }
    }

    m_hDevice = Lib::OpenDevice(m_hParams);
    if (!m_hDevice) {
        FailOpen(LibraryCode(Lib::GetError(0)));
        return 0;
    }
    m_hRequest = Lib::CreateRequest(m_hDevice, kOpenCommand);
    if (!m_hRequest) {
        FailOpen(kCannotOpen);
        return 0;
    }
    Lib::PushRequestParamByte(m_hRequest, 0);
    Lib::PostRequest(m_hRequest, 1);
    PosCode w = Lib::WaitForRequestCompleted(m_hRequest, m_nModel == 1 ? kWaitMs : kOpenWaitMs);
    if (w != 0) {
        FailOpen(LibraryCode(w));
        return 0;
    }
    PosCode s = Lib::GetRequestStatus(m_hRequest);
    if (s != 0) {
        FailOpen(LibraryCode(s));
        return 0;
    }
    for (int i = 0; i < 3; ++i) Lib::PopResponseValueByte(m_hRequest);
    ReleaseRequest();
    m_nError = 0;
    return 1;
}

void CPosnetCombo::CloseDevice() {
    ReleaseRequest();
    if (m_hDevice) Lib::CloseDevice(m_hDevice);
    m_hDevice = 0;
    m_hParams = 0;
}

// ----------------------------------------------------- request pattern ----

int CPosnetCombo::Send(const std::function<PosCode(PosHandle*)>& build) {
    if (Broken()) return Fail(kBreak);
    m_nError = 0;
    ReleaseRequest();
    if (!m_hDevice) return Fail(kBadHandle);
    PosCode r = build(&m_hRequest);
    if (r != 0) {
        ReleaseRequest();
        return LibraryFailure(r);
    }
    if (!m_hRequest) return Fail(kBadHandle);
    PosCode w = Lib::WaitForRequestCompleted(m_hRequest, kWaitMs);
    if (w != 0) {
        ReleaseRequest();
        return LibraryFailure(w);
    }
    return 1;
}

int CPosnetCombo::Write(const std::function<PosCode(PosHandle*)>& build) {
    if (!Send(build)) return 0;
    PosCode s = Lib::GetRequestStatus(m_hRequest);
    ReleaseRequest();
    if (s != 0) return LibraryFailure(s);
    m_nError = 0;
    return 1;
}

int CPosnetCombo::Read(const std::function<PosCode(PosHandle*)>& build,
                       const std::function<PosCode(PosHandle)>& get) {
    if (!Send(build)) return 0;
    PosCode g = get(m_hRequest);
    ReleaseRequest();
    if (g != 0) return LibraryFailure(g);
    m_nError = 0;
    return 1;
}

int CPosnetCombo::ReadList(const std::function<PosCode(PosHandle*)>& context,
                           const std::function<PosCode(PosHandle*)>& next,
                           const std::function<PosCode(PosHandle, uint32_t&)>& get,
                           const std::function<int(uint32_t, int)>& take) {
    if (!Write(context)) return 0;
    if (!Send(next)) return 0;
    for (int count = 1;; ++count) {
        uint32_t number = 0;
        PosCode g = get(m_hRequest, number);
        ReleaseRequest();
        if (g == static_cast<PosCode>(kEndOfList)) {
            m_nError = 0;
            return 1;
        }
        if (g != 0) return LibraryFailure(g);
        if (number == 0) return Fail(kBadAnswer);
        if (!take(number, count)) return 0;
        // A list that never ends is cut off.
        if (count >= kMaxListRecords) return Fail(kBadAnswer);
        if (!Send(next)) return 0;
    }
}

// ------------------------------------------------------ records, checks ----

bool CPosnetCombo::WireCode(const std::string& code, std::string& out) {
    const std::string text = CComboLibrary::Printable(code);
    size_t n = text.size();
    while (n > 0 && text[n - 1] == ' ') --n;
    if (n > 13) return false;
    out = text.substr(0, n);
    return true;
}

bool CPosnetCombo::PriceText(double price, std::string& out) {
    if (!std::isfinite(price) || price < 0.0 || price > 21474836.47) return false;
    double hundredths = std::trunc(price * 100.0 + 0.1);
    out = std::to_string(static_cast<int64_t>(hundredths));
    return true;
}

int CPosnetCombo::CheckGoods(const ComboPlu& r, bool insert, bool byCode) const {
    if (r.number > kMaxNumber) return kNumberTooBig;
    if (insert && (r.vat == 0 || r.vat > 7)) return kBadVat;
    std::string text;
    if (!PriceText(r.price, text)) return kBadPrice;
    if ((insert || byCode) && !WireCode(r.code, text)) return kBadBarcode;
    if (insert && !r.pack && !WireCode(r.code2, text)) return kBadBarcode;
    return 0;
}

ComboPlu CPosnetCombo::FromWire(const orv::posnet::ComboWireGoods& w) const {
    ComboPlu p;
    p.number = w.number;
    p.code = Cut(w.code, 13);
    p.name = Cut(w.name, static_cast<size_t>(NameLength()));
    p.vat = w.vat + 1;
    p.unit = w.unit;
    p.word1 = w.word1;
    p.department = w.department;
    p.word2 = w.word2;
    p.word3 = w.word3;
    p.word4 = w.word4;
    p.linked = w.linked;
    p.word5 = w.word5;
    return p;
}

int CPosnetCombo::ParseGoods(const orv::posnet::ComboWireGoods& w, ComboPlu& out) {
    int64_t hundredths = 0;
    if (!ParseWhole(w.price, hundredths)) return Fail(kBadAnswer);
    out = FromWire(w);
    out.price = static_cast<double>(hundredths) / 100.0;
    return 1;
}

// ----------------------------------------------------------- VAT, status ----

int CPosnetCombo::ReadVAT(double vat[8]) {
    for (int i = 0; i < 8; ++i) vat[i] = -3.0;
    uint16_t rates[7] = {};
    if (!Read([&](PosHandle* r) { return Lib::VATGet(m_hDevice, r); },
              [&](PosHandle r) { return Lib::GetVAT(r, rates); }))
        return 0;
    for (int i = 0; i < 7; ++i) {
        if (rates[i] == 65534)
            vat[i] = -1.0;
        else if (rates[i] == 65535)
            vat[i] = -3.0;
        else
            vat[i] = rates[i] / 100.0;
    }
    return 1;
}

int CPosnetCombo::ReadStatus(std::string& text) {
    orv::posnet::ComboWireStatus s;
    if (!Read([&](PosHandle* r) { return Lib::CashregStatusGet(m_hDevice, r); },
              [&](PosHandle r) { return Lib::GetStatus(r, s); }))
        return 0;
    std::string model;
    switch (s.type) {
    case 0: model = "?"; break;
    case 1: case 3: model = "POSNET COMBO"; break;
    case 2: case 4: model = "POSNET NEO"; break;
    case 5: model = "POSNET BINGO"; break;
    case 8: model = "POSNET COMBO EJ"; break;
    case 9: model = "POSNET NEO EJ"; break;
    case 11: model = "POSNET BINGO HS EJ"; break;
    case 24: model = "POSNET NEO XL EJ"; break;
    default: model = "(" + std::to_string(s.type) + ") ?"; break;
    }
    text = "Typ kasy : " + model + "\r\n";
    text += s.mode == 1   ? "Tryb pracy fiskalny\r\n"
            : s.mode == 2 ? "Tryb pracy tylko do odczytu\r\n"
                          : "Tryb pracy niefiskalny\r\n";
    text += s.totalizers == 1 ? "Totalizery niezerowe\r\n" : "Totalizery zerowe\r\n";
    text += "Numer unikatowy : " + s.unique + "\r\n";
    text += "Wersja software'u : " + s.software + "\r\n";
    return 1;
}

// ---------------------------------------------------------------- goods ----

int CPosnetCombo::ReadAllPlus(const PluFn& fn) {
    orv::posnet::ComboWireGoods w;
    return ReadList([&](PosHandle* r) { return Lib::CntxPLUInit(m_hDevice, r); },
                    [&](PosHandle* r) { return Lib::PLURead(m_hDevice, r, 0); },
                    [&](PosHandle r, uint32_t& number) {
                        PosCode c = Lib::GetPLU(r, false, w);
                        number = w.number;
                        return c;
                    },
                    [&](uint32_t number, int) {
                        ComboPlu p;
                        if (!ParseGoods(w, p)) return 0;
                        const double n = std::min<double>(number, 16959);
                        Notify(ECR_EVENT_ITEM, p.name, static_cast<int>(std::trunc(n * 100.0) / 999999), 0);
                        if (fn) fn(p);
                        return 1;
                    });
}

int CPosnetCombo::ReadPlu(ComboPlu& record, int by) {
    if (record.number > kMaxNumber) return Fail(kNumberTooBig);
    orv::posnet::ComboWireGoods w;
    ComboPlu found;
    if (by == 1) {
        std::string code;
        if (!WireCode(record.code, code)) return Fail(kBadBarcode);
        if (!Read([&](PosHandle* r) { return Lib::PLUReadByBarcode(m_hDevice, r, code); },
                  [&](PosHandle r) { return Lib::GetPLU(r, true, w); }))
            return 0;
        if (!ParseGoods(w, found)) return 0;
        uint32_t number = 0;
        if (!Read([&](PosHandle* r) { return Lib::PLUGetByBarcode(m_hDevice, r, code); },
                  [&](PosHandle r) { return Lib::GetPLUNumber(r, false, number); }))
            return 0;
        if (number != 0) found.number = number;
        if (found.number == 0) return Fail(kBadAnswer);
        record = found;
        return 1;
    }
    uint32_t number = record.number;
    if (by == 2) {
        const std::string name = Cut(record.name, static_cast<size_t>(NameLength()));
        if (!Read([&](PosHandle* r) { return Lib::PLUGetByName(m_hDevice, r, name); },
                  [&](PosHandle r) { return Lib::GetPLUNumber(r, true, number); }))
            return 0;
        if (number == 0 || number > kMaxNumber) return Fail(kBadAnswer);
    }
    if (!Read([&](PosHandle* r) { return Lib::PLURead(m_hDevice, r, number); },
              [&](PosHandle r) { return Lib::GetPLU(r, false, w); }))
        return 0;
    if (!ParseGoods(w, found)) return 0;
    if (found.number == 0) return Fail(kBadAnswer);
    record = found;
    return 1;
}

int CPosnetCombo::ProgramPLU(const ComboPlu& r, int update) {
    if (r.pack == 1) return ProgramPack(r, update);
    const bool insert = update == 0;
    const bool byCode = !insert && r.number == 0;
    if (int refused = CheckGoods(r, insert, byCode)) return Fail(refused);
    std::string price, code, code2;
    PriceText(r.price, price);
    WireCode(r.code, code);
    WireCode(r.code2, code2);
    if (insert) {
        orv::posnet::ComboWireGoods w;
        w.number = r.number;
        w.code = code;
        w.name = Cut(r.name, static_cast<size_t>(NameLength()));
        w.vat = r.vat - 1;
        w.price = price;
        w.unit = r.unit;
        w.word1 = r.word1;
        w.department = r.department;
        w.word2 = r.word2;
        w.word3 = r.word3;
        w.word4 = r.word4;
        w.linked = r.linked;
        w.word5 = r.word5;
        w.code2 = code2;
        return Write([&](PosHandle* q) { return Lib::PLUIns(m_hDevice, q, w); });
    }
    if (!byCode) return Write([&](PosHandle* q) { return Lib::PluPriceUpdate(m_hDevice, q, r.number, price); });
    return Write([&](PosHandle* q) { return Lib::PluPriceUpdateByBarcode(m_hDevice, q, code, price); });
}

int CPosnetCombo::ProgramPack(const ComboPlu& r, int update) {
    const bool insert = update == 0;
    const bool byCode = !insert && r.number == 0;
    if (int refused = CheckGoods(r, insert, byCode)) return Fail(refused);
    std::string price, code;
    PriceText(r.price, price);
    WireCode(r.code, code);
    if (insert) {
        orv::posnet::ComboWireGoods w;
        w.number = r.number;
        w.code = code;
        w.name = Cut(r.name, static_cast<size_t>(NameLength()));
        w.vat = r.vat - 1;
        w.price = price;
        return Write([&](PosHandle* q) { return Lib::PackIns(m_hDevice, q, w); });
    }
    if (!byCode) return Write([&](PosHandle* q) { return Lib::PackPriceUpdate(m_hDevice, q, r.number, price); });
    return Write([&](PosHandle* q) { return Lib::PackPriceUpdateByBarcode(m_hDevice, q, code, price); });
}

int CPosnetCombo::DeletePLU(const ComboPlu& r) {
    if (r.number > kMaxNumber) return Fail(kNumberTooBig);
    if (r.number != 0) return Write([&](PosHandle* q) { return Lib::PLUDel(m_hDevice, q, r.number); });
    std::string code;
    if (!WireCode(r.code, code)) return Fail(kBadBarcode);
    return Write([&](PosHandle* q) { return Lib::PLUDelByBarcode(m_hDevice, q, code); });
}

int CPosnetCombo::InsertBarcode(uint32_t number, const std::vector<std::string>& codes) {
    if (number == 0) return Fail(kBadValue);
    if (number > kMaxNumber) return Fail(kNumberTooBig);
    std::vector<std::string> wire(codes.size());
    for (size_t i = 0; i < codes.size(); ++i)
        if (!WireCode(codes[i], wire[i])) return Fail(kBadBarcode);
    return Write([&](PosHandle* q) { return Lib::BarcodeIns(m_hDevice, q, number, wire); });
}

// -------------------------------------------------- groups and units ----

int CPosnetCombo::InsertGroup(const ComboGroup& g) {
    if (g.number > kMaxNumber) return Fail(kNumberTooBig);
    const std::string name = Cut(g.name, 24);
    return Write([&](PosHandle* q) { return Lib::GroupIns(m_hDevice, q, g.number, name); });
}

int CPosnetCombo::InsertUnit(const ComboUnit& u) {
    if (u.number > kMaxNumber) return Fail(kNumberTooBig);
    const std::string name = Cut(u.name, 24), shortName = Cut(u.shortName, 4);
    return Write([&](PosHandle* q) { return Lib::MUIns(m_hDevice, q, u.number, name, shortName); });
}

int CPosnetCombo::ReadAllDepts(const GroupFn& fn) {
    ComboGroup g;
    return ReadList([&](PosHandle* r) { return Lib::CntxGroupInit(m_hDevice, r); },
                    [&](PosHandle* r) { return Lib::GroupRead(m_hDevice, r); },
                    [&](PosHandle r, uint32_t& number) {
                        std::string name;
                        PosCode c = Lib::GetGroup(r, number, name);
                        g.number = number;
                        g.name = Cut(name, 24);
                        return c;
                    },
                    [&](uint32_t number, int) {
                        Notify(ECR_EVENT_ITEM, PL("Pobieranie danych działu - ") + std::to_string(number), 0, 0);
                        if (fn) fn(g);
                        return 1;
                    });
}

int CPosnetCombo::ReadAllUnits(const UnitFn& fn) {
    ComboUnit u;
    return ReadList([&](PosHandle* r) { return Lib::CntxMUInit(m_hDevice, r); },
                    [&](PosHandle* r) { return Lib::MURead(m_hDevice, r); },
                    [&](PosHandle r, uint32_t& number) {
                        std::string name, shortName;
                        PosCode c = Lib::GetUnit(r, number, name, shortName);
                        u.number = number;
                        u.name = Cut(name, 24);
                        u.shortName = Cut(shortName, 4);
                        return c;
                    },
                    [&](uint32_t number, int count) {
                        const int percent = (static_cast<int>(std::trunc(count * 100.0)) / 16) % 100;
                        Notify(ECR_EVENT_ITEM, "Pobieranie danych jednostki - " + std::to_string(number), percent, 0);
                        if (fn) fn(u);
                        return 1;
                    });
}

// ---------------------------------------------------------- statistics ----

void CPosnetCombo::LogStatLine(uint32_t number, const std::string& code, const std::string& name,
                               const std::string& quantity, const std::string& value) {
    if (!IsSaleLogOpen()) return;
    int64_t q = 0, v = 0;
    ParseWhole(quantity, q);
    ParseWhole(value, v);
    std::string line = "\r\n";
    if (number != 0) {
        char digits[16];
        std::snprintf(digits, sizeof digits, "%06u", number);
        line += digits;
    } else {
        line += "$" + ChrPadRight(CChrArr(code.c_str()), 13, ' ').ToString();
    }
    line += "\t" + ChrPadRight(CChrArr(name.c_str()), NameLength(), ' ').ToString() + "\t";
    // Quantity in thousandths as "%11.3f" would write it, from the whole number.
    const uint64_t mag = q < 0 ? static_cast<uint64_t>(-(q + 1)) + 1 : static_cast<uint64_t>(q);
    char qty[40];
    std::snprintf(qty, sizeof qty, "%s%llu.%03llu", q < 0 ? "-" : "", static_cast<unsigned long long>(mag / 1000),
                  static_cast<unsigned long long>(mag % 1000));
    char field[64];
    std::snprintf(field, sizeof field, "%11s\t%13lld", qty, static_cast<long long>(v));
    line += field;
    WriteSaleLog(CChrArr(line.c_str()));
}

ComboSaleLine CPosnetCombo::StatRecord(uint32_t number, const std::string& code, const std::string& name,
                                       const std::string& quantity, const std::string& value) {
    Notify(ECR_EVENT_ITEM, "PLU - " + std::to_string(number), static_cast<int>(std::trunc(number * 100.0) / 999999), 0);
    LogStatLine(number, code, name, quantity, value);
    ComboSaleLine line;
    line.plu = number;
    line.code = Cut(code, 13);
    line.name = name;
    return line;
}

int CPosnetCombo::ReadPluStats(const LineFn& fn, uint32_t flag) {
    orv::posnet::ComboWireStat s;
    return ReadList([&](PosHandle* r) { return Lib::CntxPLUInit(m_hDevice, r); },
                    [&](PosHandle* r) { return Lib::PLUStatRead(m_hDevice, r, flag); },
                    [&](PosHandle r, uint32_t& number) {
                        PosCode c = Lib::GetPLUStat(r, s);
                        number = s.number;
                        return c;
                    },
                    [&](uint32_t number, int) {
                        int64_t q = 0, v = 0;
                        if (!ParseWhole(s.quantity, q) || !ParseWhole(s.value, v)) return Fail(kBadAnswer);
                        ComboSaleLine line = StatRecord(number, s.code, s.name, s.quantity, s.value);
                        line.quantity = static_cast<double>(q) / 1000.0;
                        line.value = static_cast<double>(v) / 100.0;
                        if (fn) fn(line);
                        return 1;
                    });
}

int CPosnetCombo::ReadPackStats(const LineFn& fn, uint32_t flag) {
    orv::posnet::ComboWirePackStat s;
    return ReadList([&](PosHandle* r) { return Lib::CntxPackInit(m_hDevice, r); },
                    [&](PosHandle* r) { return Lib::PackStatRead(m_hDevice, r, flag); },
                    [&](PosHandle r, uint32_t& number) {
                        PosCode c = Lib::GetPackStat(r, s);
                        number = s.number;
                        return c;
                    },
                    [&](uint32_t number, int) {
                        int64_t sold = 0, returned = 0, v = 0;
                        if (!ParseWhole(s.sold, sold) || !ParseWhole(s.returned, returned) || !ParseWhole(s.value, v))
                            return Fail(kBadAnswer);
                        ComboSaleLine line = StatRecord(number, s.code, s.name, s.sold, s.value);
                        if (sold != 0) {
                            line.quantity = static_cast<double>(sold) / 1000.0;
                            line.value = static_cast<double>(v) / 100.0;
                            if (fn) fn(line);
                        }
                        if (returned != 0) {
                            line.quantity = -static_cast<double>(returned) / 1000.0;
                            line.value = 0.0;
                            if (fn) fn(line);
                        }
                        return 1;
                    });
}

int CPosnetCombo::ClearPluStats(const LineFn& fn) {
    if (!Write([&](PosHandle* r) { return Lib::PLUStatClearAll(m_hDevice, r); })) return 0;
    return ReadPluStats(fn, 1);
}

int CPosnetCombo::ClearPackStats(const LineFn& fn) {
    if (!Write([&](PosHandle* r) { return Lib::PackStatClearAll(m_hDevice, r); })) return 0;
    return ReadPackStats(fn, 1);
}

// -------------------------------------------------------- sale records ----

int CPosnetCombo::ReadSaleRecords(const LineFn& fn) {
    auto ended = [&](int code) {
        if (code != kNoSaleRecords) return Fail(code);
        m_nError = 0;
        return 1;
    };
    for (int count = 0; count < kMaxListRecords; ++count) {
        if (!Send([&](PosHandle* r) { return Lib::SaleRecGet(m_hDevice, r); }))
            return m_nError == kBreak ? 0 : ended(m_nError);
        uint32_t type = 0;
        PosCode c = Lib::GetSaleRecType(m_hRequest, type);
        orv::posnet::ComboWireSale w;
        ComboSaleLine line;
        bool known = true;
        if (c == 0) {
            switch (type) {
            case CComboLibrary::kSalePluSet: c = Lib::GetSaleRecPLUSet(m_hRequest, w); line.kind = 0; break;
            case CComboLibrary::kSalePack: c = Lib::GetSaleRecPack(m_hRequest, w); line.kind = 1; break;
            case CComboLibrary::kSaleFinished: c = Lib::GetSaleRecFinished(m_hRequest, w); line.kind = 2; break;
            default: known = false; break;
            }
        }
        ReleaseRequest();
        if (c != 0) return ended(LibraryCode(c));
        if (!known) continue;
        int64_t q = 0, v = 0;
        if ((!w.quantity.empty() && !ParseWhole(w.quantity, q)) || !ParseWhole(w.value, v)) return Fail(kBadAnswer);
        if (line.kind == 2) {
            line.number = w.number;
        } else {
            line.plu = w.number;
            line.code = Cut(w.code, 13);
            line.name = w.name;
            line.quantity = static_cast<double>(q) / 1000.0;
        }
        line.value = static_cast<double>(v) / 100.0;
        if (fn) fn(line);
    }
    return Fail(kBadAnswer);
}
