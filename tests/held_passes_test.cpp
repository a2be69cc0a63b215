// Whole-pass delivery in the intake: manifests, datagrams held until their
// pass is complete, receipts, repeats, expiry and the bounds; the manifest
// and receipt layouts.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "protocol/manifest.h"
#include "server/intake/intake.h"
#include "test_support.h"

namespace tally {
namespace {

using test::RecordingConsole;
using test::RecordingNotifier;
using test::TempDir;
using Bytes = std::vector<std::uint8_t>;

const Ipv4 client_ip{10, 0, 0, 7};
const Mac mac_a{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x60};
constexpr std::uint32_t t0 = 1700000000;

struct Replies : ReplyChannel {
    std::vector<Receipt> receipts;
    std::vector<Bytes> raw;
    std::vector<std::uint16_t> ports;
    void reply(const Ipv4& to, std::uint16_t port, const std::uint8_t* data, std::size_t size) override {
        EXPECT_EQ(to, client_ip);
        Receipt r;
        ASSERT_TRUE(decode_receipt(data, size, r));
        receipts.push_back(r);
        raw.emplace_back(data, data + size);
        ports.push_back(port);
    }
    // The receipts as text: "A", or "N" and the missing positions ("N02").
    std::string text() const {
        std::string out;
        for (const Receipt& r : receipts) {
            if (!out.empty()) out += ' ';
            out += static_cast<char>(r.kind);
            for (std::uint8_t p : r.missing) out += static_cast<char>('0' + p);
        }
        return out;
    }
};

Bytes software_packet(std::uint8_t type, const Mac& mac, const std::string& name) {
    Bytes d{type};
    d.insert(d.end(), mac.begin(), mac.end());
    std::uint8_t buf[300];
    d.insert(d.end(), buf, buf + encode_software_item(buf, sizeof buf, name, true, "1.0"));
    return d;
}

// A pass of three datagrams: hardware packet, list start, continuation.
struct Pass {
    std::vector<Bytes> datagrams;
    Manifest manifest;
    Pass(const std::string& computer, const std::string& program, std::uint8_t id) {
        HardwareReport hw;
        hw.mac = mac_a;
        hw.computer_name = computer;
        const HardwarePacket h = encode_hardware_packet(hw);
        datagrams.emplace_back(h.begin(), h.end());
        datagrams.push_back(software_packet(packet_list_start, mac_a, program));
        datagrams.push_back(software_packet(packet_list_continuation, mac_a, program + " Tools"));
        manifest.mac = mac_a;
        manifest.pass_id.fill(id);
        for (const Bytes& d : datagrams) manifest.digests.push_back(datagram_digest(d.data(), d.size()));
    }
    Bytes manifest_bytes() const { return encode_manifest(manifest); }
};

class HeldPassTest : public ::testing::Test, protected test::IntakeRig {
protected:
    void SetUp() override {
        ASSERT_EQ(store.open_store(dir.path()), 0);
        intake.set_replies(&replies);
    }
    void handle(const Bytes& d, std::uint32_t now = t0) {
        intake.handle_datagram(d.data(), d.size(), client_ip, now, 40001);
    }
    // Plays a script: 'M' the manifest, '0'-'9' a datagram by position,
    // '+' ten seconds later, 'x' the expiry timer.
    void play(const Pass& pass, const std::string& script) {
        for (char c : script) {
            if (c == 'M') handle(pass.manifest_bytes(), now);
            else if (c == '+') now += 10;
            else if (c == 'x') intake.expire_passes(now);
            else handle(pass.datagrams[static_cast<std::size_t>(c - '0')], now);
        }
    }
    std::string computer() {
        auto i = store.find_record(mac_a.data());
        return i ? get_text(store.record(*i).bytes() + hw_record::computer_name.offset, 50) : std::string("-");
    }
    std::vector<std::string> programs() const { return names_of(mac_a); }

    Replies replies;
    std::uint32_t now = t0;
};

struct ScriptCase {
    const char* name;
    const char* script;
    const char* receipts;
    const char* computer;         // after the script; "-" none
    std::uint32_t incomplete;
};

TEST_F(HeldPassTest, ScriptsOfOneFirstPass) {
    const ScriptCase cases[] = {
        {"in order", "M012", "N012 A", "PC-1", 0},
        {"out of order", "M201", "N012 A", "PC-1", 0},
        {"missing, asked again", "M02M", "N012 N1", "-", 0},
        {"missing, then sent", "M02M1", "N012 N1 A", "PC-1", 0},
        {"repeated datagram", "M0012", "N012 A", "PC-1", 0},
        {"repeated pass", "M012M", "N012 A A", "PC-1", 0},
        {"late repeat after the pass", "M0121", "N012 A", "PC-1", 0},
        {"first pass, manifest late: applied as an earlier client's", "012M", "N012", "PC-1", 0},
        {"expired by the timer", "M01+x2", "N012", "-", 1},
        {"expired by the next datagram", "M01+2", "N012", "-", 1},
    };
    for (const ScriptCase& c : cases) {
        TempDir d;
        RecordingNotifier n;
        RecordingConsole rc;
        Store s{n};
        ASSERT_EQ(s.open_store(d.path()), 0);
        Intake in{s, rc};
        Replies r;
        in.set_replies(&r);
        Pass pass("PC-1", "Editor", 1);
        std::uint32_t at = t0;
        for (char ch : std::string(c.script)) {
            const Bytes* b = ch == 'M' ? nullptr : ch >= '0' && ch <= '9' ? &pass.datagrams[ch - '0'] : nullptr;
            const Bytes m = pass.manifest_bytes();
            if (ch == '+') at += 10;
            else if (ch == 'x') in.expire_passes(at);
            else in.handle_datagram(b ? b->data() : m.data(), b ? b->size() : m.size(), client_ip, at, 40001);
        }
        EXPECT_EQ(r.text(), c.receipts) << c.name;
        auto i = s.find_record(mac_a.data());
        EXPECT_EQ(i ? get_text(s.record(*i).bytes() + hw_record::computer_name.offset, 50) : "-", c.computer) << c.name;
        EXPECT_EQ(rc.counters[static_cast<int>(StatsCounter::incomplete)], c.incomplete) << c.name;
        if (i) EXPECT_EQ(s.entry_offsets_of(mac_a.data()).size(), 2u) << c.name;
        EXPECT_EQ(in.held_passes().pass_count(), 0u + (std::string(c.receipts).back() != 'A' && !c.incomplete)) << c.name;
    }
}

TEST_F(HeldPassTest, ASecondPassReplacesTheDataOnlyWhenComplete) {
    play(Pass("PC-1", "Editor", 1), "M012");
    const Pass second("PC-2", "Viewer", 2);
    play(second, "M01");
    EXPECT_EQ(computer(), "PC-1");
    EXPECT_EQ(programs(), (std::vector<std::string>{"Editor", "Editor Tools"}));
    // Expired: the computer keeps its last complete data.
    play(second, "+x2");
    EXPECT_EQ(computer(), "PC-1");
    EXPECT_EQ(programs(), (std::vector<std::string>{"Editor", "Editor Tools"}));
    EXPECT_EQ(console.counters[static_cast<int>(StatsCounter::incomplete)], 1u);
    // The lone datagram of a manifest sender waits for a manifest, then is
    // applied as an earlier client's would be.
    play(second, "+x");
    EXPECT_EQ(programs(), (std::vector<std::string>{"Editor", "Editor Tools", "Viewer Tools"}));
    const Pass third("PC-3", "Player", 3);
    play(third, "M210");
    EXPECT_EQ(computer(), "PC-3");
    EXPECT_EQ(programs(), (std::vector<std::string>{"Player", "Player Tools"}));
    EXPECT_EQ(replies.ports.back(), 40001);
}

// A client that gave up on a pass runs the next one while the first is
// still held: datagrams that did not change (the same bytes in both lists)
// go to the newer pass, which completes; the older one is dropped whole
// then, so that no late datagram completes it over the newer data.
TEST_F(HeldPassTest, APassGivenUpDoesNotKeepTheDatagramsItSharesWithTheNext) {
    const Pass given_up("PC-1", "Editor", 1);
    play(given_up, "M01");
    const Pass next("PC-1", "Editor", 2);  // the same datagrams, another pass
    play(next, "M012");
    EXPECT_EQ(replies.text(), "N012 N012 A");
    EXPECT_EQ(computer(), "PC-1");
    EXPECT_EQ(console.counters[static_cast<int>(StatsCounter::incomplete)], 1u) << "the pass given up";
    EXPECT_EQ(intake.held_passes().pass_count(), 0u);
    const Pass changed("PC-2", "Viewer", 3);
    play(changed, "M012");
    play(given_up, "2M");  // late: changes nothing
    EXPECT_EQ(computer(), "PC-2");
    EXPECT_EQ(programs(), (std::vector<std::string>{"Viewer", "Viewer Tools"}));
}

TEST_F(HeldPassTest, ManifestSenderIsRememberedInTheExtensionRecord) {
    play(Pass("PC-1", "Editor", 1), "M012");
    const auto i = store.find_record(mac_a.data());
    ASSERT_TRUE(i);
    EXPECT_EQ(store.extension_flags(*i) & ext_flag_sends_manifests, ext_flag_sends_manifests);
    // A restarted server holds the next pass's datagrams without a manifest too.
    Store reopened{notifier};
    ASSERT_EQ(reopened.open_store(dir.path()), 0);
    Intake fresh{reopened, console};
    const Pass second("PC-2", "Viewer", 2);
    fresh.handle_datagram(second.datagrams[0].data(), second.datagrams[0].size(), client_ip, t0, 40001);
    EXPECT_EQ(get_text(reopened.record(*i).bytes() + hw_record::computer_name.offset, 50), "PC-1");
}

TEST_F(HeldPassTest, EarlierClientsAreAppliedAsTheyCome) {
    const Pass pass("PC-1", "Editor", 1);
    play(pass, "0");
    EXPECT_EQ(computer(), "PC-1");
    EXPECT_TRUE(replies.receipts.empty());
}

TEST_F(HeldPassTest, ManifestsThatAreNoPassChangeNothing) {
    const Pass pass("PC-1", "Editor", 1);
    Bytes empty = pass.manifest_bytes();
    empty.resize(manifest_packet::digests_offset);
    empty[manifest_packet::count.offset] = 0;
    put_u32(empty.data() + manifest_packet::packet_size.offset, 32);
    Bytes too_many = pass.manifest_bytes();
    too_many[manifest_packet::count.offset] = 81;
    Bytes short_of_digests = pass.manifest_bytes();
    short_of_digests.pop_back();
    Bytes size_field_short = pass.manifest_bytes();
    put_u32(size_field_short.data() + manifest_packet::packet_size.offset, 40);
    Bytes signed_without_block = pass.manifest_bytes();
    signed_without_block[manifest_packet::flags.offset] = flag_signed;
    for (const Bytes& m : {empty, too_many, short_of_digests, size_field_short, signed_without_block}) {
        handle(m);
        EXPECT_EQ(console.status(), "Unknown Packet Recieved");
    }
    EXPECT_TRUE(replies.receipts.empty());
    EXPECT_EQ(intake.held_passes().pass_count(), 0u);
    // Not a manifest sender: its datagrams are applied as they come.
    play(pass, "0");
    EXPECT_EQ(computer(), "PC-1");
}

TEST_F(HeldPassTest, DatagramTheManifestDoesNotListWaitsForAnotherManifest) {
    const Pass pass("PC-1", "Editor", 1);
    play(pass, "M012");
    const Pass other("PC-9", "Other", 9);
    play(other, "1");  // listed by no pass: held briefly
    EXPECT_EQ(programs(), (std::vector<std::string>{"Editor", "Editor Tools"}));
    play(other, "M02");  // its manifest comes and takes it over
    EXPECT_EQ(computer(), "PC-9");
    EXPECT_EQ(programs(), (std::vector<std::string>{"Other", "Other Tools"}));
}

TEST_F(HeldPassTest, HeldPassesAreBoundedAndTheOldestGoes) {
    for (std::size_t k = 0; k < max_held_passes + 3; ++k) {
        Pass p("PC", "Editor", 0);
        put_u32(p.manifest.pass_id.data(), static_cast<std::uint32_t>(k));
        handle(p.manifest_bytes());
    }
    EXPECT_EQ(intake.held_passes().pass_count(), max_held_passes);
    EXPECT_EQ(console.counters[static_cast<int>(StatsCounter::incomplete)], 3u);
}

TEST_F(HeldPassTest, HeldBytesAreBounded) {
    // Passes of 80 listed datagrams, each held but one: the oldest go.
    const Bytes big = software_packet(packet_list_continuation, mac_a, std::string(250, 'x'));
    const std::size_t passes = max_held_bytes / (79 * big.size()) + 3;
    for (std::size_t k = 0; k < passes; ++k) {
        Manifest m;
        m.mac = mac_a;
        put_u32(m.pass_id.data(), static_cast<std::uint32_t>(k));
        std::vector<Bytes> datagrams;
        for (int d = 0; d < 80; ++d) {
            Bytes b = big;
            put_u32(b.data() + 20, static_cast<std::uint32_t>(k * 80 + d));
            m.digests.push_back(datagram_digest(b.data(), b.size()));
            datagrams.push_back(b);
        }
        handle(encode_manifest(m));
        for (int d = 0; d < 79; ++d) handle(datagrams[d]);
    }
    EXPECT_LE(intake.held_passes().held_bytes(), max_held_bytes + 79 * big.size());
    EXPECT_GE(console.counters[static_cast<int>(StatsCounter::incomplete)], 2u);
}

// The packet has this size, the head of this type and computer A, and these
// values (offset, byte) in its body.
::testing::AssertionResult packet_of_a(const Bytes& b, std::size_t size, std::uint8_t type,
                                       std::initializer_list<std::pair<std::size_t, int>> bytes) {
    if (b.size() != size) return ::testing::AssertionFailure() << b.size() << " bytes, not " << size;
    ::testing::AssertionResult head = test::has_head(b.data(), b.size(), type, mac_a);
    if (!head) return head;
    for (const auto& at : bytes) {
        if (b[at.first] != at.second) {
            return ::testing::AssertionFailure() << "byte " << at.first << " is " << int(b[at.first]) << ", not "
                                                 << at.second;
        }
    }
    return ::testing::AssertionSuccess();
}

TEST(ManifestLayout, EncodesEveryFieldAtItsOffset) {
    Manifest m;
    m.mac = mac_a;
    m.pass_id.fill(0x11);
    m.digests = {Digest{}, Digest{}};
    m.digests[1].fill(0x22);
    const Bytes b = encode_manifest(m);
    ASSERT_TRUE(packet_of_a(b, 64, 'M', {{12, 0x11}, {27, 0x11}, {28, 2}, {29, 0}, {30, 0}, {31, 0}, {48, 0x22}}));
    // Bytes beyond the digests, up to the packet size, are ignored.
    Bytes longer = b;
    longer.resize(80, 0xEE);
    put_u32(longer.data() + 8, 80);
    Manifest back;
    ASSERT_TRUE(decode_manifest(longer.data(), longer.size(), back));
    EXPECT_EQ(back.digests, m.digests);

    Receipt r;
    r.kind = receipt_held;
    r.mac = mac_a;
    r.pass_id.fill(0x33);
    r.missing = {0, 5};
    const Bytes rb = encode_receipt(r);
    ASSERT_TRUE(packet_of_a(rb, 34, 'N', {{12, 0x33}, {28, 2}, {32, 0}, {33, 5}}));
    r.kind = receipt_applied;
    EXPECT_EQ(encode_receipt(r).size(), 32u);  // never a request's 12 or 13 bytes
    Receipt cut;
    EXPECT_FALSE(decode_receipt(rb.data(), 33, cut));
}

// A server with a site key: signed passes, forged and replayed ones.
class SignedPassTest : public HeldPassTest {
protected:
    void SetUp() override {
        HeldPassTest::SetUp();
        key.fill(0x5A);
        signing.keys.current = key;
        guarded.set_replies(&replies);
    }
    Bytes signed_manifest(const Pass& pass, const SiteKey& with, std::uint32_t at = t0) {
        Bytes m = pass.manifest_bytes();
        sign_pass_datagram(m, m.size(), with, at);
        return m;
    }
    void offer(const Bytes& d, const Ipv4& from = client_ip) { guarded.handle_datagram(d.data(), d.size(), from, now, 40001); }
    void offer_pass(const Pass& pass, const Bytes& manifest) {
        offer(manifest);
        for (const Bytes& d : pass.datagrams) offer(d);
    }
    bool signs() { return (store.extension_flags(*store.find_record(mac_a.data())) & ext_record::flag_signs_reports) != 0; }

    SiteKey key;
    SigningSettings signing;
    Intake guarded{store, console, &signing};
};

TEST_F(SignedPassTest, AValidSignedPassIsAppliedAndItsReceiptSigned) {
    const Pass pass("PC-SIGNED", "Editor", 1);
    offer_pass(pass, signed_manifest(pass, key));
    EXPECT_EQ(computer(), "PC-SIGNED");
    EXPECT_TRUE(signs());
    ASSERT_EQ(replies.text(), "N012 A");
    const Bytes& a = replies.raw.back();
    EXPECT_EQ(a[7] & 1, 1);
    EXPECT_TRUE(signature_verifies(a.data(), 32, key));
    // The same manifest again (a replay within the window): acknowledged
    // again, applied no second time.
    offer(signed_manifest(pass, key));
    EXPECT_EQ(replies.text(), "N012 A A");
    EXPECT_EQ(programs(), (std::vector<std::string>{"Editor", "Editor Tools"}));
}

TEST_F(SignedPassTest, ForgedPassesChangeNothingAndAreCounted) {
    const Pass real("PC-SIGNED", "Editor", 1);
    offer_pass(real, signed_manifest(real, key));
    const Ipv4 stranger{127, 0, 0, 77};
    SiteKey other;
    other.fill(0x11);
    const Pass forged("EVIL-PC", "Totally Legit Tool", 2);
    Bytes tampered = signed_manifest(forged, key);
    tampered[40] ^= 1;  // a digest changed after signing
    struct Case {
        const char* name;
        Bytes manifest;
    } cases[] = {
        {"no key", forged.manifest_bytes()},
        {"wrong key", signed_manifest(forged, other)},
        {"a byte of the manifest changed", tampered},
        {"signed 10 minutes ago", signed_manifest(forged, key, t0 - 600)},
    };
    std::uint32_t refused = 0;
    for (const Case& c : cases) {
        guarded.handle_datagram(c.manifest.data(), c.manifest.size(), stranger, now, 40001);
        EXPECT_EQ(guarded.refused_packets(), ++refused) << c.name;
        for (const Bytes& d : forged.datagrams) guarded.handle_datagram(d.data(), d.size(), stranger, now, 40001);
    }
    now += 20;
    guarded.expire_passes(now);  // the datagrams no manifest took, applied alone: refused
    EXPECT_EQ(computer(), "PC-SIGNED");
    EXPECT_EQ(programs(), (std::vector<std::string>{"Editor", "Editor Tools"}));
    EXPECT_GT(guarded.refused_packets(), refused);
    EXPECT_EQ(console.status().rfind("Refused packet from 127.0.0.77: ", 0), 0u) << console.status();
    // One byte changed in a datagram of a signed pass: its digest is not the
    // listed one, so the pass stays incomplete and is dropped whole.
    const Pass next("PC-SIGNED-2", "Editor", 3);
    offer(signed_manifest(next, key, now));
    Bytes changed = next.datagrams[0];
    changed[20] ^= 1;
    offer(changed);
    offer(next.datagrams[1]);
    offer(next.datagrams[2]);
    now += 20;
    guarded.expire_passes(now);
    EXPECT_EQ(computer(), "PC-SIGNED");
}

}  // namespace
}  // namespace tally
