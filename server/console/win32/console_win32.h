// Window procedures and helpers shared by the Win32 files of the console.
#pragma once

#include <windows.h>

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

}  // namespace tally
