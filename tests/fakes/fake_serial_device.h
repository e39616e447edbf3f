// An in-memory serial line for tests of what a pseudo-terminal cannot show:
// modem lines (CTS, DSR, RING, RLSD), DTR/RTS changes, an output queue that
// drains only when told, a device that disappears.
//
//   orv::test::FakeSerialLine line;     // installs itself as the device factory
//   line.SetCts(false);
//   CTelepathy port; port.Open(1, ...); // any port number opens this line
//   line.Inject({0x06});                // bytes from the device
//   line.Drain();                       // the device takes what was written
//   EXPECT_EQ(line.Written(), ...);
//
// Every device the library creates while the line is installed talks to it
// (one open at a time, like a real port). The destructor restores the termios
// devices. All methods are thread-safe.
//
// At time scale 0 (orv::platform::SetTimeScale(0)) a wait that finds nothing
// ready (after asking the feeder) ends at once as a time-out and moves the
// deadlines' clock on by its length, so a device time-out costs no real time;
// with a feeder set, a read that finds nothing, or a wait of no length, moves
// it on by 10 ms (so a loop of looks runs its deadline out at once), and a
// read asks the feeder too once a request went out since its last call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/serial_device.h"

namespace orv::test {

class FakeSerialLine : public std::enable_shared_from_this<FakeSerialLine> {
public:
    struct LineChange {
        char line;   // 'D' DTR, 'R' RTS
        bool on;
    };

    // Use Create(): the devices hold the line through a shared pointer.
    static std::shared_ptr<FakeSerialLine> Create(bool install = true);
    ~FakeSerialLine();
    FakeSerialLine(const FakeSerialLine&) = delete;
    FakeSerialLine& operator=(const FakeSerialLine&) = delete;

    void Install();               // devices come from this line
    static void Uninstall();      // termios devices again

    // ---- scripting ----
    void SetPresent(bool present);        // absent: open fails with ENOENT (default present)
    void SetHeldElsewhere(bool held);     // open fails with EWOULDBLOCK
    void SetModemLines(bool available);   // without: modem reads fail with ENOTTY (default available)
    void SetCts(bool on);                 // default on
    void SetDsr(bool on);
    void SetRing(bool on);
    void SetRlsd(bool on);
    void SetAutoDrain(bool on);           // written bytes leave the queue at once (default on)
    void SetWriteRoom(size_t bytes);      // output queue capacity (default 64 KiB)
    void SetWriteError(int err);          // next writes fail with -err (0: none)
    void Drain(size_t n = SIZE_MAX);      // the device takes up to n queued bytes
    void Inject(const std::vector<uint8_t>& bytes);   // bytes from the device
    void HangUp();                        // the device is gone
    // A device that answers on demand: whenever the library waits for input
    // and none is queued, the feeder gets the bytes written since its last
    // call and returns the bytes the device sends (may be empty). Called on
    // the library's thread, without the line's lock. An empty function ends it.
    using Feeder = std::function<std::vector<uint8_t>(const std::vector<uint8_t>& written)>;
    void SetFeeder(Feeder feeder);

    // ---- records ----
    std::vector<uint8_t> Written() const;         // every byte written, drained or not
    size_t OutputQueued() const;
    size_t InputQueued() const;
    std::vector<LineChange> LineChanges() const;  // each DTR/RTS call in order
    bool Dtr() const;
    bool Rts() const;
    orv::platform::SerialLineSettings Settings() const;   // last Configure
    int ConfigureCount() const;
    int OpenCount() const;
    int CloseCount() const;
    bool IsOpen() const;
    std::string LastPath() const;
    int InputFlushes() const;
    int OutputFlushes() const;
    void ClearRecords();                  // written bytes, line changes and counters

private:
    friend class FakeSerialDevice;
    FakeSerialLine();
    void Signal();                        // wakes device waits (call with m_mutex held)
    template <typename T>
    T Locked(const T& field) const {      // a copy of one field under the lock
        std::lock_guard<std::mutex> lk(m_mutex);
        return field;
    }

    mutable std::mutex m_mutex;
    int m_eventFd = -1;
    bool m_present = true, m_held = false, m_modem = true;
    bool m_cts = true, m_dsr = false, m_ring = false, m_rlsd = false;
    bool m_autoDrain = true, m_hungUp = false, m_open = false;
    bool m_dtr = false, m_rts = false;
    size_t m_room = 65536;
    int m_writeError = 0;
    std::deque<uint8_t> m_in, m_out;
    std::vector<uint8_t> m_written;
    std::vector<LineChange> m_changes;
    orv::platform::SerialLineSettings m_settings;
    int m_configures = 0, m_opens = 0, m_closes = 0, m_inFlushes = 0, m_outFlushes = 0;
    std::string m_path;
    Feeder m_feeder;
    size_t m_fedUpTo = 0;                 // m_written bytes the feeder has seen
};

}  // namespace orv::test
