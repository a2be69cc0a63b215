// tally_driver commands for the Search page, record editing, exports,
// printing, help and about: find a page by its name, set and read its
// controls, read and select the system list, and answer the save and print
// dialogs. Every wait is bounded.
#include <windows.h>
#include <commctrl.h>

#include <cstring>

#include "driver.h"

namespace driver {

namespace {

const char main_title[] = "Kestrin's Vodirir Ozozu Server Version 1.35";

HWND main_window() { return wait_for_window(main_title, 10000, "#32770"); }

// The main window ("main") or one of its pages by its name ("General",
// "Search", ...).
HWND page_window(const std::string& name) {
    HWND main = main_window();
    if (!main || name == "main") return main;
    return find_page(main, name);
}

// A control of a page: direct children first, so that the main window's
// system list (1038) is not confused with the Software page's box.
HWND page_control(const Args& a, std::size_t at, HWND* page_out = nullptr) {
    if (a.size() <= at + 1) return nullptr;
    HWND page = page_window(a[at]);
    if (!page) return nullptr;
    if (page_out) *page_out = page;
    long id = 0;
    if (!parse_int(a[at + 1], id)) return nullptr;
    if (HWND direct = GetDlgItem(page, static_cast<int>(id))) return direct;
    return find_control(page, static_cast<int>(id));
}

// rp-list: the system list's entries in their order, one per line.
bool list_command(const Args&) {
    HWND main = main_window();
    if (!main) return fail("no main window");
    HWND list = GetDlgItem(main, 1038);
    if (!list) return fail("no system list");
    for (const std::string& s : list_items(list)) print_line(s);
    return true;
}
DRIVER_COMMAND("rp-list", "rp-list", list_command);

// rp-select-system TEXT: selects the system list's entry with this text.
bool select_system_command(const Args& a) {
    if (a.size() != 1) return fail("rp-select-system needs the entry text");
    HWND main = main_window();
    HWND list = main ? GetDlgItem(main, 1038) : nullptr;
    if (!list) return fail("no system list");
    const std::vector<std::string> items = list_items(list);
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i] != a[0]) continue;
        RemoteBuffer buffer(list, sizeof(LVITEMA));
        LVITEMA item{};
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        item.state = LVIS_SELECTED | LVIS_FOCUSED;
        if (!buffer.ok() || !buffer.write(0, &item, sizeof item)) return fail("no memory in the program");
        DWORD_PTR r = 0;
        SendMessageTimeoutA(list, LVM_SETITEMSTATE, i, reinterpret_cast<LPARAM>(buffer.address()), SMTO_ABORTIFHUNG,
                            5000, &r);
        return true;
    }
    return fail("no entry \"" + a[0] + "\"");
}
DRIVER_COMMAND("rp-select-system", "rp-select-system TEXT", select_system_command);

// rp-text PAGE ID: prints a control's text.
bool text_command(const Args& a) {
    HWND c = page_control(a, 0);
    if (!c) return fail("no such control");
    print_line(window_text(c));
    return true;
}
DRIVER_COMMAND("rp-text", "rp-text PAGE ID", text_command);

// rp-wait-text PAGE ID TEXT [TIMEOUT_MS]: waits until the control shows TEXT.
bool wait_text_command(const Args& a) {
    if (a.size() < 3) return fail("rp-wait-text PAGE ID TEXT [TIMEOUT_MS]");
    long timeout = 10000;
    if (a.size() > 3 && !parse_int(a[3], timeout)) return fail("bad time-out");
    const DWORD start = GetTickCount();
    std::string last;
    for (;;) {
        HWND c = page_control(a, 0);
        if (c && (last = window_text(c)) == a[2]) return true;
        if (static_cast<long>(GetTickCount() - start) >= timeout)
            return fail("control shows \"" + last + "\", not \"" + a[2] + "\"");
        Sleep(50);
    }
}
DRIVER_COMMAND("rp-wait-text", "rp-wait-text PAGE ID TEXT [TIMEOUT_MS]", wait_text_command);

// rp-set-text PAGE ID TEXT: sets an edit box's text.
bool set_text_command(const Args& a) {
    HWND c = page_control(a, 0);
    if (!c || a.size() < 3) return fail("rp-set-text PAGE ID TEXT");
    DWORD_PTR r = 0;
    SendMessageTimeoutA(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(a[2].c_str()), SMTO_ABORTIFHUNG, 5000, &r);
    return true;
}
DRIVER_COMMAND("rp-set-text", "rp-set-text PAGE ID TEXT", set_text_command);

// rp-select PAGE ID TEXT: chooses a combo box entry by its text; "-"
// removes the selection.
bool select_command(const Args& a) {
    HWND c = page_control(a, 0);
    if (!c || a.size() < 3) return fail("rp-select PAGE ID TEXT");
    DWORD_PTR r = 0;
    if (a[2] == "-") {
        SendMessageTimeoutA(c, CB_SETCURSEL, static_cast<WPARAM>(-1), 0, SMTO_ABORTIFHUNG, 5000, &r);
        return true;
    }
    DWORD_PTR count = 0;
    SendMessageTimeoutA(c, CB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &count);
    for (DWORD_PTR i = 0; i < count; ++i) {
        wchar_t text[256] = {};
        SendMessageW(c, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        char narrow[256] = {};
        WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr);
        if (a[2] == narrow) {
            SendMessageTimeoutA(c, CB_SETCURSEL, i, 0, SMTO_ABORTIFHUNG, 5000, &r);
            return true;
        }
    }
    return fail("no entry \"" + a[2] + "\"");
}
DRIVER_COMMAND("rp-select", "rp-select PAGE ID TEXT|-", select_command);

// rp-entries PAGE ID: a combo box's entries in their shown order.
bool entries_command(const Args& a) {
    HWND c = page_control(a, 0);
    if (!c) return fail("no such control");
    DWORD_PTR count = 0;
    SendMessageTimeoutA(c, CB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &count);
    for (DWORD_PTR i = 0; i < count; ++i) {
        wchar_t text[256] = {};
        SendMessageW(c, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        char narrow[256] = {};
        WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr);
        print_line(narrow);
    }
    return true;
}
DRIVER_COMMAND("rp-entries", "rp-entries PAGE ID", entries_command);

// rp-click PAGE ID: the button's click, as its page receives it (pages that
// are not shown cannot take mouse input).
bool click_command(const Args& a) {
    HWND page = nullptr;
    HWND c = page_control(a, 0, &page);
    if (!c) return fail("no such control");
    PostMessageA(GetParent(c), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(c), BN_CLICKED), reinterpret_cast<LPARAM>(c));
    return true;
}
DRIVER_COMMAND("rp-click", "rp-click PAGE ID", click_command);

// rp-menu ID: a menu command of the main window.
bool menu_command(const Args& a) {
    long id = 0;
    if (a.size() != 1 || !parse_int(a[0], id)) return fail("rp-menu ID");
    HWND main = main_window();
    if (!main) return fail("no main window");
    PostMessageA(main, WM_COMMAND, MAKEWPARAM(id, 0), 0);
    return true;
}
DRIVER_COMMAND("rp-menu", "rp-menu ID", menu_command);

// rp-save TITLE WINDOWS_PATH: fills the save dialog's file name and presses
// Save, then waits until the dialog has gone.
bool save_command(const Args& a) {
    if (a.size() != 2) return fail("rp-save TITLE PATH");
    HWND dialog = wait_for_window(a[0].c_str(), 10000, "#32770");
    if (!dialog) return fail("no dialog \"" + a[0] + "\"");
    HWND name = find_control(dialog, 1148);
    if (!name) return fail("the dialog has no file name box");
    SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(a[1].c_str()));
    PostMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    for (int i = 0; i < 200 && IsWindow(dialog); ++i) Sleep(50);
    return IsWindow(dialog) ? fail("the dialog stays open") : true;
}
DRIVER_COMMAND("rp-save", "rp-save TITLE WINDOWS_PATH", save_command);

// rp-dialog-button TITLE BUTTON_ID: presses a button of a dialog (the print
// dialog's OK 1 or Cancel 2) and waits until it has gone.
bool dialog_button_command(const Args& a) {
    long id = 0;
    if (a.size() != 2 || !parse_int(a[1], id)) return fail("rp-dialog-button TITLE BUTTON_ID");
    HWND dialog = wait_for_window(a[0].c_str(), 10000, "#32770");
    if (!dialog) return fail("no dialog \"" + a[0] + "\"");
    HWND b = GetDlgItem(dialog, static_cast<int>(id));
    if (!b) return fail("no button " + a[1]);
    PostMessageA(b, BM_CLICK, 0, 0);
    for (int i = 0; i < 200 && IsWindow(dialog); ++i) Sleep(50);
    return IsWindow(dialog) ? fail("the dialog stays open") : true;
}
DRIVER_COMMAND("rp-dialog-button", "rp-dialog-button TITLE BUTTON_ID", dialog_button_command);

// rp-dialog-set-text TITLE ID TEXT: sets the text of a dialog's control
// (the print dialog's copies box, 1154).
bool dialog_set_text_command(const Args& a) {
    long id = 0;
    if (a.size() != 3 || !parse_int(a[1], id)) return fail("rp-dialog-set-text TITLE ID TEXT");
    HWND dialog = wait_for_window(a[0].c_str(), 10000, "#32770");
    if (!dialog) return fail("no dialog \"" + a[0] + "\"");
    HWND c = find_control(dialog, static_cast<int>(id));
    if (!c) return fail("no control " + a[1]);
    SendMessageA(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(a[2].c_str()));
    return true;
}
DRIVER_COMMAND("rp-dialog-set-text", "rp-dialog-set-text TITLE ID TEXT", dialog_set_text_command);

struct Windows {
    DWORD pid;
    std::vector<HWND> found;
};
BOOL CALLBACK collect_top(HWND hwnd, LPARAM lp) {
    auto* w = reinterpret_cast<Windows*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == w->pid && IsWindowVisible(hwnd)) w->found.push_back(hwnd);
    return TRUE;
}
std::vector<HWND> program_windows() {
    Windows w{0, {}};
    HWND main = main_window();
    if (!main) return w.found;
    GetWindowThreadProcessId(main, &w.pid);
    EnumWindows(collect_top, reinterpret_cast<LPARAM>(&w));
    return w.found;
}

// rp-windows: the titles of the program's visible top-level windows other
// than the main window, one per line ("(none)" when there are none).
bool windows_command(const Args&) {
    HWND main = main_window();
    int n = 0;
    for (HWND w : program_windows()) {
        if (w == main) continue;
        char text[256] = {};
        GetWindowTextA(w, text, sizeof text);
        print_line(std::string("[") + text + "]");
        ++n;
    }
    if (n == 0) print_line("(none)");
    return true;
}
DRIVER_COMMAND("rp-windows", "rp-windows", windows_command);

// rp-help-text [TIMEOUT_MS]: waits for a help window (a window of the
// program with box 1087) and prints its text and the box's size against
// the window's client area ("fills" when equal).
bool help_text_command(const Args& a) {
    long timeout = 10000;
    if (!a.empty() && !parse_int(a[0], timeout)) return fail("bad time-out");
    const DWORD start = GetTickCount();
    for (;;) {
        for (HWND w : program_windows()) {
            HWND box = GetDlgItem(w, 1087);
            if (!box) continue;
            RECT client{}, r{};
            GetClientRect(w, &client);
            GetWindowRect(box, &r);
            print_line(window_text(box));
            const bool fills = r.right - r.left == client.right && r.bottom - r.top == client.bottom;
            print_line(fills ? "fills" : "does not fill");
            return true;
        }
        if (static_cast<long>(GetTickCount() - start) >= timeout) return fail("no help window");
        Sleep(50);
    }
}
DRIVER_COMMAND("rp-help-text", "rp-help-text [TIMEOUT_MS]", help_text_command);

// rp-resize-help W H: resizes the first help window.
bool resize_help_command(const Args& a) {
    long w = 0, h = 0;
    if (a.size() != 2 || !parse_int(a[0], w) || !parse_int(a[1], h)) return fail("rp-resize-help W H");
    for (HWND win : program_windows()) {
        if (!GetDlgItem(win, 1087)) continue;
        SetWindowPos(win, nullptr, 0, 0, static_cast<int>(w), static_cast<int>(h), SWP_NOMOVE | SWP_NOZORDER);
        Sleep(200);
        return true;
    }
    return fail("no help window");
}
DRIVER_COMMAND("rp-resize-help", "rp-resize-help W H", resize_help_command);

// rp-close-help: closes every help window and waits until they have gone.
bool close_help_command(const Args&) {
    std::vector<HWND> helps;
    for (HWND w : program_windows())
        if (GetDlgItem(w, 1087)) helps.push_back(w);
    for (HWND w : helps) PostMessageA(w, WM_CLOSE, 0, 0);
    for (HWND w : helps)
        for (int i = 0; i < 200 && IsWindow(w); ++i) Sleep(50);
    for (HWND w : helps)
        if (IsWindow(w)) return fail("a help window stays open");
    print_line(std::to_string(helps.size()));
    return true;
}
DRIVER_COMMAND("rp-close-help", "rp-close-help", close_help_command);

// rp-about: checks the about box's picture and buttons and prints its texts.
bool about_command(const Args&) {
    HWND about = wait_for_window("About Vodirir Ozozu Server", 10000, "#32770");
    if (!about) return fail("no about box");
    HWND email = GetDlgItem(about, 1009), donate = GetDlgItem(about, 1010);
    if (!email || !donate) return fail("the about box lacks its buttons");
    print_line(window_text(email));
    print_line(window_text(donate));
    bool picture = false;
    for (HWND c = GetWindow(about, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        char cls[32] = {};
        GetClassNameA(c, cls, sizeof cls);
        DWORD_PTR image = 0;
        if (lstrcmpiA(cls, "Static") == 0 &&
            SendMessageTimeoutA(c, STM_GETIMAGE, IMAGE_BITMAP, 0, SMTO_ABORTIFHUNG, 5000, &image) && image)
            picture = true;
    }
    print_line(picture ? "picture" : "no picture");
    return true;
}
DRIVER_COMMAND("rp-about", "rp-about", about_command);

// rp-close-window TITLE: closes a top-level window and waits until it has gone.
bool close_window_command(const Args& a) {
    if (a.size() != 1) return fail("rp-close-window TITLE");
    HWND w = wait_for_window(a[0].c_str(), 10000);
    if (!w) return fail("no window \"" + a[0] + "\"");
    PostMessageA(w, WM_CLOSE, 0, 0);
    for (int i = 0; i < 200 && IsWindow(w); ++i) Sleep(50);
    return IsWindow(w) ? fail("the window stays open") : true;
}
DRIVER_COMMAND("rp-close-window", "rp-close-window TITLE", close_window_command);

}  // namespace

}  // namespace driver
