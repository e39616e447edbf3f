// CThreadJob: one job at a time, prepared on the caller's thread and run on
// a worker thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "orvanta/ecr.h"

class CThreadJob {
public:
    CThreadJob();
    virtual ~CThreadJob();
    CThreadJob(const CThreadJob&) = delete;
    CThreadJob& operator=(const CThreadJob&) = delete;

    virtual int Run() = 0;       // job body, worker thread
    virtual int Prepare() = 0;   // caller's thread; exactly 1 lets the worker start
    // Caller's thread: Prepare succeeded but no worker could be started
    // (the process may start no more threads); undoes what Prepare did.
    virtual void StartFailed() {}

    // Running already: returns whether a worker exists, nothing else happens.
    // Otherwise stores window and message, clears the break flag and the
    // result, and starts the worker when Prepare returns exactly 1.
    bool Start(EcrWindow window, uint32_t message);
    bool Start(EcrWindow window) { return Start(window, 0); }

    virtual void Break();
    int IsRunning() const { return m_running.load(std::memory_order_acquire) ? 1 : 0; }
    bool IsBreakSet() const { return m_break.load(std::memory_order_acquire); }
    int GetResult() const { return m_result.load(std::memory_order_acquire); }

    // Breaks off a running job and waits for its worker (used at unload),
    // at most `waitMs` real milliseconds (-1: as long as it takes). A worker
    // that has not ended by then (held in a vendor's call that never
    // returns) is left to itself, so the host can still exit.
    void Shutdown(int waitMs = -1);

protected:
    EcrWindow m_hWnd = nullptr;
    uint32_t m_nMsg = 0;

private:
    void ThreadProc();
    void JoinFinished();

    std::thread m_thread;
    std::atomic<int> m_result{0};
    std::atomic<bool> m_break{false};
    std::atomic<bool> m_running{false};
};
