#pragma once
#include <cstdint>
#include <string>

// The service states QueryState reports; the ordinals are fixed (callers compare against
// ssStopped and ssPaused).
enum TServiceState {
    ssStopped,
    ssStartPending,
    ssStopPending,
    ssRunning,
    ssContinuePending,
    ssPausePending,
    ssPaused
};

// What a caller's state variable holds before QueryState, which leaves it unchanged when
// the manager reports a state outside 1..7. Stopped sends the caller down the path that
// tries a start and, when that fails, shows the client's own warning: an unreadable state
// never leads to a warning sent to a service that may not be there.
inline constexpr TServiceState kServiceStateBeforeQuery = ssStopped;

// How long StartAndWait and StopAndWait wait at most for the service to get where it was
// sent. They block the GUI thread, at the tray monitor's start-up and at its exit (also
// while a session ends), so the bound is short; a healthy service needs well under it.
inline constexpr std::uint32_t kServiceWaitBoundMs = 30000;

// A wait hint below this is slept as this: a service that reports no hint (or one that
// has settled in another state) is polled, not spun on.
inline constexpr std::uint32_t kServicePollFloorMs = 10;

inline constexpr const char* kUSBServiceName = "DrivewardService";

inline constexpr const char* kOpenSCManagerFailed = "StartService OpenSCManager failed: ";
inline constexpr const char* kOpenServiceFailed = "StartService OpenService failed: ";
inline constexpr const char* kControlServiceFailed = "ControlService failed: ";
inline constexpr const char* kQueryServiceStatusFailed = "QueryServiceStatus failed: ";
inline constexpr const char* kStartServiceFailed = "StartService failed: ";
// The error line of a wait that ran out of its bound: this, the bound, the last state and
// checkpoint, then the text of ERROR_SERVICE_REQUEST_TIMEOUT (1053).
inline constexpr const char* kServiceWaitTimedOut = "Waiting for the service timed out after ";
// The one plain line of a stop the account may not make (a standard account: interactive
// users may start the service but not stop it). It is no failure: the service is idle
// until a session asks for it, and another session's tray monitor may still need it.
inline constexpr const char* kServiceKeepsRunning =
    "The service keeps running: this account may not stop it.";

// The plain line of SendControlCodeIfRunning for a service that is not there to be told:
// this, the code, then kServiceNotRunningReason and the failed call's error number.
inline constexpr const char* kServiceNotRunningLine = "Control code ";
inline constexpr const char* kServiceNotRunningReason =
    " not sent: the companion service is not running (";

// The client's only way to the companion service: start and wait, stop and wait, read
// its state, send it a control code. Every operation opens the service control manager
// (to connect only) and the service with just the rights it uses, closes both before it
// returns, and on failure returns false after
// exactly one error line "<code> - <prefix><last-error text>" in the log.
class TUSBService {
public:
    TUSBService();
    // Another service name and wait bound, for tests against a real manager only.
    TUSBService(std::string serviceName, std::uint32_t waitBoundMs);
    virtual ~TUSBService() = default;
    TUSBService(const TUSBService&) = delete;
    TUSBService& operator=(const TUSBService&) = delete;

    // The control's own result (the service's status) is not used.
    bool SendControlCode(std::uint32_t aControlCode);
    // As SendControlCode, for news that only a running service needs (the session is
    // unlocked): a service that is not installed (1060) or not running (1062), as while an
    // upgrade replaces it, is no error there; one plain line says so, and the result is false.
    bool SendControlCodeIfRunning(std::uint32_t aControlCode);
    // A state outside 1..7 leaves aState unchanged and still returns true.
    bool QueryState(TServiceState& aState);
    // True exactly when the last status read says running. The wait ends when the
    // checkpoint drops, when a status query fails, or when the wait bound runs out.
    bool StartAndWait();
    // As StartAndWait, after the stop control, with stopped as the target. A manager that
    // refuses the account the right to stop (access denied) gives the plain line
    // kServiceKeepsRunning instead of an error line.
    bool StopAndWait();

    const std::string ServiceName;

private:
    std::uint32_t waitBoundMs_;
};

// The process-wide controller, created on first use.
TUSBService& USBService();
// Frees the process-wide controller at process end, if it was ever created.
void ReleaseUSBService();
bool USBServiceExists();
