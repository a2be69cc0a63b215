// The settings dialog (117), the registry values behind it (the publishing
// password sealed) and the start-up settings loop.
#include <winsock2.h>
#include <windows.h>
#include <shlobj.h>

#include <ctime>

#include "server/console/win32/console_win32.h"
#include "server/console/win32/dialog_host_win32.h"
#include "server/console/win32/dialog_items_win32.h"
#include "server/console/win32/resource.h"

namespace tally {

namespace {
const char settings_key[] = "Software\\Kestrin";

// A REG_BINARY value whole; empty when it is missing.
std::vector<std::uint8_t> read_binary(HKEY key, const char* name) {
    DWORD size = 0;
    if (RegQueryValueExA(key, name, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS || size == 0) return {};
    std::vector<std::uint8_t> value(size);
    if (RegQueryValueExA(key, name, nullptr, nullptr, value.data(), &size) != ERROR_SUCCESS) return {};
    value.resize(size);
    return value;
}

// The site keys and the rule; a key the system cannot open counts as none.
void read_signing_settings(HKEY key, SigningSettings& signing) {
    SystemDataProtection protection;
    signing.keys.current = unseal_key(read_binary(key, site_key_value), protection);
    signing.keys.previous = unseal_key(read_binary(key, previous_key_value), protection);
    const std::vector<std::uint8_t> until = read_binary(key, previous_until_value);
    signing.keys.previous_until = time_from_value(until.data(), until.size());
    const std::vector<std::uint8_t> rule = read_binary(key, unsigned_reports_value);
    signing.accept_unsigned = accept_unsigned_from_value(rule.data(), rule.size());
}

HKEY create_settings_key() {
    SECURITY_ATTRIBUTES security{sizeof security, nullptr, TRUE};
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, settings_key, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, &security,
                        &key, &disposition) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

bool write_binary(HKEY key, const char* name, const std::vector<std::uint8_t>& value) {
    return RegSetValueExA(key, name, 0, REG_BINARY, value.data(), static_cast<DWORD>(value.size())) == ERROR_SUCCESS;
}

// Both keys, sealed, and the previous key's deadline; false when a key
// cannot be sealed or a value cannot be written.
bool write_site_keys(const KeyRing& keys) {
    SystemDataProtection protection;
    std::optional<std::vector<std::uint8_t>> current, previous;
    if (keys.current && !(current = seal_key(*keys.current, protection))) return false;
    if (keys.previous && !(previous = seal_key(*keys.previous, protection))) return false;
    HKEY key = create_settings_key();
    if (!key) return false;
    bool ok = !current || write_binary(key, site_key_value, *current);
    ok = ok && (!previous || write_binary(key, previous_key_value, *previous));
    ok = ok && write_binary(key, previous_until_value, time_value(keys.previous_until));
    RegCloseKey(key);
    return ok;
}

// The publishing settings; a password the system cannot open counts as none.
void read_publish_settings(HKEY key, PublishConfig& publish) {
    const std::vector<std::uint8_t> on = read_binary(key, publish_value);
    publish.enabled = publish_switch_from_value(on.data(), on.size());
    const std::vector<std::uint8_t> connection = read_binary(key, publish_connection_value);
    publish.connection = text_from_value(connection.data(), connection.size());
    const std::vector<std::uint8_t> site = read_binary(key, publish_site_value);
    publish.site = text_from_value(site.data(), site.size());
    SystemDataProtection protection;
    publish.password = unseal_password(read_binary(key, publish_password_value), protection).value_or(std::string());
}

bool write_text(HKEY key, const char* name, const std::string& text) {
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
}

// The publishing settings, the password sealed (or its value removed when
// there is none); false when the password cannot be sealed, which then
// holds for this run only and is never written as plain text.
bool write_publish_settings(HKEY key, const PublishConfig& publish) {
    // Results of the plain values not checked, as for the other settings.
    write_binary(key, publish_value, publish_switch_value(publish.enabled));
    write_text(key, publish_connection_value, publish.connection);
    if (publish.site.empty()) RegDeleteValueA(key, publish_site_value);
    else write_text(key, publish_site_value, publish.site);
    if (publish.password.empty()) {
        RegDeleteValueA(key, publish_password_value);
        return true;
    }
    SystemDataProtection protection;
    const std::optional<std::vector<std::uint8_t>> sealed = seal_password(publish.password, protection);
    if (sealed && write_binary(key, publish_password_value, *sealed)) return true;
    RegDeleteValueA(key, publish_password_value);
    return false;
}

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
    read_signing_settings(key, settings.signing);
    BYTE days[4] = {};
    size = sizeof days;
    const bool have_days = RegQueryValueExA(key, "Audit_HistoryDays", nullptr, nullptr, days, &size) == ERROR_SUCCESS;
    settings.history_days = history_days_from_value(days, have_days ? size : 0);
    read_publish_settings(key, settings.publish);
    RegCloseKey(key);
    return have_path;
}

// False only when the publishing password could not be kept sealed.
bool write_registry_settings(const ServerSettings& settings) {
    HKEY key = create_settings_key();
    if (!key) return true;
    // Results not checked: the live settings stay in force for this run either way.
    write_binary(key, "Audit_PathName", path_value(settings.working_directory));
    write_binary(key, "Audit_Port", port_value(settings.port_cell));
    write_binary(key, unsigned_reports_value, rule_value(settings.signing.accept_unsigned));
    write_binary(key, "Audit_HistoryDays", history_days_value(settings.history_days));
    const bool sealed = write_publish_settings(key, settings.publish);
    RegCloseKey(key);
    return sealed;
}

std::uint64_t time_now() { return static_cast<std::uint64_t>(std::time(nullptr)); }

void show_signing_settings(HWND dialog, const SigningSettings& signing) {
    set_dlg_text(dialog, IDC_SETTINGS_KEY_STATE, site_key_state_text(signing.keys));
    set_dlg_text(dialog, IDC_SETTINGS_PREVIOUS_KEY, previous_key_text(signing.keys, time_now()));
    CheckDlgButton(dialog, IDC_SETTINGS_ACCEPT_UNSIGNED, signing.accept_unsigned ? BST_CHECKED : BST_UNCHECKED);
}

// The new key dialog: the note and the key as selectable text.
INT_PTR CALLBACK site_key_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_INITDIALOG:
            set_dlg_text(dialog, IDC_SITE_KEY_NOTE, new_key_note_text());
            set_dlg_text(dialog, IDC_SITE_KEY_TEXT, *reinterpret_cast<const std::string*>(lparam));
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wparam) == IDC_SITE_KEY_OK || LOWORD(wparam) == IDCANCEL) {
                EndDialog(dialog, IDOK);
                return TRUE;
            }
            return FALSE;
        case WM_CLOSE:
            EndDialog(dialog, IDOK);
            return TRUE;
        default:
            return FALSE;
    }
}

// "New Key...": the key takes effect and is stored at once (it is about to
// be given to the clients), then shown once.
void make_new_key(ServerSettings& settings, HWND dialog) {
    const std::optional<SiteKey> fresh = new_site_key();
    SigningSettings changed = settings.signing;
    if (fresh) change_site_key(changed, *fresh, time_now());
    if (!fresh || !write_site_keys(changed.keys)) {
        show_box(dialog, new_key_failed_text, new_key_failed_caption);
        return;
    }
    settings.signing.keys = changed.keys;
    show_signing_settings(dialog, settings.signing);
    std::string text = key_text(*fresh);
    DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_SITE_KEY), dialog, site_key_proc,
                    reinterpret_cast<LPARAM>(&text));
    SecureZeroMemory(&text[0], text.size());
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

void show_publish_settings(HWND dialog, const PublishConfig& publish) {
    CheckDlgButton(dialog, IDC_SETTINGS_PUBLISH, publish.enabled ? BST_CHECKED : BST_UNCHECKED);
    // The password is never shown again: the box holds the string without it.
    set_dlg_text(dialog, IDC_SETTINGS_PUBLISH_CONNECTION, publish.connection);
    set_dlg_text(dialog, IDC_SETTINGS_PUBLISH_SITE, effective_site(publish, computer_name()));
    set_dlg_text(dialog, IDC_SETTINGS_PUBLISH_NOTE, publish_password_note);
}

// The database part at OK into `publish`: with publishing on, the
// connection is tried first, and a failure shows the driver's message and
// keeps the dialog open (false), the live settings unchanged.
bool take_publish_settings(PublishConfig& publish, HWND dialog) {
    PublishConfig taken = publish;
    taken.enabled = IsDlgButtonChecked(dialog, IDC_SETTINGS_PUBLISH) == BST_CHECKED;
    take_connection_box(taken, dlg_text(dialog, IDC_SETTINGS_PUBLISH_CONNECTION));
    taken.site = site_from_box(dlg_text(dialog, IDC_SETTINGS_PUBLISH_SITE), computer_name());
    if (taken.enabled) {
        const PublishSettings trial = publish_settings(taken, computer_name());
        if (!trial.enabled) {
            show_box(dialog, publish_connection_missing_text, publish_settings_caption);
            return false;
        }
        HCURSOR before = SetCursor(LoadCursor(nullptr, IDC_WAIT));
        const std::string failure = try_database_connection(trial.connection_string);
        SetCursor(before);
        if (!failure.empty()) {
            show_box(dialog, publish_test_failed_text(failure), publish_settings_caption);
            return false;
        }
    }
    publish = taken;
    return true;
}

// OK: a port box that is not a number keeps the dialog open (and the port
// at 0), as does an empty directory.
void settings_ok(ServerSettings& settings, HWND dialog) {
    const std::optional<std::uint32_t> port = parse_port_box(dlg_text(dialog, IDC_SETTINGS_PORT));
    settings.port_cell = port ? (*port & 0xFFFFu) : 0;
    if (!port) return;
    const std::optional<std::uint32_t> days = parse_history_days_box(dlg_text(dialog, IDC_SETTINGS_HISTORY_DAYS));
    if (!days) {
        show_box(dialog, history_days_invalid_text, "Settings Error");
        return;
    }
    settings.history_days = *days;
    // A directory the registry value cannot hold whole is refused before it
    // becomes live: the next start would read back another path.
    const std::string directory = strip_one_trailing_backslash(dlg_text(dialog, IDC_SETTINGS_DIRECTORY));
    if (!directory_fits_registry(directory)) {
        show_box(dialog, directory_too_long_text, directory_too_long_caption);
        return;
    }
    settings.working_directory = directory;
    if (settings.working_directory.empty()) return;
    if (!take_publish_settings(settings.publish, dialog)) return;
    settings.signing.accept_unsigned = IsDlgButtonChecked(dialog, IDC_SETTINGS_ACCEPT_UNSIGNED) == BST_CHECKED;
    if (!write_registry_settings(settings)) show_box(dialog, publish_password_unsealed_text, publish_settings_caption);
    EndDialog(dialog, IDOK);
}

// A plain check box: each click turns it, read at OK.
void turn_check_box(HWND dialog, int id) {
    CheckDlgButton(dialog, id, IsDlgButtonChecked(dialog, id) == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED);
}

INT_PTR settings_opened(ServerSettings& settings, HWND dialog) {
    SendDlgItemMessageA(dialog, IDC_SETTINGS_DIRECTORY, EM_LIMITTEXT, working_directory_max_chars, 0);
    set_dlg_text(dialog, IDC_SETTINGS_PORT, port_box_text(settings.port_cell));
    set_dlg_text(dialog, IDC_SETTINGS_DIRECTORY, settings.working_directory);
    show_signing_settings(dialog, settings.signing);
    set_dlg_text(dialog, IDC_SETTINGS_HISTORY_DAYS, std::to_string(settings.history_days));
    show_publish_settings(dialog, settings.publish);
    return TRUE;
}

INT_PTR settings_message(ServerSettings& settings, HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
        case WM_COMMAND:
            if (HIWORD(wparam) != BN_CLICKED) return FALSE;
            switch (LOWORD(wparam)) {
                case IDC_SETTINGS_BROWSE: browse_for_directory(settings, dialog); return TRUE;
                case IDC_SETTINGS_NEW_KEY: make_new_key(settings, dialog); return TRUE;
                case IDC_SETTINGS_ACCEPT_UNSIGNED:
                case IDC_SETTINGS_PUBLISH: turn_check_box(dialog, LOWORD(wparam)); return TRUE;
                case IDC_SETTINGS_OK: settings_ok(settings, dialog); return TRUE;
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

// The creation parameter is the live ServerSettings.
const DialogHandlers<ServerSettings> settings_handlers{settings_opened, settings_message,
                                                       no_notify<ServerSettings>, no_close<ServerSettings>};
}  // namespace

std::string computer_name() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    return GetComputerNameA(name, &size) ? std::string(name, size) : std::string();
}

bool run_settings_dialog(ServerSettings& settings) {
    if (settings.port_cell == 0) settings.port_cell = default_port;
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_SETTINGS), nullptr,
                           dialog_host_proc<ServerSettings, settings_handlers>,
                           reinterpret_cast<LPARAM>(&settings)) == IDOK;
}

void settings_loop(ServerSettings& settings) {
    while (settings.working_directory.empty()) {
        // A stored but empty path asks again too, instead of looping silently.
        if (!read_registry_settings(settings) || settings.working_directory.empty()) run_settings_dialog(settings);
    }
}

}  // namespace tally
