// One run of scoutly: start-up, audit passes and the resident wait, over
// the platform services in ClientPlatform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "client/command_line.h"
#include "client/hardware.h"
#include "client/request_gate.h"
#include "client/software.h"
#include "protocol/packets.h"
#include "protocol/udp.h"

namespace tally::client {

// Everything the run needs from the system besides the probes and the
// uninstall entries.
class ClientPlatform : public AddressLookups {
public:
    // Starts the socket library; winsock_version gets its high version
    // (major in the low byte).
    virtual bool start_sockets(std::uint16_t& winsock_version) = 0;
    virtual void stop_sockets() = 0;
    virtual void show_usage(const std::string& text, const char* caption) = 0;
    virtual bool open_socket() = 0;
    virtual bool bind_socket(std::uint16_t port) = 0;
    // Send errors are not reported: a datagram is sent once and forgotten.
    virtual void send(const Ipv4& to, std::uint16_t port, const std::uint8_t* data, std::size_t size) = 0;
    // Blocks for one datagram of at most `capacity` bytes.
    virtual ReceiveResult receive(std::uint8_t* buffer, std::size_t capacity) = 0;
    // The site key that Group Policy gave this computer, if any.
    virtual std::optional<SiteKey> site_key() { return std::nullopt; }
    // The clock, seconds since 1970.
    virtual std::uint64_t now() = 0;
};

// Receive buffer of the resident wait: a longer datagram is discarded. A
// client with a site key takes signed requests, which are longer.
constexpr std::size_t request_buffer_size = 20;
constexpr std::size_t signed_request_buffer_size = signed_request::size;

// Sends one audit pass: hardware packet, ID packet (from the enclosure
// probe), extension packet, software list. False when the software scan
// fails.
bool run_audit_pass(ClientPlatform& platform, HardwareProbes& probes, UninstallEntries& entries,
                    std::uint16_t winsock_version, const Ipv4& server, std::uint16_t port,
                    std::uint32_t& up_time_kept, Mac* reported_mac = nullptr);

// The whole run for the text after the program name; returns the exit code.
int run_client(ClientPlatform& platform, HardwareProbes& probes, UninstallEntries& entries,
               const std::string& command_line);

}  // namespace tally::client
