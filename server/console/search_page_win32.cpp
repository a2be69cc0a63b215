// The Search page (dialog 115): fills its drop-down lists, and turns the
// "Search" and "Clear" buttons into the active search and a list rebuild.
#include <windows.h>

#include "server/console/commands.h"
#include "server/console/server_state.h"
#include "server/console/resource.h"
#include "server/reports/search_page.h"

namespace tally {

namespace {

// Text of a dialog control as the 8-bit text it holds.
std::string item_text_of(HWND dialog, int id) {
    char text[256];
    const UINT n = GetDlgItemTextA(dialog, id, text, sizeof text);
    return std::string(text, n);
}

const int item_lists[3] = {IDC_SEARCH_ITEM_1, IDC_SEARCH_ITEM_2, IDC_SEARCH_ITEM_3};
const int operator_lists[3] = {IDC_SEARCH_OPERATOR_1, IDC_SEARCH_OPERATOR_2, IDC_SEARCH_OPERATOR_3};
const int value_fields[3] = {IDC_SEARCH_VALUE_1, IDC_SEARCH_VALUE_2, IDC_SEARCH_VALUE_3};
const int connector_lists[2] = {IDC_SEARCH_CONNECTOR_1, IDC_SEARCH_CONNECTOR_2};
const int mode_lists[2] = {IDC_SEARCH_SOFTWARE_MODE_1, IDC_SEARCH_SOFTWARE_MODE_2};
const int text_fields[2] = {IDC_SEARCH_SOFTWARE_TEXT_1, IDC_SEARCH_SOFTWARE_TEXT_2};

void fill_list(HWND page, int id, const std::vector<std::string>& entries, int selection) {
    for (const std::string& e : entries)
        SendDlgItemMessageA(page, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(e.c_str()));
    SendDlgItemMessageA(page, id, CB_SETCURSEL, static_cast<WPARAM>(selection), 0);
}

void select(HWND page, int id, int selection) {
    SendDlgItemMessageA(page, id, CB_SETCURSEL, static_cast<WPARAM>(selection), 0);
}

std::string text_of(HWND page, int id) { return item_text_of(page, id); }

SearchPageTexts read_page(HWND page) {
    SearchPageTexts t;
    for (int k = 0; k < 3; ++k) {
        t.operator_text[k] = text_of(page, operator_lists[k]);
        t.item_text[k] = text_of(page, item_lists[k]);
        t.value_text[k] = text_of(page, value_fields[k]);
    }
    for (int k = 0; k < 2; ++k) {
        t.connector_text[k] = text_of(page, connector_lists[k]);
        t.mode_text[k] = text_of(page, mode_lists[k]);
        t.software_text[k] = text_of(page, text_fields[k]);
    }
    t.software_connector_text = text_of(page, IDC_SEARCH_SOFTWARE_CONNECTOR);
    return t;
}

// Puts the page back into its start-up state.
void clear_page(HWND page) {
    for (int id : value_fields) SetDlgItemTextA(page, id, "");
    for (int id : text_fields) SetDlgItemTextA(page, id, "");
    for (int id : connector_lists) select(page, id, -1);
    select(page, IDC_SEARCH_SOFTWARE_CONNECTOR, -1);
    for (int id : item_lists) select(page, id, -1);
    for (int id : operator_lists) select(page, id, 0);
    for (int id : mode_lists) select(page, id, 0);
}

}  // namespace

void init_search_page(ServerState&, HWND page) {
    if (!page) return;
    for (int k = 0; k < 3; ++k) {
        fill_list(page, operator_lists[k], operator_list_entries(), 0);
        fill_list(page, item_lists[k], item_list_entries(), -1);
    }
    for (int id : connector_lists) fill_list(page, id, connector_list_entries(), -1);
    fill_list(page, IDC_SEARCH_SOFTWARE_CONNECTOR, connector_list_entries(), -1);
    for (int id : mode_lists) fill_list(page, id, mode_list_entries(), 0);
}

void search_page_command(ServerState& state, HWND page, int control, int code) {
    if (code != BN_CLICKED) return;
    if (control == IDC_SEARCH_SEARCH) {
        search_tab_search(read_page(page), state.search);
        refresh_system_list(state);
    } else if (control == IDC_SEARCH_CLEAR) {
        search_tab_clear(state.search);
        clear_page(page);
        refresh_system_list(state);
    }
}

}  // namespace tally
