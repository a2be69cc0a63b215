// The Changes window (dialog 132): the history's events in a virtual report
// list, filtered by the last N days or a date, by kind and by a find box,
// sorted by any column, exported as shown; and a computer's timeline
// (dialog 133), the same list for one computer. Both follow the history as
// events are stored; a double-click selects the computer in the main window.
#include <windows.h>
#include <commctrl.h>

#include "server/console/win32/dialog_items_win32.h"
#include "server/console/win32/inventory_common_win32.h"
#include "server/console/win32/resource.h"
#include "server/model/changes_view.h"

namespace tally {

namespace {

const std::vector<Anchor> changes_anchors = {
    {IDC_CHANGES_COUNT, false, false, true, false}, {IDC_CHANGES_LIST, false, false, true, true},
    {IDC_CHANGES_EXPORT, false, true, false, false}, {IDCANCEL, true, true, false, false},
};

constexpr int kind_box_ids[change_group_count] = {IDC_CHANGES_KIND_ADDED,    IDC_CHANGES_KIND_REMOVED,
                                                   IDC_CHANGES_KIND_UPDATED,  IDC_CHANGES_KIND_HARDWARE,
                                                   IDC_CHANGES_KIND_WINDOWS,  IDC_CHANGES_KIND_IDENTITY,
                                                   IDC_CHANGES_KIND_USER};

void show_rows(ChangesWindow& w) {
    w.rows.show(w.list, w.view.size(), std::nullopt);
    show_sort_arrow(w.list, static_cast<int>(w.view.sort_column()), w.view.ascending());
    set_dlg_text(w.dialog, IDC_CHANGES_COUNT, changes_count_text(w.view.size(), w.view.event_count()));
}

// Reads the filter boxes into the model and fills it again.
void refill(ChangesWindow& w) {
    if (!w.computer) {
        bool ticked[change_group_count];
        for (std::size_t g = 0; g < change_group_count; ++g)
            ticked[g] = IsDlgButtonChecked(w.dialog, kind_box_ids[g]) == BST_CHECKED;
        w.view.set_kinds(changes_kinds(ticked));
        w.view.set_since(changes_since(dlg_text(w.dialog, IDC_CHANGES_DAYS), dlg_text(w.dialog, IDC_CHANGES_SINCE),
                                       now_seconds()));
    }
    w.view.fill(w.host.history(), w.host.store());
    show_rows(w);
}

void set_up(ChangesWindow& w, HWND dialog) {
    w.dialog = dialog;
    w.list = GetDlgItem(dialog, IDC_CHANGES_LIST);
    mark_inventory_window(dialog);
    set_up_list(w.list, list_columns(change_column_count, change_column_info));
    w.layout.capture(dialog, changes_anchors);
    w.view.set_computer(w.computer);
    if (w.computer) {
        set_dlg_text(dialog, IDC_CHANGES_TITLE, timeline_title(w.computer_name, w.computer->data()));
        return;
    }
    // Set before the boxes notify, so the first fill sees them.
    w.filling = true;
    for (int id : kind_box_ids) CheckDlgButton(dialog, id, BST_CHECKED);
    set_dlg_text(dialog, IDC_CHANGES_DAYS, default_changes_days);
    w.filling = false;
}

void activate_selected(ChangesWindow& w) {
    const auto row = selected_list_row(w.list);
    if (!row || *row >= w.view.size()) return;
    const auto i = w.host.store().find_record(w.view.mac_at(*row).data());
    if (i && w.host.store().holds_computer(*i)) w.host.select_record(*i);
}

void command(ChangesWindow& w, int id, int code) {
    switch (id) {
        case IDC_CHANGES_FIND:
            if (code == EN_CHANGE) {
                w.view.set_find(dlg_text(w.dialog, IDC_CHANGES_FIND));
                show_rows(w);
            }
            break;
        case IDC_CHANGES_DAYS:
        case IDC_CHANGES_SINCE:
            if (code == EN_CHANGE && !w.filling) refill(w);
            break;
        case IDC_CHANGES_KIND_ADDED:
        case IDC_CHANGES_KIND_REMOVED:
        case IDC_CHANGES_KIND_UPDATED:
        case IDC_CHANGES_KIND_HARDWARE:
        case IDC_CHANGES_KIND_WINDOWS:
        case IDC_CHANGES_KIND_IDENTITY:
        case IDC_CHANGES_KIND_USER:
            if (code == BN_CLICKED && !w.filling) refill(w);
            break;
        case IDC_CHANGES_EXPORT:
            export_sheet(w.host, w.dialog, w.computer ? "Export Timeline" : "Export Changes",
                         w.computer ? "Timeline.csv" : "Changes.csv",
                         [&](SheetWriter& out) { return write_changes_sheet(w.view, out); });
            break;
        case IDOK: activate_selected(w); break;
        case IDCANCEL: DestroyWindow(w.dialog); break;
        default: break;
    }
}

INT_PTR notify(ChangesWindow& w, NMHDR* header) {
    if (header->idFrom != IDC_CHANGES_LIST) return FALSE;
    if (give_cell_text(header, [&](std::size_t row, int column) { return w.view.text(row, ChangeColumn(column)); },
                       w.view.size()))
        return TRUE;
    switch (header->code) {
        case LVN_ITEMCHANGED: w.rows.forget(); return FALSE;
        case LVN_COLUMNCLICK: {
            const auto* click = reinterpret_cast<NMLISTVIEW*>(header);
            if (click->iSubItem >= 0 && static_cast<std::size_t>(click->iSubItem) < change_column_count) {
                w.view.click_column(ChangeColumn(click->iSubItem));
                show_rows(w);
            }
            return FALSE;
        }
        case LVN_ITEMACTIVATE: activate_selected(w); return FALSE;
        default: return FALSE;
    }
}

void changes_opened(ChangesWindow& w, HWND dialog) {
    set_up(w, dialog);
    refill(w);
}

void changes_closed(ChangesWindow& w) {
    auto& slot = w.computer ? w.windows.timeline : w.windows.changes;
    slot.reset();
}

const WindowHandlers<ChangesWindow> changes_handlers{changes_opened, notify, command, nullptr, changes_closed};
const auto changes_window_proc = inventory_window_proc<ChangesWindow, changes_handlers>;

void open_window(std::unique_ptr<ChangesWindow>& slot, InventoryWindows& windows, InventoryHost& host, int dialog_id,
                 const std::optional<Mac>& computer, const std::string& name) {
    if (slot && slot->computer != computer) DestroyWindow(slot->dialog);  // another computer's timeline
    if (!slot) {
        install_key_hook(windows);
        slot = std::make_unique<ChangesWindow>(windows, host);
        slot->computer = computer;
        slot->computer_name = name;
        ChangesWindow& w = *slot;
        if (!CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(dialog_id), host.main_window(),
                                changes_window_proc, reinterpret_cast<LPARAM>(&w))) {
            slot.reset();
            return;
        }
        ShowWindow(w.dialog, SW_SHOW);
    }
    SetForegroundWindow(slot->dialog);
}

void appended(ChangesWindow* w, std::size_t first) {
    if (!w) return;
    w->view.events_appended(w->host.history(), w->host.store(), first);
    show_rows(*w);
}

}  // namespace

void open_changes_window(InventoryWindows& windows, InventoryHost& host) {
    open_window(windows.changes, windows, host, IDD_CHANGES, std::nullopt, std::string());
}

void open_timeline_window(InventoryWindows& windows, InventoryHost& host, std::uint32_t i) {
    const Store& store = host.store();
    if (!store.holds_computer(i)) return;
    Mac mac{};
    std::copy_n(store.record(i).mac(), 6, mac.begin());
    open_window(windows.timeline, windows, host, IDD_TIMELINE, mac, store.record(i).computer_name());
}

void inventory_changes_appended(InventoryWindows& windows, std::size_t first) {
    appended(windows.changes.get(), first);
    appended(windows.timeline.get(), first);
}

}  // namespace tally
