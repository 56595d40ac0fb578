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

private:
    static LRESULT CALLBACK ApplicationWindowProc(HWND window, UINT message, WPARAM wParam,
                                                  LPARAM lParam);
    // The tray form as the hidden main window of the normal run mode.
    void RunTrayMonitor();
    // The warning window or the device list as the only window of a helper start.
    void RunHelperWindow(TStartMode mode);
    // The session is really ending: the orderly end at once, before the system ends the
    // process. Runs once.
    void EndSessionNow();

    HINSTANCE instance_;
    HWND applicationWindow_ = nullptr;
    std::unique_ptr<ui::Window> mainWindow_;
    bool sessionEnded_ = false;
};
