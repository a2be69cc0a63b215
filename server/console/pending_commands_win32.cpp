// Commands whose modules are not yet part of the program: each does nothing
// until its own file takes its place here.
#include "server/console/commands.h"

namespace tally {

void init_search_page(ServerState&, HWND) {}
void search_page_command(ServerState&, HWND, int, int) {}
void update_custom_fields_command(ServerState&, HWND) {}
void delete_record_command(ServerState&) {}
void send_remote_request(ServerState&, bool) {}
void export_csv(ServerState&) {}
void export_record_report(ServerState&) {}
void print_record_report(ServerState&) {}
void show_help(ServerState&) {}
void show_about(ServerState&) {}

}  // namespace tally
