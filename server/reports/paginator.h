// Splits the printed report into pages: each line at its own y, the first
// at one line height from the top, the next page started when a line would
// end below the printable area.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "server/reports/record_report.h"

namespace tally {

struct PlacedLine {
    int y = 0;  // top of the line, device units from the top of the printable area
    std::string text;
    bool operator==(const PlacedLine& o) const { return y == o.y && text == o.text; }
};

using PrintPage = std::vector<PlacedLine>;  // the lines to draw, empty lines left out

// Measures a text's width in device units on the printer.
using TextWidth = std::function<int(const std::string&)>;

// Splits every line wider than `page_width` into lines that fit, breaking
// after a blank where one allows it and inside a word only when the word
// alone is too wide; each part keeps at least one character. The parts of a
// line follow one another at one line height, the last keeps the line's
// own advance.
std::vector<PrintLine> wrap_lines(const std::vector<PrintLine>& lines, int page_width, const TextWidth& width_of);

// Places the lines with line height `line_height` on pages of
// `page_height` device units. A line that would reach below the page goes
// to the top of the next page (at y = line_height) instead of being lost;
// a line is placed even when a page cannot hold it, so that nothing is
// dropped. Empty lines only move y; at the top of a new page they are not
// carried over. There is always at least one page.
std::vector<PrintPage> paginate(const std::vector<PrintLine>& lines, int line_height, int page_height);

}  // namespace tally
