// Dibal 500 scales through the library stand-in (tests/fakes/libs/
// dibalscop.cpp): what each call is given, the library's load and unload,
// its answers, and the jobs of type 114.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <chrono>
#include <cstdlib>
#include <future>
#include <string>
#include <vector>

#include "dibal_fixture.h"
#include "drivers/dibal/cdi500_ecr.h"
#include "drivers/dibal/cdibal_500.h"
#include "orvanta/ecr.h"
#include "platform/clock.h"
#include "platform/dynamic_library.h"

namespace orv::test {
namespace {

constexpr uint32_t kAddress = 0xC0A80164u;   // 192.168.1.100

// The stand-in's control and log, from the copy the driver loads.
class Dibalscop {
public:
    Dibalscop() {
        m_handle = dlopen(ORVANTA_FAKES_DIR "/libdibalscop.so", RTLD_NOW);
        reset = Sym<void (*)()>("DibalscopFakeReset");
        answer = Sym<void (*)(const char*, const char*)>("DibalscopFakeAnswer");
        calls = Sym<int (*)()>("DibalscopFakeCalls");
        entry = Sym<const char* (*)(int)>("DibalscopFakeEntry");
        integer = Sym<int (*)(int, const char*)>("DibalscopFakeInt");
        price = Sym<double (*)(int)>("DibalscopFakePrice");
        text16 = Sym<const char16_t* (*)(int, const char*)>("DibalscopFakeText");
    }
    ~Dibalscop() {
        if (m_handle) dlclose(m_handle);
    }
    bool Loaded() const { return m_handle && reset && text16; }
    std::u16string Text(int i, const char* field) const { return text16(i, field); }
    std::vector<std::string> Entries() const {
        std::vector<std::string> e;
        for (int i = 0; i < calls(); ++i) e.push_back(entry(i));
        return e;
    }

    void (*reset)() = nullptr;
    void (*answer)(const char*, const char*) = nullptr;
    int (*calls)() = nullptr;
    const char* (*entry)(int) = nullptr;
    int (*integer)(int, const char*) = nullptr;
    double (*price)(int) = nullptr;
    const char16_t* (*text16)(int, const char*) = nullptr;

private:
    template <class Fn>
    Fn Sym(const char* name) {
        return m_handle ? reinterpret_cast<Fn>(dlsym(m_handle, name)) : nullptr;
    }
    void* m_handle = nullptr;
};

class Dibal500 : public DibalTest {
protected:
    void SetUp() override {
        DibalTest::SetUp();
        unsetenv("ECR_LIB_DIBALSCOP");
        ASSERT_TRUE(fake.Loaded());
        fake.reset();
        serial.SetCallback(&RecordingHost::OnProgress);
    }
    void TearDown() override {
        if (logic.IsRunning()) {
            logic.Break();
            serial.Break();
            WaitJobEnd(logic, 10000);
        }
        unsetenv("ECR_LIB_DIBALSCOP");
        DibalTest::TearDown();
    }
    bool RunItems(std::vector<EcrItemRecord>& items, int count = -1) {
        EcrDeviceRecord dev = DeviceRecord(114, static_cast<int>(kAddress));
        dev.word7 = 4;
        PrepareJobBlock(kJobPgmPlu, dev);
        g_jobBlock.items = items.data();
        g_jobBlock.count = static_cast<uint32_t>(count >= 0 ? count : static_cast<int>(items.size()));
        RunJob(logic, kJobPgmPlu, &serial, nullptr);   // false when the open failed
        return Host().CountEvents(ECR_EVENT_SUCCEEDED) == 1;
    }

    Dibalscop fake;
    CTelepathy serial;
    CDI500_ECR logic;
};

TEST_F(Dibal500, EachCallGetsTheConnectionAndTheItem) {
    CDibal_500 lib;
    ASSERT_EQ(lib.Open(kAddress, 0, 4, 0), 1) << lib.GetErrorText(lib.m_nError);
    EXPECT_EQ(lib.AddressText(), "192.168.1.100");
    DibalItem d = MakeDibalItem(12, PL("Zażółć gęślą jaźń i więcej"), 3.75);
    d.code3 = 345;
    d.flag = 1;
    d.department = 7;
    std::strcpy(d.date1, "01.02.25");
    std::strcpy(d.text1, "  Pierwszy ");
    std::strcpy(d.text2, "drugi");
    std::strcpy(d.text3, "trzeci  ");
    ASSERT_EQ(lib.BuildItems(d), 1);
    ASSERT_EQ(fake.Entries(), (std::vector<std::string>{"ItemsSend", "RegistersSend"}));
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(fake.Text(i, "address"), u"192.168.1.100");
        EXPECT_EQ(fake.integer(i, "conn.port1"), 3001);
        EXPECT_EQ(fake.integer(i, "conn.port2"), 3000);
        EXPECT_EQ(fake.integer(i, "conn.zero1"), 0);
        EXPECT_EQ(fake.integer(i, "conn.zero2"), 0);
        EXPECT_EQ(fake.Text(i, "range"), u"500RANGE");
        EXPECT_EQ(fake.Text(i, "empty"), u"");
        EXPECT_EQ(fake.Text(i, "zeroText"), u"0");
        EXPECT_EQ(fake.Text(i, "logFile"), u"dibal500.log");
        EXPECT_EQ(fake.integer(i, "a"), 1);
        EXPECT_EQ(fake.integer(i, "b"), 1);
        EXPECT_EQ(fake.integer(i, "c"), 0);
        EXPECT_EQ(fake.integer(i, "d"), 5);
    }
    EXPECT_EQ(fake.integer(0, "plu"), 12);
    EXPECT_EQ(fake.integer(0, "code3"), 345);
    EXPECT_DOUBLE_EQ(fake.price(0), 3.75);
    EXPECT_EQ(fake.Text(0, "name"), u"Zażółć gęślą jaźń i ");
    EXPECT_EQ(fake.integer(0, "flag"), 0);
    EXPECT_EQ(fake.integer(0, "department"), 7);
    EXPECT_EQ(fake.Text(0, "date"), u"01/02/2025");
    EXPECT_EQ(fake.integer(0, "zero1"), 0);
    EXPECT_EQ(fake.integer(0, "plu2"), 12);
    EXPECT_EQ(fake.integer(0, "zero2"), 0);
    EXPECT_EQ(fake.Text(0, "textG"), u"textG");
    const std::u16string text = fake.Text(1, "text");
    EXPECT_EQ(text.size(), 128u);
    EXPECT_EQ(text, u"X400" u"000012" u"01" + (u"Pierwszy drugitrzeci" + std::u16string(95, u' ')) + u"\x1B");
    EXPECT_EQ(fake.integer(1, "text.zero"), 0);
}

TEST_F(Dibal500, ItemFieldsAsTheLibraryGetsThem) {
    struct Case {
        const char* name;
        const char* date;
        uint32_t flag;
        std::u16string sentName, sentDate;
        int sentFlag;
    };
    const std::vector<Case> cases = {
        {"Ser", "31.12.99", 2, u"Ser                 ", u"31/12/2099", 1},
        {"Ser", "1.02.25", 1, u"Ser                 ", u"00/00/0000", 0},
        {"Ser", "", 0, u"Ser                 ", u"00/00/0000", 1},
        {"A\tB", "ab.cd.ef", 1, u"A B                 ", u"00/00/0000", 0},
        {"", "01/02/25", 1, std::u16string(20, u' '), u"00/00/0000", 0},
    };
    CDibal_500 lib;
    ASSERT_EQ(lib.Open(kAddress, 0, 4, 0), 1);
    int call = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.date);
        DibalItem d = MakeDibalItem(5, c.name, 1.0);
        std::strcpy(d.date1, c.date);
        d.flag = c.flag;
        ASSERT_EQ(lib.BuildItems(d), 1);
        EXPECT_EQ(fake.Text(call, "name"), c.sentName);
        EXPECT_EQ(fake.Text(call, "date"), c.sentDate);
        EXPECT_EQ(fake.integer(call, "flag"), c.sentFlag);
        call += 2;
    }
}

TEST_F(Dibal500, ANewAddressUnloadsAndLoadsTheLibraryAgain) {
    CDibal_500 lib;
    const int loads = orv::platform::DynamicLibraryLoads();
    const int unloads = orv::platform::DynamicLibraryUnloads();
    ASSERT_EQ(lib.Open(kAddress, 0, 4, 0), 1);
    EXPECT_EQ(orv::platform::DynamicLibraryLoads(), loads + 1);
    ASSERT_EQ(lib.Open(kAddress, 0, 4, 0), 1);
    EXPECT_EQ(orv::platform::DynamicLibraryLoads(), loads + 1);
    EXPECT_EQ(orv::platform::DynamicLibraryUnloads(), unloads);
    ASSERT_EQ(lib.Open(0x0A000001u, 0, 4, 0), 1);
    EXPECT_EQ(lib.AddressText(), "10.0.0.1");
    EXPECT_EQ(orv::platform::DynamicLibraryLoads(), loads + 2);
    EXPECT_EQ(orv::platform::DynamicLibraryUnloads(), unloads + 1);
    ASSERT_EQ(lib.BuildItems(MakeDibalItem(1, "A", 1.0)), 1);
    EXPECT_EQ(fake.Text(0, "address"), u"10.0.0.1");
}

TEST_F(Dibal500, AnswersOtherThanOk) {
    struct Case {
        const char* entry;
        const char* answer;   // null: none
        std::vector<std::string> calls;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"ItemsSend", "ERROR 12", {"ItemsSend"}, "ERROR 12"},
        {"ItemsSend", nullptr, {"ItemsSend"}, ""},
        {"RegistersSend", "BUSY", {"ItemsSend", "RegistersSend"}, "BUSY"},
        {"ItemsSend", "ok", {"ItemsSend"}, "ok"},
        // The library's control bytes do not reach the host's text.
        {"ItemsSend", "\x02" "ERR\t12\r\n", {"ItemsSend"}, "ERR 12"},
        {"RegistersSend", "\x1B\x7F", {"ItemsSend", "RegistersSend"}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        fake.reset();
        fake.answer(c.entry, c.answer);
        CDibal_500 lib;
        ASSERT_EQ(lib.Open(kAddress, 0, 4, 0), 1);
        EXPECT_EQ(lib.BuildItems(MakeDibalItem(1, "A", 1.0)), 0);
        EXPECT_EQ(lib.m_nError, 999);
        EXPECT_EQ(fake.Entries(), c.calls);
        EXPECT_EQ(lib.GetErrorText(999), c.text.empty() ? CTelepathyECR().GetErrorText(999) : c.text);
    }
}

TEST_F(Dibal500, RefusedBeforeTheLibrary) {
    CDibal_500 lib;
    ASSERT_EQ(lib.Open(kAddress, 0, 4, 0), 1);
    DibalItem d = MakeDibalItem(1000000, "A", 1.0);
    EXPECT_EQ(lib.BuildItems(d), 0);
    EXPECT_EQ(lib.m_nError, 105);
    d.plu = 999999;
    d.price = -0.5;
    EXPECT_EQ(lib.BuildItems(d), 0);
    EXPECT_EQ(lib.m_nError, 109);
    EXPECT_EQ(fake.calls(), 0);
    d.price = 0.5;
    EXPECT_EQ(lib.BuildItems(d), 1);
}

TEST_F(Dibal500, MissingLibraryOrEntryPoint) {
    struct Case {
        std::string file;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"/nonexistent/libdibalscop.so", PL("Nie można załadować biblioteki ") + std::string("/nonexistent/libdibalscop.so")},
        {ORVANTA_FAKES_DIR "/libdibalscop_partial.so",
         "Brak funkcji RegistersSend w bibliotece " ORVANTA_FAKES_DIR "/libdibalscop_partial.so"},
    };
    for (const Case& c : cases) {
        setenv("ECR_LIB_DIBALSCOP", c.file.c_str(), 1);
        std::vector<EcrItemRecord> items = {DibalHostItem(1, "A", 1.0)};
        Host().Reset();
        EXPECT_FALSE(RunItems(items));
        EXPECT_EQ(logic.GetErrorCode(), 999999);
        EXPECT_EQ(std::string(logic.GetErrorMessage()), c.text);
    }
    // The right library again: the next job loads it.
    unsetenv("ECR_LIB_DIBALSCOP");
    std::vector<EcrItemRecord> items = {DibalHostItem(1, "A", 1.0)};
    Host().Reset();
    EXPECT_TRUE(RunItems(items)) << logic.GetErrorMessage();
}

// A variable naming a FIFO: the job is refused at once, not held inside
// the loader until someone writes to it.
TEST_F(Dibal500, LibraryFileThatWouldBlockIsRefusedAtOnce) {
    char dirTemplate[] = "/tmp/orv_dibal500_XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    const std::string fifo = std::string(dirTemplate) + "/libdibalscop.so";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    setenv("ECR_LIB_DIBALSCOP", fifo.c_str(), 1);
    std::vector<EcrItemRecord> items = {DibalHostItem(1, "A", 1.0)};
    const auto start = std::chrono::steady_clock::now();
    auto job = std::async(std::launch::async, [&] { return RunItems(items); });
    if (job.wait_for(std::chrono::seconds(2)) != std::future_status::ready) {
        ADD_FAILURE() << "the job is held by the library file";
        const int w = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);   // lets the open end
        if (w >= 0) ::close(w);
    }
    EXPECT_FALSE(job.get());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(logic.GetErrorCode(), 999999);
    EXPECT_EQ(std::string(logic.GetErrorMessage()), PL("Nie można załadować biblioteki ") + fifo);
    EXPECT_EQ(fake.calls(), 0);
    ::unlink(fifo.c_str());
    ::rmdir(dirTemplate);
}

TEST_F(Dibal500, ProgrammingJobs) {
    std::vector<EcrItemRecord> items = {DibalHostItem(1, "A", 1.0), DibalHostItem(2, "B", 2.0),
                                        DibalHostItem(3, "C", 3.0)};
    fake.answer("ItemsSend", "OK");
    fake.answer("ItemsSend", "NIE");
    EXPECT_TRUE(RunItems(items));
    const auto confirms = Host().Confirmations();
    ASSERT_EQ(confirms.size(), 1u);
    EXPECT_EQ(confirms[0].number, 2u);
    EXPECT_EQ(confirms[0].code, 999);
    EXPECT_EQ(confirms[0].text, "NIE");
    EXPECT_EQ(fake.Entries(), (std::vector<std::string>{"ItemsSend", "RegistersSend", "ItemsSend", "ItemsSend",
                                                        "RegistersSend"}));

    // Count 0: the first entry goes.
    fake.reset();
    Host().Reset();
    EXPECT_TRUE(RunItems(items, 0));
    EXPECT_EQ(fake.calls(), 2);
    EXPECT_EQ(fake.integer(0, "plu"), 1);
}

TEST_F(Dibal500, ABreakEndsTheJobBeforeTheNextItem) {
    std::vector<EcrItemRecord> items = {DibalHostItem(1, "A", 1.0), DibalHostItem(2, "B", 2.0),
                                        DibalHostItem(3, "C", 3.0)};
    Host().SetEventHook([&](const HostEvent& e) {
        if (e.code == ECR_EVENT_ITEM && e.text == "Nazwa - B") serial.Break();
    });
    EXPECT_FALSE(RunItems(items));
    EXPECT_EQ(logic.GetErrorCode(), -7);
    EXPECT_TRUE(Host().Confirmations().empty());
    EXPECT_EQ(fake.calls(), 2);
}

TEST_F(Dibal500, ThroughTheExports) {
    ASSERT_EQ(EcrCreate(nullptr), 1);
    EcrDeviceRecord dev = DeviceRecord(114, static_cast<int>(kAddress));
    std::vector<EcrItemRecord> items = {DibalHostItem(7, "Ser", 12.5)};
    ASSERT_EQ(EcrPgmPLU(&dev, items.data(), 1, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitEcrDone(30000));
    EXPECT_EQ(EcrError(), 0);
    EXPECT_EQ(fake.calls(), 2);
    for (int job = 0; job < 2; ++job) {
        Host().Reset();
        if (job == 0) {
            ASSERT_EQ(EcrReadAllPLU(&dev, &RecordingHost::OnItemRead), 1);
        } else {
            ASSERT_EQ(EcrReadPLU(&dev, items.data(), 1, &RecordingHost::OnItemRead), 1);
        }
        ASSERT_TRUE(WaitEcrDone(30000));
        EXPECT_EQ(EcrError(), 0);
        EXPECT_TRUE(Host().Items().empty());
    }
    EXPECT_EQ(fake.calls(), 2);
}

// A host that ends while the library's call never returns: the unload waits
// a bounded time for the job's thread, then leaves it, and the host exits.
TEST(Dibal500Unload, AHostWhoseLibraryCallHangsStillExits) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        orv::platform::SetTimeScale(0.1);   // the unload's bound in tenths
        setenv("ECR_LIB_DIBALSCOP", ORVANTA_FAKES_DIR "/libdibalscop.so", 1);
        void* fake = dlopen(ORVANTA_FAKES_DIR "/libdibalscop.so", RTLD_NOW);
        auto hang = fake ? reinterpret_cast<void (*)()>(dlsym(fake, "DibalscopFakeHang")) : nullptr;
        auto calls = fake ? reinterpret_cast<int (*)()>(dlsym(fake, "DibalscopFakeCalls")) : nullptr;
        if (!hang || !calls) _exit(3);
        hang();
        EcrCreate(nullptr);
        EcrDeviceRecord dev = DeviceRecord(114, static_cast<int>(kAddress));
        std::vector<EcrItemRecord> items = {DibalHostItem(7, "Ser", 12.5)};
        if (EcrPgmPLU(&dev, items.data(), 1, &RecordingHost::OnItemProgram) != 1) _exit(4);
        for (int i = 0; i < 500 && calls() == 0; ++i) usleep(10000);
        if (calls() == 0) _exit(5);
        std::exit(0);   // the host ends: the library's statics go
    }
    const auto start = std::chrono::steady_clock::now();
    int status = 0;
    pid_t done = 0;
    while ((done = waitpid(child, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(15))
        usleep(20000);
    if (done == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        FAIL() << "the host did not exit";
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace orv::test
