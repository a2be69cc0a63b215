// The sending and counting half of the log-in storm benchmark (bench/storm.sh).
//
//   storm_sender send PORT CLIENTS SECONDS   sends what CLIENTS audit clients
//       send in one pass (ID packet, hardware packet, 100 programs in five
//       software packets of 1,205 bytes) to 127.0.0.1:PORT, datagrams evenly
//       spaced over SECONDS; prints the datagrams sent and how late the
//       sender fell behind its schedule.
//   storm_sender send PORT CLIENTS SECONDS manifests   the same as current
//       clients send it: each pass starts with its manifest; the receipts
//       are taken as they come ('N' after a resent manifest: the missing
//       datagrams again), and for up to 10 s after the last pass the
//       manifests of passes not yet acknowledged are sent again after each
//       silence; prints the receipts and resends besides.
//   storm_sender send PORT CLIENTS SECONDS signed KEY   the same with each
//       manifest signed with the site key KEY (64 hexadecimal digits), as
//       clients with the key in their policy key send it.
//   ... updated PERCENT (after the rest)   that share of each client's
//       programs in a newer version (10.3.* for 10.2.*), as after a round
//       of updates; the names stay the same.
//   ... shared-names (last)   every client's program p named alike, as in a
//       fleet with one set of programs (otherwise each client's names are
//       its own: 100 new programs a client for the catalogue).
//   storm_sender count DIR   prints the used records of Hardware.Audit and
//       the used entries of Software.Audit in DIR.
//   storm_sender make-store DIR CLIENTS   writes the database files of a
//       store that took the reports of CLIENTS such clients, one after the
//       other.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <random>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "protocol/manifest.h"
#include "protocol/packets.h"
#include "protocol/signing.h"
#include "protocol/udp.h"
#include "server/intake/intake.h"
#include "server/store/records.h"

namespace {

using namespace tally;
using Clock = std::chrono::steady_clock;

constexpr int programs_per_client = 100;
constexpr int programs_per_packet = 20;
constexpr std::size_t software_packet_bytes = 1205;

Mac mac_of(int client) {
    return Mac{0x02, 0x5A, static_cast<std::uint8_t>(client >> 16), static_cast<std::uint8_t>(client >> 8),
               static_cast<std::uint8_t>(client), 0x01};
}

// Each software packet carries 20 items whose names are padded so that the
// packet is 1,205 bytes long, as a client's full packets are.
// The share of each client's programs reported in a newer version.
int updated_percent = 0;
// Every client's program p has the same name (as in a fleet with one set of
// programs), not one of its own.
bool shared_names = false;

std::vector<std::uint8_t> software_packet(int client, int packet) {
    const Mac mac = mac_of(client);
    std::vector<std::uint8_t> p;
    p.reserve(software_packet_bytes);
    p.push_back(packet == 0 ? packet_list_start : packet_list_continuation);
    p.insert(p.end(), mac.begin(), mac.end());
    const std::size_t item_room = (software_packet_bytes - sw_packet::items_offset) / programs_per_packet;  // 59
    for (int k = 0; k < programs_per_packet; ++k) {
        const int program = packet * programs_per_packet + k;
        // Of the same length either way, so that the names and the packet stay as they are.
        const bool updated = (program + client) % 100 < updated_percent;
        const std::string version =
            (updated ? "10.3." : "10.2.") + std::to_string(program) + "." + std::to_string(client % 1000);
        std::string name = "Storm Program " + std::to_string(program) + " " +
                           (shared_names ? std::string() : "of client " + std::to_string(client) + " ");
        std::size_t room = item_room - (version.size() + 6);
        if (k == programs_per_packet - 1) room += (software_packet_bytes - sw_packet::items_offset) % programs_per_packet;
        name.resize(std::min<std::size_t>(room, 63), '.');
        std::uint8_t item[600];
        const std::size_t n = encode_software_item(item, sizeof item, name, true, version);
        p.insert(p.end(), item, item + n);
    }
    return p;
}

std::vector<std::vector<std::uint8_t>> datagrams_of(int client) {
    std::vector<std::vector<std::uint8_t>> out;
    const Mac mac = mac_of(client);
    const IdPacket id = encode_id_packet(mac, "TAG" + std::to_string(client), "SER" + std::to_string(client));
    out.emplace_back(id.begin(), id.end());
    HardwareReport r;
    r.mac = mac;
    r.computer_name = "STORM" + std::to_string(client);
    r.cpuid_vendor = "GenuineIntel";
    r.ram_bytes = 1u << 30;
    r.windows_major = 5;
    r.windows_platform = 2;
    r.drive_letters[0] = 'C';
    r.drive_types[0] = 3;
    r.last_user = "user" + std::to_string(client);
    const HardwarePacket hw = encode_hardware_packet(r);
    out.emplace_back(hw.begin(), hw.end());
    for (int k = 0; k < programs_per_client / programs_per_packet; ++k) out.push_back(software_packet(client, k));
    return out;
}

// The receipt side of current clients, for every synthetic client at once.
struct Receipts {
    std::vector<std::vector<std::uint8_t>> manifests;
    std::vector<char> acknowledged, resent;
    long applied = 0, held = 0, manifests_resent = 0, datagrams_resent = 0, bytes = 0;

    std::vector<Clock::time_point> last_sent;  // each pass's last datagram
    std::vector<double> waits_ms;              // from there to the pass's first 'A'
    std::optional<SiteKey> key;  // signs the manifests when given
    PassId salt{};               // the same clients in a later run send other passes

    explicit Receipts(int clients)
        : manifests(clients), acknowledged(clients, 0), resent(clients, 0), last_sent(clients) {
        std::random_device random;
        for (auto& b : salt) b = static_cast<std::uint8_t>(random());
    }
    PassId pass_of(int client) const {
        PassId id = salt;
        put_u32(id.data(), static_cast<std::uint32_t>(client));
        return id;
    }
    const std::vector<std::uint8_t>& manifest(int client, const std::vector<std::vector<std::uint8_t>>& datagrams) {
        Manifest m;
        m.mac = mac_of(client);
        m.pass_id = pass_of(client);
        for (const auto& d : datagrams) m.digests.push_back(datagram_digest(d.data(), d.size()));
        std::vector<std::uint8_t> packet = encode_manifest(m);
        if (key)
            sign_pass_datagram(packet, manifest_packet::digests_offset + 16 * m.digests.size(), *key,
                               static_cast<std::uint64_t>(std::time(nullptr)));
        return manifests[client] = std::move(packet);
    }
    // Takes every receipt waiting on the socket.
    void take(UdpSocket& socket, std::uint16_t port) {
        std::uint8_t buffer[512];
        for (;;) {
            const ReceiveResult r = socket.receive(buffer, sizeof buffer);
            if (!r.ok) return;
            Receipt receipt;
            if (!decode_receipt(buffer, r.size, receipt)) continue;
            bytes += static_cast<long>(r.size);
            const int c = static_cast<int>(get_u32(receipt.pass_id.data()));
            if (c < 0 || c >= static_cast<int>(manifests.size()) || receipt.pass_id != pass_of(c)) continue;
            if (receipt.kind == receipt_applied) {
                ++applied;
                if (!acknowledged[c] && c < static_cast<int>(last_sent.size()))
                    waits_ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - last_sent[c]).count());
                acknowledged[c] = 1;
                continue;
            }
            ++held;
            if (!resent[c]) continue;  // the answer to the first manifest
            const auto datagrams = datagrams_of(c);
            for (std::uint8_t k : receipt.missing)
                if (k < datagrams.size() && socket.send_to(Ipv4{127, 0, 0, 1}, port, datagrams[k].data(), datagrams[k].size()))
                    ++datagrams_resent;
        }
    }
    // After the last pass: the manifests of passes not acknowledged, after
    // each silence (0.25, 0.5, 1, 1 ... s), for at most 10 s.
    void finish(UdpSocket& socket, std::uint16_t port) {
        const auto end = Clock::now() + std::chrono::seconds(10);
        int step = 0;
        while (Clock::now() < end) {
            const int wait_ms = step == 0 ? 250 : step == 1 ? 500 : 1000;
            const auto until = Clock::now() + std::chrono::milliseconds(wait_ms);
            while (Clock::now() < until) {
                socket.wait_readable(50);
                take(socket, port);
            }
            long open = 0;
            for (std::size_t c = 0; c < manifests.size(); ++c) {
                if (acknowledged[c]) continue;
                ++open;
                resent[c] = 1;
                if (socket.send_to(Ipv4{127, 0, 0, 1}, port, manifests[c].data(), manifests[c].size())) ++manifests_resent;
            }
            if (open == 0) return;
            ++step;
        }
    }
    void print() const {
        long acked = 0;
        for (char a : acknowledged) acked += a;
        std::printf("receipts: %ld A, %ld N (%ld bytes); %ld of %zu passes acknowledged; resent %ld manifests, %ld datagrams",
                    applied, held, bytes, acked, manifests.size(), manifests_resent, datagrams_resent);
        std::vector<double> w = waits_ms;
        std::sort(w.begin(), w.end());
        if (!w.empty())
            std::printf("; acknowledged %.0f ms after the pass's last datagram (median; 99 %%: %.0f ms, longest %.0f ms)",
                        w[w.size() / 2], w[w.size() * 99 / 100], w.back());
        std::printf("\n");
    }
};

int send(std::uint16_t port, int clients, double seconds, bool manifests, const std::optional<SiteKey>& key) {
    if (!start_sockets()) return 1;
    UdpSocket socket;
    if (!socket.open() || !socket.set_non_blocking() || !socket.set_receive_buffer(4 << 20)) return 1;
    Receipts receipts(manifests ? clients : 0);
    receipts.key = key;
    const Ipv4 loopback{127, 0, 0, 1};
    const std::size_t per_client = datagrams_of(0).size();
    const double total = double(clients) * double(per_client);
    const auto interval = std::chrono::duration<double>(seconds / total);
    const auto start = Clock::now();
    double max_late_ms = 0;
    long sent = 0, failed = 0;
    for (int c = 0; c < clients; ++c) {
        const auto datagrams = datagrams_of(c);
        if (manifests) {
            // Outside the schedule's count: the same audit datagrams, each pass led by its manifest.
            const auto& m = receipts.manifest(c, datagrams);
            socket.send_to(loopback, port, m.data(), m.size());
            receipts.take(socket, port);
        }
        for (const auto& d : datagrams) {
            const auto due = start + std::chrono::duration_cast<Clock::duration>(interval * double(sent + failed));
            const auto now = Clock::now();
            if (now < due)
                std::this_thread::sleep_until(due);
            else
                max_late_ms = std::max(max_late_ms, std::chrono::duration<double, std::milli>(now - due).count());
            if (socket.send_to(loopback, port, d.data(), d.size()))
                ++sent;
            else
                ++failed;
        }
        if (manifests) receipts.last_sent[c] = Clock::now();
    }
    const double took = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("sent %ld datagrams (%ld failed) of %d clients in %.2f s (%.0f/s), at most %.1f ms late\n", sent,
                failed, clients, took, sent / took, max_late_ms);
    if (manifests) {
        receipts.finish(socket, port);
        receipts.print();
    }
    return failed == 0 ? 0 : 1;
}

std::vector<std::uint8_t> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int count(const std::string& dir) {
    const auto hw = read_file(dir + "/Hardware.Audit");
    const auto sw = read_file(dir + "/Software.Audit");
    long records = 0, entries = 0;
    for (std::size_t o = 0; o + hw_record::size <= hw.size(); o += hw_record::size)
        if (!RecordView(hw.data() + o).is_free()) ++records;
    for (std::size_t o = 0; o + sw_entry::size <= sw.size(); o += sw_entry::size)
        if (!EntryView(sw.data() + o).is_free()) ++entries;
    std::printf("%ld %ld\n", records, entries);
    return 0;
}

int make_store(const std::string& dir, int clients) {
    std::ofstream hw(dir + "/Hardware.Audit", std::ios::binary);
    std::ofstream sw(dir + "/Software.Audit", std::ios::binary);
    std::vector<std::uint8_t> record(hw_record::size), entry(sw_entry::size);
    for (int c = 0; c < clients; ++c) {
        const auto datagrams = datagrams_of(c);
        std::fill(record.begin(), record.end(), 0);
        fill_record_from_packet(record.data(), datagrams[1].data(), Ipv4{10, 0, 0, 1}, 1700000000u);
        hw.write(reinterpret_cast<const char*>(record.data()), static_cast<std::streamsize>(record.size()));
        for (std::size_t k = 2; k < datagrams.size(); ++k) {
            SoftwareItemReader reader(datagrams[k].data(), datagrams[k].size());
            SoftwareItem item;
            while (reader.next(item)) {
                std::fill(entry.begin(), entry.end(), 0);
                std::copy(datagrams[k].begin() + 1, datagrams[k].begin() + 7, entry.begin());
                put_text(entry.data(), sw_entry::display_name, item.name_text());
                put_text(entry.data(), sw_entry::display_version, item.version_text());
                sw.write(reinterpret_cast<const char*>(entry.data()), static_cast<std::streamsize>(entry.size()));
            }
        }
    }
    return hw && sw ? 0 : 1;
}

// send's words after SECONDS: [manifests | signed KEY] [updated PERCENT].
bool send_options(const std::vector<std::string>& words, bool& manifests, std::optional<SiteKey>& key) {
    std::size_t k = 0;
    if (k < words.size() && words[k] == "manifests") {
        manifests = true;
        ++k;
    } else if (k + 1 < words.size() && words[k] == "signed") {
        manifests = true;
        key = parse_key_text(words[k + 1]);
        if (!key) return false;
        k += 2;
    }
    if (k + 1 < words.size() && words[k] == "updated") {
        updated_percent = std::atoi(words[k + 1].c_str());
        k += 2;
    }
    if (k < words.size() && words[k] == "shared-names") {
        shared_names = true;
        ++k;
    }
    return k == words.size() && updated_percent >= 0 && updated_percent <= 100;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    bool manifests = false;
    std::optional<SiteKey> key;
    if (mode == "send" && argc >= 5 && send_options(std::vector<std::string>(argv + 5, argv + argc), manifests, key))
        return send(static_cast<std::uint16_t>(std::atoi(argv[2])), std::atoi(argv[3]), std::atof(argv[4]), manifests, key);
    if (mode == "count" && argc == 3) return count(argv[2]);
    if (mode == "make-store" && argc == 4) return make_store(argv[2], std::atoi(argv[3]));
    std::fprintf(stderr,
                 "usage: storm_sender send PORT CLIENTS SECONDS [manifests | signed KEY] [updated PERCENT] [shared-names] |"
                 " count DIR | make-store DIR CLIENTS\n");
    return 2;
}
