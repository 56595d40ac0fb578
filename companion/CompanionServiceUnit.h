#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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
};

struct HelperEnd {
    std::uint32_t processId = 0;
    std::optional<SystemFailure> failure;
};

// What the service needs from the operating system to show and end the helpers.
class HelperLauncher {
public:
    virtual ~HelperLauncher() = default;
    // Starts "<helperPath>" <parameter> as SYSTEM, stripped of every privilege it does
    // not need, in the session on its Winlogon desktop.
    virtual HelperStart StartHelper(const std::string& helperPath, const std::string& parameter,
                                    std::uint32_t sessionId) = 0;
    // Ends every helper this service started that still runs, each within a bounded wait.
    virtual std::vector<HelperEnd> EndHelpers() = 0;
    // Whether a helper started with this parameter still runs.
    virtual bool HelperRunning(const std::string& parameter) = 0;
    virtual std::uint32_t ActiveConsoleSessionId() = 0;
};

// The companion service's decisions: which session gets the helper, which helper each
// code starts, and what goes into the service's log. Not thread-safe: the Win32 side
// calls it under one lock.
class TCompanionService {
public:
    TCompanionService(HelperLauncher& launcher, std::string helperPath);

    // SERVICE_CONTROL_SESSIONCHANGE: keeps the order in which sessions were locked.
    void SessionChanged(std::uint32_t event, std::uint32_t sessionId);
    // A user-defined control code; false for a code the service does not know.
    bool Control(std::uint32_t code);
    // The service stops: its helpers must not outlive it on a Winlogon desktop.
    void Stopping();

    // The most recently locked session still locked, else the console's session.
    std::uint32_t TargetSession();
    const std::string& HelperPath() const { return helperPath_; }

private:
    void ShowHelper(const std::string& parameter);
    void EndHelpers();
    static void LogFailure(const SystemFailure& failure);

    HelperLauncher& launcher_;
    std::string helperPath_;
    std::vector<std::uint32_t> lockedSessions_; // oldest lock first
};

// "<folder of the service's exe>\Driveward.exe": the helper is always the sibling,
// named by full path, never searched for.
std::string HelperPathBeside(const std::string& serviceExecutablePath);

// The command line of a helper: the full path in quotes, a blank, the parameter.
std::string HelperCommandLine(const std::string& helperPath, const std::string& parameter);
