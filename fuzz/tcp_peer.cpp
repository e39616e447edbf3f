#include "tcp_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace orv::fuzz {

LoopbackPeer::LoopbackPeer(uint16_t port)
    : m_port(port),
      // 127.x.y.1 from the process id, so that targets run side by side
      // (and a fuzzer's forked jobs) each listen on an address of their own.
      m_address((127u << 24) | ((static_cast<uint32_t>(getpid()) & 0xFFFFu) << 8) | 1u) {}

LoopbackPeer::~LoopbackPeer() {
    if (m_thread.joinable()) {
        m_stop = true;
        uint64_t v = 1;
        ssize_t r = write(m_wake, &v, sizeof v);
        (void)r;
        m_thread.join();
    }
    for (int fd : {m_conn, m_listen, m_wake})
        if (fd >= 0) close(fd);
}

bool LoopbackPeer::Start() {
    if (m_thread.joinable()) return true;
    m_wake = eventfd(0, EFD_CLOEXEC);
    m_listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_wake < 0 || m_listen < 0) return false;
    int one = 1;
    setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(m_address);
    a.sin_port = htons(m_port);
    if (bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(m_listen, 4) != 0) return false;
    m_thread = std::thread([this] { Loop(); });
    return true;
}

void LoopbackPeer::SetFeeder(Feeder feeder) {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_feeder = std::move(feeder);
}

LoopbackPeer::Bytes LoopbackPeer::Written() const {
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_written;
}

void LoopbackPeer::ClearRecords() {
    std::lock_guard<std::mutex> lk(m_mutex);
    m_written.clear();
}

void LoopbackPeer::Answer(int fd, const uint8_t* data, size_t size) {
    Bytes answer;
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        m_written.insert(m_written.end(), data, data + size);
        if (m_feeder) answer = m_feeder(Bytes(data, data + size));
    }
    size_t off = 0;
    while (off < answer.size()) {
        const ssize_t r = send(fd, answer.data() + off, answer.size() - off, MSG_NOSIGNAL);
        if (r <= 0) return;
        off += static_cast<size_t>(r);
    }
}

void LoopbackPeer::Loop() {
    uint8_t buf[4096];
    while (!m_stop) {
        pollfd fds[3] = {{m_wake, POLLIN, 0}, {m_listen, POLLIN, 0}, {m_conn, POLLIN, 0}};
        const int r = poll(fds, m_conn >= 0 ? 3 : 2, -1);
        if (r < 0 && errno != EINTR) return;
        if (m_stop) return;
        if (fds[1].revents & POLLIN) {
            const int c = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (c >= 0) {
                int one = 1;
                setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                if (m_conn >= 0) close(m_conn);
                m_conn = c;
                continue;
            }
        }
        if (m_conn >= 0 && (fds[2].revents & (POLLIN | POLLHUP | POLLERR))) {
            const ssize_t n = recv(m_conn, buf, sizeof buf, 0);
            if (n <= 0) {
                close(m_conn);
                m_conn = -1;
                continue;
            }
            Answer(m_conn, buf, static_cast<size_t>(n));
        }
    }
}

}  // namespace orv::fuzz
