// The record report of one computer: the text-file form (CR LF line ends,
// every installed program) and the print layout (lines with their advances,
// paginated by paginator.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "server/store/history_file.h"
#include "server/store/store.h"

namespace tally {

// The report as the text file holds it. Every line ends in exactly one
// carriage return and line feed; every program of the computer is listed.
// With a history, the computer's last 20 changes end it, when it has any.
std::string report_text(const Store& store, std::uint32_t record_index, History* history = nullptr);

// One line of the printed report: its text (nothing is drawn when empty)
// and how far the next line stands below it, in line heights.
struct PrintLine {
    std::string text;
    int advance = 1;
    bool operator==(const PrintLine& o) const { return text == o.text && advance == o.advance; }
};

// The printed report's lines in order. Empty text fields leave an empty
// line in their place, so that the sections below keep their position.
std::vector<PrintLine> report_print_lines(const Store& store, std::uint32_t record_index, History* history = nullptr);

// The computer's last `count` changes, oldest first, one line each:
// "2026-12-09 05:54:48  Program updated  Editor: 1.0 -> 1.1".
std::vector<std::string> recent_change_lines(History& history, const std::uint8_t* mac, std::size_t count = 20);
constexpr char recent_changes_title[] = "Recent Changes:";

// The software lines of one computer (software_line), in table order.
std::vector<std::string> software_lines(const Store& store, const std::uint8_t* mac);

}  // namespace tally
