// Splits the printed report into pages: each line at its own y, the first
// at one line height from the top, the next page started when a line would
// end below the printable area.
#pragma once

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

// Places the lines with line height `line_height` on pages of
// `page_height` device units. A line that would reach below the page goes
// to the top of the next page (at y = line_height) instead of being lost;
// a line is placed even when a page cannot hold it, so that nothing is
// dropped. Empty lines only move y; at the top of a new page they are not
// carried over. There is always at least one page.
std::vector<PrintPage> paginate(const std::vector<PrintLine>& lines, int line_height, int page_height);

}  // namespace tally
