// "Output CSV": asks for a file name and writes the whole hardware table.
#include <windows.h>

#include <cstdio>
#include <ctime>

#include "server/console/win32/commands.h"
#include "server/console/win32/save_dialog_win32.h"
#include "server/reports/csv_export.h"

namespace tally {

void export_csv(HWND owner, const Store& store) {
    char file_name[export_file_name_chars] = "Output.csv";
    const SaveFilter filter = save_filter(csv_filter_format);
    if (!ask_save_file(owner, filter.data(), "Select Output File", "csv", file_name, sizeof file_name)) return;

    std::FILE* file = std::fopen(file_name, "wb+");
    if (!file) return;  // a file that cannot be created ends the export without a box
    const std::string text = csv_text(store, static_cast<std::uint32_t>(std::time(nullptr)));
    // Result not checked: the export of this system reports no write failure.
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
}

}  // namespace tally
