// UDP socket layer on BSD sockets.
#include "protocol/udp.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <cstdio>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "protocol/udp_address.h"

namespace tally {

namespace {
int fd_of(std::uintptr_t h) { return static_cast<int>(h); }
}  // namespace

bool lookup_ipv4(const std::string& host, Ipv4& out) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* res = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res) return false;
    const auto* sa = reinterpret_cast<const sockaddr_in*>(res->ai_addr);
    std::memcpy(out.data(), &sa->sin_addr, 4);
    freeaddrinfo(res);
    return true;
}

bool start_sockets(std::uint16_t* high_version) {
    if (high_version) *high_version = 0;
    return true;
}
void stop_sockets() {}

bool UdpSocket::open() {
    close();
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return false;
    handle_.reset(static_cast<std::uintptr_t>(fd));
    return true;
}

bool UdpSocket::bind(std::uint16_t port, const Ipv4* local) {
    Ipv4 any{};
    sockaddr_in sa = make_address(local ? *local : any, port);
    return ::bind(fd_of(handle()), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

bool UdpSocket::set_receive_buffer(int bytes) {
    return setsockopt(fd_of(handle()), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) == 0;
}

bool UdpSocket::set_non_blocking() {
    const int flags = fcntl(fd_of(handle()), F_GETFL, 0);
    return flags >= 0 && fcntl(fd_of(handle()), F_SETFL, flags | O_NONBLOCK) == 0;
}

ReceiveResult UdpSocket::receive(std::uint8_t* buffer, std::size_t capacity) {
    ReceiveResult r;
    sockaddr_in from{};
    socklen_t from_len = sizeof from;
    // MSG_TRUNC makes the call return the datagram's real length, so an
    // oversized datagram is reported as a failure, as Winsock does.
    ssize_t n = ::recvfrom(fd_of(handle()), buffer, capacity, MSG_TRUNC, reinterpret_cast<sockaddr*>(&from),
                           &from_len);
    if (n < 0) {
        r.error = errno;
        r.would_block = errno == EAGAIN || errno == EWOULDBLOCK;
        return r;
    }
    std::memcpy(r.sender.data(), &from.sin_addr, 4);
    r.sender_port = ntohs(from.sin_port);
    if (static_cast<std::size_t>(n) > capacity) {
        r.error = error_message_too_long;
        return r;
    }
    r.ok = true;
    r.size = static_cast<std::size_t>(n);
    return r;
}

bool UdpSocket::wait_readable(int timeout_ms) {
    pollfd p{fd_of(handle()), POLLIN, 0};
    return ::poll(&p, 1, timeout_ms) > 0;
}

bool UdpSocket::send_to(const Ipv4& to, std::uint16_t port, const void* data, std::size_t size) {
    sockaddr_in sa = make_address(to, port);
    return ::sendto(fd_of(handle()), data, size, 0, reinterpret_cast<sockaddr*>(&sa), sizeof sa) ==
           static_cast<ssize_t>(size);
}

std::uint16_t UdpSocket::local_port() const {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (getsockname(fd_of(handle()), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
    return ntohs(sa.sin_port);
}

void UdpSocket::close_handle(std::uintptr_t handle) { ::close(fd_of(handle)); }

}  // namespace tally
