// The Win32 file backends: job files, private files, the temporary
// directory and the message log, on Windows' own file system calls.
#include <windows.h>

#include <gtest/gtest.h>
#include <io.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/files.h"
#include "platform/message_hook.h"
#include "platform/private_file.h"

namespace {

using namespace orv::platform;

// A fresh folder in the system's temporary directory, removed afterwards.
class Win32Files : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string base = TempDirectory();
        for (int i = 0; i < 100 && m_dir.empty(); ++i) {
            const std::string d = base + "\\orvanta_test_" + std::to_string(::GetCurrentProcessId()) + "_" +
                                  std::to_string(i);
            if (::CreateDirectoryA(d.c_str(), nullptr)) m_dir = d;
        }
        ASSERT_FALSE(m_dir.empty());
    }
    void TearDown() override {
        SetMessageHook(nullptr);
        if (m_dir.empty()) return;
        WIN32_FIND_DATAA found;
        const HANDLE h = ::FindFirstFileA((m_dir + "\\*").c_str(), &found);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                const std::string name = found.cFileName;
                if (name == "." || name == "..") continue;
                const std::string path = m_dir + "\\" + name;
                ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    ::RemoveDirectoryA(path.c_str());
                else
                    ::DeleteFileA(path.c_str());
            } while (::FindNextFileA(h, &found));
            ::FindClose(h);
        }
        ::RemoveDirectoryA(m_dir.c_str());
    }
    std::string Path(const std::string& name) const { return m_dir + "\\" + name; }
    static std::string Content(const std::string& path) {
        std::string out;
        return ReadFileContents(path, out) ? out : "<unreadable>";
    }
    static void Put(const std::string& path, const std::string& content) {
        const int fd = CreateNewFile(path, false);
        ASSERT_GE(fd, 0) << path;
        ASSERT_TRUE(WriteFully(fd, content.data(), content.size()));
        ASSERT_TRUE(CloseFile(fd));
    }
    std::string m_dir;
};

TEST_F(Win32Files, TemporaryDirectoryIsTheSystemsWithoutTrailingSeparator) {
    const std::string dir = TempDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_NE(dir.back(), '\\');
    EXPECT_TRUE(PathExists(dir));
    char expected[MAX_PATH + 1];
    const DWORD n = ::GetTempPathA(sizeof expected, expected);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(dir + "\\", std::string(expected, n));
}

TEST_F(Win32Files, PrivateFileIsWrittenThenRewrittenInPlaceAndCut) {
    const std::string path = Path("dump.txt");
    int fd = OpenPrivateFile(path, "first content", 13);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(WriteFully(fd, "+more", 5));   // the descriptor stands after the content
    ASSERT_TRUE(CloseFile(fd));
    EXPECT_EQ(Content(path), "first content+more");

    fd = OpenPrivateFile(path, "short", 5);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(CloseFile(fd));
    EXPECT_EQ(Content(path), "short");
}

TEST_F(Win32Files, PrivateFileReplacesAReadOnlyFileAndRefusesAFolder) {
    const std::string path = Path("locked.txt");
    Put(path, "old and long content");
    ASSERT_TRUE(::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
    const int fd = OpenPrivateFile(path, "new", 3);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(CloseFile(fd));
    EXPECT_EQ(Content(path), "new");

    ASSERT_TRUE(::CreateDirectoryA(Path("folder").c_str(), nullptr));
    EXPECT_EQ(OpenPrivateFile(Path("folder"), "x", 1), -1);
    EXPECT_EQ(OpenPrivateFile(Path("no such folder\\file.txt"), "x", 1), -1);
}

TEST_F(Win32Files, PlainFileForWritingEmptiesOnlyAPlainFileOfItsOwn) {
    const std::string path = Path("job.txt");
    Put(path, "stale");
    int fd = OpenPlainFileForWriting(path);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(WriteFully(fd, "fresh", 5));
    ASSERT_TRUE(CloseFile(fd));
    EXPECT_EQ(Content(path), "fresh");

    // A name with a second link is someone else's file too: left alone.
    if (::CreateHardLinkA(Path("other.txt").c_str(), path.c_str(), nullptr)) {
        errno = 0;
        EXPECT_EQ(OpenPlainFileForWriting(path), -1);
        EXPECT_EQ(errno, EMLINK);
        EXPECT_EQ(Content(Path("other.txt")), "fresh");
    }
    // Folders and devices are never opened as files.
    ASSERT_TRUE(::CreateDirectoryA(Path("folder").c_str(), nullptr));
    EXPECT_EQ(OpenPlainFileForWriting(Path("folder")), -1);
    EXPECT_EQ(OpenPlainFileForReading("NUL"), -1);
    EXPECT_EQ(OpenPlainFileForWriting("NUL"), -1);
}

TEST_F(Win32Files, PlainFileForReadingAndTheLimitOfReadToEnd) {
    const std::string path = Path("result.xml");
    Put(path, std::string(1000, 'x'));
    int fd = OpenPlainFileForReading(path);
    ASSERT_GE(fd, 0);
    std::string bytes;
    EXPECT_TRUE(ReadToEnd(fd, bytes, 1000));
    EXPECT_EQ(bytes.size(), 1000u);
    CloseFile(fd);

    fd = OpenPlainFileForReading(path);
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(ReadToEnd(fd, bytes, 999));
    CloseFile(fd);
    EXPECT_EQ(OpenPlainFileForReading(Path("missing.xml")), -1);
}

TEST_F(Win32Files, NewAndUniqueFilesAreMadeExclusively) {
    const std::string path = Path("modkonf.txt");
    EXPECT_FALSE(PathExists(path));
    Put(path, "mine");
    EXPECT_TRUE(PathExists(path));
    errno = 0;
    EXPECT_EQ(CreateNewFile(path, false), -1);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(Content(path), "mine");

    std::string first, second;
    const int a = CreateUniqueFile(m_dir, "XWS", ".TMP", first);
    const int b = CreateUniqueFile(m_dir, "XWS", ".TMP", second);
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    CloseFile(a);
    CloseFile(b);
    EXPECT_NE(first, second);
    for (const std::string& name : {first, second}) {
        EXPECT_EQ(name.rfind(m_dir + "\\XWS", 0), 0u) << name;
        EXPECT_EQ(name.substr(name.size() - 4), ".TMP") << name;
        EXPECT_EQ(name.size(), m_dir.size() + 1 + 3 + 6 + 4) << name;
        EXPECT_EQ(Content(name), "");
    }
}

TEST_F(Win32Files, RemoveFileTellsAMissingNameApart) {
    const std::string path = Path("old_result.xml");
    Put(path, "x");
    EXPECT_EQ(RemoveFile(path), 0);
    EXPECT_FALSE(PathExists(path));
    EXPECT_EQ(RemoveFile(path), ENOENT);
}

TEST_F(Win32Files, DefaultMessageHookAppendsToTheLogInTheTemporaryDirectory) {
    // GetTempPathW takes the folder from TMP.
    char oldTmp[MAX_PATH + 1] = "";
    const bool hadTmp = ::GetEnvironmentVariableA("TMP", oldTmp, sizeof oldTmp) > 0;
    ASSERT_TRUE(::SetEnvironmentVariableA("TMP", m_dir.c_str()));
    EXPECT_EQ(TempDirectory(), m_dir);
    EXPECT_EQ(ShowPlatformMessage(MessageKind::Question, "Czy wys\xB3" "a\xE6?", 1), 1);
    EXPECT_EQ(ShowPlatformMessage(MessageKind::Notice, "second"), 0);
    ::SetEnvironmentVariableA("TMP", hadTmp ? oldTmp : nullptr);

    const std::string log = Content(Path("orvanta_messages.log"));
    EXPECT_NE(log.find("[question] Czy wys\xC5\x82" "a\xC4\x87?\n"), std::string::npos) << log;
    EXPECT_NE(log.find("[notice] second\n"), std::string::npos) << log;
    EXPECT_LT(log.find("[question]"), log.find("[notice]"));
}

}  // namespace
