// Driver commands for scoutly's end-to-end tests.
#include "driver.h"

#include <vector>

namespace {

// Pixels of a w x h area of a device context as 32-bit colours.
std::vector<unsigned> area_pixels(HDC source, int x, int y, int w, int h) {
    HDC dc = CreateCompatibleDC(source);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    std::vector<unsigned> pixels;
    if (bitmap && bits) {
        HGDIOBJ old = SelectObject(dc, bitmap);
        BitBlt(dc, 0, 0, w, h, source, x, y, SRCCOPY);
        GdiFlush();
        const unsigned* p = static_cast<const unsigned*>(bits);
        pixels.assign(p, p + static_cast<std::size_t>(w) * h);
        SelectObject(dc, old);
    }
    if (bitmap) DeleteObject(bitmap);
    DeleteDC(dc);
    return pixels;
}

// box-icon CAPTION [TIMEOUT_MS]: prints the colour family of a message
// box's icon as it shows on screen: "stop" (mostly red: the stop/error
// icon), "exclamation" (yellow), "blue" (information or question), "other",
// or "none" when the box shows no icon.
bool box_icon_command(const driver::Args& a) {
    if (a.empty()) return driver::fail("box-icon needs a caption");
    long timeout = 10000;
    if (a.size() > 1 && !driver::parse_int(a[1], timeout)) return driver::fail("bad time-out");
    HWND box = driver::wait_for_window(a[0].c_str(), static_cast<int>(timeout), "#32770");
    if (!box) return driver::fail("no message box \"" + a[0] + "\"");
    // The icon's static control: id 20 on Windows, 1088 in Wine's message box.
    HWND icon_control = GetDlgItem(box, 20);
    if (!icon_control) icon_control = GetDlgItem(box, 1088);
    if (!icon_control || !IsWindowVisible(icon_control)) {
        driver::print_line("none");
        return true;
    }
    Sleep(200);  // let the box paint
    // Read from the screen: another process's window surface is not ours to read.
    RECT r;
    GetWindowRect(icon_control, &r);
    HDC dc = GetDC(nullptr);
    std::vector<unsigned> shown = area_pixels(dc, r.left, r.top, r.right - r.left, r.bottom - r.top);
    ReleaseDC(nullptr, dc);
    if (shown.empty()) return driver::fail("cannot read the icon's pixels");
    std::size_t red = 0, yellow = 0, blue = 0;
    for (unsigned p : shown) {
        unsigned rr = (p >> 16) & 0xFF, gg = (p >> 8) & 0xFF, bb = p & 0xFF;
        red += rr > 150 && gg < 100 && bb < 100;
        yellow += rr > 150 && gg > 150 && bb < 100;
        blue += bb > 150 && rr < 100;
    }
    const std::size_t enough = shown.size() / 10;
    const char* name = "other";
    if (red > enough && red > yellow && red > blue) name = "stop";
    else if (yellow > enough && yellow > blue) name = "exclamation";
    else if (blue > enough) name = "blue";
    driver::print_line(name);
    return true;
}
DRIVER_COMMAND("box-icon", "box-icon CAPTION [TIMEOUT_MS]", box_icon_command);

}  // namespace
