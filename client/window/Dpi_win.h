#pragma once
#include <windows.h>

namespace ui {

inline constexpr UINT kDefaultDpi = 96;

// The window's DPI through GetDpiForWindow where the system has it (Windows 10 1607 and
// later), else the screen's, else 96.
UINT DpiOf(HWND window);

// A 96-DPI figure at the given DPI.
inline int Scale(int value, UINT dpi) {
    return ::MulDiv(value, static_cast<int>(dpi), static_cast<int>(kDefaultDpi));
}

// The window size for a client area, for the window's styles at the given DPI.
SIZE WindowSizeForClient(HWND window, int clientWidth, int clientHeight, UINT dpi);

} // namespace ui
