// The uninstall keys of the registry, read for the software scan: the
// machine key in each view, then the current user's key. Subkey names are
// enumerated and opened as wide-character text, so that a name outside the
// ANSI code page, or one of 255 characters, is not skipped.
#include "client/win32.h"

namespace tally::client {

namespace {

constexpr char uninstall_path[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr DWORD subkey_index_limit = 65535;
// Longest key name (255 characters) and its NUL.
constexpr DWORD subkey_name_room = 256;

#ifndef KEY_WOW64_64KEY
#define KEY_WOW64_64KEY 0x0100
#endif
#ifndef KEY_WOW64_32KEY
#define KEY_WOW64_32KEY 0x0200
#endif

REGSAM view_flag(RegistryView view) {
    switch (view) {
    case RegistryView::view64: return KEY_WOW64_64KEY;
    case RegistryView::view32: return KEY_WOW64_32KEY;
    case RegistryView::native: break;
    }
    return 0;
}

// Reads a value with room for value_room bytes; not present when it is
// missing or longer.
void read_value(HKEY key, const char* name, RegistryValue& v) {
    DWORD size = static_cast<DWORD>(value_room);
    v.present = RegQueryValueExA(key, name, nullptr, nullptr, v.bytes.data(), &size) == ERROR_SUCCESS &&
                size <= value_room;
    v.size = v.present ? size : 0;
}

}  // namespace

bool has_two_registry_views() {
    if (sizeof(void*) == 8) return true;
    using IsWow64Fn = BOOL(WINAPI*)(HANDLE, PBOOL);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    auto is_wow64 =
        kernel ? reinterpret_cast<IsWow64Fn>(reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")))
               : nullptr;
    BOOL wow64 = FALSE;
    return is_wow64 && is_wow64(GetCurrentProcess(), &wow64) && wow64;
}

bool Win32UninstallEntries::open() {
    close();
    bool machine_key = false;
    for (const UninstallView& v : uninstall_views(has_two_registry_views())) {
        if (view_count_ == max_views) break;
        View& view = views_[view_count_++];
        view.flags = view_flag(v.view);
        const HKEY root = v.root == UninstallRoot::machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
        if (RegOpenKeyExA(root, uninstall_path, 0, KEY_ENUMERATE_SUB_KEYS | view.flags, &view.key) != ERROR_SUCCESS)
            view.key = nullptr;
        else if (v.root == UninstallRoot::machine)
            machine_key = true;
    }
    view_ = 0;
    index_ = 0;
    // The scan fails only without the machine key; most users have no key
    // of their own.
    return machine_key;
}

bool Win32UninstallEntries::next(RegistryValue& name, RegistryValue& version) {
    name = RegistryValue{};
    version = RegistryValue{};
    while (view_ < view_count_) {
        const View& view = views_[view_];
        if (!view.key || index_ >= subkey_index_limit) {
            ++view_;
            index_ = 0;
            continue;
        }
        wchar_t subkey_name[subkey_name_room];
        DWORD size = subkey_name_room;
        if (RegEnumKeyExW(view.key, index_, subkey_name, &size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            ++view_;
            index_ = 0;
            continue;
        }
        ++index_;
        HKEY subkey = nullptr;
        if (RegOpenKeyExW(view.key, subkey_name, 0, KEY_READ | view.flags, &subkey) == ERROR_SUCCESS) {
            read_value(subkey, "DisplayName", name);
            read_value(subkey, "DisplayVersion", version);
            RegCloseKey(subkey);
        }
        return true;
    }
    return false;
}

void Win32UninstallEntries::close() {
    for (View& view : views_) {
        if (view.key) RegCloseKey(view.key);
        view = View{};
    }
    view_count_ = 0;
}

}  // namespace tally::client
