// A small UDP socket layer over Winsock (Windows) and BSD sockets (POSIX).
// Error codes are those of the platform; a datagram larger than the receive
// buffer is reported on both as error_message_too_long (Winsock's WSAEMSGSIZE).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "protocol/ipv4.h"
#include "protocol/owned_handle.h"

namespace tally {

constexpr int error_message_too_long = 10040;

// Dotted decimal, or else a host-name lookup. False when neither works.
bool resolve_ipv4(const std::string& host, Ipv4& out);
// The system's host-name lookup alone: the first IPv4 address of the name.
bool lookup_ipv4(const std::string& host, Ipv4& out);

// Starts and stops the socket library (Winsock 2.0); no-ops on POSIX.
// `high_version`, when given, gets the highest version the library offers
// (0 on POSIX).
bool start_sockets(std::uint16_t* high_version = nullptr);
void stop_sockets();

struct ReceiveResult {
    bool ok = false;
    int error = 0;          // platform error code when !ok
    bool would_block = false;  // !ok because no datagram waits (non-blocking socket)
    std::size_t size = 0;   // bytes received when ok
    Ipv4 sender{};
    std::uint16_t sender_port = 0;
};

class UdpSocket {
public:
    bool open();                    // creates an IPv4 datagram socket
    bool is_open() const { return handle_.is_open(); }
    // Binds to the port on every local address, or on `local` when given.
    bool bind(std::uint16_t port, const Ipv4* local = nullptr);
    bool set_receive_buffer(int bytes);
    // A receive then returns at once, with would_block when nothing waits.
    bool set_non_blocking();
    // Blocks until one datagram arrives (or fails).
    ReceiveResult receive(std::uint8_t* buffer, std::size_t capacity);
    // Waits up to timeout_ms for a datagram; false on time-out.
    bool wait_readable(int timeout_ms);
    bool send_to(const Ipv4& to, std::uint16_t port, const void* data, std::size_t size);
    // The bound local port (0 when unknown).
    std::uint16_t local_port() const;
    void close() { handle_.reset(); }
    // The platform handle (SOCKET or file descriptor), for event registration.
    std::uintptr_t handle() const { return handle_.get(); }

    static constexpr std::uintptr_t invalid_handle = ~static_cast<std::uintptr_t>(0);

private:
    // Closes the platform handle (closesocket or close).
    static void close_handle(std::uintptr_t handle);
    OwnedHandle<std::uintptr_t, invalid_handle, close_handle> handle_;  // closed with the socket
};

}  // namespace tally
