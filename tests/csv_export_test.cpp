// The CSV export text: banner, header, the line formats and the quoting of
// text fields that would otherwise spill into the next column.
#include <gtest/gtest.h>

#include "reports_sample.h"
#include "server/reports/csv_export.h"

namespace tally {
namespace {

using test::RecordBuilder;
using test::StoreFixture;

TEST(CsvExport, WholeFileMatchesGolden) {
    StoreFixture f = test::sample_store();
    test::expect_golden("csv_export.csv", csv_text(f.store(), test::sample_time), test::sample_time);
}

TEST(CsvExport, EmptyTableGivesBannerTwoEmptyLinesHeaderAndOneEmptyLine) {
    StoreFixture f({}, {});
    const std::string text = csv_text(f.store(), test::sample_time);
    const std::string date = date_text(test::sample_time);
    EXPECT_EQ(text, "Kestrin's Vodirir Ozozu Output dated " + date + "\n\n" + csv_header());
    EXPECT_EQ(csv_header().substr(csv_header().size() - 2), "\n\n");
    EXPECT_NE(csv_header().find("Video Width (Pixels),Video Height (Pixels), Last User"), std::string::npos);
    EXPECT_EQ(text.find('\r'), std::string::npos);
}

TEST(CsvExport, LineFormats) {
    RecordBuilder r = test::sample_full();
    std::string line = csv_line(RecordView(r.bytes().data()));
    EXPECT_NE(line.find(", 0F29, 2992.6, 512, 1024, 25:01:01, 5, 1, 2600, 1024, 768, "), std::string::npos) << line;
    EXPECT_EQ(line.substr(0, 34), "00:0C:29:AB:0F:10, 192.168.0.10, P");

    r.u32(hw_record::cpuid_code, 0x10676).f32(hw_record::speed_mhz, 1000.0f).u32(hw_record::up_time, 59);
    line = csv_line(RecordView(r.bytes().data()));
    EXPECT_NE(line.find(", 10676, 1000.0, "), std::string::npos) << line;
    EXPECT_NE(line.find(", 0:00:59, "), std::string::npos) << line;

    // Sizes beyond 2^31 are written as signed numbers.
    r.u32(hw_record::ram_mb, 0xFFFFFFFFu);
    line = csv_line(RecordView(r.bytes().data()));
    EXPECT_NE(line.find(", 1000.0, -1, 1024, "), std::string::npos) << line;
    EXPECT_EQ(line.back(), '\n');
}

TEST(CsvExport, TextFieldsWithCommaQuoteOrLineBreakAreQuoted) {
    test::expect_each_text(csv_field, {
        {"plain text", "plain text"},
        {"", ""},
        {"Owner, Finance", "\"Owner, Finance\""},
        {"Lab \"B\"", "\"Lab \"\"B\"\"\""},
        {"line\nbreak", "\"line\nbreak\""},
        {"cr\rhere", "\"cr\rhere\""},
    });

    // A computer name with a comma keeps the line at the header's columns.
    RecordBuilder r = test::sample_full();
    r.text(hw_record::computer_name, "Sales, 2nd floor");
    const std::string line = csv_line(RecordView(r.bytes().data()));
    EXPECT_NE(line.find(", \"Sales, 2nd floor\", 2, "), std::string::npos) << line;
}

}  // namespace
}  // namespace tally
