// The inventory windows as one: their life with the console, and the
// changes of the tables handed to each open window.
#include "server/console/win32/inventory_windows_win32.h"

#include "server/console/win32/inventory_common_win32.h"

namespace tally {

InventoryWindows::InventoryWindows() = default;

InventoryWindows::~InventoryWindows() {
    if (systems) DestroyWindow(systems->dialog);
    if (catalogue) DestroyWindow(catalogue->dialog);
    if (key_hook) UnhookWindowsHookEx(key_hook);
}

void inventory_record_changed(InventoryWindows& windows, std::uint32_t i) {
    if (windows.systems) systems_window_record_changed(*windows.systems, i);
    if (windows.catalogue) catalogue_window_record_changed(*windows.catalogue, i);
}

void inventory_show_changed_rows(InventoryWindows& windows) {
    if (windows.systems) systems_window_show_changed_rows(*windows.systems);
    if (windows.catalogue) catalogue_window_follow_changes(*windows.catalogue);
}

void inventory_records_changed(InventoryWindows& windows) {
    if (windows.systems) systems_window_records_changed(*windows.systems);
    if (windows.catalogue) catalogue_window_records_changed(*windows.catalogue);
}

}  // namespace tally
