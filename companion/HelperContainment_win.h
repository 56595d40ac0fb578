#pragma once
#include <windows.h>

#include <memory>
#include <optional>
#include <string>

#include "companion/CompanionServiceUnit.h"
#include "platform/windows/UniqueHandle.h"

// A primary SYSTEM token for the helper in the session, made by the system's
// restricted-token call: Administrators deny-only, every privilege but change-notify
// removed, owner and default access list SYSTEM alone; the user (SYSTEM) and the
// integrity level as the service's, so that the secure desktop still admits the helper.
// Read back before it is handed out: a token that still holds more is a failure.
std::optional<SystemFailure> CreateHelperToken(DWORD sessionId,
                                               platform::windows::UniqueKernelHandle& token);
// What CreateHelperToken guarantees, for the log.
inline constexpr const char* kHelperTokenDescription =
    "Administrators deny-only, no privilege but change-notify";

// The job that holds one helper: one active process, no breakaway, killed when the
// service's handle closes (also when the service dies), ended on an unhandled exception,
// and the UI limits (other processes' handles, desktops, exiting Windows, global atoms,
// system parameters, display settings, the clipboard).
std::optional<SystemFailure> CreateHelperJob(platform::windows::UniqueKernelHandle& job);

// The process-creation attributes the system offers: no child processes, and images only
// from System32 first, never remote or of low label. Found at run time, so that the
// service still runs where they are missing; `applied` names what was set.
class HelperAttributes {
public:
    HelperAttributes();
    ~HelperAttributes();
    HelperAttributes(const HelperAttributes&) = delete;
    HelperAttributes& operator=(const HelperAttributes&) = delete;

    // nullptr when none could be set: the helper then starts without them.
    LPPROC_THREAD_ATTRIBUTE_LIST list() const { return list_; }
    const std::string& applied() const { return applied_; }

private:
    std::unique_ptr<unsigned char[]> storage_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
    DWORD childPolicy_;
    DWORD64 mitigationPolicy_;
    std::string applied_;
};
