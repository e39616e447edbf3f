// Traffic dumps and the data and sale logs in the temporary directory.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "comm/telepathy_ecr.h"
#include "temp_dir.h"

namespace {

using orv::test::ScopedTempDir;
using DumpFn = void (*)(const CChrArr&);

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

bool IsRegularPrivateFile(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return false;
    return S_ISREG(st.st_mode) && (st.st_mode & 0777) == 0600;
}

// The dump counters are process-wide: bring a family's counter back to 0
// by dumping into a scratch directory until its digit 9 has been written.
void AlignToZero(DumpFn dump, const std::string& prefix) {
    ScopedTempDir scratch;
    for (int i = 0; i < 10; ++i) {
        dump(CChrArr("x"));
        if (::access(scratch.File(prefix + "9.dat").c_str(), F_OK) == 0) return;
    }
    ADD_FAILURE() << prefix << " never reached digit 9";
}

CChrArr Bytes(const std::string& s) { return CChrArr(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }

TEST(Dumps, ElevenReceivedFramesRotateOverTenFilesEleventhInDigitZero) {
    AlignToZero(DumpReceived, "XWR_");
    ScopedTempDir dir;
    for (int i = 0; i <= 10; ++i) DumpReceived(Bytes("frame" + std::to_string(i)));

    std::vector<std::string> expected;
    for (int d = 0; d < 10; ++d) expected.push_back("XWR_" + std::to_string(d) + ".dat");
    EXPECT_EQ(dir.Names(), expected);   // no other file (no leftover temporary files)
    EXPECT_EQ(ReadFile(dir.File("XWR_0.dat")), "frame10");
    for (int d = 1; d < 10; ++d) EXPECT_EQ(ReadFile(dir.File("XWR_" + std::to_string(d) + ".dat")), "frame" + std::to_string(d));
    for (const auto& name : expected) EXPECT_TRUE(IsRegularPrivateFile(dir.File(name))) << name;
}

TEST(Dumps, FamiliesRotateIndependently) {
    AlignToZero(DumpReceived, "XWR_");
    AlignToZero(DumpSent, "XWS_");
    AlignToZero(DumpBlock, "XWT_");
    AlignToZero(DumpReadUntil, "XWX_");
    ScopedTempDir dir;
    DumpSent(CChrArr("s0"));
    DumpSent(CChrArr("s1"));
    DumpSent(CChrArr("s2"));
    DumpBlock(CChrArr("t0"));
    DumpReadUntil(CChrArr("x0"));
    DumpReadUntil(CChrArr("x1"));
    DumpReceived(CChrArr("r0"));
    const std::vector<std::string> expected = {"XWR_0.dat", "XWS_0.dat", "XWS_1.dat", "XWS_2.dat",
                                               "XWT_0.dat", "XWX_0.dat", "XWX_1.dat"};
    EXPECT_EQ(dir.Names(), expected);
    EXPECT_EQ(ReadFile(dir.File("XWS_2.dat")), "s2");
    EXPECT_EQ(ReadFile(dir.File("XWT_0.dat")), "t0");
    EXPECT_EQ(ReadFile(dir.File("XWX_1.dat")), "x1");
}

TEST(Dumps, ContentIsTheExactBytesAndReplacesTheOldFile) {
    AlignToZero(DumpBlock, "XWT_");
    ScopedTempDir dir;
    WriteFile(dir.File("XWT_0.dat"), std::string(100, 'o'));   // an older, longer dump
    const std::string frame("\x02\x00\xff\r\n\x03", 6);
    DumpBlock(Bytes(frame));
    EXPECT_EQ(ReadFile(dir.File("XWT_0.dat")), frame);
    EXPECT_TRUE(IsRegularPrivateFile(dir.File("XWT_0.dat")));
    DumpBlock(CChrArr());   // an empty read leaves an empty file
    EXPECT_EQ(ReadFile(dir.File("XWT_1.dat")), "");
}

TEST(Dumps, PlantedLinksAreReplacedNeverFollowed) {
    AlignToZero(DumpSent, "XWS_");
    ScopedTempDir dir;
    const std::string victim = dir.File("victim.txt");
    WriteFile(victim, "keep");
    ASSERT_EQ(::symlink(victim.c_str(), dir.File("XWS_0.dat").c_str()), 0);
    const std::string absent = dir.File("created-through-link");
    ASSERT_EQ(::symlink(absent.c_str(), dir.File("XWS_1.dat").c_str()), 0);

    DumpSent(CChrArr("frame A"));
    DumpSent(CChrArr("frame B"));
    EXPECT_EQ(ReadFile(victim), "keep");
    EXPECT_NE(::access(absent.c_str(), F_OK), 0);
    EXPECT_TRUE(IsRegularPrivateFile(dir.File("XWS_0.dat")));
    EXPECT_TRUE(IsRegularPrivateFile(dir.File("XWS_1.dat")));
    EXPECT_EQ(ReadFile(dir.File("XWS_0.dat")), "frame A");
    EXPECT_EQ(ReadFile(dir.File("XWS_1.dat")), "frame B");
}

// Whatever stands under a dump's name, the dump never writes through it and
// never waits on it: hard links keep their content, FIFOs (with or without a
// reader) are replaced, a directory is skipped, and the rotation goes on.
TEST(Dumps, HardLinksFifosAndDirectoriesUnderTheNameAreNeverWrittenThrough) {
    AlignToZero(DumpSent, "XWS_");
    ScopedTempDir dir;
    const std::string victim = dir.File("victim.txt");
    WriteFile(victim, "keep");
    ASSERT_EQ(::link(victim.c_str(), dir.File("XWS_0.dat").c_str()), 0);       // hard link
    ASSERT_EQ(::mkfifo(dir.File("XWS_1.dat").c_str(), 0600), 0);                // FIFO, nobody reading
    ASSERT_EQ(::mkfifo(dir.File("XWS_2.dat").c_str(), 0600), 0);                // FIFO with a reader
    const int reader = ::open(dir.File("XWS_2.dat").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_EQ(::mkdir(dir.File("XWS_3.dat").c_str(), 0700), 0);                 // a directory
    WriteFile(dir.File("XWS_4.dat"), "an old dump of ours, left world-readable");
    ASSERT_EQ(::chmod(dir.File("XWS_4.dat").c_str(), 0644), 0);

    const std::string frames[] = {"frame 0", "frame 1", "frame 2", "frame 3", "frame 4"};
    for (const auto& f : frames) DumpSent(Bytes(f));

    EXPECT_EQ(ReadFile(victim), "keep");
    struct stat st {};
    ASSERT_EQ(::stat(victim.c_str(), &st), 0);
    EXPECT_EQ(st.st_nlink, 1u);   // the dump's name no longer shares the file
    char buf[16];
    EXPECT_LE(::read(reader, buf, sizeof buf), 0);   // nothing reached the FIFO's reader
    ::close(reader);
    for (const char* name : {"XWS_0.dat", "XWS_1.dat", "XWS_2.dat"})
        EXPECT_TRUE(IsRegularPrivateFile(dir.File(name))) << name;
    EXPECT_EQ(ReadFile(dir.File("XWS_0.dat")), "frame 0");
    EXPECT_EQ(ReadFile(dir.File("XWS_1.dat")), "frame 1");
    EXPECT_EQ(ReadFile(dir.File("XWS_2.dat")), "frame 2");
    ASSERT_EQ(::lstat(dir.File("XWS_3.dat").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));   // skipped: the directory stays, the rotation does not stall
    // A dump that cannot be written keeps the counter on its digit: "frame 4"
    // tried the directory's name again, and the old fifth file is untouched.
    EXPECT_EQ(ReadFile(dir.File("XWS_4.dat")), "an old dump of ours, left world-readable");
    ASSERT_EQ(::rmdir(dir.File("XWS_3.dat").c_str()), 0);
    DumpSent(Bytes("frame 3 again"));
    EXPECT_EQ(ReadFile(dir.File("XWS_3.dat")), "frame 3 again");
    DumpSent(Bytes("frame 4 again"));
    EXPECT_EQ(ReadFile(dir.File("XWS_4.dat")), "frame 4 again");
    EXPECT_TRUE(IsRegularPrivateFile(dir.File("XWS_4.dat")));
}

TEST(Dumps, FailureIsSilentAndKeepsTheCounter) {
    AlignToZero(DumpReceived, "XWR_");
    ScopedTempDir dir;
    ::setenv("TMPDIR", (dir.path() + "/missing").c_str(), 1);
    DumpReceived(CChrArr("lost"));
    ::setenv("TMPDIR", dir.path().c_str(), 1);
    DumpReceived(CChrArr("kept"));
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"XWR_0.dat"});
    EXPECT_EQ(ReadFile(dir.File("XWR_0.dat")), "kept");
}

// ---- logs ----

std::string OnlyFileWithPrefix(const ScopedTempDir& dir, const std::string& prefix) {
    std::string found;
    for (const auto& n : dir.Names())
        if (n.rfind(prefix, 0) == 0) {
            EXPECT_TRUE(found.empty()) << "second log " << n;
            found = n;
        }
    return found;
}

std::string Hms(const std::string& entry, size_t at) { return entry.size() >= at + 8 ? entry.substr(at, 8) : ""; }

TEST(DataLog, EntryLayoutPerLabel) {
    struct Case {
        char label;
        std::string bytes;
        std::string head;      // before the time
        std::string tail;      // after the time
        bool timed;
    };
    const Case cases[] = {
        {'R', "AB", "ECR->AB<<\r\n", " 41 42\r\n\r\n", true},
        {'S', std::string("\x0a\xff", 2), std::string("PC ->\x0a\xff<<\r\n", 11), " 0A FF\r\n\r\n", true},
        {'L', "AB", " -> AB\r\n", "", false},
        {'X', "AB", " -> AB<<\r\n", "\r\n", true},
    };
    const std::regex timeRe("[0-2][0-9]:[0-5][0-9]:[0-6][0-9]");
    for (const Case& c : cases) {
        ScopedTempDir dir;
        CTelepathyECR protocol;
        protocol.OpenDataLog();
        ASSERT_TRUE(protocol.IsDataLogOpen());
        protocol.WriteDataLog(Bytes(c.bytes), c.label);
        protocol.CloseDataLog();
        EXPECT_FALSE(protocol.IsDataLogOpen());

        const std::string name = OnlyFileWithPrefix(dir, "XWDATA_");
        EXPECT_TRUE(std::regex_match(name, std::regex("XWDATA_[01][0-9][0-3][0-9]_[0-2][0-9][0-5][0-9][0-6][0-9]\\.txt")))
            << name;
        EXPECT_TRUE(IsRegularPrivateFile(dir.File(name)));
        const std::string entry = ReadFile(dir.File(name));
        if (!c.timed) {
            EXPECT_EQ(entry, c.head) << c.label;
            continue;
        }
        ASSERT_EQ(entry.size(), c.head.size() + 8 + c.tail.size()) << c.label;
        EXPECT_EQ(entry.substr(0, c.head.size()), c.head) << c.label;
        EXPECT_TRUE(std::regex_match(Hms(entry, c.head.size()), timeRe)) << entry;
        EXPECT_EQ(entry.substr(c.head.size() + 8), c.tail) << c.label;
    }
}

TEST(DataLog, NameAndTimeComeFromTheLocalClock) {
    ScopedTempDir dir;
    CTelepathyECR protocol;
    std::time_t before = std::time(nullptr);
    protocol.OpenDataLog();
    protocol.WriteDataLog(CChrArr("AB"), 'R');
    std::time_t after = std::time(nullptr);
    protocol.CloseDataLog();

    auto format = [](std::time_t t, const char* f) {
        std::tm parts{};
        localtime_r(&t, &parts);
        char buf[32];
        return std::string(buf, std::strftime(buf, sizeof(buf), f, &parts));
    };
    const std::string name = OnlyFileWithPrefix(dir, "XWDATA_");
    EXPECT_TRUE(name == "XWDATA_" + format(before, "%m%d_%H%M%S") + ".txt" ||
                name == "XWDATA_" + format(after, "%m%d_%H%M%S") + ".txt")
        << name;
    const std::string time = Hms(ReadFile(dir.File(name)), 11);
    EXPECT_TRUE(time == format(before, "%H:%M:%S") || time == format(after, "%H:%M:%S")) << time;
}

TEST(DataLog, ClosedLogWritesNothing) {
    ScopedTempDir dir;
    CTelepathyECR protocol;
    protocol.WriteDataLog(CChrArr("AB"), 'R');
    protocol.WriteSaleLog(CChrArr("AB"));
    EXPECT_TRUE(dir.Names().empty());

    protocol.OpenDataLog();
    protocol.WriteDataLog(CChrArr("AB"), 'L');
    protocol.CloseDataLog();
    protocol.WriteDataLog(CChrArr("CD"), 'L');
    protocol.CloseDataLog();   // a second close is harmless
    EXPECT_EQ(ReadFile(dir.File(OnlyFileWithPrefix(dir, "XWDATA_"))), " -> AB\r\n");
}

TEST(DataLog, SecondLogOfTheSameSecondReplacesTheFirst) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        ScopedTempDir dir;
        const std::time_t start = std::time(nullptr);
        CTelepathyECR first;
        first.OpenDataLog();
        first.WriteDataLog(CChrArr("first, a longer entry"), 'L');
        first.CloseDataLog();
        CTelepathyECR second;
        second.OpenDataLog();
        second.WriteDataLog(CChrArr("second"), 'L');
        second.CloseDataLog();
        if (std::time(nullptr) != start) continue;   // the second ticked in between: try again
        const std::string name = OnlyFileWithPrefix(dir, "XWDATA_");
        EXPECT_EQ(ReadFile(dir.File(name)), " -> second\r\n");
        return;
    }
    GTEST_SKIP() << "the clock ticked during every attempt";
}

TEST(SaleLog, AppendsTheRawBytes) {
    ScopedTempDir dir;
    CTelepathyECR protocol;
    protocol.OpenSaleLog();
    ASSERT_TRUE(protocol.IsSaleLogOpen());
    protocol.WriteSaleLog(Bytes(std::string("12;Chleb\0", 9)));
    protocol.WriteSaleLog(CChrArr("\r\n13;Mleko"));
    protocol.CloseSaleLog();
    EXPECT_FALSE(protocol.IsSaleLogOpen());
    const std::string name = OnlyFileWithPrefix(dir, "XWSALE_");
    EXPECT_TRUE(std::regex_match(name, std::regex("XWSALE_[0-9]{4}_[0-9]{6}\\.txt"))) << name;
    EXPECT_TRUE(IsRegularPrivateFile(dir.File(name)));
    EXPECT_EQ(ReadFile(dir.File(name)), std::string("12;Chleb\0\r\n13;Mleko", 19));
}

TEST(Logs, PlantedLinkIsNotFollowedAndMissingDirectoryIsSilent) {
    ScopedTempDir dir;
    const std::string victim = dir.File("victim.txt");
    WriteFile(victim, "keep");
    // Plant links under the names of this second and the next few.
    std::time_t now = std::time(nullptr);
    for (int s = 0; s < 5; ++s) {
        std::time_t t = now + s;
        std::tm parts{};
        localtime_r(&t, &parts);
        char buf[32];
        std::strftime(buf, sizeof(buf), "%m%d_%H%M%S", &parts);
        ::symlink(victim.c_str(), dir.File(std::string("XWDATA_") + buf + ".txt").c_str());
    }
    CTelepathyECR protocol;
    protocol.OpenDataLog();
    ASSERT_TRUE(protocol.IsDataLogOpen());
    protocol.WriteDataLog(CChrArr("AB"), 'L');
    protocol.CloseDataLog();
    EXPECT_EQ(ReadFile(victim), "keep");

    ::setenv("TMPDIR", (dir.path() + "/missing").c_str(), 1);
    CTelepathyECR other;
    other.OpenDataLog();
    other.OpenSaleLog();
    EXPECT_FALSE(other.IsDataLogOpen());
    EXPECT_FALSE(other.IsSaleLogOpen());
    other.WriteDataLog(CChrArr("AB"), 'R');
    other.CloseDataLog();
    other.CloseSaleLog();
    EXPECT_EQ(other.GetError(), 0);
}

}  // namespace
