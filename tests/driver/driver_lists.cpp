// Commands for report-mode list views: every cell of every row, and a click
// on a column header (a real mouse click, since a WM_NOTIFY sent from another
// process is dropped).
#include "driver.h"

#include <commctrl.h>

namespace driver {

namespace {

HWND header_of(HWND list) {
    DWORD_PTR header = 0;
    send(list, LVM_GETHEADER, 0, 0, &header);
    return reinterpret_cast<HWND>(header);
}

}  // namespace

// list-cells TITLE PAGE ID: every row of a report list, its cells joined by tabs.
bool list_cells_command(const Args& a) {
    HWND list = control_arg(a, 3, "list-cells TITLE PAGE ID");
    if (!list) return false;
    HWND header = header_of(list);
    DWORD_PTR rows = 0, columns = 0;
    if (!header || !send(list, LVM_GETITEMCOUNT, 0, 0, &rows) || !send(header, HDM_GETITEMCOUNT, 0, 0, &columns))
        return fail("not a report list");
    RemoteBuffer remote(list, sizeof(LVITEMA) + 520);
    if (!remote.ok()) return fail("cannot reach the list's process");
    for (DWORD_PTR row = 0; row < rows; ++row) {
        std::string line;
        for (DWORD_PTR column = 0; column < columns; ++column) {
            if (column) line += '\t';
            line += list_item_text(list, remote, static_cast<int>(row), static_cast<int>(column));
        }
        print_line(line);
    }
    return true;
}
DRIVER_COMMAND("list-cells", "list-cells TITLE PAGE ID", list_cells_command);

// header-click TITLE PAGE ID COLUMN: clicks the header of a report list's column.
bool header_click_command(const Args& a) {
    long column = 0;
    HWND list = control_and_number(a, column, "header-click TITLE PAGE ID COLUMN");
    if (!list) return false;
    HWND header = header_of(list);
    if (!header) return fail("not a report list");
    RemoteBuffer remote(header, sizeof(RECT));
    if (!remote.ok()) return fail("cannot reach the list's process");
    RECT rect{};
    DWORD_PTR got = 0;
    if (!send(header, HDM_GETITEMRECT, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(remote.address()), &got) ||
        !got || !remote.read(0, &rect, sizeof rect))
        return fail("no column " + a[3]);
    // Past the column's left edge, clear of the divider where a drag would begin.
    const LPARAM at = MAKELPARAM(rect.left + 12, (rect.top + rect.bottom) / 2);
    PostMessageA(header, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageA(header, WM_LBUTTONUP, 0, at);
    Sleep(100);
    return true;
}
DRIVER_COMMAND("header-click", "header-click TITLE PAGE ID COLUMN", header_click_command);

}  // namespace driver
