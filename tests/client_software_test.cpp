// Packing of the software list: items, lead bytes, the flush rule at fill
// 1205, the buffer bound, and the values that are skipped or cut.
#include "client/software.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tally::client {
namespace {

const Mac mac{0x00, 0x0C, 0x29, 0xAA, 0xBB, 0xCC};

RegistryValue text_value(const std::string& text) {
    RegistryValue v;
    v.size = text.size() + 1;
    v.present = v.size <= value_room;
    if (v.present) std::copy(text.begin(), text.end(), v.bytes.begin());
    return v;
}
RegistryValue absent() { return RegistryValue{}; }

using Packets = std::vector<std::vector<std::uint8_t>>;

struct Collect {
    Packets packets;
    SoftwarePacker::Send send() {
        return [this](const std::uint8_t* d, std::size_t n) { packets.emplace_back(d, d + n); };
    }
};

struct Item {
    std::string name;
    bool has_version;
    std::string version;
    bool operator==(const Item& o) const {
        return name == o.name && has_version == o.has_version && version == o.version;
    }
};

std::vector<Item> read_items(const std::vector<std::uint8_t>& p) {
    std::vector<Item> items;
    SoftwareItemReader reader(p.data(), p.size());
    SoftwareItem it;
    while (reader.next(it)) items.push_back({it.name_text(), it.has_version, it.version_text()});
    EXPECT_FALSE(reader.truncated());
    return items;
}

TEST(ClientSoftware, OneSmallListIsOneListStart) {
    Collect c;
    SoftwarePacker packer(mac, c.send());
    packer.add(text_value("abc"), text_value("1.0"));
    packer.finish();
    ASSERT_EQ(c.packets.size(), 1u);
    const std::vector<std::uint8_t> expected = {0xA3, 0x00, 0x0C, 0x29, 0xAA, 0xBB, 0xCC, 0x4C, 4, 'a',
                                                'b',  'c',  0,    0x58, 4,    '1',  '.',  '0',  0};
    EXPECT_EQ(c.packets[0], expected);
}

TEST(ClientSoftware, NoProgramSendsNothing) {
    Collect c;
    SoftwarePacker packer(mac, c.send());
    EXPECT_FALSE(packer.add(absent(), text_value("1.0")));
    packer.finish();
    EXPECT_TRUE(c.packets.empty());
}

TEST(ClientSoftware, NameAndVersionLimits) {
    Collect c;
    SoftwarePacker packer(mac, c.send());
    EXPECT_TRUE(packer.add(text_value(std::string(254, 'n')), absent()));
    EXPECT_FALSE(packer.add(text_value(std::string(255, 'm')), absent()));  // 256 bytes: skipped
    EXPECT_TRUE(packer.add(text_value("kept"), text_value(std::string(300, 'v'))));
    EXPECT_TRUE(packer.add(text_value(""), absent()));
    packer.finish();
    ASSERT_EQ(c.packets.size(), 1u);
    const std::vector<std::uint8_t>& p = c.packets[0];
    EXPECT_EQ(p[7], 'L');
    EXPECT_EQ(p[8], 255);
    std::vector<Item> items = read_items(p);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].name, std::string(254, 'n'));
    EXPECT_EQ(items[1], (Item{"kept", false, ""}));
    EXPECT_EQ(items[2], (Item{"", false, ""}));
    // The empty name is 'L', 1, NUL and ends the packet.
    EXPECT_EQ(std::vector<std::uint8_t>(p.end() - 3, p.end()), (std::vector<std::uint8_t>{'L', 1, 0}));
}

TEST(ClientSoftware, RawAndEmptyValues) {
    Collect c;
    SoftwarePacker packer(mac, c.send());
    RegistryValue dword;
    dword.present = true;
    dword.size = 4;
    dword.bytes[0] = 7;
    RegistryValue empty;
    empty.present = true;
    empty.size = 0;
    packer.add(dword, empty);
    packer.add(empty, dword);
    packer.add(text_value("after"), absent());
    packer.finish();
    ASSERT_EQ(c.packets.size(), 1u);
    const std::vector<std::uint8_t> expected = {0xA3, 0x00, 0x0C, 0x29, 0xAA, 0xBB, 0xCC,
                                                'L', 4, 7, 0, 0, 0, 'X', 1, 0,
                                                'L', 1, 0, 'X', 4, 7, 0, 0, 0,
                                                'L', 6, 'a', 'f', 't', 'e', 'r', 0};
    EXPECT_EQ(c.packets[0], expected);
    // No length byte is 0, so the server reads every item.
    EXPECT_EQ(read_items(c.packets[0]).size(), 3u);
}

TEST(ClientSoftware, ItemReachingFill1205ClosesItsPacket) {
    Collect c;
    SoftwarePacker packer(mac, c.send());
    // Items of 100 bytes (name of 97 characters + NUL + 2): fill 7 + 12 * 100
    // = 1207 after the twelfth.
    for (int i = 0; i < 11; ++i) packer.add(text_value(std::string(97, 'a' + i)), absent());
    EXPECT_EQ(packer.fill(), 1107u);
    EXPECT_TRUE(c.packets.empty());
    packer.add(text_value(std::string(97, 'x')), absent());
    ASSERT_EQ(c.packets.size(), 1u);
    EXPECT_EQ(c.packets[0].size(), 1207u);
    EXPECT_EQ(c.packets[0][0], 0xA3);
    EXPECT_EQ(packer.fill(), 7u);
    packer.add(text_value("next"), text_value("2"));
    packer.finish();
    ASSERT_EQ(c.packets.size(), 2u);
    EXPECT_EQ(c.packets[1][0], 0x99);
    EXPECT_EQ(std::vector<std::uint8_t>(c.packets[1].begin() + 1, c.packets[1].begin() + 7),
              std::vector<std::uint8_t>(mac.begin(), mac.end()));
    EXPECT_EQ(read_items(c.packets[1]), (std::vector<Item>{{"next", true, "2"}}));
}

TEST(ClientSoftware, FillOf1204StaysOpen) {
    Collect c;
    SoftwarePacker packer(mac, c.send());
    for (int i = 0; i < 11; ++i) packer.add(text_value(std::string(97, 'a')), absent());
    packer.add(text_value(std::string(94, 'b')), absent());  // 97 bytes: fill 1204
    EXPECT_EQ(packer.fill(), 1204u);
    EXPECT_TRUE(c.packets.empty());
    packer.add(text_value("c"), absent());  // fill 1207
    EXPECT_EQ(c.packets.size(), 1u);
}

TEST(ClientSoftware, LargeItemsNeverOverrunTheBuffer) {
    Collect c;
    SoftwarePacker packer(mac, c.send());
    const std::string name(254, 'N'), version(254, 'V');  // 514-byte items
    std::size_t items = 0;
    for (int i = 0; i < 40; ++i) {
        packer.add(text_value(std::string(60, 'p')), absent());  // 63 bytes
        packer.add(text_value(name), text_value(version));
        items += 2;
    }
    packer.finish();
    std::size_t read = 0;
    for (std::size_t k = 0; k < c.packets.size(); ++k) {
        const std::vector<std::uint8_t>& p = c.packets[k];
        EXPECT_LE(p.size(), max_software_packet);
        EXPECT_GE(p.size(), 8u);
        EXPECT_EQ(p[0], k == 0 ? 0xA3 : 0x99);
        read += read_items(p).size();
    }
    EXPECT_EQ(read, items);
}

struct ListEntries : UninstallEntries {
    bool opens = true;
    bool closed = false;
    std::vector<std::pair<RegistryValue, RegistryValue>> list;
    std::size_t at = 0;
    bool open() override { return opens; }
    bool next(RegistryValue& n, RegistryValue& v) override {
        if (at >= list.size()) return false;
        n = list[at].first;
        v = list[at].second;
        ++at;
        return true;
    }
    void close() override { closed = true; }
};

TEST(ClientSoftware, ScanSendsTheEntriesOrFailsWithoutKey) {
    ListEntries e;
    e.list = {{text_value("one"), absent()}, {absent(), absent()}, {text_value("two"), text_value("2.0")}};
    Collect c;
    ASSERT_TRUE(scan_software(e, mac, c.send()));
    EXPECT_TRUE(e.closed);
    ASSERT_EQ(c.packets.size(), 1u);
    EXPECT_EQ(read_items(c.packets[0]), (std::vector<Item>{{"one", false, ""}, {"two", true, "2.0"}}));

    ListEntries none;
    none.opens = false;
    Collect c2;
    EXPECT_FALSE(scan_software(none, mac, c2.send()));
    EXPECT_TRUE(c2.packets.empty());
}

}  // namespace
}  // namespace tally::client
