// The Tango register (tango_device.h) on its two lines: a pseudo-terminal
// standing in for a serial port, and a small TCP server on a loopback
// address (port 5001, as the Next registers listen), one connection at a
// time.
//
//   TangoEmulator reg(3);                 // ECR_COM3 names the slave
//   reg.Start();
//   reg.Device().PutGoods(...);
//
//   TangoTcpEmulator net("127.0.0.2");    // listens on 127.0.0.2:5001
//   net.Start();                          // false when the address is taken
//   record.port = net.Address();          // first octet in the top byte
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "sim/emulator_base.h"
#include "sim/tango/tango_device.h"

namespace orv::test {

class TangoEmulator : public EmulatorBase {
public:
    explicit TangoEmulator(int port);
    ~TangoEmulator() override { Stop(); }
    TangoDevice& Device() { return m_device; }

protected:
    void OnReceive(const uint8_t* data, size_t n) override { m_device.Feed(data, n); }

private:
    TangoDevice m_device;
};

class TangoTcpEmulator {
public:
    static constexpr uint16_t kPort = 5001;

    explicit TangoTcpEmulator(const std::string& address = "127.0.0.1", uint16_t port = kPort);
    ~TangoTcpEmulator();
    TangoTcpEmulator(const TangoTcpEmulator&) = delete;
    TangoTcpEmulator& operator=(const TangoTcpEmulator&) = delete;

    bool Start();
    void Stop();
    TangoDevice& Device() { return m_device; }
    // The address as a device record carries it (first octet in the top byte).
    uint32_t Address() const { return m_address; }
    const std::string& AddressText() const { return m_addressText; }

    // Replies in pieces of 1 to 3 bytes, each sent on its own.
    void SetSegmented(bool on);
    // Bytes are still taken and recorded, but nothing is answered.
    void SetSilent(bool on) { m_silent = on; }
    Bytes Received() const;
    void ClearLog();   // the bytes received and the register's frame log
    int Connections() const { return m_connections; }

private:
    void Loop();
    void SendBytes(const Bytes& bytes, int delayMs);

    TangoDevice m_device;
    std::string m_addressText;
    uint32_t m_address = 0;
    uint16_t m_port;
    int m_listen = -1;
    int m_conn = -1;
    int m_wake = -1;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_silent{false};
    std::atomic<bool> m_paced{false};
    std::atomic<int> m_connections{0};
    mutable std::mutex m_mutex;
    Bytes m_received;
};

}  // namespace orv::test
