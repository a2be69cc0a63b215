// Window helpers shared by the driver's commands: pages of a window, memory in
// the program's process, list view rows.
#include "driver.h"

#include <commctrl.h>

#include <cstring>

namespace driver {

namespace {
struct FindPage {
    const char* name;
    HWND found;
};
BOOL CALLBACK find_page_child(HWND hwnd, LPARAM lp) {
    auto* f = reinterpret_cast<FindPage*>(lp);
    char cls[64], text[256];
    GetClassNameA(hwnd, cls, sizeof cls);
    GetWindowTextA(hwnd, text, sizeof text);
    if (std::strcmp(cls, "#32770") == 0 && std::strcmp(text, f->name) == 0) {
        f->found = hwnd;
        return FALSE;
    }
    return TRUE;
}
}  // namespace

HWND find_page(HWND top, const std::string& name) {
    FindPage f{name.c_str(), nullptr};
    EnumChildWindows(top, find_page_child, reinterpret_cast<LPARAM>(&f));
    return f.found;
}

RemoteBuffer::RemoteBuffer(HWND window, SIZE_T size) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process_) address_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
}

RemoteBuffer::~RemoteBuffer() {
    if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    if (process_) CloseHandle(process_);
}

bool RemoteBuffer::write(SIZE_T offset, const void* data, SIZE_T size) {
    SIZE_T done = 0;
    return WriteProcessMemory(process_, address() + offset, data, size, &done) && done == size;
}

bool RemoteBuffer::read(SIZE_T offset, void* data, SIZE_T size) {
    SIZE_T done = 0;
    return ReadProcessMemory(process_, address() + offset, data, size, &done) && done == size;
}

std::string list_item_text(HWND list, RemoteBuffer& remote, int row) {
    constexpr SIZE_T text_at = sizeof(LVITEMA);
    LVITEMA item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = remote.address() + text_at;
    item.cchTextMax = 512;
    char text[513] = {};
    if (!remote.write(0, &item, sizeof item) || !remote.write(text_at, text, 1)) return std::string();
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row),
                             reinterpret_cast<LPARAM>(remote.address()), SMTO_ABORTIFHUNG, 5000, &got))
        return std::string();
    remote.read(text_at, text, 512);
    return text;
}

std::vector<std::string> list_items(HWND list) {
    std::vector<std::string> items;
    DWORD_PTR count = 0;
    SendMessageTimeoutA(list, LVM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &count);
    RemoteBuffer remote(list, sizeof(LVITEMA) + 520);
    if (!remote.ok()) return items;
    for (DWORD_PTR row = 0; row < count; ++row) items.push_back(list_item_text(list, remote, static_cast<int>(row)));
    return items;
}

}  // namespace driver
