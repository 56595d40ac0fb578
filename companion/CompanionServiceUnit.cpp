#include "companion/CompanionServiceUnit.h"

#include <algorithm>

#include "foundation/AccessCheck.h"
#include "foundation/EventReportUnit.h"
#include "foundation/FunctionsUnit.h"
#include "foundation/LogUnit.h"
#include "foundation/Paths.h"
#include "platform/Machine.h"

namespace {

constexpr std::int32_t kSessionStateLock = 0;
constexpr std::int32_t kSessionStateUnlock = 1;

std::int32_t AsLogNumber(std::uint32_t value) {
    return static_cast<std::int32_t>(value);
}

std::string HelperWhat(const std::string& parameter) {
    return parameter == kShowWarningParameter ? "warning" : "device list";
}

} // namespace

SessionLock LockStateOf(std::optional<std::int32_t> sessionFlags, bool windows7) {
    if (!sessionFlags) {
        return SessionLock::Unknown;
    }
    const std::int32_t locked = windows7 ? kSessionStateUnlock : kSessionStateLock;
    const std::int32_t unlocked = windows7 ? kSessionStateLock : kSessionStateUnlock;
    if (*sessionFlags == locked) {
        return SessionLock::Locked;
    }
    return *sessionFlags == unlocked ? SessionLock::Unlocked : SessionLock::Unknown;
}

TCompanionService::TCompanionService(HelperLauncher& launcher, std::string helperPath,
                                     bool windows7)
    : launcher_(launcher), helperPath_(std::move(helperPath)), windows7_(windows7) {}

void TCompanionService::AccessListChecked(const std::optional<platform::AccessList>& list) {
    // Fail closed: a service that others may reconfigure would run their program as
    // SYSTEM, and one that others may stop would silence another session's warning. Its
    // owner may always rewrite the list, so the owner must be Administrators.
    std::optional<std::string> reason;
    if (!list) {
        reason = "it could not be set and read back";
    } else if (list->owner != platform::Trustee::Administrators) {
        reason = "its owner is not Administrators but " +
                 (list->ownerSid.empty() ? std::string("nobody") : list->ownerSid);
    } else if (const auto holder =
                   RightsHeldByOthers(*list, kGuardedServiceRights,
                                      {{kInteractiveUsersSid, kInteractiveUserServiceRights}})) {
        reason = "not only SYSTEM and Administrators may control the service: " + *holder;
    }
    if (reason) {
        helpersRefused_ = true;
        Log->Error("The service's access list is not safe, no helper will be shown: " + *reason +
                   ".");
    }
}

void TCompanionService::SessionChanged(std::uint32_t event, std::uint32_t sessionId) {
    const auto known = std::find(lockedSessions_.begin(), lockedSessions_.end(), sessionId);
    switch (event) {
    case kSessionLockEvent:
        if (known != lockedSessions_.end()) {
            lockedSessions_.erase(known);
        }
        lockedSessions_.push_back(sessionId);
        Log->AddFmt("Session %d locked.", {AsLogNumber(sessionId)});
        break;
    case kSessionUnlockEvent:
    case kSessionLogoffEvent:
        if (known != lockedSessions_.end()) {
            lockedSessions_.erase(known);
        }
        Log->AddFmt(event == kSessionUnlockEvent ? "Session %d unlocked."
                                                 : "Session %d logged off.",
                    {AsLogNumber(sessionId)});
        // The reason for the helpers is gone, whether or not the client says so.
        EndHelpers(sessionId);
        break;
    default:
        break; // logon, connect, remote control: nothing the helpers depend on
    }
}

bool TCompanionService::Control(std::uint32_t code) {
    switch (code) {
    case kShowWarningControl:
        Log->Add("Warning screen requested.");
        ShowHelper(kShowWarningParameter);
        return true;
    case kShowDevicesControl:
        Log->Add("Deviceslist requested.");
        ShowHelper(kShowDevicesParameter);
        return true;
    case kSessionUnlockedControl:
        Log->Add("Session unlocked, ending the helpers.");
        // Only the sessions that are no longer locked: another user's locked session keeps
        // its warning.
        for (const std::uint32_t session : launcher_.HelperSessions()) {
            if (LockState(session) != SessionLock::Locked) {
                EndHelpers(session);
            }
        }
        return true;
    default:
        Log->AddFmt("Control code %d ignored.", {AsLogNumber(code)});
        return false;
    }
}

void TCompanionService::Stopping() {
    EndHelpers(std::nullopt);
}

SessionLock TCompanionService::LockState(std::uint32_t sessionId) {
    return LockStateOf(launcher_.SessionFlags(sessionId), windows7_);
}

std::optional<std::uint32_t> TCompanionService::TargetSession() {
    for (auto it = lockedSessions_.rbegin(); it != lockedSessions_.rend(); ++it) {
        if (LockState(*it) == SessionLock::Locked) {
            return *it;
        }
    }
    // The service may have started after the lock, or the system sends no notifications
    // (Wine): the console's session when the system reports it locked. A state that cannot
    // be read counts as locked only where the system cannot report one at all (before
    // Windows 7); elsewhere a failed query must not put a SYSTEM window on a session that
    // may be in use.
    const std::uint32_t console = launcher_.ActiveConsoleSessionId();
    if (console == kNoSession) {
        return std::nullopt;
    }
    const SessionLock state = LockState(console);
    if (state == SessionLock::Locked ||
        (state == SessionLock::Unknown && !launcher_.LockStateReported())) {
        return console;
    }
    return std::nullopt;
}

void TCompanionService::ShowHelper(const std::string& parameter) {
    if (helpersRefused_) {
        Log->Error("Refused: the service's access list is not safe.");
        ReportHelperRefused(parameter, "the service's access list is not safe");
        return;
    }
    const auto session = TargetSession();
    if (!session) {
        Log->Error("No locked session to show the helper in.");
        ReportHelperRefused(parameter, "no session is locked");
        return;
    }
    // One helper of each kind per session: a repeated code must not pile up SYSTEM
    // processes on the Winlogon desktop.
    if (launcher_.HelperRunning(parameter, *session)) {
        Log->AddFmt("Helper %s still shown.", {parameter});
        return;
    }
    const HelperStart started = launcher_.StartHelper(parameter, *session);
    if (started.failure) {
        LogFailure(*started.failure);
        ReportHelperRefused(parameter, "it could not be started contained: " +
                                           std::to_string(started.failure->code) + " - " +
                                           started.failure->call + " failed");
        return;
    }
    Log->AddFmt("Helper started: %s in session %d, process %d.",
                {HelperCommandLine(helperPath_, parameter), AsLogNumber(*session),
                 AsLogNumber(started.processId)});
    Log->AddFmt("Helper %d contained: %s.", {AsLogNumber(started.processId), started.protections});
    ReportToEventLog(platform::EventType::Information,
                     parameter == kShowWarningParameter ? kEventWarningShownByService
                                                        : kEventDeviceListShownByService,
                     "The service showed the " + HelperWhat(parameter) + " over locked session " +
                         std::to_string(*session) + ": process " +
                         std::to_string(started.processId) + ", contained: " + started.protections +
                         ".");
}

void TCompanionService::ReportHelperRefused(const std::string& parameter,
                                            const std::string& reason) {
    ReportToEventLog(platform::EventType::Error, kEventHelperRefused,
                     "The service did not show the " + HelperWhat(parameter) + ": " + reason + ".");
}

void TCompanionService::EndHelpers(std::optional<std::uint32_t> sessionId) {
    for (const HelperEnd& ended : launcher_.EndHelpers(sessionId)) {
        if (ended.failure) {
            LogFailure(*ended.failure);
        } else {
            Log->AddFmt("Helper %d ended.", {AsLogNumber(ended.processId)});
        }
    }
}

void TCompanionService::LogFailure(const SystemFailure& failure) {
    platform::CurrentMachine().system->SetLastError(failure.code);
    Log->Error(std::to_string(failure.code) + " - " + failure.call +
               " failed: " + GetLastErrorText());
}

std::string HelperPathBeside(const std::string& serviceExecutablePath) {
    return ExtractFilePath(serviceExecutablePath) + kHelperFileName;
}

std::string HelperCommandLine(const std::string& helperPath, const std::string& parameter) {
    return "\"" + helperPath + "\" " + parameter;
}
