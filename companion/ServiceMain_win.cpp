// DrivewardService.exe: a Win32 own-process service that shows Driveward's helper windows
// over a locked session when the tray monitor asks for them.
#include <windows.h>

#include <memory>
#include <mutex>
#include <string>

#include "companion/CompanionServiceUnit.h"
#include "companion/HelperLauncher_win.h"
#include "companion/ServiceSecurity_win.h"
#include "foundation/EventReportUnit.h"
#include "foundation/FunctionsUnit.h"
#include "foundation/LogUnit.h"
#include "foundation/SettingsUnit.h"
#include "platform/windows/SafeDllSearch.h"
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
// An SRW lock rather than std::mutex: the latter brings the POSIX thread layer into the
// service, which has to stay small.
class ServiceLock {
public:
    void lock() { ::AcquireSRWLockExclusive(&lock_); }
    void unlock() { ::ReleaseSRWLockExclusive(&lock_); }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
};
ServiceLock serviceLock;
SERVICE_STATUS_HANDLE statusHandle = nullptr;
platform::windows::UniqueKernelHandle stopRequested;
std::unique_ptr<Win32HelperLauncher> launcher;
std::unique_ptr<TCompanionService> companion;

void Report(DWORD state, DWORD checkPoint, DWORD waitHint, DWORD exitCode = NO_ERROR) {
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted =
        state == SERVICE_RUNNING
            ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_SESSIONCHANGE
            : 0;
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

// The service cannot run: the log has the line, the Event Log the error an administrator
// counts, as when the client cannot start it.
void ReportStartFailure(const SystemFailure& failure) {
    LogFailure(failure);
    ReportToEventLog(platform::EventType::Error, kEventServiceStartFailed,
                     std::string("The service ") + kUSBServiceName + " could not start: " +
                         std::to_string(failure.code) + " - " + failure.call + " failed.");
}

void OpenLog() {
    const std::string logPath = Settings().LogPath();
    Log = std::make_unique<TLog>(kServiceLogSourceName);
    Log->LogPath = logPath;
    // The service runs as SYSTEM: its log keeps every rule of an elevated writer.
    Log->WriterElevated = true;
    // Lines that cannot be written are lost; the Event Log says so, once per reason.
    Log->LinesLost = TLogLossReporter(kServiceLogSourceName);
    Log->AddFmt("Start logging on machine %s.", {ComputerName()});
    Log->Add("Versie: " + GetAppVersion());
}

void CloseLog() {
    Log.reset();
    ReleaseSettings();
}

// Ends the helpers and writes the end lines, once; the stop path and the system's
// shutdown both come here. Called under serviceLock.
void FinishService() {
    if (!companion) {
        return;
    }
    companion->Stopping();
    companion.reset();
    launcher.reset(); // closes the jobs: nothing of ours survives
    Log->Add("Service stopped");
    CloseLog();
}

DWORD HandleControl(DWORD control, DWORD eventType, LPVOID eventData) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
        Report(SERVICE_STOP_PENDING, 1, kStopWaitHintMs);
        ::SetEvent(stopRequested.get());
        return NO_ERROR;
    case SERVICE_CONTROL_SHUTDOWN: {
        // The system ends the process soon after this returns: the helpers end and the
        // end lines are written here, not on ServiceMain's thread.
        Report(SERVICE_STOP_PENDING, 1, kStopWaitHintMs);
        {
            const std::lock_guard<ServiceLock> held(serviceLock);
            FinishService();
        }
        ::SetEvent(stopRequested.get());
        return NO_ERROR;
    }
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    case SERVICE_CONTROL_SESSIONCHANGE: {
        const std::lock_guard<ServiceLock> held(serviceLock);
        if (companion && eventData != nullptr) {
            companion->SessionChanged(
                eventType, static_cast<const WTSSESSION_NOTIFICATION*>(eventData)->dwSessionId);
        }
        return NO_ERROR;
    }
    default: {
        const std::lock_guard<ServiceLock> held(serviceLock);
        if (companion && companion->Control(control)) {
            return NO_ERROR;
        }
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
    }
}

// No exception may leave a function the system calls: it would end the process with
// the helpers' reason still unknown to the log.
DWORD WINAPI Handler(DWORD control, DWORD eventType, LPVOID eventData, LPVOID /*context*/) {
    try {
        return HandleControl(control, eventType, eventData);
    } catch (...) {
        return ERROR_INTERNAL_ERROR;
    }
}

bool RunsOnWindows7() {
    const auto version = platform::CurrentMachine().system->QueryOsVersion();
    return version && version->major == 6 && version->minor == 1;
}

void RunService() {
    {
        // The log first, so that even a failure to reach the manager is written down.
        const std::lock_guard<ServiceLock> held(serviceLock);
        OpenLog();
    }
    statusHandle = ::RegisterServiceCtrlHandlerExA(kUSBServiceName, Handler, nullptr);
    if (statusHandle == nullptr) {
        const std::lock_guard<ServiceLock> held(serviceLock);
        ReportStartFailure(SystemFailure{"RegisterServiceCtrlHandlerEx", ::GetLastError()});
        CloseLog();
        return;
    }
    Report(SERVICE_START_PENDING, 1, kStartWaitHintMs);
    stopRequested.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!stopRequested) {
        const DWORD error = ::GetLastError();
        const std::lock_guard<ServiceLock> held(serviceLock);
        ReportStartFailure(SystemFailure{"CreateEvent", error});
        CloseLog();
        Report(SERVICE_STOPPED, 0, 0, error);
        return;
    }
    {
        const std::lock_guard<ServiceLock> held(serviceLock);
        Report(SERVICE_START_PENDING, 2, kStartWaitHintMs);
        const std::wstring helperPath = HelperPathBesideWide(ModulePathWide());
        launcher = std::make_unique<Win32HelperLauncher>(helperPath);
        companion = std::make_unique<TCompanionService>(
            *launcher, HelperPathBeside(platform::CurrentMachine().system->ModuleFileName()),
            RunsOnWindows7());
        std::string applied;
        std::optional<SystemFailure> failure = RestrictServiceAccess(kUSBServiceName, applied);
        if (!applied.empty()) {
            Log->Add("Access list set: " + applied);
        }
        std::optional<platform::AccessList> access;
        if (!failure) {
            access = ReadServiceAccess(kUSBServiceName, failure);
        }
        if (failure) {
            LogFailure(*failure);
        }
        companion->AccessListChecked(failure ? std::nullopt : access);
        Report(SERVICE_START_PENDING, 3, kStartWaitHintMs);
        Log->Add("Service running, helper " + companion->HelperPath());
    }
    Report(SERVICE_RUNNING, 0, 0);

    // Waits for the manager's stop or shutdown, however long the service runs.
    ::WaitForSingleObject(stopRequested.get(), INFINITE);

    Report(SERVICE_STOP_PENDING, 2, kStopWaitHintMs);
    {
        const std::lock_guard<ServiceLock> held(serviceLock);
        FinishService();
    }
    Report(SERVICE_STOPPED, 0, 0);
}

void WINAPI ServiceMain(DWORD /*argc*/, LPSTR* /*argv*/) {
    try {
        RunService();
    } catch (...) {
        // The helpers still die with the process: their jobs kill them when it ends.
        Report(SERVICE_STOPPED, 0, 0, ERROR_INTERNAL_ERROR);
    }
}

} // namespace

// The parts of the machine the service uses. No storage or device setup: the service
// carries none of the device code, and imports no setupapi.
struct ServiceMachine {
    platform::windows::Win32Clock clock;
    platform::windows::Win32Locale locale;
    platform::windows::Win32Files files;
    platform::windows::Win32SystemFacts system;
    platform::windows::Win32Security security;
    platform::windows::Win32Session session;
    platform::windows::Win32ServiceManager serviceManager;
    platform::windows::Win32EventWriter eventWriter;
    platform::Machine machine{&clock,  &locale, &files,          &system, &security,   &session,
                              nullptr, nullptr, &serviceManager, nullptr, &eventWriter};
};

int main() {
    UseSafeDllSearch();
    static ServiceMachine machine;
    platform::InstallMachine(&machine.machine);
    std::string name = kUSBServiceName; // the table wants a writable text
    const SERVICE_TABLE_ENTRYA table[] = {{name.data(), ServiceMain}, {nullptr, nullptr}};
    // Returns when the service has stopped; fails at once when not started by the manager.
    return ::StartServiceCtrlDispatcherA(table) ? 0 : static_cast<int>(::GetLastError());
}
