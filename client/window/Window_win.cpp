#include "client/window/Window_win.h"

#include <set>

#include "client/window/Dpi_win.h"
#include "client/window/ErrorDisplay_win.h"
#include "client/window/MessageLoop_win.h"

namespace ui {
namespace {

constexpr const char* kFontFace = "Tahoma";

// The thread's windows that a modal window disables while it is shown.
BOOL CALLBACK CollectEnabledWindow(HWND window, LPARAM parameter) {
    if (::IsWindowVisible(window) && ::IsWindowEnabled(window)) {
        reinterpret_cast<std::vector<HWND>*>(parameter)->push_back(window);
    }
    return TRUE;
}

} // namespace

bool RegisterWindowClass(const char* className, WNDPROC procedure) {
    static std::set<std::string> registered;
    if (registered.count(className) != 0) {
        return true;
    }
    const HINSTANCE instance = ::GetModuleHandleA(nullptr);
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = ::LoadIconA(instance, "MAINICON");
    windowClass.hIconSm = windowClass.hIcon;
    windowClass.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = className;
    if (::RegisterClassExA(&windowClass) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        LogWindowFailure(std::string("RegisterClassEx failed for ") + className);
        return false;
    }
    registered.insert(className);
    return true;
}

Window::~Window() {
    // Derived windows call Destroy in their own destructor; this is the last resort.
    Destroy();
    ReleaseFonts();
}

bool Window::Create(const char* className, const std::string& caption, DWORD style, DWORD exStyle,
                    HWND owner) {
    if (!RegisterWindowClass(className, Procedure)) {
        return false;
    }
    const HWND window = ::CreateWindowExA(exStyle, className, caption.c_str(), style, 0, 0, 0, 0,
                                          owner, nullptr, ::GetModuleHandleA(nullptr), this);
    if (window == nullptr) {
        LogWindowFailure(std::string("CreateWindowEx failed for ") + className);
        return false;
    }
    dpi_ = DpiOf(window);
    return true;
}

int Window::Scale(int value96) const {
    return ui::Scale(value96, dpi_);
}

HFONT Window::Font(const FontSpec& wanted) {
    auto& font = fonts_[wanted];
    if (font == nullptr) {
        font = ::CreateFontA(-Scale(wanted.pixelHeight), 0, 0, 0, wanted.bold ? FW_BOLD : FW_NORMAL,
                             FALSE, wanted.underline ? TRUE : FALSE, FALSE, DEFAULT_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                             DEFAULT_PITCH | FF_DONTCARE, kFontFace);
    }
    return font;
}

void Window::ReleaseFonts() {
    for (auto& [wanted, font] : fonts_) {
        if (font != nullptr) {
            ::DeleteObject(font);
        }
    }
    fonts_.clear();
}

HWND Window::AddControl(const char* className, const std::string& text, DWORD style, int id,
                        const FontSpec& font) {
    const HWND control = ::CreateWindowExA(
        0, className, text.c_str(), WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, handle_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleA(nullptr), nullptr);
    if (control == nullptr) {
        LogWindowFailure(std::string("CreateWindowEx failed for a ") + className + " control");
        return nullptr;
    }
    ::SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(Font(font)), FALSE);
    controlFonts_.emplace_back(control, font);
    return control;
}

void Window::SetControlFont(HWND control, const FontSpec& font) {
    for (auto& [known, wanted] : controlFonts_) {
        if (known == control) {
            wanted = font;
            ::SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(Font(font)), TRUE);
        }
    }
}

void Window::SetClientSize96(int width, int height) {
    const SIZE size = WindowSizeForClient(handle_, Scale(width), Scale(height), dpi_);
    MONITORINFO monitor = {sizeof monitor, {}, {}, 0};
    ::GetMonitorInfoA(::MonitorFromWindow(handle_, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& area = monitor.rcWork;
    const int left = area.left + (area.right - area.left - size.cx) / 2;
    const int top = area.top + (area.bottom - area.top - size.cy) / 2;
    ::SetWindowPos(handle_, nullptr, left, top, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
    Layout();
}

void Window::Place(HWND control, int left, int top, int width, int height) const {
    ::SetWindowPos(control, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void Window::ApplyDpi(UINT dpi) {
    dpi_ = dpi;
    ReleaseFonts();
    for (const auto& [control, wanted] : controlFonts_) {
        ::SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(Font(wanted)), TRUE);
    }
}

TModalResult Window::ShowModal() {
    std::vector<HWND> disabled;
    ::EnumThreadWindows(::GetCurrentThreadId(), CollectEnabledWindow,
                        reinterpret_cast<LPARAM>(&disabled));
    for (const HWND window : disabled) {
        if (window != handle_) {
            ::EnableWindow(window, FALSE);
        }
    }
    const bool wasModal = modal_;
    modal_ = true;
    modalResult_ = mrNone;
    // Shown again while a modal window above it had disabled it: it is the one to use now.
    ::EnableWindow(handle_, TRUE);
    ::ShowWindow(handle_, SW_SHOWNORMAL);
    BringToFront();
    if (!RunModalLoop()) {
        modalResult_ = mrCancel; // the program is asked to end
    }
    // The other windows come back before this one hides, so that activation returns to
    // them rather than to another program.
    for (const HWND window : disabled) {
        if (window != handle_ && ::IsWindow(window)) {
            ::EnableWindow(window, TRUE);
        }
    }
    if (::IsWindow(handle_)) {
        ::ShowWindow(handle_, SW_HIDE);
    }
    modal_ = wasModal;
    return modalResult_;
}

bool Window::RunModalLoop() {
    // Not GetMessage: a result is often set while a sent message is handled (an
    // end-session query from another process), and a "process messages" call in that
    // handler may take the message posted to wake this loop. GetMessage would then wait
    // for the next posted message, a timer perhaps, and run it inside a loop that has
    // already ended. Peeking handles the sent messages and comes back, so the result is
    // seen at once.
    MSG message;
    while (modalResult_ == mrNone && ::IsWindow(handle_)) {
        if (!::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (modalResult_ == mrNone) {
                ::MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT,
                                              MWMO_INPUTAVAILABLE);
            }
            continue;
        }
        if (message.message == WM_QUIT) {
            // Leave the quit for the main loop.
            ::PostQuitMessage(static_cast<int>(message.wParam));
            return false;
        }
        DispatchMessageOf(message);
    }
    return true;
}

bool Window::FocusFirstControl() {
    HWND target = focus_ != nullptr && ::IsChild(handle_, focus_) && ::IsWindowVisible(focus_) &&
                          ::IsWindowEnabled(focus_)
                      ? focus_
                      : nullptr;
    for (HWND child = ::GetWindow(handle_, GW_CHILD); target == nullptr && child != nullptr;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
        if ((::GetWindowLongA(child, GWL_STYLE) & WS_TABSTOP) != 0 && ::IsWindowVisible(child) &&
            ::IsWindowEnabled(child)) {
            target = child;
        }
    }
    if (target == nullptr) {
        return false;
    }
    ::SetFocus(target);
    return true;
}

bool Window::IsShowing() const {
    return handle_ != nullptr && ::IsWindowVisible(handle_) && !(modal_ && modalResult_ != mrNone);
}

void Window::Show() {
    ::ShowWindow(handle_, SW_SHOWNORMAL);
    BringToFront();
}

void Window::SetModalResult(TModalResult result) {
    modalResult_ = result;
    if (modal_ && result != mrNone) {
        // A result set while handling a sent message (a close from another program) must
        // not wait for the next posted message to end the loop.
        ::PostMessageA(handle_, WM_NULL, 0, 0);
    }
}

void Window::Destroy() {
    if (handle_ != nullptr) {
        ::DestroyWindow(handle_);
    }
}

void Window::Close() {
    ::SendMessageA(handle_, WM_CLOSE, 0, 0);
}

void Window::SetStayOnTop(bool stayOnTop) {
    ::SetWindowPos(handle_, stayOnTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void Window::BringToFront() {
    ::SetForegroundWindow(handle_);
    ::BringWindowToTop(handle_);
}

void Window::SetCaption(const std::string& caption) {
    ::SetWindowTextA(handle_, caption.c_str());
}

std::string Window::Caption() const {
    std::string text(static_cast<std::size_t>(::GetWindowTextLengthA(handle_)) + 1, '\0');
    text.resize(static_cast<std::size_t>(
        ::GetWindowTextA(handle_, text.data(), static_cast<int>(text.size()))));
    return text;
}

void Window::StartTimer(UINT_PTR id, UINT intervalMs) {
    ::SetTimer(handle_, id, intervalMs, nullptr);
}

void Window::StopTimer(UINT_PTR id) {
    ::KillTimer(handle_, id);
}

LRESULT Window::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_TIMER:
        OnTimer(wParam);
        return 0;
    case WM_SIZE:
        Layout();
        break;
    case WM_DPICHANGED: {
        ApplyDpi(HIWORD(wParam));
        const auto* suggested = reinterpret_cast<const RECT*>(lParam);
        ::SetWindowPos(handle_, nullptr, suggested->left, suggested->top,
                       suggested->right - suggested->left, suggested->bottom - suggested->top,
                       SWP_NOZORDER | SWP_NOACTIVATE);
        Layout();
        return 0;
    }
    case WM_ACTIVATE:
        // As a dialog: the keyboard focus goes back to the control that had it, else to
        // the first in tab order, so that Tab, Space and Enter work without a click.
        if (LOWORD(wParam) == WA_INACTIVE) {
            const HWND focus = ::GetFocus();
            if (focus != nullptr && ::IsChild(handle_, focus)) {
                focus_ = focus;
            }
        } else if (HIWORD(wParam) == 0 && FocusFirstControl()) {
            return 0;
        }
        break;
    case DM_GETDEFID: {
        // Enter presses the push button that has the focus; no button is the default.
        const HWND focus = ::GetFocus();
        if (focus != nullptr && ::IsChild(handle_, focus) &&
            (::SendMessageA(focus, WM_GETDLGCODE, 0, 0) & DLGC_UNDEFPUSHBUTTON) != 0) {
            return MAKELRESULT(::GetDlgCtrlID(focus), DC_HASDEFID);
        }
        return 0;
    }
    case WM_CLOSE:
        OnClose();
        if (modal_) {
            if (modalResult_ == mrNone) {
                SetModalResult(mrCancel);
            }
        } else if (endsMessageLoop_) {
            ::DestroyWindow(handle_);
        } else {
            ::ShowWindow(handle_, SW_HIDE);
        }
        return 0;
    case WM_ENDSESSION:
        if (wParam != FALSE && endSession_) {
            endSession_();
        }
        return 0;
    case WM_DESTROY:
        OnDestroy();
        if (endsMessageLoop_) {
            ::PostQuitMessage(0);
        }
        return 0;
    default:
        break;
    }
    return ::DefWindowProcA(handle_, message, wParam, lParam);
}

LRESULT CALLBACK Window::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        self->handle_ = window;
        ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<Window*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self == nullptr) {
        return ::DefWindowProcA(window, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        self->handle_ = nullptr;
        return ::DefWindowProcA(window, message, wParam, lParam);
    }
    LRESULT result = 0;
    bool handled = false;
    Guarded([&] {
        result = self->HandleMessage(message, wParam, lParam);
        handled = true;
    });
    return handled ? result : 0;
}

} // namespace ui
