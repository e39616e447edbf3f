// CTelepathyECR without a port: error texts, the VAT rate lookup and host
// names.
#include <gtest/gtest.h>

#include <string>

#include "comm/telepathy.h"
#include "comm/telepathy_ecr.h"
#include "util/cp1250.h"

namespace {

TEST(ProtocolBase, FindVatIndex) {
    struct Case {
        double rate;
        double rates[8];
        int index;
        int error;
    };
    const Case cases[] = {
        {-4.0, {0, 23, 0, 8, 5, 0, 0, 0}, 3, 0},       // the second 0.0 rate
        {-4.0, {0, 23, 8, 5, 7, 1, 2, 3}, 0, 103},     // only one 0.0 rate
        {-4.0, {23, 8, 0, 5, 0, 1, 2, 3}, 5, 0},
        {-3.0, {0, 23, 0, 8, 5, 0, 0, 0}, 0, 103},
        {-2.0, {-2.0, 23, 0, 8, 5, 0, 0, 0}, 0, 103},  // never looked up, even when present
        {23.0, {0, 23, 23, 8, 5, 0, 0, 0}, 2, 0},      // present twice: the first
        {0.0, {23, 8, 0, 0, 5, 0, 0, 0}, 3, 0},
        {8.0, {23, 8, 5, 0, 0, 0, 0, 0}, 2, 0},
        {5.0, {23, 8, 0, 0, 0, 0, 0, 5.0}, 8, 0},
        {23.0000001, {23, 8, 5, 0, 0, 0, 0, 0}, 0, 103},  // exact comparison
        {7.0, {23, 8, 5, 0, 0, 0, 0, 0}, 0, 103},
    };
    for (const Case& c : cases) {
        CTelepathyECR p;
        p.SetError(55);
        EXPECT_EQ(p.FindVatIndex(c.rate, c.rates), c.index) << c.rate;
        EXPECT_EQ(p.GetError(), c.error) << c.rate;
    }
}

TEST(ProtocolBase, CommonErrorTexts) {
    const std::pair<int, std::string> cases[] = {
        {19, PL("Numer kasy poza zakresem")},
        {20, PL("Przekroczony czas nadawania")},
        {21, PL("Przekroczony czas odbierania")},
        {22, PL("Pod podanym skojarzeniem kasa o innym numerze")},
        {23, PL("Niepoprawna odpowiedź z kasy")},
        {24, PL("Kasa odpowiedziała NAK na sekwencję sterującą")},
        {25, PL("Rozkaz niedostępny w tej wersji programu kasy")},
        {26, PL("Nie włączona opcja <serwis z PC>")},
        {103, PL("Błąd w stawce podatkowej towaru")},
        {202, PL("Pod podanym numerem towar nie zdefiniowany")},
        {0, PL("Nieokreślony błąd")},
        {27, PL("Nieokreślony błąd")},
        {999999, PL("Nieokreślony błąd")},
    };
    CTelepathyECR p;
    for (const auto& [code, text] : cases) EXPECT_EQ(p.GetErrorText(code), text) << code;
    for (int code = -10; code <= -1; ++code) EXPECT_EQ(p.GetErrorText(code), SerialErrorText(code)) << code;
    EXPECT_EQ(p.GetErrorText(-5), PL("Błąd obsługi portu szeregowego: czas oczekiwania upłynął"));
    EXPECT_EQ(p.GetErrorText(-11), SerialErrorText(-11));
}

TEST(ProtocolBase, ResolveHostName) {
    std::string out = "stale";
    EXPECT_TRUE(CTelepathyECR::ResolveHostName("127.0.0.1", out));
    EXPECT_EQ(out, "127.0.0.1");
    EXPECT_TRUE(CTelepathyECR::ResolveHostName("localhost", out));
    EXPECT_EQ(out.rfind("127.", 0), 0u) << out;

    const char* bad[] = {"", "::1", "300.1.2.3.4"};
    for (const char* name : bad) {
        out = "stale";
        EXPECT_FALSE(CTelepathyECR::ResolveHostName(name, out)) << name;
        EXPECT_EQ(out, "") << name;
    }
    EXPECT_FALSE(CTelepathyECR::ResolveHostName(nullptr, out));
    // A name longer than 255 characters is cut, never overrun.
    std::string longName(400, 'a');
    EXPECT_FALSE(CTelepathyECR::ResolveHostName(longName.c_str(), out));
}

TEST(ProtocolBase, MuxErrorTexts) {
    const std::string banner = CTelepathyECR::GetMuxErrorText(0);
    EXPECT_NE(banner.find("orvanta"), std::string::npos) << banner;
    EXPECT_NE(banner.find("v1.0"), std::string::npos) << banner;
    EXPECT_EQ(CTelepathyECR::GetMuxErrorText(1), PL("Błędny numer kanału multipleksera"));
    EXPECT_EQ(CTelepathyECR::GetMuxErrorText(2), PL("Uszkodzony multiplekser lub brak gniazda o danym numerze"));
    EXPECT_EQ(CTelepathyECR::GetMuxErrorText(3), PL("Nieokreślony błąd"));
    EXPECT_EQ(CTelepathyECR::GetMuxErrorText(-7), PL("Nieokreślony błąd"));
}

TEST(ProtocolBase, NoSerialObjectLentIsAnErrorNotACrash) {
    CTelepathyECR p;
    EXPECT_EQ(p.Open(1), 0);
    EXPECT_EQ(p.GetError(), 999999);
    EXPECT_EQ(p.SendAll(CChrArr("AB")), 0);
    p.ClosePort();
    EXPECT_EQ(p.GetError(), 0);
    EXPECT_EQ(p.SelectMuxChannel(1, 4, 1), 0);
    EXPECT_EQ(p.GetError(), 999999);
}

}  // namespace
