#pragma once
#include <windows.h>

#include <optional>

#include "companion/CompanionServiceUnit.h"
#include "platform/AccessList.h"

// Who may send the service its control codes: administrators and SYSTEM everything they
// had; interactive and service logons may read the state but no longer send user-defined
// controls (CR), which would make SYSTEM start a window on a locked session's desktop.
inline constexpr const char* kServiceSecurityDescriptor =
    "D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)"
    "(A;;CCLCSWLORC;;;IU)(A;;CCLCSWLORC;;;SU)";

// Applies kServiceSecurityDescriptor to the named service's DACL.
std::optional<SystemFailure> RestrictServiceAccess(const char* serviceName);

// The named service's owner and DACL as the manager now holds them; nullopt (and the
// failure) when they cannot be read.
std::optional<platform::AccessList> ReadServiceAccess(const char* serviceName,
                                                      std::optional<SystemFailure>& failure);
