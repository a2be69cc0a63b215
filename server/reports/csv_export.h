// The text of the CSV export: a dated banner, the header and one line per
// computer of the hardware table, free records left out.
#pragma once

#include <cstdint>
#include <string>

#include "server/store/store.h"

namespace tally {

// "Kestrin's Vodirir Ozozu Output dated <date text>\n\n".
std::string csv_banner(std::uint32_t now);
// The header line followed by one empty line.
std::string csv_header();
// One record's line, ended by a line feed. A text field holding a comma, a
// double quote or a line break is quoted with its quotes doubled, so that it
// stays in its column; every other field is written as it stands.
std::string csv_line(const RecordView& record);
// The whole file: banner (dated now), header, the lines of every record
// that is not free, in table order. Line feeds only.
std::string csv_text(const Store& store, std::uint32_t now);

// A text field as it goes into a line: unchanged, or quoted as above.
std::string csv_field(const std::string& text);

}  // namespace tally
