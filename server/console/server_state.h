// The process-wide state of tallyhall: live settings, the store and its
// intake, the listening socket, the active search, the system list and the
// main window's handles. One instance lives from start-up to exit.
#pragma once

#include <windows.h>

#include <cstdint>

#include "protocol/udp.h"
#include "server/console/settings.h"
#include "server/reports/search.h"
#include "server/reports/system_list.h"
#include "server/store/intake.h"
#include "server/store/notify.h"
#include "server/store/store.h"

namespace tally {

// Window message the socket library posts when a datagram waits (WM_USER + 1).
constexpr UINT socket_message = WM_USER + 1;

// Every message box of the store and the console: MessageBoxA with the
// owner the notice names (the main window, the General page, or none).
class BoxNotifier : public Notifier {
public:
    void notify(const Notice& notice) override;
};

// What the intake asks of the main window.
class MainWindowHooks : public ConsoleHooks {
public:
    void set_status(const std::string& text) override;
    void show_counter(PacketCounter counter, std::uint32_t value) override;
    void show_record(std::uint32_t i) override;
    void refresh_system_list(std::uint32_t changed) override;
};

// The tab pages, by tab index.
enum PageIndex { page_general = 0, page_hardware, page_software, page_stats, page_search, page_count };

struct ServerState {
    ServerSettings settings;
    BoxNotifier notifier;
    Store store{notifier};
    MainWindowHooks hooks;
    Intake intake{store, hooks};
    UdpSocket socket;  // the listening socket; closed in display only mode

    ActiveSearch search;  // set by the Search page, read by every rebuild
    SystemList list;
    ListOrder list_order = ListOrder::system_name;
    LRESULT sort_entries[3] = {0, 1, 2};  // the selector's entry indices as added

    HWND main_window = nullptr;
    HWND tab_control = nullptr;
    HWND sort_selector = nullptr;
    HWND system_list = nullptr;
    HWND status_line = nullptr;
    HWND pages[page_count] = {};
    bool list_updating = false;  // the list's own selection changes, not the user's
};

// The one instance.
ServerState& server_state();

// Rebuilds the system list under the active search and writes the hit count
// on the Search page.
void refresh_system_list(ServerState& state);
// Fills the General, Hardware and Software pages from record i; a record
// beyond the table or a free record empties them.
void show_record(ServerState& state, std::uint32_t i);
// Whether the selected record exists and is not free: the record commands
// act on nothing otherwise.
bool selected_record_exists(const ServerState& state);
// The settings dialog (modal, no owner).
void run_settings_dialog(ServerState& state);
// (Re)creates, binds and registers the listening socket on the live port.
void open_server_socket(ServerState& state);

}  // namespace tally
