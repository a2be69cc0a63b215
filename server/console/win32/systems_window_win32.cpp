// The Systems window (dialog 130): one row per computer in a virtual report
// list, a find box, the "not reported for N days" filter, column sorting,
// the bulk deletion, the export of the rows shown, and selection of a
// computer in the main window by double-click or Enter.
#include <windows.h>
#include <commctrl.h>

#include "server/console/win32/dialog_items_win32.h"
#include "server/console/win32/inventory_common_win32.h"
#include "server/console/win32/resource.h"
#include "server/model/systems_grid.h"

namespace tally {

namespace {

const std::vector<Anchor> systems_anchors = {
    {IDC_SYSTEMS_COUNT, false, false, true, false}, {IDC_SYSTEMS_LIST, false, false, true, true},
    {IDC_SYSTEMS_EXPORT, false, true, false, false}, {IDC_SYSTEMS_DELETE, false, true, false, false},
    {IDC_SYSTEMS_TIMELINE, false, true, false, false},
    {IDCANCEL, true, true, false, false},
};

// Paints the model: rows, the selected record's row, the count line and the
// deletion command.
void show_rows(SystemsWindow& w, bool scroll_to_selected) {
    w.rows_changed = false;
    w.painting = true;
    std::optional<std::size_t> row;
    if (w.selected) row = w.grid.row_of(*w.selected);
    w.rows.show(w.list, w.grid.size(), row, scroll_to_selected);
    show_sort_arrow(w.list, static_cast<int>(w.grid.sort_column()), w.grid.ascending());
    w.painting = false;
    set_dlg_text(w.dialog, IDC_SYSTEMS_COUNT, systems_count_text(w.grid.size(), w.grid.computer_count()));
    set_dlg_text(w.dialog, IDC_SYSTEMS_DELETE, delete_listed_command_text(w.grid.size()));
    EnableWindow(GetDlgItem(w.dialog, IDC_SYSTEMS_DELETE), w.grid.size() > 0);
    EnableWindow(GetDlgItem(w.dialog, IDC_SYSTEMS_SHOW_ALL), w.grid.has_record_set());
}

void set_up(SystemsWindow& w, HWND dialog) {
    w.dialog = dialog;
    w.list = GetDlgItem(dialog, IDC_SYSTEMS_LIST);
    mark_inventory_window(dialog);
    set_up_list(w.list, list_columns(grid_column_count, grid_column_info));
    w.layout.capture(dialog, systems_anchors);
    w.grid.set_history(&w.host.history());
}

void activate_selected(SystemsWindow& w) {
    if (const auto row = selected_list_row(w.list); row && *row < w.grid.size())
        w.host.select_record(w.grid.record_at(*row));
}

void delete_listed(SystemsWindow& w) {
    const std::size_t count = w.grid.size();
    if (count == 0) return;
    if (MessageBoxA(w.dialog, delete_listed_confirmation_text(count).c_str(), "Delete Systems",
                    MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    const std::vector<std::uint32_t> records = w.grid.shown_records();
    w.host.delete_records(records);  // the console refills the window afterwards
}

void command(SystemsWindow& w, int id, int code) {
    switch (id) {
        case IDC_SYSTEMS_FIND:
            if (code == EN_CHANGE) {
                w.grid.set_find(dlg_text(w.dialog, IDC_SYSTEMS_FIND));
                show_rows(w, false);
            }
            break;
        case IDC_SYSTEMS_DAYS:
            if (code == EN_CHANGE) {
                w.grid.set_not_reported_days(parse_days(dlg_text(w.dialog, IDC_SYSTEMS_DAYS)));
                show_rows(w, false);
            }
            break;
        case IDC_SYSTEMS_SHOW_ALL:
            w.grid.set_record_set(std::nullopt);
            show_rows(w, true);
            break;
        case IDC_SYSTEMS_EXPORT:
            export_sheet(w.host, w.dialog, "Export Systems", "Systems.csv",
                         [&](SheetWriter& out) { return write_grid_sheet(w.grid, out); });
            break;
        case IDC_SYSTEMS_DELETE: delete_listed(w); break;
        case IDC_SYSTEMS_TIMELINE:
            if (w.selected) open_timeline_window(w.windows, w.host, *w.selected);
            break;
        case IDOK:
            // Enter, in the list or the find box: the selected row's
            // computer is selected in the main window.
            activate_selected(w);
            break;
        case IDCANCEL: DestroyWindow(w.dialog); break;
        default: break;
    }
}

INT_PTR notify(SystemsWindow& w, NMHDR* header) {
    if (header->idFrom != IDC_SYSTEMS_LIST) return FALSE;
    if (give_cell_text(header, [&](std::size_t row, int column) { return w.grid.text(row, GridColumn(column)); },
                       w.grid.size()))
        return TRUE;
    switch (header->code) {
        case LVN_ITEMCHANGED: {
            const auto* change = reinterpret_cast<NMLISTVIEW*>(header);
            if (w.painting) return FALSE;
            w.rows.forget();
            if (change->iItem < 0 || !(change->uNewState & LVIS_SELECTED)) return FALSE;
            if (static_cast<std::size_t>(change->iItem) < w.grid.size())
                w.selected = w.grid.record_at(static_cast<std::size_t>(change->iItem));
            return FALSE;
        }
        case LVN_COLUMNCLICK: {
            const auto* click = reinterpret_cast<NMLISTVIEW*>(header);
            if (click->iSubItem >= 0 && static_cast<std::size_t>(click->iSubItem) < grid_column_count) {
                w.grid.click_column(GridColumn(click->iSubItem));
                show_rows(w, true);
            }
            return FALSE;
        }
        case LVN_ITEMACTIVATE:  // double-click
            activate_selected(w);
            return FALSE;
        default: return FALSE;
    }
}

void systems_opened(SystemsWindow& w, HWND dialog) {
    set_up(w, dialog);
    w.grid.fill(w.host.store(), now_seconds());
    show_rows(w, false);
}

void systems_closed(SystemsWindow& w) { w.windows.systems.reset(); }

const WindowHandlers<SystemsWindow> systems_handlers{systems_opened, notify, command, nullptr, systems_closed};
const auto systems_window_proc = inventory_window_proc<SystemsWindow, systems_handlers>;

}  // namespace

void open_systems_window(InventoryWindows& windows, InventoryHost& host,
                         const std::optional<std::vector<std::uint32_t>>& records) {
    if (!windows.systems) {
        install_key_hook(windows);
        windows.systems = std::make_unique<SystemsWindow>(windows, host);
        SystemsWindow& w = *windows.systems;
        if (!CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_SYSTEMS), host.main_window(),
                                systems_window_proc, reinterpret_cast<LPARAM>(&w))) {
            windows.systems.reset();
            return;
        }
        ShowWindow(w.dialog, SW_SHOW);
    }
    SystemsWindow& w = *windows.systems;
    if (records) {
        w.grid.set_record_set(records);
        show_rows(w, true);
    }
    SetForegroundWindow(w.dialog);
}

void systems_window_record_changed(SystemsWindow& w, std::uint32_t i) {
    w.grid.update_record(w.host.store(), i, now_seconds());
    w.rows_changed = true;
}

void systems_window_show_changed_rows(SystemsWindow& w) {
    if (!w.rows_changed) return;
    show_rows(w, false);
    paint_invalid(w.dialog);
}

void systems_window_records_changed(SystemsWindow& w) {
    w.grid.fill(w.host.store(), now_seconds());
    show_rows(w, false);
}

}  // namespace tally
