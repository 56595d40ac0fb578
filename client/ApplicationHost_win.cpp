#include "client/ApplicationHost_win.h"

#include <commctrl.h>

#include "client/FormTrayWindow_win.h"
#include "client/FormUSBDevicesWindow_win.h"
#include "client/FormUSBWarningWindow_win.h"
#include "client/window/MessageLoop_win.h"

namespace {

Win32ApplicationHost* TheHost(HWND window) {
    return reinterpret_cast<Win32ApplicationHost*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
}

void BindHost(HWND window, LPARAM createParams) {
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(createParams);
    ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
}

} // namespace

void Win32ApplicationHost::Initialize() {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&controls);
    ui::RegisterWindowClass(kApplicationWindowClass, ApplicationWindowProc);
    // Zero-sized and centred: it exists for its caption and taskbar entry only.
    const int x = ::GetSystemMetrics(SM_CXSCREEN) / 2;
    const int y = ::GetSystemMetrics(SM_CYSCREEN) / 2;
    applicationWindow_ =
        ::CreateWindowExA(0, kApplicationWindowClass, "",
                          WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPSIBLINGS, x,
                          y, 0, 0, nullptr, nullptr, instance_, this);
}

void Win32ApplicationHost::SetTitle(const std::string& title) {
    ::SetWindowTextA(applicationWindow_, title.c_str());
}

void Win32ApplicationHost::GiveTaskbarEntryToApplicationWindow() {
    // Main windows are created owned by the application window and without
    // WS_EX_APPWINDOW, so the application window's entry is the only one.
    ::SetWindowLongPtrA(applicationWindow_, GWL_EXSTYLE,
                        ::GetWindowLongPtrA(applicationWindow_, GWL_EXSTYLE) | WS_EX_APPWINDOW);
}

void Win32ApplicationHost::RunMainWindow(TStartMode mode) {
    if (mode == csNormal) {
        RunTrayMonitor();
    } else {
        RunHelperWindow(mode);
    }
}

void Win32ApplicationHost::RunTrayMonitor() {
    auto tray = std::make_unique<FormTrayWindow>(applicationWindow_);
    tray->SetEndsMessageLoop(true);
    tray->SetEndSessionHandler([this] { EndSessionNow(); });
    const bool created = tray->Create();
    mainWindow_ = std::move(tray);
    if (!created) {
        return; // the log has the error line; the process ends as usual
    }
    // Only the application's taskbar entry shows, minimised, until the tray form's
    // start-up timer hides it.
    ::ShowWindow(applicationWindow_, SW_SHOWMINNOACTIVE);
    static_cast<FormTrayWindow&>(*mainWindow_).ShowMinimized();
    ui::RunMessageLoop();
}

void Win32ApplicationHost::RunHelperWindow(TStartMode mode) {
    bool created = false;
    if (mode == cShowWarning) {
        auto warning = std::make_unique<FormUSBWarningWindow>();
        warning->SetEndsMessageLoop(true);
        created = warning->Create(applicationWindow_);
        mainWindow_ = std::move(warning);
    } else {
        // Main window from the start: a close that arrives while the first refresh
        // handles pending messages must end the helper, not merely hide the window.
        auto devices = std::make_unique<FormUSBDevicesWindow>();
        devices->SetEndsMessageLoop(true);
        created = devices->Create(applicationWindow_);
        mainWindow_ = std::move(devices);
    }
    if (!created) {
        return; // the log has the error line; the process ends as usual
    }
    mainWindow_->SetEndSessionHandler([this] { EndSessionNow(); });
    // The taskbar entry first: showing the application window moves the windows it owns
    // along, and Wine then takes their stay-on-top style away.
    ::ShowWindow(applicationWindow_, SW_SHOWNORMAL);
    mainWindow_->SetStayOnTop(true);
    mainWindow_->Show();
    ui::RunMessageLoop();
}

void Win32ApplicationHost::DestroyWindows() {
    mainWindow_.reset();
    if (applicationWindow_ != nullptr) {
        ::DestroyWindow(applicationWindow_);
    }
}

void Win32ApplicationHost::EndSessionNow() {
    // Called from a window procedure, possibly the main window's own: the windows are
    // destroyed (their handlers still run) but their objects stay until the message loop
    // has ended. Then the handler returns: the system ends the process afterwards, and
    // ending it here would keep other programs' end of session waiting.
    if (sessionEnded_) {
        return;
    }
    sessionEnded_ = true;
    try {
        if (mainWindow_ != nullptr) {
            mainWindow_->Destroy();
        }
        if (applicationWindow_ != nullptr) {
            ::DestroyWindow(applicationWindow_);
        }
        ReleaseProcessWideObjects();
    } catch (...) {
        // Nothing may escape a window procedure; the process ends anyway.
    }
}

LRESULT CALLBACK Win32ApplicationHost::ApplicationWindowProc(HWND window, UINT message,
                                                             WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        BindHost(window, lParam);
    }
    Win32ApplicationHost* host = TheHost(window);
    switch (message) {
    case WM_DESTROY:
        if (host != nullptr) {
            host->applicationWindow_ = nullptr;
        }
        break;
    case WM_ENDSESSION:
        if (wParam != FALSE && host != nullptr) {
            host->EndSessionNow();
        }
        return 0;
    case WM_CLOSE:
        // Closing the application window closes the main window, which ends the program.
        if (host != nullptr && host->mainWindow_ != nullptr) {
            ::PostMessageA(host->mainWindow_->Handle(), WM_CLOSE, 0, 0);
        }
        return 0;
    default:
        break;
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}
