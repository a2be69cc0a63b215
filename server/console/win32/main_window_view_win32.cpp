// The main window as the console core's view: the system list, the status
// line, the General, Hardware and Software pages filled with a record's
// texts, the Search page's hits, the Server Stats page's port, directory,
// packet counters and what awaits publishing, and the inventory windows told
// of changes.
#include <windows.h>
#include <richedit.h>

#include <algorithm>

#include "server/console/win32/console_win32.h"
#include "server/console/win32/dialog_items_win32.h"
#include "server/console/win32/resource.h"
#include "server/console/view_texts.h"

namespace tally {

namespace {
void set_text(HWND page, int id, const std::string& text) { set_dlg_text(page, id, text); }
}  // namespace

void show_port(ServerState& state) {
    if (state.pages[page_stats])
        set_text(state.pages[page_stats], IDC_STATS_PORT, port_box_text(state.settings.port_cell));
}

void show_server_settings(ServerState& state) {
    show_port(state);
    if (state.pages[page_stats])
        set_text(state.pages[page_stats], IDC_STATS_WORKING_DIRECTORY, state.settings.working_directory);
}

void show_awaiting_publish(ServerState& state, const std::string& text) {
    // Painted only when it changes: the timer asks a few times a second.
    if (!state.pages[page_stats] || text == state.awaiting_publish_shown) return;
    state.awaiting_publish_shown = text;
    set_text(state.pages[page_stats], IDC_STATS_AWAITING_PUBLISH, text);
    paint_invalid(state.pages[page_stats]);
}

void MainWindowView::show_record(const RecordTexts& t) {
    HWND hw = state_.pages[page_hardware], gen = state_.pages[page_general], sw = state_.pages[page_software];
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
    set_text(hw, IDC_HW_PROCESSOR_NAME, t.hardware.processor_name);
    set_text(hw, IDC_HW_MANUFACTURER, t.hardware.manufacturer);
    set_text(hw, IDC_HW_MODEL, t.hardware.model);
    set_text(gen, IDC_GEN_BIOS_SERIAL, t.general.bios_serial);
    set_text(gen, IDC_GEN_WINDOWS_RELEASE, t.general.windows_release);
    // The box shows every program: its text limit follows the text, beyond
    // the rich edit's default of 32,767 characters.
    const LPARAM limit = static_cast<LPARAM>(std::max<std::size_t>(t.software.installed_software.size() + 1, 65536));
    SendDlgItemMessageA(sw, IDC_SW_INSTALLED_SOFTWARE, EM_EXLIMITTEXT, 0, limit);
    set_text(sw, IDC_SW_INSTALLED_SOFTWARE, t.software.installed_software);
    for (HWND page : {gen, hw, sw}) paint_invalid(page);
}

void MainWindowView::show_counter(StatsCounter counter, std::uint32_t value) {
    ServerState& state = state_;
    const int id = counter == StatsCounter::hardware   ? IDC_STATS_HARDWARE_PACKETS
                   : counter == StatsCounter::software ? IDC_STATS_SOFTWARE_PACKETS
                   : counter == StatsCounter::id       ? IDC_STATS_ID_PACKETS
                   : counter == StatsCounter::dropped  ? IDC_STATS_DROPPED
                   : counter == StatsCounter::incomplete ? IDC_STATS_INCOMPLETE
                   : counter == StatsCounter::refused  ? IDC_STATS_REFUSED
                                                       : IDC_STATS_UNWRITTEN;
    if (!state.pages[page_stats]) return;
    set_text(state.pages[page_stats], id, unsigned_text(value));
    paint_invalid(state.pages[page_stats]);
}

void MainWindowView::show_list(std::size_t rows, std::optional<std::size_t> selected_row) {
    HWND list = state_.system_list;
    if (!list) return;
    state_.list_updating = true;
    state_.list_rows.show(list, rows, selected_row);
    paint_invalid(list);
    state_.list_updating = false;
}

void MainWindowView::show_hits(const std::string& text) {
    if (!state_.pages[page_search]) return;
    set_dlg_text(state_.pages[page_search], IDC_SEARCH_HITS, text);
    paint_invalid(state_.pages[page_search]);
}

void MainWindowView::show_status(const std::string& text) {
    if (!state_.status_line) return;
    SetWindowTextA(state_.status_line, text.c_str());
    paint_invalid(state_.status_line);
}

// The Systems and Software Catalogue windows follow the tables.
void MainWindowView::record_changed(std::uint32_t i) { inventory_record_changed(state_.inventory, i); }

void MainWindowView::show_changed_rows() { inventory_show_changed_rows(state_.inventory); }

void MainWindowView::records_changed() { inventory_records_changed(state_.inventory); }

}  // namespace tally
