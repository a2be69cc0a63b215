// The main window (dialog 102): set-up, layout, the system list control,
// tab and list notifications, socket notifications and the menu commands.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstring>

#include "server/console/commands.h"
#include "server/console/console_win32.h"
#include "server/console/resource.h"
#include "server/console/view_texts.h"

namespace tally {

namespace {
const char* const sort_entry_texts[] = {"System Name", "MAC Address", "IP Address"};
const char* const tab_texts[page_count] = {"General", "Hardware", "Software", "Server Stats", "Search"};

void move(HWND window, int x, int y, int width, int height) {
    if (window) MoveWindow(window, x, y, width, height, TRUE);
}

void lay_out(ServerState& state, int w, int h) {
    move(state.tab_control, 120, 0, w - 120, h - 20);
    move(state.system_list, 0, 28, 118, h - 28);
    move(state.sort_selector, 0, 5, 118, 75);
    for (HWND page : state.pages) move(page, 4, 25, w - 130, h - 49);
    move(GetDlgItem(state.pages[page_software], IDC_SW_INSTALLED_SOFTWARE), 9, 75, w - 145, h - 135);
    move(GetDlgItem(state.pages[page_software], IDC_SW_INSTALLED_FRAME), 4, 55, w - 135, h - 110);
    move(GetDlgItem(state.pages[page_hardware], IDC_HW_DRIVES), 9, 230, w - 145, h - 290);
    move(GetDlgItem(state.pages[page_hardware], IDC_HW_DRIVES_FRAME), 4, 210, w - 135, h - 265);
    move(state.status_line, 120, h - 18, w - 120, 18);
    if (state.status_line) InvalidateRect(state.status_line, nullptr, TRUE);
}

void set_up(ServerState& state, HWND hwnd) {
    state.main_window = hwnd;
    state.tab_control = GetDlgItem(hwnd, IDC_TAB_CONTROL);
    state.sort_selector = GetDlgItem(hwnd, IDC_SORT_SELECTOR);
    state.system_list = GetDlgItem(hwnd, IDC_SYSTEM_LIST);
    state.status_line = GetDlgItem(hwnd, IDC_STATUS_LINE);

    open_server_socket(state);
    for (int k = 0; k < 3; ++k)
        state.sort_entries[k] =
            SendMessageA(state.sort_selector, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(sort_entry_texts[k]));
    SendMessageA(state.sort_selector, CB_SETCURSEL, 0, 0);
    for (int k = 0; k < page_count; ++k) {
        TCITEMA item{};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<char*>(tab_texts[k]);
        SendMessageA(state.tab_control, TCM_INSERTITEMA, k, reinterpret_cast<LPARAM>(&item));
    }
    create_pages(state);
    show_page(state, page_general);
    SendMessageA(state.tab_control, TCM_SETCURSEL, 0, 0);
    show_server_settings(state);
    state.list_order = ListOrder::system_name;
    refresh_system_list(state);
    init_search_page(state, state.pages[page_search]);
    // Posted, so that it follows the dialog manager's first showing of the window.
    PostMessageA(hwnd, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
}

// The sort selector's drop-down closed: take over its selection.
void take_list_order(ServerState& state) {
    const LRESULT selection = SendMessageA(state.sort_selector, CB_GETCURSEL, 0, 0);
    for (int k = 0; k < 3; ++k)
        if (selection == state.sort_entries[k]) state.list_order = static_cast<ListOrder>(k);
    refresh_system_list(state);
}

void delete_selected_record(ServerState& state) {
    if (!selected_record_exists(state)) return;
    const std::string text = delete_confirmation_text(state.store.record(state.store.selected_record()).mac());
    if (MessageBoxA(state.main_window, text.c_str(), "Delete Record", MB_YESNO) != IDYES) return;
    delete_record_command(state);
    refresh_system_list(state);
}

void settings_command(ServerState& state) {
    run_settings_dialog(state);
    state.store.open_store(state.settings.working_directory);
    // The reloaded table may be shorter: no entry may lead beyond it.
    refresh_system_list(state);
}

void menu_command(ServerState& state, int id) {
    switch (id) {
        case IDM_OUTPUT_CSV: export_csv(state); break;
        case IDM_SETTINGS: settings_command(state); break;
        case IDM_EXIT: PostMessageA(state.main_window, WM_CLOSE, 0, 0); break;
        case IDM_PRINT_RECORD: if (selected_record_exists(state)) print_record_report(state); break;
        case IDM_DELETE_RECORD: delete_selected_record(state); break;
        case IDM_EXPORT_RECORD: if (selected_record_exists(state)) export_record_report(state); break;
        case IDM_REQUEST_UPDATE: if (selected_record_exists(state)) send_remote_request(state, false); break;
        case IDM_CLOSE_REMOTE_SERVICE: if (selected_record_exists(state)) send_remote_request(state, true); break;
        case IDM_HELP: show_help(state); break;
        case IDM_ABOUT: show_about(state); break;
        default: break;
    }
}

void copy_label(const std::string& label, char* to, int capacity) {
    if (!to || capacity <= 0) return;
    const std::size_t n = std::min(label.size(), static_cast<std::size_t>(capacity - 1));
    std::memcpy(to, label.data(), n);
    to[n] = '\0';
}

void copy_label(const std::string& label, wchar_t* to, int capacity) {
    if (!to || capacity <= 0) return;
    int n = MultiByteToWideChar(CP_ACP, 0, label.data(), static_cast<int>(label.size()), to, capacity - 1);
    to[n > 0 ? n : 0] = L'\0';
}

// Rows of the virtual list come from the system list's index.
template <typename DispInfo>
void give_row_text(ServerState& state, DispInfo* info) {
    if (!(info->item.mask & LVIF_TEXT) || info->item.iItem < 0) return;
    const std::size_t row = static_cast<std::size_t>(info->item.iItem);
    copy_label(row < state.list.size() ? state.list.label_at(row) : std::string(), info->item.pszText,
               info->item.cchTextMax);
}

INT_PTR notify(ServerState& state, NMHDR* header) {
    switch (header->code) {
        case LVN_ITEMCHANGED: {
            auto* change = reinterpret_cast<NMLISTVIEW*>(header);
            if (state.list_updating || change->iItem < 0) return FALSE;
            if (!(change->uChanged & LVIF_STATE) || !(change->uNewState & LVIS_SELECTED)) return FALSE;
            const std::size_t row = static_cast<std::size_t>(change->iItem);
            if (row >= state.list.size()) return FALSE;
            state.store.set_selected_record(state.list.record_at(row));
            show_record(state, state.store.selected_record());
            return FALSE;
        }
        case LVN_GETDISPINFOA: give_row_text(state, reinterpret_cast<NMLVDISPINFOA*>(header)); return TRUE;
        case LVN_GETDISPINFOW: give_row_text(state, reinterpret_cast<NMLVDISPINFOW*>(header)); return TRUE;
        case TCN_SELCHANGE:
            show_page(state, static_cast<int>(SendMessageA(state.tab_control, TCM_GETCURSEL, 0, 0)));
            return TRUE;
        default:
            return TRUE;
    }
}
}  // namespace

void show_system_list(ServerState& state) {
    HWND list = state.system_list;
    if (list) {
        state.list_updating = true;
        SendMessageA(list, LVM_SETITEMCOUNT, state.list.size(), LVSICF_NOSCROLL);
        LVITEMA clear{};
        clear.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&clear));
        if (const auto row = state.list.position_of(state.store.selected_record())) {
            LVITEMA select{};
            select.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
            select.state = LVIS_SELECTED | LVIS_FOCUSED;
            SendMessageA(list, LVM_SETITEMSTATE, *row, reinterpret_cast<LPARAM>(&select));
        }
        InvalidateRect(list, nullptr, TRUE);
        state.list_updating = false;
    }
    if (state.pages[page_search])
        SetDlgItemTextA(state.pages[page_search], IDC_SEARCH_HITS, hits_text(state.list.hit_count()).c_str());
}

void refresh_system_list(ServerState& state) {
    state.list.rebuild(state.store, state.search, state.list_order);
    show_system_list(state);
    // The selected record's entry comes back selected, which shows it.
    if (state.list.position_of(state.store.selected_record()))
        show_record(state, state.store.selected_record());
}

INT_PTR CALLBACK main_window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    ServerState& state = server_state();
    switch (message) {
        case WM_INITDIALOG:
            set_up(state, hwnd);
            return TRUE;
        case WM_SIZE:
            lay_out(state, LOWORD(lparam), HIWORD(lparam));
            return FALSE;
        case WM_NOTIFY: {
            const INT_PTR result = notify(state, reinterpret_cast<NMHDR*>(lparam));
            SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, 0);
            return result;
        }
        case WM_COMMAND:
            if (HIWORD(wparam) == CBN_CLOSEUP) take_list_order(state);
            else if (HIWORD(wparam) == 0) menu_command(state, LOWORD(wparam));
            return FALSE;
        case socket_message:
            // Inside a dialog this number is also DM_SETDEFID: only the
            // listening socket's notifications belong to the intake.
            if (!state.socket.is_open() || wparam != static_cast<WPARAM>(state.socket.handle())) return FALSE;
            state.intake.receive_datagram(state.socket);
            return TRUE;
        case WM_CLOSE:
        case WM_DESTROY:
        case WM_QUERYENDSESSION:
            // The quit message ends every modal loop, the help and about
            // windows' included, so the server ends even while they are open.
            PostQuitMessage(0);
            return message == WM_CLOSE;
        default:
            return FALSE;
    }
}

// --- what the intake asks of the main window

void MainWindowHooks::set_status(const std::string& text) {
    ServerState& state = server_state();
    if (state.status_line) SetWindowTextA(state.status_line, text.c_str());
}

void MainWindowHooks::show_record(std::uint32_t i) { tally::show_record(server_state(), i); }

void MainWindowHooks::refresh_system_list(std::uint32_t changed) {
    ServerState& state = server_state();
    // A software search depends on software lists that arrive after the
    // hardware packet: re-evaluate every record then. Otherwise only the
    // changed record can have moved.
    if (state.search.software_on) {
        tally::refresh_system_list(state);
        return;
    }
    state.list.update_record(state.store, state.search, state.list_order, changed);
    show_system_list(state);
    // The selected record's entry comes back selected, which shows it: a new
    // computer that took the selected index appears in the views at once.
    if (changed == state.store.selected_record() && state.list.position_of(changed)) show_record(changed);
}

}  // namespace tally
