// tally_driver: a small Win32 program that end-to-end tests run in the same
// Wine prefix and display as the program under test, to find its windows,
// read their texts and press their controls. Each command lives in a file of
// its own and registers itself; every wait is bounded.
//
//   tally_driver.exe COMMAND [ARGS...] [; COMMAND [ARGS...]]...
//
// Commands print their results on standard output, one value per line, and
// the driver exits 0 when all commands succeeded, 1 when one failed (after
// printing "driver: ..." on standard error), 2 on a usage error.
#pragma once

#include <windows.h>

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

bool fail(const std::string& why);
void print_line(const std::string& text);

// Waits up to timeout_ms for a visible top-level window with this title
// (and class, when given); nullptr on time-out.
HWND wait_for_window(const char* title, int timeout_ms, const char* class_name = nullptr);
// A descendant control with this id (searches nested pages too).
HWND find_control(HWND top, int id);
// Text of a window through WM_GETTEXT with a time-out.
std::string window_text(HWND hwnd);
// Parses a decimal number; false on anything else.
bool parse_int(const std::string& text, long& out);
// A page of the window `top`: a child dialog whose window text is `name`
// ("General", "Search", ...); nullptr when there is none.
HWND find_page(HWND top, const std::string& name);

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

// Text of row `row` of a list view in another process; `remote` must hold an
// LVITEMA and 513 bytes after it.
std::string list_item_text(HWND list, RemoteBuffer& remote, int row);
// Every row's text, in order.
std::vector<std::string> list_items(HWND list);

}  // namespace driver
