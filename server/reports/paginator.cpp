// Pagination of the printed report.
#include "server/reports/paginator.h"

namespace tally {

std::vector<PrintPage> paginate(const std::vector<PrintLine>& lines, int line_height, int page_height) {
    if (line_height < 1) line_height = 1;
    std::vector<PrintPage> pages(1);
    int y = line_height;
    for (const PrintLine& line : lines) {
        if (!line.text.empty()) {
            // A line needs line_height below its y; start a new page unless
            // this one is still empty (then the line goes here regardless).
            if (y + line_height > page_height && !pages.back().empty()) {
                pages.emplace_back();
                y = line_height;
            }
            pages.back().push_back(PlacedLine{y, line.text});
        }
        y += line.advance * line_height;
    }
    return pages;
}

}  // namespace tally
