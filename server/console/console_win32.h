// Window procedures and helpers shared by the Win32 files of the console.
#pragma once

#include <windows.h>

#include "server/console/server_state.h"

namespace tally {

// The main window (dialog 102).
INT_PTR CALLBACK main_window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
// Creates the five pages as children of the tab control, in the order
// Hardware, General, Software, Server Stats, Search, at (4, 25) inside it.
void create_pages(ServerState& state);
// Shows the page of tab index `page` and hides the others.
void show_page(ServerState& state, int page);
// Shows port and working directory on the Server Stats page.
void show_server_settings(ServerState& state);
void show_port(ServerState& state);
// Brings the list control in line with the system list's index: row count,
// selection of the selected record, hit-count line.
void show_system_list(ServerState& state);
// Reads Audit_PathName and Audit_Port, running the settings dialog until a
// working directory exists.
void settings_loop(ServerState& state);
// Text of a control as the 8-bit text it holds.
std::string control_text(HWND control);

}  // namespace tally
