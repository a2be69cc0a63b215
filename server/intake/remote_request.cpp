// Update and close requests to resident clients.
#include "server/intake/remote_request.h"

namespace tally {

std::string remote_payload(RemoteRequest request) {
    return request == RemoteRequest::update ? std::string("Update Please") : std::string("Close Please");
}

std::uint16_t remote_port(std::uint16_t server_port) { return static_cast<std::uint16_t>(server_port + 1u); }

Notice socket_failure_notice() { return Notice{"Beer", "Beer", BoxOwner::main_window, false}; }

Notice host_not_found_notice() {
    return Notice{"Unable to find computer on the network", "Host not found", BoxOwner::main_window, false};
}

bool UdpRequestChannel::lookup(const std::string& host, Ipv4& address) { return resolve_ipv4(host, address); }

bool UdpRequestChannel::send(const Ipv4& to, std::uint16_t port, const std::string& payload) {
    return socket_.is_open() && socket_.send_to(to, port, payload.data(), payload.size());
}

void send_remote_request(const Store& store, std::uint32_t record_index, RemoteRequest request,
                         std::uint16_t server_port, RequestChannel& channel, Notifier& notifier) {
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
    if (!have_socket || !channel.send(address, remote_port(server_port), remote_payload(request)))
        notifier.notify(socket_failure_notice());
    channel.close_socket();
}

}  // namespace tally
