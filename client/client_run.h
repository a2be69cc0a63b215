// One run of scoutly: start-up, audit passes and the resident wait, over
// the platform services in ClientPlatform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

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
    // Waits at most timeout_ms for one datagram of at most `capacity` bytes;
    // a time-out is !ok with would_block.
    virtual ReceiveResult receive_within(std::uint8_t* buffer, std::size_t capacity, int timeout_ms) = 0;
    // A clock in milliseconds that only moves forward.
    virtual std::uint64_t milliseconds() = 0;
    // The site key that Group Policy gave this computer, if any.
    virtual std::optional<SiteKey> site_key() { return std::nullopt; }
    // The clock that signs, seconds since 1970.
    virtual std::uint64_t seconds_since_1970() { return static_cast<std::uint64_t>(std::time(nullptr)); }
};

// Receive buffer of the resident wait: a longer datagram is discarded.
constexpr std::size_t request_buffer_size = 20;
// A client with a site key takes signed requests, which are longer.
constexpr std::size_t signed_request_buffer_size = signed_request::size;
// Receive buffer while a pass waits for its receipt: room for the longest receipt.
constexpr std::size_t receipt_buffer_size = 512;
// How long a pass waits for its receipt in all, and the resends of its
// manifest after each silence (the last figure repeats): about ten tries in
// the wait, so that a pass survives a fifth of the datagrams lost each way.
constexpr std::uint64_t receipt_wait_ms = 5000;
constexpr int manifest_resend_ms[] = {250, 500};
// A resident client whose pass was never acknowledged runs a fresh pass
// after these waits (the last repeats) until one is.
constexpr std::uint64_t pass_retry_ms[] = {60000, 120000, 300000, 600000, 3600000};

// What one audit pass came to.
struct PassOutcome {
    bool scanned = false;       // false: the software scan failed
    bool acknowledged = false;  // the server applied the pass (or no receipt was asked for)
    Request request = Request::none;  // a request that came while the pass waited
};

// How the resident wait reads one receive result.
Request classify_received(const ReceiveResult& result, const Ipv4& server);

// Builds one audit pass (hardware packet, ID packet from the enclosure
// probe, extension packet, software list), then sends its manifest and its
// datagrams and waits for the receipt, resending what the server misses.
// With a site key (the gate's) the manifest is signed and only receipts
// that verify count; requests are read through the gate.
// A pass of more than 80 datagrams, or one whose software scan failed, is
// sent without manifest and waits for nothing.
PassOutcome run_audit_pass(ClientPlatform& platform, HardwareProbes& probes, UninstallEntries& entries,
                           std::uint16_t winsock_version, const Ipv4& server, std::uint16_t port,
                           std::uint32_t& up_time_kept, RequestGate& gate);

// Sends a built pass with its manifest and waits up to receipt_wait_ms for
// its 'A' receipt; true when it came.
bool deliver_pass(ClientPlatform& platform, const Ipv4& server, std::uint16_t port, const Mac& mac,
                  const std::vector<std::vector<std::uint8_t>>& datagrams, Request& request, RequestGate& gate);

// The whole run for the text after the program name; returns the exit code.
int run_client(ClientPlatform& platform, HardwareProbes& probes, UninstallEntries& entries,
               const std::string& command_line);

}  // namespace tally::client
