// What the Systems and Software Catalogue windows share: anchored layout on
// resize, report-mode virtual list views, and the export of a sheet through
// the save dialog.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "server/console/win32/dialog_host_win32.h"
#include "server/console/win32/dialog_items_win32.h"
#include "server/console/win32/inventory_windows_win32.h"
#include "server/model/changes_view.h"
#include "server/reports/sheet_csv.h"
#include "server/model/software_catalogue.h"
#include "server/model/systems_grid.h"

namespace tally {

// How a control follows the window's size: moved right / down with the
// right / bottom edge, or stretched with it.
struct Anchor {
    int id;
    bool move_x, move_y, grow_x, grow_y;
};

class AnchoredLayout {
public:
    // Notes each control's place against the dialog's client size as created.
    void capture(HWND dialog, const std::vector<Anchor>& anchors);
    void apply(HWND dialog, int width, int height) const;

private:
    struct Placed {
        Anchor anchor;
        RECT rect;
    };
    std::vector<Placed> placed_;
    int width_ = 0, height_ = 0;
};

// What every inventory window's state holds: the windows it belongs to, the
// console it asks, its dialog and the layout of its controls.
struct InventoryPane {
    InventoryPane(InventoryWindows& w, InventoryHost& h) : windows(w), host(h) {}
    InventoryWindows& windows;
    InventoryHost& host;
    HWND dialog = nullptr;
    AnchoredLayout layout;
};

// The Systems window's state, found through its GWLP_USERDATA.
struct SystemsWindow : InventoryPane {
    using InventoryPane::InventoryPane;
    HWND list = nullptr;
    VirtualListRows rows;
    SystemsGrid grid;
    std::optional<std::uint32_t> selected;  // record of the selected row
    bool painting = false;                  // the list's own selection changes
    bool rows_changed = false;              // records changed since the rows were painted
};

// The Software Catalogue window's state, found the same way.
struct CatalogueWindow : InventoryPane {
    using InventoryPane::InventoryPane;
    HWND programs = nullptr;
    HWND versions = nullptr;
    HWND computers = nullptr;
    VirtualListRows program_rows, version_rows, computer_rows;
    SoftwareCatalogue catalogue;
    CatalogueChoice choice;           // the chosen program and version
    std::vector<std::uint32_t> set;  // the chosen computers
    SystemsGrid set_rows;            // their rows
    bool set_rows_filled = false;    // set_rows holds every record (filled once a program is chosen)
    bool painting = false;
    bool counting = false;  // the catalogue is being counted, a slice on each timer tick
    ULONGLONG next_count_paint = 0;  // tick count at which the counting is shown again
    bool changes_unshown = false;    // counts moved since they were last shown
};

// The Changes window's or a timeline's state (a timeline has a computer).
struct ChangesWindow : InventoryPane {
    using InventoryPane::InventoryPane;
    HWND list = nullptr;
    VirtualListRows rows;
    ChangesView view;
    std::optional<Mac> computer;
    std::string computer_name;
    bool filling = false;  // the boxes are being set up: no refill yet
};

struct ListColumn {
    const char* title;
    int width;
    bool right_aligned;
};
// Report mode with full-row selection and grid lines, and these columns.
void set_up_list(HWND list, const std::vector<ListColumn>& columns);
// The columns of a list from the model's column descriptions.
template <typename Column>
std::vector<ListColumn> list_columns(std::size_t count, const GridColumnInfo& (*column_info)(Column)) {
    std::vector<ListColumn> columns;
    for (std::size_t c = 0; c < count; ++c) {
        const GridColumnInfo& info = column_info(Column(c));
        columns.push_back({info.title, info.width, info.numeric});
    }
    return columns;
}
// The sort arrow on one column's header, none on the others.
void show_sort_arrow(HWND list, int column, bool ascending);
std::optional<std::size_t> selected_list_row(HWND list);

// Asks for a file with the save dialog, then writes the sheet into it; a
// file that cannot be written is reported through the host.
void export_sheet(InventoryHost& host, HWND owner, const char* title, const char* proposed_name,
                  const std::function<bool(SheetWriter&)>& write);

// The window's dialog keys while the main window's modal loop runs.
void install_key_hook(InventoryWindows& windows);
// Marks a window as one of the inventory windows, for the key hook.
void mark_inventory_window(HWND dialog);
void unmark_inventory_window(HWND dialog);

// The Systems window follows the tables (systems_window_win32.cpp).
void systems_window_record_changed(SystemsWindow& w, std::uint32_t i);
void systems_window_show_changed_rows(SystemsWindow& w);
void systems_window_records_changed(SystemsWindow& w);
// The Software Catalogue window follows the tables (catalogue_window_win32.cpp).
void catalogue_window_record_changed(CatalogueWindow& w, std::uint32_t i);
void catalogue_window_follow_changes(CatalogueWindow& w);
void catalogue_window_records_changed(CatalogueWindow& w);

// Seconds since 1970, now.
std::uint32_t now_seconds();

// What an inventory window does with the messages its procedure hands on.
template <typename Window>
struct WindowHandlers {
    void (*opened)(Window&, HWND);  // WM_INITDIALOG: set up and fill
    INT_PTR (*notify)(Window&, NMHDR*);
    void (*command)(Window&, int id, int code);
    void (*timer)(Window&, WPARAM id);  // null: the window sets no timer
    void (*closed)(Window&);            // WM_NCDESTROY: ends the window's state
};

namespace inventory_detail {

template <typename Window, const WindowHandlers<Window>& handlers>
INT_PTR opened(Window& w, HWND dialog) {
    handlers.opened(w, dialog);
    return TRUE;
}

template <typename Window, const WindowHandlers<Window>& handlers>
INT_PTR message(Window& w, HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_SIZE: w.layout.apply(dialog, LOWORD(lparam), HIWORD(lparam)); return FALSE;
        case WM_COMMAND: handlers.command(w, LOWORD(wparam), HIWORD(wparam)); return TRUE;
        case WM_TIMER:
            if (!handlers.timer) return FALSE;
            handlers.timer(w, wparam);
            return TRUE;
        case WM_CLOSE: DestroyWindow(dialog); return TRUE;
        default: return FALSE;
    }
}

template <typename Window, const WindowHandlers<Window>& handlers>
INT_PTR notify(Window& w, NMHDR* header) {
    return handlers.notify(w, header);
}

template <typename Window, const WindowHandlers<Window>& handlers>
void closed(Window& w, HWND dialog) {
    unmark_inventory_window(dialog);
    handlers.closed(w);  // ends w
}

template <typename Window, const WindowHandlers<Window>& handlers>
inline constexpr DialogHandlers<Window> dialog{&opened<Window, handlers>, &message<Window, handlers>,
                                               &notify<Window, handlers>, &closed<Window, handlers>};

}  // namespace inventory_detail

// The one procedure of the inventory windows, on the dialog host: a close
// destroys the window and WM_NCDESTROY ends its state.
template <typename Window, const WindowHandlers<Window>& handlers>
INT_PTR CALLBACK inventory_window_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    return dialog_host_proc<Window, inventory_detail::dialog<Window, handlers>>(dialog, message, wparam, lparam);
}

}  // namespace tally
