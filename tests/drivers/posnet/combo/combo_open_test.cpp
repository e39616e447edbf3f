// Opening the Combo registers through the Posnet libraries: the device
// parameters by device type and connection kind, the open request, the
// failures of each step (with everything obtained given back), the error
// texts and the loading of the libraries.
#include <cstring>

#include "drivers/posnet/combo/combo_fixture.h"

namespace orv::test {
namespace {

using Calls = std::vector<std::vector<std::string>>;

class ComboOpen : public ComboTest {};

struct OpenCase {
    int type, kind, port, baud;
    const char* address;
    const char* handleKind;                                // argument of POS_CreateDeviceHandle
    std::vector<std::pair<const char*, const char*>> params;   // id, text
    const char* wait;
};

TEST_F(ComboOpen, DeviceParametersByTypeAndKind) {
    const OpenCase cases[] = {
        {90, 0, 3, 9600, "", "1", {{"131073", "COM3,9600,8,N,1,N"}}, "5000"},
        {61, 0, 3, 9600, "", "1", {{"131073", "COM3,9600,8,N,1,H"}}, "60000"},
        {10, 0, 3, 9600, "", "1", {{"131073", "COM3,9600,8,N,1,H"}}, "60000"},
        {73, 5, 12, 115200, "", "1", {{"131073", "COM12,115200,8,N,1,H"}}, "60000"},
        {90, 11, 0x0A000001, 0, "ignored", "3", {{"131077", "10.0.0.1"}, {"131078", "1000"}}, "5000"},
        {56, 11, static_cast<int>(0xFFFFFFFFu), 0, "", "3", {{"131077", "255.255.255.255"}, {"131078", "1000"}},
         "60000"},
        {91, 11, 0, 0, "kasa.sklep.lan", "3", {{"131077", "kasa.sklep.lan"}, {"131078", "1000"}}, "60000"},
        {10, 12, 0, 0, "POSNET COMBO USB", "2", {{"131079", "POSNET COMBO USB"}}, "60000"},
    };
    for (const OpenCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.type) + "/" + std::to_string(c.kind));
        fake.Reset();
        Host().Reset();
        EcrDeviceRecord dev = Device(c.type, c.kind, c.port, c.baud);
        std::strcpy(dev.address, c.address);
        Prepare(8, dev);
        ASSERT_EQ(Run(8, dev), 0) << ErrorText();

        Calls create = fake.CallsOf("POS_CreateDeviceHandle");
        ASSERT_EQ(create.size(), 1u);
        EXPECT_EQ(create[0][0], c.handleKind);
        Calls params = fake.CallsOf("POS_SetDeviceParam");
        ASSERT_EQ(params.size(), c.params.size());
        for (size_t i = 0; i < params.size(); ++i) {
            EXPECT_EQ(params[i][1], c.params[i].first);
            EXPECT_EQ(params[i][2], c.params[i].second);
        }
        const std::vector<std::string> expected = {
            "POS_CreateDeviceHandle", "POS_OpenDevice", "POS_CreateRequest", "POS_PushRequestParamByte",
            "POS_PostRequest", "POS_WaitForRequestCompleted", "POS_GetRequestStatus", "POS_PopResponseValueByte",
            "POS_PopResponseValueByte", "POS_PopResponseValueByte", "POS_DestroyRequest", "POS_CloseDevice"};
        std::vector<std::string> names;
        for (const std::string& n : fake.Names())
            if (n != "POS_SetDeviceParam") names.push_back(n);
        EXPECT_EQ(names, expected);
        EXPECT_EQ(fake.CallsOf("POS_CreateRequest")[0][1], "101");
        EXPECT_EQ(fake.CallsOf("POS_PushRequestParamByte")[0][1], "0");
        EXPECT_EQ(fake.CallsOf("POS_PostRequest")[0][1], "1");
        EXPECT_EQ(fake.CallsOf("POS_WaitForRequestCompleted")[0][1], c.wait);
        EXPECT_TRUE(fake.Balanced()) << fake.Counts();
        EXPECT_EQ(Host().EventCodes(), (std::vector<int>{1, 10, 11}));
    }
}

struct FailCase {
    const char* what;
    std::vector<std::pair<const char*, long long>> inject;   // entry point, value for every call
    int code;
    const char* text;   // UTF-8
    bool requestMade;
};

TEST_F(ComboOpen, EachFailingStepReportsItsCodeAndGivesBackWhatItGot) {
    const FailCase cases[] = {
        {"null parameter handle", {{"POS_CreateDeviceHandle", 0}}, 5, "Nie można otworzyc wskazanego urządzenia",
         false},
        {"null device, library code", {{"POS_OpenDevice", 0}, {"POS_GetError", 13}}, 13,
         "Nie można otworzyć wskazanego urządzenia - port nie znaleziony", false},
        {"null device, no code", {{"POS_OpenDevice", 0}}, 5, "Nie można otworzyc wskazanego urządzenia", false},
        {"null request", {{"POS_CreateRequest", 0}}, 5, "Nie można otworzyc wskazanego urządzenia", false},
        {"wait", {{"POS_WaitForRequestCompleted", 0x10003}}, 0x10003,
         "Oczekiwanie zakończone upłynięciem czasu (timeout)", true},
        {"status", {{"POS_GetRequestStatus", 0x10003}}, 0x10003,
         "Oczekiwanie zakończone upłynięciem czasu (timeout)", true},
    };
    for (const FailCase& c : cases) {
        SCOPED_TRACE(c.what);
        fake.Reset();
        Host().Reset();
        for (const auto& [name, value] : c.inject) fake.Result(name, value);
        EcrDeviceRecord dev = Device(61);
        Prepare(15, dev);
        EXPECT_EQ(Run(15, dev), c.code);
        EXPECT_EQ(Utf8(ErrorText()), c.text);
        EXPECT_EQ(Host().EventCodes(), (std::vector<int>{1, 6, 8}));
        EXPECT_EQ(Host().EventsWithCode(6)[0].value, c.code);
        EXPECT_TRUE(fake.Balanced()) << fake.Counts();
        EXPECT_EQ(fake.CountOf("POS_DestroyRequest"), c.requestMade ? 1 : 0);
        // An opened device is closed once.
        const bool opened = c.inject[0].first != std::string("POS_CreateDeviceHandle") &&
                            c.inject[0].first != std::string("POS_OpenDevice");
        EXPECT_EQ(fake.CountOf("POS_CloseDevice"), opened ? 1 : 0);
        EXPECT_EQ(fake.CountOf("POSS_VATGet"), 0);
        if (c.code == 13) {
            EXPECT_EQ(fake.CallsOf("POS_GetError")[0][0], "0");
        }
    }
}

TEST_F(ComboOpen, ErrorTexts) {
    const std::pair<int, const char*> cases[] = {
        {0x440006, "Niezgodność CRC"},
        {0x430BBE, "Błąd CRC"},
        {0x010101, "Błędny 1 parametr polecenia"},
        {0x010116, "Błędny 22 parametr polecenia"},
        {0x010117, "Nieokreślony błąd"},
        {0x43FFFF, "Nieokreślony błąd"},
        {0x000000, "Brak Błędu"},
        {0x000040, "Błąd sieciowy - serwer nieznaleziony, spróbuj ponownie"},
        {0x01000A, "Rozkaz anulowany"},
        {0x4303CA, "Zbyt dużo kodów kreskowych"},
        {0x4303CF, "Nieokreślony błąd"},
        {0x43038D, "Nieprawidłowy (za duży) numer rekordu"},
        {0x440010, "Stan zajętości przy wykonywaniu sekwencji złożonej "},
        {0x431A0C, "Niewłaściwa ilość argumentów dla danego polecenia"},
        {25, "Rozkaz niedostępny w tej wersji programu kasy"},
        {-7, nullptr},
    };
    CPosnetCombo combo;
    for (const auto& [code, text] : cases) {
        SCOPED_TRACE(code);
        if (text)
            EXPECT_EQ(Utf8(combo.GetErrorText(code)), text);
        else
            EXPECT_EQ(combo.GetErrorText(code), SerialErrorText(code));
    }
}

TEST_F(ComboOpen, AMissingLibraryOrEntryPointFailsTheOpenAndTheNextOpenTriesAgain) {
    CPosnetCombo::ResetLibraryForTests();
    EcrDeviceRecord dev = Device(90);

    setenv("ECR_LIB_LIBHLAPI", "/nonexistent/libhlapi.so", 1);
    Prepare(15, dev);
    EXPECT_EQ(Run(15, dev), 999999);
    EXPECT_NE(ErrorText().find("/nonexistent/libhlapi.so"), std::string::npos) << ErrorText();

    // A library without the entry points: the first one missing is named.
    setenv("ECR_LIB_LIBHLAPI", ORVANTA_FAKES_DIR "/libwinip.so", 1);
    EXPECT_EQ(Run(15, dev), 999999);
    EXPECT_NE(ErrorText().find("POSS_VATGet"), std::string::npos) << ErrorText();
    EXPECT_EQ(fake.CountOf("POS_CreateDeviceHandle"), 0);

    setenv("ECR_LIB_LIBHLAPI", FakePosnetPath(), 1);
    Host().Reset();
    EXPECT_EQ(Run(15, dev), 0) << ErrorText();
    ASSERT_EQ(Host().VatCalls().size(), 1u);
}

TEST_F(ComboOpen, AConnectionKindTheLibrariesDoNotKnowIsRefusedWithoutACall) {
    CPosnetCombo combo;
    EXPECT_EQ(combo.OpenDevice(4, 0, "x"), 0);
    EXPECT_EQ(combo.m_nError, CPosnetCombo::kCannotOpen);
    EXPECT_EQ(fake.CountOf("POS_CreateDeviceHandle"), 0);
}

TEST_F(ComboOpen, CloseClosesTheDeviceOnceAndAnOpenDeviceIsNotHeldTwice) {
    CPosnetCombo combo;
    ASSERT_EQ(combo.OpenSerial(1, 9600), 1);
    ASSERT_EQ(combo.OpenSerial(1, 9600), 1);   // the first device is closed first
    EXPECT_EQ(fake.CountOf("POS_CloseDevice"), 1);
    combo.CloseDevice();
    combo.CloseDevice();
    EXPECT_EQ(fake.CountOf("POS_CloseDevice"), 2);
    EXPECT_TRUE(fake.Balanced()) << fake.Counts();
}

}  // namespace
}  // namespace orv::test
