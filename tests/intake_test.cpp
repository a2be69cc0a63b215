// The intake: what each kind of datagram does to the tables, the database
// files, the counters and the status line; datagrams that are short, cut off
// or too large; receiving over a real loopback socket.
#include <gtest/gtest.h>

#include <cstring>

#include "protocol/udp.h"
#include "server/intake/intake.h"
#include "test_support.h"

namespace tally {
namespace {

using test::read_file;
using test::RecordingConsole;
using test::RecordingNotifier;
using test::TempDir;

using Changes = std::vector<std::pair<std::uint32_t, RecordChange>>;

const Ipv4 sender{10, 0, 0, 5};
const Mac mac_a{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
const Mac mac_b{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5F};

HardwareReport report_for(const Mac& mac, const std::string& name) { return test::desktop_report(mac, name); }

std::vector<std::uint8_t> software_packet(std::uint8_t type, const Mac& mac,
                                          const std::vector<std::pair<std::string, std::string>>& items) {
    std::vector<std::uint8_t> d{type};
    d.insert(d.end(), mac.begin(), mac.end());
    for (const auto& [name, version] : items) {
        std::uint8_t buf[600];
        std::size_t n = encode_software_item(buf, sizeof buf, name, !version.empty(), version);
        d.insert(d.end(), buf, buf + n);
    }
    return d;
}

class IntakeTest : public ::testing::Test, protected test::IntakeRig {
protected:
    void SetUp() override { ASSERT_EQ(store.open_store(dir.path()), 0); }
    template <typename Bytes>
    void handle(const Bytes& d, const Ipv4& from = sender, std::uint32_t now = 1700000000) {
        intake.handle_datagram(d.data(), d.size(), from, now);
    }
    std::vector<std::uint8_t> hardware_file() { return read_file(dir.file("Hardware.Audit")); }
    std::vector<std::uint8_t> software_file() { return read_file(dir.file("Software.Audit")); }
};

TEST_F(IntakeTest, HardwarePacketFromANewComputerAppendsARecord) {
    handle(encode_hardware_packet(report_for(mac_a, "PC-A")));
    EXPECT_EQ(console.status(), "Adding hardware record for 10.0.0.5");
    EXPECT_EQ(console.counters[0], 1u);
    EXPECT_EQ(console.changes, (Changes{{0, RecordChange::hardware}}));
    ASSERT_EQ(store.record_count(), 1u);

    auto file = hardware_file();
    ASSERT_EQ(file.size(), 808u);
    const std::uint8_t* r = file.data();
    EXPECT_EQ(get_u32(r + 0), 1700000000u);
    EXPECT_EQ(std::memcmp(r + 4, mac_a.data(), 6), 0);
    EXPECT_EQ(std::memcmp(r + 12, sender.data(), 4), 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(r + 16), "PC-A");
    EXPECT_EQ(r[68], 13);
    EXPECT_STREQ(reinterpret_cast<const char*>(r + 69), "GenuineIntel");
    EXPECT_EQ(get_u32(r + 84), 0x0F29u);
    EXPECT_FLOAT_EQ(get_f32(r + 88), 2992.6f);
    EXPECT_EQ(get_u32(r + 92), 512u);
    EXPECT_EQ(get_u32(r + 96), 1u) << "1 byte of page file is 1 MB";
    EXPECT_EQ(get_u32(r + 100), 2u);
    EXPECT_EQ(r[104], 5);
    EXPECT_EQ(r[105], 1);
    EXPECT_EQ(get_u16(r + 106), 2600);
    EXPECT_EQ(get_u32(r + 108), 32u);
    EXPECT_EQ(get_u32(r + 112), 1024u);
    EXPECT_EQ(get_u32(r + 116), 768u);
    EXPECT_EQ(get_u16(r + 120), 75);
    EXPECT_EQ(r[123], 'C');
    EXPECT_EQ(get_u32(r + 152), 3u);
    EXPECT_EQ(get_u64(r + 256), 12800ULL << 20);
    EXPECT_EQ(get_u64(r + 464), 40960ULL << 20);
    EXPECT_EQ(get_u32(r + 672), 176527u);
    for (int off = 676; off < 776; ++off) ASSERT_EQ(r[off], 0) << "user fields empty at " << off;
    EXPECT_STREQ(reinterpret_cast<const char*>(r + 776), "alice");
    // Everything that is not a field of the packet stays zero.
    for (int off : {10, 11, 82, 83, 149, 150, 151, 802, 803, 807}) EXPECT_EQ(r[off], 0) << off;
}

TEST_F(IntakeTest, KnownComputerKeepsItsUserFieldsAndMovesItsAddress) {
    handle(encode_hardware_packet(report_for(mac_a, "PC-A")));
    handle(encode_hardware_packet(report_for(mac_b, "PC-B")));
    ASSERT_EQ(store.update_custom_fields(0, "cf1", "cf2", "SER", "TAG"), 0);
    console.changes.clear();

    HardwareReport changed = report_for(mac_a, "PC-A2");
    changed.ram_bytes = 0xFFFFFFFFu;
    handle(encode_hardware_packet(changed), Ipv4{10, 0, 0, 9});
    EXPECT_EQ(console.status(), "Updating hardware record for 10.0.0.9");
    EXPECT_EQ(console.changes, (Changes{{0, RecordChange::hardware}})) << "told once";
    EXPECT_EQ(store.record_count(), 2u);
    RecordView r = store.record(0);
    EXPECT_EQ(r.computer_name(), "PC-A2");
    EXPECT_EQ(r.ram_mb(), 4096u);
    EXPECT_EQ(format_ipv4(r.ip_address()), "10.0.0.9");
    EXPECT_EQ(r.custom_field_1(), "cf1");
    EXPECT_EQ(r.serial_number(), "SER");
    EXPECT_EQ(r.asset_tag(), "TAG");
    auto file = hardware_file();
    ASSERT_EQ(file.size(), 2u * 808);
    EXPECT_EQ(std::memcmp(file.data(), r.bytes(), 808), 0);
}

TEST_F(IntakeTest, DeletedRecordIsTakenByTheNextNewComputer) {
    handle(encode_hardware_packet(report_for(mac_a, "PC-A")));
    handle(encode_hardware_packet(report_for(mac_b, "PC-B")));
    store.delete_record(0);
    const Mac mac_c{9, 9, 9, 9, 9, 9};
    handle(encode_hardware_packet(report_for(mac_c, "PC-C")));
    EXPECT_EQ(console.status(), "Updating hardware record for 10.0.0.5");
    EXPECT_EQ(store.record_count(), 2u);
    EXPECT_EQ(store.record(0).computer_name(), "PC-C");
    EXPECT_EQ(hardware_file().size(), 2u * 808);
}

TEST_F(IntakeTest, ZeroMacTakesTheFirstFreeRecordAndStaysFree) {
    handle(encode_hardware_packet(report_for(Mac{}, "NOADAPTER")));
    EXPECT_EQ(console.status(), "Adding hardware record for 10.0.0.5");
    ASSERT_EQ(store.record_count(), 1u);
    EXPECT_TRUE(store.record(0).is_free());
    handle(encode_hardware_packet(report_for(Mac{}, "NOADAPTER")));
    EXPECT_EQ(console.status(), "Updating hardware record for 10.0.0.5");
    EXPECT_EQ(store.record_count(), 1u);
}

TEST_F(IntakeTest, IdPacketUpdatesOnlyNonEmptyFieldsCutTo24) {
    handle(encode_hardware_packet(report_for(mac_a, "PC-A")));
    store.update_custom_fields(0, "", "", "OLD-SERIAL", "OLD-TAG");
    const std::string before = console.status();
    handle(encode_id_packet(mac_a, "", std::string(26, 'S')));
    EXPECT_EQ(console.counters[2], 1u);
    EXPECT_EQ(console.status(), before) << "an ID packet leaves the status line";
    EXPECT_EQ(store.record(0).serial_number(), std::string(24, 'S'));
    EXPECT_EQ(store.record(0).asset_tag(), "OLD-TAG");
    EXPECT_EQ(std::memcmp(hardware_file().data(), store.record(0).bytes(), 808), 0);

    // Unknown computer with no free record: counted, nothing stored.
    handle(encode_id_packet(mac_b, "T", "S"));
    EXPECT_EQ(console.counters[2], 2u);
    EXPECT_EQ(store.record_count(), 1u);
}

TEST_F(IntakeTest, IdPacketBeforeTheFirstHardwarePacketLandsInTheRecordItTakes) {
    handle(encode_hardware_packet(report_for(mac_a, "PC-A")));
    store.delete_record(0);
    handle(encode_id_packet(mac_b, "TAG-B", "SER-B"));
    EXPECT_TRUE(store.record(0).is_free());
    handle(encode_hardware_packet(report_for(mac_b, "PC-B")));
    EXPECT_EQ(store.record(0).asset_tag(), "TAG-B");
    EXPECT_EQ(store.record(0).serial_number(), "SER-B");
}

TEST_F(IntakeTest, MemoryInMegabytesFromTheExtensionElseFromTheByteCounts) {
    const struct {
        std::uint32_t bytes, mb_extension, pagefile_extension;
        std::uint32_t ram_mb, pagefile_mb;
    } cases[] = {
        {0, 0, 0, 0, 1},                                  // an earlier client: the byte counts
        {0xFFFFFFFFu, 0, 0, 4096, 1},                     // an earlier client above 4 GB
        {0xFFFFFFFFu, 4096, 6144, 4096, 6144},            // 4 GB - 1 and 4 GB
        {0xFFFFFFFFu, 65536, 73728, 65536, 73728},        // 64 GB
        {0xFFFFFFFFu, 2097152, 0xFFFFFF, 2097152, 0xFFFFFF},  // 2 TB
    };
    for (const auto& c : cases) {
        HardwareReport r = report_for(mac_a, "PC-A");
        r.ram_bytes = c.bytes;
        r.ram_mb = c.mb_extension;
        r.pagefile_mb = c.pagefile_extension;
        handle(encode_hardware_packet(r));
        EXPECT_EQ(store.record(0).ram_mb(), c.ram_mb) << c.mb_extension;
        EXPECT_EQ(get_u32(store.record(0).bytes() + 96), c.pagefile_mb) << c.mb_extension;
    }
}

TEST_F(IntakeTest, IdPacketOfAnUnknownComputerIsHeldForItsHardwarePacket) {
    const Mac mac_c{9, 9, 9, 9, 9, 9};
    // No free record: the ID packet used to be lost.
    handle(encode_id_packet(mac_a, "TAG-A", "SER-A"));
    EXPECT_EQ(console.counters[2], 1u);
    EXPECT_EQ(store.record_count(), 0u);
    handle(encode_hardware_packet(report_for(mac_a, "PC-A")));
    EXPECT_EQ(store.record(0).serial_number(), "SER-A");
    EXPECT_EQ(std::memcmp(hardware_file().data(), store.record(0).bytes(), 808), 0);

    // With a free record: another new computer that takes it gets nothing.
    handle(encode_hardware_packet(report_for(mac_b, "PC-B")));
    store.delete_record(0);
    handle(encode_id_packet(mac_b, "TAG-B", "SER-B"), sender, 1700000000);
    handle(encode_id_packet(mac_a, "", "SER-A2"), sender, 1700000000);
    EXPECT_TRUE(store.record(0).is_free());
    handle(encode_hardware_packet(report_for(mac_c, "PC-C")));
    EXPECT_EQ(store.record(0).serial_number(), "");
    EXPECT_EQ(store.record(1).serial_number(), "SER-B") << "a known computer's ID packet applies at once";
    // Held for a short time only.
    handle(encode_hardware_packet(report_for(mac_a, "PC-A")), sender, 1700000000 + 61);
    EXPECT_EQ(store.record(2).computer_name(), "PC-A");
    EXPECT_EQ(store.record(2).serial_number(), "");
}

TEST_F(IntakeTest, ExtensionPacketFillsTheSideRecordOfItsComputer) {
    SystemFacts facts;
    facts.processor_name = "Intel(R) Core(TM) i7";
    facts.model = "Model 9";
    facts.bios_serial = "BIOS-SN";
    auto packet_of = [&](const Mac& m) {
        const ExtensionPacket p = encode_extension_packet(m, facts);
        return std::vector<std::uint8_t>(p.begin(), p.end());
    };
    std::vector<std::uint8_t> ext_a = packet_of(mac_a);
    handle(ext_a);
    EXPECT_EQ(console.status(), "System details received from 10.0.0.5");
    EXPECT_EQ(read_file(dir.file("Extension.Audit")).size(), 0u) << "an unknown computer: held, not stored";

    HardwareReport server = report_for(mac_a, "PC-A");
    server.product_type = 3;
    handle(encode_hardware_packet(server));
    ExtensionRecord held;
    ASSERT_TRUE(store.extension(0, held)) << "the held packet applies with the hardware packet";
    EXPECT_EQ(held.facts.model, "Model 9");
    EXPECT_EQ(held.product_type, 3);
    handle(encode_hardware_packet(report_for(mac_b, "PC-B")));
    std::vector<std::uint8_t> ext_b = packet_of(mac_b);
    ext_b.resize(400, 0xEE);  // a later client's longer packet
    handle(ext_b);
    ext_a.resize(319);
    handle(ext_a);
    EXPECT_EQ(console.status(), "Unknown Packet Recieved") << "a short one";
    ext_a.resize(320);
    handle(ext_a);
    ExtensionRecord got;
    ASSERT_TRUE(store.extension(0, got));
    EXPECT_EQ(got.product_type, 3) << "the product type of the hardware packet stays";
    EXPECT_EQ(got.facts.model, "Model 9");
    EXPECT_EQ(got.last_update, 1700000000u);
    ASSERT_TRUE(store.extension(1, got));
    EXPECT_EQ(got.facts.bios_serial, "BIOS-SN");
    EXPECT_EQ(got.product_type, 0);
    const std::vector<std::uint8_t> side = read_file(dir.file("Extension.Audit"));
    ASSERT_EQ(side.size(), 2u * 320);
    EXPECT_EQ(side[6], 3);
    EXPECT_EQ(std::memcmp(side.data() + 320 + 128, "Model 9", 8), 0);

    // Deleting frees the side record; the next computer in that record
    // starts without facts.
    store.delete_record(0);
    EXPECT_EQ(read_file(dir.file("Extension.Audit"))[6], 0);
    const Mac mac_c{9, 9, 9, 9, 9, 9};
    handle(encode_hardware_packet(report_for(mac_c, "PC-C")));
    EXPECT_FALSE(store.extension(0, got));
}

TEST_F(IntakeTest, ListStartReplacesTheListAndContinuationAdds) {
    std::vector<std::pair<std::string, std::string>> forty;
    for (int k = 0; k < 40; ++k) forty.push_back({"old" + std::to_string(k), "1"});
    handle(software_packet(packet_list_start, mac_a, forty));
    handle(software_packet(packet_list_start, mac_b, {{"other", ""}}));
    EXPECT_EQ(store.entry_count(), 41u);
    EXPECT_EQ(console.status(), "Software listing packet recieved from 10.0.0.5");

    handle(software_packet(packet_list_start, mac_a, {{"new1", "2.0"}, {"new2", ""}}));
    EXPECT_EQ(names_of(mac_a), (std::vector<std::string>{"new1", "new2"}));
    EXPECT_EQ(store.entry_count(), 41u) << "the freed entries are reused";
    EXPECT_EQ(store.find_free_entry(), 2u * 102);
    handle(software_packet(packet_list_continuation, mac_a, {{"new3", "3"}}));
    EXPECT_EQ(names_of(mac_a), (std::vector<std::string>{"new1", "new2", "new3"}));
    EXPECT_EQ(console.counters[1], 4u);

    auto file = software_file();
    ASSERT_EQ(file.size(), 41u * 102);
    EXPECT_EQ(std::memcmp(file.data(), store.entry(0).bytes(), 102), 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(file.data() + 6), "new1");
    EXPECT_STREQ(reinterpret_cast<const char*>(file.data() + 70), "2.0");
    // new2 had no version: the reused entry's old version is gone.
    EXPECT_EQ(file[102 + 70], 0);
    // A freed entry keeps its name bytes but has no owner and no version.
    EXPECT_TRUE(mac_is_zero(file.data() + 3 * 102));
    EXPECT_EQ(file[3 * 102 + 70], 0);
}

TEST_F(IntakeTest, LongTextsAreCutWithoutTouchingNeighbours) {
    handle(software_packet(packet_list_start, mac_a,
                           {{std::string(70, 'N'), std::string(40, 'V')}, {"next", "1.0"}}));
    auto names = names_of(mac_a);
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0], std::string(63, 'N'));
    EXPECT_EQ(store.entry(0).display_version(), std::string(31, 'V'));
    EXPECT_EQ(store.entry(102).display_name(), "next");
    EXPECT_EQ(store.entry(102).display_version(), "1.0");
}

TEST_F(IntakeTest, WalkEndsAtZeroLengthAndKeepsTheLastVersionedItem) {
    auto d = software_packet(packet_list_start, mac_a, {{"one", ""}});
    d.insert(d.end(), {'L', 0, 'L', 2, 'x', 0});
    handle(d);
    EXPECT_EQ(names_of(mac_a), std::vector<std::string>{"one"});

    handle(software_packet(packet_list_continuation, mac_b, {{"a", ""}, {"last", "9.9"}}));
    EXPECT_EQ(names_of(mac_b), (std::vector<std::string>{"a", "last"}));
}

TEST_F(IntakeTest, ShortDatagramsAreNotAuditPacketsAndStoreNothingStale) {
    // A good hardware packet first, so the receive buffer and the record
    // hold data that a short packet must not bring back.
    auto good = encode_hardware_packet(report_for(mac_a, "PC-A"));
    handle(good);
    auto before = hardware_file();
    std::vector<std::uint8_t> truncated(good.begin(), good.begin() + 703);
    handle(truncated);
    EXPECT_EQ(console.status(), "Unknown Packet Recieved");
    auto id = encode_id_packet(mac_a, "T", "S");
    handle(std::vector<std::uint8_t>(id.begin(), id.begin() + 63));
    handle(std::vector<std::uint8_t>{});
    handle(std::vector<std::uint8_t>{packet_list_start, 0, 0x1A, 0x2B});
    handle(std::vector<std::uint8_t>{'?', 1, 2, 3});
    EXPECT_EQ(console.status(), "Unknown Packet Recieved");
    EXPECT_EQ(console.counters[0], 1u);
    EXPECT_EQ(console.counters[1], 0u);
    EXPECT_EQ(console.counters[2], 0u);
    EXPECT_EQ(hardware_file(), before);
    EXPECT_EQ(store.record(0).asset_tag(), "");
}

TEST_F(IntakeTest, SoftwareItemCutOffByTheDatagramEndIsDropped) {
    auto d = software_packet(packet_list_start, mac_a, {{"whole", "1"}, {"cut", "2.0"}});
    d.resize(d.size() - 2);
    handle(d);
    EXPECT_EQ(names_of(mac_a), std::vector<std::string>{"whole"});
}

TEST_F(IntakeTest, HandledRecordsAreInTheFilesWithoutClosingThem) {
    // Another reader sees every record at once: nothing waits in a buffer.
    handle(encode_hardware_packet(report_for(mac_a, "PC-A")));
    handle(software_packet(packet_list_start, mac_a, {{"prog", "1"}}));
    EXPECT_EQ(hardware_file().size(), 808u);
    EXPECT_EQ(software_file().size(), 102u);
    EXPECT_EQ(console.changes, (Changes{{0, RecordChange::hardware}, {0, RecordChange::software}}));
}

TEST_F(IntakeTest, FullTablesDropWhatDoesNotFit) {
    RecordingNotifier n;
    RecordingConsole c;
    StoreOptions o;
    o.table_limit = 10200;
    TempDir d;
    Store small(n, o);
    ASSERT_EQ(small.open_store(d.path()), 0);
    Intake in(small, c);
    std::vector<std::pair<std::string, std::string>> items;
    for (int k = 0; k < 60; ++k) items.push_back({"p" + std::to_string(k), ""});
    for (int round = 0; round < 3; ++round) {
        Mac m = mac_a;
        m[0] = static_cast<std::uint8_t>(round + 1);
        auto packet = software_packet(packet_list_start, m, items);
        in.handle_datagram(packet.data(), packet.size(), sender, 1);
    }
    EXPECT_EQ(small.used_length(), 10200u) << "100 entries fit in the table that cannot grow";
    EXPECT_EQ(read_file(d.file("Software.Audit")).size(), 10200u);
    EXPECT_TRUE(n.notices.empty()) << "no box from inside the intake";
    EXPECT_EQ(c.drops, (std::vector<DropReason>{DropReason::out_of_memory, DropReason::out_of_memory}));
    EXPECT_EQ(small.failed_growths(), 2u) << "one try per datagram, not one per item";
    // Later datagrams are still handled.
    auto hw = encode_hardware_packet(report_for(mac_a, "PC-A"));
    in.handle_datagram(hw.data(), hw.size(), sender, 1);
    EXPECT_EQ(small.record_count(), 1u);
}

TEST_F(IntakeTest, OneComputerCannotHoldMoreThanItsShareOfPrograms) {
    StoreOptions o;
    o.programs_per_computer = 10;
    Store bounded(notifier, o);
    TempDir d;
    ASSERT_EQ(bounded.open_store(d.path()), 0);
    RecordingConsole c;
    Intake in(bounded, c);
    std::vector<std::pair<std::string, std::string>> items(15, {"p", ""});
    for (std::uint8_t type : {packet_list_start, packet_list_continuation}) {
        auto packet = software_packet(type, mac_a, items);
        in.handle_datagram(packet.data(), packet.size(), sender, 1);
    }
    auto other = software_packet(packet_list_start, mac_b, {{"q", ""}});
    in.handle_datagram(other.data(), other.size(), sender, 1);
    EXPECT_EQ(bounded.entry_offsets_of(mac_a.data()).size(), 10u);
    EXPECT_EQ(bounded.entry_offsets_of(mac_b.data()).size(), 1u);
    EXPECT_EQ(c.drops, (std::vector<DropReason>{DropReason::list_full, DropReason::list_full}));
}

TEST(IntakeSocket, ReceivesOverLoopbackAndReportsOversizedDatagrams) {
    ASSERT_TRUE(start_sockets());
    TempDir dir;
    RecordingNotifier notifier;
    RecordingConsole console;
    Store store(notifier);
    ASSERT_EQ(store.open_store(dir.path()), 0);
    Intake intake(store, console);

    UdpSocket server, client;
    const Ipv4 loopback{127, 0, 0, 1};
    ASSERT_TRUE(server.open());
    ASSERT_TRUE(server.bind(0, &loopback));
    ASSERT_TRUE(client.open());
    const std::uint16_t port = server.local_port();
    ASSERT_NE(port, 0);

    auto packet = encode_hardware_packet(report_for(mac_a, "PC-A"));
    ASSERT_TRUE(client.send_to(loopback, port, packet.data(), packet.size()));
    ASSERT_TRUE(server.wait_readable(5000));
    intake.receive_datagram(server);
    EXPECT_EQ(console.status(), "Adding hardware record for 127.0.0.1");
    EXPECT_EQ(format_ipv4(store.record(0).ip_address()), "127.0.0.1");

    std::vector<std::uint8_t> big(2049, 'T');
    ASSERT_TRUE(client.send_to(loopback, port, big.data(), big.size()));
    ASSERT_TRUE(server.wait_readable(5000));
    intake.receive_datagram(server);
    EXPECT_EQ(console.status(), "Error 10040");
    EXPECT_EQ(console.counters[0], 1u);

    // Exactly 2048 bytes still arrive whole.
    std::vector<std::uint8_t> largest(packet.begin(), packet.end());
    largest.resize(2048, 0);
    ASSERT_TRUE(client.send_to(loopback, port, largest.data(), largest.size()));
    ASSERT_TRUE(server.wait_readable(5000));
    intake.receive_datagram(server);
    EXPECT_EQ(console.status(), "Updating hardware record for 127.0.0.1");
    stop_sockets();
}

// Datagrams taken several per notification leave the same files, counters
// and last status line as the same datagrams handled one at a time.
TEST(IntakeSocket, WaitingDatagramsTakenTogetherAsOneAtATime) {
    ASSERT_TRUE(start_sockets());
    TempDir together_dir, single_dir;
    RecordingNotifier notifier;
    RecordingConsole together_console, single_console;
    Store together(notifier), single(notifier);
    ASSERT_EQ(together.open_store(together_dir.path()), 0);
    ASSERT_EQ(single.open_store(single_dir.path()), 0);
    Intake together_intake(together, together_console), single_intake(single, single_console);

    UdpSocket server, client;
    const Ipv4 loopback{127, 0, 0, 1};
    ASSERT_TRUE(server.open() && server.bind(0, &loopback) && server.set_non_blocking() && client.open());
    std::vector<std::vector<std::uint8_t>> datagrams;
    for (const Mac& mac : {mac_a, mac_b, mac_a}) {
        const IdPacket id = encode_id_packet(mac, "TAG", "SER");
        const HardwarePacket hw = encode_hardware_packet(report_for(mac, "PC"));
        datagrams.emplace_back(id.begin(), id.end());
        datagrams.emplace_back(hw.begin(), hw.end());
        datagrams.push_back(software_packet(packet_list_start, mac, {{"Editor", "1.0"}, {"Mailer", ""}}));
        datagrams.push_back(software_packet(packet_list_continuation, mac, {{"Viewer", "2.1"}}));
    }
    for (const auto& d : datagrams) {
        ASSERT_TRUE(client.send_to(loopback, server.local_port(), d.data(), d.size()));
        single_intake.handle_datagram(d.data(), d.size(), loopback, 1700000000);
    }

    ASSERT_TRUE(server.wait_readable(5000));
    const IntakeRound first = together_intake.take_waiting(server, 5);
    EXPECT_EQ(first.taken, 5u) << "a round ends at its limit";
    EXPECT_TRUE(first.backlog);
    std::size_t taken = 5;
    for (int round = 0; round < 20 && taken < datagrams.size(); ++round)
        if (server.wait_readable(1000)) taken += together_intake.take_waiting(server).taken;
    EXPECT_EQ(taken, datagrams.size());
    const IntakeRound last = together_intake.take_waiting(server);
    EXPECT_EQ(last.taken, 0u);
    EXPECT_FALSE(last.backlog) << "the socket was found empty";
    EXPECT_EQ(together_console.status(), single_console.status()) << "nothing waiting shows nothing";
    EXPECT_EQ(together_console.changes, single_console.changes);

    // The receive time is the only difference: the files agree but for it.
    auto without_time = [](std::vector<std::uint8_t> hw) {
        for (std::size_t o = 0; o + hw_record::size <= hw.size(); o += hw_record::size)
            put_u32(hw.data() + o, hw_record::last_update, 0);
        return hw;
    };
    EXPECT_EQ(without_time(read_file(together_dir.file("Hardware.Audit"))),
              without_time(read_file(single_dir.file("Hardware.Audit"))));
    EXPECT_EQ(read_file(together_dir.file("Software.Audit")), read_file(single_dir.file("Software.Audit")));
    EXPECT_EQ(std::vector<std::uint32_t>(together_console.counters, together_console.counters + 5),
              std::vector<std::uint32_t>(single_console.counters, single_console.counters + 5));
    stop_sockets();
}

TEST_F(IntakeTest, UnsignedReportsUnderEachSetting) {
    SiteKey key;
    key.fill(3);
    struct Case {
        const char* name;
        bool server_has_key, accept_unsigned, stored;
    } cases[] = {
        {"no key, accepted (the default)", false, true, true},
        {"no key, refused: nothing could ever be signed", false, false, true},
        {"key, accepted", true, true, true},
        {"key, refused", true, false, false},
    };
    std::uint8_t last = 0;
    for (const Case& c : cases) {
        SigningSettings signing;
        if (c.server_has_key) signing.keys.current = key;
        signing.accept_unsigned = c.accept_unsigned;
        Intake guarded(store, console, &signing);
        const std::uint32_t before = store.record_count();
        const Mac mac{2, 0, 0, 0, 0, ++last};
        guarded.handle_datagram(encode_hardware_packet(report_for(mac, "PC")).data(), hw_packet::size,
                                Ipv4{127, 0, 0, 77}, 1700000000);
        EXPECT_EQ(store.record_count(), before + (c.stored ? 1 : 0)) << c.name;
        EXPECT_EQ(guarded.refused_packets(), c.stored ? 0u : 1u) << c.name;
        if (!c.stored) {
            EXPECT_EQ(console.status(), "Refused packet from 127.0.0.77: not signed") << c.name;
            EXPECT_EQ(console.counters[static_cast<int>(StatsCounter::refused)], 1u);
        }
    }
}

TEST_F(IntakeTest, AComputerThatSignedHasItsUnsignedDatagramsRefusedAfterARestartToo) {
    handle(encode_hardware_packet(report_for(mac_a, "PC-A")));
    handle(software_packet(packet_list_start, mac_a, {{"Editor", "1.0"}}));
    handle(encode_hardware_packet(report_for(mac_b, "PC-B")));
    ExtensionRecord ext;
    ext.mac = mac_a;
    ext.flags = ext_record::flag_signs_reports;
    ASSERT_TRUE(store.store_extension(0, ext));
    ASSERT_EQ(store.open_store(dir.path()), 0);  // as after a restart
    const std::vector<std::uint8_t> side = read_file(dir.file("Extension.Audit"));
    ASSERT_GE(side.size(), 8u);
    EXPECT_EQ(side[7], 0x02);

    const auto hardware_before = hardware_file(), software_before = software_file();
    SystemFacts facts;
    facts.manufacturer = "Forged";
    const auto forged_hw = encode_hardware_packet(report_for(mac_a, "EVIL-PC"));
    const auto forged_id = encode_id_packet(mac_a, "TAG", "SER");
    const auto forged_ext = encode_extension_packet(mac_a, facts);
    const auto forged_sw = software_packet(packet_list_start, mac_a, {{"Totally Legit Tool", "6.6.6"}});
    handle(forged_hw, Ipv4{127, 0, 0, 77});
    handle(forged_id, Ipv4{127, 0, 0, 77});
    handle(forged_ext, Ipv4{127, 0, 0, 77});
    handle(forged_sw, Ipv4{127, 0, 0, 77});
    EXPECT_EQ(intake.refused_packets(), 4u);
    EXPECT_EQ(console.status(),
              "Refused packet from 127.0.0.77: not signed, from a computer that signs its reports");
    EXPECT_EQ(hardware_file(), hardware_before);
    EXPECT_EQ(software_file(), software_before);
    EXPECT_EQ(names_of(mac_a), std::vector<std::string>{"Editor"});
    // Another computer's unsigned report is taken as before.
    handle(encode_hardware_packet(report_for(mac_b, "PC-B2")));
    EXPECT_EQ(store.record(1).computer_name(), "PC-B2");
}

}  // namespace
}  // namespace tally
