// The uninstall key of the registry, read for the software scan.
#include "client/win32.h"

#include <cstdio>

namespace tally::client {

namespace {

constexpr char uninstall_path[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr DWORD subkey_index_limit = 65535;

#ifndef KEY_WOW64_64KEY
#define KEY_WOW64_64KEY 0x0100
#endif
#ifndef KEY_WOW64_32KEY
#define KEY_WOW64_32KEY 0x0200
#endif

// True on 64-bit Windows, where the key has a 64-bit and a 32-bit view.
bool has_two_views() {
    if (sizeof(void*) == 8) return true;
    using IsWow64Fn = BOOL(WINAPI*)(HANDLE, PBOOL);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    auto is_wow64 =
        kernel ? reinterpret_cast<IsWow64Fn>(reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")))
               : nullptr;
    BOOL wow64 = FALSE;
    return is_wow64 && is_wow64(GetCurrentProcess(), &wow64) && wow64;
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

bool Win32UninstallEntries::open() {
    close();
    if (has_two_views()) {
        view_flags_[0] = KEY_WOW64_64KEY;
        view_flags_[1] = KEY_WOW64_32KEY;
        view_count_ = 2;
    } else {
        view_flags_[0] = 0;
        view_count_ = 1;
    }
    bool any = false;
    for (int i = 0; i < view_count_; ++i) {
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, uninstall_path, 0, KEY_ENUMERATE_SUB_KEYS | view_flags_[i],
                          &views_[i]) != ERROR_SUCCESS)
            views_[i] = nullptr;
        else
            any = true;
    }
    view_ = 0;
    index_ = 0;
    return any;
}

bool Win32UninstallEntries::next(RegistryValue& name, RegistryValue& version) {
    name = RegistryValue{};
    version = RegistryValue{};
    while (view_ < view_count_) {
        if (!views_[view_] || index_ >= subkey_index_limit) {
            ++view_;
            index_ = 0;
            continue;
        }
        char subkey_name[256];
        DWORD size = sizeof subkey_name;
        if (RegEnumKeyExA(views_[view_], index_, subkey_name, &size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            ++view_;
            index_ = 0;
            continue;
        }
        ++index_;
        char path[2048];
        std::snprintf(path, sizeof path, "%s\\%s", uninstall_path, subkey_name);
        HKEY subkey = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | view_flags_[view_], &subkey) == ERROR_SUCCESS) {
            read_value(subkey, "DisplayName", name);
            read_value(subkey, "DisplayVersion", version);
            RegCloseKey(subkey);
        }
        return true;
    }
    return false;
}

void Win32UninstallEntries::close() {
    for (HKEY& key : views_) {
        if (key) RegCloseKey(key);
        key = nullptr;
    }
    view_count_ = 0;
}

}  // namespace tally::client
