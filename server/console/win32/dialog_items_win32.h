// Thin helpers for the controls of a dialog: their whole text (no invented
// length limit), the drop-down lists and the cells of virtual list views.
#pragma once

#include <windows.h>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tally {

// The 8-bit text a window holds, whole.
std::string window_text(HWND window);
// The text of control `id` of a dialog, whole.
std::string dlg_text(HWND dialog, int id);
void set_dlg_text(HWND dialog, int id, const std::string& text);
// Adds the entries to a combo box in order and selects `selection` (-1: none).
void fill_combo(HWND dialog, int id, const std::vector<std::string>& entries, int selection);
void select_combo(HWND dialog, int id, int selection);
// A message box with the fixed text and caption of a failure, owned by
// `owner` (none: nullptr), with the error icon or none.
void show_box(HWND owner, const std::string& text, const std::string& caption, bool error_icon = true);

// Hands the text of a cell to a virtual list asking for it (LVN_GETDISPINFO
// in either character set). `cell` gives the text of (row, column).
bool give_cell_text(NMHDR* header, const std::function<std::string(std::size_t, int)>& cell, std::size_t rows);

// Paints now what of the window and its children awaits painting. While a
// backlog of datagrams is taken, posted messages keep coming and WM_PAINT
// would wait for the end of it.
void paint_invalid(HWND window);

// The row count and the selected, focused row of a virtual list view. The
// row the list was last given is remembered while the user leaves its
// selection alone, so that a repaint touches that row only: clearing the
// selection of every row costs time in proportion to the rows, dear on every
// repaint of a storm of reports into a large list.
class VirtualListRows {
public:
    void show(HWND list, std::size_t rows, std::optional<std::size_t> selected, bool scroll_to_selected = false);
    // The user changed the selection or the focus: the next show clears every row.
    void forget() { known_ = false; }

private:
    bool known_ = false;
    std::optional<std::size_t> shown_;
    std::size_t shown_rows_ = 0;  // a new list has no rows
};

}  // namespace tally
