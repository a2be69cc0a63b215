// Commands that the main window dispatches to their own modules: the Search
// page, remote requests, the CSV export, the record report, help and about.
// Each is called from the main window's message handling on the one GUI
// thread.
#pragma once

#include <windows.h>

namespace tally {

struct ServerState;

// Search page (dialog 115): fills its drop-down lists when the main window
// creates it, and hands its "Search" and "Clear" buttons (control id,
// notification code) to the console core.
void init_search_page(HWND page);
void search_page_command(ServerState& state, HWND page, int control, int code);

// "Request Update" (close false) and "Close Remote Service" (close true) for
// the selected record.
void send_remote_request(ServerState& state, bool close);

// "Output CSV": the whole hardware table.
void export_csv(ServerState& state);

// "Export  Record" and "Print Record" for the selected record.
void export_record_report(ServerState& state);
void print_record_report(ServerState& state);

// "Help" and "About": modal windows without owner.
void show_help();
void show_about();

}  // namespace tally
