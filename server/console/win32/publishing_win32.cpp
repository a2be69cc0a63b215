// The console's side of publishing to the organisation's database: the ODBC
// connection for the worker and the settings dialog's test, the publisher's
// configuration and its timer.
#include <windows.h>

#include "server/console/win32/console_win32.h"
#include "server/console/win32/inventory_common_win32.h"
#include "server/publish/database.h"

namespace tally {

std::unique_ptr<Database> open_database_connection() { return make_odbc_database(); }

std::string try_database_connection(const std::string& connection_string) {
    const std::unique_ptr<Database> database = open_database_connection();
    return test_connection(*database, connection_string);
}

void configure_publisher(ServerState& state) {
    state.publisher.configure(publish_settings(state.settings.publish, computer_name()),
                              state.settings.working_directory);
    show_awaiting_publish(state, awaiting_publish_text(state.publisher.status()));
}

void tick_publisher(ServerState& state) {
    state.publisher.tick(now_seconds());
    const std::string text = state.publisher.take_status_text();
    if (!text.empty()) state.core.set_status(text);
    show_awaiting_publish(state, awaiting_publish_text(state.publisher.status()));
}

}  // namespace tally
