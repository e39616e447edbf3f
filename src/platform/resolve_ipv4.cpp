// Host names to IPv4 addresses, the same on both systems.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include "platform/tcp_socket.h"

namespace orv::platform {

bool ResolveIPv4(const std::string& host, std::string& dotted) {
    dotted.clear();
    if (StartSockets() != 0) return false;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0 || list == nullptr) return false;
    bool found = false;
    for (const addrinfo* it = list; it != nullptr; it = it->ai_next) {
        if (it->ai_family != AF_INET || it->ai_addr == nullptr) continue;
        const auto* address = reinterpret_cast<const sockaddr_in*>(it->ai_addr);
        char text[INET_ADDRSTRLEN];
        if (::inet_ntop(AF_INET, &address->sin_addr, text, sizeof(text)) != nullptr) {
            dotted = text;
            found = true;
        }
        break;
    }
    ::freeaddrinfo(list);
    return found;
}

}  // namespace orv::platform
