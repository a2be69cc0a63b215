// The record report: the text file with and without the optional lines and
// programs, and the print layout's lines and advances.
#include <gtest/gtest.h>

#include "reports_sample.h"
#include "server/model/changes_view.h"
#include "server/reports/record_report.h"

#include <algorithm>

namespace tally {
namespace {

using test::RecordBuilder;
using test::StoreFixture;

// Every line ends in exactly one CR LF: no bare LF, no CR CR.
void expect_crlf_lines(const std::string& text) {
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            EXPECT_TRUE(i > 0 && text[i - 1] == '\r') << "bare line feed at " << i;
        }
        if (text[i] == '\r') {
            EXPECT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << "lone CR at " << i;
        }
    }
}

TEST(RecordReport, FullRecordTextMatchesGolden) {
    StoreFixture f = test::sample_store();
    const std::string text = report_text(f.store(), 0);
    expect_crlf_lines(text);
    test::expect_golden("record_report_full.txt", text, test::sample_time);
}

TEST(RecordReport, BareRecordHasNoOptionalLinesAndEndsWithInstalledSoftware) {
    StoreFixture f = test::sample_store();
    const std::string text = report_text(f.store(), 2);
    expect_crlf_lines(text);
    test::expect_golden("record_report_bare.txt", text, test::sample_time + 86400);
    EXPECT_EQ(text.find("Serial Number"), std::string::npos);
    EXPECT_EQ(text.find("Custom Field"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 21), "Installed Software:\r\n");
    EXPECT_NE(text.find("\r\nOperating System:\r\n - Version 4.20.1000\r\n"), std::string::npos);
}

TEST(RecordReport, OperatingSystemLineAndRefreshTexts) {
    StoreFixture f = test::sample_store();
    EXPECT_NE(report_text(f.store(), 0).find("\r\nWindows XP - Version 5.1.2600\r\n"), std::string::npos);
    const std::string gamma = report_text(f.store(), 3);
    EXPECT_NE(gamma.find("\r\nWindows 7 - Version 6.1.7601\r\n"), std::string::npos);
    EXPECT_NE(gamma.find("Bits Per Pixel 0     Refresh Rate Unknown\r\n"), std::string::npos);
    EXPECT_NE(report_text(f.store(), 2).find("     Refresh Rate 1 Hz (Interlaced)\r\n"), std::string::npos);
}

TEST(RecordReport, EveryProgramIsListedWithoutCut) {
    RecordBuilder r = test::sample_full();
    std::vector<std::vector<std::uint8_t>> entries;
    for (int k = 0; k < 1500; ++k)
        entries.push_back(test::software_entry(r.mac(), "Program number " + std::to_string(k) + " of a long list",
                                               "1.0." + std::to_string(k)));
    StoreFixture f({r}, entries);
    const std::string text = report_text(f.store(), 0);
    EXPECT_GT(text.size(), 65000u);
    EXPECT_NE(text.find("Program number 1499 of a long list (Version 1.0.1499)\r\n"), std::string::npos);
    EXPECT_EQ(report_print_lines(f.store(), 0).back().text, "Program number 1499 of a long list (Version 1.0.1499)");
}

TEST(RecordReport, FactsOfTheExtensionRecordAddTheirLines) {
    RecordBuilder r = test::sample_full();
    r.u8(hw_record::windows_major, 10).u8(hw_record::windows_minor, 0).u16(hw_record::windows_build, 17763);
    StoreFixture f({r}, {});
    const std::string before = report_text(f.store(), 0);
    EXPECT_NE(before.find("\r\nWindows 10 - Version 10.0.17763\r\n\r\n"), std::string::npos);
    ExtensionRecord ext;
    std::copy_n(r.mac(), 6, ext.mac.begin());
    ext.product_type = 3;
    ext.facts.processor_name = "Intel(R) Xeon(R) Gold 6230";
    ext.facts.manufacturer = "Maker";
    ext.facts.model = "Rack 9";
    ext.facts.bios_serial = "BIOS-77";
    ext.facts.windows_edition = "ServerStandard";
    ext.facts.display_version = "1809";
    ASSERT_TRUE(f.store().store_extension(0, ext));
    const std::string text = report_text(f.store(), 0);
    for (const char* part : {"CPU Speed 2992.6 Mhz\r\nProcessor: Intel(R) Xeon(R) Gold 6230\r\nSystem: Maker Rack 9\r\n"
                             "Total RAM:",
                             "\r\nSerial Number: SN-0042\r\nBIOS Serial Number: BIOS-77\r\nAsset Tag:",
                             "\r\nWindows Server 2019 - Version 10.0.17763\r\nWindows Edition: ServerStandard 1809\r\n\r\n"})
        EXPECT_NE(text.find(part), std::string::npos) << part;
    const std::vector<PrintLine> lines = report_print_lines(f.store(), 0);
    ASSERT_EQ(lines.size(), 24u);  // the print layout of the full record, four lines more
    EXPECT_EQ(lines[5].text, "Processor: Intel(R) Xeon(R) Gold 6230");
    EXPECT_EQ(lines[21].advance, 1);
    EXPECT_EQ(lines[22].text, "Windows Edition: ServerStandard 1809");
    EXPECT_EQ(lines[22].advance, 2);
}

TEST(RecordReport, NoRecordGivesNoReport) {
    StoreFixture empty({}, {});
    EXPECT_FALSE(empty.store().holds_computer(0));
    EXPECT_EQ(report_text(empty.store(), 0), "");
    EXPECT_TRUE(report_print_lines(empty.store(), 0).empty());
    StoreFixture f = test::sample_store();
    EXPECT_TRUE(f.store().holds_computer(0));
    EXPECT_FALSE(f.store().holds_computer(1)) << "deleted record";
    EXPECT_FALSE(f.store().holds_computer(4));
    // A free record lists none of the free entries that share its zero MAC.
    EXPECT_TRUE(software_lines(f.store(), f.store().record(1).mac()).empty());
}

TEST(RecordReport, PrintLayout) {
    StoreFixture f = test::sample_store();
    const std::vector<PrintLine> lines = report_print_lines(f.store(), 0);
    const std::string date = test::expand_date("@DATE@", test::sample_time);
    const std::vector<PrintLine> expected = {
        {"System details for computer PC-ALPHA as of " + date + " ", 2},
        {"Network Details:", 1},
        {" MAC Address: 00:0C:29:AB:0F:10     IP Address: 192.168.0.10  ", 2},
        {"Hardware Details:", 1},
        {"CPUID Code: 0F29     CPUID Response: GenuineIntel      CPU Speed 2992.6 Mhz", 1},
        {"Total RAM: 512 MB   Swap Size: 1024 MB", 1},
        {"Monitor Resolution: 1024x768     Bits Per Pixel 32     Refresh Rate 75 Hz (NI)", 2},
        {"Disk Drives:", 1},
        {"A: (Removable Disk)", 1},
        {"C: 12800 MB Free 40960 MB Total (Hard Disk)", 1},
        {"D: (CDROM)", 1},
        {"E: 500 MB Free 8000 MB Total (Hard Disk)", 1},
        {"", 1},
        {"Serial Number: SN-0042", 1},
        {"Asset Tag: AT-9", 1},
        {"Custom Field 1: Room 12", 1},
        {"Custom Field 2: Owner, Finance", 2},
        {"Operating System:", 1},
        {"Windows XP - Version 5.1.2600", 2},
        {"Installed Software:", 1},
        {"Home Office Suite 2 (Version 11.0)", 1},
        {"Zip Tool", 1},
        {"Percent 100% Tool", 1},
        {"Viewer (Version z9)", 1},
        {"Player", 1},
    };
    ASSERT_EQ(lines.size(), expected.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].text, expected[i].text) << "line " << i;
        EXPECT_EQ(lines[i].advance, expected[i].advance) << "line " << i;
    }

    // Empty fields keep their places, so "Operating System:" stands as low.
    const std::vector<PrintLine> bare = report_print_lines(f.store(), 2);
    ASSERT_EQ(bare.size(), 16u);
    EXPECT_EQ(bare[6].text, "Monitor Resolution: 640x480     Bits Per Pixel 8     Refresh Rate 1 Hz (Int)");
    for (int i = 8; i <= 12; ++i) EXPECT_EQ(bare[i].text, "") << i;
    EXPECT_EQ(bare[12].advance, 2);
    EXPECT_EQ(bare[14].text, " - Version 4.20.1000");
    EXPECT_EQ(bare.back().text, "Installed Software:");
}

}  // namespace
}  // namespace tally

namespace tally {
namespace {

TEST(RecordReport, EndsWithTheLastTwentyChangesOnlyWhenTheComputerHasAny) {
    StoreFixture f = test::sample_store();
    History history;
    ASSERT_EQ(history.open(f.directory()), 0);
    const std::string bare = report_text(f.store(), 2);
    EXPECT_EQ(report_text(f.store(), 0, &history), report_text(f.store(), 0)) << "an empty history adds nothing";
    std::vector<ChangeEvent> events(25);
    for (std::size_t k = 0; k < events.size(); ++k) {
        std::copy_n(f.store().record(0).mac(), 6, events[k].mac.begin());
        events[k].kind = ChangeKind::program_updated;
        events[k].what = "Editor";
        events[k].old_value = std::to_string(k);
        events[k].new_value = std::to_string(k + 1);
    }
    ASSERT_TRUE(history.append(events, test::sample_time));
    EXPECT_EQ(report_text(f.store(), 2, &history), bare) << "another computer's events";
    const std::string text = report_text(f.store(), 0, &history);
    const std::string head = report_text(f.store(), 0) + "\r\nRecent Changes:\r\n";
    ASSERT_EQ(text.substr(0, head.size()), head);
    const std::string first = change_time_text(test::sample_time) + "  Program updated  Editor: 5 -> 6\r\n";
    EXPECT_EQ(text.substr(head.size(), first.size()), first);
    EXPECT_EQ(std::count(text.begin() + static_cast<std::ptrdiff_t>(head.size()), text.end(), '\n'), 20);
    const auto print = report_print_lines(f.store(), 0, &history);
    ASSERT_EQ(print.size(), report_print_lines(f.store(), 0).size() + 22);
    EXPECT_EQ(print.back().text, change_time_text(test::sample_time) + "  Program updated  Editor: 24 -> 25");
}

}  // namespace
}  // namespace tally
