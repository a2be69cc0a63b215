// The one prologue of tallyhall's dialogs: the dialog's state travels in
// DialogBoxParam's or CreateDialogParam's parameter and GWLP_USERDATA, a
// notification's result goes through DWLP_MSGRESULT, and WM_NCDESTROY lets go
// of the state. Each dialog gives only its handlers.
#pragma once

#include <windows.h>

namespace tally {

template <typename State>
struct DialogHandlers {
    INT_PTR (*init)(State&, HWND);  // WM_INITDIALOG; its result
    // Every later message but WM_NOTIFY and WM_NCDESTROY.
    INT_PTR (*message)(State&, HWND, UINT, WPARAM, LPARAM);
    INT_PTR (*notify)(State&, NMHDR*);  // WM_NOTIFY, answered 0 through DWLP_MSGRESULT
    void (*closed)(State&, HWND);       // WM_NCDESTROY, the state let go
};

// Handlers for what a dialog leaves to the dialog manager.
template <typename State>
INT_PTR no_notify(State&, NMHDR*) {
    return FALSE;
}
template <typename State>
void no_close(State&, HWND) {}

template <typename State, const DialogHandlers<State>& handlers>
INT_PTR CALLBACK dialog_host_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(dialog, GWLP_USERDATA, lparam);
        return handlers.init(*reinterpret_cast<State*>(lparam), dialog);
    }
    auto* state = reinterpret_cast<State*>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
    if (!state) return FALSE;  // messages before WM_INITDIALOG or after WM_NCDESTROY
    switch (message) {
        case WM_NOTIFY: {
            const INT_PTR result = handlers.notify(*state, reinterpret_cast<NMHDR*>(lparam));
            SetWindowLongPtrA(dialog, DWLP_MSGRESULT, 0);
            return result;
        }
        case WM_NCDESTROY:
            SetWindowLongPtrA(dialog, GWLP_USERDATA, 0);
            handlers.closed(*state, dialog);
            return FALSE;
        default: return handlers.message(*state, dialog, message, wparam, lparam);
    }
}

}  // namespace tally
