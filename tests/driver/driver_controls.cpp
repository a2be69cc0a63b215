// Driver commands on the controls of a window: read and set texts, press
// buttons, choose combo entries, read and select list-view rows in the
// other process, switch tabs, post menu commands, and the window's place,
// size and state.
#include "driver.h"

#include <commctrl.h>

namespace driver {
namespace {

// text TITLE PAGE ID: prints the control's text.
bool text_command(const Args& a) {
    HWND c = control_arg(a, 3, "text TITLE PAGE ID");
    if (!c) return false;
    print_line(window_text(c));
    return true;
}
DRIVER_COMMAND("text", "text TITLE PAGE ID", text_command);

// Waits until the control's text passes `shown` (for at most the timeout
// in a[4]); the usage line names the command.
template <typename Shown>
bool wait_for_text(const Args& a, const char* usage, Shown shown) {
    long timeout = 0;
    if (a.size() < 4) return fail(usage);
    if (!timeout_arg(a, 4, timeout)) return false;
    HWND c = control(a[0], a[1], a[2]);
    if (!c) return false;
    const DWORD start = GetTickCount();
    std::string last;
    while (!shown(last = window_text(c))) {
        if (static_cast<long>(GetTickCount() - start) >= timeout)
            return fail(a[2] + " shows \"" + last + "\", not \"" + a[3] + "\"");
        Sleep(50);
    }
    return true;
}

// wait-text TITLE PAGE ID TEXT [TIMEOUT_MS]: waits until the control shows TEXT.
bool wait_text_command(const Args& a) {
    return wait_for_text(a, "wait-text TITLE PAGE ID TEXT [TIMEOUT_MS]",
                         [&](const std::string& text) { return text == a[3]; });
}
DRIVER_COMMAND("wait-text", "wait-text TITLE PAGE ID TEXT [TIMEOUT_MS]", wait_text_command);

// wait-end TITLE PAGE ID END [TIMEOUT_MS]: waits until the control's text
// ends with END, and prints it.
bool wait_end_command(const Args& a) {
    std::string last;
    const bool ended = wait_for_text(a, "wait-end TITLE PAGE ID END [TIMEOUT_MS]", [&](const std::string& text) {
        last = text;
        return text.size() >= a[3].size() && text.compare(text.size() - a[3].size(), a[3].size(), a[3]) == 0;
    });
    if (ended) print_line(last);
    return ended;
}
DRIVER_COMMAND("wait-end", "wait-end TITLE PAGE ID END [TIMEOUT_MS]", wait_end_command);

// set-text TITLE PAGE ID TEXT: replaces the text of an edit control.
bool set_text_command(const Args& a) {
    HWND c = control_arg(a, 4, "set-text TITLE PAGE ID TEXT");
    if (!c) return false;
    // WM_SETTEXT is marshalled across processes by the system.
    return send(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(a[3].c_str()));
}
DRIVER_COMMAND("set-text", "set-text TITLE PAGE ID TEXT", set_text_command);

// click TITLE PAGE ID: presses an enabled button: its parent receives the
// click's command, also on a page that is not shown (which takes no mouse
// input).
bool click_command(const Args& a) {
    HWND c = control_arg(a, 3, "click TITLE PAGE ID");
    if (!c) return false;
    if (!IsWindowEnabled(c)) return fail("button " + a[2] + " is disabled");
    PostMessageA(GetParent(c), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(c), BN_CLICKED), reinterpret_cast<LPARAM>(c));
    return true;
}
DRIVER_COMMAND("click", "click TITLE PAGE ID", click_command);

// combo TITLE PAGE ID INDEX|TEXT: selects an entry by its index (-1: none)
// or its text and reports the drop-down's close-up to the combo's parent,
// as a user's choice does.
bool combo_command(const Args& a) {
    long index = 0;
    HWND c = control_and_choice(a, index, combo_entries, "entry", "combo TITLE PAGE ID INDEX|TEXT");
    if (!c) return false;
    if (!send(c, CB_SETCURSEL, static_cast<WPARAM>(index), 0)) return false;
    return send(GetParent(c), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(c), CBN_CLOSEUP), reinterpret_cast<LPARAM>(c));
}
DRIVER_COMMAND("combo", "combo TITLE PAGE ID INDEX|TEXT", combo_command);

// combo-items TITLE PAGE ID: prints the entries and then "selected N".
bool combo_items_command(const Args& a) {
    HWND c = control_arg(a, 3, "combo-items TITLE PAGE ID");
    if (!c) return false;
    DWORD_PTR selected = 0;
    if (!send(c, CB_GETCURSEL, 0, 0, &selected)) return false;
    for (const std::string& entry : combo_entries(c)) print_line(entry);
    print_line("selected " + std::to_string(static_cast<long>(static_cast<LRESULT>(selected))));
    return true;
}
DRIVER_COMMAND("combo-items", "combo-items TITLE PAGE ID", combo_items_command);

// list-items TITLE PAGE ID: prints every row of a list view, a selected row
// marked with "* " in front.
bool list_items_command(const Args& a) {
    HWND list = control_arg(a, 3, "list-items TITLE PAGE ID");
    if (!list) return false;
    const std::vector<std::string> rows = list_items(list);
    for (std::size_t row = 0; row < rows.size(); ++row) {
        DWORD_PTR state = 0;
        send(list, LVM_GETITEMSTATE, row, LVIS_SELECTED, &state);
        print_line(std::string(state & LVIS_SELECTED ? "* " : "") + rows[row]);
    }
    return true;
}
DRIVER_COMMAND("list-items", "list-items TITLE PAGE ID", list_items_command);

// list-count TITLE PAGE ID [N TIMEOUT_MS]: prints the number of rows of a
// list view; with N, once it has N rows or the time is up (the server paints
// its list at most every half second while reports arrive).
bool list_count_command(const Args& a) {
    long timeout = 0;
    if (a.size() != 3 && a.size() != 5) return fail("list-count TITLE PAGE ID [N TIMEOUT_MS]");
    if (a.size() == 5 && !timeout_arg(a, 4, timeout)) return false;
    HWND list = control(a[0], a[1], a[2]);
    if (!list) return false;
    const DWORD start = GetTickCount();
    DWORD_PTR count = 0;
    while (send(list, LVM_GETITEMCOUNT, 0, 0, &count) && a.size() == 5 && std::to_string(count) != a[3] &&
           static_cast<long>(GetTickCount() - start) < timeout)
        Sleep(50);
    print_line(std::to_string(count));
    return true;
}
DRIVER_COMMAND("list-count", "list-count TITLE PAGE ID [N TIMEOUT_MS]", list_count_command);

// list-rows TITLE PAGE ID FIRST COUNT: prints rows FIRST.. of a list view.
bool list_rows_command(const Args& a) {
    long first = 0, n = 0;
    if (a.size() != 5 || !parse_int(a[3], first) || !parse_int(a[4], n))
        return fail("list-rows TITLE PAGE ID FIRST COUNT");
    HWND list = control(a[0], a[1], a[2]);
    if (!list) return false;
    RemoteBuffer remote(list, sizeof(LVITEMA) + 520);
    if (!remote.ok()) return fail("cannot reach the list's process");
    for (long row = first; row < first + n; ++row) print_line(list_item_text(list, remote, static_cast<int>(row)));
    return true;
}
DRIVER_COMMAND("list-rows", "list-rows TITLE PAGE ID FIRST COUNT", list_rows_command);

// list-select TITLE PAGE ID ROW|TEXT: selects and focuses a row, given by its
// number or its text, as a click does.
bool list_select_command(const Args& a) {
    long row = 0;
    HWND list = control_and_choice(a, row, list_items, "row", "list-select TITLE PAGE ID ROW|TEXT");
    if (!list) return false;
    RemoteBuffer remote(list, sizeof(LVITEMA));
    if (!remote.ok()) return fail("cannot reach the list's process");
    LVITEMA item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    if (!remote.write(0, &item, sizeof item)) return fail("cannot write to the list's process");
    return send(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote.address()));
}
DRIVER_COMMAND("list-select", "list-select TITLE PAGE ID ROW|TEXT", list_select_command);

// tab TITLE PAGE ID INDEX: switches a tab control to tab INDEX.
bool tab_command(const Args& a) {
    long index = 0;
    HWND tab = control_and_number(a, index, "tab TITLE PAGE ID INDEX");
    if (!tab) return false;
    return send(tab, TCM_SETCURFOCUS, static_cast<WPARAM>(index), 0);
}
DRIVER_COMMAND("tab", "tab TITLE PAGE ID INDEX", tab_command);

// visible TITLE PAGE: prints 1 when the page is visible, 0 when hidden.
bool visible_command(const Args& a) {
    if (a.size() != 2) return fail("visible TITLE PAGE");
    HWND top = top_window(a[0]);
    if (!top) return false;
    HWND page = find_page(top, a[1]);
    if (!page) return fail("no page \"" + a[1] + "\"");
    print_line(IsWindowVisible(page) ? "1" : "0");
    return true;
}
DRIVER_COMMAND("visible", "visible TITLE PAGE", visible_command);

// menu TITLE COMMAND_ID: posts a menu command to the window.
bool menu_command(const Args& a) {
    long id = 0;
    if (a.size() != 2 || !parse_id(a[1], id)) return fail("menu TITLE COMMAND_ID");
    HWND top = top_window(a[0]);
    if (!top) return false;
    PostMessageA(top, WM_COMMAND, MAKEWPARAM(id, 0), 0);
    return true;
}
DRIVER_COMMAND("menu", "menu TITLE COMMAND_ID", menu_command);

// rect TITLE PAGE ID: prints "client W H" of the top-level window, then
// "x y width height" of the control in that window's client coordinates.
bool rect_command(const Args& a) {
    HWND c = control_arg(a, 3, "rect TITLE PAGE ID");
    if (!c) return false;
    HWND top = GetAncestor(c, GA_ROOT);
    RECT client{}, r{};
    GetClientRect(top, &client);
    GetWindowRect(c, &r);
    MapWindowPoints(nullptr, top, reinterpret_cast<POINT*>(&r), 2);
    print_line("client " + std::to_string(client.right) + " " + std::to_string(client.bottom));
    print_line(std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right - r.left) + " " +
               std::to_string(r.bottom - r.top));
    return true;
}
DRIVER_COMMAND("rect", "rect TITLE PAGE ID", rect_command);

// maximized TITLE: prints 1 when the window is maximised.
bool maximized_command(const Args& a) {
    if (a.size() != 1) return fail("maximized TITLE");
    HWND top = top_window(a[0]);
    if (!top) return false;
    print_line(IsZoomed(top) ? "1" : "0");
    return true;
}
DRIVER_COMMAND("maximized", "maximized TITLE", maximized_command);

// maximize TITLE: maximises the window, as its caption button does.
bool maximize_command(const Args& a) {
    if (a.size() != 1) return fail("maximize TITLE");
    HWND top = top_window(a[0]);
    if (!top) return false;
    return send(top, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
}
DRIVER_COMMAND("maximize", "maximize TITLE", maximize_command);

// move TITLE X Y WIDTH HEIGHT: places and sizes a top-level window.
bool move_command(const Args& a) {
    long v[4] = {};
    if (a.size() != 5) return fail("move TITLE X Y WIDTH HEIGHT");
    for (int k = 0; k < 4; ++k)
        if (!parse_int(a[k + 1], v[k])) return fail("bad number " + a[k + 1]);
    HWND top = top_window(a[0]);
    if (!top) return false;
    if (!SetWindowPos(top, nullptr, v[0], v[1], v[2], v[3], SWP_NOZORDER)) return fail("cannot move the window");
    return true;
}
DRIVER_COMMAND("move", "move TITLE X Y WIDTH HEIGHT", move_command);

}  // namespace
}  // namespace driver
