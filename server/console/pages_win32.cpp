// The five tab pages: creation inside the tab control, their procedures
// (which pass the General and Search pages' commands on), and the views
// that show_record and the Server Stats page fill.
#include <windows.h>
#include <commctrl.h>
#include <richedit.h>

#include "server/console/commands.h"
#include "server/console/console_win32.h"
#include "server/console/resource.h"
#include "server/console/view_texts.h"

namespace tally {

namespace {
// Page resources in the order of creation, with their tab index and the
// window text that names the page.
struct PageTemplate {
    int resource;
    PageIndex index;
    const char* name;
};
const PageTemplate page_templates[] = {
    {IDD_HARDWARE_PAGE, page_hardware, "Hardware"}, {IDD_GENERAL_PAGE, page_general, "General"},
    {IDD_SOFTWARE_PAGE, page_software, "Software"}, {IDD_STATS_PAGE, page_stats, "Server Stats"},
    {IDD_SEARCH_PAGE, page_search, "Search"},
};

INT_PTR CALLBACK page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam) {
    ServerState& state = server_state();
    switch (message) {
        case WM_INITDIALOG:
            SetWindowLongPtrA(page, GWLP_USERDATA, lparam);
            return FALSE;
        case WM_COMMAND: {
            const LONG_PTR index = GetWindowLongPtrA(page, GWLP_USERDATA);
            const int control = LOWORD(wparam), code = HIWORD(wparam);
            if (index == page_general && control == IDC_GEN_UPDATE_CUSTOM_FIELDS && code == BN_CLICKED) {
                if (selected_record_exists(state)) update_custom_fields_command(state, page);
            } else if (index == page_search) {
                search_page_command(state, page, control, code);
            }
            return FALSE;
        }
        default:
            return FALSE;
    }
}

void set_text(HWND page, int id, const std::string& text) { SetDlgItemTextA(page, id, text.c_str()); }
}  // namespace

void create_pages(ServerState& state) {
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    for (const PageTemplate& t : page_templates) {
        HWND page = CreateDialogParamA(instance, MAKEINTRESOURCEA(t.resource), state.tab_control, page_proc,
                                       static_cast<LPARAM>(t.index));
        state.pages[t.index] = page;
        if (!page) continue;
        SetWindowTextA(page, t.name);
        SetWindowPos(page, nullptr, 4, 25, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    // The installed-software text may run to 65,000 characters, beyond the
    // rich edit's default limit.
    SendDlgItemMessageA(state.pages[page_software], IDC_SW_INSTALLED_SOFTWARE, EM_EXLIMITTEXT, 0, 0x20000);
}

void show_page(ServerState& state, int page) {
    for (int k = 0; k < page_count; ++k)
        if (state.pages[k]) ShowWindow(state.pages[k], k == page ? SW_SHOW : SW_HIDE);
}

void show_port(ServerState& state) {
    if (state.pages[page_stats])
        set_text(state.pages[page_stats], IDC_STATS_PORT, port_box_text(state.settings.port_cell));
}

void show_server_settings(ServerState& state) {
    show_port(state);
    if (state.pages[page_stats])
        set_text(state.pages[page_stats], IDC_STATS_WORKING_DIRECTORY, state.settings.working_directory);
}

bool selected_record_exists(const ServerState& state) {
    const std::uint32_t i = state.store.selected_record();
    return i < state.store.record_count() && !state.store.record(i).is_free();
}

void show_record(ServerState& state, std::uint32_t i) {
    RecordTexts t;
    if (i < state.store.record_count() && !state.store.record(i).is_free()) {
        upper_case_drive_letters(state.store, i);
        t = record_texts(state.store, i);
    } else {
        t = empty_record_texts();
    }
    HWND hw = state.pages[page_hardware], gen = state.pages[page_general], sw = state.pages[page_software];
    set_text(hw, IDC_HW_DRIVES, t.hardware.drives);
    set_text(hw, IDC_HW_CPU_FAMILY, t.hardware.cpu_family);
    set_text(hw, IDC_HW_CPU_MODEL, t.hardware.cpu_model);
    set_text(hw, IDC_HW_CPU_STEPPING, t.hardware.cpu_stepping);
    set_text(hw, IDC_HW_CPUID_RESPONSE, t.hardware.cpuid_response);
    set_text(hw, IDC_HW_TOTAL_RAM, t.hardware.total_ram);
    set_text(hw, IDC_HW_SWAP_SIZE, t.hardware.swap_size);
    set_text(gen, IDC_GEN_USER, t.general.user);
    set_text(hw, IDC_HW_CLOCK_SPEED, t.hardware.clock_speed);
    set_text(gen, IDC_GEN_UP_TIME, t.general.up_time);
    set_text(sw, IDC_SW_MAJOR_VERSION, t.software.major_version);
    set_text(sw, IDC_SW_MINOR_VERSION, t.software.minor_version);
    set_text(sw, IDC_SW_BUILD, t.software.build);
    set_text(gen, IDC_GEN_COMPUTER_NAME, t.general.computer_name);
    set_text(gen, IDC_GEN_MAC_ADDRESS, t.general.mac_address);
    set_text(gen, IDC_GEN_CUSTOM_FIELD_1, t.general.custom_field_1);
    set_text(gen, IDC_GEN_CUSTOM_FIELD_2, t.general.custom_field_2);
    set_text(gen, IDC_GEN_SERIAL_NUMBER, t.general.serial_number);
    set_text(gen, IDC_GEN_ASSET_TAG, t.general.asset_tag);
    set_text(hw, IDC_HW_RESOLUTION, t.hardware.resolution);
    set_text(hw, IDC_HW_BITS_PER_PIXEL, t.hardware.bits_per_pixel);
    set_text(hw, IDC_HW_REFRESH_RATE, t.hardware.refresh_rate);
    set_text(gen, IDC_GEN_IP_ADDRESS, t.general.ip_address);
    set_text(gen, IDC_GEN_LAST_UPDATE, t.general.last_update);
    set_text(sw, IDC_SW_PLATFORM_NAME, t.software.platform_name);
    set_text(sw, IDC_SW_INSTALLED_SOFTWARE, t.software.installed_software);
}

// --- what the intake asks of the main window

void MainWindowHooks::set_status(const std::string& text) {
    ServerState& state = server_state();
    if (state.status_line) SetWindowTextA(state.status_line, text.c_str());
}

void MainWindowHooks::show_counter(PacketCounter counter, std::uint32_t value) {
    ServerState& state = server_state();
    const int id = counter == PacketCounter::hardware   ? IDC_STATS_HARDWARE_PACKETS
                   : counter == PacketCounter::software ? IDC_STATS_SOFTWARE_PACKETS
                                                        : IDC_STATS_ID_PACKETS;
    if (state.pages[page_stats]) set_text(state.pages[page_stats], id, unsigned_text(value));
}

void MainWindowHooks::show_record(std::uint32_t i) { tally::show_record(server_state(), i); }

void MainWindowHooks::refresh_system_list(std::uint32_t changed) {
    ServerState& state = server_state();
    // A software search depends on software lists that arrive after the
    // hardware packet: re-evaluate every record then. Otherwise only the
    // changed record can have moved.
    if (state.search.software_on) {
        tally::refresh_system_list(state);
        return;
    }
    state.list.update_record(state.store, state.search, state.list_order, changed);
    show_system_list(state);
    // The selected record's entry comes back selected, which shows it: a new
    // computer that took the selected index appears in the views at once.
    if (changed == state.store.selected_record() && state.list.position_of(changed)) show_record(changed);
}

}  // namespace tally
