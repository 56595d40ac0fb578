// DrivewardService.exe: a Win32 own-process service that shows Driveward's helper windows
// over a locked session when the tray monitor asks for them.
#include <windows.h>

#include <memory>
#include <mutex>
#include <string>

#include "companion/CompanionServiceUnit.h"
#include "companion/HelperLauncher_win.h"
#include "companion/ServiceSecurity_win.h"
#include "foundation/FunctionsUnit.h"
#include "foundation/LogUnit.h"
#include "foundation/SettingsUnit.h"
#include "platform/windows/UniqueHandle.h"
#include "platform/windows/Win32Machine.h"
#include "service/USBServiceUnit.h"

namespace {

// The hint that goes with each pending report. A client sleeps the whole hint before it
// looks again, so it is short: each step here takes milliseconds. A stop that has to end
// helpers takes longer (up to kHelperEndWaitMs); the client keeps polling meanwhile, since
// the checkpoint does not drop.
constexpr DWORD kStartWaitHintMs = 250;
constexpr DWORD kStopWaitHintMs = 250;

// The handler runs on the dispatcher thread and ServiceMain on its own; the log and the
// companion's state are shared, so every use of them holds this lock.
std::mutex serviceLock;
SERVICE_STATUS_HANDLE statusHandle = nullptr;
platform::windows::UniqueKernelHandle stopRequested;
Win32HelperLauncher launcher;
std::unique_ptr<TCompanionService> companion;

void Report(DWORD state, DWORD checkPoint, DWORD waitHint, DWORD exitCode = NO_ERROR) {
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted =
        state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SESSIONCHANGE : 0;
    status.dwWin32ExitCode = exitCode;
    status.dwCheckPoint = checkPoint;
    status.dwWaitHint = waitHint;
    ::SetServiceStatus(statusHandle, &status);
}

void LogFailure(const SystemFailure& failure) {
    ::SetLastError(failure.code);
    Log->Error(std::to_string(failure.code) + " - " + failure.call +
               " failed: " + GetLastErrorText());
}

void OpenLog() {
    const std::string logPath = Settings().LogPath();
    Log = std::make_unique<TLog>(kServiceLogSourceName);
    Log->LogPath = logPath;
    Log->AddFmt("Start logging on machine %s.", {ComputerName()});
    Log->Add("Versie: " + GetAppVersion());
}

void CloseLog() {
    Log.reset();
    ReleaseSettings();
}

DWORD WINAPI Handler(DWORD control, DWORD eventType, LPVOID eventData, LPVOID /*context*/) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
        Report(SERVICE_STOP_PENDING, 1, kStopWaitHintMs);
        ::SetEvent(stopRequested.get());
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    case SERVICE_CONTROL_SESSIONCHANGE: {
        const std::lock_guard<std::mutex> held(serviceLock);
        if (companion && eventData != nullptr) {
            companion->SessionChanged(
                eventType, static_cast<const WTSSESSION_NOTIFICATION*>(eventData)->dwSessionId);
        }
        return NO_ERROR;
    }
    default: {
        const std::lock_guard<std::mutex> held(serviceLock);
        if (companion && companion->Control(control)) {
            return NO_ERROR;
        }
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
    }
}

void WINAPI ServiceMain(DWORD /*argc*/, LPSTR* /*argv*/) {
    {
        // The log first, so that even a failure to reach the manager is written down.
        const std::lock_guard<std::mutex> held(serviceLock);
        OpenLog();
    }
    statusHandle = ::RegisterServiceCtrlHandlerExA(kUSBServiceName, Handler, nullptr);
    if (statusHandle == nullptr) {
        const std::lock_guard<std::mutex> held(serviceLock);
        LogFailure(SystemFailure{"RegisterServiceCtrlHandlerEx", ::GetLastError()});
        CloseLog();
        return;
    }
    Report(SERVICE_START_PENDING, 1, kStartWaitHintMs);
    stopRequested.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!stopRequested) {
        const DWORD error = ::GetLastError();
        const std::lock_guard<std::mutex> held(serviceLock);
        LogFailure(SystemFailure{"CreateEvent", error});
        CloseLog();
        Report(SERVICE_STOPPED, 0, 0, error);
        return;
    }
    {
        const std::lock_guard<std::mutex> held(serviceLock);
        Report(SERVICE_START_PENDING, 2, kStartWaitHintMs);
        if (const auto failure = RestrictServiceAccess(kUSBServiceName)) {
            LogFailure(*failure); // the service still works, with the installer's access
        }
        Report(SERVICE_START_PENDING, 3, kStartWaitHintMs);
        companion = std::make_unique<TCompanionService>(
            launcher, HelperPathBeside(platform::CurrentMachine().system->ModuleFileName()));
        Log->Add("Service running, helper " + companion->HelperPath());
    }
    Report(SERVICE_RUNNING, 0, 0);

    // Waits for the manager's stop, however long the service runs.
    ::WaitForSingleObject(stopRequested.get(), INFINITE);

    Report(SERVICE_STOP_PENDING, 2, kStopWaitHintMs);
    {
        const std::lock_guard<std::mutex> held(serviceLock);
        companion->Stopping();
        companion.reset();
        Log->Add("Service stopped");
        CloseLog();
    }
    Report(SERVICE_STOPPED, 0, 0);
}

} // namespace

int main() {
    static platform::windows::Win32Machine machine;
    platform::InstallMachine(&machine.machine());
    std::string name = kUSBServiceName; // the table wants a writable text
    const SERVICE_TABLE_ENTRYA table[] = {{name.data(), ServiceMain}, {nullptr, nullptr}};
    // Returns when the service has stopped; fails at once when not started by the manager.
    return ::StartServiceCtrlDispatcherA(table) ? 0 : static_cast<int>(::GetLastError());
}
