// scoutly's run: start-up, audit passes with their receipts, resident wait
// and exit codes.
#include "client/client_run.h"

#include <algorithm>

#include "protocol/crypto.h"
#include "protocol/manifest.h"

namespace tally::client {

namespace {

using Datagrams = std::vector<std::vector<std::uint8_t>>;

template <std::size_t N>
std::uint64_t step_of(const std::uint64_t (&steps)[N], std::size_t k) {
    return steps[std::min(k, N - 1)];
}

int resend_after(std::size_t k) {
    constexpr std::size_t n = sizeof manifest_resend_ms / sizeof manifest_resend_ms[0];
    return manifest_resend_ms[std::min(k, n - 1)];
}

// A close request wins over an update request that came before it.
void note_request(Request& kept, Request seen) {
    if (seen == Request::close || (seen == Request::update && kept == Request::none)) kept = seen;
}

void send_all(ClientPlatform& platform, const Ipv4& server, std::uint16_t port, const Datagrams& datagrams) {
    for (const auto& d : datagrams) platform.send(server, port, d.data(), d.size());
}

// One datagram that came while a pass waited: its receipt (true when it
// says applied), resends for a held pass, or a request kept for later.
// Before the manifest is sent again, an 'N' answers the first manifest,
// which the server mostly sees before any datagram: it asks for nothing.
bool take_reply(ClientPlatform& platform, const Ipv4& server, std::uint16_t port, const Manifest& manifest,
                const Datagrams& datagrams, const std::uint8_t* data, const ReceiveResult& r, bool resent,
                Request& request, bool& answered, RequestGate& gate) {
    Receipt receipt;
    if (!decode_receipt(data, r.size, receipt)) {
        note_request(request, gate.classify(data, r, server, platform.seconds_since_1970()));
        return false;
    }
    if (receipt.mac != manifest.mac || receipt.pass_id != manifest.pass_id) return false;
    // With a key, only a receipt signed with it (the server's answer to a
    // signed manifest) counts.
    if (gate.has_key() && (pass_signature(data, r.size, receipt_packet::positions_offset + receipt.missing.size()) !=
                               PassSignature::present ||
                           !signature_verifies(data, receipt_packet::positions_offset + receipt.missing.size(),
                                               *gate.key())))
        return false;
    if (receipt.kind == receipt_applied) return true;
    if (!resent) return false;
    answered = true;
    for (std::uint8_t position : receipt.missing)
        if (position < datagrams.size()) platform.send(server, port, datagrams[position].data(), datagrams[position].size());
    return false;
}

}  // namespace

Request classify_received(const ReceiveResult& result, const Ipv4& server) {
    if (!result.ok) return Request::none;
    return classify_request(result.size, result.sender == server);
}

bool deliver_pass(ClientPlatform& platform, const Ipv4& server, std::uint16_t port, const Mac& mac,
                  const Datagrams& datagrams, Request& request, RequestGate& gate) {
    Manifest manifest;
    manifest.mac = mac;
    if (!random_bytes(manifest.pass_id.data(), manifest.pass_id.size())) return false;
    for (const auto& d : datagrams) manifest.digests.push_back(datagram_digest(d.data(), d.size()));
    std::vector<std::uint8_t> bytes = encode_manifest(manifest);
    // Signed, the manifest covers every datagram of the pass through their digests.
    if (gate.has_key())
        sign_pass_datagram(bytes, manifest_packet::digests_offset + 16 * manifest.digests.size(), *gate.key(),
                           platform.seconds_since_1970());
    platform.send(server, port, bytes.data(), bytes.size());
    send_all(platform, server, port, datagrams);

    const std::uint64_t start = platform.milliseconds();
    std::size_t silences = 0;
    std::uint64_t resend_at = start + resend_after(silences);
    for (;;) {
        const std::uint64_t now = platform.milliseconds();
        if (now - start >= receipt_wait_ms) return false;
        if (now >= resend_at) {
            // Silence: the manifest again; the server's answer lists what it misses.
            platform.send(server, port, bytes.data(), bytes.size());
            resend_at = now + resend_after(++silences);
            continue;
        }
        const std::uint64_t until = std::min(resend_at, start + receipt_wait_ms);
        std::uint8_t buffer[receipt_buffer_size];
        const ReceiveResult r = platform.receive_within(buffer, sizeof buffer, static_cast<int>(until - now));
        // Signed requests may come from any address; receipts come from the server's.
        if (!r.ok || (r.sender != server && !gate.has_key())) continue;
        bool answered = false;
        if (take_reply(platform, server, port, manifest, datagrams, buffer, r, silences > 0, request, answered, gate))
            return true;
        // An answer restarts the wait for the next one.
        if (answered) resend_at = platform.milliseconds() + resend_after(silences);
    }
}

PassOutcome run_audit_pass(ClientPlatform& platform, HardwareProbes& probes, UninstallEntries& entries,
                           std::uint16_t winsock_version, const Ipv4& server, std::uint16_t port,
                           std::uint32_t& up_time_kept, RequestGate& gate) {
    ProbeResults probed;
    probed.hardware.winsock_version = winsock_version;
    run_probes(probes, probed, up_time_kept);
    const Mac& mac = probed.hardware.mac;
    gate.set_own_mac(mac);
    Datagrams datagrams;
    const HardwarePacket hardware = encode_hardware_packet(probed.hardware);
    datagrams.emplace_back(hardware.begin(), hardware.end());
    // After the hardware packet, so that a computer's first report finds its
    // record: the serial number and asset tag, then the extension facts.
    if (probed.send_id) datagrams.emplace_back(probed.id.begin(), probed.id.end());
    const ExtensionPacket extension = encode_extension_packet(mac, probed.facts);
    datagrams.emplace_back(extension.begin(), extension.end());
    PassOutcome outcome;
    outcome.scanned = scan_software(entries, mac, [&](const std::uint8_t* data, std::size_t size) {
        datagrams.emplace_back(data, data + size);
    });
    if (!outcome.scanned || datagrams.size() > max_pass_datagrams) {
        send_all(platform, server, port, datagrams);
        outcome.acknowledged = true;
        return outcome;
    }
    outcome.acknowledged = deliver_pass(platform, server, port, mac, datagrams, outcome.request, gate);
    return outcome;
}

namespace {

// The resident wait: requests from the server, until one comes or (after a
// pass that was never acknowledged) a fresh pass is due.
Request wait_for_request(ClientPlatform& platform, const Ipv4& server, bool retry_due, std::uint64_t retry_in,
                         RequestGate& gate) {
    const std::uint64_t start = platform.milliseconds();
    constexpr int idle_wait_ms = 60000;
    for (;;) {
        int timeout = idle_wait_ms;
        if (retry_due) {
            const std::uint64_t waited = platform.milliseconds() - start;
            if (waited >= retry_in) return Request::update;
            timeout = static_cast<int>(std::min<std::uint64_t>(retry_in - waited, idle_wait_ms));
        }
        std::uint8_t buffer[signed_request_buffer_size];
        const std::size_t capacity = gate.has_key() ? signed_request_buffer_size : request_buffer_size;
        const ReceiveResult received = platform.receive_within(buffer, capacity, timeout);
        const Request request = gate.classify(buffer, received, server, platform.seconds_since_1970());
        if (request != Request::none) return request;
    }
}

}  // namespace

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
    const std::int32_t port = port_from_command_line(cl);
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
    std::size_t unacknowledged = 0;  // passes in a row that no receipt acknowledged
    RequestGate gate(platform.site_key());
    for (;;) {
        const PassOutcome pass =
            run_audit_pass(platform, probes, entries, winsock_version, server, to_port, up_time_kept, gate);
        if (!pass.scanned) {
            platform.stop_sockets();
            return 1;
        }
        if (!resident) break;
        unacknowledged = pass.acknowledged ? 0 : unacknowledged + 1;
        Request request = pass.request;
        if (request == Request::none)
            request = wait_for_request(platform, server, unacknowledged != 0,
                                       unacknowledged ? step_of(pass_retry_ms, unacknowledged - 1) : 0, gate);
        if (request == Request::close) break;
    }
    platform.stop_sockets();
    return 0;
}

}  // namespace tally::client
