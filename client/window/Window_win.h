#pragma once
#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "client/ModalResult.h"

namespace ui {

// A font by its character height in pixels at 96 DPI, scaled to the window's DPI.
struct FontSpec {
    int pixelHeight = 11;
    bool bold = false;
    bool underline = false;
    auto operator<=>(const FontSpec&) const = default;
};

// Registers a window class of the program (its icon, the arrow, the button-face
// background) once per process. A failure writes an error line and returns false.
bool RegisterWindowClass(const char* className, WNDPROC procedure);

// A top-level window as a C++ object, bound to its handle in WM_NCCREATE. Derived windows
// handle the messages they care about and pass the rest to this class, which gives them
// modal showing, timers, stay-on-top, layout at the window's DPI and the exception
// boundary: no exception ever leaves its window procedure.
class Window {
public:
    Window() = default;
    virtual ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    HWND Handle() const { return handle_; }
    // Destroys the window while the object is whole, so that its own handlers still run.
    void Destroy();
    // What the window does when the session really ends (the main window's host sets it).
    void SetEndSessionHandler(std::function<void()> handler) { endSession_ = std::move(handler); }

    // Registers the class (once per process) and creates the window hidden, owned by
    // `owner`. A failure writes an error line with the system's code and returns false.
    bool Create(const char* className, const std::string& caption, DWORD style, DWORD exStyle,
                HWND owner);

    // The main window of a helper start: its destruction ends the message loop.
    void SetEndsMessageLoop(bool ends) { endsMessageLoop_ = ends; }

    // Disables the thread's other visible windows, shows this one and runs a nested
    // message loop until a modal result is set or the window closes; hides the window
    // again and returns the result (Cancel when it was closed). Nests: a modal window
    // may open another.
    TModalResult ShowModal();
    void Show();
    // As the title bar's close box: in a modal showing the result becomes Cancel (unless
    // one is set) and the window hides; a main window is destroyed; another hides.
    void Close();
    // Ends a modal showing once the current message has been handled.
    void SetModalResult(TModalResult result);
    bool IsModal() const { return modal_; }
    // Visible, and not closing: a modal showing whose result is set is on its way out.
    bool IsShowing() const;

    void SetStayOnTop(bool stayOnTop);
    void BringToFront();
    void SetCaption(const std::string& caption);
    std::string Caption() const;

    void StartTimer(UINT_PTR id, UINT intervalMs);
    void StopTimer(UINT_PTR id);

    UINT Dpi() const { return dpi_; }
    int Scale(int value96) const;

protected:
    // A child control, created at zero size; Layout places it. Its font follows the
    // window's DPI.
    HWND AddControl(const char* className, const std::string& text, DWORD style, int id,
                    const FontSpec& font);
    // Sizes the window for a client area given at 96 DPI, centres it on its monitor's
    // work area, and lays it out. Called once the controls exist.
    void SetClientSize96(int width, int height);
    void Place(HWND control, int left, int top, int width, int height) const; // in pixels
    // Gives a control of this window another font, kept across DPI changes.
    void SetControlFont(HWND control, const FontSpec& font);
    HFONT Font(const FontSpec& wanted);

    virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // Places the controls for the current client size and DPI.
    virtual void Layout() {}
    virtual void OnTimer(UINT_PTR /*id*/) {}
    virtual void OnCommand(int /*id*/, int /*notification*/) {}
    // Called on WM_CLOSE before the window closes.
    virtual void OnClose() {}
    virtual void OnDestroy() {}

private:
    // The nested loop of a modal showing; false when a quit message ended it.
    bool RunModalLoop();
    // Gives the keyboard focus to the control that last had it, else to the first tab
    // stop; false when there is none.
    bool FocusFirstControl();
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void ApplyDpi(UINT dpi);
    void ReleaseFonts();

    HWND handle_ = nullptr;
    HWND focus_ = nullptr; // the control that had the focus when the window was left
    UINT dpi_ = 96;
    bool modal_ = false;
    bool endsMessageLoop_ = false;
    TModalResult modalResult_ = mrNone;
    std::vector<std::pair<HWND, FontSpec>> controlFonts_;
    std::map<FontSpec, HFONT> fonts_;
    std::function<void()> endSession_;
};

} // namespace ui
