// scoutly's run: start-up, audit passes, resident wait and exit codes.
#include "client/client_run.h"

namespace tally::client {

bool run_audit_pass(ClientPlatform& platform, HardwareProbes& probes, UninstallEntries& entries,
                    std::uint16_t winsock_version, const Ipv4& server, std::uint16_t port,
                    std::uint32_t& up_time_kept, Mac* reported_mac) {
    ProbeResults probed;
    probed.hardware.winsock_version = winsock_version;
    run_probes(probes, probed, up_time_kept);
    const Mac& mac = probed.hardware.mac;
    if (reported_mac) *reported_mac = mac;
    const HardwarePacket hardware = encode_hardware_packet(probed.hardware);
    platform.send(server, port, hardware.data(), hardware.size());
    // After the hardware packet, so that a computer's first report finds its
    // record: the serial number and asset tag, then the extension facts.
    if (probed.send_id) platform.send(server, port, probed.id.data(), probed.id.size());
    const ExtensionPacket extension = encode_extension_packet(mac, probed.facts);
    platform.send(server, port, extension.data(), extension.size());
    return scan_software(entries, mac, [&](const std::uint8_t* data, std::size_t size) {
        platform.send(server, port, data, size);
    });
}

int run_client(ClientPlatform& platform, HardwareProbes& probes, UninstallEntries& entries,
               const std::string& command_line) {
    std::uint16_t winsock_version = 0;
    if (!platform.start_sockets(winsock_version)) return 1;

    const CommandLine cl = split_command_line(command_line);
    Ipv4 server{};
    if (!server_address(cl.server_text, platform, server)) {
        platform.show_usage(usage_text(), usage_caption);
        platform.stop_sockets();
        return 1;
    }
    const std::int32_t port = effective_port(cl);
    if (!platform.open_socket()) {
        platform.stop_sockets();
        return 1;
    }
    // A second client on the same computer cannot have port P+1: it still
    // reports, but cannot be reached by requests.
    bool resident = cl.resident;
    if (!platform.bind_socket(bind_port(port))) resident = false;

    std::uint32_t up_time_kept = 0;
    const std::uint16_t to_port = destination_port(port);
    RequestGate gate(platform.site_key());
    const std::size_t capacity = gate.has_key() ? signed_request_buffer_size : request_buffer_size;
    for (;;) {
        Mac mac{};
        if (!run_audit_pass(platform, probes, entries, winsock_version, server, to_port, up_time_kept, &mac)) {
            platform.stop_sockets();
            return 1;
        }
        if (!resident) break;
        gate.set_own_mac(mac);
        Request request = Request::none;
        while (request == Request::none) {
            std::uint8_t buffer[signed_request_buffer_size];
            const ReceiveResult received = platform.receive(buffer, capacity);
            request = gate.classify(buffer, received, server, platform.now());
        }
        if (request == Request::close) break;
    }
    platform.stop_sockets();
    return 0;
}

}  // namespace tally::client
