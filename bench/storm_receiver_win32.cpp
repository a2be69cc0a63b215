// The baseline receiver of the log-in storm benchmark (bench/storm.sh): a
// dialog with a UDP socket that the socket library notifies by window
// message, as tallyhall's main window is, whose handler only receives one
// datagram and counts it. What it takes at a given rate is what the platform
// allows a one-threaded dialog program.
//
//   storm_receiver.exe PORT OUTFILE IDLE_SECONDS MAX_SECONDS
// Ends IDLE_SECONDS after the last datagram (or MAX_SECONDS after start) and
// writes "COUNT FIRST_TO_LAST_MS" to OUTFILE.
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr UINT socket_message = WM_USER + 1;
constexpr UINT_PTR tick_timer = 1;
// The same receive buffer as tallyhall's listening socket.
constexpr int receive_buffer_bytes = 4 * 1024 * 1024;

struct Receiver {
    unsigned short port = 0;
    const char* out_path = nullptr;
    DWORD idle_ms = 3000;
    DWORD max_ms = 120000;
    SOCKET socket = INVALID_SOCKET;
    long count = 0;
    DWORD started = 0, first = 0, last = 0;
    char buffer[2048];
};

Receiver receiver;

void write_result() {
    if (FILE* f = std::fopen(receiver.out_path, "w")) {
        std::fprintf(f, "%ld %lu\n", receiver.count, receiver.count ? receiver.last - receiver.first : 0ul);
        std::fclose(f);
    }
}

INT_PTR CALLBACK receiver_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG: {
            receiver.started = GetTickCount();
            receiver.socket = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
            sockaddr_in sa{};
            sa.sin_family = AF_INET;
            sa.sin_port = htons(receiver.port);
            if (receiver.socket == INVALID_SOCKET ||
                bind(receiver.socket, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
                EndDialog(hwnd, 1);
                return TRUE;
            }
            setsockopt(receiver.socket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receive_buffer_bytes),
                       sizeof receive_buffer_bytes);
            WSAAsyncSelect(receiver.socket, hwnd, socket_message, FD_READ);
            SetTimer(hwnd, tick_timer, 250, nullptr);
            return TRUE;
        }
        case socket_message: {
            if (wparam != static_cast<WPARAM>(receiver.socket)) return FALSE;
            sockaddr_in from{};
            int from_len = sizeof from;
            if (recvfrom(receiver.socket, receiver.buffer, sizeof receiver.buffer, 0,
                         reinterpret_cast<sockaddr*>(&from), &from_len) != SOCKET_ERROR) {
                receiver.last = GetTickCount();
                if (receiver.count++ == 0) receiver.first = receiver.last;
            }
            return TRUE;
        }
        case WM_TIMER: {
            const DWORD now = GetTickCount();
            if ((receiver.count > 0 && now - receiver.last >= receiver.idle_ms) || now - receiver.started >= receiver.max_ms)
                EndDialog(hwnd, 0);
            return TRUE;
        }
        case WM_CLOSE:
            EndDialog(hwnd, 0);
            return TRUE;
        default:
            return FALSE;
    }
}

// An empty, invisible dialog: DLGTEMPLATE followed by no menu, the default
// class and an empty title.
struct EmptyDialog {
    DLGTEMPLATE header;
    WORD menu, window_class, title;
};

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    if (__argc != 5) return 2;
    receiver.port = static_cast<unsigned short>(std::atoi(__argv[1]));
    receiver.out_path = __argv[2];
    receiver.idle_ms = static_cast<DWORD>(std::atoi(__argv[3])) * 1000;
    receiver.max_ms = static_cast<DWORD>(std::atoi(__argv[4])) * 1000;
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 0), &data) != 0) return 1;
    EmptyDialog dialog{};
    dialog.header.style = WS_POPUP | WS_CAPTION | WS_VISIBLE;
    dialog.header.cx = 100;
    dialog.header.cy = 40;
    const INT_PTR result = DialogBoxIndirectParamA(instance, &dialog.header, nullptr, receiver_proc, 0);
    write_result();
    if (receiver.socket != INVALID_SOCKET) closesocket(receiver.socket);
    WSACleanup();
    return static_cast<int>(result);
}
