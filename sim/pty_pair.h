// A pseudo-terminal pair standing in for a serial line in tests.
//
//   orv::test::PtyPair pty(3);        // slave registered as port 3 (ECR_COM3)
//   ... the library opens port 3 and talks to pty.master() ...
//
// Both sides are raw (no echo, no line editing, 8 bits through). A spare
// descriptor on the slave side stays open for the pair's lifetime so that the
// library closing and reopening the port never hangs up the master; call
// CloseSpare() when a test wants the master to see the hang-up. CloseMaster()
// takes the "device" away: the slave side then reports a hang-up (EIO).
// The master descriptor is non-blocking.
//
// A pseudo-terminal has no modem lines and always reports an empty output
// queue; tests of CTS, DTR/RTS and drain time-outs use the fake serial device.
#pragma once

#include <optional>
#include <string>

namespace orv::test {

class PtyPair {
public:
    // Opens the pair and sets ECR_COM<port> to the slave's path (port 1..16;
    // 0 registers nothing). The previous value is restored on destruction.
    explicit PtyPair(int port = 1);
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    int master() const { return m_master; }
    const std::string& slavePath() const { return m_slavePath; }
    int port() const { return m_port; }

    void CloseSpare();    // no slave descriptor of ours remains open
    void CloseMaster();   // the device is gone: the slave side hangs up

    // Writes all bytes to the master (waits for room up to timeoutMs).
    // Returns false when they could not all be written.
    bool WriteMaster(const void* data, size_t size, int timeoutMs = 2000);

private:
    int m_port;
    int m_master = -1;
    int m_spare = -1;
    std::string m_slavePath;
    std::string m_envName;
    std::optional<std::string> m_previousEnv;
};

}  // namespace orv::test
