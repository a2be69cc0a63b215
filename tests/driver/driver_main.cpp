// Command dispatch, and the commands for message boxes, waiting and timing.
#include "driver.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

namespace driver {

namespace {
struct Command {
    const char* usage;
    CommandFn fn;
};
std::map<std::string, Command>& registry() {
    static std::map<std::string, Command> commands;
    return commands;
}

}  // namespace

CommandRegistrar::CommandRegistrar(const char* name, const char* usage, CommandFn fn) {
    registry()[name] = Command{usage, fn};
}

bool fail(const std::string& why) {
    std::fprintf(stderr, "driver: %s\n", why.c_str());
    return false;
}

void print_line(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

namespace {

// box CAPTION [BUTTON_ID] [TIMEOUT_MS]: waits for a message box, prints its
// text and presses the button (IDOK by default; 0 leaves it open).
bool box_command(const Args& a) {
    if (a.empty()) return fail("box needs a caption");
    long button = IDOK, timeout = 0;
    if (a.size() > 1 && !parse_id(a[1], button)) return fail("bad button id " + a[1]);
    if (!timeout_arg(a, 2, timeout)) return false;
    HWND box = wait_for_window(a[0], static_cast<int>(timeout), "#32770");
    if (!box) return fail("no message box \"" + a[0] + "\"");
    HWND text = GetDlgItem(box, 0xFFFF);
    print_line(text ? window_text(text) : std::string());
    if (button != 0) {
        HWND b = GetDlgItem(box, static_cast<int>(button));
        if (!b) return fail("message box has no button " + a[1]);
        PostMessageA(b, BM_CLICK, 0, 0);
    }
    return true;
}
DRIVER_COMMAND("box", "box CAPTION [BUTTON_ID] [TIMEOUT_MS]", box_command);

// wait-window TITLE [TIMEOUT_MS]: succeeds once the window is visible.
bool wait_window_command(const Args& a) {
    long timeout = 0;
    if (!title_and_timeout(a, "wait-window needs a title", timeout)) return false;
    if (!wait_for_window(a[0], static_cast<int>(timeout))) return fail("no window \"" + a[0] + "\"");
    return true;
}
DRIVER_COMMAND("wait-window", "wait-window TITLE [TIMEOUT_MS]", wait_window_command);

// wait-gone TITLE [TIMEOUT_MS]: succeeds once no visible window has this title.
bool wait_gone_command(const Args& a) {
    long timeout = 0;
    if (!title_and_timeout(a, "wait-gone needs a title", timeout)) return false;
    const DWORD start = GetTickCount();
    while (wait_for_window(a[0], 0)) {
        if (static_cast<long>(GetTickCount() - start) >= timeout) return fail("the window \"" + a[0] + "\" stays");
        Sleep(50);
    }
    return true;
}
DRIVER_COMMAND("wait-gone", "wait-gone TITLE [TIMEOUT_MS]", wait_gone_command);

// close TITLE [TIMEOUT_MS]: asks the window to close and waits until it is gone.
bool close_command(const Args& a) {
    long timeout = 0;
    if (!title_and_timeout(a, "close TITLE [TIMEOUT_MS]", timeout)) return false;
    HWND top = top_window(a[0]);
    if (!top) return false;
    PostMessageA(top, WM_CLOSE, 0, 0);
    return wait_gone(top, timeout);
}
DRIVER_COMMAND("close", "close TITLE [TIMEOUT_MS]", close_command);

// sleep MS: pauses between steps that need the program to catch up.
bool sleep_command(const Args& a) {
    long ms = 0;
    if (a.size() != 1 || !parse_int(a[0], ms) || ms < 0 || ms > 60000) return fail("sleep needs 0..60000 ms");
    Sleep(static_cast<DWORD>(ms));
    return true;
}
DRIVER_COMMAND("sleep", "sleep MS", sleep_command);

// clock: prints the tick count in milliseconds, to time the steps between.
bool clock_command(const Args& a) {
    if (!a.empty()) return fail("clock takes no arguments");
    print_line(std::to_string(GetTickCount()));
    return true;
}
DRIVER_COMMAND("clock", "clock", clock_command);

double milliseconds_now() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// ping TITLE MS: for MS milliseconds, sends the window WM_NULL every 10 ms
// and waits (at most 30 s) for its answer; prints the longest wait, the
// median and the number of pings ("LONGEST MEDIAN COUNT", milliseconds), so
// a benchmark sees how long the window's thread held its messages.
bool ping_command(const Args& a) {
    long duration = 0;
    if (a.size() != 2 || !parse_int(a[1], duration) || duration < 0 || duration > 600000)
        return fail("ping TITLE MS (0..600000)");
    HWND top = top_window(a[0]);
    if (!top) return false;
    std::vector<double> waits;
    const double start = milliseconds_now();
    while (milliseconds_now() - start < static_cast<double>(duration)) {
        const double sent = milliseconds_now();
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutA(top, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &result))
            return fail("the window did not answer within 30 s");
        waits.push_back(milliseconds_now() - sent);
        Sleep(10);
    }
    if (waits.empty()) return fail("no ping sent");
    std::sort(waits.begin(), waits.end());
    char line[96];
    std::snprintf(line, sizeof line, "%.1f %.1f %zu", waits.back(), waits[waits.size() / 2], waits.size());
    print_line(line);
    return true;
}
DRIVER_COMMAND("ping", "ping TITLE MS", ping_command);

}  // namespace
}  // namespace driver

int main(int argc, char** argv) {
    using namespace driver;
    if (argc < 2) {
        std::fprintf(stderr, "usage: tally_driver COMMAND [ARGS] [; COMMAND [ARGS]]...\ncommands:\n");
        for (const auto& c : registry()) std::fprintf(stderr, "  %s\n", c.second.usage);
        return 2;
    }
    Args words(argv + 1, argv + argc);
    std::size_t i = 0;
    while (i < words.size()) {
        std::size_t j = i;
        while (j < words.size() && words[j] != ";") ++j;
        if (j == i) return fail("empty command"), 2;
        auto it = registry().find(words[i]);
        if (it == registry().end()) return fail("unknown command " + words[i]), 2;
        Args args(words.begin() + static_cast<long>(i) + 1, words.begin() + static_cast<long>(j));
        if (!it->second.fn(args)) return 1;
        i = j + 1;
    }
    return 0;
}
