#pragma once
#include <windows.h>

#include <optional>
#include <string>

#include "companion/CompanionServiceUnit.h"
#include "platform/AccessList.h"

// Who may do what to the service. Owner: Administrators, so that no SYSTEM process (a
// helper among them) holds the owner's implicit right to change the list; OWNER RIGHTS
// reduces whatever owner there is to reading it. Administrators: everything. SYSTEM: query
// status, start, stop, interrogate, send user-defined controls (CR) and read the access
// list (RC), nothing that changes the service: a helper runs as SYSTEM with Administrators
// deny-only. The service itself needs no more (it reads its own list; it sets it through
// its token's Administrators). Interactive users, standard accounts among them: query the
// status, start it and send the user-defined codes, which is all their tray monitor needs;
// never stop it (one user's exit would silence another session's warning). Service logons
// may read the state but not send codes.
inline constexpr const char* kServiceSecurityDescriptor =
    "O:BAD:(A;;LCRPWPLOCRRC;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)(A;;RC;;;OW)"
    "(A;;LCRPCR;;;IU)(A;;CCLCSWLORC;;;SU)";

// Applies kServiceSecurityDescriptor to the named service: owner and DACL. `applied` gets
// the owner and DACL of the very descriptor handed to the manager, as text, for the log.
std::optional<SystemFailure> RestrictServiceAccess(const char* serviceName, std::string& applied);

// The named service's owner and DACL as the manager now holds them; nullopt (and the
// failure) when they cannot be read.
std::optional<platform::AccessList> ReadServiceAccess(const char* serviceName,
                                                      std::optional<SystemFailure>& failure);
