// ecrctl's text conversion between the terminal's UTF-8 and the library's
// Windows-1250, checked byte by byte against the C library's own converter
// for the page, and one name with letters beyond Polish carried through a
// register and back.
#include <gtest/gtest.h>

#include <iconv.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "sim/elzab/elzab_emulator.h"
#include "csv_input.h"
#include "tools/ecrctl/ecrctl_runner.h"

namespace {

// The byte as UTF-8 by iconv; empty where the page defines no character.
std::string Reference(unsigned char byte) {
    iconv_t cd = iconv_open("UTF-8", "CP1250");
    if (cd == reinterpret_cast<iconv_t>(-1)) return "<no iconv>";
    char in[1] = {static_cast<char>(byte)};
    char out[8] = {};
    char* ip = in;
    char* op = out;
    size_t il = 1, ol = sizeof out;
    const size_t r = iconv(cd, &ip, &il, &op, &ol);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1)) return "";
    return std::string(out, static_cast<size_t>(op - out));
}

TEST(EcrctlText, EveryCharacterOfThePageRoundTrips) {
    ASSERT_NE(Reference(0xA3), "<no iconv>");
    int defined = 0;
    for (int b = 0x80; b <= 0xFF; ++b) {
        SCOPED_TRACE(b);
        const char cp[2] = {static_cast<char>(b), 0};
        const std::string utf8 = Reference(static_cast<unsigned char>(b));
        if (utf8.empty()) {
            EXPECT_EQ(ecrctl::ToUtf8(cp), "?");   // the page leaves the byte undefined
            continue;
        }
        ++defined;
        EXPECT_EQ(ecrctl::ToUtf8(cp), utf8);
        EXPECT_EQ(ecrctl::ToCp1250(utf8), std::string(cp));
    }
    EXPECT_EQ(defined, 123);
}

TEST(EcrctlText, WhatThePageLacksAndBytesThatAreNotUtf8) {
    EXPECT_EQ(ecrctl::ToCp1250("\xE4\xB8\xAD"), "?");        // a character outside the page
    EXPECT_EQ(ecrctl::ToCp1250("\xA3\xF3" "d\x9F"), "\xA3\xF3" "d\x9F");   // a file already in CP1250
    EXPECT_EQ(ecrctl::ToCp1250("Cena \xE2\x82\xAC \xC3\x9F"), "Cena \x80 \xDF");
    EXPECT_EQ(ecrctl::ToUtf8("Cena \x80 \xDF"), "Cena \xE2\x82\xAC \xC3\x9F");
}

// The Elzab register keeps names in CP852, which carries ß and the Polish
// letters: the name comes back as it was written.
TEST(EcrctlText, ANameBeyondPolishLettersRoundTripsThroughARegister) {
    using namespace orv::test::ecrctl;
    constexpr int kPort = 13;
    orv::test::ElzabEmulator reg(kPort, 13);
    reg.Start();
    char path[] = "/tmp/ecrctl_names_XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    {
        std::ofstream csv(path);
        csv << "1;;Cena ß Łódź;1;1;2.50;1\n";
    }
    const std::string port = std::to_string(kPort);
    Result pgm = RunEcrctl({"--type", "27", "--port", port, "program-plu", "--csv", path, "--quiet"});
    std::remove(path);
    ASSERT_EQ(pgm.status, 0) << pgm.err;
    Result read = RunEcrctl({"--type", "27", "--port", port, "read-plu", "--numbers", "1", "--csv-out", "--quiet"});
    ASSERT_EQ(read.status, 0) << read.err;
    EXPECT_TRUE(Contains(read.out, "1;;Cena ß Łódź;1;1;2.50;")) << read.out;
}

}  // namespace
