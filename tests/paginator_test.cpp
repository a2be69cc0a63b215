// Pagination of the printed report: first line at one line height, the
// advances, new pages instead of lost lines, empty lines not drawn.
#include <gtest/gtest.h>

#include "server/reports/paginator.h"

namespace tally {
namespace {

std::vector<PrintLine> numbered(int n, int advance = 1) {
    std::vector<PrintLine> lines;
    for (int i = 0; i < n; ++i) lines.push_back(PrintLine{"line " + std::to_string(i), advance});
    return lines;
}

TEST(Paginator, OnePageWithTheAdvances) {
    const std::vector<PrintLine> lines = {{"title", 2}, {"a", 1}, {"", 1}, {"b", 2}, {"c", 1}};
    const auto pages = paginate(lines, 50, 1000);
    ASSERT_EQ(pages.size(), 1u);
    const PrintPage expected = {{50, "title"}, {150, "a"}, {250, "b"}, {350, "c"}};
    EXPECT_EQ(pages[0], expected);
}

TEST(Paginator, LinesBelowThePrintableAreaGoToFurtherPages) {
    // Page of 100 units, lines of 10: a line at y fits while y + 10 <= 100,
    // so each page holds y = 10 .. 90, nine lines.
    const auto lines = numbered(20);
    const auto pages = paginate(lines, 10, 100);
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(pages[0].size(), 9u);
    EXPECT_EQ(pages[1].size(), 9u);
    EXPECT_EQ(pages[2].size(), 2u);
    std::size_t n = 0;
    for (const PrintPage& page : pages) {
        EXPECT_EQ(page.front().y, 10);
        for (const PlacedLine& l : page) {
            EXPECT_LE(l.y + 10, 100);
            EXPECT_EQ(l.text, "line " + std::to_string(n++));
        }
    }
    EXPECT_EQ(n, 20u) << "no line is lost";
}

TEST(Paginator, EmptyLinesAreNotCarriedToTheTopOfANewPage) {
    std::vector<PrintLine> lines = numbered(8);
    lines.push_back(PrintLine{"", 2});
    lines.push_back(PrintLine{"after the gap", 1});
    const auto pages = paginate(lines, 10, 100);
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[1], (PrintPage{{10, "after the gap"}}));
}

TEST(Paginator, DegenerateSizesDropNothing) {
    // A page too small for even one line still takes one line each.
    auto pages = paginate(numbered(3), 50, 20);
    ASSERT_EQ(pages.size(), 3u);
    for (const PrintPage& p : pages) EXPECT_EQ(p.size(), 1u);
    // No lines: one empty page. A zero line height counts as one unit.
    pages = paginate({}, 10, 100);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_TRUE(pages[0].empty());
    pages = paginate(numbered(3), 0, 100);
    EXPECT_EQ(pages[0].size(), 3u);
}

// Ten units per character, as a fixed-pitch printer font would measure.
int fixed_width(const std::string& text) { return static_cast<int>(text.size()) * 10; }

TEST(Paginator, WideLinesWrapAtBlanksAndKeepTheirAdvance) {
    const std::vector<PrintLine> lines = {{"short", 2}, {"Monitor Resolution: 1024x768 Bits", 2}, {"", 1}};
    const std::vector<PrintLine> wrapped = wrap_lines(lines, 200, fixed_width);
    const std::vector<PrintLine> expected = {
        {"short", 2}, {"Monitor Resolution:", 1}, {"1024x768 Bits", 2}, {"", 1}};
    EXPECT_EQ(wrapped, expected);
    for (const PrintLine& l : wrapped) EXPECT_LE(fixed_width(l.text), 200);
}

TEST(Paginator, AWordWiderThanThePageIsCutAndNothingIsLost) {
    const std::vector<PrintLine> wrapped = wrap_lines({{"abcdefghij", 1}}, 35, fixed_width);
    const std::vector<PrintLine> expected = {{"abc", 1}, {"def", 1}, {"ghi", 1}, {"j", 1}};
    EXPECT_EQ(wrapped, expected);
    // A page narrower than one character still takes one per line.
    EXPECT_EQ(wrap_lines({{"ab", 1}}, 5, fixed_width).size(), 2u);
}

}  // namespace
}  // namespace tally
