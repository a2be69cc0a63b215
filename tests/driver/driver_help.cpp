// Driver commands for tallyhall's help windows and about box: the program's
// other top-level windows, the help text and its box's size, resizing and
// closing every help window, the about box's picture and buttons.
#include "driver.h"

#include "resource.h"

namespace driver {

namespace {

HWND main_window() { return wait_for_window("main", default_timeout); }

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

// windows: the titles of the program's visible top-level windows other
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
DRIVER_COMMAND("windows", "windows", windows_command);

// help-text [TIMEOUT_MS]: waits for a help window (a window of the program
// with the help text box) and prints its text and the box's size against the
// window's client area ("fills" when equal).
bool help_text_command(const Args& a) {
    long timeout = 0;
    if (!timeout_arg(a, 0, timeout)) return false;
    const DWORD start = GetTickCount();
    for (;;) {
        for (HWND w : program_windows()) {
            HWND box = GetDlgItem(w, IDC_HELP_TEXT);
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
DRIVER_COMMAND("help-text", "help-text [TIMEOUT_MS]", help_text_command);

// resize-help W H: resizes the first help window.
bool resize_help_command(const Args& a) {
    long w = 0, h = 0;
    if (a.size() != 2 || !parse_int(a[0], w) || !parse_int(a[1], h)) return fail("resize-help W H");
    for (HWND win : program_windows()) {
        if (!GetDlgItem(win, IDC_HELP_TEXT)) continue;
        SetWindowPos(win, nullptr, 0, 0, static_cast<int>(w), static_cast<int>(h), SWP_NOMOVE | SWP_NOZORDER);
        Sleep(200);
        return true;
    }
    return fail("no help window");
}
DRIVER_COMMAND("resize-help", "resize-help W H", resize_help_command);

// close-help: closes every help window and waits until they have gone.
bool close_help_command(const Args&) {
    std::vector<HWND> helps;
    for (HWND w : program_windows())
        if (GetDlgItem(w, IDC_HELP_TEXT)) helps.push_back(w);
    for (HWND w : helps) PostMessageA(w, WM_CLOSE, 0, 0);
    for (HWND w : helps)
        if (!wait_gone(w)) return false;
    print_line(std::to_string(helps.size()));
    return true;
}
DRIVER_COMMAND("close-help", "close-help", close_help_command);

// about: checks the about box's picture and buttons and prints its texts.
bool about_command(const Args&) {
    HWND about = wait_for_window("About Vodirir Ozozu Server", default_timeout, "#32770");
    if (!about) return fail("no about box");
    HWND email = GetDlgItem(about, IDC_ABOUT_EMAIL), donate = GetDlgItem(about, IDC_ABOUT_DONATE);
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
DRIVER_COMMAND("about", "about", about_command);

}  // namespace

}  // namespace driver
