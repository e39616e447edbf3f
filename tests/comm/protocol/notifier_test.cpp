// Progress notifier: the event block, the host callback and the window
// message, also reached through a protocol object's Notify.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "comm/notifier.h"
#include "comm/telepathy.h"
#include "comm/telepathy_ecr.h"

namespace {

struct CallbackRecord {
    int event;
    std::string text;
    int percent;
    int value;
};
std::vector<CallbackRecord> g_calls;

void RecordCallback(int event, const char* text, int percent, int value) {
    g_calls.push_back({event, text, percent, value});
}

struct PostRecord {
    EcrWindow window;
    uint32_t message;
    uintptr_t wparam;
    const void* lparam;
    EcrEvent block;   // copy of what the receiver would read at once
};
std::vector<PostRecord> g_posts;

void RecordPost(EcrWindow window, uint32_t message, uintptr_t wparam, const void* lparam) {
    PostRecord r{window, message, wparam, lparam, {}};
    std::memcpy(&r.block, lparam, sizeof(EcrEvent));
    g_posts.push_back(r);
}

class NotifierTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_calls.clear();
        g_posts.clear();
        orv::platform::SetPostMessageHook(RecordPost);
    }
    void TearDown() override { orv::platform::SetPostMessageHook(nullptr); }
};

EcrWindow FakeWindow() { return reinterpret_cast<EcrWindow>(static_cast<uintptr_t>(0x1234)); }

TEST_F(NotifierTest, LongTextIsCutTo255InCallbackAndBlock) {
    CProgressNotifier n;
    n.SetCallback(RecordCallback);
    std::string text(300, 'x');
    for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + i % 26);
    n.Notify(5, text, 42, -7);

    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0].event, 5);
    EXPECT_EQ(g_calls[0].text, text.substr(0, 255));
    EXPECT_EQ(g_calls[0].percent, 42);
    EXPECT_EQ(g_calls[0].value, -7);

    const EcrEvent& b = n.Block();
    EXPECT_EQ(b.code, 5u);
    EXPECT_EQ(std::string(b.text), text.substr(0, 255));
    EXPECT_EQ(b.text[255], 0);
    EXPECT_EQ(b.percent, 42u);
    EXPECT_EQ(static_cast<int32_t>(b.value), -7);
    EXPECT_TRUE(g_posts.empty());
}

TEST_F(NotifierTest, ShorterTextLeavesNoTailOfAnEarlierEvent) {
    CProgressNotifier n;
    n.Notify(5, std::string(200, 'A'), 0, 0);
    n.Notify(2, "Odczyt", 0, 0);
    EXPECT_STREQ(n.Block().text, "Odczyt");
    for (size_t i = 6; i < sizeof(n.Block().text); ++i) ASSERT_EQ(n.Block().text[i], 0) << i;
}

TEST_F(NotifierTest, PostsOnlyWhenWindowAndMessageAreBothSet) {
    struct Case {
        EcrWindow window;
        uint32_t message;
        bool posted;
    };
    const Case cases[] = {
        {FakeWindow(), 0, false},      // EcrCreate's message 0: callback only
        {nullptr, 0x400, false},
        {nullptr, 0, false},
        {FakeWindow(), 0x401, true},
    };
    for (const Case& c : cases) {
        g_calls.clear();
        g_posts.clear();
        CProgressNotifier n;
        n.SetCallback(RecordCallback);
        n.SetWindow(c.window, c.message);
        n.Notify(10, "Koniec", 100, 0);
        EXPECT_EQ(g_calls.size(), 1u);
        ASSERT_EQ(g_posts.size(), c.posted ? 1u : 0u) << c.message;
        if (c.posted) {
            EXPECT_EQ(g_posts[0].window, c.window);
            EXPECT_EQ(g_posts[0].message, c.message);
            EXPECT_EQ(g_posts[0].wparam, 10u);
            EXPECT_EQ(g_posts[0].lparam, static_cast<const void*>(&n.Block()));
            EXPECT_EQ(g_posts[0].block.code, 10u);
            EXPECT_STREQ(g_posts[0].block.text, "Koniec");
            EXPECT_EQ(g_posts[0].block.percent, 100u);
        }
    }
}

TEST_F(NotifierTest, WithoutCallbackOrWindowOnlyTheBlockIsFilled) {
    CProgressNotifier n;
    n.Notify(4, "Proszę czekać...", 0, 0);
    EXPECT_TRUE(g_calls.empty());
    EXPECT_TRUE(g_posts.empty());
    EXPECT_EQ(n.Block().code, 4u);
}

TEST_F(NotifierTest, DefaultPostHookDoesNothing) {
    orv::platform::SetPostMessageHook(nullptr);
    CProgressNotifier n;
    n.SetWindow(FakeWindow(), 0x400);
    n.Notify(1, "x", 0, 0);   // must not crash or reach anything
    EXPECT_TRUE(g_posts.empty());
}

TEST_F(NotifierTest, ProtocolObjectForwardsToTheSerialNotifier) {
    CTelepathyECR protocol;
    protocol.Notify(5, "bez portu", 1, 2);   // no serial object lent: nothing happens

    CTelepathy serial;
    serial.SetCallback(RecordCallback);
    protocol.SetSerial(&serial);
    protocol.Notify(7, "Błąd", 0, 23);
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0].event, 7);
    EXPECT_EQ(g_calls[0].value, 23);
    EXPECT_EQ(serial.Notifier().Block().code, 7u);
}

}  // namespace
