// Spreadsheet exports: RFC 4180 fields and lines, and the bytes of each sheet
// for the shared sample table.
#include <gtest/gtest.h>

#include "reports_sample.h"
#include "server/reports/sheet_csv.h"

namespace tally {
namespace {

TEST(SheetCsvTest, FieldsAreQuotedOnlyWhereNeeded) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain", "plain"},         {"", ""},
        {" padded ", " padded "},   {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""}, {"two\r\nlines", "\"two\r\nlines\""},
        {"lf\nonly", "\"lf\nonly\""}, {"100% {x}", "100% {x}"},
    };
    for (const auto& [field, written] : cases) {
        const std::string text = sheet_text([&](SheetWriter& out) {
            out.field(field);
            out.field("x");
            out.end_line();
            return out.finish();
        });
        EXPECT_EQ(text, written + ",x\r\n") << field;
    }
}

TEST(SheetCsvTest, AFailingSinkIsReported) {
    SheetWriter out([](const char*, std::size_t) { return false; });
    out.field("x");
    out.end_line();
    EXPECT_FALSE(out.finish());
}

TEST(SheetCsvTest, SheetsOfTheSampleTable) {
    test::StoreFixture fixture = test::sample_store();
    const Store& store = fixture.store();

    EXPECT_EQ(sheet_text([&](SheetWriter& out) { return write_inventory_sheet(store, out); }),
              "Computer Name,MAC Address,Program,Version\r\n"
              "PC-ALPHA,00:0C:29:AB:0F:10,Home Office Suite 2,11.0\r\n"
              "PC-ALPHA,00:0C:29:AB:0F:10,Zip Tool, 1.0\r\n"
              "PC-ALPHA,00:0C:29:AB:0F:10,Percent 100% Tool,{x}\r\n"
              "PC-ALPHA,00:0C:29:AB:0F:10,Viewer,z9\r\n"
              "PC-ALPHA,00:0C:29:AB:0F:10,Player,~1\r\n"
              "PC-GAMMA,00:0C:29:AB:0F:40,Editor Pro,2\r\n");

    SoftwareCatalogue catalogue;
    catalogue.build(store);
    const std::string programs = sheet_text([&](SheetWriter& out) { return write_catalogue_sheet(catalogue, out); });
    EXPECT_EQ(programs.substr(0, programs.find("Percent")),
              "Program,Computers,Version,Version Computers\r\n"
              "Editor Pro,1,2,1\r\n"
              "Home Office Suite 2,1,11.0,1\r\n");
    EXPECT_EQ(sheet_text([&](SheetWriter& out) {
                  return write_program_computers_sheet(store, catalogue, 0, std::nullopt, out);
              }),
              "Computer Name,MAC Address,IP Address,User,Program,Version\r\n"
              "PC-GAMMA,00:0C:29:AB:0F:40,10.0.0.10,\"line\nbreak\",Editor Pro,2\r\n");

    SystemsGrid grid;
    grid.fill(store, test::sample_time);
    const std::string rows = sheet_text([&](SheetWriter& out) { return write_grid_sheet(grid, out); });
    EXPECT_EQ(rows.substr(0, rows.find("\r\n")),
              "Computer Name,User,IP Address,MAC Address,Windows,Processor,Speed in Mhz,RAM Size in MB,Disk Total MB,"
              "Disk Free MB,Fullest Disk % Free,Last Report,Days Since,Serial Number,Asset Tag,Custom Field 1,"
              "Custom Field 2,Processor Name,Manufacturer and Model,BIOS Serial Number,Windows Edition,Signed,First Seen");
    EXPECT_EQ(rows.find("\"Lab \"\"B\"\"\",,10.0.0.9,"), rows.find("\r\n") + 2);  // first row, name quoted
    EXPECT_NE(rows.find(",SN-0042,AT-9,Room 12,\"Owner, Finance\",,,,,No,\r\n"), std::string::npos);
}

}  // namespace
}  // namespace tally
