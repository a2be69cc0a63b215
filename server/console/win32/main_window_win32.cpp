// The main window (dialog 102): set-up, layout, the system list control,
// tab and list notifications, socket notifications and the menu commands.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <ctime>

#include "server/console/win32/commands.h"
#include "server/console/win32/console_win32.h"
#include "server/console/win32/dialog_host_win32.h"
#include "server/console/win32/dialog_items_win32.h"
#include "server/console/win32/inventory_common_win32.h"
#include "server/console/win32/resource.h"
#include "server/console/view_texts.h"

namespace tally {

namespace {
const char* const tab_texts[page_count] = {"General", "Hardware", "Software", "Server Stats", "Search"};
constexpr int receive_buffer_bytes = 4 * 1024 * 1024;  // room for a burst of reports at log-in time
// What could not be written is tried again every few seconds, also when no
// datagram arrives.
constexpr UINT_PTR write_retry_timer = 1;
constexpr UINT write_retry_ms = 5000;
// Paints what the intake held back, once a storm of datagrams has passed.
constexpr UINT_PTR held_paint_timer = 2;
// Drops held passes whose datagrams stopped coming, also when no datagram arrives.
constexpr UINT_PTR pass_expiry_timer = 3;
constexpr UINT pass_expiry_ms = 1000;
// Settles the reports that went quiet and purges old history.
constexpr UINT_PTR history_timer = 4;
constexpr UINT history_ms = 1000;
// Hands what changed to the database publisher and shows its state.
constexpr UINT_PTR publish_timer = 5;
constexpr UINT publish_ms = 250;
// Slices of a purge of old history, while one is under way (timer messages
// come only when no datagram or paint waits).
constexpr UINT_PTR purge_timer = 6;
constexpr UINT purge_ms = 10;

// The history's tick, once a second: settling, write failures and the
// hourly purge, whose further slices follow on their own timer.
void history_tick(ServerState& state) {
    state.core.tick(now_seconds(), state.settings.history_days);
    // Result not checked: without the timer, the purge goes on a slice a second.
    if (state.core.purging()) SetTimer(state.main_window, purge_timer, purge_ms, nullptr);
}

// Sets the held-paint timer when the held paints ask for it (due > 0).
void set_held_paint_timer(ServerState& state, UINT due) {
    if (due != 0 && !SetTimer(state.main_window, held_paint_timer, due, nullptr)) state.held_view.timer_not_set();
}

// Turns the listening socket's notifications on (socket_message on FD_READ) or off.
bool notify_on_datagrams(ServerState& state, bool on) {
    return WSAAsyncSelect(static_cast<SOCKET>(state.socket.handle()), state.main_window, on ? socket_message : 0,
                          on ? FD_READ : 0) == 0;
}

// Takes what the pump decides and posts the next round it asks for.
void pump_step(ServerState& state, PumpNext next) {
    if (next == PumpNext::post_round && !PostMessageA(state.main_window, drain_message, 0, 0))
        state.pump.round_not_posted();
}

// (Re)creates, binds and registers the listening socket on the live port.
void open_server_socket(ServerState& state) {
    state.pump.reset();
    state.socket.close();
    if (!state.socket.open()) {
        state.notifier.notify(Notice{"Unable to open network socket - Program running in Display only mode",
                                     "Network Error", BoxOwner::none, true});
        return;
    }
    if (!state.socket.bind(listening_port(state.settings.port_cell))) {
        state.notifier.notify(Notice{"Unable to bind application to port to recieve requests. Program is running in "
                                     "Display only mode",
                                     "Network Error", BoxOwner::none, true});
    } else {
        // Result not checked: the system's default buffer still works, only smaller.
        state.socket.set_receive_buffer(receive_buffer_bytes);
    }
    // Result not checked: a socket that cannot notify leaves the server in display only mode.
    notify_on_datagrams(state, true);
}

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
    state.notifier.main_window = hwnd;

    open_server_socket(state);
    for (int k = 0; k < list_order_count; ++k)
        state.sort_entries[k] =
            SendMessageA(state.sort_selector, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(list_order_texts[k]));
    SendMessageA(state.sort_selector, CB_SETCURSEL, 0, 0);
    for (int k = 0; k < page_count; ++k) {
        TCITEMA item{};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<char*>(tab_texts[k]);
        SendMessageA(state.tab_control, TCM_INSERTITEMA, k, reinterpret_cast<LPARAM>(&item));
    }
    create_pages(state);
    state.notifier.general_page = state.pages[page_general];
    show_page(state, page_general);
    SendMessageA(state.tab_control, TCM_SETCURSEL, 0, 0);
    show_server_settings(state);
    state.core.set_list_order(ListOrder::system_name);
    init_search_page(state.pages[page_search]);
    // Result not checked: without the timer, writes are still retried after each datagram.
    SetTimer(hwnd, write_retry_timer, write_retry_ms, nullptr);
    // Result not checked: without the timer, held passes expire as datagrams arrive.
    SetTimer(hwnd, pass_expiry_timer, pass_expiry_ms, nullptr);
    // Result not checked: without the timer, reports settle with the next datagram.
    SetTimer(hwnd, history_timer, history_ms, nullptr);
    // Result not checked: without the timer nothing is published, and the
    // store and its files go on as they are.
    SetTimer(hwnd, publish_timer, publish_ms, nullptr);
    show_awaiting_publish(state, awaiting_publish_text(state.publisher.status()));
    state.history.on_append = [&state](std::size_t first) { inventory_changes_appended(state.inventory, first); };
    history_tick(state);
    // Posted, so that it follows the dialog manager's first showing of the window.
    PostMessageA(hwnd, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
}

// The sort selector's drop-down closed: take over its selection.
void take_list_order(ServerState& state) {
    const LRESULT selection = SendMessageA(state.sort_selector, CB_GETCURSEL, 0, 0);
    state.core.set_list_order(list_order_of_selection(state.sort_entries, selection, state.core.list_order()));
}

void delete_selected_record(ServerState& state) {
    if (!state.core.selected_record_exists()) return;
    const std::string text = delete_confirmation_text(state.store.record(state.core.selected_record()).mac());
    if (MessageBoxA(state.main_window, text.c_str(), "Delete Record", MB_YESNO) != IDYES) return;
    state.core.delete_selected_record();
}

void settings_command(ServerState& state) {
    if (run_settings_dialog(state.settings) && state.socket.is_open()) {
        open_server_socket(state);
        show_port(state);
    }
    state.recorder.settle_all(now_seconds());
    if (state.store.open_store(state.settings.working_directory) == 0) {
        open_history(state);
        state.core.tables_reloaded();
    }
    else
        state.core.rebuild_system_list();
    configure_publisher(state);
}

void menu_command(ServerState& state, int id) {
    const bool exists = state.core.selected_record_exists();
    const std::uint32_t record = state.core.selected_record();
    switch (id) {
        case IDM_OUTPUT_CSV: export_csv(state.main_window, state.store); break;
        case IDM_SETTINGS: settings_command(state); break;
        case IDM_EXIT: PostMessageA(state.main_window, WM_CLOSE, 0, 0); break;
        case IDM_PRINT_RECORD:
            if (exists) print_record_report(state.main_window, state.store, state.history, record);
            break;
        case IDM_DELETE_RECORD: delete_selected_record(state); break;
        case IDM_EXPORT_RECORD:
            if (exists) export_record_report(state.main_window, state.store, state.history, record, state.notifier);
            break;
        case IDM_REQUEST_UPDATE:
            if (exists) send_client_request(state.store, record, state.settings, state.notifier, false);
            break;
        case IDM_CLOSE_REMOTE_SERVICE:
            if (exists) send_client_request(state.store, record, state.settings, state.notifier, true);
            break;
        case IDM_HELP: show_help(); break;
        case IDM_ABOUT: show_about(); break;
        case IDM_SYSTEMS: open_systems_window(state.inventory, state.inventory_host); break;
        case IDM_SOFTWARE_CATALOGUE: open_catalogue_window(state.inventory, state.inventory_host); break;
        case IDM_CHANGES: open_changes_window(state.inventory, state.inventory_host); break;
        case IDM_TIMELINE:
            if (exists) open_timeline_window(state.inventory, state.inventory_host, record);
            break;
        default: break;
    }
}

INT_PTR notify(ServerState& state, NMHDR* header) {
    switch (header->code) {
        case LVN_ITEMCHANGED: {
            auto* change = reinterpret_cast<NMLISTVIEW*>(header);
            if (state.list_updating) return FALSE;
            state.list_rows.forget();
            if (change->iItem < 0) return FALSE;
            if (!(change->uChanged & LVIF_STATE) || !(change->uNewState & LVIS_SELECTED)) return FALSE;
            state.core.select_row(static_cast<std::size_t>(change->iItem));
            return FALSE;
        }
        case LVN_GETDISPINFOA:
        case LVN_GETDISPINFOW: {
            // Rows of the virtual list come from the system list's index.
            const SystemList& list = state.core.list();
            give_cell_text(header, [&list](std::size_t row, int) { return list.label_at(row); }, list.size());
            return TRUE;
        }
        case TCN_SELCHANGE:
            show_page(state, static_cast<int>(SendMessageA(state.tab_control, TCM_GETCURSEL, 0, 0)));
            return TRUE;
        default:
            return TRUE;
    }
}

INT_PTR main_window_opened(ServerState& state, HWND hwnd) {
    set_up(state, hwnd);
    return TRUE;
}

INT_PTR main_window_message(ServerState& state, HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_SIZE:
            lay_out(state, LOWORD(lparam), HIWORD(lparam));
            return FALSE;
        case WM_COMMAND:
            if (HIWORD(wparam) == CBN_CLOSEUP) take_list_order(state);
            else if (HIWORD(wparam) == 0) menu_command(state, LOWORD(wparam));
            return FALSE;
        case WM_TIMER:
            if (wparam == write_retry_timer) state.core.retry_writes();
            if (wparam == pass_expiry_timer) state.intake.expire_passes(static_cast<std::uint32_t>(std::time(nullptr)));
            if (wparam == history_timer) history_tick(state);
            if (wparam == purge_timer && !state.core.purge_slice(now_seconds())) KillTimer(hwnd, purge_timer);
            if (wparam == publish_timer) tick_publisher(state);
            if (wparam == held_paint_timer) {
                KillTimer(hwnd, held_paint_timer);
                set_held_paint_timer(state, state.held_view.timer_fired(GetTickCount64()));
            }
            return TRUE;
        case socket_message:
            // Inside a dialog this number is also DM_SETDEFID: only the
            // listening socket's notifications belong to the intake.
            if (!state.socket.is_open() || wparam != static_cast<WPARAM>(state.socket.handle())) return FALSE;
            pump_step(state, state.pump.notified());
            return TRUE;
        case drain_message: pump_step(state, state.pump.round_posted(state.socket.is_open())); return TRUE;
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

const DialogHandlers<ServerState> main_window_handlers{main_window_opened, main_window_message, notify,
                                                       no_close<ServerState>};

}  // namespace

// Each datagram of the round is written through before the next, its paints held (held_view.h).
IntakeRound take_held_round(ServerState& state) {
    state.held_view.hold();
    const IntakeRound round = state.intake.take_waiting(state.socket);
    set_held_paint_timer(state, state.held_view.release(GetTickCount64()));
    return round;
}

bool SocketNotifications::pause_notifications() { return notify_on_datagrams(state_, false); }

void SocketNotifications::resume_notifications() {
    // Result not checked: as when the socket was opened.
    notify_on_datagrams(state_, true);
    PostMessageA(state_.main_window, socket_message, static_cast<WPARAM>(state_.socket.handle()), FD_READ);
}

INT_PTR CALLBACK main_window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    return dialog_host_proc<ServerState, main_window_handlers>(hwnd, message, wparam, lparam);
}

}  // namespace tally
