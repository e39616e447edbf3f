#include "fakes/fake_serial_device.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/clock.h"

namespace orv::test {

using orv::platform::BreakSignal;
using orv::platform::SerialLineSettings;
using orv::platform::SerialWaitFor;

// One open of the line, as the library's port class sees it.
class FakeSerialDevice final : public orv::platform::SerialDevice {
public:
    explicit FakeSerialDevice(std::shared_ptr<FakeSerialLine> line) : m_line(std::move(line)) {}
    ~FakeSerialDevice() override { Close(); }

    int Open(const std::string& path) override {
        std::lock_guard<std::mutex> lk(m_line->m_mutex);
        if (m_open) return EBUSY;
        if (!m_line->m_present) return ENOENT;
        if (m_line->m_held || m_line->m_open) return EWOULDBLOCK;
        m_line->m_open = true;
        m_line->m_opens++;
        m_line->m_path = path;
        m_open = true;
        return 0;
    }

    void Close() override {
        std::lock_guard<std::mutex> lk(m_line->m_mutex);
        if (!m_open) return;
        m_open = false;
        m_line->m_open = false;
        m_line->m_closes++;
        m_line->m_out.clear();   // closing discards undrained output
        m_line->Signal();
    }

    bool IsOpen() const override { return m_open; }

    int Configure(const SerialLineSettings& settings) override {
        std::lock_guard<std::mutex> lk(m_line->m_mutex);
        if (int e = Usable()) return e;
        m_line->m_settings = settings;
        m_line->m_configures++;
        return 0;
    }

    int FlushInput() override {
        std::lock_guard<std::mutex> lk(m_line->m_mutex);
        if (int e = Usable()) return e;
        m_line->m_in.clear();
        m_line->m_inFlushes++;
        return 0;
    }

    int FlushOutput() override {
        std::lock_guard<std::mutex> lk(m_line->m_mutex);
        if (int e = Usable()) return e;
        m_line->m_out.clear();
        m_line->m_outFlushes++;
        m_line->Signal();
        return 0;
    }

    int InputPending() override {
        std::lock_guard<std::mutex> lk(m_line->m_mutex);
        if (int e = Usable()) return -e;
        return static_cast<int>(m_line->m_in.size());
    }

    int OutputPending() override {
        std::lock_guard<std::mutex> lk(m_line->m_mutex);
        if (int e = Usable()) return -e;
        return static_cast<int>(m_line->m_out.size());
    }

    long Write(const uint8_t* data, size_t size) override {
        std::lock_guard<std::mutex> lk(m_line->m_mutex);
        if (int e = Usable()) return -e;
        if (m_line->m_writeError) return -m_line->m_writeError;
        FakeSerialLine& l = *m_line;
        size_t room = l.m_room > l.m_out.size() ? l.m_room - l.m_out.size() : 0;
        size_t n = std::min(size, room);
        l.m_written.insert(l.m_written.end(), data, data + n);
        if (!l.m_autoDrain) l.m_out.insert(l.m_out.end(), data, data + n);
        if (n) l.Signal();
        return static_cast<long>(n);
    }

    long Read(uint8_t* data, size_t size) override {
        // A device that answers on demand answers a request the library
        // looks for without waiting too.
        Feed(true);
        std::lock_guard<std::mutex> lk(m_line->m_mutex);
        if (int e = Usable()) return -e;
        size_t n = std::min(size, m_line->m_in.size());
        for (size_t i = 0; i < n; ++i) {
            data[i] = m_line->m_in.front();
            m_line->m_in.pop_front();
        }
        if (n == 0 && size > 0 && m_line->m_feeder && orv::platform::TimeScale() == 0)
            orv::platform::SkipTime(kLookMillis);
        return static_cast<long>(n);
    }

    int SetDtr(bool on) override { return SetLine('D', on); }
    int SetRts(bool on) override { return SetLine('R', on); }

    int GetModemBits(int* bits) override {
        *bits = 0;
        std::lock_guard<std::mutex> lk(m_line->m_mutex);
        if (int e = Usable()) return e;
        if (!m_line->m_modem) return ENOTTY;
        if (m_line->m_cts) *bits |= orv::platform::kModemCts;
        if (m_line->m_dsr) *bits |= orv::platform::kModemDsr;
        if (m_line->m_ring) *bits |= orv::platform::kModemRing;
        if (m_line->m_rlsd) *bits |= orv::platform::kModemRlsd;
        return 0;
    }

    int Wait(SerialWaitFor what, const BreakSignal* brk, int timeoutMs) override {
        const int64_t end = orv::platform::WaitEnd(timeoutMs);
        if (what == SerialWaitFor::Input) Feed();
        for (;;) {
            if (what != SerialWaitFor::Change) {
                std::lock_guard<std::mutex> lk(m_line->m_mutex);
                if (!m_open || m_line->m_hungUp) return orv::platform::kWaitLost;
                if (what == SerialWaitFor::Input && !m_line->m_in.empty()) return orv::platform::kWaitReady;
                if (what == SerialWaitFor::Room && m_line->m_out.size() < m_line->m_room) return orv::platform::kWaitReady;
            }
            // At time scale 0 nothing can change while the library waits:
            // the wait runs out at once and the deadline's clock jumps to its end.
            // A device that answers on demand and had nothing to say makes
            // even a look that does not wait cost a moment, so a loop of such
            // looks runs out its deadline instead of spinning in real time.
            if (orv::platform::TimeScale() == 0) {
                if (brk && brk->IsSet()) return orv::platform::kWaitBroken;
                orv::platform::SkipTime(timeoutMs > 0 ? timeoutMs : (Answering() ? kLookMillis : 0));
                return orv::platform::kWaitTimeout;
            }
            int r = orv::platform::WaitForFd(m_line->m_eventFd, POLLIN, brk, orv::platform::WaitLeft(end));
            if (r != orv::platform::kWaitReady) return r;
            uint64_t v;
            while (read(m_line->m_eventFd, &v, sizeof v) > 0) {
            }
            if (what == SerialWaitFor::Change) {
                std::lock_guard<std::mutex> lk(m_line->m_mutex);
                return (!m_open || m_line->m_hungUp) ? orv::platform::kWaitLost : orv::platform::kWaitReady;
            }
        }
    }

    int fd() const override { return m_open ? m_line->m_eventFd : -1; }

private:
    static constexpr int kLookMillis = 10;

    bool Answering() const {
        std::lock_guard<std::mutex> lk(m_line->m_mutex);
        return static_cast<bool>(m_line->m_feeder);
    }

    // Asks the feeder for the device's next answer when nothing is queued
    // (for a look that does not wait, only when a request went out since).
    void Feed(bool onlyAfterRequest = false) {
        FakeSerialLine::Feeder feeder;
        std::vector<uint8_t> written;
        {
            std::lock_guard<std::mutex> lk(m_line->m_mutex);
            if (!m_line->m_feeder || !m_open || m_line->m_hungUp || !m_line->m_in.empty()) return;
            if (onlyAfterRequest && m_line->m_fedUpTo == m_line->m_written.size()) return;
            feeder = m_line->m_feeder;
            written.assign(m_line->m_written.begin() + static_cast<long>(m_line->m_fedUpTo), m_line->m_written.end());
            m_line->m_fedUpTo = m_line->m_written.size();
        }
        std::vector<uint8_t> answer = feeder(written);
        if (answer.empty()) return;
        std::lock_guard<std::mutex> lk(m_line->m_mutex);
        m_line->m_in.insert(m_line->m_in.end(), answer.begin(), answer.end());
        m_line->Signal();
    }

    int Usable() const {   // with the line's mutex held
        if (!m_open) return EBADF;
        if (m_line->m_hungUp) return EIO;
        return 0;
    }

    int SetLine(char which, bool on) {
        std::lock_guard<std::mutex> lk(m_line->m_mutex);
        if (int e = Usable()) return e;
        if (!m_line->m_modem) return 0;   // no modem lines: accepted without effect
        (which == 'D' ? m_line->m_dtr : m_line->m_rts) = on;
        m_line->m_changes.push_back({which, on});
        return 0;
    }

    std::shared_ptr<FakeSerialLine> m_line;
    bool m_open = false;
};

FakeSerialLine::FakeSerialLine() { m_eventFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

std::shared_ptr<FakeSerialLine> FakeSerialLine::Create(bool install) {
    std::shared_ptr<FakeSerialLine> line(new FakeSerialLine());
    if (install) line->Install();
    return line;
}

FakeSerialLine::~FakeSerialLine() {
    Uninstall();
    if (m_eventFd >= 0) close(m_eventFd);
}

void FakeSerialLine::Install() {
    std::weak_ptr<FakeSerialLine> weak = shared_from_this();
    orv::platform::SetSerialDeviceFactory([weak]() -> std::unique_ptr<orv::platform::SerialDevice> {
        if (auto line = weak.lock()) return std::make_unique<FakeSerialDevice>(line);
        return nullptr;
    });
}

void FakeSerialLine::Uninstall() { orv::platform::SetSerialDeviceFactory(nullptr); }

void FakeSerialLine::Signal() {
    uint64_t one = 1;
    ssize_t r = write(m_eventFd, &one, sizeof one);
    (void)r;
}

#define FAKE_SETTER(name, field)                   \
    void FakeSerialLine::name(bool on) {           \
        std::lock_guard<std::mutex> lk(m_mutex);   \
        field = on;                                \
        Signal();                                  \
    }
FAKE_SETTER(SetHeldElsewhere, m_held)
FAKE_SETTER(SetModemLines, m_modem)
FAKE_SETTER(SetCts, m_cts)
FAKE_SETTER(SetDsr, m_dsr)
FAKE_SETTER(SetRing, m_ring)
FAKE_SETTER(SetRlsd, m_rlsd)
FAKE_SETTER(SetAutoDrain, m_autoDrain)
#undef FAKE_SETTER

void FakeSerialLine::SetPresent(bool present) {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_present = present;
    if (present) m_hungUp = false;
    Signal();
}

void FakeSerialLine::SetWriteRoom(size_t bytes) {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_room = bytes;
    Signal();
}

void FakeSerialLine::SetWriteError(int err) {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_writeError = err;
}

void FakeSerialLine::Drain(size_t n) {
    std::lock_guard<std::mutex> lk(m_mutex);
    while (n-- > 0 && !m_out.empty()) m_out.pop_front();
    Signal();
}

void FakeSerialLine::Inject(const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_in.insert(m_in.end(), bytes.begin(), bytes.end());
    Signal();
}

void FakeSerialLine::HangUp() {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_hungUp = true;
    m_present = false;
    Signal();
}

void FakeSerialLine::SetFeeder(Feeder feeder) {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_feeder = std::move(feeder);
    m_fedUpTo = m_written.size();
}

std::vector<uint8_t> FakeSerialLine::Written() const { return Locked(m_written); }
size_t FakeSerialLine::OutputQueued() const { return Locked(m_out).size(); }
size_t FakeSerialLine::InputQueued() const { return Locked(m_in).size(); }
std::vector<FakeSerialLine::LineChange> FakeSerialLine::LineChanges() const { return Locked(m_changes); }
bool FakeSerialLine::Dtr() const { return Locked(m_dtr); }
bool FakeSerialLine::Rts() const { return Locked(m_rts); }
SerialLineSettings FakeSerialLine::Settings() const { return Locked(m_settings); }
int FakeSerialLine::ConfigureCount() const { return Locked(m_configures); }
int FakeSerialLine::OpenCount() const { return Locked(m_opens); }
int FakeSerialLine::CloseCount() const { return Locked(m_closes); }
bool FakeSerialLine::IsOpen() const { return Locked(m_open); }
std::string FakeSerialLine::LastPath() const { return Locked(m_path); }
int FakeSerialLine::InputFlushes() const { return Locked(m_inFlushes); }
int FakeSerialLine::OutputFlushes() const { return Locked(m_outFlushes); }

void FakeSerialLine::ClearRecords() {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_written.clear();
    m_fedUpTo = 0;
    m_changes.clear();
    m_configures = m_opens = m_closes = m_inFlushes = m_outFlushes = 0;
}

}  // namespace orv::test
