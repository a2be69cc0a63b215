// Text, drop-down list and list-view cell helpers for dialog controls.
#include "server/console/win32/dialog_items_win32.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>

namespace tally {

namespace {

void copy_cell(const std::string& text, char* to, int capacity) {
    if (!to || capacity <= 0) return;
    const std::size_t n = std::min(text.size(), static_cast<std::size_t>(capacity - 1));
    std::memcpy(to, text.data(), n);
    to[n] = '\0';
}

void copy_cell(const std::string& text, wchar_t* to, int capacity) {
    if (!to || capacity <= 0) return;
    const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), to, capacity - 1);
    to[n > 0 ? n : 0] = L'\0';
}

template <typename DispInfo>
void give(DispInfo* info, const std::function<std::string(std::size_t, int)>& cell, std::size_t rows) {
    if (!(info->item.mask & LVIF_TEXT) || info->item.iItem < 0) return;
    const std::size_t row = static_cast<std::size_t>(info->item.iItem);
    copy_cell(row < rows ? cell(row, info->item.iSubItem) : std::string(), info->item.pszText, info->item.cchTextMax);
}

}  // namespace

bool give_cell_text(NMHDR* header, const std::function<std::string(std::size_t, int)>& cell, std::size_t rows) {
    if (header->code == LVN_GETDISPINFOA) {
        give(reinterpret_cast<NMLVDISPINFOA*>(header), cell, rows);
        return true;
    }
    if (header->code == LVN_GETDISPINFOW) {
        give(reinterpret_cast<NMLVDISPINFOW*>(header), cell, rows);
        return true;
    }
    return false;
}

std::string window_text(HWND window) {
    if (!window) return std::string();
    const int length = GetWindowTextLengthA(window);
    if (length <= 0) return std::string();
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    const int got = GetWindowTextA(window, &text[0], length + 1);
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return text;
}

std::string dlg_text(HWND dialog, int id) { return window_text(GetDlgItem(dialog, id)); }

void set_dlg_text(HWND dialog, int id, const std::string& text) {
    // Result not checked: a page that failed to load has no controls to fill.
    SetDlgItemTextA(dialog, id, text.c_str());
}

void fill_combo(HWND dialog, int id, const std::vector<std::string>& entries, int selection) {
    for (const std::string& e : entries)
        SendDlgItemMessageA(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(e.c_str()));
    select_combo(dialog, id, selection);
}

void select_combo(HWND dialog, int id, int selection) {
    SendDlgItemMessageA(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(selection), 0);
}

void show_box(HWND owner, const std::string& text, const std::string& caption, bool error_icon) {
    MessageBoxA(owner, text.c_str(), caption.c_str(), MB_OK | (error_icon ? MB_ICONERROR : 0));
}

void paint_invalid(HWND window) {
    if (window) RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void VirtualListRows::show(HWND list, std::size_t rows, std::optional<std::size_t> selected, bool scroll_to_selected) {
    if (selected && *selected >= rows) selected.reset();
    // An unchanged count is not given again: the list would redraw its
    // scroll bar for it.
    const bool was_empty = shown_rows_ == 0;
    if (rows != shown_rows_) SendMessageA(list, LVM_SETITEMCOUNT, rows, LVSICF_NOSCROLL);
    shown_rows_ = rows;
    // A row the list dropped with a shorter count leaves its focus unknown.
    if (shown_ && *shown_ >= rows) known_ = false;
    if (!known_ || shown_ != selected) {
        LVITEMA clear{};
        clear.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        if (!known_)
            SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&clear));
        else if (shown_)
            SendMessageA(list, LVM_SETITEMSTATE, *shown_, reinterpret_cast<LPARAM>(&clear));
        if (selected) {
            LVITEMA select{};
            select.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
            select.state = LVIS_SELECTED | LVIS_FOCUSED;
            SendMessageA(list, LVM_SETITEMSTATE, *selected, reinterpret_cast<LPARAM>(&select));
        }
    }
    if (selected && scroll_to_selected) SendMessageA(list, LVM_ENSUREVISIBLE, *selected, FALSE);
    // A list that was empty and stays empty has nothing to draw again (the
    // catalogue's versions and computers while it counts).
    if (rows != 0 || !was_empty) InvalidateRect(list, nullptr, TRUE);
    known_ = true;
    shown_ = selected;
}

}  // namespace tally
