#include "companion/CompanionServiceUnit.h"

#include <algorithm>

#include "foundation/FunctionsUnit.h"
#include "foundation/LogUnit.h"
#include "foundation/Paths.h"
#include "platform/Machine.h"

TCompanionService::TCompanionService(HelperLauncher& launcher, std::string helperPath)
    : launcher_(launcher), helperPath_(std::move(helperPath)) {}

void TCompanionService::SessionChanged(std::uint32_t event, std::uint32_t sessionId) {
    const auto known = std::find(lockedSessions_.begin(), lockedSessions_.end(), sessionId);
    switch (event) {
    case kSessionLockEvent:
        if (known != lockedSessions_.end()) {
            lockedSessions_.erase(known);
        }
        lockedSessions_.push_back(sessionId);
        Log->AddFmt("Session %d locked.", {static_cast<std::int32_t>(sessionId)});
        break;
    case kSessionUnlockEvent:
    case kSessionLogoffEvent:
        if (known != lockedSessions_.end()) {
            lockedSessions_.erase(known);
        }
        Log->AddFmt(event == kSessionUnlockEvent ? "Session %d unlocked."
                                                 : "Session %d logged off.",
                    {static_cast<std::int32_t>(sessionId)});
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
        EndHelpers();
        return true;
    default:
        Log->AddFmt("Control code %d ignored.", {static_cast<std::int32_t>(code)});
        return false;
    }
}

void TCompanionService::Stopping() {
    EndHelpers();
}

std::uint32_t TCompanionService::TargetSession() {
    if (!lockedSessions_.empty()) {
        return lockedSessions_.back();
    }
    return launcher_.ActiveConsoleSessionId();
}

void TCompanionService::ShowHelper(const std::string& parameter) {
    // One helper of each kind at a time: a repeated code must not pile up SYSTEM
    // processes on the Winlogon desktop.
    if (launcher_.HelperRunning(parameter)) {
        Log->AddFmt("Helper %s still shown.", {parameter});
        return;
    }
    const std::uint32_t session = TargetSession();
    if (session == kNoSession) {
        Log->Error("No session to show the helper in.");
        return;
    }
    const HelperStart started = launcher_.StartHelper(helperPath_, parameter, session);
    if (started.failure) {
        LogFailure(*started.failure);
        return;
    }
    Log->AddFmt("Helper started: %s in session %d, process %d.",
                {HelperCommandLine(helperPath_, parameter), static_cast<std::int32_t>(session),
                 static_cast<std::int32_t>(started.processId)});
}

void TCompanionService::EndHelpers() {
    for (const HelperEnd& ended : launcher_.EndHelpers()) {
        if (ended.failure) {
            LogFailure(*ended.failure);
        } else {
            Log->AddFmt("Helper %d ended.", {static_cast<std::int32_t>(ended.processId)});
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
