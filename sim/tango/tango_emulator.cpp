#include "sim/tango/tango_emulator.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace orv::test {

TangoEmulator::TangoEmulator(int port) : EmulatorBase(port) {
    // A late answer holds the register's thread, so the pieces of a reply
    // keep their order.
    m_device.SetSink([this](const Bytes& bytes, int delayMs) {
        if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        Send(bytes);
    });
}

TangoTcpEmulator::TangoTcpEmulator(const std::string& address, uint16_t port) : m_addressText(address), m_port(port) {
    in_addr a{};
    if (inet_pton(AF_INET, address.c_str(), &a) == 1) m_address = ntohl(a.s_addr);
    m_wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_device.SetSink([this](const Bytes& bytes, int delayMs) { SendBytes(bytes, delayMs); });
}

TangoTcpEmulator::~TangoTcpEmulator() {
    Stop();
    if (m_wake >= 0) close(m_wake);
}

bool TangoTcpEmulator::Start() {
    if (m_thread.joinable()) return true;
    m_listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listen < 0) return false;
    int one = 1;
    setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(m_address);
    a.sin_port = htons(m_port);
    if (bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(m_listen, 4) != 0) {
        close(m_listen);
        m_listen = -1;
        return false;
    }
    m_stop = false;
    m_thread = std::thread([this] { Loop(); });
    return true;
}

void TangoTcpEmulator::Stop() {
    if (m_thread.joinable()) {
        m_stop = true;
        uint64_t v = 1;
        ssize_t r = write(m_wake, &v, sizeof v);
        (void)r;
        m_thread.join();
    }
    if (m_conn >= 0) close(m_conn);
    if (m_listen >= 0) close(m_listen);
    m_conn = m_listen = -1;
}

void TangoTcpEmulator::SetSegmented(bool on) {
    m_paced = on;
    m_device.SetSegmented(on);
}

Bytes TangoTcpEmulator::Received() const {
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_received;
}

void TangoTcpEmulator::ClearLog() {
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        m_received.clear();
    }
    m_device.ClearLog();
}

void TangoTcpEmulator::SendBytes(const Bytes& bytes, int delayMs) {
    if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    const int fd = m_conn;
    if (fd < 0) return;
    size_t off = 0;
    while (off < bytes.size()) {
        const ssize_t r = send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
        if (r <= 0) return;
        off += static_cast<size_t>(r);
    }
    // Pieces sent on their own arrive as segments of their own.
    if (m_paced) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void TangoTcpEmulator::Loop() {
    uint8_t buf[2048];
    while (!m_stop) {
        pollfd fds[2] = {{m_wake, POLLIN, 0}, {m_conn >= 0 ? m_conn : m_listen, POLLIN, 0}};
        const int r = poll(fds, 2, -1);
        if (r < 0 && errno != EINTR) return;
        if (m_stop) return;
        if (!(fds[1].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        if (m_conn < 0) {
            const int c = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) continue;
            int one = 1;
            setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            m_device.ResetLine();
            m_conn = c;
            ++m_connections;
            continue;
        }
        const ssize_t n = recv(m_conn, buf, sizeof buf, 0);
        if (n <= 0) {
            // The PC closed (or reset) the connection: wait for the next one.
            close(m_conn);
            m_conn = -1;
            m_device.ResetLine();
            continue;
        }
        {
            std::lock_guard<std::mutex> lk(m_mutex);
            m_received.insert(m_received.end(), buf, buf + n);
        }
        if (!m_silent) m_device.Feed(buf, static_cast<size_t>(n));
    }
}

}  // namespace orv::test
