#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "client/FormUSBDevicesUnit.h"
#include "client/ModalResult.h"

// The tray monitor: the hidden main window of the normal run mode. It decides, when the
// user ends or locks the session, whether USB storage is still plugged in, and how to
// warn; it ties the companion service's lifetime to its own. Every decision lives here;
// the Win32 view carries out what it asks.
class TTrayForm {
public:
    // The notification-area icon's three appearances.
    enum class TrayLook {
        StartingUp,   // status icon, "Starting up", no menu
        Normal,       // the application's icon, "Driveward", the menu
        ShuttingDown, // status icon, "Shutting down", no menu
    };

    class View {
    public:
        virtual ~View() = default;
        virtual void SetTimerWarn(bool armed) = 0;
        virtual void SetTimerStartup(bool armed) = 0;
        virtual void SetTrayLook(TrayLook look) = 0;
        virtual void RemoveTrayIcon() = 0;
        virtual void ProcessMessages() = 0;
        // The tray form's own device list window: created hidden (and closed at once).
        virtual TFormUSBDevices& CreateDevicesForm() = 0;
        virtual void CloseDevicesForm() = 0;
        virtual bool DevicesFormShowing() = 0;
        // Stay-on-top and the normal window state, before it is shown.
        virtual void PrepareDevicesForm() = 0;
        virtual void BringDevicesFormToFront() = 0;
        virtual void ShowDevicesFormModal() = 0;
        // A new warning window without owner, stay-on-top, shown modally and released.
        virtual TModalResult ShowWarningModal() = 0;
        // A new About window without owner, shown modally and released.
        virtual void ShowAboutModal() = 0;
        virtual void BringApplicationToFront() = 0;
        // Hides the tray form and the application's window, and so the taskbar entry.
        virtual void HideWindowAndTaskbarEntry() = 0;
        // Ends the message loop; the tray form is destroyed on the way out.
        virtual void Terminate() = 0;
        virtual bool RegisterSessionNotification() = 0;
        virtual void UnregisterSessionNotification() = 0;
        // The text in the ANSI code page; the view hands it to the system as UTF-16.
        virtual void CreateShutdownBlockReason(const std::string& reason) = 0;
        virtual void DestroyShutdownBlockReason() = 0;
    };

    explicit TTrayForm(View& view) : view_(view) {}
    TTrayForm(const TTrayForm&) = delete;
    TTrayForm& operator=(const TTrayForm&) = delete;

    void FormCreate();
    void FormShow() { view_.SetTimerStartup(true); }
    // Whether the window may close; for an end-session query, whether the session may end.
    bool FormCloseQuery();
    void FormDestroy();

    void TimerStartupTimer();
    void TimerWarnTimer();
    void Devices1Click();
    void TrayIcon1DblClick() { Devices1Click(); }
    void About1Click();
    void Exit1Click() { view_.Terminate(); }

    // The four messages, before their default handling.
    void QueryEndSession();
    void DeviceChange(std::uint32_t event);
    void SessionChange(std::uint32_t code);

    // True when a listed USB drive holds a medium; then the block reason is set, the
    // device list closed and the warning timer armed. MediumDrives() names those drives.
    bool CheckPluggedInDevices();
    const std::vector<std::string>& MediumDrives() const { return mediumDrives_; }

    bool EndSessionRequested() const { return endSessionRequested_; }
    bool SessionLocked() const { return sessionLocked_; }
    bool SessionNotificationsRegistered() const { return sessionNotificationsRegistered_; }
    TFormUSBDevices* DevicesForm() const { return devicesForm_; }

private:
    // The warning window in the session; true when the device list is to follow.
    bool ShowWarningInSession();

    View& view_;
    TFormUSBDevices* devicesForm_ = nullptr;
    bool endSessionRequested_ = false;
    bool sessionLocked_ = false;
    std::vector<std::string> mediumDrives_; // of the last device check, for the Event Log
    bool sessionNotificationsRegistered_ = false;
    bool warningPending_ = false; // TimerWarn armed by a device check
    int decisionsRunning_ = 0;    // warning decisions on the stack, nested ones included
};

// The start-up service check: the body of a thread class that no second thread ever
// runs. The tray form's creation calls it on the GUI thread.
class TMyThread {
public:
    explicit TMyThread(TTrayForm::View& view) : view_(view) {}
    void Execute();

private:
    TTrayForm::View& view_;
};

inline constexpr const char* kTrayHint = "Driveward";
inline constexpr const char* kStartingUpHint = "Starting up";
inline constexpr const char* kShuttingDownHint = "Shutting down";
inline constexpr const char* kShutdownBlockReasonFormat =
    "There are %d USB storage device(s) plugged in.";
inline constexpr unsigned kTimerWarnIntervalMs = 500;
inline constexpr unsigned kTimerStartupIntervalMs = 500;
inline constexpr std::uint32_t kShowWarningControlCode = 133;
inline constexpr std::uint32_t kSessionUnlockedControlCode = 135;
inline constexpr std::uint32_t kSessionLock = 7;   // WTS_SESSION_LOCK
inline constexpr std::uint32_t kSessionUnlock = 8; // WTS_SESSION_UNLOCK
