// Commands that the main window dispatches to their own modules: the Search
// page, remote requests, the CSV export, the record report, help and about.
// Each is called from the main window's message handling on the one GUI
// thread, and gets what it uses: the tables, the record, the window that
// owns its dialogs, the notifier.
#pragma once

#include <windows.h>

#include <cstdint>

namespace tally {

class ConsoleCore;
class History;
class Notifier;
class Store;
struct ServerSettings;

// Search page (dialog 115): fills its drop-down lists when the main window
// creates it, and hands its "Search" and "Clear" buttons (control id,
// notification code) to the console core.
void init_search_page(HWND page);
void search_page_command(ConsoleCore& core, HWND page, int control, int code);

// "Request Update" (close false) and "Close Remote Service" (close true) for
// a record, to the port of the live settings, signed with their key.
void send_client_request(const Store& store, std::uint32_t record, const ServerSettings& settings, Notifier& notifier,
                         bool close);

// "Output CSV": the whole hardware table.
void export_csv(HWND owner, const Store& store);

// "Export  Record" and "Print Record" for a record, its report ending with
// its last changes.
void export_record_report(HWND owner, const Store& store, History& history, std::uint32_t record,
                          Notifier& notifier);
void print_record_report(HWND owner, const Store& store, History& history, std::uint32_t record);

// "Help" and "About": modal windows without owner.
void show_help();
void show_about();

}  // namespace tally
