// The Software Catalogue window (dialog 131): every program with its number
// of computers, the chosen program's versions with theirs, and the computers
// of the chosen program or version, which can go to the main window's list
// or to the Systems window; exports of the programs, of the chosen
// computers and of the full software inventory.
#include <windows.h>
#include <commctrl.h>

#include "server/console/win32/dialog_items_win32.h"
#include "server/console/win32/inventory_common_win32.h"
#include "server/console/win32/resource.h"
#include "server/model/software_catalogue.h"
#include "server/model/systems_grid.h"

namespace tally {

namespace {

// The catalogue is counted in slices of at most this many milliseconds.
// Slices follow each other while nothing else waits for the window's
// thread; a datagram, a key or a paint that waits ends the run until the
// next tick of a timer, whose messages wait while the others do: the intake
// comes first. The window shows how far the counting is at most this
// often, as often as the main list is painted: a paint of the three lists
// costs as much as a slice under a slow display.
constexpr UINT_PTR count_timer = 1;
constexpr std::uint32_t count_slice_ms = 40;
constexpr ULONGLONG count_paint_ms = 500;
// Reports held back meanwhile are taken in slices of about this many
// milliseconds, the rest a few slices' time later on the same timer: while
// reports keep coming, the catalogue takes at most a fifth of the window's
// thread and the intake the rest.
constexpr std::uint32_t change_slice_ms = 20;
constexpr UINT follow_ms = 4 * change_slice_ms;

const GridColumn computer_columns[] = {GridColumn::computer_name, GridColumn::user, GridColumn::ip_address,
                                       GridColumn::mac_address, GridColumn::windows, GridColumn::last_report};

const std::vector<Anchor> catalogue_anchors = {
    {IDC_CATALOGUE_PROGRAMS, false, false, false, true},
    {IDC_CATALOGUE_VERSIONS, false, false, true, false},
    {IDC_CATALOGUE_SET_TEXT, false, false, true, false},
    {IDC_CATALOGUE_COMPUTERS, false, false, true, true},
    {IDC_CATALOGUE_TO_MAIN_LIST, false, true, false, false},
    {IDC_CATALOGUE_TO_SYSTEMS, false, true, false, false},
    {IDC_CATALOGUE_EXPORT_PROGRAMS, false, true, false, false},
    {IDC_CATALOGUE_EXPORT_COMPUTERS, false, true, false, false},
    {IDC_CATALOGUE_EXPORT_INVENTORY, false, true, false, false},
    {IDCANCEL, true, true, false, false},
};

std::optional<std::size_t> program_row(const CatalogueWindow& w) { return w.choice.place(w.catalogue).row; }

std::optional<std::size_t> version_slot(const CatalogueWindow& w) { return w.choice.place(w.catalogue).slot; }

// Paints the three lists, the count line and the set caption from the model.
void show_all(CatalogueWindow& w, bool scroll_to_selected) {
    const auto [row, slot] = w.choice.settle(w.catalogue);
    // With the days box, only the computers that installed it in those days (from the history).
    const std::uint32_t days = parse_days(dlg_text(w.dialog, IDC_CATALOGUE_INSTALLED_DAYS));
    const std::uint32_t now = now_seconds();
    // The computers' rows are made the first time a program is chosen.
    if (row && !w.set_rows_filled) {
        w.set_rows.fill(w.host.store(), now);
        w.set_rows_filled = true;
    }
    if (!row) {
        w.set.clear();
    } else if (days == 0) {
        w.set = w.catalogue.computers_of(*row, slot);
    } else {
        const std::uint64_t span = std::uint64_t(days) * seconds_per_day;
        w.set = recent_installs(w.host.history(), w.host.store(), w.catalogue.program_at(*row).name, w.choice.version(),
                                span >= now ? 0u : static_cast<std::uint32_t>(now - span));
    }
    w.set_rows.set_record_set(w.set);

    w.painting = true;
    w.program_rows.show(w.programs, w.catalogue.size(), row, scroll_to_selected);
    show_sort_arrow(w.programs, w.catalogue.order() == CatalogueOrder::name ? 0 : 1, w.catalogue.ascending());
    w.version_rows.show(w.versions, row ? w.catalogue.program_at(*row).versions.size() : 0, slot, scroll_to_selected);
    w.computer_rows.show(w.computers, w.set_rows.size(), std::nullopt);
    w.painting = false;

    const std::uint32_t records = w.host.store().record_count();
    set_dlg_text(w.dialog, IDC_CATALOGUE_COUNT,
                 catalogue_count_text(w.catalogue.size(), w.catalogue.program_count(),
                                      w.catalogue.built() ? std::nullopt
                                                          : std::optional<std::uint32_t>(counted_percent(
                                                                w.catalogue.counted(), records))));
    set_dlg_text(w.dialog, IDC_CATALOGUE_SET_TEXT,
                 row ? computer_set_text(w.catalogue.program_at(*row), slot, w.set.size()) +
                           (days != 0 ? installed_within_text(days) : std::string())
                     : std::string());
    for (int id : {IDC_CATALOGUE_TO_MAIN_LIST, IDC_CATALOGUE_TO_SYSTEMS, IDC_CATALOGUE_EXPORT_COMPUTERS})
        EnableWindow(GetDlgItem(w.dialog, id), row.has_value());
}

// Whether a datagram, a key or a paint waits for the window's thread.
// Timers (the main window's, every quarter second) and messages sent from
// other threads (a reader of the window's texts) wait for the next showing
// of the counting, at most its interval.
bool others_wait() { return HIWORD(GetQueueStatus(QS_INPUT | QS_POSTMESSAGE | QS_PAINT | QS_HOTKEY)) != 0; }

// Slices of the counting, then the next tick, until every computer is counted.
void count_slice(CatalogueWindow& w) {
    bool done = false;
    ULONGLONG now = 0;
    do {
        w.catalogue.apply_changes(change_slice_ms);
        done = w.catalogue.build_for(count_slice_ms);
        now = GetTickCount64();
    } while (!done && now < w.next_count_paint && !others_wait());
    if (done || now >= w.next_count_paint) {
        show_all(w, false);
        w.next_count_paint = now + count_paint_ms;
    }
    w.counting = !done && SetTimer(w.dialog, count_timer, 1, nullptr) != 0;
    // Without the timer the counting ends here: what it counted is shown.
    if (!done && !w.counting) show_all(w, false);
}

// The tables changed as a whole: counted anew.
void recount(CatalogueWindow& w) {
    w.catalogue.attach(w.host.store_to_follow());
    w.set_rows_filled = false;
    w.next_count_paint = 0;
    count_slice(w);
}

void set_up(CatalogueWindow& w, HWND dialog) {
    w.dialog = dialog;
    w.programs = GetDlgItem(dialog, IDC_CATALOGUE_PROGRAMS);
    w.versions = GetDlgItem(dialog, IDC_CATALOGUE_VERSIONS);
    w.computers = GetDlgItem(dialog, IDC_CATALOGUE_COMPUTERS);
    mark_inventory_window(dialog);
    set_up_list(w.programs, {{"Program", 250, false}, {"Computers", 70, true}, {"Versions", 60, true}});
    set_up_list(w.versions, {{"Version", 200, false}, {"Computers", 70, true}});
    std::vector<ListColumn> columns;
    for (GridColumn c : computer_columns) {
        const GridColumnInfo& info = grid_column_info(c);
        columns.push_back({info.title, info.width, info.numeric});
    }
    set_up_list(w.computers, columns);
    w.layout.capture(dialog, catalogue_anchors);
}

void command(CatalogueWindow& w, int id, int code) {
    const auto row = program_row(w);
    switch (id) {
        case IDC_CATALOGUE_FIND:
            if (code == EN_CHANGE) {
                w.catalogue.set_find(dlg_text(w.dialog, IDC_CATALOGUE_FIND));
                show_all(w, true);
            }
            break;
        case IDC_CATALOGUE_INSTALLED_DAYS:
            if (code == EN_CHANGE) show_all(w, false);
            break;
        case IDC_CATALOGUE_TO_MAIN_LIST:
            if (row) w.host.show_in_main_list(w.set);
            break;
        case IDC_CATALOGUE_TO_SYSTEMS:
            if (row) open_systems_window(w.windows, w.host, w.set);
            break;
        case IDC_CATALOGUE_EXPORT_PROGRAMS:
            export_sheet(w.host, w.dialog, "Export Programs", "Programs.csv",
                         [&](SheetWriter& out) { return write_catalogue_sheet(w.catalogue, out); });
            break;
        case IDC_CATALOGUE_EXPORT_COMPUTERS:
            if (row)
                export_sheet(w.host, w.dialog, "Export Computers", "Computers.csv", [&](SheetWriter& out) {
                    return write_program_computers_sheet(w.host.store(), w.catalogue, *row, version_slot(w), out);
                });
            break;
        case IDC_CATALOGUE_EXPORT_INVENTORY:
            export_sheet(w.host, w.dialog, "Export Software Inventory", "Software Inventory.csv",
                         [&](SheetWriter& out) { return write_inventory_sheet(w.host.store(), out); });
            break;
        case IDOK:
            // Enter: the selected computer is selected in the main window.
            if (const auto r = selected_list_row(w.computers); r && *r < w.set_rows.size())
                w.host.select_record(w.set_rows.record_at(*r));
            break;
        case IDCANCEL: DestroyWindow(w.dialog); break;
        default: break;
    }
}

std::string cell(const CatalogueWindow& w, UINT_PTR list, std::size_t row, int column) {
    if (list == IDC_CATALOGUE_PROGRAMS) return program_cell(w.catalogue.program_at(row), column);
    if (list == IDC_CATALOGUE_VERSIONS) {
        const auto program = program_row(w);
        return program ? version_cell(w.catalogue.program_at(*program).versions[row], column) : std::string();
    }
    if (column < 0 || column >= int(sizeof computer_columns / sizeof computer_columns[0])) return std::string();
    return w.set_rows.text(row, computer_columns[column]);
}

VirtualListRows& rows_of(CatalogueWindow& w, UINT_PTR list) {
    if (list == IDC_CATALOGUE_PROGRAMS) return w.program_rows;
    if (list == IDC_CATALOGUE_VERSIONS) return w.version_rows;
    return w.computer_rows;
}

std::size_t row_count(const CatalogueWindow& w, UINT_PTR list) {
    if (list == IDC_CATALOGUE_PROGRAMS) return w.catalogue.size();
    if (list == IDC_CATALOGUE_VERSIONS) {
        const auto program = program_row(w);
        return program ? w.catalogue.program_at(*program).versions.size() : 0;
    }
    return w.set_rows.size();
}

INT_PTR notify(CatalogueWindow& w, NMHDR* header) {
    const UINT_PTR list = header->idFrom;
    if (list != IDC_CATALOGUE_PROGRAMS && list != IDC_CATALOGUE_VERSIONS && list != IDC_CATALOGUE_COMPUTERS)
        return FALSE;
    if (give_cell_text(header, [&](std::size_t row, int column) { return cell(w, list, row, column); },
                       row_count(w, list)))
        return TRUE;
    const auto* change = reinterpret_cast<NMLISTVIEW*>(header);
    switch (header->code) {
        case LVN_ITEMCHANGED: {
            if (w.painting) return FALSE;
            rows_of(w, list).forget();
            if (change->iItem < 0 || !(change->uNewState & LVIS_SELECTED)) return FALSE;
            const std::size_t row = static_cast<std::size_t>(change->iItem);
            const bool chosen = list == IDC_CATALOGUE_PROGRAMS   ? w.choice.choose_program(w.catalogue, row)
                                : list == IDC_CATALOGUE_VERSIONS ? w.choice.choose_version(w.catalogue, row)
                                                                 : false;
            if (chosen) show_all(w, false);
            return FALSE;
        }
        case LVN_COLUMNCLICK:
            if (list == IDC_CATALOGUE_PROGRAMS) {
                w.catalogue.click_column(change->iSubItem == 0 ? CatalogueOrder::name : CatalogueOrder::computers);
                show_all(w, true);
            } else if (list == IDC_CATALOGUE_COMPUTERS && change->iSubItem >= 0 &&
                       change->iSubItem < int(sizeof computer_columns / sizeof computer_columns[0])) {
                w.set_rows.click_column(computer_columns[change->iSubItem]);
                w.computer_rows.show(w.computers, w.set_rows.size(), std::nullopt);
            }
            return FALSE;
        case LVN_ITEMACTIVATE:  // double-click on a computer
            if (list == IDC_CATALOGUE_COMPUTERS)
                if (const auto r = selected_list_row(w.computers); r && *r < w.set_rows.size())
                    w.host.select_record(w.set_rows.record_at(*r));
            return FALSE;
        default: return FALSE;
    }
}

void catalogue_opened(CatalogueWindow& w, HWND dialog) {
    set_up(w, dialog);
    w.catalogue.sort_by(CatalogueOrder::name, true);
    recount(w);
}

// The catalogue takes in the changes it heard of from the store: only the
// counts of the programs and versions that the reporting computers gained
// or lost move. What a slice leaves is taken on the next tick.
// The counts are shown as often as the counting is, and once more when the
// changes end. While the catalogue is counted, its slices take the changes.
void follow_changes(CatalogueWindow& w) {
    if (w.counting || (!w.catalogue.has_changes() && !w.changes_unshown)) return;
    // Slices follow each other while nothing else waits, as the counting's do.
    do {
        if (w.catalogue.apply_changes(change_slice_ms)) w.changes_unshown = true;
    } while (w.catalogue.built() && w.catalogue.has_changes() && GetTickCount64() < w.next_count_paint &&
             !others_wait());
    if (!w.catalogue.built()) {
        count_slice(w);  // the tables were reopened: counted anew
        return;
    }
    const bool more = w.catalogue.has_changes();
    const ULONGLONG now = GetTickCount64();
    if (w.changes_unshown && (!more || now >= w.next_count_paint)) {
        show_all(w, false);
        w.changes_unshown = false;
        w.next_count_paint = now + count_paint_ms;
    }
    // Result not checked: without the timer, the rest is taken with the next report.
    if (more) SetTimer(w.dialog, count_timer, others_wait() ? follow_ms : 1, nullptr);
}

void catalogue_timer(CatalogueWindow& w, WPARAM id) {
    if (id != count_timer) return;
    KillTimer(w.dialog, count_timer);
    if (w.counting)
        count_slice(w);
    else
        follow_changes(w);
}

void catalogue_closed(CatalogueWindow& w) { w.windows.catalogue.reset(); }

const WindowHandlers<CatalogueWindow> catalogue_handlers{catalogue_opened, notify, command, catalogue_timer,
                                                         catalogue_closed};
const auto catalogue_window_proc = inventory_window_proc<CatalogueWindow, catalogue_handlers>;

}  // namespace

void open_catalogue_window(InventoryWindows& windows, InventoryHost& host) {
    if (!windows.catalogue) {
        install_key_hook(windows);
        windows.catalogue = std::make_unique<CatalogueWindow>(windows, host);
        CatalogueWindow& w = *windows.catalogue;
        if (!CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_SOFTWARE_CATALOGUE),
                                host.main_window(), catalogue_window_proc, reinterpret_cast<LPARAM>(&w))) {
            windows.catalogue.reset();
            return;
        }
        ShowWindow(w.dialog, SW_SHOW);
    }
    SetForegroundWindow(windows.catalogue->dialog);
}

void catalogue_window_record_changed(CatalogueWindow& w, std::uint32_t i) {
    if (w.set_rows_filled) w.set_rows.update_record(w.host.store(), i, now_seconds());
}

void catalogue_window_follow_changes(CatalogueWindow& w) { follow_changes(w); }

void catalogue_window_records_changed(CatalogueWindow& w) { recount(w); }

}  // namespace tally
