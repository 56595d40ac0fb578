#include "client/window/TrayIcon_win.h"

#include <shellapi.h>
#include <windowsx.h>

#include "client/window/SystemText_win.h"

namespace ui {
namespace {

constexpr UINT kIconId = 1;
// Identifies our icon across runs, so that one left behind by a run that crashed is
// removed before ours is added.
constexpr GUID kIconGuid = {
    0x6b1f3c2e, 0x8a47, 0x4d0e, {0x9c, 0x51, 0x2f, 0x7a, 0x13, 0xd4, 0x86, 0xb9}};

NOTIFYICONDATAW Identity(HWND window, bool byGuid) {
    NOTIFYICONDATAW data = {};
    data.cbSize = sizeof data;
    data.hWnd = window;
    data.uID = kIconId;
    if (byGuid) {
        data.uFlags = NIF_GUID;
        data.guidItem = kIconGuid;
    }
    return data;
}

} // namespace

TrayIcon::TrayIcon(HWND window, UINT callbackMessage)
    : window_(window), callbackMessage_(callbackMessage) {
    // An icon of an earlier run that ended without removing it.
    NOTIFYICONDATAW stale = Identity(window_, true);
    ::Shell_NotifyIconW(NIM_DELETE, &stale);
}

TrayIcon::~TrayIcon() {
    Remove();
}

bool TrayIcon::Add() {
    for (const bool byGuid : {true, false}) {
        // The system ties an icon's GUID to the program's path; a program moved since an
        // earlier run is refused it and falls back to window and number.
        NOTIFYICONDATAW data = Identity(window_, byGuid);
        data.uFlags |= NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP;
        data.uCallbackMessage = callbackMessage_;
        data.hIcon = icon_;
        lstrcpynW(data.szTip, hint_.c_str(), ARRAYSIZE(data.szTip));
        if (::Shell_NotifyIconW(NIM_ADD, &data)) {
            byGuid_ = byGuid;
            data.uVersion = NOTIFYICON_VERSION_4;
            version4_ = ::Shell_NotifyIconW(NIM_SETVERSION, &data) != FALSE;
            return true;
        }
    }
    return false;
}

void TrayIcon::Show(HICON icon, const std::string& hint) {
    icon_ = icon;
    hint_ = Widen(hint);
    if (shown_) {
        NOTIFYICONDATAW data = Identity(window_, byGuid_);
        data.uFlags |= NIF_ICON | NIF_TIP | NIF_SHOWTIP;
        data.hIcon = icon_;
        lstrcpynW(data.szTip, hint_.c_str(), ARRAYSIZE(data.szTip));
        if (::Shell_NotifyIconW(NIM_MODIFY, &data)) {
            return;
        }
    }
    shown_ = Add();
}

void TrayIcon::Remove() {
    if (!shown_) {
        return;
    }
    NOTIFYICONDATAW data = Identity(window_, byGuid_);
    ::Shell_NotifyIconW(NIM_DELETE, &data);
    shown_ = false;
}

void TrayIcon::Restore() {
    if (shown_ || icon_ != nullptr) {
        shown_ = Add();
    }
}

TrayIcon::Event TrayIcon::Decode(WPARAM wParam, LPARAM lParam) const {
    Event event;
    // The newer format carries the event in the low word and the anchor point in wParam;
    // the older one carries the mouse message itself, and the point is the cursor's.
    const UINT message = version4_ ? LOWORD(lParam) : static_cast<UINT>(lParam);
    if (version4_) {
        event.at = {GET_X_LPARAM(wParam), GET_Y_LPARAM(wParam)};
    } else {
        ::GetCursorPos(&event.at);
    }
    switch (message) {
    case WM_CONTEXTMENU:
    case WM_RBUTTONUP:
        // Version 4 sends WM_CONTEXTMENU for the right button and the menu key alike.
        if (message == WM_CONTEXTMENU || !version4_) {
            event.action = Action::ContextMenu;
        }
        break;
    case NIN_KEYSELECT:
    case WM_LBUTTONDBLCLK:
        event.action = Action::Open;
        break;
    default:
        break;
    }
    return event;
}

} // namespace ui
