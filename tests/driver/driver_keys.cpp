// A key pressed on a control: posted, so that it passes through the program's
// message loop as a typed key does (dialog keys such as Tab, Enter, Escape).
#include "driver.h"

namespace driver {

// key TITLE PAGE ID VK: posts the key's down and up messages to the control.
bool key_command(const Args& a) {
    long vk = 0;
    HWND target = control_and_number(a, vk, "key TITLE PAGE ID VK");
    if (!target) return false;
    const UINT scan = MapVirtualKeyA(static_cast<UINT>(vk), MAPVK_VK_TO_VSC);
    PostMessageA(target, WM_KEYDOWN, static_cast<WPARAM>(vk), 1 | (static_cast<LPARAM>(scan) << 16));
    PostMessageA(target, WM_KEYUP, static_cast<WPARAM>(vk), 1 | (static_cast<LPARAM>(scan) << 16) | (3L << 30));
    Sleep(100);
    return true;
}
DRIVER_COMMAND("key", "key TITLE PAGE ID VK", key_command);

}  // namespace driver
