#include "client/FormTrayWindow_win.h"

#include <vector>

#include "client/FormAboutWindow_win.h"
#include "client/FormUSBWarningWindow_win.h"
#include "client/window/Dpi_win.h"
#include "client/window/ErrorDisplay_win.h"
#include "client/window/MessageLoop_win.h"
#include "client/window/SystemText_win.h"
#include "foundation/GetWinVersionInfoUnit.h"

namespace {

constexpr int kClientWidth = 343;
constexpr int kClientHeight = 45;
constexpr int kLeft = -400; // off-screen: the window is never meant to be seen
constexpr std::uint32_t kNotifyForThisSession = 0;
constexpr DWORD kMessageFilterAllow = 1; // MSGFLT_ALLOW

// The small-icon size at the given DPI, where the system can tell it per DPI.
int SmallIconSize(UINT dpi) {
    using ForDpi = int(WINAPI*)(int, UINT);
    static const auto forDpi = ui::User32Function<ForDpi>("GetSystemMetricsForDpi");
    return forDpi != nullptr ? forDpi(SM_CXSMICON, dpi) : ::GetSystemMetrics(SM_CXSMICON);
}

// An administrator's tray monitor runs elevated; Explorer does not. Its "TaskbarCreated" broadcast must be
// let through the message filter to reach us.
void AllowMessageFromExplorer(HWND window, UINT message) {
    using FilterEx = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
    static const auto filterEx = ui::User32Function<FilterEx>("ChangeWindowMessageFilterEx");
    if (filterEx != nullptr) {
        filterEx(window, message, kMessageFilterAllow, nullptr);
    }
}

} // namespace

FormTrayWindow::~FormTrayWindow() {
    Destroy();
    for (const HICON icon : {applicationIcon_, statusIcon_}) {
        if (icon != nullptr) {
            ::DestroyIcon(icon);
        }
    }
}

bool FormTrayWindow::Create() {
    if (!Window::Create(kClassName, kTrayHint,
                        WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, 0,
                        applicationWindow_)) {
        return false;
    }
    const SIZE size =
        ui::WindowSizeForClient(Handle(), Scale(kClientWidth), Scale(kClientHeight), Dpi());
    ::SetWindowPos(Handle(), nullptr, kLeft, 0, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
    taskbarCreated_ = ::RegisterWindowMessageA("TaskbarCreated");
    AllowMessageFromExplorer(Handle(), taskbarCreated_);
    trayIcon_ = std::make_unique<ui::TrayIcon>(Handle(), kTrayCallback);
    // Visible from creation; the start-up check gives it its first real appearance.
    SetTrayLook(TTrayForm::TrayLook::Normal);
    ui::Guarded([this] { form_.FormCreate(); });
    return true;
}

void FormTrayWindow::ShowMinimized() {
    ::ShowWindow(Handle(), SW_SHOWMINNOACTIVE);
}

LRESULT FormTrayWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kTrayCallback) {
        OnTrayIcon(wParam, lParam);
        return 0;
    }
    if (taskbarCreated_ != 0 && message == taskbarCreated_) {
        trayIcon_->Restore();
        return 0;
    }
    switch (message) {
    case WM_QUERYENDSESSION:
        form_.QueryEndSession();
        // The answer is the close query's: the session ends only without a medium.
        return form_.FormCloseQuery() ? TRUE : FALSE;
    case WM_CLOSE:
        if (!form_.FormCloseQuery()) {
            return 0;
        }
        break;
    case WM_DEVICECHANGE:
        form_.DeviceChange(static_cast<std::uint32_t>(wParam));
        break; // then the default handling
    case WM_WTSSESSION_CHANGE:
        form_.SessionChange(static_cast<std::uint32_t>(wParam));
        break;
    case WM_SHOWWINDOW:
        if (wParam != FALSE) {
            form_.FormShow();
        }
        break;
    default:
        break;
    }
    return Window::HandleMessage(message, wParam, lParam);
}

void FormTrayWindow::OnTrayIcon(WPARAM wParam, LPARAM lParam) {
    const ui::TrayIcon::Event event = trayIcon_->Decode(wParam, lParam);
    if (event.action == ui::TrayIcon::Action::ContextMenu) {
        ShowMenu(event.at);
    } else if (event.action == ui::TrayIcon::Action::Open && menuAttached_) {
        form_.TrayIcon1DblClick();
    }
}

void FormTrayWindow::ShowMenu(POINT at) {
    if (!menuAttached_) {
        return; // "Starting up" and "Shutting down" have no menu
    }
    const HMENU menu = ::CreatePopupMenu();
    if (menu == nullptr) {
        return;
    }
    ::AppendMenuA(menu, MF_STRING, kAbout1, "About");
    ::AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuA(menu, MF_STRING, kDevices1, "Devices");
    ::AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuA(menu, MF_STRING, kExit1, "Exit");
    ::SetMenuDefaultItem(menu, kDevices1, FALSE); // drawn bold
    // The menu closes when the user clicks elsewhere only if its window is in front.
    ::SetForegroundWindow(Handle());
    const int chosen = static_cast<int>(::TrackPopupMenu(
        menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at.x, at.y, 0, Handle(), nullptr));
    ::PostMessageA(Handle(), WM_NULL, 0, 0);
    ::DestroyMenu(menu);
    if (chosen != 0) {
        OnCommand(chosen, 0);
    }
}

void FormTrayWindow::OnCommand(int id, int /*notification*/) {
    switch (id) {
    case kAbout1:
        form_.About1Click();
        break;
    case kDevices1:
        form_.Devices1Click();
        break;
    case kExit1:
        form_.Exit1Click();
        break;
    default:
        break;
    }
}

void FormTrayWindow::OnTimer(UINT_PTR id) {
    if (id == kTimerWarn) {
        form_.TimerWarnTimer();
    } else if (id == kTimerStartup) {
        form_.TimerStartupTimer();
    }
}

void FormTrayWindow::OnDestroy() {
    form_.FormDestroy();
    // The device list is owned by the tray form and its window goes with it. The object
    // stays until ours goes: when the session ends while the list is shown, its modal
    // loop is still on the stack below this handler.
    if (devices_ != nullptr) {
        devices_->Destroy();
    }
}

HICON FormTrayWindow::IconOf(TTrayForm::TrayLook look) {
    HICON& icon = look == TTrayForm::TrayLook::Normal ? applicationIcon_ : statusIcon_;
    if (icon == nullptr) {
        const int size = SmallIconSize(Dpi());
        icon = static_cast<HICON>(
            ::LoadImageA(::GetModuleHandleA(nullptr),
                         look == TTrayForm::TrayLook::Normal ? "MAINICON" : "STATUSICON",
                         IMAGE_ICON, size, size, 0));
    }
    return icon;
}

void FormTrayWindow::SetTrayLook(TTrayForm::TrayLook look) {
    const char* hint = look == TTrayForm::TrayLook::Normal       ? kTrayHint
                       : look == TTrayForm::TrayLook::StartingUp ? kStartingUpHint
                                                                 : kShuttingDownHint;
    menuAttached_ = look == TTrayForm::TrayLook::Normal;
    trayIcon_->Show(IconOf(look), hint);
}

void FormTrayWindow::RemoveTrayIcon() {
    trayIcon_->Remove();
}

void FormTrayWindow::SetTimerWarn(bool armed) {
    armed ? StartTimer(kTimerWarn, kTimerWarnIntervalMs) : StopTimer(kTimerWarn);
}

void FormTrayWindow::SetTimerStartup(bool armed) {
    armed ? StartTimer(kTimerStartup, kTimerStartupIntervalMs) : StopTimer(kTimerStartup);
}

void FormTrayWindow::ProcessMessages() {
    ui::ProcessMessages();
}

TFormUSBDevices& FormTrayWindow::CreateDevicesForm() {
    devices_ = std::make_unique<FormUSBDevicesWindow>();
    if (devices_->Create(Handle())) {
        devices_->ui::Window::Close(); // hidden until the Devices action
    }
    return devices_->Form();
}

void FormTrayWindow::CloseDevicesForm() {
    if (devices_ != nullptr && devices_->Handle() != nullptr) {
        devices_->ui::Window::Close();
    }
}

bool FormTrayWindow::DevicesFormShowing() {
    // A list whose modal showing is ending (an end-session query closed it) no longer
    // counts: the next Devices action shows it again rather than bring it to the front.
    return devices_ != nullptr && devices_->IsShowing();
}

void FormTrayWindow::PrepareDevicesForm() {
    // Stay-on-top so that it comes up over the other windows; the list itself drops the
    // style once it is shown. Its normal state comes with the showing.
    devices_->ui::Window::SetStayOnTop(true);
}

void FormTrayWindow::BringDevicesFormToFront() {
    if (::IsIconic(devices_->Handle())) {
        ::ShowWindow(devices_->Handle(), SW_RESTORE);
    }
    devices_->BringToFront();
}

void FormTrayWindow::ShowDevicesFormModal() {
    devices_->ShowModal();
}

TModalResult FormTrayWindow::ShowWarningModal() {
    FormUSBWarningWindow warning;
    if (!warning.Create(nullptr)) {
        return mrCancel; // the log has the error
    }
    BringApplicationToFront();
    warning.SetStayOnTop(true);
    return warning.ShowModal();
}

void FormTrayWindow::ShowAboutModal() {
    FormAboutWindow::Open(nullptr);
}

void FormTrayWindow::BringApplicationToFront() {
    // The application has no visible window of its own; its newest window comes first.
    const HWND last = ::GetLastActivePopup(applicationWindow_);
    if (last != nullptr && ::IsWindowVisible(last)) {
        ::SetForegroundWindow(last);
    }
}

void FormTrayWindow::HideWindowAndTaskbarEntry() {
    ::ShowWindow(Handle(), SW_HIDE);
    ::ShowWindow(applicationWindow_, SW_HIDE);
}

void FormTrayWindow::Terminate() {
    ::PostQuitMessage(0);
}

bool FormTrayWindow::RegisterSessionNotification() {
    return DynWTSRegisterSessionNotification(Handle(), kNotifyForThisSession);
}

void FormTrayWindow::UnregisterSessionNotification() {
    DynWTSUnRegisterSessionNotification(Handle());
}

void FormTrayWindow::CreateShutdownBlockReason(const std::string& reason) {
    // From the ANSI code page into a buffer of (length + 1) wide characters.
    std::vector<wchar_t> wide(reason.size() + 1, L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, reason.data(), static_cast<int>(reason.size()), wide.data(),
                          static_cast<int>(wide.size()));
    DynShutdownBlockReasonCreate(Handle(), wide.data());
}

void FormTrayWindow::DestroyShutdownBlockReason() {
    DynShutdownBlockReasonDestroy(Handle());
}
