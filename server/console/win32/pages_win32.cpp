// The five tab pages: creation inside the tab control, their procedure
// (which passes the General page's "Update Custom Fields" and the Search
// page's buttons on to the console core), page switching.
#include <windows.h>
#include <commctrl.h>
#include <richedit.h>

#include "server/console/win32/commands.h"
#include "server/console/win32/console_win32.h"
#include "server/console/win32/dialog_host_win32.h"
#include "server/console/win32/dialog_items_win32.h"
#include "server/console/win32/resource.h"

namespace tally {

namespace {
// Page resources in the order of creation, with their tab index and the
// window text that names the page.
struct PageTemplate {
    int resource;
    PageIndex index;
    const char* name;
};
const PageTemplate page_templates[] = {
    {IDD_HARDWARE_PAGE, page_hardware, "Hardware"}, {IDD_GENERAL_PAGE, page_general, "General"},
    {IDD_SOFTWARE_PAGE, page_software, "Software"}, {IDD_STATS_PAGE, page_stats, "Server Stats"},
    {IDD_SEARCH_PAGE, page_search, "Search"},
};

// "Update Custom Fields": the General page's four texts into the selected record.
void update_custom_fields(ServerState& state, HWND page) {
    if (!state.core.selected_record_exists()) return;
    state.core.update_custom_fields(dlg_text(page, IDC_GEN_CUSTOM_FIELD_1), dlg_text(page, IDC_GEN_CUSTOM_FIELD_2),
                                    dlg_text(page, IDC_GEN_SERIAL_NUMBER), dlg_text(page, IDC_GEN_ASSET_TAG));
}

INT_PTR page_opened(ServerState&, HWND) { return FALSE; }

INT_PTR page_message(ServerState& state, HWND page, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
        case WM_COMMAND: {
            const int control = LOWORD(wparam), code = HIWORD(wparam);
            if (page == state.pages[page_general] && control == IDC_GEN_UPDATE_CUSTOM_FIELDS && code == BN_CLICKED)
                update_custom_fields(state, page);
            else if (page == state.pages[page_search])
                search_page_command(state.core, page, control, code);
            return FALSE;
        }
        default:
            return FALSE;
    }
}

// The creation parameter of every page is the ServerState.
const DialogHandlers<ServerState> page_handlers{page_opened, page_message, no_notify<ServerState>,
                                                no_close<ServerState>};
const auto page_proc = dialog_host_proc<ServerState, page_handlers>;
}  // namespace

void create_pages(ServerState& state) {
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    for (const PageTemplate& t : page_templates) {
        HWND page = CreateDialogParamA(instance, MAKEINTRESOURCEA(t.resource), state.tab_control, page_proc,
                                       reinterpret_cast<LPARAM>(&state));
        state.pages[t.index] = page;
        if (!page) continue;
        SetWindowTextA(page, t.name);
        SetWindowPos(page, nullptr, 4, 25, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void show_page(ServerState& state, int page) {
    for (int k = 0; k < page_count; ++k)
        if (state.pages[k]) ShowWindow(state.pages[k], k == page ? SW_SHOW : SW_HIDE);
}

}  // namespace tally
