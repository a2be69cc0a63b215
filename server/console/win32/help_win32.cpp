// The help window (dialog 119) with the built-in guide, and the about box
// (dialog 103) with its mail and donation links. Both are modal without an
// owner, so the main window stays usable behind them.
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "server/console/win32/commands.h"
#include "server/console/win32/dialog_host_win32.h"
#include "server/console/win32/dialog_items_win32.h"
#include "server/console/win32/resource.h"
#include "server/console/help_text.h"

namespace tally {

namespace {

// The close box and the end of the session end either window.
INT_PTR end_on_close(HWND window, UINT message) {
    if (message != WM_CLOSE && message != WM_QUERYENDSESSION) return FALSE;
    EndDialog(window, 0);
    return TRUE;
}

// The guide's text, shown whole.
struct HelpWindow {
    std::string text;
};

INT_PTR help_opened(HelpWindow& help, HWND window) {
    set_dlg_text(window, IDC_HELP_TEXT, help.text);
    PostMessageA(GetDlgItem(window, IDC_HELP_TEXT), EM_SETSEL, static_cast<WPARAM>(-1), 0);
    return TRUE;
}

INT_PTR help_message(HelpWindow&, HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_SIZE:
            MoveWindow(GetDlgItem(window, IDC_HELP_TEXT), 0, 0, LOWORD(lparam), HIWORD(lparam), TRUE);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wparam) == IDCANCEL) EndDialog(window, 0);
            return TRUE;
        default:
            return end_on_close(window, message);
    }
}

// The links the about box opens.
struct AboutBox {
    const char* email_link;
    const char* donate_link;
};

INT_PTR about_opened(AboutBox&, HWND) { return TRUE; }

void open_link(HWND owner, const char* link) { ShellExecuteA(owner, "open", link, nullptr, nullptr, SW_HIDE); }

INT_PTR about_message(AboutBox& about, HWND window, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
        case WM_COMMAND:
            switch (LOWORD(wparam)) {
                case IDC_ABOUT_EMAIL: open_link(window, about.email_link); break;
                case IDC_ABOUT_DONATE: open_link(window, about.donate_link); break;
                case IDCANCEL: EndDialog(window, 0); break;
                default: break;
            }
            return TRUE;
        default:
            return end_on_close(window, message);
    }
}

const DialogHandlers<HelpWindow> help_handlers{help_opened, help_message, no_notify<HelpWindow>,
                                               no_close<HelpWindow>};
const DialogHandlers<AboutBox> about_handlers{about_opened, about_message, no_notify<AboutBox>,
                                              no_close<AboutBox>};

}  // namespace

void show_help() {
    HelpWindow help{help_text()};
    DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_HELP), nullptr,
                    dialog_host_proc<HelpWindow, help_handlers>, reinterpret_cast<LPARAM>(&help));
}

void show_about() {
    AboutBox about{about_email_link, about_donate_link};
    DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ABOUT), nullptr,
                    dialog_host_proc<AboutBox, about_handlers>, reinterpret_cast<LPARAM>(&about));
}

}  // namespace tally
