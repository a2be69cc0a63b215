// UDP socket layer on Winsock 2.
#include "protocol/udp.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <cstring>

#include "protocol/udp_address.h"

namespace tally {

namespace {
SOCKET sock_of(std::uintptr_t h) { return static_cast<SOCKET>(h); }
}  // namespace

bool lookup_ipv4(const std::string& host, Ipv4& out) {
    const hostent* he = gethostbyname(host.c_str());
    if (!he || he->h_addrtype != AF_INET || !he->h_addr_list[0]) return false;
    std::memcpy(out.data(), he->h_addr_list[0], 4);
    return true;
}

bool start_sockets(std::uint16_t* high_version) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 0), &data) != 0) return false;
    if (high_version) *high_version = data.wHighVersion;
    return true;
}
void stop_sockets() { WSACleanup(); }

bool UdpSocket::open() {
    close();
    SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) return false;
    handle_.reset(static_cast<std::uintptr_t>(s));
    return true;
}

bool UdpSocket::bind(std::uint16_t port, const Ipv4* local) {
    Ipv4 any{};
    sockaddr_in sa = make_address(local ? *local : any, port);
    return ::bind(sock_of(handle()), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

bool UdpSocket::set_receive_buffer(int bytes) {
    return setsockopt(sock_of(handle()), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes),
                      sizeof bytes) == 0;
}

bool UdpSocket::set_non_blocking() {
    u_long on = 1;
    return ioctlsocket(sock_of(handle()), FIONBIO, &on) == 0;
}

ReceiveResult UdpSocket::receive(std::uint8_t* buffer, std::size_t capacity) {
    ReceiveResult r;
    sockaddr_in from{};
    int from_len = sizeof from;
    int n = ::recvfrom(sock_of(handle()), reinterpret_cast<char*>(buffer), static_cast<int>(capacity), 0,
                       reinterpret_cast<sockaddr*>(&from), &from_len);
    if (n == SOCKET_ERROR) {
        r.error = WSAGetLastError();
        r.would_block = r.error == WSAEWOULDBLOCK;
        return r;
    }
    std::memcpy(r.sender.data(), &from.sin_addr, 4);
    r.sender_port = ntohs(from.sin_port);
    r.ok = true;
    r.size = static_cast<std::size_t>(n);
    return r;
}

bool UdpSocket::wait_readable(int timeout_ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(sock_of(handle()), &set);
    timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    return ::select(0, &set, nullptr, nullptr, &tv) > 0;
}

bool UdpSocket::send_to(const Ipv4& to, std::uint16_t port, const void* data, std::size_t size) {
    sockaddr_in sa = make_address(to, port);
    return ::sendto(sock_of(handle()), static_cast<const char*>(data), static_cast<int>(size), 0,
                    reinterpret_cast<sockaddr*>(&sa), sizeof sa) == static_cast<int>(size);
}

std::uint16_t UdpSocket::local_port() const {
    sockaddr_in sa{};
    int len = sizeof sa;
    if (getsockname(sock_of(handle()), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
    return ntohs(sa.sin_port);
}

void UdpSocket::close_handle(std::uintptr_t handle) { ::closesocket(sock_of(handle)); }

}  // namespace tally
