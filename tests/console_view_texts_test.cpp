// The texts of the record pages, the Server Stats page and the delete box.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "console_fixture.h"
#include "server/console/view_texts.h"

namespace tally {
namespace {

using test::Tables;

class ViewTexts : public ::testing::Test {
protected:
    test::TempDir dir;
    test::RecordingNotifier notifier;
    Store store{notifier};
    Tables tables;
};

// Texts joined with '|', so that one comparison shows a whole group of a page.
std::string joined(std::initializer_list<std::string> texts) {
    std::string out;
    for (const std::string& text : texts) {
        if (&text != texts.begin()) out += '|';
        out += text;
    }
    return out;
}

// The General page's own texts, in the page's order.
std::string general_line(const RecordTexts& t) {
    const GeneralTexts& g = t.general;
    return joined({g.computer_name, g.mac_address, g.ip_address, g.up_time, g.user, g.serial_number, g.asset_tag,
                   g.custom_field_1, g.custom_field_2});
}

// The display's texts: resolution, colours and refresh rate.
std::string display_line(const RecordTexts& t) {
    return joined({t.hardware.resolution, t.hardware.bits_per_pixel, t.hardware.refresh_rate});
}

TEST_F(ViewTexts, DriveLinesByTypeInSlotOrder) {
    test::RecordBytes& r = tables.add_record(test::mac_of(1), "PC1");
    test::set_drive(r, 0, 'A', 2, 0, 0);
    test::set_drive(r, 1, 'C', 3, 12800ull << 20, 40ull << 30);
    test::set_drive(r, 2, 'N', 4, 1 << 20, 1 << 20);  // network drive: no line
    test::set_drive(r, 3, 'R', 6, 1 << 20, 1 << 20);  // RAM disk: no line
    test::set_drive(r, 4, 'E', 5, 0, 0);
    // 3 TB and a fraction of a MB: shifted by 20 bits and truncated.
    test::set_drive(r, 5, 'F', 3, (1ull << 20) + 1048575, 3ull << 40);
    ASSERT_TRUE(tables.load(store, dir));
    EXPECT_EQ(drive_lines(store.record(0)),
              "A:\t(Removable Disk)\r\n"
              "C:\t12800 MB Free 40960 MB Total (Hard Disk)\r\n"
              "E:\t(CDROM)\r\n"
              "F:\t1 MB Free 3145728 MB Total (Hard Disk)\r\n");
}

TEST_F(ViewTexts, LowerCaseDriveLettersOfOlderFilesAreShownRaised) {
    test::RecordBytes& r = tables.add_record(test::mac_of(1), "PC1");
    test::set_drive(r, 0, 'c', 3, 0, 0);
    test::set_drive(r, 1, 'z', 5, 0, 0);
    ASSERT_TRUE(tables.load(store, dir));
    EXPECT_EQ(record_texts(store, 0).hardware.drives, "C:\t0 MB Free 0 MB Total (Hard Disk)\r\nZ:\t(CDROM)\r\n");
}

TEST(ViewTextFormats, DisplayAndClock) {
    EXPECT_EQ(bits_per_pixel_text(8), "8 (256 colours)");
    EXPECT_EQ(bits_per_pixel_text(16), "16 (65536 colours)");
    EXPECT_EQ(bits_per_pixel_text(32), "32 (4294967296 colours)");
    EXPECT_EQ(bits_per_pixel_text(0), "0 (1 colours)");
    EXPECT_EQ(refresh_rate_text(1, 1), "N/A (Interlaced)");
    EXPECT_EQ(refresh_rate_text(0, 0), "N/A (Non Interlaced)");
    EXPECT_EQ(refresh_rate_text(75, 0), "75 (non-interlaced)");
    EXPECT_EQ(refresh_rate_text(60, 2), "60 (interlaced)");
    EXPECT_EQ(clock_speed_text(2992.6f), "2992.60");
    EXPECT_EQ(clock_speed_text(0.0f), "0.00");
    EXPECT_EQ(unsigned_text(4294967295u), "4294967295");
}

TEST_F(ViewTexts, PagesOfAFullRecord) {
    test::RecordBytes& r = tables.add_record({0x00, 0x0A, 0xBC, 0x01, 0x02, 0xFF}, "PC9", {192, 168, 0, 9});
    std::uint8_t* b = r.data();
    put_u32(b, hw_record::up_time, 176527);
    put_u32(b, hw_record::cpuid_code, 0x0F29);
    put_text(b, hw_record::cpuid_response, "GenuineIntel");
    put_f32(b, hw_record::speed_mhz, 2992.6f);
    put_u32(b, hw_record::ram_mb, 512);
    put_u32(b, hw_record::pagefile_mb, 1024);
    put_u32(b, hw_record::windows_platform, 2);
    put_u8(b, hw_record::windows_major, 5);
    put_u8(b, hw_record::windows_minor, 1);
    put_u16(b, hw_record::windows_build, 2600);
    put_u32(b, hw_record::video_width, 1024);
    put_u32(b, hw_record::video_height, 768);
    put_u32(b, hw_record::bits_per_pixel, 32);
    put_u16(b, hw_record::refresh_rate, 75);
    put_text(b, hw_record::last_user, "alice");
    put_text(b, hw_record::serial_number, "SER");
    put_text(b, hw_record::custom_field_2, "C2");
    ASSERT_TRUE(tables.load(store, dir));
    const RecordTexts t = record_texts(store, 0);
    EXPECT_EQ(general_line(t), "PC9|00:0A:BC:01:02:FF|192.168.0.9|49:02:07|alice|SER|||C2");
    EXPECT_EQ(joined({t.hardware.cpuid_response, t.hardware.cpu_family, t.hardware.cpu_model, t.hardware.cpu_stepping,
                      t.hardware.clock_speed, t.hardware.total_ram, t.hardware.swap_size}),
              "GenuineIntel|F|2|9|2992.60|512|1024");
    EXPECT_EQ(display_line(t), "1024 x 768|32 (4294967296 colours)|75 (non-interlaced)");
    EXPECT_EQ(joined({t.software.major_version, t.software.minor_version, t.software.build, t.software.platform_name}),
              "5|1|2600|Windows XP");
    EXPECT_EQ(t.hardware.processor_name + t.hardware.model + t.general.bios_serial + t.general.windows_release, "")
        << "no extension record";

    ExtensionRecord ext;
    ext.mac = {0x00, 0x0A, 0xBC, 0x01, 0x02, 0xFF};
    ext.product_type = 1;  // version 5.2 as a workstation: the 64-bit XP
    ext.facts.processor_name = "Intel(R) Core(TM) i7";
    ext.facts.manufacturer = "Maker";
    ext.facts.model = "Desk 1";
    ext.facts.bios_serial = "B-1";
    ext.facts.display_version = "SP2";
    ASSERT_TRUE(store.store_extension(0, ext));
    put_u8(b, hw_record::windows_minor, 2);
    ASSERT_TRUE(store.replace_record(0, b));
    const RecordTexts x = record_texts(store, 0);
    EXPECT_EQ(joined({x.hardware.processor_name, x.hardware.manufacturer, x.hardware.model, x.general.bios_serial,
                      x.general.windows_release, x.software.platform_name}),
              "Intel(R) Core(TM) i7|Maker|Desk 1|B-1|SP2|Windows XP");
}

TEST_F(ViewTexts, RecordOfZerosAndUnknownSystems) {
    tables.add_record(test::mac_of(1), "");
    test::RecordBytes& r = tables.add_record(test::mac_of(2), "W");
    put_u32(r.data(), hw_record::windows_platform, 1);
    put_u8(r.data(), hw_record::windows_minor, 20);
    test::RecordBytes& v = tables.add_record(test::mac_of(3), "V");
    put_u32(v.data(), hw_record::windows_platform, 2);
    put_u8(v.data(), hw_record::windows_major, 6);
    ASSERT_TRUE(tables.load(store, dir));
    const RecordTexts t = record_texts(store, 0);
    EXPECT_EQ(general_line(t), "|00:11:00:00:00:01|10.0.0.1|0:00:00|||||");
    EXPECT_EQ(display_line(t), "0 x 0|0 (1 colours)|N/A (Non Interlaced)");
    EXPECT_EQ(t.software.platform_name, "Windows 3.x running Win32s");
    EXPECT_EQ(t.hardware.drives, "");
    // A combination the name table does not know has no name, not a stale text.
    EXPECT_EQ(record_texts(store, 1).software.platform_name, "");
    EXPECT_EQ(record_texts(store, 2).software.platform_name, "Windows Vista");
}

TEST_F(ViewTexts, InstalledSoftwareInTableOrderWithPrintableVersionsOnly) {
    const auto mine = test::mac_of(1), other = test::mac_of(2);
    tables.add_record(mine, "PC1");
    tables.add_entry(mine, "Zip Tool", "9.20");
    tables.add_entry(other, "Not Mine", "1.0");
    tables.add_entry(mine, "Blank", " 1.0");
    tables.add_entry(mine, "Brace", "{1}");
    tables.add_entry(mine, "Tilde", "~1");
    tables.add_entry(mine, "High", "\xE9t\xE9");
    tables.add_entry(mine, "Bang", "!1");
    tables.add_entry(mine, "Zed", "z9");
    tables.add_entry(mine, "Editor", "");
    tables.add_entry(mine, "100% Percent", "1.0");
    ASSERT_TRUE(tables.load(store, dir));
    EXPECT_EQ(installed_software_text(store, store.record(0).mac()),
              "Zip Tool (Version 9.20)\r\nBlank\r\nBrace\r\nTilde\r\nHigh\r\nBang (Version !1)\r\n"
              "Zed (Version z9)\r\nEditor\r\n100% Percent (Version 1.0)\r\n");
    EXPECT_EQ(installed_software_text(store, test::mac_of(3).data()), "");
}

TEST_F(ViewTexts, InstalledSoftwareListsEveryProgramBeyond65000Characters) {
    const auto mine = test::mac_of(1);
    tables.add_record(mine, "PC1");
    const std::string name(60, 'n');  // 62 bytes a line with CR LF
    for (int k = 0; k < 2000; ++k) tables.add_entry(mine, name);
    tables.add_entry(mine, "Last One");
    ASSERT_TRUE(tables.load(store, dir));
    const std::string text = installed_software_text(store, store.record(0).mac());
    EXPECT_EQ(text.size(), 2000u * 62 + 10);
    EXPECT_EQ(text.substr(text.size() - 10), "Last One\r\n");
}

TEST(DeleteConfirmation, NamesTheMacAddress) {
    const std::uint8_t mac[6] = {0x00, 0x1b, 0x2C, 0x03, 0xD4, 0xe5};
    EXPECT_EQ(delete_confirmation_text(mac), "Are you sure you wish to delete 00:1B:2C:03:D4:E5 from the database?");
}

}  // namespace
}  // namespace tally
