// The save dialog shared by the CSV export and the record report.
#include "server/console/win32/save_dialog_win32.h"

#include <commdlg.h>

#include <cstdio>

namespace tally {

SaveFilter save_filter(const char* format) {
    SaveFilter filter{};
    std::snprintf(filter.data(), filter.size(), format, 0, 0, 0, 0, 0);
    return filter;
}

bool ask_save_file(HWND owner, const char* filter, const char* title, const char* default_extension,
                   char* file_name, std::size_t file_name_size) {
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filter;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file_name;
    ofn.nMaxFile = static_cast<DWORD>(file_name_size);
    ofn.lpstrTitle = title;
    ofn.lpstrDefExt = default_extension;
    ofn.Flags = OFN_HIDEREADONLY;
    return GetSaveFileNameA(&ofn) != 0;
}

}  // namespace tally
