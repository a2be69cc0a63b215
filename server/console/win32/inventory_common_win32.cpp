// Layout, list views, sheet export and dialog keys of the two inventory windows.
#include "server/console/win32/inventory_common_win32.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "server/console/win32/save_dialog_win32.h"

namespace tally {

namespace {

const char inventory_property[] = "TallyInventoryWindow";

// Runs for every message of a modal loop (the main window's included): a
// message for one of the inventory windows gets the dialog keys there.
LRESULT CALLBACK key_hook(int code, WPARAM wparam, LPARAM lparam) {
    if (code == MSGF_DIALOGBOX) {
        MSG* message = reinterpret_cast<MSG*>(lparam);
        HWND root = message->hwnd ? GetAncestor(message->hwnd, GA_ROOT) : nullptr;
        if (root && GetPropA(root, inventory_property) && IsDialogMessageA(root, message)) return 1;
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

}  // namespace

void AnchoredLayout::capture(HWND dialog, const std::vector<Anchor>& anchors) {
    RECT client;
    GetClientRect(dialog, &client);
    width_ = client.right;
    height_ = client.bottom;
    placed_.clear();
    for (const Anchor& anchor : anchors) {
        HWND control = GetDlgItem(dialog, anchor.id);
        if (!control) continue;
        RECT rect;
        GetWindowRect(control, &rect);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
        placed_.push_back({anchor, rect});
    }
}

void AnchoredLayout::apply(HWND dialog, int width, int height) const {
    const int dx = width - width_, dy = height - height_;
    for (const Placed& p : placed_) {
        const Anchor& a = p.anchor;
        const int x = p.rect.left + (a.move_x ? dx : 0), y = p.rect.top + (a.move_y ? dy : 0);
        const int w = std::max(0, int(p.rect.right - p.rect.left) + (a.grow_x ? dx : 0));
        const int h = std::max(0, int(p.rect.bottom - p.rect.top) + (a.grow_y ? dy : 0));
        MoveWindow(GetDlgItem(dialog, a.id), x, y, w, h, TRUE);
    }
    InvalidateRect(dialog, nullptr, TRUE);
}

// A column is wide enough for its title and the sort arrow beside it.
constexpr int sort_arrow_room = 28;

void set_up_list(HWND list, const std::vector<ListColumn>& columns) {
    SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES,
                 LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    for (std::size_t k = 0; k < columns.size(); ++k) {
        LVCOLUMNA column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
        column.fmt = columns[k].right_aligned && k > 0 ? LVCFMT_RIGHT : LVCFMT_LEFT;
        const int title = static_cast<int>(
            SendMessageA(list, LVM_GETSTRINGWIDTHA, 0, reinterpret_cast<LPARAM>(columns[k].title)));
        column.cx = std::max(columns[k].width, title + sort_arrow_room);
        column.pszText = const_cast<char*>(columns[k].title);
        column.iSubItem = static_cast<int>(k);
        SendMessageA(list, LVM_INSERTCOLUMNA, k, reinterpret_cast<LPARAM>(&column));
    }
}

void show_sort_arrow(HWND list, int column, bool ascending) {
    HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
    if (!header) return;
    const int count = static_cast<int>(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0));
    for (int k = 0; k < count; ++k) {
        HDITEMA item{};
        item.mask = HDI_FORMAT;
        SendMessageA(header, HDM_GETITEMA, k, reinterpret_cast<LPARAM>(&item));
        item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
        if (k == column) item.fmt |= ascending ? HDF_SORTUP : HDF_SORTDOWN;
        SendMessageA(header, HDM_SETITEMA, k, reinterpret_cast<LPARAM>(&item));
    }
}

std::optional<std::size_t> selected_list_row(HWND list) {
    const LRESULT row = SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED);
    if (row < 0) return std::nullopt;
    return static_cast<std::size_t>(row);
}


void export_sheet(InventoryHost& host, HWND owner, const char* title, const char* proposed_name,
                  const std::function<bool(SheetWriter&)>& write) {
    char file_name[MAX_PATH];
    std::snprintf(file_name, sizeof file_name, "%s", proposed_name);
    const SaveFilter filter = save_filter(csv_filter_format);
    if (!ask_save_file(owner, filter.data(), title, "csv", file_name, sizeof file_name)) return;
    HCURSOR previous = SetCursor(LoadCursor(nullptr, IDC_WAIT));
    const bool written = write_sheet_file(file_name, write);
    SetCursor(previous);
    if (!written) host.show_failure(sheet_failure_text(file_name), "File Error");
}

void install_key_hook(InventoryWindows& windows) {
    if (!windows.key_hook) windows.key_hook = SetWindowsHookExA(WH_MSGFILTER, key_hook, nullptr, GetCurrentThreadId());
}

void mark_inventory_window(HWND dialog) { SetPropA(dialog, inventory_property, reinterpret_cast<HANDLE>(1)); }

void unmark_inventory_window(HWND dialog) { RemovePropA(dialog, inventory_property); }

std::uint32_t now_seconds() { return static_cast<std::uint32_t>(std::time(nullptr)); }

}  // namespace tally
