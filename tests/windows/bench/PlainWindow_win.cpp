// The yardstick of the start-up and memory benchmarks: the smallest Win32 program with
// one visible, stay-on-top window of its own class, started the same way as Driveward.exe.
// With the parameter "tray" it is the smallest tray program instead: a hidden window and
// one notification-area icon.
#include <windows.h>

#include <shellapi.h>

static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    const bool tray = lstrcmpA(commandLine, "tray") == 0;
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = "PlainWindow";
    ::RegisterClassA(&windowClass);
    const HWND window =
        ::CreateWindowExA(WS_EX_TOPMOST, "PlainWindow", "Plain", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                          CW_USEDEFAULT, 600, 160, nullptr, nullptr, instance, nullptr);
    if (tray) {
        NOTIFYICONDATAA icon = {};
        icon.cbSize = sizeof icon;
        icon.hWnd = window;
        icon.uID = 1;
        icon.uFlags = NIF_ICON | NIF_TIP;
        icon.hIcon = ::LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
        lstrcpyA(icon.szTip, "Plain");
        ::Shell_NotifyIconA(NIM_ADD, &icon);
    } else {
        ::ShowWindow(window, SW_SHOWNORMAL);
    }
    MSG message;
    while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
        ::DispatchMessageA(&message);
    }
    return 0;
}
