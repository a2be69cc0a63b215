// Helpers shared by the driver's commands: arguments (numbers, symbolic ids,
// time-outs), top-level windows and waiting for them, pages and controls of a
// window, checked messages, combo entries, memory in the program's process,
// list view rows.
#include "driver.h"

#include <commctrl.h>
#include <dlgs.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "resource.h"

namespace driver {

const char main_title[] = "Kestrin's Vodirir Ozozu Server Version 1.35";

namespace {
struct NamedId {
    const char* name;
    long value;
};
// Every id of tallyhall's resource.h (generated from that header at build
// time), then the standard ids of message boxes and common dialogs.
const NamedId named_ids[] = {
#include "resource_ids.inc"
    {"IDOK", IDOK}, {"IDCANCEL", IDCANCEL}, {"IDYES", IDYES}, {"IDNO", IDNO},
    {"cmb13", cmb13},  // the file name box of the save dialog
    {"edt3", edt3},    // the copies box of the print dialog
};

struct FindTop {
    const char* title;
    const char* class_name;
    HWND found;
};
BOOL CALLBACK find_top(HWND hwnd, LPARAM lp) {
    auto* f = reinterpret_cast<FindTop*>(lp);
    if (!IsWindowVisible(hwnd)) return TRUE;
    char text[512];
    GetWindowTextA(hwnd, text, sizeof text);
    if (std::string(text) != f->title) return TRUE;
    if (f->class_name) {
        char cls[64];
        GetClassNameA(hwnd, cls, sizeof cls);
        if (std::string(cls) != f->class_name) return TRUE;
    }
    f->found = hwnd;
    return FALSE;
}

struct FindChild {
    int id;
    HWND found;
};
BOOL CALLBACK find_child(HWND hwnd, LPARAM lp) {
    auto* f = reinterpret_cast<FindChild*>(lp);
    if (GetDlgCtrlID(hwnd) == f->id) {
        f->found = hwnd;
        return FALSE;
    }
    return TRUE;
}
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

bool parse_int(const std::string& text, long& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    out = std::strtol(text.c_str(), &end, 10);
    return *end == '\0';
}

bool parse_id(const std::string& text, long& out) {
    for (const NamedId& id : named_ids)
        if (text == id.name) return out = id.value, true;
    return parse_int(text, out);
}

bool timeout_arg(const Args& a, std::size_t at, long& out) {
    out = default_timeout;
    if (a.size() > at && !parse_int(a[at], out)) return fail("bad time-out " + a[at]);
    return true;
}

HWND wait_for_window(const std::string& title, int timeout_ms, const char* class_name) {
    const bool main = title == "main";
    if (main) class_name = "#32770";
    const DWORD start = GetTickCount();
    for (;;) {
        FindTop f{main ? main_title : title.c_str(), class_name, nullptr};
        EnumWindows(find_top, reinterpret_cast<LPARAM>(&f));
        if (f.found) return f.found;
        if (static_cast<int>(GetTickCount() - start) >= timeout_ms) return nullptr;
        Sleep(50);
    }
}

HWND top_window(const std::string& title) {
    HWND top = wait_for_window(title, default_timeout);
    if (!top) fail("no window \"" + title + "\"");
    return top;
}

bool wait_gone(HWND window, long timeout_ms) {
    const DWORD start = GetTickCount();
    while (IsWindow(window)) {
        if (static_cast<long>(GetTickCount() - start) >= timeout_ms) return fail("the window stays open");
        Sleep(50);
    }
    return true;
}

HWND find_control(HWND top, int id) {
    FindChild f{id, nullptr};
    EnumChildWindows(top, find_child, reinterpret_cast<LPARAM>(&f));
    return f.found;
}

std::string window_text(HWND hwnd) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) return std::string();
    std::string text(length + 1, '\0');
    DWORD_PTR got = 0;
    SendMessageTimeoutA(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]), SMTO_ABORTIFHUNG, 5000,
                        &got);
    text.resize(got);
    return text;
}

HWND find_page(HWND top, const std::string& name) {
    FindPage f{name.c_str(), nullptr};
    EnumChildWindows(top, find_page_child, reinterpret_cast<LPARAM>(&f));
    return f.found;
}

HWND control(const std::string& title, const std::string& page, const std::string& id_text) {
    long id = 0;
    if (!parse_id(id_text, id)) return fail("bad control id " + id_text), nullptr;
    HWND parent = top_window(title);
    if (!parent) return nullptr;
    if (page != "-") {
        parent = find_page(parent, page);
        if (!parent) return fail("no page \"" + page + "\""), nullptr;
    }
    HWND c = GetDlgItem(parent, static_cast<int>(id));
    if (!c) c = find_control(parent, static_cast<int>(id));
    if (!c) fail("no control " + id_text + " on " + page);
    return c;
}

bool title_and_timeout(const Args& a, const char* complaint, long& timeout) {
    if (a.empty()) return fail(complaint);
    return timeout_arg(a, 1, timeout);
}

HWND control_arg(const Args& a, std::size_t count, const char* usage) {
    if (a.size() != count) return fail(usage), nullptr;
    return control(a[0], a[1], a[2]);
}

HWND control_and_number(const Args& a, long& n, const char* usage) {
    if (a.size() != 4 || !parse_int(a[3], n)) return fail(usage), nullptr;
    return control(a[0], a[1], a[2]);
}

HWND control_and_choice(const Args& a, long& index, std::vector<std::string> (*entries)(HWND), const char* what,
                        const char* usage) {
    HWND c = control_arg(a, 4, usage);
    if (!c || parse_int(a[3], index)) return c;
    const std::vector<std::string> all = entries(c);
    const auto found = std::find(all.begin(), all.end(), a[3]);
    if (found == all.end()) {
        fail(std::string("no ") + what + " \"" + a[3] + "\"");
        return nullptr;
    }
    index = static_cast<long>(found - all.begin());
    return c;
}

bool send(HWND window, UINT message, WPARAM wparam, LPARAM lparam, DWORD_PTR* result) {
    DWORD_PTR r = 0;
    if (!SendMessageTimeoutA(window, message, wparam, lparam, SMTO_ABORTIFHUNG, 5000, &r))
        return fail("window did not answer");
    if (result) *result = r;
    return true;
}

std::vector<std::string> combo_entries(HWND combo) {
    std::vector<std::string> entries;
    DWORD_PTR count = 0;
    if (!send(combo, CB_GETCOUNT, 0, 0, &count)) return entries;
    for (DWORD_PTR k = 0; k < count; ++k) {
        // The Unicode message: the system marshals it across processes.
        wchar_t text[256] = {};
        SendMessageW(combo, CB_GETLBTEXT, k, reinterpret_cast<LPARAM>(text));
        char narrow[512] = {};
        WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr);
        entries.push_back(narrow);
    }
    return entries;
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

std::string list_item_text(HWND list, RemoteBuffer& remote, int row, int column) {
    constexpr SIZE_T text_at = sizeof(LVITEMA);
    LVITEMA item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.iSubItem = column;
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
