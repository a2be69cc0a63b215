// Pagination of the printed report.
#include "server/reports/paginator.h"

namespace tally {

std::vector<PrintLine> wrap_lines(const std::vector<PrintLine>& lines, int page_width, const TextWidth& width_of) {
    std::vector<PrintLine> wrapped;
    for (const PrintLine& line : lines) {
        std::string rest = line.text;
        while (!rest.empty() && width_of(rest) > page_width) {
            // Longest prefix that fits (at least one character).
            std::size_t fit = 1;
            while (fit < rest.size() && width_of(rest.substr(0, fit + 1)) <= page_width) ++fit;
            std::size_t cut = fit;
            const std::size_t blank = rest.rfind(' ', fit);
            if (blank != std::string::npos && blank > 0 && blank <= fit) cut = blank + 1;
            std::string part = rest.substr(0, cut);
            while (part.size() > 1 && part.back() == ' ') part.pop_back();
            wrapped.push_back(PrintLine{part, 1});
            rest.erase(0, cut);
        }
        if (!rest.empty() || line.text.empty()) wrapped.push_back(PrintLine{rest, line.advance});
        else wrapped.back().advance = line.advance;
    }
    return wrapped;
}

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
