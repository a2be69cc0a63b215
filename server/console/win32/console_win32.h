// Window procedures and helpers shared by the Win32 files of the console.
#pragma once

#include <windows.h>

#include "server/console/data_protection.h"
#include "server/console/win32/server_state.h"

namespace tally {

// The main window (dialog 102); its creation parameter is the ServerState.
INT_PTR CALLBACK main_window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
// Creates the five pages as children of the tab control, in the order
// Hardware, General, Software, Server Stats, Search, at (4, 25) inside it.
void create_pages(ServerState& state);
// Shows the page of tab index `page` and hides the others.
void show_page(ServerState& state, int page);
// Shows port and working directory on the Server Stats page.
void show_server_settings(ServerState& state);
void show_port(ServerState& state);
// The settings dialog (modal, no owner) over the live settings: Browse and
// OK change them as the user acts. True when the user pressed OK.
bool run_settings_dialog(ServerSettings& settings);
// Reads Audit_PathName and Audit_Port, running the settings dialog until a
// working directory exists.
void settings_loop(ServerSettings& settings);
// Opens History.Audit in the working directory (just opened by the store)
// and has the intake and the console record into it; without the file the
// history is off for this directory.
void open_history(ServerState& state);

// The server's computer name: the default site of the published inventory.
std::string computer_name();
// Connects to the database with this connection string and checks that the
// tables can be made: empty when it works, otherwise the driver's message.
std::string try_database_connection(const std::string& connection_string);
// (Re)starts or stops the publisher for the live settings and working directory.
void configure_publisher(ServerState& state);
// The publish timer: hands what changed to the worker, puts its status text
// on the status line and paints Server Stats' "Awaiting Publish".
void tick_publisher(ServerState& state);
void show_awaiting_publish(ServerState& state, const std::string& text);

// The system's machine-scope data protection.
class SystemDataProtection : public DataProtection {
public:
    bool protect(const std::vector<std::uint8_t>& plain, std::vector<std::uint8_t>& out) override;
    bool unprotect(const std::vector<std::uint8_t>& sealed, std::vector<std::uint8_t>& out) override;
};

}  // namespace tally
