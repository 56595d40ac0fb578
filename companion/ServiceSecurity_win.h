#pragma once
#include <windows.h>

#include <optional>

#include "companion/CompanionServiceUnit.h"
#include "platform/AccessList.h"

// Who may do what to the service. Administrators: everything. SYSTEM: query status,
// start, stop, interrogate, send user-defined controls (CR) and read the access list (RC),
// nothing that changes the service: a helper runs as SYSTEM with Administrators deny-only,
// and must not be able to rewrite what the service runs. The service itself needs no
// more (it reads its own list; it sets it through its token's Administrators).
// Interactive and service logons may read the state but not send user-defined controls,
// which would make SYSTEM start a window on a locked session's desktop.
inline constexpr const char* kServiceSecurityDescriptor =
    "D:(A;;LCRPWPLOCRRC;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)"
    "(A;;CCLCSWLORC;;;IU)(A;;CCLCSWLORC;;;SU)";

// Applies kServiceSecurityDescriptor to the named service's DACL.
std::optional<SystemFailure> RestrictServiceAccess(const char* serviceName);

// The named service's owner and DACL as the manager now holds them; nullopt (and the
// failure) when they cannot be read.
std::optional<platform::AccessList> ReadServiceAccess(const char* serviceName,
                                                      std::optional<SystemFailure>& failure);
