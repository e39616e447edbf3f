// A device that stops answering in the middle of a job of 20 items, as the
// device families' tests through the exports script and check it:
//
//   AtItem(4, [&] { emulator.SetSilent(true); });   // before item 4 goes out
//   ... start the job, WaitEcrDone() ...
//   ExpectGoneFrom(4, code);                          // items 4..20 confirmed with code
//
// Header only (it checks with gtest); the recording host gets the events.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "fakes/recording_host.h"
#include "orvanta/ecr.h"

namespace orv::test {

constexpr int kSilentJobItems = 20;

// Calls each act on the library's worker thread when the item loop sends the
// progress event of that item (from 1), that is before the item's command
// goes out. Replaces the recording host's event hook.
inline void AtItems(std::map<int, std::function<void()>> acts) {
    auto seen = std::make_shared<std::atomic<int>>(0);
    auto table = std::make_shared<std::map<int, std::function<void()>>>(std::move(acts));
    Host().SetEventHook([seen, table](const HostEvent& e) {
        if (e.code != ECR_EVENT_ITEM) return;
        auto it = table->find(++*seen);
        if (it != table->end()) it->second();
    });
}

inline void AtItem(int item, std::function<void()> act) { AtItems({{item, std::move(act)}}); }

// Milliseconds since `from`.
inline int64_t MsSince(std::chrono::steady_clock::time_point from) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - from).count();
}

// Every item's progress reached the host, the last with 100 %.
inline void ExpectProgressToTheEnd() {
    auto progress = Host().EventsWithCode(ECR_EVENT_ITEM);
    ASSERT_EQ(progress.size(), static_cast<size_t>(kSilentJobItems));
    EXPECT_EQ(progress.back().percent, 100);
}

// A job of items numbered 1..20 whose device fell silent (or went away) at
// item `first`: items first..20 were confirmed with `code` (and no other
// item was), and the job failed with it. `confirmed` gives (number, code)
// of the host's reports per item (confirmations, or events 6 for a read).
inline void ExpectGoneFrom(int first, int code, const std::vector<std::pair<uint32_t, int>>& confirmed) {
    ExpectProgressToTheEnd();
    ASSERT_EQ(confirmed.size(), static_cast<size_t>(kSilentJobItems - first + 1));
    for (size_t k = 0; k < confirmed.size(); ++k) {
        EXPECT_EQ(confirmed[k].first, static_cast<uint32_t>(first) + k);
        EXPECT_EQ(confirmed[k].second, code);
    }
    EXPECT_EQ(EcrError(), code);
    auto failed = Host().EventsWithCode(ECR_EVENT_FAILED);
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].value, code);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_CLOSED), 1);
}

// Confirmations of the item program callback as (number, code).
inline std::vector<std::pair<uint32_t, int>> ConfirmedItems() {
    std::vector<std::pair<uint32_t, int>> out;
    for (const auto& c : Host().Confirmations()) out.emplace_back(c.number, c.code);
    return out;
}

// A job over items 1..20 that went on to its end: exactly the items in
// `failed` (number -> code) were confirmed, and the job succeeded.
inline void ExpectEveryItemTried(const std::map<uint32_t, int>& failed) {
    ExpectProgressToTheEnd();
    std::map<uint32_t, int> got;
    for (const auto& [number, code] : ConfirmedItems()) got[number] = code;
    EXPECT_EQ(got, failed);
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_SUCCEEDED), 1);
}

}  // namespace orv::test
