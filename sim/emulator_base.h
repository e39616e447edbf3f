// Base class of the device emulators: a thread on the master side of a
// pseudo-terminal pair that records every byte the library sends and answers
// through a virtual hook.
//
//   class MyDevice : public orv::test::EmulatorBase {
//   public:
//       using EmulatorBase::EmulatorBase;
//       ~MyDevice() override { Stop(); }          // required: stop before members die
//   protected:
//       void OnReceive(const uint8_t* data, size_t n) override {
//           m_frame.insert(m_frame.end(), data, data + n);
//           if (frame complete) Reply(answer);     // Reply applies queued faults
//       }
//   };
//   MyDevice dev(1);          // port 1 -> ECR_COM1 names the slave
//   dev.Start();
//   ... run the library against port 1 ...
//   EXPECT_EQ(dev.Received(), expectedBytes);
//
// Threads: OnReceive runs on the emulator thread. Everything public may be
// called from any thread. Stop() returns within 50 ms; subclasses that
// override OnReceive must call Stop() in their own destructor (the base
// destructor calls it too, but by then the subclass part is gone).
//
// Faults: QueueFault() arms a fault for the next Reply() call (in order,
// one per reply): Silence sends nothing, Garbage sends `arg` bytes of noise
// instead of the answer, Nak sends NakBytes() instead, Short sends only the
// first `arg` bytes, Delay sends the answer `arg` ms later. SetSilent(true)
// stops all answers (bytes are still recorded).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/pty_pair.h"

namespace orv::test {

using Bytes = std::vector<uint8_t>;

// Bytes from text (for readable expectations: B("\x02" "ABC")).
Bytes B(const std::string& text);
// Hex dump "02 41 42" for failure messages.
std::string Hex(const Bytes& bytes);

class EmulatorBase {
public:
    struct ByteRecord {
        int64_t ms;     // monotonic milliseconds (steady clock) at reception
        uint8_t byte;
    };
    enum class Fault { None, Silence, Garbage, Nak, Short, Delay };
    // A plain function answering received bytes, for tests that need no
    // subclass. Called on the emulator thread by the default OnReceive.
    using Responder = std::function<void(EmulatorBase& self, const uint8_t* data, size_t n)>;

    explicit EmulatorBase(int port = 1);
    virtual ~EmulatorBase();
    EmulatorBase(const EmulatorBase&) = delete;
    EmulatorBase& operator=(const EmulatorBase&) = delete;

    void Start();
    void Stop();                    // joins the thread within 50 ms
    // The device goes away: stops the thread and closes the master, so the
    // library's side sees a hang-up (-6). Use this rather than
    // pty().CloseMaster() while the emulator runs.
    void Disconnect();
    PtyPair& pty() { return *m_pty; }
    int port() const { return m_pty->port(); }

    // ---- what the library sent ----
    Bytes Received() const;
    std::vector<ByteRecord> Records() const;
    size_t ReceivedCount() const;
    void ClearReceived();
    // Wait (real time) until at least n bytes were received / pred holds.
    bool WaitForCount(size_t n, int timeoutMs) const;
    bool WaitUntil(const std::function<bool(const Bytes&)>& pred, int timeoutMs) const;

    // ---- what the emulator sent ----
    Bytes Sent() const;
    void ClearSent();

    // ---- sending (any thread) ----
    // With a lateness set (SetLateness) Send only schedules the bytes and
    // returns true.
    bool Send(const Bytes& bytes);
    bool Send(const std::string& bytes);
    bool SendByte(uint8_t b);
    void SendAfter(int delayMs, const Bytes& bytes);   // from the emulator thread, later

    // ---- line speed ----
    // Paces the emulator to a real line of `baud` with `bitsPerCharacter`
    // bits a byte (11 for 8E1): a request counts as received once its bytes
    // have had their time on the wire, and each answer reaches the library
    // only after its own bytes' time. 0 (the default) answers at once.
    void SetLineSpeed(int baud, int bitsPerCharacter = 10);

    // ---- a slow device ----
    // Everything the emulator sends (answers, unasked frames, SendAfter and
    // delayed replies alike) leaves `ms` milliseconds later than it would,
    // in the same order. 0 (the default) sends at once.
    void SetLateness(int ms);

    // ---- answers with faults ----
    void Reply(const Bytes& bytes);                 // applies the next queued fault
    void QueueFault(Fault fault, int arg = 0);
    void ClearFaults();
    size_t PendingFaults() const;
    void SetSilent(bool silent);
    bool Silent() const;
    void SetResponder(Responder responder);
    virtual Bytes NakBytes() const { return {0x15}; }
    // Deterministic noise without any of the bytes in `avoid`.
    static Bytes Garbage(size_t n, const Bytes& avoid = {});

protected:
    virtual void OnReceive(const uint8_t* data, size_t n);

private:
    struct Scheduled {
        int64_t dueMs;
        Bytes bytes;
    };
    struct Paced {
        int64_t dueUs;
        Bytes bytes;
    };
    void Loop();
    void Wake();
    bool WriteNow(const Bytes& bytes);
    bool SendNow(const Bytes& bytes);               // Send without the lateness

    std::unique_ptr<PtyPair> m_pty;
    std::thread m_thread;
    int m_wakeFd = -1;
    bool m_stop = false;                            // under m_mutex

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    std::vector<ByteRecord> m_records;
    Bytes m_sent;
    std::deque<std::pair<Fault, int>> m_faults;
    std::vector<Scheduled> m_scheduled;
    std::deque<Paced> m_paced;      // answers on the wire, in order
    int64_t m_byteUs = 0;           // a byte's time on the line; 0: not paced
    int64_t m_rxFreeUs = 0;         // when the last request byte has arrived
    int64_t m_txFreeUs = 0;         // when the line towards the library is free
    bool m_silent = false;
    int m_latenessMs = 0;
    Responder m_responder;

    std::mutex m_writeMutex;
};

}  // namespace orv::test
