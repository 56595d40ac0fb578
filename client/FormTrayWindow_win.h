#pragma once
#include <memory>

#include "client/FormTray.h"
#include "client/FormUSBDevicesWindow_win.h"
#include "client/window/TrayIcon_win.h"
#include "client/window/Window_win.h"

// The tray monitor on screen: a hidden window off-screen, its notification-area icon and
// menu, its own device list window, and the messages of the session and the devices.
class FormTrayWindow : public ui::Window, private TTrayForm::View {
public:
    static constexpr const char* kClassName = "TTrayForm";
    enum MenuId { kAbout1 = 1, kDevices1 = 2, kExit1 = 3 };

    // The application's own window carries the taskbar entry that start-up hides.
    explicit FormTrayWindow(HWND applicationWindow) : applicationWindow_(applicationWindow) {}
    ~FormTrayWindow() override;

    // Creates the window (hidden), its icon and its device list, and runs the start-up
    // service check.
    bool Create();
    // Shown minimised, as the form is stored; this arms the start-up timer.
    void ShowMinimized();

private:
    static constexpr UINT_PTR kTimerWarn = 1;
    static constexpr UINT_PTR kTimerStartup = 2;
    static constexpr UINT kTrayCallback = WM_APP + 1;

    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnTimer(UINT_PTR id) override;
    void OnCommand(int id, int notification) override;
    void OnDestroy() override;
    void OnTrayIcon(WPARAM wParam, LPARAM lParam);
    void ShowMenu(POINT at);
    HICON IconOf(TTrayForm::TrayLook look);

    // TTrayForm::View
    void SetTimerWarn(bool armed) override;
    void SetTimerStartup(bool armed) override;
    void SetTrayLook(TTrayForm::TrayLook look) override;
    void RemoveTrayIcon() override;
    void ProcessMessages() override;
    TFormUSBDevices& CreateDevicesForm() override;
    void CloseDevicesForm() override;
    bool DevicesFormShowing() override;
    void PrepareDevicesForm() override;
    void BringDevicesFormToFront() override;
    void ShowDevicesFormModal() override;
    TModalResult ShowWarningModal() override;
    void ShowAboutModal() override;
    void BringApplicationToFront() override;
    void HideWindowAndTaskbarEntry() override;
    void Terminate() override;
    bool RegisterSessionNotification() override;
    void UnregisterSessionNotification() override;
    void CreateShutdownBlockReason(const std::string& reason) override;
    void DestroyShutdownBlockReason() override;

    HWND applicationWindow_;
    TTrayForm form_{*this};
    std::unique_ptr<ui::TrayIcon> trayIcon_;
    std::unique_ptr<FormUSBDevicesWindow> devices_;
    HICON applicationIcon_ = nullptr;
    HICON statusIcon_ = nullptr;
    bool menuAttached_ = false;
    UINT taskbarCreated_ = 0;
};
