// Number formatting and parsing under a host locale with a decimal comma,
// built with glibc's localedef when the system has no Polish locale.
#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "util/chrarr.h"

namespace {

std::string S(const CChrArr& a) { return a.ToString(); }

// A host may run with a Polish LC_NUMERIC (decimal comma). Formatting and
// parsing must not follow it.
class PolishNumericLocale : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"pl_PL.UTF-8", "pl_PL.utf8", "pl_PL"}) {
            if (std::setlocale(LC_NUMERIC, name) != nullptr) return;
        }
        // Not installed: build it into a private directory when the tools are there.
        if (std::system("command -v localedef >/dev/null 2>&1") != 0) return;
        m_dir = std::filesystem::temp_directory_path() / ("orvanta_locale_" + std::to_string(::getpid()));
        std::filesystem::create_directories(m_dir);
        const std::string cmd = "localedef -i pl_PL -f UTF-8 '" + (m_dir / "pl_PL.UTF-8").string() + "' >/dev/null 2>&1";
        if (std::system(cmd.c_str()) != 0 && !std::filesystem::exists(m_dir / "pl_PL.UTF-8" / "LC_NUMERIC")) return;
        ::setenv("LOCPATH", m_dir.c_str(), 1);
        std::setlocale(LC_NUMERIC, "pl_PL.UTF-8");
    }
    void TearDown() override {
        std::setlocale(LC_NUMERIC, "C");
        ::unsetenv("LOCPATH");
        if (!m_dir.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(m_dir, ec);
        }
    }
    static bool CommaActive() {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%.1f", 1.5);
        return std::string(buf) == "1,5";
    }
    std::filesystem::path m_dir;
};

TEST_F(PolishNumericLocale, NumbersKeepTheDecimalPoint) {
    if (!CommaActive()) GTEST_SKIP() << "no locale with a decimal comma available";
    EXPECT_EQ(S(DoubleToText(1.5, Decimals{2}, Width{0})), "       1.50");
    EXPECT_EQ(S(DoubleToText(1234.5, Decimals{6}, Width{0})), "1234.500000");
    EXPECT_DOUBLE_EQ(TextToDouble("1.25"), 1.25);
    EXPECT_DOUBLE_EQ(TextToDouble("1,25"), 1.0);
    EXPECT_EQ(StrToNum("-15", 10, 1), -15);
}

}  // namespace
