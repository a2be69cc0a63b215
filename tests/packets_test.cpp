// Datagram layouts, encoders and the software item walk.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "protocol/packets.h"
#include "protocol/udp.h"
#include "test_support.h"

namespace tally {
namespace {

std::vector<std::uint8_t> bytes(std::initializer_list<int> list) {
    std::vector<std::uint8_t> v;
    for (int b : list) v.push_back(static_cast<std::uint8_t>(b));
    return v;
}

struct Walked {
    std::string name, version;
    bool has_version;
};

std::vector<Walked> walk(const std::vector<std::uint8_t>& d, bool* truncated = nullptr) {
    std::vector<Walked> out;
    SoftwareItemReader r(d.data(), d.size());
    SoftwareItem item;
    while (r.next(item)) out.push_back({item.name_text(), item.version_text(), item.has_version});
    if (truncated) *truncated = r.truncated();
    return out;
}

TEST(HardwarePacket, EncodesEveryFieldAtItsOffset) {
    HardwareReport r = test::desktop_report({0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}, "PC-01");
    // Beyond the desktop: values that fill every byte of their fields.
    r.winsock_version = 0x0202;
    r.ram_bytes = 0xFFFFFFFFu;
    r.pagefile_bytes = 123456789;
    r.interlaced = 1;
    r.free_disk_space[0] = 0x123456789AULL;
    r.total_disk_space[0] = 0x23456789ABULL;
    r.drive_letters[25] = 'Z';
    r.drive_types[25] = 4;
    HardwarePacket p = encode_hardware_packet(r);

    EXPECT_TRUE(test::has_head(p.data(), 704, 'T', r.mac));
    EXPECT_STREQ(reinterpret_cast<const char*>(p.data() + 12), "PC-01");
    EXPECT_EQ(get_u16(p.data() + 62), 0x0202);
    EXPECT_EQ(p[64], 13);
    EXPECT_EQ(0, std::memcmp(p.data() + 68, "GenuineIntel", 12));
    EXPECT_EQ(get_u32(p.data() + 80), 0x0F29u);
    EXPECT_FLOAT_EQ(get_f32(p.data() + 84), 2992.6f);
    EXPECT_EQ(get_u32(p.data() + 88), 0xFFFFFFFFu);
    EXPECT_EQ(get_u32(p.data() + 92), 123456789u);
    EXPECT_EQ(p[96], 5);
    EXPECT_EQ(p[97], 1);
    EXPECT_EQ(get_u16(p.data() + 98), 2600);
    EXPECT_EQ(get_u32(p.data() + 100), 2u);
    EXPECT_EQ(get_u32(p.data() + 104), 32u);
    EXPECT_EQ(get_u32(p.data() + 108), 1024u);
    EXPECT_EQ(get_u32(p.data() + 112), 768u);
    EXPECT_EQ(get_u16(p.data() + 116), 75);
    EXPECT_EQ(p[118], 1);
    EXPECT_EQ(p[119], 'c');
    EXPECT_EQ(p[144], 'Z');
    EXPECT_EQ(get_u32(p.data() + 148), 3u);
    EXPECT_EQ(get_u32(p.data() + 148 + 4 * 25), 4u);
    EXPECT_EQ(get_u64(p.data() + 256), 0x123456789AULL);
    EXPECT_EQ(get_u64(p.data() + 464), 0x23456789ABULL);
    EXPECT_EQ(get_u32(p.data() + 672), 176527u);
    EXPECT_STREQ(reinterpret_cast<const char*>(p.data() + 676), "alice");
    // Reserved bytes stay zero.
    for (int off : {7, 65, 66, 67, 145, 146, 147, 252, 253, 254, 255, 701, 702, 703}) EXPECT_EQ(p[off], 0) << off;

    HardwareReport back = decode_hardware_packet(p.data());
    EXPECT_EQ(back.computer_name, "PC-01");
    EXPECT_EQ(back.cpuid_vendor, "GenuineIntel");
    EXPECT_EQ(back.free_disk_space[0], r.free_disk_space[0]);
    EXPECT_EQ(back.drive_letters[25], 'Z');
    EXPECT_EQ(back.last_user, "alice");
}

TEST(HardwarePacket, LongTextsAreCutToTheirFields) {
    HardwareReport r;
    r.computer_name = std::string(60, 'N');
    r.last_user = std::string(25, 'U') + "tail";
    r.cpuid_vendor = "AuthenticAMDextra";
    HardwarePacket p = encode_hardware_packet(r);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p.data() + 12)), std::string(49, 'N'));
    EXPECT_EQ(p[61], 0);
    // A 25-character user name fills the field; byte 701 ends it.
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p.data() + 676)), std::string(25, 'U'));
    EXPECT_EQ(p[64 + 4 + 12], 0);  // the vendor does not spill into the signature
    EXPECT_EQ(decode_hardware_packet(p.data()).cpuid_vendor, "AuthenticAMD");
}

TEST(HardwarePacket, ExtensionsInReservedBytes) {
    // Byte layout: product type at 65, page file MB in 145-147 (24 bits),
    // RAM MB in 252-255; bytes 7, 66, 67 and 701-703 stay zero.
    const struct {
        std::uint32_t ram_mb, pagefile_mb;
        std::uint8_t product;
        std::vector<std::uint8_t> b65_67, b145_147, b252_255;
        std::uint32_t pagefile_back;
    } cases[] = {
        {0, 0, 0, {0, 0, 0}, {0, 0, 0}, {0, 0, 0, 0}, 0},
        {4096, 8192, 1, {1, 0, 0}, {0x00, 0x20, 0}, {0x00, 0x10, 0, 0}, 8192},
        {65536, 73728, 3, {3, 0, 0}, {0x00, 0x20, 0x01}, {0x00, 0x00, 0x01, 0}, 73728},
        {2097152, 0x1000000, 2, {2, 0, 0}, {0xFF, 0xFF, 0xFF}, {0x00, 0x00, 0x20, 0}, 0xFFFFFF},
        {0xFFFFFFFFu, 0xFFFFFFu, 0, {0, 0, 0}, {0xFF, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFFFF},
    };
    for (const auto& c : cases) {
        HardwareReport r;
        r.last_user = std::string(30, 'U');
        r.ram_mb = c.ram_mb;
        r.pagefile_mb = c.pagefile_mb;
        r.product_type = c.product;
        HardwarePacket p = encode_hardware_packet(r);
        EXPECT_EQ(std::vector<std::uint8_t>(p.begin() + 65, p.begin() + 68), c.b65_67) << c.ram_mb;
        EXPECT_EQ(std::vector<std::uint8_t>(p.begin() + 145, p.begin() + 148), c.b145_147) << c.ram_mb;
        EXPECT_EQ(std::vector<std::uint8_t>(p.begin() + 252, p.begin() + 256), c.b252_255) << c.ram_mb;
        EXPECT_EQ(p[7] | p[701] | p[702] | p[703], 0);
        HardwareReport back = decode_hardware_packet(p.data());
        EXPECT_EQ(back.ram_mb, c.ram_mb);
        EXPECT_EQ(back.pagefile_mb, c.pagefile_back);
        EXPECT_EQ(back.product_type, c.product);
    }
}

TEST(ExtensionPacket, LayoutCutsAndLengths) {
    SystemFacts f;
    f.processor_name = std::string(60, 'P');
    f.manufacturer = "Maker Inc.";
    f.model = "Model 9";
    f.bios_serial = "BIOS-SN-1";
    f.windows_edition = "Professional";
    f.display_version = "23H2";
    ExtensionPacket p = encode_extension_packet({1, 2, 3, 4, 5, 6}, f);
    ASSERT_EQ(p.size(), 320u);
    EXPECT_TRUE(test::has_head(p.data(), p.size(), 'E', {1, 2, 3, 4, 5, 6}));
    const struct {
        std::size_t offset;
        std::string text;
    } texts[] = {{12, std::string(48, 'P')}, {64, "Maker Inc."}, {128, "Model 9"},
                 {192, "BIOS-SN-1"},         {256, "Professional"}, {288, "23H2"}};
    for (const auto& t : texts)
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(p.data() + t.offset)), t.text) << t.offset;
    EXPECT_EQ(p[60], 0);
    for (std::size_t i = 304; i < 320; ++i) EXPECT_EQ(p[i], 0) << i;

    Mac mac{};
    SystemFacts back;
    EXPECT_FALSE(decode_extension_packet(p.data(), 319, mac, back)) << "short";
    std::vector<std::uint8_t> longer(p.begin(), p.end());
    longer.resize(400, 0xEE);  // a later client's additions are ignored
    ASSERT_TRUE(decode_extension_packet(longer.data(), longer.size(), mac, back));
    EXPECT_EQ(mac, (Mac{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(back.processor_name, std::string(48, 'P'));
    EXPECT_EQ(back.display_version, "23H2");
    // Fields without their NUL are read as width - 1 characters.
    std::vector<std::uint8_t> full(320, 'x');
    ASSERT_TRUE(decode_extension_packet(full.data(), full.size(), mac, back));
    EXPECT_EQ(back.manufacturer, std::string(63, 'x'));
    EXPECT_EQ(back.display_version, std::string(15, 'x'));
}

TEST(IdPacket, LayoutAndCuts) {
    IdPacket p = encode_id_packet({1, 2, 3, 4, 5, 6}, "ASSET-1", "SN-42");
    EXPECT_EQ(p.size(), 64u);
    EXPECT_TRUE(test::has_head(p.data(), p.size(), '2', {1, 2, 3, 4, 5, 6}));
    EXPECT_STREQ(reinterpret_cast<const char*>(p.data() + 12), "ASSET-1");
    EXPECT_STREQ(reinterpret_cast<const char*>(p.data() + 37), "SN-42");

    IdPacket cut = encode_id_packet({}, std::string(40, 'A'), std::string(40, 'S'));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(cut.data() + 12)), std::string(24, 'A'));
    EXPECT_EQ(cut[36], 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(cut.data() + 37)), std::string(26, 'S'));
    EXPECT_EQ(cut[63], 0);
}

TEST(SoftwareItems, EncodeMatchesTheNineteenByteListStart) {
    std::vector<std::uint8_t> d = bytes({0xA3, 1, 2, 3, 4, 5, 6});
    std::uint8_t item[32];
    std::size_t n = encode_software_item(item, sizeof item, "abc", true, "1.0");
    ASSERT_EQ(n, 12u);
    d.insert(d.end(), item, item + n);
    EXPECT_EQ(d, bytes({0xA3, 1, 2, 3, 4, 5, 6, 0x4C, 4, 'a', 'b', 'c', 0, 0x58, 4, '1', '.', '0', 0}));
    EXPECT_EQ(encode_software_item(item, sizeof item, "", false, ""), 3u);
    EXPECT_EQ(std::string(item, item + 3), std::string("L\x01\0", 3));
    EXPECT_EQ(encode_software_item(item, 11, "abc", true, "1.0"), 0u) << "does not fit";
    std::uint8_t big[600];
    EXPECT_EQ(encode_software_item(big, sizeof big, std::string(254, 'n'), false, ""), 257u);
    EXPECT_EQ(big[1], 255);
    EXPECT_EQ(encode_software_item(big, sizeof big, std::string(255, 'n'), false, ""), 0u);
}

TEST(SoftwareItems, WalkReadsNamesVersionsAndTheLastItem) {
    auto items = walk(bytes({0xA3, 1, 2, 3, 4, 5, 6,                  //
                             'L', 4, 'a', 'b', 'c', 0,                 // no version
                             'L', 2, 'x', 0, 'X', 3, '2', '.', 0,      //
                             'L', 1, 0,                                // empty name
                             'L', 3, 'z', 'z', 0, 'X', 2, '9', 0}));  // last item with version
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0].name, "abc");
    EXPECT_FALSE(items[0].has_version);
    EXPECT_EQ(items[1].name, "x");
    EXPECT_EQ(items[1].version, "2.");
    EXPECT_EQ(items[2].name, "");
    EXPECT_EQ(items[3].name, "zz");
    EXPECT_EQ(items[3].version, "9");
}

TEST(SoftwareItems, WalkStopsAtZeroLengthsAndZeroAfterVersion) {
    auto items = walk(bytes({0x99, 1, 2, 3, 4, 5, 6, 'L', 2, 'a', 0, 'L', 0, 'L', 2, 'b', 0}));
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].name, "a");

    items = walk(bytes({0x99, 1, 2, 3, 4, 5, 6, 'L', 2, 'a', 0, 'X', 2, '1', 0, 0, 'L', 2, 'b', 0}));
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].version, "1");

    // A 0 after an item without a version is the next item's tag, not an end.
    items = walk(bytes({0x99, 1, 2, 3, 4, 5, 6, 'L', 2, 'a', 0, 0, 2, 'b', 0}));
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[1].name, "b");
}

TEST(SoftwareItems, NameWithoutNulIsTheWholeField) {
    auto items = walk(bytes({0xA3, 1, 2, 3, 4, 5, 6, 'L', 3, 'a', 'b', 'c', 'X', 2, 'v', 'w'}));
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].name, "abc");
    EXPECT_EQ(items[0].version, "vw");
}

TEST(SoftwareItems, CutOffItemsAreDroppedAndNothingBeyondTheDatagramIsRead) {
    const std::vector<std::uint8_t> full = bytes({0xA3, 1, 2, 3, 4, 5, 6, 'L', 2, 'a', 0, 'L', 3, 'b', 'c', 0,
                                                  'X', 3, '1', '.', 0});
    // Every shorter prefix: the walk keeps the whole items and reports a cut.
    for (std::size_t len = 7; len < full.size(); ++len) {
        // Copy into an exact-size heap block so that a read past the end
        // is caught by the sanitizers.
        std::vector<std::uint8_t> prefix(full.begin(), full.begin() + static_cast<long>(len));
        bool truncated = false;
        auto items = walk(prefix, &truncated);
        // Whole items end at 11 and 16 (the second one then has no visible
        // version element, so it stands without a version); a version cut off
        // drops its whole item.
        std::size_t expect_items = len == 16 ? 2 : len >= 11 ? 1 : 0;
        EXPECT_EQ(items.size(), expect_items) << len;
        EXPECT_EQ(truncated, len != 7 && len != 11 && len != 16) << len;
        if (len == 16) {
            EXPECT_FALSE(items[1].has_version);
        }
    }
    bool truncated = true;
    EXPECT_EQ(walk(full, &truncated).size(), 2u);
    EXPECT_FALSE(truncated);
}

TEST(Requests, ClassifiedBySourceAndLengthOnly) {
    EXPECT_EQ(classify_request(13, true), Request::update);
    EXPECT_EQ(classify_request(12, true), Request::close);
    EXPECT_EQ(classify_request(13, false), Request::none);
    EXPECT_EQ(classify_request(14, true), Request::none);
    EXPECT_EQ(std::string(update_request_text), "Update Please");
    EXPECT_EQ(std::string(close_request_text), "Close Please");
}

TEST(Ipv4Text, FormatsAndParsesDottedDecimal) {
    Ipv4 a{};
    ASSERT_TRUE(parse_ipv4("10.0.0.5", a));
    EXPECT_EQ(a, (Ipv4{10, 0, 0, 5}));
    EXPECT_EQ(format_ipv4({192, 168, 1, 254}), "192.168.1.254");
    EXPECT_FALSE(parse_ipv4("10.0.0", a));
    EXPECT_FALSE(parse_ipv4("10.0.0.256", a));
    EXPECT_FALSE(parse_ipv4("10.0.0.5x", a));
    EXPECT_FALSE(parse_ipv4("server-name", a));
}

}  // namespace
}  // namespace tally
