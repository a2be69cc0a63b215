// tallyhall's entry point: settings, socket library, store, main window,
// clean-up; and the message boxes of the store and the console.
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>

#include "server/console/win32/console_win32.h"
#include "server/console/win32/dialog_items_win32.h"
#include "server/console/win32/resource.h"

namespace tally {

void BoxNotifier::notify(const Notice& notice) {
    HWND owner = nullptr;
    if (notice.owner == BoxOwner::main_window) owner = main_window;
    if (notice.owner == BoxOwner::page) owner = general_page;
    show_box(owner, notice.text, notice.caption, notice.error_icon);
}

}  // namespace tally

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    using namespace tally;
    void* scratch = std::malloc(32768);
    if (!scratch) {
        BoxNotifier().notify({"Memory Error", "Insufficient memory to continue", BoxOwner::none, true});
        return 1;
    }
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    // The one place the process-wide state lives; the main window gets it
    // as its creation parameter.
    static ServerState state;
    settings_loop(state.settings);
    // Result not checked: without the socket library the server runs in
    // display only mode, after the box of open_server_socket.
    start_sockets();
    // A working directory that cannot be opened (moved, no rights, a stored
    // path cut off by the registry value) offers the settings dialog after
    // the store's box; only Cancel there ends the server.
    while (state.store.open_store(state.settings.working_directory) != 0) {
        if (!run_settings_dialog(state.settings)) {
            std::free(scratch);
            stop_sockets();
            return 1;
        }
    }
    open_history(state);
    configure_publisher(state);
    // The Software page's installed-software box is a rich edit control.
    // Result not checked: without it the main window cannot be created and
    // the program ends.
    LoadLibraryA("RICHED32.DLL");

    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, main_window_proc, reinterpret_cast<LPARAM>(&state));
    state.core.closing();

    state.socket.close();
    std::free(scratch);
    stop_sockets();
    return 0;
}
