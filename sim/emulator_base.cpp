#include "sim/emulator_base.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace orv::test {

namespace {

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t NowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

Bytes B(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::string Hex(const Bytes& bytes) {
    std::string out;
    char buf[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02X", bytes[i]);
        if (i) out += ' ';
        out += buf;
    }
    return out;
}

EmulatorBase::EmulatorBase(int port) : m_pty(std::make_unique<PtyPair>(port)) {
    m_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

EmulatorBase::~EmulatorBase() {
    Stop();
    if (m_wakeFd >= 0) close(m_wakeFd);
}

void EmulatorBase::Start() {
    if (m_thread.joinable()) return;
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        m_stop = false;
    }
    m_thread = std::thread([this] { Loop(); });
}

void EmulatorBase::Stop() {
    if (!m_thread.joinable()) return;
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        m_stop = true;
    }
    Wake();
    m_thread.join();
}

void EmulatorBase::Disconnect() {
    Stop();
    std::lock_guard<std::mutex> wl(m_writeMutex);
    m_pty->CloseMaster();
}

void EmulatorBase::Wake() {
    uint64_t one = 1;
    ssize_t r = write(m_wakeFd, &one, sizeof one);
    (void)r;
}

void EmulatorBase::Loop() {
    uint8_t buf[4096];
    for (;;) {
        int64_t timeoutUs = -1;
        std::vector<Bytes> due;
        std::vector<Bytes> onWire;
        {
            std::lock_guard<std::mutex> lk(m_mutex);
            if (m_stop) return;
            const int64_t now = NowMs();
            for (auto it = m_scheduled.begin(); it != m_scheduled.end();) {
                if (it->dueMs <= now) {
                    due.push_back(std::move(it->bytes));
                    it = m_scheduled.erase(it);
                } else {
                    const int64_t left = (it->dueMs - now) * 1000;
                    timeoutUs = timeoutUs < 0 ? left : std::min(timeoutUs, left);
                    ++it;
                }
            }
            const int64_t nowUs = NowUs();
            while (!m_paced.empty() && m_paced.front().dueUs <= nowUs) {
                onWire.push_back(std::move(m_paced.front().bytes));
                m_paced.pop_front();
            }
            if (!m_paced.empty()) {
                const int64_t left = m_paced.front().dueUs - nowUs;
                timeoutUs = timeoutUs < 0 ? left : std::min(timeoutUs, left);
            }
        }
        for (const Bytes& b : onWire) WriteNow(b);
        for (const Bytes& b : due) SendNow(b);
        if (!due.empty()) {
            std::lock_guard<std::mutex> lk(m_mutex);
            if (!m_paced.empty()) timeoutUs = 0;   // look again at once
        }

        const int master = m_pty->master();
        struct pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {master, POLLIN, 0}};
        struct timespec wait {timeoutUs / 1000000, (timeoutUs % 1000000) * 1000};
        int r = ppoll(fds, master >= 0 ? 2 : 1, timeoutUs < 0 ? nullptr : &wait, nullptr);
        if (r < 0 && errno != EINTR) return;
        if (fds[0].revents & POLLIN) {
            uint64_t v;
            while (read(m_wakeFd, &v, sizeof v) > 0) {
            }
        }
        if (master < 0 || r <= 0) continue;
        if (fds[1].revents & POLLIN) {
            ssize_t n = read(master, buf, sizeof buf);
            if (n > 0) {
                const int64_t t = NowMs();
                bool silent;
                {
                    std::lock_guard<std::mutex> lk(m_mutex);
                    for (ssize_t i = 0; i < n; ++i) m_records.push_back({t, buf[i]});
                    silent = m_silent;
                    // On a paced line the request has fully arrived only
                    // after its bytes' time on the wire.
                    if (m_byteUs > 0) m_rxFreeUs = std::max(m_rxFreeUs, NowUs()) + n * m_byteUs;
                }
                m_cv.notify_all();
                if (!silent) OnReceive(buf, static_cast<size_t>(n));
                continue;
            }
        }
        if (fds[1].revents & (POLLHUP | POLLERR)) {
            // No slave open (the library closed the port and the spare is
            // gone): look again shortly, a new open clears the hang-up.
            struct pollfd w = {m_wakeFd, POLLIN, 0};
            poll(&w, 1, 10);
        }
    }
}

void EmulatorBase::OnReceive(const uint8_t* data, size_t n) {
    Responder r;
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        r = m_responder;
    }
    if (r) r(*this, data, n);
}

Bytes EmulatorBase::Received() const {
    std::lock_guard<std::mutex> lk(m_mutex);
    Bytes out;
    out.reserve(m_records.size());
    for (const auto& r : m_records) out.push_back(r.byte);
    return out;
}

std::vector<EmulatorBase::ByteRecord> EmulatorBase::Records() const {
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_records;
}

size_t EmulatorBase::ReceivedCount() const {
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_records.size();
}

void EmulatorBase::ClearReceived() {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_records.clear();
}

bool EmulatorBase::WaitForCount(size_t n, int timeoutMs) const {
    std::unique_lock<std::mutex> lk(m_mutex);
    return m_cv.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return m_records.size() >= n; });
}

bool EmulatorBase::WaitUntil(const std::function<bool(const Bytes&)>& pred, int timeoutMs) const {
    std::unique_lock<std::mutex> lk(m_mutex);
    return m_cv.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] {
        Bytes all;
        all.reserve(m_records.size());
        for (const auto& r : m_records) all.push_back(r.byte);
        return pred(all);
    });
}

Bytes EmulatorBase::Sent() const {
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_sent;
}

void EmulatorBase::ClearSent() {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_sent.clear();
}

bool EmulatorBase::Send(const Bytes& bytes) {
    if (bytes.empty()) return true;
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        if (m_latenessMs > 0) {
            m_scheduled.push_back({NowMs() + m_latenessMs, bytes});
            Wake();
            return true;
        }
    }
    return SendNow(bytes);
}

void EmulatorBase::SetLateness(int ms) {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_latenessMs = ms > 0 ? ms : 0;
}

bool EmulatorBase::SendNow(const Bytes& bytes) {
    if (bytes.empty()) return true;
    bool paced = false;
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        paced = m_byteUs > 0;
        if (paced) {
            // The answer starts once the request is in and the line is free,
            // and reaches the library when its last byte has crossed the wire.
            const int64_t start = std::max({NowUs(), m_rxFreeUs, m_txFreeUs});
            m_txFreeUs = start + static_cast<int64_t>(bytes.size()) * m_byteUs;
            m_paced.push_back({m_txFreeUs, bytes});
        }
    }
    if (paced) {
        Wake();
        return true;
    }
    return WriteNow(bytes);
}

void EmulatorBase::SetLineSpeed(int baud, int bitsPerCharacter) {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_byteUs = baud > 0 ? (static_cast<int64_t>(bitsPerCharacter) * 1000000 + baud - 1) / baud : 0;
    m_rxFreeUs = m_txFreeUs = 0;
}

bool EmulatorBase::WriteNow(const Bytes& bytes) {
    std::lock_guard<std::mutex> wl(m_writeMutex);
    // Recorded before the write: once the library can read the bytes,
    // Sent() already holds them. A failed send takes its record back.
    size_t mark;
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        mark = m_sent.size();
        m_sent.insert(m_sent.end(), bytes.begin(), bytes.end());
    }
    bool ok = m_pty->WriteMaster(bytes.data(), bytes.size());
    if (!ok) {
        std::lock_guard<std::mutex> lk(m_mutex);
        if (m_sent.size() >= mark + bytes.size())
            m_sent.erase(m_sent.begin() + static_cast<std::ptrdiff_t>(mark),
                         m_sent.begin() + static_cast<std::ptrdiff_t>(mark + bytes.size()));
    }
    return ok;
}

bool EmulatorBase::Send(const std::string& bytes) { return Send(B(bytes)); }

bool EmulatorBase::SendByte(uint8_t b) { return Send(Bytes{b}); }

void EmulatorBase::SendAfter(int delayMs, const Bytes& bytes) {
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        m_scheduled.push_back({NowMs() + delayMs + m_latenessMs, bytes});
    }
    Wake();
}

void EmulatorBase::Reply(const Bytes& bytes) {
    Fault fault = Fault::None;
    int arg = 0;
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        if (!m_faults.empty()) {
            fault = m_faults.front().first;
            arg = m_faults.front().second;
            m_faults.pop_front();
        }
    }
    switch (fault) {
        case Fault::None: Send(bytes); break;
        case Fault::Silence: break;
        case Fault::Garbage: Send(Garbage(static_cast<size_t>(arg > 0 ? arg : 8))); break;
        case Fault::Nak: Send(NakBytes()); break;
        case Fault::Short:
            Send(Bytes(bytes.begin(), bytes.begin() + std::min<size_t>(bytes.size(), static_cast<size_t>(std::max(arg, 0)))));
            break;
        case Fault::Delay: SendAfter(arg, bytes); break;
    }
}

void EmulatorBase::QueueFault(Fault fault, int arg) {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_faults.emplace_back(fault, arg);
}

void EmulatorBase::ClearFaults() {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_faults.clear();
}

size_t EmulatorBase::PendingFaults() const {
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_faults.size();
}

void EmulatorBase::SetSilent(bool silent) {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_silent = silent;
}

bool EmulatorBase::Silent() const {
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_silent;
}

void EmulatorBase::SetResponder(Responder responder) {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_responder = std::move(responder);
}

Bytes EmulatorBase::Garbage(size_t n, const Bytes& avoid) {
    Bytes out;
    uint32_t x = 0x9E3779B9u;
    while (out.size() < n) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        uint8_t b = static_cast<uint8_t>(x >> 8);
        if (std::find(avoid.begin(), avoid.end(), b) == avoid.end()) out.push_back(b);
    }
    return out;
}

}  // namespace orv::test
