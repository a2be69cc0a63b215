// The process-wide state of tallyhall: live settings, the store, the console
// core and its intake, the database publisher, the listening socket and the
// main window's handles.
// One instance lives in WinMain from start-up to exit; the windows find it
// through their creation parameter and GWLP_USERDATA.
#pragma once

#include <windows.h>

#include <cstdint>

#include "protocol/udp.h"
#include "server/console/win32/dialog_items_win32.h"
#include "server/console/console_core.h"
#include "server/console/held_view.h"
#include "server/console/win32/inventory_windows_win32.h"
#include "server/console/settings.h"
#include "server/intake/history_recorder.h"
#include "server/intake/intake.h"
#include "server/intake/intake_pump.h"
#include "server/publish/publisher.h"
#include "server/store/notify.h"
#include "server/store/store.h"

namespace tally {

// Window message the socket library posts when a datagram waits (WM_USER + 1).
constexpr UINT socket_message = WM_USER + 1;
// Posted by the main window to itself: the next round of a backlog of
// datagrams, taken with the socket's notifications off.
constexpr UINT drain_message = WM_APP + 1;

// Every message box of the store and the console: MessageBoxA with the
// owner the notice names (the main window, the General page, or none).
class BoxNotifier : public Notifier {
public:
    void notify(const Notice& notice) override;
    HWND main_window = nullptr;
    HWND general_page = nullptr;
};

// The tab pages, by tab index.
enum PageIndex { page_general = 0, page_hardware, page_software, page_stats, page_search, page_count };

struct ServerState;

// The main window as the console core's view: paints what the core decides.
class MainWindowView : public ConsoleView {
public:
    explicit MainWindowView(ServerState& state) : state_(state) {}
    void show_status(const std::string& text) override;
    void show_counter(StatsCounter counter, std::uint32_t value) override;
    void show_list(std::size_t rows, std::optional<std::size_t> selected_row) override;
    void show_hits(const std::string& text) override;
    void show_record(const RecordTexts& texts) override;
    // The Systems and Software Catalogue windows follow the tables.
    void record_changed(std::uint32_t i) override;
    void show_changed_rows() override;
    void records_changed() override;

private:
    ServerState& state_;
};

// What the Systems and Software Catalogue windows ask of the console.
class ConsoleInventoryHost : public InventoryHost {
public:
    explicit ConsoleInventoryHost(ServerState& state) : state_(state) {}
    const Store& store() const override;
    History& history() override;
    Store& store_to_follow() override;
    HWND main_window() const override;
    void select_record(std::uint32_t i) override;
    void show_in_main_list(const std::vector<std::uint32_t>& records) override;
    void delete_records(const std::vector<std::uint32_t>& records) override;
    void show_failure(const std::string& text, const std::string& caption) override;

private:
    ServerState& state_;
};

// The listening socket's notifications to the main window (socket_message on
// FD_READ), which the intake pump turns off while a backlog drains.
class SocketNotifications : public IntakeNotifications {
public:
    explicit SocketNotifications(ServerState& state) : state_(state) {}
    bool pause_notifications() override;
    void resume_notifications() override;

private:
    ServerState& state_;
};

// One round of the intake, its paints held (main_window_win32.cpp).
IntakeRound take_held_round(ServerState& state);
// A connection to the organisation's database for the publisher's worker
// (ODBC through the system's driver manager).
std::unique_ptr<Database> open_database_connection();

struct ServerState {
    ServerSettings settings;
    BoxNotifier notifier;
    Store store{notifier};
    MainWindowView main_window_view{*this};
    HeldView held_view{main_window_view};  // holds the intake's paints during a storm
    ConsoleCore core{store, held_view};
    Intake intake{store, core, &settings.signing};
    History history;  // History.Audit beside the database files
    HistoryRecorder recorder{store, history};
    // Publishes what changed to the organisation's database, from a worker
    // thread of its own; ticked by the main window's timer.
    Publisher publisher{store, history, open_database_connection};
    std::string awaiting_publish_shown;  // the Server Stats field as last painted
    UdpSocket socket;  // the listening socket; closed in display only mode
    SocketNotifications socket_notifications{*this};
    IntakePump pump{socket_notifications, [this] { return take_held_round(*this); }};
    ConsoleInventoryHost inventory_host{*this};
    InventoryWindows inventory;  // the Systems and Software Catalogue windows

    ListOrderEntries sort_entries{0, 1, 2};

    HWND main_window = nullptr;
    HWND tab_control = nullptr;
    HWND sort_selector = nullptr;
    HWND system_list = nullptr;
    HWND status_line = nullptr;
    HWND pages[page_count] = {};
    bool list_updating = false;  // the list's own selection changes, not the user's
    VirtualListRows list_rows;
};

}  // namespace tally
