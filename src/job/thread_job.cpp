// CThreadJob: Prepare on the caller's thread, Run on a worker thread.
#include "job/thread_job.h"

#include <chrono>
#include <exception>
#include <system_error>

#include "platform/clock.h"
#include "platform/message_hook.h"

CThreadJob::CThreadJob() = default;

CThreadJob::~CThreadJob() {
    // The owner breaks and joins a running job before the derived part is
    // destroyed (Shutdown); this only collects a worker that has finished.
    if (m_thread.joinable()) {
        if (m_thread.get_id() == std::this_thread::get_id())
            m_thread.detach();
        else
            m_thread.join();
    }
}

bool CThreadJob::Start(EcrWindow window, uint32_t message) {
    if (m_running.load(std::memory_order_acquire)) return m_thread.joinable();

    // The previous worker has cleared its running flag; collect it.
    JoinFinished();

    m_hWnd = window;
    m_nMsg = message;
    m_running.store(true, std::memory_order_release);
    m_break.store(false, std::memory_order_release);
    m_result.store(0, std::memory_order_release);

    orv::platform::PinTempDirectory();
    int prepared = 0;
    try {
        prepared = Prepare();
    } catch (...) {
        prepared = 0;
    }
    if (prepared != 1) {
        orv::platform::UnpinTempDirectory();
        m_running.store(false, std::memory_order_release);
        return false;
    }
    try {
        m_thread = std::thread(&CThreadJob::ThreadProc, this);
    } catch (const std::system_error&) {
        try {
            StartFailed();
        } catch (...) {
        }
        orv::platform::UnpinTempDirectory();
        m_running.store(false, std::memory_order_release);
        return false;
    }
    return true;
}

void CThreadJob::Break() { m_break.store(true, std::memory_order_release); }

void CThreadJob::Shutdown(int waitMs) {
    if (m_running.load(std::memory_order_acquire)) Break();
    if (waitMs >= 0 && m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) {
        const int64_t end = orv::platform::WaitEnd(waitMs);
        while (m_running.load(std::memory_order_acquire) && orv::platform::WaitLeft(end) > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (m_running.load(std::memory_order_acquire)) {
            m_thread.detach();
            return;
        }
    }
    JoinFinished();
}

void CThreadJob::ThreadProc() {
    int r = 0;
    try {
        r = Run();
    } catch (...) {
        r = 0;
    }
    m_result.store(r, std::memory_order_release);
    orv::platform::UnpinTempDirectory();
    // Last touch of the object by the worker: the host may start the next
    // job as soon as it sees the flag clear.
    m_running.store(false, std::memory_order_release);
}

void CThreadJob::JoinFinished() {
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) m_thread.join();
}
