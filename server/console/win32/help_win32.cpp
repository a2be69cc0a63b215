// The help window (dialog 119) with the built-in guide, and the about box
// (dialog 103) with its mail and donation links. Both are modal without an
// owner, so the main window stays usable behind them.
#include <windows.h>
#include <shellapi.h>

#include "server/console/win32/commands.h"
#include "server/console/win32/dialog_items_win32.h"
#include "server/console/win32/resource.h"
#include "server/console/help_text.h"

namespace tally {

namespace {

INT_PTR CALLBACK help_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_INITDIALOG: {
            set_dlg_text(window, IDC_HELP_TEXT, help_text());
            PostMessageA(GetDlgItem(window, IDC_HELP_TEXT), EM_SETSEL, static_cast<WPARAM>(-1), 0);
            return TRUE;
        }
        case WM_SIZE:
            MoveWindow(GetDlgItem(window, IDC_HELP_TEXT), 0, 0, LOWORD(lparam), HIWORD(lparam), TRUE);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wparam) == IDCANCEL) EndDialog(window, 0);
            return TRUE;
        case WM_CLOSE:
        case WM_QUERYENDSESSION:
            EndDialog(window, 0);
            return TRUE;
        default:
            return FALSE;
    }
}

void open_link(HWND owner, const char* link) { ShellExecuteA(owner, "open", link, nullptr, nullptr, SW_HIDE); }

INT_PTR CALLBACK about_proc(HWND window, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wparam)) {
                case IDC_ABOUT_EMAIL: open_link(window, about_email_link); break;
                case IDC_ABOUT_DONATE: open_link(window, about_donate_link); break;
                case IDCANCEL: EndDialog(window, 0); break;
                default: break;
            }
            return TRUE;
        case WM_CLOSE:
        case WM_QUERYENDSESSION:
            EndDialog(window, 0);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void show_help() {
    DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_HELP), nullptr, help_proc, 0);
}

void show_about() {
    DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ABOUT), nullptr, about_proc, 0);
}

}  // namespace tally
