#include "client/FormTray.h"

#include "foundation/FunctionsUnit.h"
#include "foundation/EventReportUnit.h"
#include "foundation/GetWinVersionInfoUnit.h"
#include "foundation/LogUnit.h"
#include "foundation/SettingsUnit.h"
#include "foundation/TextFormat.h"
#include "service/USBServiceUnit.h"

namespace {

void LogLine(const std::string& text) {
    if (Log != nullptr) {
        Log->Add(text);
    }
}

void DebugLine(const std::string& text) {
    if (Settings().Debug()) {
        LogLine(text);
    }
}

// Runs the action when the scope is left, by return or by exception.
template <typename Action> class Finally {
public:
    explicit Finally(Action action) : action_(action) {}
    ~Finally() { action_(); }
    Finally(const Finally&) = delete;
    Finally& operator=(const Finally&) = delete;

private:
    Action action_;
};

// Stopped or paused after a successful query: the service must be started first.
bool NeedsStart(TServiceState state) {
    return state == ssStopped || state == ssPaused;
}

} // namespace

void TTrayForm::FormCreate() {
    sessionNotificationsRegistered_ = view_.RegisterSessionNotification();
    endSessionRequested_ = false;
    sessionLocked_ = false;
    devicesForm_ = &view_.CreateDevicesForm();
    TMyThread(view_).Execute();
    view_.SetTimerStartup(true);
}

void TTrayForm::TimerStartupTimer() {
    view_.SetTimerStartup(false);
    view_.HideWindowAndTaskbarEntry();
}

bool TTrayForm::CheckPluggedInDevices() {
    devicesForm_->RefreshDevices();
    const auto& copies = devicesForm_->DeviceCopies();
    mediumDrives_.clear();
    for (const auto& device : copies) {
        if (devicesForm_->CountsAsMedium(*device)) {
            mediumDrives_.push_back(device->DriveLetter() + ":");
        }
    }
    if (mediumDrives_.empty()) {
        return false;
    }
    const auto reason = FormatText(kShutdownBlockReasonFormat, {static_cast<int>(copies.size())});
    view_.CreateShutdownBlockReason(reason.value_or(""));
    view_.CloseDevicesForm();
    // A decision still waiting for its tick is the same decision as this one. It must not
    // run in the messages handled here: its list's modal loop would hold this query (or
    // this lock) unanswered, and the session's end would wait on it.
    if (warningPending_) {
        view_.SetTimerWarn(false);
        warningPending_ = false;
    }
    view_.ProcessMessages();
    view_.SetTimerWarn(true);
    warningPending_ = true;
    return true;
}

void TTrayForm::QueryEndSession() {
    LogLine("Log off or shutdown requested.");
    endSessionRequested_ = true;
}

void TTrayForm::DeviceChange(std::uint32_t event) {
    if (event != kDeviceArrival && event != kDeviceRemoveComplete) {
        return;
    }
    devicesForm_->RefreshDevices();
    if (Log != nullptr) {
        Log->AddFmt("Device change - USB remove or insert. New device count = %d",
                    {static_cast<int>(devicesForm_->DeviceCopies().size())});
    }
}

void TTrayForm::SessionChange(std::uint32_t code) {
    if (code == kSessionLock) {
        LogLine("Lock requested.");
        sessionLocked_ = true;
        if (CheckPluggedInDevices()) {
            ReportLockWarningRequested(mediumDrives_);
        }
    } else if (code == kSessionUnlock) {
        LogLine("UnLock requested.");
        sessionLocked_ = false;
        // An upgrade stops the service for a moment: nothing to tell it then, and no error.
        USBService().SendControlCodeIfRunning(kSessionUnlockedControlCode);
    }
}

bool TTrayForm::FormCloseQuery() {
    if (!endSessionRequested_) {
        return true; // a plain close: the main window closes and the program ends
    }
    endSessionRequested_ = false;
    if (!CheckPluggedInDevices()) {
        return true;
    }
    ReportEndSessionRefused(mediumDrives_);
    return false;
}

bool TTrayForm::ShowWarningInSession() {
    return view_.ShowWarningModal() == mrYes;
}

void TTrayForm::TimerWarnTimer() {
    view_.SetTimerWarn(false);
    if (!warningPending_) {
        return; // a tick already queued when its timer was stopped
    }
    warningPending_ = false;
    // A query that arrives while this decision's window is open sets the reason again
    // and arms the next decision, which may even run inside this one's window. The
    // reason belongs to the last of them: it goes when no decision is left running or
    // waiting, so that it stays while any of their windows is shown.
    ++decisionsRunning_;
    Finally done([this] {
        if (--decisionsRunning_ == 0 && !warningPending_) {
            view_.DestroyShutdownBlockReason();
        }
    });
    bool devicesFollow = false;
    if (sessionLocked_) {
        TServiceState state = kServiceStateBeforeQuery;
        bool usable = false;
        if (USBService().QueryState(state)) {
            usable = !NeedsStart(state) || USBService().StartAndWait();
        }
        if (usable) {
            DebugLine("Warning screen from service requested, session locked.");
            // Another session's tray monitor may be stopping the service: a code it cannot
            // take leaves this session with the warning of its own.
            usable = USBService().SendControlCode(kShowWarningControlCode);
        }
        if (!usable) {
            DebugLine("Warning screen shown, session locked.");
            devicesFollow = ShowWarningInSession();
        }
    } else {
        DebugLine("Warning screen shown, session not locked (shutdown or log off requested.");
        if (IsOS_AboveXP()) {
            DebugLine("IsOS_AboveXP");
            Devices1Click();
        } else {
            DebugLine("not IsOS_AboveXP");
            devicesFollow = ShowWarningInSession();
        }
    }
    if (devicesFollow) {
        Devices1Click();
    }
}

void TTrayForm::Devices1Click() {
    view_.BringApplicationToFront();
    view_.PrepareDevicesForm();
    if (view_.DevicesFormShowing()) {
        view_.BringDevicesFormToFront();
    } else {
        view_.ShowDevicesFormModal();
    }
}

void TTrayForm::About1Click() {
    view_.ShowAboutModal();
}

void TTrayForm::FormDestroy() {
    view_.DestroyShutdownBlockReason();
    view_.SetTrayLook(TrayLook::ShuttingDown);
    view_.ProcessMessages();
    // Only where the account may stop the service: a standard account's tray monitor
    // leaves it running (idle, and maybe still needed by another session) and says so
    // once; where the token's facts cannot tell, the manager does.
    if (ProcessTokenFacts().Privileged()) {
        USBService().StopAndWait();
    } else {
        LogLine(kServiceKeepsRunning);
    }
    view_.RemoveTrayIcon();
    if (sessionNotificationsRegistered_) {
        view_.UnregisterSessionNotification();
    }
}

void TMyThread::Execute() {
    // The normal appearance comes back whatever happens, an exception included.
    Finally normal([this] { view_.SetTrayLook(TTrayForm::TrayLook::Normal); });
    TServiceState state = kServiceStateBeforeQuery;
    if (USBService().QueryState(state) && NeedsStart(state)) {
        view_.SetTrayLook(TTrayForm::TrayLook::StartingUp);
        view_.ProcessMessages();
        USBService().StartAndWait();
    }
}
