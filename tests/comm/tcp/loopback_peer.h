// A device on the loopback interface for the TCP transport tests: it listens
// on 127.0.0.1, accepts one connection and sends, receives, closes or resets
// it on the test's command. Every wait is bounded.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

class LoopbackPeer {
public:
    static constexpr uint32_t kIp = 0x7F000001;   // 127.0.0.1, first octet in the top byte

    // listening = false: the port is bound but nobody listens, so a connect
    // to it is refused.
    explicit LoopbackPeer(int backlog = 4, bool listening = true) {
        m_listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(kIp);
        a.sin_port = 0;
        bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
        if (listening) listen(m_listen, backlog);
    }
    ~LoopbackPeer() {
        Close();
        if (m_listen >= 0) close(m_listen);
    }
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    uint16_t port() const { return m_port; }

    bool Accept(int timeoutMs = 2000) {
        pollfd p{m_listen, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) != 1) return false;
        m_conn = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (m_conn < 0) return false;
        int one = 1;
        setsockopt(m_conn, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return true;
    }

    // Sends the bytes as one segment.
    void Send(const std::string& bytes) {
        size_t off = 0;
        while (off < bytes.size()) {
            ssize_t r = send(m_conn, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
            if (r <= 0) return;
            off += static_cast<size_t>(r);
        }
    }
    // Sends after a pause, from a thread of its own.
    std::thread SendLater(const std::string& bytes, int delayMs) {
        return std::thread([this, bytes, delayMs] {
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            Send(bytes);
        });
    }

    // Up to n bytes, waiting at most timeoutMs for them all.
    std::string Receive(size_t n, int timeoutMs = 2000) {
        std::string out;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < n) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now()).count();
            if (left <= 0) break;
            pollfd p{m_conn, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left)) != 1) break;
            char buf[65536];
            const size_t want = std::min(sizeof buf, n - out.size());
            ssize_t r = recv(m_conn, buf, want, 0);
            if (r <= 0) break;
            out.append(buf, static_cast<size_t>(r));
        }
        return out;
    }

    // Orderly close (FIN) of the accepted connection.
    void Close() {
        if (m_conn >= 0) close(m_conn);
        m_conn = -1;
    }
    // Abortive close (RST).
    void Reset() {
        if (m_conn < 0) return;
        linger l{1, 0};
        setsockopt(m_conn, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        Close();
    }
    // Makes the peer's receive window small so that the sender runs out of room.
    void ShrinkReceiveBuffer() {
        int size = 4096;
        setsockopt(m_conn, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }

private:
    int m_listen = -1;
    int m_conn = -1;
    uint16_t m_port = 0;
};
