// The save dialog that the CSV exports and the record report share, with its
// filter lists and the exports' file-name buffer.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>

namespace tally {

// The formats of the filter lists, given five NUL characters.
constexpr const char csv_filter_format[] = "CSV Files%c*.csv%cAll Files%c*.*%c%c";
constexpr const char text_filter_format[] = "Text Files%c*.Txt%cAll Files%c*.*%c%c";
// A double-NUL-terminated list of description/pattern pairs.
using SaveFilter = std::array<char, 64>;
SaveFilter save_filter(const char* format);

// The file-name buffer of the main window's CSV export and record report.
constexpr std::size_t export_file_name_chars = 256;

// Asks for a file to write with the system's save dialog. `filter` is a
// double-NUL-terminated list of description/pattern pairs; `file_name` holds
// the proposed name on entry and the chosen path on return. False when the
// user cancelled.
bool ask_save_file(HWND owner, const char* filter, const char* title, const char* default_extension,
                   char* file_name, std::size_t file_name_size);

}  // namespace tally
