// The intake: reads one datagram from the server socket, classifies it by its
// first byte and files it into the store, then tells the console which record
// changed.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "protocol/packets.h"
#include "protocol/udp.h"
#include "server/intake/held_passes.h"
#include "server/intake/pending_ids.h"
#include "server/intake/signing_rules.h"
#include "server/store/store.h"

namespace tally {

// The counters of the Server Stats page: packets of each kind, datagrams of
// which a part was dropped, records and entries awaiting writing, passes
// dropped before all their datagrams came, datagrams refused by the signing
// rules.
enum class StatsCounter { hardware, software, id, dropped, unwritten, incomplete, refused };
constexpr std::size_t stats_counter_count = 7;

// Datagrams taken on one socket notification at most, before the server
// goes back to its message loop for the user's input and the repaints.
constexpr std::size_t datagrams_per_notification = 32;

// What one round of Intake::take_waiting did.
struct IntakeRound {
    std::size_t taken = 0;
    // The round took as many as it looked for without finding the socket
    // empty: more are likely waiting.
    bool backlog = false;
};

// What a datagram changed in a record: its user fields (an ID packet), its
// hardware fields (a hardware packet, which may also have added it), or the
// computer's software list.
enum class RecordChange { user_fields, hardware, software };

// Why the rest of a datagram was dropped: the tables could not grow, or the
// computer's software list is full.
enum class DropReason { out_of_memory, list_full };

// What the intake tells the console (console_core.h).
class ConsoleHooks {
public:
    virtual ~ConsoleHooks() = default;
    // Replaces the one-line status line.
    virtual void set_status(const std::string& text) = 0;
    // A packet counter of the Server Stats page has a new value.
    virtual void show_counter(StatsCounter counter, std::uint32_t value) = 0;
    // Record i changed: told once per datagram, after the tables hold the change.
    virtual void record_changed(std::uint32_t i, RecordChange change) = 0;
    // The rest of a datagram was dropped: told once for the datagram.
    virtual void datagram_dropped(DropReason reason) = 0;
    // After a datagram, while records or entries await writing and once
    // more when none do any longer: how many await writing.
    virtual void unwritten_changed(std::size_t count) = 0;
};

// Told of each whole datagram of a computer before it is filed (the change
// history keeps what the store held before a report).
class IntakeObserver {
public:
    virtual ~IntakeObserver() = default;
    virtual void datagram_arriving(std::uint8_t type, const std::uint8_t* mac, std::uint32_t now) = 0;
    // Every datagram of a pass of the computer was filed: its report is whole.
    virtual void pass_applied(const std::uint8_t* mac, std::uint32_t now) = 0;
};

// Where the intake sends receipts: the socket datagrams are received on.
class ReplyChannel {
public:
    virtual ~ReplyChannel() = default;
    virtual void reply(const Ipv4& to, std::uint16_t port, const std::uint8_t* data, std::size_t size) = 0;
};

// Bit of the reserved byte 7 of an Extension.Audit record: the computer
// sends pass manifests, so its datagrams are applied by whole passes.
constexpr std::uint8_t ext_flag_sends_manifests = 0x01;

class Intake {
public:
    // The signing rules are the live settings' (none given: no key, unsigned
    // reports accepted).
    Intake(Store& store, ConsoleHooks& console, const SigningSettings* signing = nullptr)
        : store_(store), console_(console), signing_(signing ? *signing : no_signing_) {}

    // Receipts go to this channel; without one, to the socket the manifest
    // was received on.
    void set_replies(ReplyChannel* channel) { replies_ = channel; }

    // Receives one datagram from the socket into the receive buffer and
    // handles it; a failed receive shows "Error %i".
    void receive_datagram(UdpSocket& socket);
    // Takes the datagrams waiting on a non-blocking socket, at most `limit`
    // (just one while the last rounds found no backlog), each filed and
    // written through before the next is received. Nothing waiting shows
    // nothing; a failed receive shows "Error %i" and ends the round.
    IntakeRound take_waiting(UdpSocket& socket, std::size_t limit = datagrams_per_notification);
    // Handles one datagram that arrived from sender at time now (seconds
    // since 1970). The bytes are read only within size.
    void handle_datagram(const std::uint8_t* data, std::size_t size, const Ipv4& sender, std::uint32_t now,
                         std::uint16_t sender_port = 0);
    // Drops passes held too long (counted as incomplete reports) and applies
    // datagrams that waited in vain for a manifest; also done before each datagram.
    void expire_passes(std::uint32_t now);
    std::uint32_t incomplete_reports() const { return incomplete_reports_; }
    const HeldPasses& held_passes() const { return passes_; }

    void set_observer(IntakeObserver* observer) { observer_ = observer; }

    std::uint32_t refused_packets() const { return refused_; }

private:
    enum class Received { datagram, nothing, failed };
    Received receive_one(UdpSocket& socket);
    // Handles a datagram as today; one of a signed pass skips the rules for
    // unsigned datagrams.
    void dispatch_datagram(const std::uint8_t* data, std::size_t size, const Ipv4& sender, std::uint32_t now,
                           bool of_signed_pass = false);
    // The signing rules for a manifest: false (refused, counted, shown) or
    // true, with the key that verified it, if it was signed.
    bool manifest_accepted(const std::uint8_t* data, std::size_t size, const Manifest& manifest, const Ipv4& sender,
                           std::uint32_t now, std::optional<SiteKey>& signed_with);
    // Whole-pass delivery: manifests, datagrams of held passes, receipts.
    void route_datagram(const std::uint8_t* data, std::size_t size, const Ipv4& sender, std::uint32_t now,
                        std::uint16_t sender_port);
    void handle_manifest(const std::uint8_t* data, std::size_t size, const Ipv4& sender, std::uint32_t now,
                         std::uint16_t sender_port);
    void apply_pass(HeldPass& pass, std::uint32_t now);
    bool sends_manifests(const Mac& mac);
    void mark_manifest_sender(const Mac& mac);
    void send_receipts();
    void expire_due(std::uint32_t now);
    void queue_receipt(const Mac& mac, const PassId& id, const Ipv4& to, std::uint16_t port,
                       const std::optional<SiteKey>& signed_with, std::uint32_t now, bool applied,
                       std::vector<std::uint8_t> missing);
    void after_datagram();
    void handle_id_packet(const std::uint8_t* p, const Ipv4& sender, std::uint32_t now);
    void handle_hardware_packet(const std::uint8_t* p, const Ipv4& sender, std::uint32_t now);
    // After a hardware packet filed the computer in record i: its held
    // packets, its product type.
    void complete_hardware_record(std::uint32_t i, const std::uint8_t* p, const Ipv4& sender, std::uint32_t now);
    // Stores the facts of an extension packet (its first 320 bytes) for record i.
    void file_extension(std::uint32_t i, const std::uint8_t* p, const Ipv4& sender, std::uint32_t now);
    void handle_extension_packet(const std::uint8_t* p, std::size_t size, const Ipv4& sender, std::uint32_t now);
    void handle_software_packet(const std::uint8_t* p, std::size_t size, const Ipv4& sender);
    void count(StatsCounter counter, std::uint32_t& value);
    // Whether the computer of this MAC has sent a validly signed pass.
    bool computer_signs(const std::uint8_t* mac) const;
    // Remembers in the computer's extension record that it signs its reports.
    void mark_signing(const std::uint8_t* mac);
    void refuse(Refusal refusal, const Ipv4& sender);

    static inline const SigningSettings no_signing_{};
    Store& store_;
    ConsoleHooks& console_;
    const SigningSettings& signing_;
    std::uint32_t refused_ = 0;
    IntakeObserver* observer_ = nullptr;
    std::array<std::uint8_t, receive_buffer_size> buffer_{};
    std::uint32_t hardware_packets_ = 0;
    std::uint32_t software_packets_ = 0;
    std::uint32_t id_packets_ = 0;
    bool writes_pending_ = false;  // records or entries awaited writing after the last datagram
    // take_waiting: whether the last round that looked found a backlog, and
    // the rounds since one looked.
    static constexpr std::uint32_t rounds_between_looks = 8;
    bool look_for_more_ = true;
    std::uint32_t rounds_since_look_ = 0;
    PendingIds pending_ids_;
    HeldPasses passes_;
    std::uint32_t incomplete_reports_ = 0;
    std::unordered_set<std::uint64_t> manifest_senders_;  // MACs known to send manifests
    struct QueuedReceipt {
        Ipv4 to{};
        std::uint16_t port = 0;
        std::vector<std::uint8_t> bytes;
    };
    std::vector<QueuedReceipt> receipts_;  // sent once the pass is written through
    ReplyChannel* replies_ = nullptr;
    UdpSocket* socket_ = nullptr;  // the socket being read, while take_waiting runs
    std::string item_name_, item_version_;  // a software item's texts, their room kept
};

// The status line when the side file cannot be written: the details of an
// extension packet are then not kept (%s: the sender).
constexpr char extension_not_kept_format[] =
    "System details received from %s not kept: Extension.Audit cannot be written";

// Stores the non-empty texts of an ID packet (cut to 24 characters) into a
// record's Asset Tag and Serial Number; an empty text keeps the stored value.
void apply_id_packet(std::uint8_t* record, const std::uint8_t* id_packet);

// Fills a hardware record from a hardware packet: every packet field but the
// type, size and socket version, memory sizes in MB (the packet's MB
// extension where it has one, else its byte counts rounded up), drive
// letters a-z raised to A-Z; the record's user fields and reserved bytes are
// left as they are.
void fill_record_from_packet(std::uint8_t* record, const std::uint8_t* packet, const Ipv4& sender, std::uint32_t now);

// Bytes rounded up to whole MB, without 32-bit overflow (4294967295 -> 4096).
inline std::uint32_t mb_from_32bit_bytes(std::uint32_t bytes) {
    return static_cast<std::uint32_t>((std::uint64_t(bytes) + 1048575u) / 1048576u);
}

}  // namespace tally
