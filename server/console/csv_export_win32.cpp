// "Output CSV": asks for a file name and writes the whole hardware table.
#include <windows.h>
#include <commdlg.h>

#include <cstdio>
#include <ctime>

#include "server/console/commands.h"
#include "server/console/server_state.h"
#include "server/reports/csv_export.h"

namespace tally {

void export_csv(ServerState& state) {
    char file_name[256] = "Output.csv";
    char filter[64];
    std::snprintf(filter, sizeof filter, "CSV Files%c*.csv%cAll Files%c*.*%c%c", 0, 0, 0, 0, 0);
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = state.main_window;
    ofn.lpstrFilter = filter;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file_name;
    ofn.nMaxFile = sizeof file_name;
    ofn.lpstrTitle = "Select Output File";
    ofn.lpstrDefExt = "csv";
    ofn.Flags = OFN_HIDEREADONLY;
    if (!GetSaveFileNameA(&ofn)) return;

    std::FILE* file = std::fopen(file_name, "wb+");
    if (!file) return;
    const std::string text = csv_text(state.store, static_cast<std::uint32_t>(std::time(nullptr)));
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
}

}  // namespace tally
