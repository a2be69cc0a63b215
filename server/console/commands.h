// Commands that the main window dispatches to their own modules: the Search
// page, the General page's custom fields, deletion, remote requests, the CSV
// export, the record report, help and about. Each is called from the main
// window's message handling on the one GUI thread.
#pragma once

#include <windows.h>

namespace tally {

struct ServerState;

// Search page (dialog 115): fills its drop-down lists when the main window
// creates it, and handles its command messages (control id, notification
// code) such as the "Search" and "Clear" buttons. Both end with
// refresh_system_list where the list must change.
void init_search_page(ServerState& state, HWND page);
void search_page_command(ServerState& state, HWND page, int control, int code);

// General page (dialog 113): button 1095 "Update Custom Fields" was pressed.
void update_custom_fields_command(ServerState& state, HWND general_page);

// "Delete Record", after the user answered Yes to the confirmation. The main
// window refreshes the system list afterwards. Only called for a selected
// record that exists and is not free.
void delete_record_command(ServerState& state);

// "Request Update" (close false) and "Close Remote Service" (close true) for
// the selected record.
void send_remote_request(ServerState& state, bool close);

// "Output CSV": the whole hardware table.
void export_csv(ServerState& state);

// "Export  Record" and "Print Record" for the selected record.
void export_record_report(ServerState& state);
void print_record_report(ServerState& state);

// "Help" and "About": modal windows without owner.
void show_help(ServerState& state);
void show_about(ServerState& state);

}  // namespace tally
