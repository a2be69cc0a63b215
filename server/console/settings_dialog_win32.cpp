// The settings dialog (117), the registry values behind it, the start-up
// settings loop and the listening socket.
#include <winsock2.h>
#include <windows.h>
#include <shlobj.h>

#include "server/console/console_win32.h"
#include "server/console/resource.h"

namespace tally {

namespace {
const char settings_key[] = "Software\\Kestrin";
constexpr int receive_buffer_bytes = 4 * 1024 * 1024;  // room for a burst of reports at log-in time

// Reads the stored settings; false when the key or the path cannot be read.
bool read_registry_settings(ServerSettings& settings) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, settings_key, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    BYTE path[path_value_size] = {};
    DWORD size = sizeof path;
    const bool have_path =
        RegQueryValueExA(key, "Audit_PathName", nullptr, nullptr, path, &size) == ERROR_SUCCESS;
    if (have_path) settings.working_directory = path_from_value(path, size);
    BYTE port[port_value_read_size] = {};
    size = sizeof port;
    if (RegQueryValueExA(key, "Audit_Port", nullptr, nullptr, port, &size) == ERROR_SUCCESS)
        settings.port_cell = port_cell_from_value(port, size);
    RegCloseKey(key);
    return have_path;
}

void write_registry_settings(const ServerSettings& settings) {
    SECURITY_ATTRIBUTES security{sizeof security, nullptr, TRUE};
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, settings_key, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, &security,
                        &key, &disposition) != ERROR_SUCCESS)
        return;
    const std::vector<std::uint8_t> path = path_value(settings.working_directory);
    const std::vector<std::uint8_t> port = port_value(settings.port_cell);
    RegSetValueExA(key, "Audit_PathName", 0, REG_BINARY, path.data(), static_cast<DWORD>(path.size()));
    RegSetValueExA(key, "Audit_Port", 0, REG_BINARY, port.data(), static_cast<DWORD>(port.size()));
    RegCloseKey(key);
}

void browse_for_directory(ServerState& state, HWND dialog) {
    char display_name[MAX_PATH] = {};
    BROWSEINFOA info{};
    info.hwndOwner = dialog;
    info.pszDisplayName = display_name;
    info.lpszTitle = "Select Working Directory";
    LPITEMIDLIST item = SHBrowseForFolderA(&info);
    if (!item) return;
    char path[MAX_PATH] = {};
    // An item without a file-system path leaves the directory as it was.
    if (SHGetPathFromIDListA(item, path) && path[0] != '\0') {
        state.settings.working_directory = path;
        SetDlgItemTextA(dialog, IDC_SETTINGS_DIRECTORY, path);
    }
    CoTaskMemFree(item);
}

void settings_ok(ServerState& state, HWND dialog) {
    const std::optional<std::uint32_t> port = parse_port_box(control_text(GetDlgItem(dialog, IDC_SETTINGS_PORT)));
    state.settings.port_cell = port ? (*port & 0xFFFFu) : 0;
    if (!port) return;
    state.settings.working_directory = control_text(GetDlgItem(dialog, IDC_SETTINGS_DIRECTORY));
    if (state.settings.working_directory.empty()) return;
    state.settings.working_directory = strip_one_trailing_backslash(state.settings.working_directory);
    if (state.socket.is_open()) {
        state.socket.close();
        open_server_socket(state);
        show_port(state);
    }
    write_registry_settings(state.settings);
    EndDialog(dialog, IDOK);
}

INT_PTR CALLBACK settings_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    ServerState& state = server_state();
    switch (message) {
        case WM_INITDIALOG:
            SendDlgItemMessageA(dialog, IDC_SETTINGS_DIRECTORY, EM_LIMITTEXT, working_directory_max_chars, 0);
            SetDlgItemTextA(dialog, IDC_SETTINGS_PORT, port_box_text(state.settings.port_cell).c_str());
            SetDlgItemTextA(dialog, IDC_SETTINGS_DIRECTORY, state.settings.working_directory.c_str());
            return TRUE;
        case WM_COMMAND:
            if (HIWORD(wparam) != BN_CLICKED) return FALSE;
            switch (LOWORD(wparam)) {
                case IDC_SETTINGS_BROWSE: browse_for_directory(state, dialog); return TRUE;
                case IDC_SETTINGS_OK: settings_ok(state, dialog); return TRUE;
                case IDC_SETTINGS_CANCEL:
                case IDCANCEL: EndDialog(dialog, IDCANCEL); return TRUE;
                default: return FALSE;
            }
        case WM_CLOSE:
        case WM_QUERYENDSESSION:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        default:
            return FALSE;
    }
}
}  // namespace

void run_settings_dialog(ServerState& state) {
    if (state.settings.port_cell == 0) state.settings.port_cell = default_port;
    DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_SETTINGS), nullptr, settings_proc, 0);
}

void settings_loop(ServerState& state) {
    while (state.settings.working_directory.empty()) {
        // A stored but empty path asks again too, instead of looping silently.
        if (!read_registry_settings(state.settings) || state.settings.working_directory.empty())
            run_settings_dialog(state);
    }
}

void open_server_socket(ServerState& state) {
    state.socket.close();
    if (!state.socket.open()) {
        state.notifier.notify(Notice{"Unable to open network socket - Program running in Display only mode",
                                     "Network Error", BoxOwner::none, true});
        return;
    }
    if (!state.socket.bind(effective_port(state.settings.port_cell))) {
        state.notifier.notify(Notice{"Unable to bind application to port to recieve requests. Program is running in "
                                     "Display only mode",
                                     "Network Error", BoxOwner::none, true});
    } else {
        state.socket.set_receive_buffer(receive_buffer_bytes);
    }
    WSAAsyncSelect(static_cast<SOCKET>(state.socket.handle()), state.main_window, socket_message, FD_READ);
}

}  // namespace tally
