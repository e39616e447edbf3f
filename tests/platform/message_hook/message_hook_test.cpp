// Message boxes: a recording hook sees every message with its kind and
// answers; the default hook logs to the temporary directory and answers with
// the default button.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/message_hook.h"
#include "util/chrarr.h"
#include "util/cp1250.h"

namespace {

using orv::platform::MessageKind;
using orv::platform::SetMessageHook;
using orv::platform::ShowPlatformMessage;
using orv::platform::TempDirectory;

struct Seen {
    MessageKind kind;
    std::string text;
    int defaultAnswer;
};

// Restores the default hook and TMPDIR whatever a test did.
class MessageHookTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("TMPDIR");
        m_hadTmpdir = old != nullptr;
        if (m_hadTmpdir) m_oldTmpdir = old;
    }
    void TearDown() override {
        SetMessageHook({});
        if (m_hadTmpdir) {
            ::setenv("TMPDIR", m_oldTmpdir.c_str(), 1);
        } else {
            ::unsetenv("TMPDIR");
        }
        if (!m_dir.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(m_dir, ec);
        }
    }
    // A fresh private directory that TMPDIR points to.
    std::string UsePrivateTmpdir() {
        std::string pattern = std::filesystem::temp_directory_path().string() + "/orvanta_msg_XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (::mkdtemp(buf.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
        m_dir = buf.data();
        ::setenv("TMPDIR", m_dir.c_str(), 1);
        return m_dir;
    }
    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    std::string m_dir;
    bool m_hadTmpdir = false;
    std::string m_oldTmpdir;
};

TEST_F(MessageHookTest, RecordingHookSeesKindTextAndAnswers) {
    std::vector<Seen> seen;
    SetMessageHook([&seen](MessageKind kind, const std::string& text, int def) {
        seen.push_back({kind, text, def});
        return 1;
    });

    // The ShowMessage helpers are notices and always return 0.
    EXPECT_EQ(ShowMessage(PL("Błąd portu")), 0);
    EXPECT_EQ(ShowMessage(nullptr), 0);
    EXPECT_EQ(ShowMessageText(std::string("A\0B", 3)), 0);
    EXPECT_EQ(ShowMessageChr(CChrArr("chr")), 0);
    EXPECT_EQ(ShowPlatformMessage(MessageKind::Question, "Kontynuowac?", 0), 1);
    EXPECT_EQ(ShowPlatformMessage(MessageKind::Prompt, "Wloz dyskietke", 1), 1);

    ASSERT_EQ(seen.size(), 6u);
    EXPECT_EQ(seen[0].kind, MessageKind::Notice);
    EXPECT_EQ(seen[0].text, "B\xB3\xB9" "d portu");
    EXPECT_EQ(seen[1].text, "");
    EXPECT_EQ(seen[2].text, std::string("A\0B", 3));
    EXPECT_EQ(seen[3].text, "chr");
    EXPECT_EQ(seen[4].kind, MessageKind::Question);
    EXPECT_EQ(seen[4].defaultAnswer, 0);
    EXPECT_EQ(seen[5].kind, MessageKind::Prompt);
    EXPECT_EQ(seen[5].defaultAnswer, 1);
}

TEST_F(MessageHookTest, ThrowingHookAnswersTheDefault) {
    SetMessageHook([](MessageKind, const std::string&, int) -> int { throw std::runtime_error("no"); });
    EXPECT_EQ(ShowPlatformMessage(MessageKind::Question, "q", 1), 1);
    EXPECT_EQ(ShowPlatformMessage(MessageKind::Question, "q", 0), 0);
    EXPECT_EQ(ShowMessage("x"), 0);
}

TEST_F(MessageHookTest, DefaultHookAppendsToPrivateLog) {
    const std::string dir = UsePrivateTmpdir();
    int calls = 0;
    SetMessageHook([&calls](MessageKind, const std::string&, int) { return ++calls, 7; });
    SetMessageHook({});  // back to the default

    EXPECT_EQ(ShowPlatformMessage(MessageKind::Question, PL("Usunąć?"), 1), 1);
    EXPECT_EQ(ShowPlatformMessage(MessageKind::Prompt, "Press the key", 0), 0);
    EXPECT_EQ(ShowMessage("Port closed"), 0);
    EXPECT_EQ(calls, 0);

    const std::string path = dir + "/orvanta_messages.log";
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    const std::string log = ReadFile(path);
    const size_t q = log.find("Usunąć?");  // the CP1250 text, in UTF-8
    const size_t p = log.find("Press the key");
    const size_t n = log.find("Port closed");
    ASSERT_NE(q, std::string::npos) << log;
    ASSERT_NE(p, std::string::npos) << log;
    ASSERT_NE(n, std::string::npos) << log;
    EXPECT_LT(q, p);
    EXPECT_LT(p, n);
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 3) << log;
    // Each line starts with a time stamp "YYYY-MM-DD HH:MM:SS".
    ASSERT_GE(log.size(), 19u);
    EXPECT_EQ(log[4], '-');
    EXPECT_EQ(log[13], ':');

    // A second message appends; nothing is overwritten.
    ShowMessage("again");
    EXPECT_EQ(ReadFile(path).substr(0, log.size()), log);
}

TEST_F(MessageHookTest, DefaultHookDoesNotFollowSymlinks) {
    const std::string dir = UsePrivateTmpdir();
    const std::string target = dir + "/victim";
    { std::ofstream(target) << "keep"; }
    ASSERT_EQ(::symlink(target.c_str(), (dir + "/orvanta_messages.log").c_str()), 0);

    EXPECT_EQ(ShowPlatformMessage(MessageKind::Question, "through a link", 1), 1);
    EXPECT_EQ(ReadFile(target), "keep");
}

TEST_F(MessageHookTest, DefaultHookSurvivesAMissingDirectory) {
    ::setenv("TMPDIR", "/nonexistent/orvanta/dir", 1);
    EXPECT_EQ(ShowPlatformMessage(MessageKind::Question, "nowhere", 1), 1);
    EXPECT_EQ(ShowMessage("nowhere"), 0);
}

TEST_F(MessageHookTest, TempDirectory) {
    const struct {
        const char* tmpdir;  // nullptr: unset
        const char* expected;
    } cases[] = {
        {nullptr, "/tmp"}, {"", "/tmp"}, {"/var/tmp", "/var/tmp"}, {"/var/tmp//", "/var/tmp"}, {"/", "/"},
    };
    for (const auto& c : cases) {
        if (c.tmpdir == nullptr) {
            ::unsetenv("TMPDIR");
        } else {
            ::setenv("TMPDIR", c.tmpdir, 1);
        }
        EXPECT_EQ(TempDirectory(), c.expected) << (c.tmpdir ? c.tmpdir : "(unset)");
    }
}

}  // namespace
