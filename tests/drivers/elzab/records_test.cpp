// Elzab records on the wire, byte for byte: barcodes, prices, names per
// model, both VAT reply forms and the model-specific writes.
#include "elzab_fixture.h"

#include <cmath>

#include "util/cp1250.h"

namespace orv::test {
namespace {

class ElzabRecordsTest : public ElzabTest {
protected:
    // The data of every frame with the given command.
    std::vector<Bytes> DataOf(uint8_t command) const {
        std::vector<Bytes> out;
        for (const auto& f : reg->Frames())
            if (f.command == command) out.push_back(f.data);
        return out;
    }
};

Bytes Spaces(size_t n) { return Bytes(n, ' '); }

TEST_F(ElzabRecordsTest, PluWriteIsByteExact) {
    Register(27, 13);
    EcrItemRecord it = Item(258, PL("Łódź"), 1, 2, 12.345, "5901234123457", 3);
    it.attr1 = 7;
    it.attr3 = 8;
    it.attr4 = 9;
    EXPECT_EQ(Run([&] { return EcrPgmPLU(&device, &it, 1, RecordingHost::OnItemProgram); }), 0);
    Bytes data = Cat({{0x02, 0x01},
                      {0x9D, 0xA2, 0x64, 0xAB},
                      Spaces(15),
                      {0x01, 0x02, 0x07, 0x03, 0x08},
                      {0xC1, 0xB2, 0xF6, 0xFC, 0x5D, 0x05},
                      {0xD2, 0x04, 0x00, 0x00},
                      {0x09}});
    EXPECT_EQ(reg->Received(), Cat({Cmd(0xC0), Cmd(0xD0), Cmd(0xA9, data)})) << Hex(reg->Received());
    EXPECT_TRUE(Host().Confirmations().empty());
    EXPECT_EQ(reg->PluName1250(258).substr(0, 4), PL("Łódź"));
}

TEST_F(ElzabRecordsTest, BarcodePacking) {
    struct Case {
        const char* code;
        Bytes wire;   // empty: refused with 108
    };
    const Case cases[] = {
        {"5901234123457", {0xC1, 0xB2, 0xF6, 0xFC, 0x5D, 0x05}},
        {"59A1234123457", {0x3B, 0, 0, 0, 0, 0}},      // a letter ends the digits
        {"", {0, 0, 0, 0, 0, 0}},
        {"abc", {0, 0, 0, 0, 0, 0}},
        {"0000000000001", {0x01, 0, 0, 0, 0, 0}},
        {"9999999999999", {0xFF, 0x9F, 0x72, 0x4E, 0x18, 0x09}},
        {"12345678901234", {}},                       // 14 digits do not fit
    };
    Register(27, 13);
    std::vector<EcrItemRecord> items;
    for (size_t i = 0; i < std::size(cases); ++i) items.push_back(Item(static_cast<uint32_t>(i + 1), "X", 1, 1, 1.0, cases[i].code));
    Run([&] { return EcrPgmPLU(&device, items.data(), static_cast<int>(items.size()), RecordingHost::OnItemProgram); });
    auto frames = DataOf(0xA9);
    size_t f = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        if (c.wire.empty()) continue;
        ASSERT_LT(f, frames.size());
        EXPECT_EQ(Bytes(frames[f].begin() + 26, frames[f].begin() + 32), c.wire);
        ++f;
    }
    EXPECT_EQ(f, frames.size());
    auto confirms = Host().Confirmations();
    ASSERT_EQ(confirms.size(), 1u);
    EXPECT_EQ(confirms[0].number, 7u);
    EXPECT_EQ(confirms[0].code, 108);
    EXPECT_EQ(confirms[0].text, PL("Za duży kod kreskowy"));
}

TEST_F(ElzabRecordsTest, PriceRoundingAndRange) {
    struct Case {
        double price;
        int64_t wire;   // -1: refused with 109
    };
    const Case cases[] = {
        {12.345, 1234}, {19.99, 1999}, {0.1, 10}, {1.005, 100}, {0.0, 0}, {21474836.47, 2147483647},
        {-0.01, -1},    {21474836.48, -1}, {NAN, -1}, {INFINITY, -1},
    };
    Register(27, 13);
    std::vector<EcrItemRecord> items;
    for (size_t i = 0; i < std::size(cases); ++i) items.push_back(Item(static_cast<uint32_t>(i + 1), "X", 1, 1, cases[i].price));
    Run([&] { return EcrPgmPLU(&device, items.data(), static_cast<int>(items.size()), RecordingHost::OnItemProgram); });
    auto frames = DataOf(0xA9);
    size_t f = 0, refused = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.price);
        if (c.wire < 0) {
            ++refused;
            continue;
        }
        ASSERT_LT(f, frames.size());
        const Bytes& d = frames[f++];
        uint32_t v = d[32] | (d[33] << 8) | (d[34] << 16) | (static_cast<uint32_t>(d[35]) << 24);
        EXPECT_EQ(v, static_cast<uint32_t>(c.wire));
    }
    EXPECT_EQ(f, frames.size());
    auto confirms = Host().Confirmations();
    ASSERT_EQ(confirms.size(), refused);
    for (const auto& c : confirms) {
        EXPECT_EQ(c.code, 109);
        EXPECT_EQ(c.text, PL("Za duża cena"));
    }
}

// Names go out in CP852, padded with spaces or cut: 19 characters for
// 0xA9, 20 for the 0x02 write of models 21 and 22, 16 + 16 for the models
// with long names.
TEST_F(ElzabRecordsTest, NamesPaddedAndCutPerModel) {
    const char* longName = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmn";   // 40 characters
    {
        Register(27, 13);
        EcrItemRecord it = Item(1, longName, 1, 1, 1.0);
        Run([&] { return EcrPgmPLU(&device, &it, 1, RecordingHost::OnItemProgram); });
        auto d = DataOf(0xA9);
        ASSERT_EQ(d.size(), 1u);
        EXPECT_EQ(Bytes(d[0].begin() + 2, d[0].begin() + 21), B("ABCDEFGHIJKLMNOPQRS"));
    }
    {
        Register(700, 21);
        EcrItemRecord it = Item(1, PL("Żółw"), 1, 1, 1.0);
        Run([&] { return EcrPgmPLU(&device, &it, 1, RecordingHost::OnItemProgram); });
        auto d = DataOf(0x02);
        ASSERT_EQ(d.size(), 1u);
        EXPECT_EQ(Bytes(d[0].begin() + 2, d[0].begin() + 22), Cat({{0xBD, 0xA2, 0x88, 'w'}, Spaces(16)}));
    }
    {
        Register(94, 28);
        EcrItemRecord it = Item(1, longName, 1, 1, 1.0);
        Run([&] { return EcrPgmPLU(&device, &it, 1, RecordingHost::OnItemProgram); });
        auto d9e = DataOf(0x9E);
        auto d6b = DataOf(0x6B);
        ASSERT_EQ(d9e.size(), 1u);
        ASSERT_EQ(d6b.size(), 1u);
        EXPECT_EQ(Bytes(d9e[0].begin() + 2, d9e[0].begin() + 21), B("ABCDEFGHIJKLMNOPQRS"));
        EXPECT_EQ(d6b[0], Cat({{0x01, 0x01, 0x00}, B("QRSTUVWXYZabcdef")}));

        // Read back: the first 16 characters and the 16 of the second part.
        Host().Reset();
        EcrItemRecord q = Item(1, "", 0, 0, 0);
        EXPECT_EQ(Run([&] { return EcrReadPLU(&device, &q, 1, RecordingHost::OnItemRead); }), 0);
        auto items = Host().Items();
        ASSERT_EQ(items.size(), 1u);
        EXPECT_STREQ(items[0].name, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdef");
    }
}

TEST_F(ElzabRecordsTest, ShortNameModelsPadWithSpaces) {
    Register(27, 13);
    reg->AddPlu(5, PL("Śliwka"), 2, 3, 4.99, 5901234123457ull, 2);
    EcrItemRecord q = Item(5, "", 0, 0, 0);
    EXPECT_EQ(Run([&] { return EcrReadPLU(&device, &q, 1, RecordingHost::OnItemRead); }), 0);
    auto items = Host().Items();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(std::string(items[0].name), std::string(PL("Śliwka")) + std::string(13, ' '));
    EXPECT_STREQ(items[0].code, "5901234123457");
    EXPECT_EQ(items[0].vat_group, 2u);
    EXPECT_EQ(items[0].department, 3u);
    EXPECT_EQ(items[0].unit, 2u);
    EXPECT_DOUBLE_EQ(Value(items[0].price), 4.99);
    EXPECT_EQ(items[0].linked_plu, 0u);
    EXPECT_EQ(Value(items[0].vat_rate), 0.0);
}

TEST_F(ElzabRecordsTest, VatReplyShortForm) {
    Register(27, 13);   // model 13: 12 bytes, six rates
    reg->SetVatReply({0x08, 0xFC, 0x03, 0x20, 0xFF, 0x00, 0x00, 0x00, 0x01, 0xF4, 0xFF, 0xFF});
    EXPECT_EQ(Run([&] { return EcrReadVAT(&device, RecordingHost::OnVat); }), 0);
    auto vat = Host().VatCalls();
    ASSERT_EQ(vat.size(), 1u);
    EXPECT_EQ(vat[0], (VatRates{23.0, 8.0, -3.0, 0.0, 5.0, -3.0, -1.0, -3.0}));
    auto w = Host().EventsWithCode(ECR_EVENT_WAIT);
    ASSERT_FALSE(w.empty());
    EXPECT_EQ(w.back().percent, 100);
}

TEST_F(ElzabRecordsTest, VatReplyLongForm) {
    Register(79, 25);   // model 25: 14 bytes, seven rates
    reg->SetVatReply({0x08, 0xFC, 0x80, 0x00, 0x40, 0x00, 0x00, 0x00, 0x01, 0xF4, 0x03, 0x20, 0x02, 0xBC});
    EXPECT_EQ(Run([&] { return EcrReadVAT(&device, RecordingHost::OnVat); }), 0);
    auto vat = Host().VatCalls();
    ASSERT_EQ(vat.size(), 1u);
    EXPECT_EQ(vat[0], (VatRates{23.0, -3.0, -1.0, 0.0, 5.0, 8.0, 7.0, -3.0}));
}

TEST_F(ElzabRecordsTest, Model20ReadsNoVatRates) {
    Register(102, 20);
    EXPECT_EQ(Run([&] { return EcrReadVAT(&device, RecordingHost::OnVat); }), 0);
    EXPECT_EQ(reg->Commands(), (std::vector<uint8_t>{0xC0}));
    auto vat = Host().VatCalls();
    ASSERT_EQ(vat.size(), 1u);
    for (double r : vat[0]) EXPECT_EQ(r, -3.0);
}

// Models 28 and 30-34: ESC 0x9E and the record in one block, then the
// second name part with ESC 0x6B 0x01.
TEST_F(ElzabRecordsTest, BlockWriteThenInlineLongName) {
    Register(94, 28);
    EcrItemRecord it = Item(3, "Kawa ziarnista Arabica 1kg", 1, 4, 45.0, "", 1);
    EXPECT_EQ(Run([&] { return EcrPgmPLU(&device, &it, 1, RecordingHost::OnItemProgram); }), 0);
    Bytes data = Cat({{0x03, 0x00},
                      B("Kawa ziarnista Arab"),
                      {0x01, 0x04, 0x00, 0x01, 0x00},
                      {0, 0, 0, 0, 0, 0},
                      {0x94, 0x11, 0x00, 0x00},
                      {0x00}});
    Bytes second = Cat({{0x01, 0x03, 0x00}, B("rabica 1kg"), Spaces(6)});
    EXPECT_EQ(reg->Received(), Cat({Cmd(0xC0), Cmd(0xD0), Cmd(0x9E, data), Cmd(0x6B, second)})) << Hex(reg->Received());
}

// Models 17 and 18 use the block write without the long name.
TEST_F(ElzabRecordsTest, BlockWriteWithoutLongName) {
    Register(31, 17);
    EcrItemRecord it = Item(3, "Kawa", 1, 4, 45.0);
    EXPECT_EQ(Run([&] { return EcrPgmPLU(&device, &it, 1, RecordingHost::OnItemProgram); }), 0);
    EXPECT_EQ(reg->Commands(), (std::vector<uint8_t>{0xC0, 0xD0, 0x9E}));
}

// Models 21 and 22: a 0xFE exchange, then 0x02 whose status byte comes
// without an ACK; the unit shares the sixth barcode byte.
TEST_F(ElzabRecordsTest, ShortWriteWithPreStepAndNoAck) {
    Register(700, 21);
    EcrItemRecord it = Item(258, "Mleko", 1, 1, 2.79, "5901234123457", 3);
    EXPECT_EQ(Run([&] { return EcrPgmPLU(&device, &it, 1, RecordingHost::OnItemProgram); }), 0);
    Bytes data = Cat({{0x02, 0x01},
                      B("Mleko"),
                      Spaces(15),
                      {0xC1, 0xB2, 0xF6, 0xFC, 0x5D, 0x25},
                      {0x17, 0x01, 0x00, 0x00}});
    EXPECT_EQ(reg->Received(), Cat({Cmd(0xC0), Cmd(0xD0), Cmd(0xFE), Cmd(0x02, data)})) << Hex(reg->Received());
    // The register's last answers: 0xFE's ACK and three bytes, then the
    // bare status byte of 0x02.
    Bytes sent = reg->Sent();
    ASSERT_GE(sent.size(), 5u);
    EXPECT_EQ(Bytes(sent.end() - 5, sent.end()), (Bytes{0x06, 21, 0, 0, 0x00}));
    auto p = reg->GetPlu(258);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->unit, 3);
    EXPECT_EQ(p->barcode, 5901234123457ull);
}

// The bare status byte of 0x02 is the register's verdict; a failed 0xFE
// pre-step sends no 0x02 at all.
TEST_F(ElzabRecordsTest, ShortWriteFailures) {
    struct Case {
        bool preStep;   // the fault hits 0xFE, else 0x02
        uint8_t byte;
        int code;
        const char* text;
        std::vector<uint8_t> commands;
    };
    const Case cases[] = {
        {false, 0x05, 105, PL("Błędny numer towaru"), {0xC0, 0xD0, 0xFE, 0x02}},
        {false, 0x02, 102, PL("Błąd w nazwie towaru"), {0xC0, 0xD0, 0xFE, 0x02}},
        {true, 0x15, 121, PL("Nieokreślony błąd"), {0xC0, 0xD0, 0xFE}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        Register(701, 22);
        Host().Reset();
        if (c.preStep)
            reg->QueueAnswer(0xFE, c.byte);
        else
            reg->QueueStatus(0x02, c.byte);
        EcrItemRecord it = Item(9, "Mleko", 1, 1, 2.79);
        EXPECT_EQ(Run([&] { return EcrPgmPLU(&device, &it, 1, RecordingHost::OnItemProgram); }), c.code);
        EXPECT_EQ(reg->Commands(), c.commands);
        auto confirms = Host().Confirmations();
        ASSERT_EQ(confirms.size(), 1u);
        EXPECT_EQ(confirms[0].code, c.code);
        EXPECT_EQ(confirms[0].text, c.text);
        EXPECT_FALSE(reg->GetPlu(9));
    }
}

TEST_F(ElzabRecordsTest, ShortWriteRefusesUnitAbove16) {
    Register(701, 22);
    EcrItemRecord it = Item(1, "Mleko", 1, 1, 2.79, "", 17);
    EXPECT_EQ(Run([&] { return EcrPgmPLU(&device, &it, 1, RecordingHost::OnItemProgram); }), 111);
    EXPECT_EQ(reg->Commands(), (std::vector<uint8_t>{0xC0, 0xD0}));
}

TEST_F(ElzabRecordsTest, ExtraBarcodeWithBigEndianPlu) {
    Register(27, 13);
    reg->AddPlu(258, "Chleb", 1, 1, 3.5);
    EcrItemRecord it = Item(258, "", 0, 0, 0, "5901234123457");
    EXPECT_EQ(Run([&] { return EcrPgmExBarcode(&device, &it, 1, RecordingHost::OnItemProgram); }), 0);
    EXPECT_EQ(reg->Received(), Cat({Cmd(0xC0), Cmd(0xEB, {0x01, 0x02, 0xC1, 0xB2, 0xF6, 0xFC, 0x5D, 0x05})}));
    EXPECT_EQ(reg->GetPlu(258)->barcode, 5901234123457ull);
    auto items = Host().EventsWithCode(ECR_EVENT_ITEM);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].text, "Programowanie PLU 258");
}

TEST_F(ElzabRecordsTest, ClearSaleConfirmsWithAck) {
    Register(27, 13);
    EXPECT_EQ(Run([&] { return EcrClearSale(&device, RecordingHost::OnSale); }), 0);
    ASSERT_TRUE(reg->WaitForCount(5, 2000));
    EXPECT_EQ(reg->Received(), Cat({Cmd(0xC0), Cmd(0xA8), {0x06}}));
    for (int i = 0; i < 200 && reg->ClearsDone() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(reg->ClearsDone(), 1);
}

TEST_F(ElzabRecordsTest, UpdateSendsPriceAndBarcodeOnly) {
    Register(27, 13);
    reg->AddPlu(7, "Chleb", 1, 1, 3.5);
    EcrItemRecord it = Item(7, "ignored", 1, 2, 3.99, "200", 4);
    EXPECT_EQ(Run([&] { return EcrUpDatePLU(&device, &it, 1, RecordingHost::OnItemProgram); }), 0);
    EXPECT_EQ(reg->Received(),
              Cat({Cmd(0xC0), Cmd(0xD0), Cmd(0xA6, {0x07, 0x00, 0x02, 0x04, 0xC8, 0, 0, 0, 0, 0, 0x8F, 0x01, 0, 0})}));
    auto items = Host().EventsWithCode(ECR_EVENT_ITEM);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].text, "Aktualizacja danych PLU 7");
}

// An update of a number the register does not know falls back to the
// full write.
TEST_F(ElzabRecordsTest, UpdateOfUnknownPluFallsBackToFullWrite) {
    Register(27, 13);
    EcrItemRecord it = Item(9, "Nowy", 1, 2, 1.0);
    EXPECT_EQ(Run([&] { return EcrUpDatePLU(&device, &it, 1, RecordingHost::OnItemProgram); }), 0);
    EXPECT_EQ(reg->Commands(), (std::vector<uint8_t>{0xC0, 0xD0, 0xA6, 0xA9}));
    EXPECT_TRUE(reg->GetPlu(9));
}

TEST_F(ElzabRecordsTest, DepartmentsAndUnitsFrames) {
    Register(27, 13);
    EcrDeptRecord d{};
    d.number = 12;
    std::strcpy(d.name, PL("Pieczywo ćma"));
    EXPECT_EQ(Run([&] { return EcrPgmDEPT(&device, &d, 1, RecordingHost::OnDeptProgram); }), 0);
    EXPECT_EQ(reg->Received(), Cat({Cmd(0xC0), Cmd(0xC6, Cat({{12}, B("Pieczywo "), {0x86}, B("ma"), Spaces(7)}))}));
    EXPECT_EQ(Host().EventsWithCode(ECR_EVENT_ITEM).at(0).text, std::string(PL("Grupa tow. 12 - Pieczywo ćma")));

    reg->ClearReceived();
    EcrUnitRecord u{};
    u.number = 3;
    std::strcpy(u.name, "litry");
    EXPECT_EQ(Run([&] { return EcrPgmUNIT(&device, &u, 1, RecordingHost::OnUnitProgram); }), 0);
    EXPECT_EQ(reg->Received(), Cat({Cmd(0xC0), Cmd(0xC4, Cat({{3}, B("litr")}))}));

    reg->ClearReceived();
    EcrItemRecord it = Item(300, "", 0, 0, 0);
    reg->AddPlu(300, "X", 1, 1, 1.0);
    EXPECT_EQ(Run([&] { return EcrDelPLU(&device, &it, 1, RecordingHost::OnItemProgram); }), 0);
    EXPECT_EQ(reg->Received(), Cat({Cmd(0xC0), Cmd(0xF1, {0x2C, 0x01})}));
    EXPECT_FALSE(reg->GetPlu(300));
}

}  // namespace
}  // namespace orv::test
