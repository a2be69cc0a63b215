// The settings dialog (117), the registry values behind it and the start-up
// settings loop.
#include <winsock2.h>
#include <windows.h>
#include <shlobj.h>

#include "server/console/win32/console_win32.h"
#include "server/console/win32/dialog_items_win32.h"
#include "server/console/win32/resource.h"

namespace tally {

namespace {
const char settings_key[] = "Software\\Kestrin";

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
    // Results not checked: the live settings stay in force for this run either way.
    RegSetValueExA(key, "Audit_PathName", 0, REG_BINARY, path.data(), static_cast<DWORD>(path.size()));
    RegSetValueExA(key, "Audit_Port", 0, REG_BINARY, port.data(), static_cast<DWORD>(port.size()));
    RegCloseKey(key);
}

void browse_for_directory(ServerSettings& settings, HWND dialog) {
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
        if (directory_fits_registry(path)) {
            settings.working_directory = path;
            set_dlg_text(dialog, IDC_SETTINGS_DIRECTORY, path);
        } else {
            show_box(dialog, directory_too_long_text, directory_too_long_caption);
        }
    }
    CoTaskMemFree(item);
}

// OK: a port box that is not a number keeps the dialog open (and the port
// at 0), as does an empty directory.
void settings_ok(ServerSettings& settings, HWND dialog) {
    const std::optional<std::uint32_t> port = parse_port_box(dlg_text(dialog, IDC_SETTINGS_PORT));
    settings.port_cell = port ? (*port & 0xFFFFu) : 0;
    if (!port) return;
    // A directory the registry value cannot hold whole is refused before it
    // becomes live: the next start would read back another path.
    const std::string directory = strip_one_trailing_backslash(dlg_text(dialog, IDC_SETTINGS_DIRECTORY));
    if (!directory_fits_registry(directory)) {
        show_box(dialog, directory_too_long_text, directory_too_long_caption);
        return;
    }
    settings.working_directory = directory;
    if (settings.working_directory.empty()) return;
    write_registry_settings(settings);
    EndDialog(dialog, IDOK);
}

// The creation parameter is the live ServerSettings.
INT_PTR CALLBACK settings_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(dialog, GWLP_USERDATA, lparam);
        const ServerSettings& settings = *reinterpret_cast<ServerSettings*>(lparam);
        SendDlgItemMessageA(dialog, IDC_SETTINGS_DIRECTORY, EM_LIMITTEXT, working_directory_max_chars, 0);
        set_dlg_text(dialog, IDC_SETTINGS_PORT, port_box_text(settings.port_cell));
        set_dlg_text(dialog, IDC_SETTINGS_DIRECTORY, settings.working_directory);
        return TRUE;
    }
    auto* settings = reinterpret_cast<ServerSettings*>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
    if (!settings) return FALSE;
    switch (message) {
        case WM_COMMAND:
            if (HIWORD(wparam) != BN_CLICKED) return FALSE;
            switch (LOWORD(wparam)) {
                case IDC_SETTINGS_BROWSE: browse_for_directory(*settings, dialog); return TRUE;
                case IDC_SETTINGS_OK: settings_ok(*settings, dialog); return TRUE;
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

bool run_settings_dialog(ServerSettings& settings) {
    if (settings.port_cell == 0) settings.port_cell = default_port;
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_SETTINGS), nullptr, settings_proc,
                           reinterpret_cast<LPARAM>(&settings)) == IDOK;
}

void settings_loop(ServerSettings& settings) {
    while (settings.working_directory.empty()) {
        // A stored but empty path asks again too, instead of looping silently.
        if (!read_registry_settings(settings) || settings.working_directory.empty()) run_settings_dialog(settings);
    }
}

}  // namespace tally
