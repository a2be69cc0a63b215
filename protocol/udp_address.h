// The IPv4 socket address of a port, for the two socket layers
// (udp_posix.cpp, udp_win32.cpp), each of which includes its platform's
// socket headers first.
#pragma once

#include <cstring>

#include "protocol/ipv4.h"

namespace tally {

inline sockaddr_in make_address(const Ipv4& addr, std::uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    std::memcpy(&sa.sin_addr, addr.data(), 4);
    return sa;
}

}  // namespace tally
