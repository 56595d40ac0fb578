#include "client/FormUSBWarningWindow_win.h"

#include <algorithm>

namespace {
// The system's stock warning icon (OIC_WARNING), drawn at the picture's scaled size.
constexpr WORD kStockWarningIcon = 32515;
constexpr int kClientWidth = 595; // at 96 DPI, as all figures here
constexpr int kClientHeight = 123;
constexpr RECT kImage1 = {8, 18, 8 + 113, 18 + 97};
constexpr RECT kLabel1 = {136, 16, 136 + 356, 16 + 87};
} // namespace

FormUSBWarningWindow::~FormUSBWarningWindow() {
    Destroy();
}

bool FormUSBWarningWindow::Create(HWND owner) {
    if (!Window::Create(kClassName, kWarningCaption, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, 0,
                        owner)) {
        return false;
    }
    label1_ = AddControl("STATIC", kWarningText, SS_LEFT, 0, {24});
    // Tab order follows creation: Close first, then Devices. Neither is the default.
    button1_ = AddControl("BUTTON", kWarningCloseCaption, BS_PUSHBUTTON | WS_TABSTOP, kButton1, {});
    buttonDevices_ = AddControl("BUTTON", kWarningDevicesCaption, BS_PUSHBUTTON | WS_TABSTOP,
                                kButtonDevices, {});
    SetClientSize96(kClientWidth, kClientHeight + TextOverflow96());
    form_.FormCreate();
    return true;
}

int FormUSBWarningWindow::TextOverflow96() {
    // With Tahoma the text takes three lines of the label. A substitute font with wider
    // letters (Wine's own Tahoma is one) needs a fourth: the window then grows by what
    // is missing rather than cut off the end of the message.
    const HDC dc = ::GetDC(Handle());
    if (dc == nullptr) {
        return 0;
    }
    const HGDIOBJ previous = ::SelectObject(dc, Font({24}));
    RECT needed = {0, 0, Scale(kLabel1.right - kLabel1.left), 0};
    ::DrawTextA(dc, kWarningText, -1, &needed, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    ::SelectObject(dc, previous);
    ::ReleaseDC(Handle(), dc);
    const int needed96 = ::MulDiv(needed.bottom, 96, static_cast<int>(Dpi())) + 1;
    return std::max(0, needed96 - static_cast<int>(kLabel1.bottom - kLabel1.top));
}

void FormUSBWarningWindow::Layout() {
    RECT client;
    ::GetClientRect(Handle(), &client);
    // The label takes what the window has grown by (see TextOverflow96).
    const int growth = std::max(0, static_cast<int>(client.bottom - Scale(kClientHeight)));
    Place(label1_, Scale(kLabel1.left), Scale(kLabel1.top), Scale(kLabel1.right - kLabel1.left),
          Scale(kLabel1.bottom - kLabel1.top) + growth);
    Place(button1_, Scale(504), Scale(16), Scale(75), Scale(25));
    Place(buttonDevices_, Scale(504), Scale(47), Scale(75), Scale(25));
    ::InvalidateRect(Handle(), nullptr, TRUE);
}

LRESULT FormUSBWarningWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        PAINTSTRUCT paint;
        const HDC dc = ::BeginPaint(Handle(), &paint);
        PaintPicture(dc);
        ::EndPaint(Handle(), &paint);
        return 0;
    }
    return Window::HandleMessage(message, wParam, lParam);
}

void FormUSBWarningWindow::PaintPicture(HDC dc) {
    const int width = Scale(kImage1.right - kImage1.left);
    const int height = Scale(kImage1.bottom - kImage1.top);
    const int side = std::min(width, height); // the icon is square: keep its proportions
    const auto icon = static_cast<HICON>(
        ::LoadImageA(nullptr, MAKEINTRESOURCEA(kStockWarningIcon), IMAGE_ICON, side, side, 0));
    if (icon == nullptr) {
        return;
    }
    ::DrawIconEx(dc, Scale(kImage1.left) + (width - side) / 2,
                 Scale(kImage1.top) + (height - side) / 2, icon, side, side, 0, nullptr, DI_NORMAL);
    ::DestroyIcon(icon);
}

void FormUSBWarningWindow::OnTimer(UINT_PTR id) {
    if (id == kTimerBeep) {
        form_.TimerBeepTimer();
    }
}

void FormUSBWarningWindow::OnCommand(int id, int notification) {
    if (notification != BN_CLICKED) {
        return;
    }
    if (id == kButton1) {
        form_.Button1Click();
    } else if (id == kButtonDevices) {
        form_.ButtonDevicesClick();
    }
}

void FormUSBWarningWindow::FlashCaption() {
    ::FlashWindow(Handle(), TRUE);
}

void FormUSBWarningWindow::SetBeepTimerEnabled(bool enabled) {
    if (enabled) {
        StartTimer(kTimerBeep, kTimerBeepIntervalMs);
    } else {
        StopTimer(kTimerBeep);
    }
}

void FormUSBWarningWindow::Beep(std::uint32_t frequencyHz, std::uint32_t durationMs) {
    ::Beep(frequencyHz, durationMs);
}
