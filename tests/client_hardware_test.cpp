// Portable side of scoutly's probes: adapter choice, processor fields,
// drive strings, clock arithmetic, memory cap, probe order and ID packet.
#include "client/hardware.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace tally::client {
namespace {

AdapterRow row(std::uint32_t type, std::vector<std::uint8_t> addr, bool octets = true) {
    AdapterRow r;
    r.type = type;
    r.address = std::move(addr);
    r.address_is_octets = octets;
    return r;
}

TEST(ClientHardware, LastUsableEthernetAdapterWins) {
    std::vector<AdapterRow> rows = {
        row(6, {0x00, 0x11, 0x22, 0x33, 0x44, 0x55}),
        row(24, {}),                                         // loopback
        row(6, {0x00, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE}),
        row(6, {'D', 'E', 'S', 'T', 0, 7}),                  // dial-up pseudo address
        row(6, {0, 0, 0, 0, 0, 0}),
        row(23, {0x02, 0x02, 0x02, 0x02, 0x02, 0x02}),       // PPP: neither Ethernet nor wireless
        row(6, {0x01, 0x02, 0x03}),                          // too short to read six bytes
        row(6, {0x09, 0x09, 0x09, 0x09, 0x09, 0x09}, false), // a value that is no octet string
    };
    Mac mac{};
    ASSERT_TRUE(choose_mac(rows, mac));
    EXPECT_EQ(mac, (Mac{0x00, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE}));

    Mac none{};
    EXPECT_FALSE(choose_mac({row(6, {}), row(6, {0, 0, 0, 0, 0, 0, 1})}, none));
    EXPECT_EQ(none, Mac{});
    // 'D','E','S','T' followed by something other than 0 is an address.
    EXPECT_TRUE(adapter_row_usable(row(6, {'D', 'E', 'S', 'T', 1, 0})));
}

TEST(ClientHardware, AdapterChoiceByClass) {
    // E: Ethernet, W: wireless; p physical, v virtual, u unknown (no flag
    // from the source). The number is the address's last byte; 0x77 is the
    // address a virtual adapter carries on every computer.
    auto make = [](const std::string& code) {
        std::vector<AdapterRow> rows;
        for (std::size_t i = 0; i + 2 < code.size(); i += 3) {
            AdapterRow r = row(code[i] == 'E' ? 6 : 71, {0x02, 0, 0, 0, 0, 0});
            r.kind = code[i + 1] == 'p' ? AdapterKind::physical
                     : code[i + 1] == 'v' ? AdapterKind::virtual_ : AdapterKind::unknown;
            r.address[5] = static_cast<std::uint8_t>(code[i + 2] == 's' ? 0x77 : code[i + 2] - '0');
            rows.push_back(r);
        }
        return rows;
    };
    const struct {
        const char* rows;
        int chosen;  // last address byte, -1 for none
    } cases[] = {
        {"Ep1Ev2", 1},          // a virtual adapter after the physical one
        {"Evs Ep1", 1},         // the shared virtual address first
        {"Ep1Evs", 1},          // ... and last: the physical one still wins
        {"Ep1Ep2Evs", 2},       // last physical Ethernet: its key is kept
        {"Eu1Eu2", 2},          // no flags (SNMP agent): the last Ethernet, as before
        {"Wp3", 3},             // wireless only
        {"Wp3Evs", 3},          // wireless before a virtual Ethernet adapter
        {"Evs Wp3", 3},
        {"Wp3Ep1", 1},          // Ethernet before wireless
        {"Ep1Wp3", 1},
        {"Evs Ev4", 4},         // only virtual adapters: the last of them
        {"Wv5Evs", 0x77},       // virtual Ethernet before virtual wireless
        {"Wv5", 5},
        {"Wp3Wp4", 4},
        {"", -1},
    };
    for (const auto& c : cases) {
        std::string code = c.rows;
        code.erase(std::remove(code.begin(), code.end(), ' '), code.end());
        Mac mac{};
        const bool found = choose_mac(make(code), mac);
        EXPECT_EQ(found ? mac[5] : -1, c.chosen) << c.rows;
    }
    // A wireless adapter gives its permanent address, not a random current one.
    AdapterRow w = row(71, {0x06, 1, 1, 1, 1, 1});
    w.permanent_address = {0x00, 0x21, 0x6A, 1, 2, 3};
    Mac mac{};
    ASSERT_TRUE(choose_mac({w}, mac));
    EXPECT_EQ(mac, (Mac{0x00, 0x21, 0x6A, 1, 2, 3}));
    w.permanent_address.assign(6, 0);
    ASSERT_TRUE(choose_mac({w}, mac));
    EXPECT_EQ(mac, (Mac{0x06, 1, 1, 1, 1, 1}));
}

TEST(ClientHardware, ProcessorFieldsFromCpuid) {
    HardwareReport r;
    CpuidZero f0{0x0D, 0x756E6547, 0x49656E69, 0x6C65746E};  // "GenuineIntel"
    set_processor_fields(r, f0, 0x000906EA);
    EXPECT_EQ(r.cpuid_levels, 0x0D);
    EXPECT_EQ(r.cpuid_vendor, "GenuineIntel");
    EXPECT_EQ(r.cpuid_code, 0x000906EAu);

    HardwareReport none;
    set_processor_fields(none, CpuidZero{0, 0x756E6547, 0x49656E69, 0x6C65746E}, 0x1234);
    EXPECT_EQ(none.cpuid_levels, 0);
    EXPECT_EQ(none.cpuid_vendor, "");
    EXPECT_EQ(none.cpuid_code, 0u);

    HardwareReport wide;
    set_processor_fields(wide, CpuidZero{0x1FF, 0, 0, 0}, 7);  // levels keep the low 8 bits
    EXPECT_EQ(wide.cpuid_levels, 0xFF);
    EXPECT_EQ(wide.cpuid_code, 7u);
}

TEST(ClientHardware, DriveStringsSplitIntoAtMost26Roots) {
    const char buf[] = "A:\\\0C:\\\0Z:\\\0";
    std::vector<std::string> roots = split_drive_strings(buf, sizeof buf - 1);
    ASSERT_EQ(roots.size(), 3u);
    EXPECT_EQ(roots[0], "A:\\");
    EXPECT_EQ(roots[2], "Z:\\");
    EXPECT_TRUE(split_drive_strings(buf, 0).empty());

    std::string many;
    for (int i = 0; i < 30; ++i) many += std::string("X:\\") + '\0';
    EXPECT_EQ(split_drive_strings(many.data(), many.size()).size(), 26u);
    // A list cut without its last NUL still gives the text it holds.
    EXPECT_EQ(split_drive_strings("C:\\", 3), std::vector<std::string>{"C:\\"});
}

TEST(ClientHardware, ClockArithmetic) {
    // Counter at 10 MHz, time-stamp counter at 2 GHz, 100 s since it started.
    ClockSample s[clock_sample_count];
    for (int i = 0; i < clock_sample_count; ++i) {
        std::uint64_t c = 1000000ull * i;
        s[i].c1 = c;
        s[i].c2 = c + 400000;                       // 40 ms
        s[i].t1 = 200000000000ull + 100000000ull * i;
        s[i].t2 = s[i].t1 + 80000000ull;            // 40 ms at 2 GHz
    }
    float mhz = 0;
    std::uint32_t up = 0;
    ASSERT_TRUE(compute_clock(10000000, s, mhz, up));
    EXPECT_NEAR(mhz, 2000.0f, 0.01f);
    // Samples at 100.04, 100.09, ... 100.49 s truncate to 100 each.
    EXPECT_EQ(up, 100u);

    float keep_mhz = 1.0f;
    std::uint32_t keep_up = 77;
    ClockSample bad[clock_sample_count] = {};
    EXPECT_FALSE(compute_clock(10000000, bad, keep_mhz, keep_up));
    EXPECT_FALSE(compute_clock(0, s, keep_mhz, keep_up));
    EXPECT_EQ(keep_up, 77u);
    EXPECT_EQ(keep_mhz, 1.0f);
}

TEST(ClientHardware, UpTimeUsesLowThirtyTwoBitsOfTheSum) {
    // Counter frequency 1000 and 1000 counts per sample: one second each.
    ClockSample s[clock_sample_count];
    for (ClockSample& x : s) {
        x.c1 = 0;
        x.c2 = 1000;
        x.t1 = 0;
        x.t2 = 500000000ull;  // the rate is t2 per second: one second since start
    }
    float mhz = 0;
    std::uint32_t up = 0;
    ASSERT_TRUE(compute_clock(1000, s, mhz, up));
    EXPECT_EQ(up, 1u);
    for (ClockSample& x : s) {
        // One tick per second, 5e14 seconds since start: the sum of ten
        // exceeds 32 bits.
        x.t1 = 500000000000000ull - 1;
        x.t2 = x.t1 + 1;
    }
    ASSERT_TRUE(compute_clock(1000, s, mhz, up));
    const std::uint64_t sum = 10ull * 500000000000000ull;
    EXPECT_EQ(up, static_cast<std::uint32_t>(sum) / 10u);
}

TEST(ClientHardware, MemoryInBytesAndMegabytes) {
    const struct {
        std::uint64_t bytes;
        std::uint32_t capped, mb;
    } cases[] = {
        {0, 0, 0},
        {1, 1, 1},
        {4294967295ull, 4294967295u, 4096},
        {4294967296ull, 4294967295u, 4096},
        {68719476736ull, 4294967295u, 65536},      // 64 GB
        {2199023255552ull, 4294967295u, 2097152},  // 2 TB
        {~0ull, 4294967295u, 4294967295u},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cap_bytes(c.bytes), c.capped) << c.bytes;
        EXPECT_EQ(mb_from_bytes_capped(c.bytes), c.mb) << c.bytes;
    }
}

TEST(ClientHardware, BrandStringAndReleaseTexts) {
    // "  Intel(R) Core(TM) i7" padded with blanks to 48 bytes.
    std::string text = "  Intel(R) Core(TM) i7";
    text.resize(48, ' ');
    std::uint32_t regs[12];
    for (int i = 0; i < 12; ++i) std::memcpy(&regs[i], text.data() + 4 * i, 4);
    EXPECT_EQ(processor_brand(regs), "Intel(R) Core(TM) i7");
    std::uint32_t zero[12] = {};
    EXPECT_EQ(processor_brand(zero), "");

    EXPECT_EQ(choose_display_version("23H2", "2009", ""), "23H2");
    EXPECT_EQ(choose_display_version("", "1909", "Service Pack 1"), "1909");
    EXPECT_EQ(choose_display_version(" ", "", "Service Pack 3"), "Service Pack 3");
    EXPECT_EQ(trim_blanks(" \tTo be filled \r\n"), "To be filled");
}

TEST(ClientHardware, UninstallKeysMachineViewsThenUser) {
    using V = UninstallView;
    EXPECT_EQ(uninstall_views(true), (std::vector<V>{{UninstallRoot::machine, RegistryView::view64},
                                                    {UninstallRoot::machine, RegistryView::view32},
                                                    {UninstallRoot::user, RegistryView::native}}));
    EXPECT_EQ(uninstall_views(false), (std::vector<V>{{UninstallRoot::machine, RegistryView::native},
                                                     {UninstallRoot::user, RegistryView::native}}));
}

TEST(ClientHardware, DisplayAndPlatformRules) {
    EXPECT_EQ(interlaced_from_flags(2), 1);
    EXPECT_EQ(interlaced_from_flags(3), 1);
    EXPECT_EQ(interlaced_from_flags(1), 0);
    EXPECT_TRUE(reports_enclosure(2, 4));
    EXPECT_TRUE(reports_enclosure(2, 10));
    EXPECT_FALSE(reports_enclosure(2, 3));
    EXPECT_FALSE(reports_enclosure(1, 4));  // Windows 95/98/Me
}

TEST(ClientHardware, EnclosureTextKeepsLowBytes) {
    const std::uint16_t text[] = {'S', 'N', 0x0141, '9', 0, 'x'};
    EXPECT_EQ(low_bytes_of_utf16(text, 6), std::string("SN\x41" "9"));
    EXPECT_EQ(low_bytes_of_utf16(text, 2), "SN");
}

struct ScriptedProbes : HardwareProbes {
    std::vector<std::string> calls;
    std::uint32_t platform = 2;
    std::uint8_t major = 10;
    std::string asset = "ASSET-0123456789-ABCDEFGHIJ";          // 27 characters
    std::string serial = "SERIAL-0123456789-ABCDEFGHIJKLMN";    // 32 characters
    void probe_mac(Mac& m) override { calls.push_back("mac"); m = {1, 2, 3, 4, 5, 6}; }
    void probe_processor(HardwareReport&) override { calls.push_back("cpu"); }
    void probe_drives(HardwareReport&) override { calls.push_back("drives"); }
    void probe_memory(HardwareReport&) override { calls.push_back("memory"); }
    void probe_version(HardwareReport& r) override {
        calls.push_back("version");
        r.windows_platform = platform;
        r.windows_major = major;
    }
    void probe_enclosure(std::string& a, std::string& s, SystemFacts& f) override {
        calls.push_back("enclosure");
        a = asset;
        s = serial;
        f.model = "Model 7";
    }
    void probe_facts(SystemFacts&) override { calls.push_back("facts"); }
    void probe_computer_name(HardwareReport&) override { calls.push_back("computer"); }
    void probe_user_name(HardwareReport&) override { calls.push_back("user"); }
    void probe_clock(HardwareReport&, std::uint32_t& up) override {
        calls.push_back("clock");
        up += 5;
    }
    void probe_display(HardwareReport&) override { calls.push_back("display"); }
};

TEST(ClientHardware, ProbesRunInOrderAndGiveTheIdPacketOnNt4AndLater) {
    ScriptedProbes p;
    ProbeResults out;
    std::uint32_t up = 10;
    run_probes(p, out, up);
    EXPECT_EQ(p.calls, (std::vector<std::string>{"mac", "cpu", "drives", "memory", "version", "enclosure", "facts",
                                                 "computer", "user", "clock", "display"}));
    EXPECT_EQ(out.hardware.up_time, 15u);
    EXPECT_EQ(up, 15u);
    EXPECT_EQ(out.facts.model, "Model 7");
    ASSERT_TRUE(out.send_id);
    const IdPacket& id = out.id;
    EXPECT_EQ(id[0], '2');
    EXPECT_EQ(id[1], 1);
    EXPECT_EQ(id[6], 6);
    // Long enclosure strings are cut to 24 and 26 characters, each NUL-ended.
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(id.data() + 12)), p.asset.substr(0, 24));
    EXPECT_EQ(id[36], 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(id.data() + 37)), p.serial.substr(0, 26));
    EXPECT_EQ(id[63], 0);

    ScriptedProbes old;
    old.platform = 1;
    old.major = 4;
    ProbeResults out2;
    run_probes(old, out2, up);
    EXPECT_FALSE(out2.send_id);
    EXPECT_EQ(std::count(old.calls.begin(), old.calls.end(), "enclosure"), 0);
    EXPECT_EQ(std::count(old.calls.begin(), old.calls.end(), "facts"), 1);
}

}  // namespace
}  // namespace tally::client
