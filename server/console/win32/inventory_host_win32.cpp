// The console's side of the Systems and Software Catalogue windows: what
// they ask of it; and the history's opening in a working directory.
#include "server/console/win32/console_win32.h"
#include "server/console/win32/server_state.h"

namespace tally {

const Store& ConsoleInventoryHost::store() const { return state_.store; }

History& ConsoleInventoryHost::history() { return state_.history; }
Store& ConsoleInventoryHost::store_to_follow() { return state_.store; }

HWND ConsoleInventoryHost::main_window() const { return state_.main_window; }

void ConsoleInventoryHost::select_record(std::uint32_t i) { state_.core.select_record(i); }

void ConsoleInventoryHost::show_in_main_list(const std::vector<std::uint32_t>& records) {
    state_.core.show_record_set(records);
}

void ConsoleInventoryHost::delete_records(const std::vector<std::uint32_t>& records) {
    state_.core.delete_records(records);
}

void ConsoleInventoryHost::show_failure(const std::string& text, const std::string& caption) {
    state_.notifier.notify(Notice{text, caption, BoxOwner::main_window, true});
}

void open_history(ServerState& state) {
    state.recorder.forget_all();
    // Result not checked: without the file nothing is recorded, and the windows show no changes.
    state.history.open(state.settings.working_directory);
    state.intake.set_observer(&state.recorder);
    state.core.set_history(&state.recorder, &state.history);
}

}  // namespace tally
