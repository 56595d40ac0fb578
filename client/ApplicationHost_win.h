#pragma once
#include <windows.h>

#include <memory>

#include "client/EntrySequence.h"
#include "client/window/Window_win.h"

// The GUI framework of the executable: the application's own top-level window (title and
// taskbar entry), the main window of the run mode, and the message loop.
class Win32ApplicationHost : public ApplicationHost {
public:
    explicit Win32ApplicationHost(HINSTANCE instance) : instance_(instance) {}

    void Initialize() override;
    void SetTitle(const std::string& title) override;
    void GiveTaskbarEntryToApplicationWindow() override;
    void RunMainWindow(TStartMode mode) override;
    void DestroyWindows() override;

    static constexpr const char* kApplicationWindowClass = "DrivewardApplication";
    static constexpr const char* kTrayWindowClass = "TTrayForm";

private:
    static LRESULT CALLBACK ApplicationWindowProc(HWND window, UINT message, WPARAM wParam,
                                                  LPARAM lParam);
    static LRESULT CALLBACK TrayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // The warning window or the device list as the only window of a helper start.
    void RunHelperWindow(TStartMode mode);
    // The session is really ending: leave at once by the orderly path, before Windows
    // ends the process.
    void EndSessionNow();

    HINSTANCE instance_;
    HWND applicationWindow_ = nullptr;
    HWND trayWindow_ = nullptr;
    std::unique_ptr<ui::Window> helperWindow_;
};
