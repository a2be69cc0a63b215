// Update and close requests to resident clients.
#include "server/intake/remote_request.h"

#include <cstring>

#include "protocol/crypto.h"

namespace tally {

std::string remote_payload(RemoteRequest request) {
    return request == RemoteRequest::update ? std::string("Update Please") : std::string("Close Please");
}

std::uint16_t remote_port(std::uint16_t server_port) { return static_cast<std::uint16_t>(server_port + 1u); }

std::string request_datagram(const Store& store, std::uint32_t i, RemoteRequest request,
                             const RequestSigning* signing) {
    ExtensionRecord ext;
    const bool computer_signs = store.extension(i, ext) && (ext.flags & ext_record::flag_signs_reports) != 0;
    if (!signing || !signing->keys.current || !computer_signs) return remote_payload(request);
    Nonce nonce;
    if (!random_bytes(nonce.data(), nonce.size())) return std::string();
    Mac mac;
    std::memcpy(mac.data(), store.record(i).mac(), mac.size());
    const SignedRequestPacket p =
        encode_signed_request(mac, request == RemoteRequest::close ? Request::close : Request::update, nonce,
                              *signing->keys.current, signing->now);
    return std::string(p.begin(), p.end());
}

Notice socket_failure_notice() { return Notice{"Beer", "Beer", BoxOwner::main_window, false}; }

Notice host_not_found_notice() {
    return Notice{"Unable to find computer on the network", "Host not found", BoxOwner::main_window, false};
}

bool UdpRequestChannel::lookup(const std::string& host, Ipv4& address) { return resolve_ipv4(host, address); }

bool UdpRequestChannel::send(const Ipv4& to, std::uint16_t port, const std::string& payload) {
    return socket_.is_open() && socket_.send_to(to, port, payload.data(), payload.size());
}

void send_remote_request(const Store& store, std::uint32_t record_index, RemoteRequest request,
                         std::uint16_t server_port, RequestChannel& channel, Notifier& notifier,
                         const RequestSigning* signing) {
    if (record_index >= store.record_count() || store.record(record_index).is_free()) return;
    const std::string name = store.record(record_index).computer_name();

    const bool have_socket = channel.open_socket();
    if (!have_socket) notifier.notify(socket_failure_notice());

    Ipv4 address{};
    if (name.empty() || !channel.lookup(name, address)) {
        notifier.notify(host_not_found_notice());
        channel.close_socket();
        return;
    }
    // Without a socket the send fails and its box follows, as the user has
    // already been told once that no socket could be made.
    const std::string datagram = request_datagram(store, record_index, request, signing);
    if (!have_socket || datagram.empty() || !channel.send(address, remote_port(server_port), datagram))
        notifier.notify(socket_failure_notice());
    channel.close_socket();
}

}  // namespace tally
