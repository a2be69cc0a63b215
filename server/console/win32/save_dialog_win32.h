// The save dialog that the CSV export and the record report share.
#pragma once

#include <windows.h>

#include <cstddef>

namespace tally {

// Asks for a file to write with the system's save dialog. `filter` is a
// double-NUL-terminated list of description/pattern pairs; `file_name` holds
// the proposed name on entry and the chosen path on return. False when the
// user cancelled.
bool ask_save_file(HWND owner, const char* filter, const char* title, const char* default_extension,
                   char* file_name, std::size_t file_name_size);

}  // namespace tally
