// Thin helpers for the controls of a dialog: their whole text (no invented
// length limit) and the drop-down lists.
#pragma once

#include <windows.h>

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

}  // namespace tally
