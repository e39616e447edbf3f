// Datecs MP500 scales through the exports (types 39, 41, 42) against the
// test library libmp500_dll.so: articles byte for byte both ways, sales,
// the library's results, a missing library or entry point, and a break
// while the library streams.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <chrono>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include "drivers/mp500/cmp_ecr.h"
#include "drivers/mp500/mp500_dll.h"
#include "fakes/recording_host.h"
#include "orvanta/ecr.h"
#include "platform/dynamic_library.h"
#include "platform/message_hook.h"
#include "util/cp1250.h"

namespace {

using orv::test::Host;
using orv::test::RecordingHost;

// The test library's controls (the same loaded copy the driver calls).
struct Fake {
    orv::platform::DynamicLibrary lib;
    void (*reset)() = nullptr;
    void (*result)(const char*, int) = nullptr;
    void (*delay)(int) = nullptr;
    void (*addRaw)(const MP500Article*) = nullptr;
    int (*count)(const char*) = nullptr;
    int (*get)(const char*, int, MP500Article*) = nullptr;
    int (*args)(const char*, int*) = nullptr;

    Fake() {
        // By path: under the sanitizers the loader's search does not see the
        // test program's run path.
        setenv("ECR_LIB_MP500_DLL", ORVANTA_FAKES_DIR "/libmp500_dll.so", 1);
        if (!lib.Load("MP500_DLL.dll")) return;
        reset = lib.Function<void (*)()>("Mp500FakeReset");
        result = lib.Function<void (*)(const char*, int)>("Mp500FakeResult");
        delay = lib.Function<void (*)(int)>("Mp500FakeDelay");
        addRaw = lib.Function<void (*)(const MP500Article*)>("Mp500FakeAdd");
        count = lib.Function<int (*)(const char*)>("Mp500FakeCount");
        get = lib.Function<int (*)(const char*, int, MP500Article*)>("Mp500FakeGet");
        args = lib.Function<int (*)(const char*, int*)>("Mp500FakeArgs");
    }
    void add(const MP500Article& a) { addRaw(&a); }
    MP500Article Get(const char* what, int i) {
        MP500Article a;
        std::memset(&a, 0, sizeof a);
        get(what, i, &a);
        return a;
    }
};

MP500Article Article(const char* code, const char* name, int32_t price, uint8_t vat, int32_t qty = 0, int32_t value = 0) {
    MP500Article a;
    std::memset(&a, 0, sizeof a);
    std::memcpy(a.code, code, std::strlen(code) < 14 ? std::strlen(code) : 14);
    std::memcpy(a.name, name, std::strlen(name) < 18 ? std::strlen(name) : 18);
    a.price = price;
    a.vat = vat;
    a.quantity = qty;
    a.value = value;
    return a;
}

std::string Raw(const MP500Article& a) { return std::string(reinterpret_cast<const char*>(&a), sizeof a); }

// First: once every entry point was found the library stays loaded.
TEST(Mp500Library, MissingLibraryOrEntryPoint) {
    Host().Reset();
    ASSERT_EQ(EcrCreate(nullptr), 1);
    EcrDeviceRecord dev = orv::test::DeviceRecord(41, 1, 9600);
    setenv("ECR_LIB_MP500_DLL", "/nonexistent/libmp500_dll.so", 1);
    EXPECT_EQ(EcrReadAllPLU(&dev, &RecordingHost::OnItemRead), 0);
    orv::test::WaitEcrDone(5000);
    EXPECT_EQ(EcrError(), 999999);
    EXPECT_NE(std::string(EcrErrMsg()).find("/nonexistent/libmp500_dll.so"), std::string::npos) << EcrErrMsg();

    setenv("ECR_LIB_MP500_DLL", ORVANTA_FAKES_DIR "/libmp500_partial.so", 1);
    dev.type = 42;
    EXPECT_EQ(EcrReadAllPLU(&dev, &RecordingHost::OnItemRead), 0);
    orv::test::WaitEcrDone(5000);
    EXPECT_EQ(EcrError(), 999999);
    EXPECT_NE(std::string(EcrErrMsg()).find("MP500ZeroPLUCounters"), std::string::npos) << EcrErrMsg();
    unsetenv("ECR_LIB_MP500_DLL");
}

class Mp500 : public ::testing::Test {
protected:
    void SetUp() override {
        Host().Reset();
        ASSERT_EQ(EcrCreate(nullptr), 1);
        ASSERT_TRUE(fake.reset) << fake.lib.Error();
        fake.reset();
        orv::platform::SetMessageHook([this](orv::platform::MessageKind, const std::string& text, int) {
            std::lock_guard<std::mutex> lock(mutex);
            messages.push_back(text);
            return 0;
        });
        dev = orv::test::DeviceRecord(39, 3, 19200);
        dev.word7 = 7;
    }
    void TearDown() override { orv::platform::SetMessageHook({}); }
    static bool WaitDone() { return orv::test::WaitEcrDone(30000); }
    std::vector<std::string> Messages() {
        std::lock_guard<std::mutex> lock(mutex);
        return messages;
    }

    Fake fake;
    EcrDeviceRecord dev{};
    std::mutex mutex;
    std::vector<std::string> messages;
};

TEST_F(Mp500, ArticlesGoOutByteExactAndComeBack) {
    std::vector<EcrItemRecord> items(4);
    items[0] = orv::test::HostItemRecord({.number = 1, .name = "  Pomidory malinowe z Polski ", .code = "42", .price = 12.34, .vat = 1});
    items[0].attr2 = 0x1FF;   // byte 38 takes the low byte
    items[1] = orv::test::HostItemRecord({.number = 2, .name = "Drogi", .code = "590123412345678", .price = 21474836.48, .vat = 2});
    items[2] = orv::test::HostItemRecord({.number = 3, .name = "Grupa", .code = "1", .price = 1.0, .vat = 257});
    items[3] = orv::test::HostItemRecord({.number = 4, .name = "Zero", .code = "9", .price = 0.5, .vat = 0});
    ASSERT_EQ(EcrPgmPLU(&dev, items.data(), 4, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 103);   // the job fails with a refused item's code
    const auto confirms = Host().Confirmations();
    ASSERT_EQ(confirms.size(), 2u);
    EXPECT_EQ(confirms[0].number, 2u);
    EXPECT_EQ(confirms[0].code, 109);
    EXPECT_EQ(confirms[1].number, 3u);
    EXPECT_EQ(confirms[1].code, 103);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_BULK), 1);

    ASSERT_EQ(fake.count("pulled"), 2);
    int a[6] = {};
    ASSERT_EQ(fake.args("MP500SendArticles", a), 5);
    EXPECT_EQ(a[0], 3);      // port
    EXPECT_EQ(a[1], 4800);   // 19200 is not a baud of the scale
    EXPECT_EQ(a[2], 0);
    EXPECT_EQ(a[3], 7);      // logical number
    EXPECT_EQ(a[4], 0);      // no context
    MP500Article want = Article("00000000000042", "Pomidory malinowe ", 1234, 0);
    want.flag = 0xFF;
    EXPECT_EQ(Raw(fake.Get("pulled", 0)), Raw(want));
    EXPECT_EQ(Raw(fake.Get("pulled", 1)), Raw(Article("00000000000009", "Zero", 50, 0)));

    Host().Reset();
    ASSERT_EQ(EcrReadAllPLU(&dev, &RecordingHost::OnItemRead), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    const auto read = Host().Items();
    ASSERT_EQ(read.size(), 2u);
    EXPECT_STREQ(read[0].code, "00000000000042");
    EXPECT_STREQ(read[0].name, "Pomidory malinowe ");
    EXPECT_DOUBLE_EQ(read[0].price, 12.34);
    EXPECT_EQ(read[0].vat_group, 1u);
    EXPECT_EQ(read[0].unit, 1u);
    EXPECT_EQ(read[0].attr2, 0xFFu);
    EXPECT_EQ(read[0].number, 0u);

    // Deleting checks no price: an unfit one goes as 0.
    Host().Reset();
    ASSERT_EQ(EcrDelPLU(&dev, &items[1], 1, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    ASSERT_EQ(fake.count("deleted"), 1);
    const int32_t deletedPrice = fake.Get("deleted", 0).price;   // packed: read by value
    EXPECT_EQ(deletedPrice, 0);
    EXPECT_EQ(std::string(fake.Get("deleted", 0).code, 14), "59012341234567");
}

TEST_F(Mp500, CountZeroSendsNothing) {
    EcrItemRecord item = orv::test::HostItemRecord({.number = 1, .name = "A", .code = "1", .price = 1.0, .vat = 1});
    ASSERT_EQ(EcrPgmPLU(&dev, &item, 0, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    EXPECT_EQ(fake.count("calls:MP500SendArticles"), 1);
    EXPECT_EQ(fake.count("pulled"), 0);
}

TEST_F(Mp500, SalesSkipQuantityZeroAndClear) {
    fake.add(Article("00000000000001", "Sold", 100, 1, 1500, 150));
    fake.add(Article("00000000000002", "Not sold", 200, 0, 0, 0));
    dev.baud = 9600;
    ASSERT_EQ(EcrReadSale(&dev, &RecordingHost::OnSale), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    const auto sales = Host().Sales();
    ASSERT_EQ(sales.size(), 1u);
    EXPECT_STREQ(sales[0].sale.code, "00000000000001");
    EXPECT_STREQ(sales[0].item.name, "Sold");
    EXPECT_DOUBLE_EQ(sales[0].sale.quantity, 1.5);
    EXPECT_DOUBLE_EQ(sales[0].sale.value, 1.5);
    EXPECT_EQ(sales[0].sale.kind, 0u);
    int a[6] = {};
    fake.args("MP500ReceiveArticles", a);
    EXPECT_EQ(a[1], 9600);

    ASSERT_EQ(EcrClearSale(&dev, &RecordingHost::OnSale), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    const int32_t heldQuantity = fake.Get("held", 0).quantity;
    EXPECT_EQ(heldQuantity, 0);
}

TEST_F(Mp500, LibraryResults) {
    fake.result("MP500ReceiveArticles", 3);
    ASSERT_EQ(EcrReadAllPLU(&dev, &RecordingHost::OnItemRead), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 3);
    EXPECT_STREQ(EcrErrMsg(), PL("błąd podczas wysyłania danych"));
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0], PL("błąd podczas wysyłania danych"));

    fake.result("MP500ZeroPLUCounters", 42);
    ASSERT_EQ(EcrClearSale(&dev, &RecordingHost::OnSale), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 9999);

    // Slots the library does not serve.
    ASSERT_EQ(EcrReadVAT(&dev, &RecordingHost::OnVat), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_NE(EcrError(), 0);
}

TEST_F(Mp500, BreakWhileTheLibraryStreams) {
    for (int i = 0; i < 50; ++i) fake.add(Article("1", "x", 1, 0));
    fake.delay(20);
    Host().SetEventHook([](const orv::test::HostEvent& e) {
        if (e.code == ECR_EVENT_BULK) EcrBreakJob();
    });
    ASSERT_EQ(EcrReadAllPLU(&dev, &RecordingHost::OnItemRead), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), -7);
    EXPECT_TRUE(Host().Items().empty());

    std::vector<EcrItemRecord> items(50, orv::test::HostItemRecord({.number = 1, .name = "A", .code = "1", .price = 1.0, .vat = 1}));
    Host().Reset();
    Host().SetEventHook([](const orv::test::HostEvent& e) {
        if (e.code == ECR_EVENT_BULK) EcrBreakJob();
    });
    ASSERT_EQ(EcrPgmPLU(&dev, items.data(), 50, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), -7);
    EXPECT_LT(fake.count("pulled"), 50);
}

// A read the host breaks off: the push callback answers "stop" and the
// library gives up at once, not when it has pushed every article.
TEST_F(Mp500, BreakStopsALongRead) {
    for (const bool sales : {false, true}) {
        SCOPED_TRACE(sales ? "sales" : "goods");
        Host().Reset();
        fake.reset();
        for (int i = 0; i < 3000; ++i) fake.add(Article("1", "x", 1, 0, 1000, 100));
        fake.delay(1);   // some 3 s for the whole read
        ASSERT_EQ(sales ? EcrReadSale(&dev, &RecordingHost::OnSale) : EcrReadAllPLU(&dev, &RecordingHost::OnItemRead), 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const auto broken = std::chrono::steady_clock::now();
        EcrBreakJob();
        ASSERT_TRUE(WaitDone());
        const auto took = std::chrono::steady_clock::now() - broken;
        EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), 1000);
        EXPECT_EQ(EcrError(), -7);
        EXPECT_TRUE(Messages().empty()) << Messages().front();   // no message box for a break
    }
}

}  // namespace
