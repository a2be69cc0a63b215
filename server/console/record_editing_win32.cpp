// The General page's "Update Custom Fields" and the "Delete Record" command:
// both act on the selected record through the store's write-through edits.
#include <windows.h>

#include "server/console/commands.h"
#include "server/console/server_state.h"
#include "server/console/resource.h"

namespace tally {

namespace {

// Text of a dialog control as the 8-bit text it holds.
std::string item_text_of(HWND dialog, int id) {
    char text[256];
    const UINT n = GetDlgItemTextA(dialog, id, text, sizeof text);
    return std::string(text, n);
}

}  // namespace

void update_custom_fields_command(ServerState& state, HWND general_page) {
    const std::string custom_1 = item_text_of(general_page, IDC_GEN_CUSTOM_FIELD_1);
    const std::string custom_2 = item_text_of(general_page, IDC_GEN_CUSTOM_FIELD_2);
    const std::string serial = item_text_of(general_page, IDC_GEN_SERIAL_NUMBER);
    const std::string asset = item_text_of(general_page, IDC_GEN_ASSET_TAG);
    // A free record or an empty table is left alone by the store.
    if (state.store.update_custom_fields(state.store.selected_record(), custom_1, custom_2, serial, asset) != 0)
        MessageBoxA(general_page, "Seek Error", "Seek Error", MB_OK);
}

void delete_record_command(ServerState& state) { state.store.delete_record(state.store.selected_record()); }

}  // namespace tally
