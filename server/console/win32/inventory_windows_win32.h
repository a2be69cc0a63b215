// The Systems window and the Software Catalogue window: modeless, resizable
// dialogs, one of each, that follow the tables live. What they ask of the
// rest of the console goes through InventoryHost; their state lives in
// InventoryWindows, which the console keeps with its own.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "server/store/history_file.h"
#include "server/store/store.h"

namespace tally {

// What the two windows ask of the console.
class InventoryHost {
public:
    virtual ~InventoryHost() = default;
    virtual const Store& store() const = 0;
    // The change history the Changes and Timeline windows read.
    virtual History& history() = 0;
    // The same store, for a window that follows its changes as its listener.
    virtual Store& store_to_follow() = 0;
    // The main window: owner of the two windows.
    virtual HWND main_window() const = 0;
    // Selects record i in the main window and shows it there.
    virtual void select_record(std::uint32_t i) = 0;
    // Shows exactly these records in the main window's list, as a search result.
    virtual void show_in_main_list(const std::vector<std::uint32_t>& records) = 0;
    // Deletes each record as "Delete Record" does; the console then tells
    // the windows that the tables changed.
    virtual void delete_records(const std::vector<std::uint32_t>& records) = 0;
    // A failure the user must see (a file that cannot be written).
    virtual void show_failure(const std::string& text, const std::string& caption) = 0;
};

struct SystemsWindow;
struct CatalogueWindow;
struct ChangesWindow;

struct InventoryWindows {
    InventoryWindows();
    ~InventoryWindows();
    InventoryWindows(const InventoryWindows&) = delete;
    InventoryWindows& operator=(const InventoryWindows&) = delete;

    std::unique_ptr<SystemsWindow> systems;      // while the window is open
    std::unique_ptr<CatalogueWindow> catalogue;  // while the window is open
    std::unique_ptr<ChangesWindow> changes;      // while the window is open
    std::unique_ptr<ChangesWindow> timeline;     // while the window is open
    HHOOK key_hook = nullptr;  // gives the windows their dialog keys (Tab, Enter, Escape)
};

// Opens the Systems window, or brings it forward; with records, it shows
// only those (the catalogue's choice), otherwise every computer.
void open_systems_window(InventoryWindows& windows, InventoryHost& host,
                         const std::optional<std::vector<std::uint32_t>>& records = std::nullopt);
// Opens the Software Catalogue window, or brings it forward.
void open_catalogue_window(InventoryWindows& windows, InventoryHost& host);

// Record i, or its software list, changed or was added (a datagram arrived):
// the windows' models follow; their rows are painted by
// inventory_show_changed_rows.
void inventory_record_changed(InventoryWindows& windows, std::uint32_t i);
void inventory_show_changed_rows(InventoryWindows& windows);
// The tables changed as a whole (a reload, a deletion).
void inventory_records_changed(InventoryWindows& windows);

// Opens the Changes window, or brings it forward.
void open_changes_window(InventoryWindows& windows, InventoryHost& host);
// Opens the timeline of record i's computer (replacing another computer's).
void open_timeline_window(InventoryWindows& windows, InventoryHost& host, std::uint32_t i);
// The history stored events from entry `first` on (0: it was rewritten).
void inventory_changes_appended(InventoryWindows& windows, std::size_t first);


}  // namespace tally
