// The Search page (dialog 115): fills its drop-down lists, and hands the
// "Search" and "Clear" buttons with the page's texts to the console core.
#include <windows.h>

#include "server/console/win32/commands.h"
#include "server/console/win32/dialog_items_win32.h"
#include "server/console/console_core.h"
#include "server/console/win32/resource.h"
#include "server/model/search_page.h"

namespace tally {

namespace {

const int item_lists[hardware_rows] = {IDC_SEARCH_ITEM_1, IDC_SEARCH_ITEM_2, IDC_SEARCH_ITEM_3};
const int operator_lists[hardware_rows] = {IDC_SEARCH_OPERATOR_1, IDC_SEARCH_OPERATOR_2, IDC_SEARCH_OPERATOR_3};
const int value_fields[hardware_rows] = {IDC_SEARCH_VALUE_1, IDC_SEARCH_VALUE_2, IDC_SEARCH_VALUE_3};
const int connector_lists[hardware_rows - 1] = {IDC_SEARCH_CONNECTOR_1, IDC_SEARCH_CONNECTOR_2};
const int mode_lists[software_rows] = {IDC_SEARCH_SOFTWARE_MODE_1, IDC_SEARCH_SOFTWARE_MODE_2};
const int text_fields[software_rows] = {IDC_SEARCH_SOFTWARE_TEXT_1, IDC_SEARCH_SOFTWARE_TEXT_2};

std::string text_of(HWND page, int id) { return dlg_text(page, id); }

SearchPageTexts read_page(HWND page) {
    SearchPageTexts t;
    for (std::size_t k = 0; k < hardware_rows; ++k) {
        t.operator_text[k] = text_of(page, operator_lists[k]);
        t.item_text[k] = text_of(page, item_lists[k]);
        t.value_text[k] = text_of(page, value_fields[k]);
    }
    for (std::size_t k = 0; k < hardware_rows - 1; ++k) t.connector_text[k] = text_of(page, connector_lists[k]);
    for (std::size_t k = 0; k < software_rows; ++k) {
        t.mode_text[k] = text_of(page, mode_lists[k]);
        t.software_text[k] = text_of(page, text_fields[k]);
    }
    t.software_connector_text = text_of(page, IDC_SEARCH_SOFTWARE_CONNECTOR);
    return t;
}

// Puts the page back into its start-up state.
void clear_page(HWND page) {
    for (int id : value_fields) set_dlg_text(page, id, "");
    for (int id : text_fields) set_dlg_text(page, id, "");
    for (int id : connector_lists) select_combo(page, id, -1);
    select_combo(page, IDC_SEARCH_SOFTWARE_CONNECTOR, -1);
    for (int id : item_lists) select_combo(page, id, -1);
    for (int id : operator_lists) select_combo(page, id, 0);
    for (int id : mode_lists) select_combo(page, id, 0);
}

}  // namespace

void init_search_page(HWND page) {
    if (!page) return;
    for (std::size_t k = 0; k < hardware_rows; ++k) {
        fill_combo(page, operator_lists[k], operator_list_entries(), 0);
        fill_combo(page, item_lists[k], item_list_entries(), -1);
    }
    for (int id : connector_lists) fill_combo(page, id, connector_list_entries(), -1);
    fill_combo(page, IDC_SEARCH_SOFTWARE_CONNECTOR, connector_list_entries(), -1);
    for (int id : mode_lists) fill_combo(page, id, mode_list_entries(), 0);
}

void search_page_command(ConsoleCore& core, HWND page, int control, int code) {
    if (code != BN_CLICKED) return;
    if (control == IDC_SEARCH_SEARCH) {
        core.apply_search_page(read_page(page));
    } else if (control == IDC_SEARCH_CLEAR) {
        clear_page(page);
        core.clear_search();
    }
}

}  // namespace tally
