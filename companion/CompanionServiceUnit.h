#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/AccessList.h"

// The codes the client sends (see service/USBServiceUnit.h for the sending side).
inline constexpr std::uint32_t kShowWarningControl = 133;
inline constexpr std::uint32_t kShowDevicesControl = 134;
inline constexpr std::uint32_t kSessionUnlockedControl = 135;

// WTS session-change events the service follows (SERVICE_CONTROL_SESSIONCHANGE).
inline constexpr std::uint32_t kSessionLogoffEvent = 6;
inline constexpr std::uint32_t kSessionLockEvent = 7;
inline constexpr std::uint32_t kSessionUnlockEvent = 8;
// What WTSGetActiveConsoleSessionId returns when no session is attached to the console.
inline constexpr std::uint32_t kNoSession = 0xFFFFFFFF;

inline constexpr const char* kServiceLogSourceName = "Driveward service";
inline constexpr const char* kHelperFileName = "Driveward.exe";
inline constexpr const char* kShowWarningParameter = "1";
inline constexpr const char* kShowDevicesParameter = "2";

// A call of the operating system that failed, with the error it left.
struct SystemFailure {
    std::string call;
    std::uint32_t code = 0;
};

struct HelperStart {
    std::optional<SystemFailure> failure;
    std::uint32_t processId = 0;
    std::string protections; // what contains the helper, for the log
};

struct HelperEnd {
    std::uint32_t processId = 0;
    std::optional<SystemFailure> failure;
};

// What the service needs from the operating system to show and end the helpers.
class HelperLauncher {
public:
    virtual ~HelperLauncher() = default;
    // Starts the helper Driveward.exe beside the service with the parameter as SYSTEM,
    // stripped of every privilege it does not need and contained, in the session on its
    // Winlogon desktop.
    virtual HelperStart StartHelper(const std::string& parameter, std::uint32_t sessionId) = 0;
    // Ends every helper this service started in the session (every one at all when
    // nullopt) that still runs, each within a bounded wait.
    virtual std::vector<HelperEnd> EndHelpers(std::optional<std::uint32_t> sessionId) = 0;
    // Whether a helper started with this parameter in the session still runs.
    virtual bool HelperRunning(const std::string& parameter, std::uint32_t sessionId) = 0;
    // The sessions in which a helper of ours still runs.
    virtual std::vector<std::uint32_t> HelperSessions() = 0;
    // The session's WTSINFOEX SessionFlags as the system gives them; nullopt when the
    // system cannot say (older systems, Wine, or a failed query).
    virtual std::optional<std::int32_t> SessionFlags(std::uint32_t sessionId) = 0;
    // Whether the system reports sessions' lock state at all (Windows 7 and later): it
    // answered the query for the service's own session when the service started. Where it
    // does, a session whose state cannot be read is not taken for a locked one.
    virtual bool LockStateReported() = 0;
    virtual std::uint32_t ActiveConsoleSessionId() = 0;
};

enum class SessionLock { Locked, Unlocked, Unknown };

// WTS_SESSIONSTATE_LOCK (0) and _UNLOCK (1); Windows 7 and Server 2008 R2 report them
// the other way round.
SessionLock LockStateOf(std::optional<std::int32_t> sessionFlags, bool windows7);

// The service rights that would let someone other than SYSTEM and Administrators make the
// service start a helper, stop it, or rewrite what it runs: start, stop, user-defined
// control, change configuration, pause and continue, change permissions, change owner,
// delete (and the generic rights that include them).
inline constexpr std::uint32_t kGuardedServiceRights = 0x0010 | 0x0020 | 0x0100 | 0x0002 | 0x0040 |
                                                       0x00040000 | 0x00080000 | 0x00010000 |
                                                       0x10000000 | 0x20000000 | 0x40000000;

// INTERACTIVE: every user at the machine, standard accounts included.
inline constexpr const char* kInteractiveUsersSid = "S-1-5-4";
// What interactive users may do to the service, all their tray monitor needs: query the
// status (4), start it (0x10) and send the user-defined codes (0x100). Of the guarded
// rights only start and the codes: the service itself chooses the session a helper goes
// to, and shows one per session and kind.
inline constexpr std::uint32_t kInteractiveUserServiceRights = 0x0004 | 0x0010 | 0x0100;

// The companion service's decisions: which session gets the helper, which helper each
// code starts, and what goes into the service's log. Not thread-safe: the Win32 side
// calls it under one lock.
class TCompanionService {
public:
    TCompanionService(HelperLauncher& launcher, std::string helperPath, bool windows7 = false);

    // The service's access list as read back after setting it (nullopt when it could not
    // be set or read). If its owner is not Administrators, or anyone besides SYSTEM and
    // Administrators may control the service beyond the interactive users' start and
    // codes, 133 and 134 are refused from then on; 135 and stop still end helpers.
    void AccessListChecked(const std::optional<platform::AccessList>& list);
    // SERVICE_CONTROL_SESSIONCHANGE: keeps the order in which sessions were locked; an
    // unlock or log-off ends that session's helpers.
    void SessionChanged(std::uint32_t event, std::uint32_t sessionId);
    // A user-defined control code; false for a code the service does not know.
    bool Control(std::uint32_t code);
    // The service stops: its helpers must not outlive it on a Winlogon desktop.
    void Stopping();

    // The session a helper may be shown in: the most recently locked one that the system
    // reports locked, else the console's when the system reports it locked, or when the
    // system cannot report lock state at all; nullopt when no session is locked.
    std::optional<std::uint32_t> TargetSession();
    const std::string& HelperPath() const { return helperPath_; }

private:
    void ShowHelper(const std::string& parameter);
    void EndHelpers(std::optional<std::uint32_t> sessionId);
    SessionLock LockState(std::uint32_t sessionId);
    static void LogFailure(const SystemFailure& failure);
    static void ReportHelperRefused(const std::string& parameter, const std::string& reason);

    HelperLauncher& launcher_;
    std::string helperPath_;
    bool windows7_;
    bool helpersRefused_ = false;
    std::vector<std::uint32_t> lockedSessions_; // oldest lock first
};

// "<folder of the service's exe>\Driveward.exe": the helper is always the sibling,
// named by full path, never searched for.
std::string HelperPathBeside(const std::string& serviceExecutablePath);

// The command line of a helper: the full path in quotes, a blank, the parameter.
std::string HelperCommandLine(const std::string& helperPath, const std::string& parameter);
