// CThreadJob: one job at a time, Prepare on the caller's thread, Run on the
// worker, flags the host can poll.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "job/thread_job.h"

namespace {

// A job whose Run waits at a gate until the test opens it (or a break).
class GateJob : public CThreadJob {
public:
    ~GateJob() override { Shutdown(); }

    int prepareResult = 1;
    int runResult = 7;
    bool throwInRun = false;
    bool waitForBreak = false;
    std::atomic<int> prepares{0};
    std::atomic<int> runs{0};
    std::atomic<int> breakSeenInPrepare{-1};
    std::atomic<int> breakSeenInRun{-1};

    void Open() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = true;
        m_cv.notify_all();
    }
    void WaitEntered() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait(lock, [&] { return m_entered; });
    }
    bool WaitIdle(int ms = 5000) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (IsRunning()) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    int Prepare() override {
        ++prepares;
        breakSeenInPrepare = IsBreakSet() ? 1 : 0;
        return prepareResult;
    }
    int Run() override {
        ++runs;
        breakSeenInRun = IsBreakSet() ? 1 : 0;
        if (throwInRun) throw std::runtime_error("job failed");
        std::unique_lock<std::mutex> lock(m_mutex);
        m_entered = true;
        m_cv.notify_all();
        if (waitForBreak) {
            while (!IsBreakSet()) m_cv.wait_for(lock, std::chrono::milliseconds(1));
        } else {
            m_cv.wait(lock, [&] { return m_open; });
        }
        return runResult;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_open = false;
    bool m_entered = false;
};

TEST(ThreadJob, StartWhileRunningReturnsTrueAndChangesNothing) {
    GateJob job;
    ASSERT_TRUE(job.Start(nullptr, 0));
    job.WaitEntered();
    EXPECT_EQ(job.IsRunning(), 1);
    job.Break();

    EXPECT_TRUE(job.Start(nullptr, 0));
    EXPECT_EQ(job.prepares.load(), 1);     // no second Prepare
    EXPECT_TRUE(job.IsBreakSet());          // the break flag was not cleared
    EXPECT_EQ(job.IsRunning(), 1);

    job.Open();
    ASSERT_TRUE(job.WaitIdle());
    EXPECT_EQ(job.runs.load(), 1);
    EXPECT_EQ(job.GetResult(), 7);
}

TEST(ThreadJob, BreakBeforeStartDoesNotReachTheNextJob) {
    GateJob job;
    job.Break();
    EXPECT_TRUE(job.IsBreakSet());
    ASSERT_TRUE(job.Start(nullptr, 0));
    job.Open();
    ASSERT_TRUE(job.WaitIdle());
    EXPECT_EQ(job.breakSeenInPrepare.load(), 0);
    EXPECT_EQ(job.breakSeenInRun.load(), 0);
}

TEST(ThreadJob, OnlyExactlyOneFromPrepareStartsTheWorker) {
    for (int prepared : {0, 2, -1, 1000}) {
        SCOPED_TRACE(prepared);
        GateJob job;
        job.prepareResult = prepared;
        EXPECT_FALSE(job.Start(nullptr, 0));
        EXPECT_EQ(job.IsRunning(), 0);
        EXPECT_EQ(job.runs.load(), 0);
    }
}

TEST(ThreadJob, ResultOfRunIsVisibleOnceTheRunningFlagClears) {
    GateJob job;
    job.runResult = 42;
    ASSERT_TRUE(job.Start(nullptr, 0));
    job.Open();
    ASSERT_TRUE(job.WaitIdle());
    EXPECT_EQ(job.GetResult(), 42);
}

TEST(ThreadJob, RunningFlagClearsWhenRunThrows) {
    GateJob job;
    job.throwInRun = true;
    ASSERT_TRUE(job.Start(nullptr, 0));
    ASSERT_TRUE(job.WaitIdle());
    EXPECT_EQ(job.GetResult(), 0);
    // The object takes the next job.
    job.throwInRun = false;
    job.runResult = 3;
    ASSERT_TRUE(job.Start(nullptr, 0));
    job.Open();
    ASSERT_TRUE(job.WaitIdle());
    EXPECT_EQ(job.GetResult(), 3);
    EXPECT_EQ(job.runs.load(), 2);
}

TEST(ThreadJob, ConsecutiveJobsEachGetTheirOwnWorker) {
    GateJob job;
    for (int i = 1; i <= 3; ++i) {
        job.runResult = i;
        ASSERT_TRUE(job.Start(nullptr, 0));
        job.Open();
        ASSERT_TRUE(job.WaitIdle());
        EXPECT_EQ(job.GetResult(), i);
    }
    EXPECT_EQ(job.runs.load(), 3);
}

TEST(ThreadJob, ShutdownBreaksOffARunningJobAndJoinsIt) {
    GateJob job;
    job.waitForBreak = true;
    ASSERT_TRUE(job.Start(nullptr, 0));
    job.WaitEntered();
    auto t0 = std::chrono::steady_clock::now();
    job.Shutdown();
    EXPECT_EQ(job.IsRunning(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
}

}  // namespace
