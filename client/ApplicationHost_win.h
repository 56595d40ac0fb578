#pragma once
#include <windows.h>

#include "client/EntrySequence.h"

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
    static constexpr const char* kWarningWindowClass = "TFormUSBWarning";
    static constexpr const char* kDevicesWindowClass = "TFormUSBDevices";

private:
    static LRESULT CALLBACK ApplicationWindowProc(HWND window, UINT message, WPARAM wParam,
                                                  LPARAM lParam);
    static LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // The session is really ending: leave at once by the orderly path, before Windows
    // ends the process.
    void EndSessionNow();

    HINSTANCE instance_;
    HWND applicationWindow_ = nullptr;
    HWND mainWindow_ = nullptr;
};
