// scoutly.exe: the audit client. No window of its own; the command line is
// the text after the program name.
#include "client/win32.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR command_line, int) {
    tally::client::Win32Platform platform;
    tally::client::Win32Probes probes;
    tally::client::Win32UninstallEntries entries;
    return tally::client::run_client(platform, probes, entries, command_line ? command_line : "");
}
