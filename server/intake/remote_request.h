// Update and close requests to a computer's resident client: the payload,
// the destination port (server port plus one, in 16 bits) and the one-shot
// send through a socket of its own, with the three failure boxes.
#pragma once

#include <cstdint>
#include <string>

#include "protocol/udp.h"
#include "server/store/notify.h"
#include "server/store/store.h"

namespace tally {

enum class RemoteRequest { update, close };

// "Update Please" (13 bytes) or "Close Please" (12 bytes), no terminator.
std::string remote_payload(RemoteRequest request);
// The resident client's port: server port + 1, so 65535 gives 0.
std::uint16_t remote_port(std::uint16_t server_port);

// The boxes of a failed request, owned by the main window.
Notice socket_failure_notice();     // "Beer" / "Beer"
Notice host_not_found_notice();     // "Unable to find computer on the network" / "Host not found"

// The platform services a request needs; the socket layer in use, or a
// recording stand-in in tests.
class RequestChannel {
public:
    virtual ~RequestChannel() = default;
    virtual bool open_socket() = 0;
    // First IPv4 address of the name; false when the name does not resolve.
    virtual bool lookup(const std::string& host, Ipv4& address) = 0;
    virtual bool send(const Ipv4& to, std::uint16_t port, const std::string& payload) = 0;
    virtual void close_socket() = 0;
};

// The channel over the socket layer (UdpSocket and the resolver).
class UdpRequestChannel : public RequestChannel {
public:
    bool open_socket() override { return socket_.open(); }
    bool lookup(const std::string& host, Ipv4& address) override;
    bool send(const Ipv4& to, std::uint16_t port, const std::string& payload) override;
    void close_socket() override { socket_.close(); }

private:
    UdpSocket socket_;
};

// Sends the request to the computer that record_index names, looked up by
// its Computer Name (its stored IP address is not used). A socket that
// cannot be made, a name that does not resolve and a failed send each show
// their box; nothing is sent then. An empty name never resolves (the
// resolver would answer with this machine). A free record or an index
// beyond the table sends nothing and shows nothing.
void send_remote_request(const Store& store, std::uint32_t record_index, RemoteRequest request,
                         std::uint16_t server_port, RequestChannel& channel, Notifier& notifier);

}  // namespace tally
