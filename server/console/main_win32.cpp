// tallyhall's entry point: settings, socket library, store, main window,
// clean-up. Also the process-wide state and its message boxes.
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>

#include "server/console/console_win32.h"
#include "server/console/resource.h"

namespace tally {

ServerState& server_state() {
    static ServerState state;
    return state;
}

void BoxNotifier::notify(const Notice& notice) {
    const ServerState& state = server_state();
    HWND owner = nullptr;
    if (notice.owner == BoxOwner::main_window) owner = state.main_window;
    if (notice.owner == BoxOwner::page) owner = state.pages[page_general];
    MessageBoxA(owner, notice.text.c_str(), notice.caption.c_str(), MB_OK | (notice.error_icon ? MB_ICONERROR : 0));
}

std::string control_text(HWND control) {
    if (!control) return std::string();
    const int length = GetWindowTextLengthA(control);
    if (length <= 0) return std::string();
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    const int got = GetWindowTextA(control, &text[0], length + 1);
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return text;
}

}  // namespace tally

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    using namespace tally;
    void* scratch = std::malloc(32768);
    if (!scratch) {
        MessageBoxA(nullptr, "Memory Error", "Insufficient memory to continue", MB_OK | MB_ICONERROR);
        return 1;
    }
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    ServerState& state = server_state();
    settings_loop(state);
    start_sockets();
    if (state.store.open_store(state.settings.working_directory) != 0) {
        std::free(scratch);
        stop_sockets();
        return 1;
    }
    // The Software page's installed-software box is a rich edit control.
    LoadLibraryA("RICHED32.DLL");
    state.store.set_selected_record(0);

    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, main_window_proc, 0);

    state.socket.close();
    std::free(scratch);
    stop_sockets();
    return 0;
}
