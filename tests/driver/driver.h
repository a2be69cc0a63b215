// tally_driver: a small Win32 program that end-to-end tests run in the same
// Wine prefix and display as the program under test, to find its windows,
// read their texts and press their controls. Each command lives in a file of
// its own and registers itself; every wait is bounded.
//
//   tally_driver.exe COMMAND [ARGS...] [; COMMAND [ARGS...]]...
//
// A TITLE argument names a top-level window by its title; "main" stands for
// tallyhall's main window. A PAGE argument names a child dialog of that
// window by its text ("General", "Search", ...); "-" means the window itself.
// An ID is a name from tallyhall's resource.h (IDC_..., IDM_...), a standard
// dialog id (IDOK, IDCANCEL, IDYES, IDNO, cmb13, edt3) or a number.
//
// Commands print their results on standard output, one value per line, and
// the driver exits 0 when all commands succeeded, 1 when one failed (after
// printing "driver: ..." on standard error), 2 on a usage error.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace driver {

using Args = std::vector<std::string>;
// Returns true on success; on failure prints its reason through fail().
using CommandFn = bool (*)(const Args& args);

struct CommandRegistrar {
    CommandRegistrar(const char* name, const char* usage, CommandFn fn);
};
#define DRIVER_COMMAND(name, usage, fn) static ::driver::CommandRegistrar registrar_##fn(name, usage, fn)

// The time-out of every wait that has no TIMEOUT_MS argument.
constexpr int default_timeout = 10000;
extern const char main_title[];

bool fail(const std::string& why);
void print_line(const std::string& text);
// Parses a decimal number; false on anything else.
bool parse_int(const std::string& text, long& out);
// Parses an ID argument: a symbolic name or a number.
bool parse_id(const std::string& text, long& out);
// The optional TIMEOUT_MS argument at a[at] (default_timeout when absent).
bool timeout_arg(const Args& a, std::size_t at, long& out);
// The arguments TITLE [TIMEOUT_MS]: false (with `complaint`) without a title.
bool title_and_timeout(const Args& a, const char* complaint, long& timeout);

// Waits up to timeout_ms for a visible top-level window with this title
// (and class, when given); nullptr on time-out. "main" is the main window.
HWND wait_for_window(const std::string& title, int timeout_ms, const char* class_name = nullptr);
// The same with a failure message.
HWND top_window(const std::string& title);
// Waits until the window has gone; false (with a message) on time-out.
bool wait_gone(HWND window, long timeout_ms = default_timeout);
// A descendant control with this id (searches nested pages too).
HWND find_control(HWND top, int id);
// A page of the window `top`: a child dialog whose window text is `name`
// ("General", "Search", ...); nullptr when there is none.
HWND find_page(HWND top, const std::string& name);
// The control ID in page PAGE of window TITLE: direct children first (the
// main window's system list is not the Software page's box of the same id),
// then nested ones.
HWND control(const std::string& title, const std::string& page, const std::string& id);
// The control that a command's arguments TITLE PAGE ID name, when it has
// `count` arguments in all; nullptr (with the usage or the lookup's
// complaint) otherwise.
HWND control_arg(const Args& a, std::size_t count, const char* usage);
// The same for TITLE PAGE ID N, the number N into `n`.
HWND control_and_number(const Args& a, long& n, const char* usage);
// The same for TITLE PAGE ID CHOICE: CHOICE, a number or the text of one of
// the control's `entries` (the first with it), as an index into `index`;
// nullptr, with "no WHAT", when no entry has the text.
HWND control_and_choice(const Args& a, long& index, std::vector<std::string> (*entries)(HWND), const char* what,
                        const char* usage);
// Text of a window through WM_GETTEXT with a time-out.
std::string window_text(HWND hwnd);
// SendMessageTimeout that fails (with a message) when the window does not answer.
bool send(HWND window, UINT message, WPARAM wparam, LPARAM lparam, DWORD_PTR* result = nullptr);
// The entries of a combo box in their shown order.
std::vector<std::string> combo_entries(HWND combo);

// Memory in the process that owns a window, for messages that carry pointers
// (list view requests). The driver and the program have the same bitness.
class RemoteBuffer {
public:
    RemoteBuffer(HWND window, SIZE_T size);
    ~RemoteBuffer();
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;
    bool ok() const { return address_ != nullptr; }
    char* address() const { return static_cast<char*>(address_); }
    bool write(SIZE_T offset, const void* data, SIZE_T size);
    bool read(SIZE_T offset, void* data, SIZE_T size);

private:
    HANDLE process_ = nullptr;
    void* address_ = nullptr;
};

// Text of one cell (row, column) of a list view in another process;
// `remote` must hold an LVITEMA and 513 bytes after it.
std::string list_item_text(HWND list, RemoteBuffer& remote, int row, int column = 0);
// Every row's text, in order.
std::vector<std::string> list_items(HWND list);

}  // namespace driver
