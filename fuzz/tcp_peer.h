// The register's end of a TCP connection for the fuzz targets: a listener
// on a loopback address of the process's own (the port is the one the
// library connects to) that answers each piece the library writes with the
// feeder's answer to it. Connections are taken one at a time; a new one
// replaces the last.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace orv::fuzz {

class LoopbackPeer {
public:
    using Bytes = std::vector<uint8_t>;
    using Feeder = std::function<Bytes(const Bytes& written)>;

    explicit LoopbackPeer(uint16_t port);
    ~LoopbackPeer();
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    bool Start();
    // The address as a device record carries it (first octet in the top byte).
    uint32_t Address() const { return m_address; }
    // Null: what the library writes is taken and not answered. Once this
    // returns, the old feeder is no longer called.
    void SetFeeder(Feeder feeder);
    Bytes Written() const;
    void ClearRecords();

private:
    void Loop();
    void Answer(int fd, const uint8_t* data, size_t size);

    uint16_t m_port;
    uint32_t m_address;
    int m_listen = -1;
    int m_conn = -1;
    int m_wake = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    mutable std::mutex m_mutex;   // the feeder and the record of what was written
    Feeder m_feeder;
    Bytes m_written;
};

}  // namespace orv::fuzz
